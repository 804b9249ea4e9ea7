#!/bin/sh
# qxmkdvdiso writing the image of a ~4 GB DVD-Video folder against copying the same bytes on the same
# disk, and its peak memory.
#
#   bench/discimage/run.sh [build folder] [work folder]
#
# Makes the shared ~1 GB stream once (bench/make-stream.sh) and authors a folder of four titles from it
# with qxauthor (four links to the stream, so the engine writes four sets of VOBs: ~4 GB in 1 GiB VOB
# files). Reads the folder once so both contenders start from the page cache, then alternates:
# qxmkdvdiso -o IMAGE FOLDER (which flushes its file before renaming it) and cp -r FOLDER COPY; each
# copy ends with a sync, so both times include getting the data to disk. Reports the median and the
# best of the runs, the ratios image / copy (target at most 1.2), and qxmkdvdiso's peak resident memory
# (target under 32 MB) as /usr/bin/time -v measures it. Everything it made is deleted at the end.
set -eu
build=${1:-build}
work=${2:-${TMPDIR:-/tmp}/qx-discimage-bench}
runs=${RUNS:-3}
tool="$build/bin/qxmkdvdiso"
author="$build/bin/qxauthor"
for program in "$tool" "$author"; do
    [ -x "$program" ] || { echo "build it first: cmake --build $build --target qxmkdvdiso qxauthor" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the memory figure" >&2; exit 2; }
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
src="$work/big.mpg"
"$(dirname "$0")/../make-stream.sh" "$src"
for n in 1 2 3 4; do ln -f "$src" "$work/title$n.mpg"; done
"$author" -o "$work/dvd" "$work/title1.mpg" "$work/title2.mpg" "$work/title3.mpg" "$work/title4.mpg" \
    2> "$work/author.log" || { echo "qxauthor failed:" >&2; tail -5 "$work/author.log" >&2; exit 1; }
echo "folder: $(du -m "$work/dvd/VIDEO_TS" | cut -f1) MB in $(ls "$work/dvd/VIDEO_TS" | wc -l) files"
cat "$work"/dvd/VIDEO_TS/* > /dev/null
sync # the authored folder reaches the disk before the first timed run, not during it

. "$(dirname "$0")/../lib.sh"
: > "$work/image.times"; : > "$work/copy.times"; : > "$work/rss"
i=0
while [ $i -lt "$runs" ]; do
    rm -rf "$work/image.iso" "$work/copy"; sync
    t0=$(now)
    /usr/bin/time -v -o "$work/time.log" "$tool" -o "$work/image.iso" "$work/dvd" 2> "$work/image.log" \
        || { echo "qxmkdvdiso failed:" >&2; tail -5 "$work/image.log" >&2; exit 1; }
    sync
    record_since "$t0" "$work/image.times"
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.log" >> "$work/rss"

    rm -f "$work/image.iso"; sync
    t0=$(now)
    cp -r "$work/dvd" "$work/copy"
    sync
    record_since "$t0" "$work/copy.times"
    rm -rf "$work/copy"
    i=$((i + 1))
done
rss=$(sort -n "$work/rss" | tail -1)
runs_line "image:" "$work/image.times"
runs_line "copy: " "$work/copy.times"
ratio_line image/copy "$work/image.times" "$work/copy.times" 1.2
echo "peak memory of qxmkdvdiso: $((rss / 1024)) MB ($rss kB; target < 32 MB)"
