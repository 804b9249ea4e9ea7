#!/usr/bin/env bash
# Subtitle benchmark: what a 2-hour movie's subtitle file (1,500 two-line cues, as a feature film
# has) adds to the movie's conversion. The subtitle part (reading the file, drawing every cue with
# libass, coding the subpictures) is timed alone for a 2-hour movie; the conversion of a 2-minute
# movie is timed and scaled to 2 hours. Target: the subtitle part is at most 5 % of the conversion.
#   bench/subtitles/run.sh [build-folder]   (BENCH_RUNS=3 timed runs)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
runs="${BENCH_RUNS:-3}"
. "$root/bench/lib.sh"
encoder="$build/bin/EncoderProxy"
bench="$build/bin/subtitle_bench"
[ -x "$encoder" ] && [ -x "$bench" ] || { echo "build EncoderProxy and subtitle_bench first" >&2; exit 2; }
work="$(mktemp -d /tmp/qx-subtitle-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

movie_seconds=120
feature_seconds=7200
ffmpeg -v error -y -f lavfi -i "testsrc2=size=640x352:rate=25" -f lavfi -i "sine=sample_rate=44100" \
  -t "$movie_seconds" -c:v mpeg4 -q:v 4 -c:a aac "$work/Movie.mp4"
# One cue every 4.8 s, shown 3 s, two lines each.
awk -v n=1500 'function t(ms) { return sprintf("%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000) }
  BEGIN { for (i = 0; i < n; i++) { s = i * 4800 + 500; printf "%d\n%s --> %s\nLine %d of the film, said by someone\nand answered on a second line.\n\n", i + 1, t(s), t(s + 3000), i } }' \
  > "$work/Movie.en.srt"

: > "$work/convert.txt"
: > "$work/subtitles.txt"
for _ in $(seq "$runs"); do
  t=$(now)
  "$encoder" --convert "$work/Movie.mp4" "$work/out.vob" --tv pal --aspect 16:9 2> /dev/null
  record_since "$t" "$work/convert.txt"
  "$bench" "$work/Movie.mp4" "$feature_seconds" | tee -a "$work/bench.log" | awk '{ print $2 }' >> "$work/subtitles.txt"
done
runs_line "conversion of a ${movie_seconds} s movie:" "$work/convert.txt"
runs_line "subtitle part of a ${feature_seconds} s movie:" "$work/subtitles.txt"
tail -1 "$work/bench.log"
c=$(median < "$work/convert.txt"); s=$(median < "$work/subtitles.txt")
awk -v c="$c" -v s="$s" -v m="$movie_seconds" -v f="$feature_seconds" 'BEGIN {
  scaled = c * f / m
  printf "2-hour conversion (scaled): %.0f s; subtitles add %.2f %% (target <= 5 %%)\n", scaled, 100 * s / scaled }'
