#!/bin/sh
# Authoring-scan throughput against a plain copy of the same file on the same disk, and peak memory.
#
#   bench/author-scan/run.sh [build folder] [work folder]
#
# Makes a ~1 GB DVD program stream once (a 60-second PAL piece from ffmpeg, joined 20 times with
# "-c copy" so that the timestamps run on), then, alternating, scans it into title VOBs with
# author_scan_bench and copies it with cp and with dd in 32 KB blocks (the scanner's write size).
# Each run is timed twice: until the data is in the page cache, and including a sync (data on disk).
# Reports the median of the runs and the ratio scan / copy; the target is at most 1.3.
set -eu
build=${1:-build}
work=${2:-${TMPDIR:-/tmp}/qx-author-scan-bench}
runs=${RUNS:-5}
bench="$build/bin/author_scan_bench"
[ -x "$bench" ] || { echo "build author_scan_bench first: cmake --build $build --target author_scan_bench" >&2; exit 2; }
mkdir -p "$work/out"
src="$work/big.mpg"
if [ ! -s "$src" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=440 \
        -t 60 -target pal-dvd -b:v 8000k -aspect 16:9 "$work/piece.mpg"
    i=0; : > "$work/list.txt"
    while [ $i -lt 20 ]; do echo "file 'piece.mpg'" >> "$work/list.txt"; i=$((i + 1)); done
    ffmpeg -nostdin -v error -y -f concat -safe 0 -i "$work/list.txt" -c copy -f dvd "$src"
    rm -f "$work/piece.mpg" "$work/list.txt"
fi
echo "source: $(du -m "$src" | cut -f1) MB"
cat "$src" > /dev/null # warm the page cache for every contender alike

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
clean() { rm -f "$work"/out/* "$work/copy.mpg"; sync; }

: > "$work/scan.t"; : > "$work/cp.t"; : > "$work/dd.t"
: > "$work/scan.s"; : > "$work/cp.s"; : > "$work/dd.s"
n=0
while [ $n -lt "$runs" ]; do
    clean; a=$(now); "$bench" "$src" "$work/out" > "$work/scan.log" 2>&1; b=$(now); sync; c=$(now)
    elapsed "$a" "$b" >> "$work/scan.t"; elapsed "$a" "$c" >> "$work/scan.s"
    clean; a=$(now); cp --reflink=never "$src" "$work/copy.mpg"; b=$(now); sync; c=$(now)
    elapsed "$a" "$b" >> "$work/cp.t"; elapsed "$a" "$c" >> "$work/cp.s"
    clean; a=$(now); dd if="$src" of="$work/copy.mpg" bs=32k status=none; b=$(now); sync; c=$(now)
    elapsed "$a" "$b" >> "$work/dd.t"; elapsed "$a" "$c" >> "$work/dd.s"
    n=$((n + 1))
done
tail -n 1 "$work/scan.log"
for kind in t s; do
    [ $kind = t ] && label="page cache" || label="with sync "
    scan=$(median < "$work/scan.$kind"); cp=$(median < "$work/cp.$kind"); dd=$(median < "$work/dd.$kind")
    printf '%s: scan %.2f s, cp %.2f s, dd 32k %.2f s; scan/cp %.2f, scan/dd %.2f\n' "$label" "$scan" "$cp" "$dd" \
        "$(echo "$scan / $cp" | bc -l)" "$(echo "$scan / $dd" | bc -l)"
done
clean
/usr/bin/time -v "$bench" "$src" "$work/out" 2> "$work/time.log" > /dev/null
echo "peak memory (maximum resident set size): $(grep 'Maximum resident' "$work/time.log" | awk '{print $NF}') KB"
clean
