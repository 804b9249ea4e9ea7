#!/usr/bin/env bash
# Encoder benchmark: generated RealMedia movies of four kinds of picture, plus movies whose
# difficulty changes half way (calm then busy, busy then calm) or scene by scene, converted by
# `EncoderProxy --convert` and, at the same total size, by `ffmpeg -target pal-dvd` in one pass and in
# two passes (`-pass 1`/`-pass 2`); wall time, processor time, size against the disc budget's
# estimate, and SSIM of each against the source (both scaled to the 720x576 frame the same way), for
# the whole movie and for each half.
#   bench/encoder/run.sh [build-folder] [seconds] [movie-name-regex]
#   (defaults: build, 40, all; BENCH_RUNS=3 timed runs; BENCH_TV=ntsc for 720x480 at 29.97 and
#   `-target ntsc-dvd`; BENCH_WORK=folder keeps the sources and streams there, each movie's as
#   NAME.rm, NAME.ours.vob, NAME.ffmpeg1.vob, NAME.ffmpeg2.vob)
# Targets: SSIM at least the two-pass reference's where it reaches our size (each half at least the
# one-pass figure); wall time at most the one-pass command line's; our size within +-3% of the
# estimate (399 KB of 1024 bytes per second).
# "1-pass" is our encoder made to use the encoder's one-pass rate control, as it did before the
# bits were spread by the look at the movie.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
seconds="${2:-40}"
filter="${3:-}"
encoder="$build/bin/EncoderProxy"
[ -x "$encoder" ] || { echo "no $encoder: build first" >&2; exit 2; }
work="$(mktemp -d /tmp/qx-encoder-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT
keep="${BENCH_WORK:-}"
[ -z "$keep" ] || mkdir -p "$keep"

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
  "noisy 640x480 testsrc2=size=640x480:rate=25,noise=alls=12:allf=t 1200k"
)
# Movies whose second half differs from the first: name, size, first half, second half, rate.
# "bars-fractal" is made like the calm-then-busy report's movie ("bars-fractal-report", below, is
# that movie itself), "smooth-fractal" the calm-then-busy movie of the two-pass report.
halves=(
  "bars-fractal 640x480 smptehdbars=size=640x480:rate=25 mandelbrot=size=640x480:rate=25:start_scale=1.5,noise=alls=12:allf=t 1800k"
  "smooth-fractal 640x480 testsrc2=size=640x480:rate=25 mandelbrot=size=640x480:rate=25,noise=alls=20:allf=t 1800k"
  "still-cells 640x480 color=c=gray:size=640x480:rate=25,drawbox=x=200:y=160:w=240:h=160:color=white:t=fill cellauto=size=640x480:rate=25:rule=110:random_fill_ratio=0.5:random_seed=1:scroll=1,format=yuv420p,lutyuv=y=val/3+80 1800k"
  "smooth-camera 640x480 testsrc2=size=640x480:rate=25 testsrc2=size=640x480:rate=25,noise=alls=30:allf=t 1800k"
  "cells-still 640x480 cellauto=size=640x480:rate=25:rule=110:random_fill_ratio=0.5:random_seed=1:scroll=1,format=yuv420p,lutyuv=y=val/3+80 color=c=gray:size=640x480:rate=25,drawbox=x=200:y=160:w=240:h=160:color=white:t=fill 1800k"
)

# Movies of several scenes (calm and busy in turn, changing between the places the encoder's look
# falls on): name, rate, then each scene's lavfi picture and its share of the movie.
cells="cellauto=size=640x480:rate=25:rule=110:random_fill_ratio=0.5:random_seed=1:scroll=1,format=yuv420p,lutyuv=y=val/3+80"
scenes=(
  "scenes-640x480 1800k testsrc2=size=640x480:rate=25 0.15 $cells 0.075 testsrc2=size=640x480:rate=25 0.225
   mandelbrot=size=640x480:rate=25,noise=alls=20:allf=t 0.05 smptehdbars=size=640x480:rate=25 0.15 $cells 0.125
   color=c=gray:size=640x480:rate=25 0.1 mandelbrot=size=640x480:rate=25,noise=alls=20:allf=t 0.125"
)

# The calm-then-busy report's own movie, made exactly as the report made it (whatever $seconds).
make_report_source() { # out
  ffmpeg -nostdin -loglevel quiet -y -f lavfi -i "smptehdbars=size=640x480:rate=25:d=20" \
    -f lavfi -i "mandelbrot=size=640x480:rate=25:start_scale=1.5,noise=alls=12:allf=t,trim=duration=20" \
    -f lavfi -i "sine=d=40" -filter_complex "[0:v][1:v]concat=n=2:v=1[v]" -map "[v]" -map 2:a \
    -c:v rv20 -b:v 1800k -maxrate 3000k -bufsize 400k -c:a ac3 -b:a 128k -f rm "$1"
}
make_source() { # out lavfi rate [second-half-lavfi | scene-lavfi share scene-lavfi share ...]
  if [ "$2" = report ]; then make_report_source "$1"; return; fi
  local inputs=(-f lavfi -i "$2") maps=()
  if [ $# -ge 5 ]; then
    local out="$1" rate="$3" chain="" n=0 share
    shift 3
    inputs=()
    while [ $# -ge 2 ]; do
      share=$(awk -v s="$seconds" -v f="$2" 'BEGIN {print s * f}')
      inputs+=(-f lavfi -i "$1,trim=duration=$share")
      chain+="[$n:v]"
      n=$((n + 1))
      shift 2
    done
    maps=(-filter_complex "${chain}concat=n=$n:v=1[v]" -map "[v]" -map "$n:a")
    set -- "$out" "" "$rate"
  elif [ -n "${4:-}" ]; then
    local h; h=$(awk -v s="$seconds" 'BEGIN {print s / 2}')
    inputs=(-f lavfi -i "$2,trim=duration=$h" -f lavfi -i "$4,trim=duration=$h")
    maps=(-filter_complex "[0:v][1:v]concat=n=2:v=1[v]" -map "[v]" -map 2:a)
  fi
  for q in 3 8 16 31; do
    ffmpeg -nostdin -loglevel quiet -y "${inputs[@]}" -f lavfi -i "sine=frequency=440:sample_rate=44100" "${maps[@]}" \
      -t "$seconds" -c:v rv20 -b:v "$3" -qmin "$q" -g 50 -c:a ac3 -b:a 96k "$1" && return 0
  done
  return 1
}

# "wall cpu" of each of two commands (cpu = user + system): the medians of $runs runs, taken in
# turns so that a change in the machine's load falls on both alike.
runs="${BENCH_RUNS:-3}"
tv="${BENCH_TV:-pal}"
case "$tv" in
  pal) lines=576 fps=25 ;;
  ntsc) lines=480 fps=30000/1001 ;;
  *) echo "BENCH_TV is pal or ntsc" >&2; exit 2 ;;
esac
# The command line brings a 25 fps movie to NTSC's rate by repeating pictures where its output
# rate falls, not where the fps filter the SSIM measurement applies to the source does: it gets
# the same filter first, so each of its pictures is compared with the source picture it shows.
ffconv=()
[ "$tv" = pal ] || ffconv=(-vf "fps=$fps")
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

# "whole first-half second-half" SSIM in dB of a converted stream against its source at 720x576
# (720x480 for NTSC).
quality() {
  # The middle on a picture boundary: a cut between pictures would pair each with its neighbour.
  local h; h=$(awk -v s="$3" -v r="$fps" 'BEGIN {split(r, q, "/"); f = q[1] / (q[2] ? q[2] : 1)
                                                 printf "%.4f", int(s * f / 2) / f}')
  ffmpeg -nostdin -i "$1" -i "$2" -lavfi \
    "[0:v]setpts=PTS-STARTPTS,format=yuv420p,split=3[d0][d1][d2];[1:v]setpts=PTS-STARTPTS,fps=$fps,scale=720:$lines:flags=bicubic,format=yuv420p,split=3[r0][r1][r2];[d1]trim=end=$h,setpts=PTS-STARTPTS[a1];[r1]trim=end=$h,setpts=PTS-STARTPTS[b1];[d2]trim=start=$h,setpts=PTS-STARTPTS[a2];[r2]trim=start=$h,setpts=PTS-STARTPTS[b2];[d0][r0]ssim;[a1][b1]ssim;[a2][b2]ssim" \
    -f null - 2>&1 |
    awk '/Parsed_ssim/ {n = $0; sub(/.*Parsed_ssim_/, "", n); sub(/ .*/, "", n); sub(/\].*/, "", n)
                        for (i = 1; i <= NF; i++) if ($i ~ /^All:/) {v = $(i + 1); gsub(/[()]/, "", v); db[n + 0] = v}}
         END {k = 0; for (n in db) idx[++k] = n + 0
              for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (idx[j] < idx[i]) {t = idx[i]; idx[i] = idx[j]; idx[j] = t}
              printf "%.3f %.3f %.3f\n", db[idx[1]], db[idx[2]], db[idx[3]]}'
}

# Converts with ffmpeg at picture rate $2 into $3, in one pass ($1 = 1) or two (2).
ffmpeg_at() {
  local args=(-nostdin -y -i "$src" "${ffconv[@]}" -target $tv-dvd -aspect 4:3 -b:v "$2" -b:a 192k)
  if [ "$1" = 1 ]; then
    ffmpeg "${args[@]}" "$3" >/dev/null 2>&1
  else
    ffmpeg "${args[@]}" -pass 1 -passlogfile "$work/pass" -f dvd /dev/null >/dev/null 2>&1 &&
      ffmpeg "${args[@]}" -pass 2 -passlogfile "$work/pass" "$3" >/dev/null 2>&1
  fi
}
# Brings ffmpeg's stream ($1 passes) to our size: up to three rate corrections while it misses by more
# than $2 (a fraction); the figures are the last rate's. Prints that rate.
ffmpeg_matching() {
  local v out="$work/ffmpeg$1.vob"
  v=$(awk -v s="$size" -v d="$d" 'BEGIN {printf "%d", s * 8 / d * 0.965 - 192000}')
  # ffmpeg's two-pass rate control can abort on a movie it cannot fit: the figures then say so.
  rm -f "$out"
  ffmpeg_at "$1" "$v" "$out" || { echo "$v"; return 0; }
  for _ in 1 2 3; do
    local got; got=$(stat -c %s "$out")
    awk -v a="$got" -v b="$size" -v t="$2" 'BEGIN {exit !(a / b > 1 + t || a / b < 1 - t)}' || break
    v=$(awk -v v="$v" -v a="$got" -v b="$size" -v d="$d" 'BEGIN {printf "%d", v + (b - a) * 8 / d * 0.965}')
    [ "$v" -gt 100000 ] || break
    ffmpeg_at "$1" "$v" "$out" || break
  done
  echo "$v"
}

echo "machine: $(nproc) cores; load before: $(uptime | sed 's/.*load average: //')"
printf "%-22s %-13s %-13s %-8s %-15s %-45s %-28s %-10s %s\n" movie "ours wall/cpu" "ff1 wall/cpu" "ours/est" \
  "ff1,ff2/ours" "SSIM dB whole ours/ff1/ff2/1-pass" "halves ours ff1 ff2" quantiser "sync ms"
run_movie() { # name lavfi rate [second-half-lavfi | scene-lavfi share ...]
  name="$1"
  [ -z "$filter" ] || [[ "$name" =~ $filter ]] || return 0
  src="$work/$name.rm"
  make_source "$src" "$2" "$3" "${@:4}" || { echo "$name: cannot make the source" >&2; return 0; }
  d=$("$encoder" --probe "$src" | sed -n 's/^duration=//p')
  cmd_a=("$encoder" --convert "$src" "$work/ours.vob" --tv $tv --aspect 4:3 --picture 720x$lines)
  quantiser=$(QX_ENCODER_DEBUG_RATE=1 "$encoder" --convert "$src" "$work/ours.vob" --tv $tv --aspect 4:3 \
    --picture 720x$lines 2>&1 | sed -n 's/^quantiser: \([a-z-]*\),.*/\1/p')
  size=$(stat -c %s "$work/ours.vob")
  v1=$(ffmpeg_matching 1 0.003)
  ffmpeg_matching 2 0.01 >/dev/null
  cmd_b=(ffmpeg -nostdin -y -i "$src" "${ffconv[@]}" -target $tv-dvd -aspect 4:3 -b:v "$v1" -b:a 192k "$work/ffmpeg1.vob")
  measure_pair "$work/time-ours" "$work/time-ffmpeg"
  read -r ow oc < <(wall_cpu "$work/time-ours")
  read -r fw fc < <(wall_cpu "$work/time-ffmpeg")
  QX_ENCODER_ONE_PASS=1 "$encoder" --convert "$src" "$work/before.vob" --tv $tv --aspect 4:3 --picture 720x$lines \
    >/dev/null 2>&1
  read -r os o1 o2 < <(quality "$work/ours.vob" "$src" "$d")
  read -r f1s f11 f12 < <(quality "$work/ffmpeg1.vob" "$src" "$d")
  f2s=nan f21=nan f22=nan
  [ -s "$work/ffmpeg2.vob" ] && read -r f2s f21 f22 < <(quality "$work/ffmpeg2.vob" "$src" "$d")
  read -r bs _ _ < <(quality "$work/before.vob" "$src" "$d")
  # Sync: how far the sound's first time stands from the picture's, in ms.
  sync=$(ffprobe -v error -show_entries stream=codec_type,start_time -of csv=p=0 "$work/ours.vob" |
    awk -F, '$1 == "video" {v = $2} $1 == "audio" {a = $2} END {printf "%.0f", (a - v) * 1000}')
  awk -v n="$name" -v ow="$ow" -v oc="$oc" -v fw="$fw" -v fc="$fc" -v s="$size" -v d="$d" \
    -v z1="$(stat -c %s "$work/ffmpeg1.vob")" -v z2="$(stat -c %s "$work/ffmpeg2.vob" 2>/dev/null || echo 0)" \
    -v os="$os" -v f1="$f1s" -v f2="$f2s" -v bs="$bs" -v q="$quantiser" -v sync="$sync" \
    -v halves="$o1/$o2 $f11/$f12 $f21/$f22" 'BEGIN {
    printf "%-22s %5.2f/%-7.2f %5.2f/%-7.2f %+6.1f%%  %+5.1f%%,%+5.1f%%  %6.3f/%6.3f/%6.3f/%-22.3f %-28s %-10s %s\n",
      n, ow, oc, fw, fc, (s / (d * 399 * 1024) - 1) * 100, (z1 / s - 1) * 100, (z2 / s - 1) * 100, os, f1, f2, bs,
      halves, q, sync }'
  if [ -n "$keep" ]; then
    cp "$src" "$keep/$name.rm"
    for f in ours ffmpeg1 ffmpeg2; do [ ! -s "$work/$f.vob" ] || cp "$work/$f.vob" "$keep/$name.$f.vob"; done
  fi
}
for m in "${movies[@]}"; do
  read -r kind size lavfi rate <<<"$m"
  run_movie "$kind-$size" "$lavfi" "$rate"
done
for m in "${halves[@]}"; do
  read -r kind size first second rate <<<"$m"
  run_movie "$kind-$size" "$first" "$rate" "$second"
done
run_movie "bars-fractal-report" report ""
set -f
for m in "${scenes[@]}"; do
  # shellcheck disable=SC2206 # the words of the list, no file names in them
  parts=($m)
  run_movie "${parts[0]}" "" "${parts[1]}" "${parts[@]:2}"
done
set +f
echo "load after: $(uptime | sed 's/.*load average: //')"
