#!/usr/bin/env bash
# Installs the Debian packages that building and testing need.
# Usage: scripts/setup.sh [run|test]   (default: test, which is a superset)
#
# An index that cannot be downloaded (a mirror in the middle of a sync) is only a warning: the
# update is tried once more, then the packages are installed from what the indexes hold. The one
# fatal error is a package that cannot be installed, and the message names it.
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-test}"

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive

build_pkgs=(cmake ninja-build g++ pkg-config file libpng-dev
  libx11-dev libx11-xcb-dev libxtst-dev libxext-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-ipafont-gothic dpkg-dev)
# Both Windows builds, and 64-bit Wine to run the x86-64 one on every machine; and a headless
# KWin with Xwayland, a native Wayland window and KWin's fake-input protocol for the KWin tests.
test_pkgs=(clang-format libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox x11-utils x11-xserver-utils xdotool x11-apps netpbm man-db
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine locales clang libclang-rt-14-dev
  kwin-wayland xwayland qt6-wayland plasma-wayland-protocols libwayland-dev libwayland-bin
  dbus-daemon dbus-bin)
# 32-bit Wine, only where the machine can execute i386 code at all.
wine32_pkgs=(wine32:i386)

pkgs=("${build_pkgs[@]}")
if [ "$mode" = test ]; then
  pkgs+=("${test_pkgs[@]}")
  if scripts/can-run-i386.sh; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
    fi
    pkgs+=("${wine32_pkgs[@]}")
  else
    echo "setup: this machine cannot execute 32-bit x86 programs; 32-bit Wine is left out" >&2
  fi
fi

missing() {
  local p out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]:-}"
}

update() {
  local attempt
  for attempt in 1 2; do
    if $SUDO apt-get update -qq; then
      return 0
    fi
    echo "setup: warning: apt-get update could not fetch every index (attempt $attempt of 2)" >&2
  done
  echo "setup: warning: going on with the package indexes as they are" >&2
}

read -r -a need <<<"$(missing "${pkgs[@]}")"
if [ "${#need[@]}" -gt 0 ]; then
  update
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"; then
    # Which of them cannot be installed: each one alone, so that the message names it.
    failed=()
    for p in "${need[@]}"; do
      $SUDO apt-get install -y -qq --no-install-recommends "$p" >/dev/null 2>&1 || failed+=("$p")
    done
    if [ "${#failed[@]}" -gt 0 ]; then
      echo "setup: cannot install the package(s): ${failed[*]}" >&2
      exit 1
    fi
  fi
fi

if [ "$mode" = test ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
