#!/usr/bin/env bash
# Builds the Debian package with cpack and checks it: its control fields and dependencies (from
# the libraries the programs link), its contents (listed), that every dependency can be met on this
# system, and that it installs and removes cleanly (into a private root with its own dpkg database,
# so the test never touches the machine's own packages).
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d "${TMPDIR:-/tmp}/qx-package-XXXXXX")
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; fail "cpack"; }
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made ${#debs[@]} packages"
deb=${debs[0]}
echo "Package $(basename "$deb"):"
dpkg-deb --info "$deb" | sed -n '/^ [A-Z]/,$p'

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = qxmoviedisc ] || fail "package name"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
description=$(field Description)
[ "$(wc -l <<<"$description")" -ge 3 ] && ! grep -Eq '^ ?;' <<<"$description" && [ "$(wc -L <<<"$description")" -le 80 ] ||
  fail "description is not plain lines of at most 80 characters: $description"
depends=$(field Depends)
entries=$(sed 's/, /\n/g' <<<"$depends")
for lib in libc6 'libstdc\+\+6' libqt6core6 libqt6gui6 libqt6widgets6 'libavcodec[0-9]+' 'libavformat[0-9]+' 'libavfilter[0-9]+'; do
  grep -Eq "^$lib \(>= [^)]+\)$" <<<"$entries" || fail "Depends lacks a versioned $lib: $depends"
done

echo "Contents:"
dpkg-deb --contents "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }' | tee "$out/contents"
paths=$(sed 's/ -> .*//' "$out/contents")
while IFS= read -r p; do
  case "$p" in ./usr/*|./) ;; *) fail "$p lies outside /usr" ;; esac
  case "$p" in */test_*|*fuzz*|*bench*|*/qx_encoder_double) fail "$p is a test or benchmark program" ;; esac
done <<<"$paths"
for p in ./usr/lib/qxmoviedisc/QXMovieDisc ./usr/lib/qxmoviedisc/EncoderProxy ./usr/lib/qxmoviedisc/QXLog \
         ./usr/lib/qxmoviedisc/qxauthor ./usr/lib/qxmoviedisc/qxmoviedisc-cli ./usr/lib/qxmoviedisc/qxmkdvdiso \
         ./usr/lib/qxmoviedisc/link.ini \
         ./usr/lib/qxmoviedisc/help/overview.html ./usr/lib/qxmoviedisc/default.vob \
         ./usr/share/applications/org.example.qxmoviedisc.QXMovieDisc.desktop \
         ./usr/share/metainfo/org.example.qxmoviedisc.QXMovieDisc.metainfo.xml \
         ./usr/share/icons/hicolor/scalable/apps/org.example.qxmoviedisc.QXMovieDisc.svg \
         ./usr/share/icons/hicolor/48x48/apps/org.example.qxmoviedisc.QXMovieDisc.png \
         ./usr/share/icons/hicolor/256x256/apps/org.example.qxmoviedisc.QXMovieDisc.png \
         ./usr/share/man/man1/qxauthor.1.gz ./usr/share/man/man1/qxmoviedisc-cli.1.gz \
         ./usr/share/man/man1/qxmkdvdiso.1.gz; do
  grep -qxF "$p" <<<"$paths" || fail "$p is not in the package"
done
for p in QXMovieDisc qxmoviedisc-cli qxauthor qxmkdvdiso; do
  grep -qxF "./usr/bin/$p -> ../lib/qxmoviedisc/$p" "$out/contents" || fail "/usr/bin/$p is not a link to the program"
done
# Stripped programs: no build paths or debugging sections shipped.
mkdir "$out/x" && dpkg-deb --extract "$deb" "$out/x"
if objdump -h "$out/x/usr/lib/qxmoviedisc/EncoderProxy" | grep -q '\.debug_info'; then fail "programs are not stripped"; fi

# Every dependency can be met from this system's package lists (a simulation: nothing is installed).
apt-get -s -q -o Debug::NoLocking=1 install "$deb" >"$out/apt.log" 2>&1 || { cat "$out/apt.log"; fail "dependencies cannot be met"; }
grep -q '^Inst qxmoviedisc ' "$out/apt.log" || { cat "$out/apt.log"; fail "apt would not install the package"; }

# Install, then remove, with dpkg into a private root.
admin=$out/admin root=$out/root
mkdir -p "$admin/updates" "$admin/info" "$root"
touch "$admin/status" "$admin/available"
dpkg_private() { dpkg --admindir="$admin" --instdir="$root" --force-depends --force-not-root --force-script-chrootless "$@"; }
dpkg_private --install "$deb" >"$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg --install"; }
[ "$(dpkg-query --admindir="$admin" -W -f='${Status}' qxmoviedisc)" = "install ok installed" ] || fail "not installed"
[ -x "$root/usr/bin/qxauthor" ] || fail "installed link does not lead to the program"
"$root/usr/bin/qxauthor" --help >/dev/null || fail "installed qxauthor does not run"
dpkg_private --purge qxmoviedisc >>"$out/dpkg.log" 2>&1 || { cat "$out/dpkg.log"; fail "dpkg --purge"; }
left=$(cd "$root" && find . -mindepth 1 ! -type d)
[ -z "$left" ] || fail "files left after removal: $left"
[ -z "$(find "$root/usr/lib" -mindepth 1 2>/dev/null)" ] || fail "folders left in /usr/lib after removal"
echo "package installed and removed cleanly"
