#!/usr/bin/env bash
# Runs extension_check.py against a headless GNOME Shell with velmo's extension installed for
# the user, a native Wayland window and an X11 window. Run it as root in a mount namespace of its
# own (unshare -m, or scripts/in-root.sh for a root), since it mounts over /run/systemd and
# /run/dbus; everything it starts is stopped by process id before it returns.
# Usage: tests/gnome/headless_gnome.sh EXTENSIONS_DIR check|cost [SECONDS]
#   EXTENSIONS_DIR holds the built uuid directories (build/linux/winsys/gnome_extension).
#   VELLOMAR_GNOME_SYSTEM=1 installs them under /usr/local/share instead of the user's home.
set -euo pipefail
here=$(dirname "$(realpath "$0")")

if [ "${1:-}" = --in-session ]; then
    shift
    mode=$1 seconds=$2
    wayland=velmo-check-wayland
    gnome-shell --headless --wayland --virtual-monitor 1280x1024 --wayland-display $wayland \
        >"$HOME/shell.log" 2>&1 &
    shell=$!
    stop() { kill "$shell" 2>/dev/null; wait "$shell" 2>/dev/null || true; }
    trap stop EXIT
    for _ in $(seq 100); do
        gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
            -m org.freedesktop.DBus.Properties.Get org.gnome.Shell ShellVersion \
            >"$HOME/version" 2>/dev/null && break
        sleep 0.2
    done
    echo "shell: $(cat "$HOME/version")"
    display=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$HOME/shell.log" | head -n1)
    if [ -z "$display" ]; then
        echo "no X display in the shell's log" >&2
        cat "$HOME/shell.log" >&2
        exit 1
    fi
    export DISPLAY=$display WAYLAND_DISPLAY=$wayland
    # The test-only helper opens the shell's Eval, to place windows and read them back.
    gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
        -m org.gnome.Shell.Extensions.EnableExtension velmo-check-eval@vellomar.invalid >/dev/null
    GDK_BACKEND=wayland GSK_RENDERER=cairo gjs "$here/native_window.js" "native window" &
    native=$!
    for _ in $(seq 50); do
        XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* 2>/dev/null | head -n1 || true)
        [ -n "$XAUTHORITY" ] && break
        sleep 0.1
    done
    export XAUTHORITY
    xmessage -name x11-window -title "X11 window" "an X11 window" &
    x11=$!
    xid=
    for _ in $(seq 50); do
        # By its class: on GNOME 44 and later the frame that Mutter draws around it bears the
        # same title.
        xid=$(xwininfo -root -tree 2>/dev/null |
            sed -n 's/^ *\(0x[0-9a-f]*\) "X11 window": ("x11-window" .*/\1/p' |
            head -n1 || true)
        [ -n "$xid" ] && break
        sleep 0.2
    done
    [ -n "$xid" ] || { echo "no X11 window" >&2; xwininfo -root -tree >&2; exit 1; }
    trap 'kill $native $x11 2>/dev/null; stop' EXIT
    sleep 1
    uuid=$(cat "$HOME/uuid")
    status=0
    if [ "$mode" = check ]; then
        NATIVE_PID=$native X11_PID=$x11 EXTENSION_TYPE=$(cat "$HOME/type") \
            /usr/bin/python3 "$here/extension_check.py" check "$uuid" \
            "native window" "X11 window" "$xid" || status=$?
    else
        /usr/bin/python3 "$here/extension_check.py" cost "$uuid" "$seconds" \
            "native window" "X11 window" || status=$?
    fi
    grep -i "velmo\|JS ERROR" "$HOME/shell.log" | head -n 20 || true
    exit $status
fi

extensions=$(realpath "${1:?usage: see the head of this file}")
mode=${2:-check}
seconds=${3:-30}

# The shell then runs its own login manager instead of asking logind, and a private system bus
# answers it.
mount -t tmpfs tmpfs /run/systemd
mkdir -p /run/dbus
mount -t tmpfs tmpfs /run/dbus
system_bus=$(dbus-daemon --system --fork --print-pid)

work=$(mktemp -d /tmp/gnome-check.XXXXXX)
export HOME=$work/home XDG_RUNTIME_DIR=$work/run
mkdir -p "$HOME/.local/share/gnome-shell/extensions"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
# Where a user's own extensions live, or with VELLOMAR_GNOME_SYSTEM=1 where `cmake --install`
# puts velmo's (a tmpfs over it, in this namespace alone).
if [ "${VELLOMAR_GNOME_SYSTEM:-}" = 1 ]; then
    system=/usr/local/share/gnome-shell/extensions
    [ -d ${system%/*} ] || made_system=1  # made here, removed at the end
    mkdir -p $system
    mount -t tmpfs tmpfs $system
    cp -r "$extensions"/velmo*@vellomar.invalid $system/
    echo 1 >"$HOME/type"
else
    cp -r "$extensions"/velmo*@vellomar.invalid "$HOME/.local/share/gnome-shell/extensions/"
    echo 2 >"$HOME/type"
fi

version=$(gnome-shell --version | sed 's/[^0-9]*\([0-9]*\).*/\1/')
if [ "$version" -ge 45 ]; then
    echo velmo@vellomar.invalid >"$HOME/uuid"
    entry="import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
export default class extends Extension {
    enable() { global.context.unsafe_mode = true; }
    disable() { global.context.unsafe_mode = false; }
}"
else
    echo velmo43@vellomar.invalid >"$HOME/uuid"
    entry="function init() {
    return {
        enable() { global.context.unsafe_mode = true; },
        disable() { global.context.unsafe_mode = false; },
    };
}"
fi
helper=$HOME/.local/share/gnome-shell/extensions/velmo-check-eval@vellomar.invalid
mkdir -p "$helper"
echo "$entry" >"$helper/extension.js"
cat >"$helper/metadata.json" <<EOF
{"uuid": "velmo-check-eval@vellomar.invalid", "name": "velmo check: Eval",
 "description": "Test only", "shell-version": ["$version"]}
EOF

status=0
dbus-run-session -- "$0" --in-session "$mode" "$seconds" || status=$?
kill "$system_bus"
rm -rf "$work"
if [ -n "${made_system:-}" ]; then
    umount /usr/local/share/gnome-shell/extensions
    rmdir /usr/local/share/gnome-shell/extensions /usr/local/share/gnome-shell
fi
exit $status
