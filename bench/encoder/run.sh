#!/usr/bin/env bash
# Encoder benchmark: the same two-minute RealMedia movie converted by `EncoderProxy --convert`
# and by `ffmpeg -target pal-dvd` on this machine, and the converted size against the disc
# budget's 399 KB (of 1024 bytes) per second of movie.
#   bench/encoder/run.sh [build-folder]      (default: build)
# Targets: time ratio EncoderProxy / ffmpeg <= 1.1; size within +-7% of the estimate.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
encoder="$build/bin/EncoderProxy"
[ -x "$encoder" ] || { echo "no $encoder: build first" >&2; exit 2; }
work="$(mktemp -d /tmp/qx-encoder-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

seconds=120
src="$work/source.rm"
# A busy, grainy 352x288 picture with sound, as RealMedia movies of that size are.
ffmpeg -nostdin -loglevel error -y \
  -f lavfi -i "testsrc2=size=352x288:rate=25,noise=alls=12:allf=t" \
  -f lavfi -i "sine=frequency=440:sample_rate=44100" \
  -t "$seconds" -c:v rv20 -b:v 450k -c:a ac3 -b:a 96k "$src"

# Wall time and CPU time (user + system) of each; CPU time is the fairer figure on a busy machine.
TIMEFORMAT='%R %U %S'
measure() { { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{printf "%s %s\n", $1, $2 + $3}'; }
read -r ours_wall ours_cpu < <(measure "$encoder" --convert "$src" "$work/ours.vob" --tv pal --aspect 4:3)
read -r ff_wall ff_cpu < <(measure ffmpeg -nostdin -y -i "$src" -target pal-dvd "$work/ffmpeg.vob")
size=$(stat -c %s "$work/ours.vob")
duration=$("$encoder" --probe "$src" | sed -n 's/^duration=//p')
awk -v ow="$ours_wall" -v oc="$ours_cpu" -v fw="$ff_wall" -v fc="$ff_cpu" -v size="$size" -v d="$duration" 'BEGIN {
  printf "source:                   %.1f s of 352x288 RealVideo 2 + AC-3\n", d
  printf "EncoderProxy --convert:   %6.2f s wall, %6.2f s CPU\n", ow, oc
  printf "ffmpeg -target pal-dvd:   %6.2f s wall, %6.2f s CPU\n", fw, fc
  printf "time ratio:               %6.3f wall, %6.3f CPU (target <= 1.1)\n", ow / fw, oc / fc
  printf "output size:              %d bytes, %.1f KB/s\n", size, size / d / 1024
  printf "size against 399 KB/s:    %+.2f%% (target within +-7%%)\n", (size / (d * 399 * 1024) - 1) * 100
}'
