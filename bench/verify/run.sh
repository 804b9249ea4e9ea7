#!/bin/sh
# The read-back after a burn against the write, on a virtual writer: a 4 GB track (SIZE_MB) written
# through the burning library at the highest speed a virtual writer takes, then read back and compared
# right after (page cache) and with the image's pages dropped (from the disk). Target: the read-back
# takes at most 0.5 x the write's time.
#
#   bench/verify/run.sh [build folder] [work folder]      (SIZE_MB=4096 RUNS=3 by default)
set -eu
build=${1:-build}
work=${2:-${TMPDIR:-/tmp}/qx-verify-bench}
bench="$build/bin/verify_bench"
[ -x "$bench" ] || { echo "build it first: cmake --build $build --target verify_bench" >&2; exit 2; }
mkdir -p "$work"
chmod 700 "$work"
trap 'rm -rf "$work"' EXIT
"$bench" "$work" "${SIZE_MB:-4096}" "${RUNS:-3}"
