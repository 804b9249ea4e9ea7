#!/bin/sh
# Makes the ~1 GB DVD program stream the benchmarks share, once: a 60-second PAL piece from ffmpeg,
# joined 20 times with "-c copy" so that the timestamps run on.
#
#   bench/make-stream.sh OUT
set -eu
src=$1
[ -s "$src" ] && exit 0
dir=$(dirname "$src")
mkdir -p "$dir"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=720x576:rate=25 -f lavfi -i sine=frequency=440 \
    -t 60 -target pal-dvd -b:v 8000k -aspect 16:9 "$dir/piece.mpg"
i=0; : > "$dir/list.txt"
while [ $i -lt 20 ]; do echo "file 'piece.mpg'" >> "$dir/list.txt"; i=$((i + 1)); done
ffmpeg -nostdin -v error -y -f concat -safe 0 -i "$dir/list.txt" -c copy -f dvd "$src"
rm -f "$dir/piece.mpg" "$dir/list.txt"
