#!/bin/sh
# qxauthor on a ~1 GB program stream against copying the same bytes on the same disk, and its peak memory.
#
#   bench/qxauthor/run.sh [build folder] [work folder]
#
# Makes the stream once (a 60-second PAL piece from ffmpeg, joined 20 times with "-c copy" so that the
# timestamps run on), reads it once so both contenders start from the page cache, then alternates:
# qxauthor -o OUT STREAM (scan, VOB writing, navigation pack fix-up, information files) and cp STREAM.
# Each run ends with a sync, so the time includes getting the data to disk. Reports the median and the
# best of the runs (on a shared machine the best is the steadier figure), the ratios qxauthor / copy
# (target at most 1.5), qxauthor's processor time, and its peak resident memory (target under 64 MB)
# as /usr/bin/time -v measures it.
set -eu
build=${1:-build}
work=${2:-${TMPDIR:-/tmp}/qx-qxauthor-bench}
runs=${RUNS:-5}
tool="$build/bin/qxauthor"
[ -x "$tool" ] || { echo "build qxauthor first: cmake --build $build --target qxauthor" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed for the memory figure" >&2; exit 2; }
mkdir -p "$work"
src="$work/big.mpg"
"$(dirname "$0")/../make-stream.sh" "$src"
echo "source: $(du -m "$src" | cut -f1) MB"
cat "$src" > /dev/null

. "$(dirname "$0")/../lib.sh"
: > "$work/author.times"; : > "$work/copy.times"; : > "$work/rss"; : > "$work/cpu"
i=0
while [ $i -lt "$runs" ]; do
    rm -rf "$work/out" "$work/copy.mpg"; sync
    t0=$(now)
    /usr/bin/time -v -o "$work/time.log" "$tool" -o "$work/out" "$src" 2> "$work/author.log" \
        || { echo "qxauthor failed:" >&2; tail -5 "$work/author.log" >&2; exit 1; }
    sync
    record_since "$t0" "$work/author.times"
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.log" >> "$work/rss"
    awk -F': ' '/User time|System time/ { t += $2 } END { printf "%.2f\n", t }' "$work/time.log" >> "$work/cpu"

    rm -rf "$work/out"; sync
    t0=$(now)
    cp "$src" "$work/copy.mpg"
    sync
    record_since "$t0" "$work/copy.times"
    rm -f "$work/copy.mpg"
    i=$((i + 1))
done
rss=$(sort -n "$work/rss" | tail -1)
runs_line "qxauthor:" "$work/author.times"
runs_line "copy:    " "$work/copy.times"
ratio_line qxauthor/copy "$work/author.times" "$work/copy.times" 1.5
echo "processor time of qxauthor (user + system): median $(median < "$work/cpu") s"
echo "peak memory of qxauthor: $((rss / 1024)) MB ($rss kB; target < 64 MB)"
