#!/bin/bash
# Takes screenshots of Ronvix under a virtual X display: the splash while it
# fades in, and each page of the main window. Needs xvfb, xdotool and
# imagemagick.
# Usage: scripts/screenshots.sh [OUTPUT_DIR]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
mkdir -p "$out"
bin=./build/ronvix
[[ -x $bin ]] || { echo "build first: make build" >&2; exit 1; }

shoot() {  # shoot NAME DELAY_SECONDS TAB_TO_CLICK ARGS...
    local name=$1 delay=$2 tab=$3
    shift 3
    xvfb-run -a -s '-screen 0 1024x768x24' bash -c "
        '$bin' $* &
        pid=\$!
        sleep $delay
        if [ -n '$tab' ]; then
            # The window is centred: its tabs start at its top-left corner.
            xdotool mousemove \$(( (1024 - 700) / 2 + $tab )) \$(( (768 - 545) / 2 + 10 )) click 1
            sleep 0.5
        fi
        import -window root '$out/$name.png'
        kill \$pid" >/dev/null 2>&1
    echo "$out/$name.png"
}

sample=$(mktemp --suffix=.avi)
trap 'rm -f "$sample"' EXIT
shoot splash 0.9 ''
shoot capture 2 '' -nosplash
shoot print-to-tape 2 '' -nosplash "$sample"
shoot device-settings 2 180 -nosplash
