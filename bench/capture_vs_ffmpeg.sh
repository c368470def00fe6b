#!/usr/bin/env bash
# The capture path (Sample Grabber -> sync -> AVI Mux -> File Writer) beside
# `ffmpeg -c copy` remuxing the same MJPG frames into AVI, in one run on the
# same disk. Prints both rates in frames per second and their ratio; the
# target is a ratio of at least 1.
#
# Usage: bench/capture_vs_ffmpeg.sh [path of ronvix_bench_capture]
# (default: build-release/bench/ronvix_bench_capture; build it with
#  cmake --preset release && cmake --build --preset release --target ronvix_bench_capture)
set -euo pipefail

bin=${1:-build-release/bench/ronvix_bench_capture}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export RONVIX_BENCH_DIR=$dir

"$bin" --benchmark_out="$dir/bench.json" --benchmark_out_format=json

# items_per_second of each benchmark, from the JSON report.
rate() {
    awk -v name="$1" '
        /"name":/ { current = $0 }
        /"items_per_second":/ && index(current, "\"" name) {
            gsub(/[^0-9.e+]/, "", $2); print $2; exit
        }' FS=: "$dir/bench.json"
}
camera_fps=$(rate BM_CaptureUnpacedCamera)
path_fps=$(rate BM_CapturePathRing)

frames=$(cat "$dir/frames.count")
best=""
for _ in 1 2 3; do
    start=$(date +%s.%N)
    ffmpeg -v error -y -f mjpeg -framerate 25 -i "$dir/frames.mjpeg" -c copy -f avi "$dir/ffmpeg.avi"
    end=$(date +%s.%N)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN {
        t = e - s; if (b == "" || t < b) print t; else print b }')
done
ffmpeg_fps=$(awk -v n="$frames" -v t="$best" 'BEGIN { printf "%.1f", n / t }')

awk -v c="$camera_fps" -v p="$path_fps" -v f="$ffmpeg_fps" -v n="$frames" 'BEGIN {
    printf "capture path, camera unpaced (draws and encodes): %10.1f frames/s\n", c
    printf "capture path, ring of camera frames:               %10.1f frames/s\n", p
    printf "ffmpeg -c copy, the same %d frames to AVI:        %10.1f frames/s\n", n, f
    printf "ratio capture path / ffmpeg:                       %10.2f\n", p / f
}'
