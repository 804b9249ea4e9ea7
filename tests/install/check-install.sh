#!/usr/bin/env bash
# Installs the build into a staging folder, as `make install DESTDIR=STAGE PREFIX=/usr` does, and
# checks what a user's system would get: the programs and their companions in the program's folder,
# the links a user starts them by, the desktop entry, icons, AppStream metadata and manual pages.
# Then runs the installed programs through their links, far from the build folder.
set -euo pipefail
build=$(cd "$1" && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/qx-install-XXXXXX")
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build" --prefix /usr >"$stage/install.log" || { cat "$stage/install.log"; fail "install"; }
root=$stage/usr
prog=$root/lib/qxmoviedisc
app_id=org.example.qxmoviedisc.QXMovieDisc

echo "Installed tree:"
(cd "$stage" && find . -mindepth 1 \( -type f -o -type l \) | sort)

# Every program lies in the program's folder; the ones a user starts are relative links in bin/.
for p in QXMovieDisc EncoderProxy QXLog qxauthor qxmoviedisc-cli qxmkdvdiso; do
  [ -f "$prog/$p" ] && [ -x "$prog/$p" ] || fail "$p missing from lib/qxmoviedisc"
done
commands=(QXMovieDisc qxmoviedisc-cli qxauthor qxmkdvdiso)
[ "$(ls "$root/bin" | sort | tr '\n' ' ')" = "$(printf '%s\n' "${commands[@]}" | sort | tr '\n' ' ')" ] ||
  fail "bin/ holds $(ls "$root/bin" | tr '\n' ' ')"
for p in "${commands[@]}"; do
  [ -L "$root/bin/$p" ] || fail "bin/$p is not a link"
  [ "$(readlink "$root/bin/$p")" = "../lib/qxmoviedisc/$p" ] || fail "bin/$p points at $(readlink "$root/bin/$p")"
done

# Every companion file the build puts beside the programs is installed unchanged, in its subfolder.
companions=0
while IFS= read -r -d '' f; do
  rel=${f#"$build/bin/"}
  cmp -s "$f" "$prog/$rel" || fail "companion $rel not installed (or changed)"
  companions=$((companions + 1))
done < <(find "$build/bin" -type f ! -perm -u+x -print0)
for f in link.ini help/overview.html default.vob default_pal_4x3.vob default_ntsc_16x9.vob; do
  [ -s "$prog/$f" ] || fail "companion $f missing"
done
echo "$companions companion files installed"

# Desktop entry, icons and metadata, judged by the desktop's own validators.
desktop=$root/share/applications/$app_id.desktop
desktop-file-validate "$desktop" || fail "desktop entry rejected"
grep -qx 'Name=QX Movie Disc' "$desktop" || fail "desktop entry name"
grep -qx 'Exec=QXMovieDisc %F' "$desktop" || fail "desktop entry does not hand files over"
grep -qx 'MimeType=application/vnd.rn-realmedia;application/vnd.rn-realmedia-vbr;video/mp4;video/x-m4v;video/x-matroska;video/webm;video/x-msvideo;video/quicktime;video/x-ms-wmv;application/vnd.ms-asf;video/x-flv;video/mpeg;video/mp2t;video/3gpp;video/ogg;' "$desktop" || fail "MIME types"
appstreamcli validate --no-net --strict "$root/share/metainfo/$app_id.metainfo.xml" || fail "metadata rejected"
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}'; }
for size in 48 256; do
  png=$root/share/icons/hicolor/${size}x$size/apps/$app_id.png
  [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is no PNG"
  [ "$(png_size "$png")" = "${size}x$size" ] || fail "$png is $(png_size "$png")"
done
grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$app_id.svg" || fail "scalable icon"

# A manual page for every command-line program, rendered without a complaint.
for p in "${commands[@]}" EncoderProxy; do
  page=$root/share/man/man1/$p.1.gz
  [ -f "$page" ] || fail "no manual page for $p"
  text=$(zcat "$page" | LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l - 2>"$stage/man.err")
  [ ! -s "$stage/man.err" ] || { cat "$stage/man.err"; fail "manual page of $p has faults"; }
  grep -q "^ *$p " <<<"$(sed -n '/^NAME/,/^SYNOPSIS/p' <<<"$text" | sed 's/\\-/-/g')" || fail "manual page of $p names another program"
done

# The installed programs run through their links, with their own companions.
export HOME=$stage/home XDG_CONFIG_HOME=$stage/config XDG_STATE_HOME=$stage/state XDG_RUNTIME_DIR=$stage/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" && mkdir -m 0700 "$XDG_RUNTIME_DIR"
cd "$stage"
[ "$("$root/bin/QXMovieDisc" --version)" = "QX Movie Disc 0.1" ] || fail "QXMovieDisc --version"
QT_QPA_PLATFORM=offscreen "$root/bin/QXMovieDisc" -platform offscreen --help | grep -q '^usage: QXMovieDisc' ||
  fail "QXMovieDisc --help behind a Qt option"
status=0 && QT_QPA_PLATFORM=offscreen "$root/bin/QXMovieDisc" --burn-now 2>"$stage/bad.err" || status=$?
[ "$status" = 2 ] && grep -q 'unknown option --burn-now' "$stage/bad.err" || fail "QXMovieDisc took an unknown option ($status)"
"$root/bin/qxmoviedisc-cli" --demo --work "$stage/work" >"$stage/demo.log" 2>&1 || { cat "$stage/demo.log"; fail "demo job"; }
grep -q "Mission accomplished!" "$stage/demo.log" || { cat "$stage/demo.log"; fail "demo job did not finish"; }
[ -s "$stage/work/DVD Movie/VIDEO_TS/VIDEO_TS.IFO" ] && [ -s "$stage/work/DVD Movie/VIDEO_TS/VTS_01_1.VOB" ] ||
  fail "the demo wrote no DVD folder"
"$root/bin/qxauthor" -o "$stage/authored" "$prog/default.vob" >"$stage/author.log" 2>&1 || { cat "$stage/author.log"; fail "qxauthor"; }
for f in VIDEO_TS.IFO VIDEO_TS.BUP VTS_01_0.IFO VTS_01_1.VOB; do
  [ -s "$stage/authored/VIDEO_TS/$f" ] || fail "qxauthor wrote no $f"
done
"$root/bin/qxmkdvdiso" -o "$stage/authored.iso" "$stage/authored" >"$stage/iso.log" 2>&1 || { cat "$stage/iso.log"; fail "qxmkdvdiso"; }
isoinfo -l -i "$stage/authored.iso" | grep -q "VTS_01_1.VOB;1" || fail "qxmkdvdiso wrote no readable image"
echo "installed programs ran: demo job, qxauthor and qxmkdvdiso"
