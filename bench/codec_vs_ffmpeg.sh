#!/usr/bin/env bash
# The MJPEG Compressor and Decompressor on 1080p frames beside
# `ffmpeg -threads 1` and beside direct libjpeg-turbo calls, in one run.
#
# The frames: 30 of ffmpeg's testsrc2 at 1920x1080 as YUYV (studio range).
# ffmpeg encodes them to MJPEG at -q:v 3; our side encodes at the JPEG
# quality whose mean size matches ffmpeg's (reported, with both sizes).
# Decoding: ffmpeg's own JPEGs, by ffmpeg (-f null, its own 4:2:2 planes;
# and to BGRA) and by us (to YUY2, and to RGB32).
# ffmpeg's per-frame figure is marginal: CPU time (user + system) of a run
# over the frames `loops` times less the run over them once, over the
# frames between, so its start-up is left out.
#
# Usage: bench/codec_vs_ffmpeg.sh [path of ronvix_bench_codec]
set -euo pipefail

bin=${1:-build-release/bench/ronvix_bench_codec}
dir=$(mktemp -d "${RONVIX_BENCH_TMP:-/var/tmp}/ronvix-codec.XXXXXX")
trap 'rm -rf "$dir"' EXIT
frames=30
# ffmpeg's runs go over the frames this many times (the marginal figure is
# over all but one pass: more passes, less of the machine's noise).
loops=${RONVIX_BENCH_LOOPS:-10}

echo "load before: $(uptime)"
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=30 -frames:v $frames \
    -pix_fmt yuyv422 -f rawvideo "$dir/frames.yuyv"

# CPU seconds (user + system) of an ffmpeg run, from its -benchmark line.
cpu() {
    ffmpeg -hide_banner -nostats -v info -benchmark "$@" 2>&1 |
        sed -n 's/^bench: utime=\([0-9.]*\)s stime=\([0-9.]*\)s.*/\1 \2/p' | awk '{print $1 + $2}'
}
raw=(-f rawvideo -pix_fmt yuyv422 -s 1920x1080 -r 30)
enc=(-threads 1 -c:v mjpeg -q:v 3 -f mjpeg -y)
enc1=$(cpu -threads 1 "${raw[@]}" -i "$dir/frames.yuyv" "${enc[@]}" "$dir/frames.mjpeg")
enc5=$(cpu -threads 1 -stream_loop "$((loops - 1))" "${raw[@]}" -i "$dir/frames.yuyv" "${enc[@]}" "$dir/loop.mjpeg")
dec1=$(cpu -threads 1 -i "$dir/frames.mjpeg" -f null -)
dec5=$(cpu -threads 1 -stream_loop "$((loops - 1))" -i "$dir/frames.mjpeg" -f null -)
# The same decode with the picture made as ours (BGRA, one filter thread).
rgb=(-filter_threads 1 -pix_fmt bgra -f null -)
rgb1=$(cpu -threads 1 -i "$dir/frames.mjpeg" "${rgb[@]}")
rgb5=$(cpu -threads 1 -stream_loop "$((loops - 1))" -i "$dir/frames.mjpeg" "${rgb[@]}")
bytes=$(stat -c %s "$dir/frames.mjpeg")
target=$((bytes / frames))
awk -v m=$(((loops - 1) * frames)) -v a="$enc1" -v b="$enc5" -v c="$dec1" -v d="$dec5" -v e="$rgb1" -v f="$rgb5" -v t="$target" 'BEGIN {
    printf "ffmpeg -threads 1 encode YUYV->MJPEG -q:v 3: %.2f ms/frame (marginal), %d bytes/frame\n", (b - a) * 1000 / m, t
    printf "ffmpeg -threads 1 decode MJPEG:              %.2f ms/frame (marginal)\n", (d - c) * 1000 / m
    printf "ffmpeg -threads 1 decode MJPEG to BGRA:      %.2f ms/frame (marginal)\n", (f - e) * 1000 / m
}'
RONVIX_BENCH_DIR=$dir RONVIX_BENCH_TARGET_BYTES=$target "$bin" --benchmark_counters_tabular=true
echo "load after:  $(uptime)"
