#!/usr/bin/env bash
# Runs the README's first command as a new user would: makes a minimal root of the given Debian
# release, clones this checkout into it, and starts scripts/run.sh there on a private Xvfb of
# this machine. Passes once velmo's window, named as it should be, is on that display; prints
# how long it took. The root is removed afterwards. Not part of scripts/test.sh.
# Usage: scripts/try-fresh-root.sh RELEASE    (bookworm, trixie)
set -euo pipefail
cd "$(dirname "$0")/.."

release=${1:?usage: scripts/try-fresh-root.sh RELEASE}
caption="Vellomar v1.0   made by ＱＵＸＩ"
for tool in Xvfb xwininfo xprop git; do
    command -v "$tool" >/dev/null || { echo "try-fresh-root: needs $tool (scripts/setup.sh test)" >&2; exit 1; }
done

work=$(mktemp -d /var/tmp/velmo-fresh-XXXXXX)
xvfb=
cleanup() {
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

start=$(date +%s)
scripts/root.sh "$release" "$work/root"
made=$(date +%s)
git clone -q "$PWD" "$work/root/root/vellomar"

Xvfb -displayfd 4 -screen 0 1280x1024x24 -nolisten tcp 4>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(head -n1 "$work/display")

scripts/in-root.sh "$work/root" --env "DISPLAY=$display" -- \
    sh -c 'cd /root/vellomar && exec scripts/run.sh' >"$work/run.log" 2>&1 &
run=$!
found=
while kill -0 "$run" 2>/dev/null; do
    window=$(DISPLAY=$display timeout 5 xwininfo -root -tree 2>/dev/null |
        awk '/"Vellomar v1\.0/ { print $1; exit }' || true)
    if [ -n "$window" ]; then
        found=$(DISPLAY=$display timeout 5 xprop -id "$window" -notype _NET_WM_NAME |
            sed -n 's/^_NET_WM_NAME = "\(.*\)"$/\1/p')
        break
    fi
    sleep 1
done
end=$(date +%s)
kill "$run" 2>/dev/null || true
wait "$run" 2>/dev/null || true

if [ "$found" != "$caption" ]; then
    tail -n 30 "$work/run.log" >&2
    echo "try-fresh-root: FAILED on $release: no window named \"$caption\" (found \"$found\")" >&2
    exit 1
fi
echo "try-fresh-root: $release: velmo's window \"$found\" came up on $display;" \
    "root made in $((made - start)) s, set-up, build and start in $((end - made)) s"
