#!/usr/bin/env bash
# The AVI Splitter's read rate beside `ffmpeg -c copy -f null` on the same
# file in one run (ronvix_bench_splitter does both, best of three each), with
# the machine's load before and after.
#
# Usage: bench/splitter_vs_ffmpeg.sh [path of ronvix_bench_splitter] [file.avi]
set -euo pipefail

bin=${1:-build-perf-release/bench/ronvix_bench_splitter}
dir=$(mktemp -d "${RONVIX_BENCH_TMP:-/var/tmp}/ronvix-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export RONVIX_BENCH_DIR=$dir
echo "load before: $(uptime)"
if [ $# -ge 2 ]; then "$bin" "$2"; else "$bin"; fi
echo "load after:  $(uptime)"
