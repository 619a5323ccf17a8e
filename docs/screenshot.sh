#!/usr/bin/env bash
# Takes docs/window.png: the window with the demo recording open, a line selected
# between its markers and the pointer on the waveform, on a virtual X display. Builds nothing; give it the built application.
#   docs/screenshot.sh [path/to/keeptime] [output.png]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
binary=${1:-$root/build/app/keeptime}
output=${2:-$root/docs/window.png}
demo=$root/examples/demo.wav

for tool in xvfb-run xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (apt-get install xvfb xauth xdotool imagemagick)" >&2; exit 1; }
done
[ -x "$binary" ] || { echo "screenshot.sh: $binary: no such program; build it first" >&2; exit 1; }
[ -f "$demo" ] || { echo "screenshot.sh: $demo is missing" >&2; exit 1; }

# Settings of its own, so that a remembered window size or mode does not show.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The demo opened from a folder that says nothing of this machine.
mkdir -p /tmp/Recordings && cp "$demo" /tmp/Recordings/demo.wav
export KEEPTIME_BINARY=$binary KEEPTIME_DEMO=/tmp/Recordings/demo.wav KEEPTIME_SHOT=$scratch/window.png
XDG_CONFIG_HOME=$scratch QT_QPA_PLATFORM=xcb \
xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24 -dpi 96" bash -c '
    set -euo pipefail
    "$KEEPTIME_BINARY" "$KEEPTIME_DEMO" >/dev/null &
    app=$!
    trap "kill $app 2>/dev/null || true" EXIT
    window=$(timeout 20 xdotool search --sync --onlyvisible --name "demo.wav")
    window=${window%%$'\''\n'\''*}
    sleep 1
    # As a user would: a double-click on the first line selects it between its markers, a
    # click puts the playhead in it, and the pointer rests on the second line.
    xdotool mousemove --window "$window" 420 330 click --repeat 2 --delay 150 1
    sleep 0.3
    xdotool mousemove --window "$window" 470 330 click 1
    sleep 0.2
    xdotool mousemove --window "$window" 760 360
    sleep 1  # let it finish painting
    import -window "$window" "$KEEPTIME_SHOT"
'
# Few colours are enough for a window and keep the file small.
convert "$scratch/window.png" -strip -colors 128 "$output"
echo "Saved $output"
