#!/usr/bin/env bash
# Encoder benchmark: generated RealMedia movies of four kinds of picture, converted by
# `EncoderProxy --convert` and, at the same total size, by `ffmpeg -target pal-dvd`; wall time,
# processor time, size against the disc budget's estimate, and SSIM / PSNR of each against the
# source (both scaled to the 720x576 frame the same way).
#   bench/encoder/run.sh [build-folder] [seconds]     (defaults: build, 10; BENCH_RUNS=3 timed runs)
# Targets: SSIM at least ffmpeg's where ffmpeg reaches our size; wall time at most ffmpeg's;
# our size within +-3% of the estimate (399 KB of 1024 bytes per second).
# "before" is our encoder made to take the non-linear quantiser, as it did for every movie.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
seconds="${2:-10}"
encoder="$build/bin/EncoderProxy"
[ -x "$encoder" ] || { echo "no $encoder: build first" >&2; exit 2; }
work="$(mktemp -d /tmp/qx-encoder-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

# name, size, lavfi picture, RealVideo rate. RealVideo's muxer takes no packet over 64 KB, so a busy
# source is written at a coarser step until its key pictures fit.
movies=(
  "smooth 320x240 testsrc2=size=320x240:rate=25 400k"
  "fractal 320x240 mandelbrot=size=320x240:rate=25 400k"
  "cells 320x240 cellauto=size=320x240:rate=25:rule=110:random_fill_ratio=0.5:random_seed=1:scroll=1,format=yuv420p 400k"
  "camera 320x240 testsrc2=size=320x240:rate=25,noise=alls=20:allf=t 400k"
  "smooth 640x480 testsrc2=size=640x480:rate=25 1200k"
  "fractal 640x480 mandelbrot=size=640x480:rate=25 1200k"
  "cells 640x480 cellauto=size=640x480:rate=25:rule=110:random_fill_ratio=0.5:random_seed=1:scroll=1,format=yuv420p,lutyuv=y=val/3+80 1200k"
  "camera 640x480 testsrc2=size=640x480:rate=25,noise=alls=20:allf=t 1200k"
  "camera 1280x720 testsrc2=size=1280x720:rate=25,noise=alls=20:allf=t 2500k"
)

make_source() { # out lavfi rate
  for q in 3 8 16 31; do
    ffmpeg -nostdin -loglevel quiet -y -f lavfi -i "$2" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
      -t "$seconds" -c:v rv20 -b:v "$3" -qmin "$q" -g 50 -c:a ac3 -b:a 96k "$1" && return 0
  done
  return 1
}

# "wall cpu" of each of two commands (cpu = user + system): the medians of $runs runs, taken in
# turns so that a change in the machine's load falls on both alike.
runs="${BENCH_RUNS:-3}"
. "$(dirname "$0")/../lib.sh"
measure_pair() { # time-file-a time-file-b; commands in the arrays cmd_a and cmd_b
  : >"$1"
  : >"$2"
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%e %U %S" -a -o "$1" "${cmd_a[@]}" >/dev/null 2>&1
    /usr/bin/time -f "%e %U %S" -a -o "$2" "${cmd_b[@]}" >/dev/null 2>&1
  done
}
wall_cpu() { echo "$(awk '{print $1}' "$1" | median) $(awk '{print $2 + $3}' "$1" | median)"; }

# "ssim-dB psnr-dB" of a converted stream against its source at 720x576.
quality() {
  ffmpeg -nostdin -i "$1" -i "$2" -lavfi \
    "[0:v]setpts=PTS-STARTPTS,format=yuv420p,split[d1][d2];[1:v]setpts=PTS-STARTPTS,fps=25,scale=720:576:flags=bicubic,format=yuv420p,split[r1][r2];[d1][r1]ssim;[d2][r2]psnr" \
    -f null - 2>&1 |
    awk '/Parsed_ssim/ {for (i = 1; i <= NF; i++) if ($i ~ /^All:/) db = $(i + 1)}
         /Parsed_psnr/ {for (i = 1; i <= NF; i++) if ($i ~ /^average:/) {split($i, a, ":"); p = a[2]}}
         END {gsub(/[()]/, "", db); printf "%.3f %.2f\n", db, p}'
}

echo "machine: $(nproc) cores; load before: $(uptime | sed 's/.*load average: //')"
printf "%-16s %-13s %-13s %-9s %-8s %-27s %-13s %s\n" movie "ours wall/cpu" "ffmpeg w/cpu" "ours/est" "ff/ours" \
  "SSIM dB ours/ff/non-linear" "PSNR ours/ff" quantiser
for m in "${movies[@]}"; do
  read -r kind size lavfi rate <<<"$m"
  name="$kind-$size"
  src="$work/$name.rm"
  make_source "$src" "$lavfi" "$rate" || { echo "$name: cannot make the source" >&2; continue; }
  d=$("$encoder" --probe "$src" | sed -n 's/^duration=//p')
  cmd_a=("$encoder" --convert "$src" "$work/ours.vob" --tv pal --aspect 4:3 --picture 720x576)
  quantiser=$(QX_ENCODER_DEBUG_RATE=1 "$encoder" --convert "$src" "$work/ours.vob" --tv pal --aspect 4:3 \
    --picture 720x576 2>&1 | sed -n 's/^quantiser: \([a-z-]*\),.*/\1/p')
  size=$(stat -c %s "$work/ours.vob")
  # ffmpeg's picture rate for our total size: what is left after the sound and the packing.
  vrate=$(awk -v s="$size" -v d="$d" 'BEGIN {printf "%d", s * 8 / d * 0.965 - 192000}')
  ff() { ffargs=(ffmpeg -nostdin -y -i "$src" -target pal-dvd -aspect 4:3 -b:v "$vrate" -b:a 192k "$work/ffmpeg.vob"); }
  ff && "${ffargs[@]}" >/dev/null 2>&1
  ffsize=$(stat -c %s "$work/ffmpeg.vob")
  # One correction where ffmpeg missed our size by more than 0.3 %; the figures are the second rate's.
  if awk -v a="$ffsize" -v b="$size" 'BEGIN {exit !(a / b > 1.003 || a / b < 0.997)}'; then
    vrate=$(awk -v v="$vrate" -v a="$ffsize" -v b="$size" -v d="$d" 'BEGIN {printf "%d", v + (b - a) * 8 / d * 0.965}')
    ff && "${ffargs[@]}" >/dev/null 2>&1
    ffsize=$(stat -c %s "$work/ffmpeg.vob")
  fi
  cmd_b=("${ffargs[@]}")
  measure_pair "$work/time-ours" "$work/time-ffmpeg"
  read -r ow oc < <(wall_cpu "$work/time-ours")
  read -r fw fc < <(wall_cpu "$work/time-ffmpeg")
  QX_ENCODER_QUANTISER=non-linear "$encoder" --convert "$src" "$work/before.vob" --tv pal --aspect 4:3 \
    --picture 720x576 >/dev/null 2>&1
  read -r os op < <(quality "$work/ours.vob" "$src")
  read -r fs fp < <(quality "$work/ffmpeg.vob" "$src")
  read -r bs _ < <(quality "$work/before.vob" "$src")
  awk -v n="$name" -v ow="$ow" -v oc="$oc" -v fw="$fw" -v fc="$fc" -v s="$size" -v fs2="$ffsize" -v d="$d" \
    -v os="$os" -v fs="$fs" -v bs="$bs" -v op="$op" -v fp="$fp" -v q="$quantiser" 'BEGIN {
    printf "%-16s %5.2f/%-7.2f %5.2f/%-7.2f %+6.1f%%   %+6.1f%%  %6.3f/%6.3f/%-7.3f %5.2f/%-7.2f %s\n",
      n, ow, oc, fw, fc, (s / (d * 399 * 1024) - 1) * 100, (fs2 / s - 1) * 100, os, fs, bs, op, fp, q }'
done
echo "load after: $(uptime | sed 's/.*load average: //')"
