#!/usr/bin/env bash
# Runs a command inside a Debian root made by debootstrap, in a private mount namespace: /proc,
# /sys, /dev, /dev/pts, /dev/shm and /tmp of this machine are bound into the root, and so is
# each `--bind HOST_DIR ROOT_DIR`. Every mount ends with the namespace, when the command ends or
# fails, so nothing stays mounted. The command gets a plain environment (HOME, PATH, LANG, TERM,
# CI) and each `--env NAME=VALUE`.
# Usage: scripts/in-root.sh ROOT [--bind HOST_DIR ROOT_DIR]... [--env NAME=VALUE]... -- COMMAND...
set -euo pipefail

if [ "${1:-}" != --inside ]; then
    [ "$(id -u)" -eq 0 ] || exec sudo -- "$0" "$@"
    exec unshare --mount --propagation private -- "$0" --inside "$@"
fi
shift

root=$(realpath "$1")
shift
[ -x "$root/bin/sh" ] || { echo "in-root: $root is not a Debian root" >&2; exit 1; }

for dir in proc sys dev dev/pts dev/shm tmp; do
    mkdir -p "$root/$dir"
    mount --bind "/$dir" "$root/$dir"
done
env=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8
    "TERM=${TERM:-dumb}" "CI=${CI:-}")
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
    --bind)
        mkdir -p "$root/$3"
        mount --bind "$2" "$root/$3"
        shift 3
        ;;
    --env)
        env+=("$2")
        shift 2
        ;;
    *)
        echo "in-root: unknown option $1" >&2
        exit 2
        ;;
    esac
done
shift
# The root reaches the package source through this machine's name service.
cp /etc/resolv.conf "$root/etc/resolv.conf"
exec chroot "$root" /usr/bin/env -i "${env[@]}" "$@"
