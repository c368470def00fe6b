#!/usr/bin/env bash
# Live capture of the test camera and tone at 25 fps with preview, on the
# capture page's graph, for 60 s (or $2): CPU per captured frame (the
# camera's own picture making shown apart), dropped frames, peak memory.
# Targets: under 10 % of one core, no dropped frame.
#
# The preview window needs a Qt platform: offscreen by default; set
# RONVIX_BENCH_X11=1 to run under xvfb-run (the X11 platform) instead.
#
# With a third argument, mjpg or yuyv, the camera is an HD device replaying
# 1920x1080 frames of ffmpeg's testsrc2 at 30 fps: JPEGs of about 110 KB
# (-q:v 3), or raw YUYV that the capture compresses to MJPG. Targets: 7 %
# (MJPG) and 15 % (YUYV) of one core, no dropped frame, the preview painting
# at least 95 % of the frames. A fourth argument gives another size:
# 3840x2160 replays Ultra HD frames (JPEGs of about 400 KB); target there
# for MJPG: the program's own part above the floors at most 1 % of one
# core, no dropped frame, every frame painted.
#
# With a third argument ffv1, the test camera delivers its 720x576 YUY2
# format and the capture keeps it losslessly (FFV1) instead of compressing
# it to MJPG; uncompressed keeps the frames as they come. Target: no
# dropped frame (the CPU figure is what the lossless coding costs).
#
# Usage: bench/live_capture.sh [path of ronvix_bench_live] [seconds]
#        [mjpg|yuyv|ffv1|uncompressed] [WxH of the replayed frames]
set -euo pipefail

bin=${1:-build-perf-release/bench/ronvix_bench_live}
seconds=${2:-60}
kind=${3:-}
size=${4:-1920x1080}
dir=$(mktemp -d "${RONVIX_BENCH_TMP:-/var/tmp}/ronvix-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME=$dir/config RONVIX_DRIVE_C=$dir/c
mkdir -p "$XDG_CONFIG_HOME" "$RONVIX_DRIVE_C"
replay=()
if [ "$kind" = ffv1 ] || [ "$kind" = uncompressed ]; then
    export RONVIX_BENCH_COMPRESSION=$kind
elif [ -n "$kind" ]; then
    src=(-v error -f lavfi -i testsrc2=size=$size:rate=30 -frames:v 60)
    if [ "$kind" = yuyv ]; then
        ffmpeg "${src[@]}" -pix_fmt yuyv422 -f rawvideo "$dir/replay.yuyv"
    else
        ffmpeg "${src[@]}" -pix_fmt yuvj422p -c:v mjpeg -q:v 3 -f mjpeg "$dir/replay.$kind"
    fi
    replay=("$kind" "$dir/replay.$kind" "$size")
fi

echo "load before: $(uptime)"
if [ "${RONVIX_BENCH_X11:-0}" = 1 ]; then
    env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb xvfb-run -a "$bin" "$seconds" "$dir/live.avi" "${replay[@]}"
else
    QT_QPA_PLATFORM=offscreen "$bin" "$seconds" "$dir/live.avi" "${replay[@]}"
fi 2> >(grep -v -e XDG_RUNTIME_DIR -e 'does not support' >&2)
echo "load after:  $(uptime)"
