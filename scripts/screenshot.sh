#!/usr/bin/env bash
# Makes docs/screenshot.png: velmo under a private Xvfb with openbox at 96 dpi, the pointer
# resting on another window whose title Escape has just taken into the edit box.
# Builds velmo first if needed; needs the test packages of scripts/setup.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -x build/linux/mainwindow/qt/velmo ]; then
    cmake --preset linux >/dev/null
    cmake --build --preset linux --target velmo -j2
fi

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number to fd 3.
displayfd=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x640x24 -dpi 96 -nolisten tcp -noreset 3>"$displayfd" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$displayfd" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$displayfd")"
rm -f "$displayfd"
xprop -root -f RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t96')"
export LANG=C.UTF-8

openbox --sm-disable 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
sleep 0.5

xmessage -geometry 360x120+560+260 -title "メモ帳 - 買い物 <b>&amp;</b> 予定.txt" \
    "A window of another program" 2>/dev/null &
pids+=($!)
sleep 1
build/linux/mainwindow/qt/velmo 2>/dev/null &
pids+=($!)
form=$(xdotool search --sync --pid "${pids[-1]}" --name Vellomar | head -n1)
sleep 0.5

xdotool mousemove 740 340
sleep 0.5
xdotool key Escape
sleep 0.3

# The window manager's frame is the ancestor of Form1 just below the root.
frame=$form
root=$(xwininfo -root | awk '/Window id:/ {print $4}')
while true; do
    parent=$(xwininfo -children -id "$frame" | awk '/Parent window id:/ {print $4}')
    [ "$parent" = "$root" ] && break
    frame=$parent
done
xwd -silent -id "$frame" | xwdtopnm 2>/dev/null | pnmtopng -compression 9 >docs/screenshot.png
echo "wrote docs/screenshot.png"
