#!/usr/bin/env bash
# The capture path (Sample Grabber -> sync -> AVI Mux -> File Writer) beside
# `ffmpeg -c copy` remuxing the same MJPG frames into AVI, in one run on the
# same disk. Prints both rates in frames per second and their ratio; the
# target is a ratio of at least 1.
#
# ffmpeg is timed as a whole process (start, probing, remux, close), as the
# capture path's figure includes building its graph and finishing the file.
# The marginal rates are printed too, for both: the time for all frames
# minus the time for the first 200, so that neither's start-up (ffmpeg's
# process start and probing, the graph's building and the file's finishing)
# counts for it or against it.
#
# The capture path syncs its file once a second (so a crash loses at most
# that); ffmpeg never syncs. RONVIX_BENCH_NOSYNC=1 runs ours without the
# periodic sync too, for the same syncing on both sides.
#
# Usage: bench/capture_vs_ffmpeg.sh [path of ronvix_bench_capture]
# (default: build-perf-release/bench/ronvix_bench_capture; build it with
#  cmake -B build-perf-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRONVIX_BUILD_BENCH=ON
#  && cmake --build build-perf-release --target ronvix_bench_capture)
set -euo pipefail

bin=${1:-build-perf-release/bench/ronvix_bench_capture}
dir=$(mktemp -d "${RONVIX_BENCH_TMP:-/var/tmp}/ronvix-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export RONVIX_BENCH_DIR=$dir

echo "load before: $(uptime)"
echo "periodic sync: $([ "${RONVIX_BENCH_NOSYNC:-0}" = 1 ] && echo off || echo on)"
# Three runs, as ffmpeg gets three; each rate is the best of them. The
# first run's camera frames are the ring and ffmpeg's input.
for run in 1 2 3; do
    "$bin" --benchmark_out="$dir/bench$run.json" --benchmark_out_format=json >/dev/null
done

# The best items_per_second of benchmark `$1` (its full name up to the
# next "/") over the runs' JSON reports.
rate() {
    cat "$dir"/bench?.json | awk -v name="$1/" '
        /"name":/ { current = $0 }
        /"items_per_second":/ && index(current, "\"" name) {
            gsub(/[^0-9.e+]/, "", $2); if ($2 + 0 > best) best = $2 + 0
        }
        END { print best }' FS=:
}
camera_fps=$(rate BM_CaptureUnpacedCamera)
path_fps=$(rate BM_CapturePathRing/2000)
path_head_fps=$(rate BM_CapturePathRing/200)

frames=$(cat "$dir/frames.count")
head_frames=200
ffmpeg -v error -y -f mjpeg -i "$dir/frames.mjpeg" -frames:v $head_frames -c copy -f mjpeg \
    "$dir/head.mjpeg"

# Best of three wall times of one ffmpeg remux of `$1` into AVI.
best_time() {
    local best=""
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        ffmpeg -v error -y -f mjpeg -framerate 25 -i "$1" -c copy -f avi "$dir/ffmpeg.avi"
        end=$(date +%s.%N)
        best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN {
            t = e - s; if (b == "" || t < b) print t; else print b }')
    done
    echo "$best"
}
all=$(best_time "$dir/frames.mjpeg")
head=$(best_time "$dir/head.mjpeg")
echo "load after:  $(uptime)"

awk -v c="$camera_fps" -v p="$path_fps" -v ph="$path_head_fps" -v n="$frames" -v h="$head_frames" \
    -v ta="$all" -v th="$head" 'BEGIN {
    f = n / ta; m = (n - h) / (ta - th); pm = (n - h) / (n / p - h / ph)
    printf "capture path, camera unpaced (draws and encodes): %10.1f frames/s\n", c
    printf "capture path, ring of camera frames:               %10.1f frames/s\n", p
    printf "ffmpeg -c copy, the same %d frames to AVI:        %10.1f frames/s\n", n, f
    printf "capture path, marginal (start-up left out):        %10.1f frames/s\n", pm
    printf "ffmpeg -c copy, marginal (start-up left out):      %10.1f frames/s\n", m
    printf "ratio capture path / ffmpeg:                       %10.2f\n", p / f
    printf "ratio, marginal rates:                             %10.2f\n", pm / m
}'
