#!/bin/bash
# Takes the screenshots of the user guide under a virtual X display: the
# splash, each page of the main window, a device's property pages, a preview,
# a capture in progress with its running statistics, and Print to Tape
# playing that capture out to the Virtual Tape Deck.
#
# Usage: scripts/screenshots.sh [OUTPUT_DIR]     (default: build/screenshots)
# The program is $RONVIX_BIN, else $RONVIX_BUILD_DIR/ronvix (default build/).
# Needs Xvfb, xdotool and ImageMagick's import (make screenshots installs
# them). Runs with settings, videos and tape folders of its own, in a
# temporary folder: your own settings and files are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
bin=${RONVIX_BIN:-${RONVIX_BUILD_DIR:-build}/ronvix}
[[ -x $bin ]] || { echo "screenshots: $bin not found; build first (make build)" >&2; exit 1; }
for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || {
        echo "screenshots: $tool is missing (Debian packages xvfb, xdotool, imagemagick)" >&2
        exit 1
    }
done
mkdir -p "$out"
bin=$(realpath "$bin")

tmp=$(mktemp -d)
xvfb_pid='' app_pid=''
cleanup() {
    [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

# A private display; Xvfb names a free display number itself.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s $tmp/display ]] && break; sleep 0.1; done
[[ -s $tmp/display ]] || { echo "screenshots: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(cat "$tmp/display")
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

# Settings that choose the built-in devices, as a user would on the Device
# settings page, so that every control is loaded and the pictures look the
# same on every machine. Real devices are listed before the built-in ones:
# ronvix-capture --list gives the positions (0 when it is not built).
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_RUNTIME_DIR=$tmp/run
export RONVIX_DRIVE_C=$tmp/home/Videos RONVIX_TAPE_DIR=$tmp/home/Videos/Tape
mkdir -p "$XDG_CONFIG_HOME/ronvix" "$XDG_RUNTIME_DIR" "$RONVIX_DRIVE_C"
chmod 700 "$XDG_RUNTIME_DIR"
tool=$(dirname "$bin")/ronvix-capture
if [[ -x $tool ]]; then
    "$tool" --list >"$tmp/devices.txt"
else
    : >"$tmp/devices.txt"
fi
position() {  # position CATEGORY_TITLE DEVICE_NAME
    awk -v cat="$1:" -v dev="$2" '
        /^[^ ]/ { in_cat = ($0 == cat) }
        in_cat && $0 ~ /^  [0-9]+  / {
            n = $1; sub(/^  [0-9]+  /, "")
            if ($0 == dev) { print n; found = 1; exit }
        }
        END { if (!found) print 0 }' "$tmp/devices.txt"
}
cat >"$XDG_CONFIG_HOME/ronvix/ZELK.ini" <<EOF
[TMainForm]
VideoCapFilters_ItemIndex=$(position "Video capture devices" "Test Pattern Camera")
VideoFormats_ItemIndex=0
AudioCapFilters_ItemIndex=$(position "Audio capture devices" "Test Tone Generator")
AudioFormats_ItemIndex=0
VideoOutFilters_ItemIndex=$(position "Video output devices" "Virtual Tape Deck")
AudioDestFilters_ItemIndex=$(position "Audio output devices" "Silent Audio Output")
ComboBox1_ItemIndex=2
EOF

start() {  # start ARGS...: the program, in the background
    "$bin" "$@" >>"$tmp/ronvix.log" 2>&1 &
    app_pid=$!
}
stop() {
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=''
}
window() {  # window NAME WIDTH: the id of the visible window so named and that wide
    local id
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            if xdotool getwindowgeometry "$id" | grep -q "Geometry: $2x"; then
                echo "$id"
                return
            fi
        done
        sleep 0.1
    done
    echo "screenshots: no window \"$1\" appeared" >&2
    cat "$tmp/ronvix.log" >&2
    exit 1
}
geometry() {  # geometry ID: "X Y W H"
    xdotool getwindowgeometry --shell "$1" | awk -F= '
        $1 == "X" { x = $2 } $1 == "Y" { y = $2 }
        $1 == "WIDTH" { w = $2 } $1 == "HEIGHT" { h = $2 }
        END { print x, y, w, h }'
}
shot() {  # shot NAME X Y W H: that part of the screen
    import -window root -crop "$4x$5+$2+$3" +repage "$out/$1.png"
    echo "$out/$1.png"
}
shot_window() {  # shot_window NAME ID
    local g
    g=($(geometry "$2"))
    shot "$1" "${g[@]}"
}

# The splash: 400 x 100, centred, shown for two seconds after its fade-in.
start
sleep 1.2
shot splash $(((1024 - 400) / 2 - 10)) $(((768 - 100) / 2 - 10)) 420 120
stop

start -nosplash
main=$(window Ronvix 700)
read -r wx wy ww wh < <(geometry "$main")
sleep 2  # the show sequence loads the devices
click() {  # click X Y: a point of the window
    xdotool mousemove $((wx + $1)) $((wy + $2)) click 1
    sleep 0.7
}
page() {  # page X Y: a point of the page under the tabs
    click $((2 + $1)) $((25 + $2))
}
tab() {  # tab capture|tape|devices
    case $1 in
        capture) click 30 12 ;;
        tape) click 100 12 ;;
        devices) click 187 12 ;;
    esac
}

shot capture "$wx" "$wy" "$ww" "$wh"

tab devices
shot device-settings "$wx" "$wy" "$ww" "$wh"
page 629 33  # Properties of the video capture device
pages=$(window VideoSourceFilter '[0-9]*')
sleep 0.5
shot_window device-properties "$pages"
xdotool windowfocus "$pages" key Escape
sleep 0.5
if xdotool search --onlyvisible --name '^VideoSourceFilter$' >/dev/null 2>&1; then
    echo "screenshots: the property pages did not close" >&2
    exit 1
fi

tab capture
page 20 108  # Preview
sleep 2
shot preview "$wx" "$wy" "$ww" "$wh"
page 50 135  # Start
sleep 5
shot capture-running "$wx" "$wy" "$ww" "$wh"
page 50 167  # Stop
page 20 108  # Preview off

tab tape
shot print-to-tape "$wx" "$wy" "$ww" "$wh"
page 374 364  # Play: the capture just made, c:\capture.avi
sleep 3
shot print-to-tape-playing "$wx" "$wy" "$ww" "$wh"
page 496 364  # Stop
stop
