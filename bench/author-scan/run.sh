#!/bin/sh
# Authoring-scan throughput against a plain copy of the same file on the same disk, and peak memory.
#
#   bench/author-scan/run.sh [build folder] [work folder]
#
# Makes a ~1 GB DVD program stream once (a 60-second PAL piece from ffmpeg, joined 20 times with
# "-c copy" so that the timestamps run on), then, alternating, scans it into title VOBs with
# author_scan_bench and copies it with cp and with dd in 32 KB blocks (the scanner's write size).
# Each run is timed until the data is in the page cache, by its CPU time, and including a sync (data
# on disk). Reports the medians of the runs and the ratio scan / copy; the target is at most 1.3.
set -eu
build=${1:-build}
work=${2:-${TMPDIR:-/tmp}/qx-author-scan-bench}
runs=${RUNS:-5}
bench="$build/bin/author_scan_bench"
[ -x "$bench" ] || { echo "build author_scan_bench first: cmake --build $build --target author_scan_bench" >&2; exit 2; }
mkdir -p "$work/out"
src="$work/big.mpg"
"$(dirname "$0")/../make-stream.sh" "$src"
echo "source: $(du -m "$src" | cut -f1) MB"
cat "$src" > /dev/null # warm the page cache for every contender alike

. "$(dirname "$0")/../lib.sh"
elapsed() { echo "$2 - $1" | bc; }
# Removing a 1 GB file keeps the kernel busy for a moment: let it settle before the next run.
clean() { rm -f "$work"/out/* "$work/copy.mpg"; sync; sleep 2; }

: > "$work/results"
# One timed run: wall time until the data is in the page cache, CPU time (user + system), and wall time
# including a sync, i.e. until the data is on the disk.
timed() {
    name=$1; shift
    clean
    a=$(now)
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@"
    sync
    c=$(now)
    read -r wall user sys < "$work/time.txt"
    echo "$name $wall $(echo "$user + $sys" | bc) $(elapsed "$a" "$c")" >> "$work/results"
}
n=0
scan() { timed scan "$bench" "$src" "$work/out" > "$work/scan.log" 2>&1; }
copy() { timed cp cp --reflink=never "$src" "$work/copy.mpg"; }
blocks() { timed dd dd if="$src" of="$work/copy.mpg" bs=32k status=none; }
while [ $n -lt "$runs" ]; do
    # The order rotates so that no contender always runs first after the previous round.
    case $((n % 3)) in
    0) scan; copy; blocks ;;
    1) copy; blocks; scan ;;
    2) blocks; scan; copy ;;
    esac
    n=$((n + 1))
done
tail -n 1 "$work/scan.log"
pick() { awk -v name="$1" -v col="$2" '$1 == name {print $col}' "$work/results" | median; }
for col in 2 3 4; do
    case $col in 2) label="page cache";; 3) label="cpu time  ";; 4) label="with sync ";; esac
    scan=$(pick scan $col); cp=$(pick cp $col); dd=$(pick dd $col)
    printf '%s: scan %.2f s, cp %.2f s, dd 32k %.2f s; scan/cp %.2f, scan/dd %.2f\n' "$label" "$scan" "$cp" "$dd" \
        "$(echo "$scan / $cp" | bc -l)" "$(echo "$scan / $dd" | bc -l)"
done
clean
/usr/bin/time -v "$bench" "$src" "$work/out" 2> "$work/time.log" > /dev/null
echo "peak memory (maximum resident set size): $(grep 'Maximum resident' "$work/time.log" | awk '{print $NF}') KB"
clean
