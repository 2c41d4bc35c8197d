#!/usr/bin/env bash
# Makes a minimal Debian root of the given release with debootstrap, from the package source
# this machine itself uses.
# Usage: scripts/root.sh RELEASE DIR               a new root in DIR (which must not exist)
#        scripts/root.sh --cached RELEASE MODE      prints the path of a root that holds the
#                                                   packages of `scripts/setup.sh MODE`
# The cached root lives in $VELLOMAR_ROOTS (default /var/cache/vellomar), outside any clone, so
# that every clone shares it. It is made again when its list of packages changes.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi

# The machine's own source of Debian's main archive.
mirror() {
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' |
        awk -v suite="$codename" '$2 == suite && $3 == "main" { print $1; found = 1; exit }
                                  END { if (!found) print "http://deb.debian.org/debian/" }'
}

make_root() {
    local release=$1 dir=$2 log
    if ! command -v debootstrap >/dev/null; then
        $SUDO apt-get update -qq || echo "root: warning: apt-get update could not fetch every index" >&2
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            debootstrap >/dev/null
    fi
    echo "root: making a Debian $release root in $dir from $(mirror)" >&2
    $SUDO mkdir -p "$(dirname "$dir")"
    log=$(mktemp)
    if ! $SUDO debootstrap --variant=minbase "$release" "$dir" "$(mirror)" >"$log" 2>&1; then
        tail -n 20 "$log" >&2
        echo "root: debootstrap of $release into $dir failed" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}

if [ "${1:-}" != --cached ]; then
    make_root "${1:?usage: see the head of scripts/root.sh}" "${2:?usage: see the head of scripts/root.sh}"
    exit
fi

release=${2:?usage: see the head of scripts/root.sh}
mode=${3:?usage: see the head of scripts/root.sh}
dir=${VELLOMAR_ROOTS:-/var/cache/vellomar}/$release-$mode
# What the root must hold; a root made for another list is made again.
want=$({ mirror; scripts/setup.sh list "$mode" "$release"; } | sort)
if [ -f "$dir/.vellomar-packages" ] && [ "$(cat "$dir/.vellomar-packages")" = "$want" ]; then
    echo "$dir"
    exit 0
fi

start=$(date +%s)
$SUDO rm -rf "$dir" "$dir.new"
make_root "$release" "$dir.new"
# Services are never started inside the root.
printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$dir.new/usr/sbin/policy-rc.d" >/dev/null
$SUDO chmod +x "$dir.new/usr/sbin/policy-rc.d"
scripts/in-root.sh "$dir.new" --bind "$PWD/scripts" /setup/scripts -- \
    /setup/scripts/setup.sh "$mode" >&2
scripts/in-root.sh "$dir.new" -- apt-get clean
echo "$want" | $SUDO tee "$dir.new/.vellomar-packages" >/dev/null
$SUDO mv "$dir.new" "$dir"
echo "root: the Debian $release root for '$mode' is ready in $dir ($(($(date +%s) - start)) s," \
    "$($SUDO du -sh "$dir" | cut -f1))" >&2
echo "$dir"
