#!/usr/bin/env bash
# Installs the Debian packages that building and testing need.
# Usage: scripts/setup.sh [run|test]   (default: test, which is a superset)
set -euo pipefail

mode="${1:-test}"

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive

build_pkgs=(cmake ninja-build g++ pkg-config file libpng-dev
  libx11-dev libx11-xcb-dev libxtst-dev libxext-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-ipafont-gothic dpkg-dev)
test_pkgs=(clang-format libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox x11-utils x11-xserver-utils xdotool x11-apps netpbm man-db
  g++-mingw-w64-i686 binutils-mingw-w64-i686 locales clang libclang-rt-14-dev)
wine_pkgs=(wine wine32:i386 fonts-wine)

pkgs=("${build_pkgs[@]}")
if [ "$mode" = test ]; then pkgs+=("${test_pkgs[@]}"); fi

missing() {
  local p out=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || out+=("$p")
  done
  echo "${out[@]:-}"
}

need=$(missing "${pkgs[@]}")
if [ "$mode" = test ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    need="$need ${wine_pkgs[*]}"
  else
    need="$need $(missing "${wine_pkgs[@]}")"
  fi
fi

if [ -n "${need// /}" ]; then
  $SUDO apt-get update -qq
  # shellcheck disable=SC2086
  $SUDO apt-get install -y -qq --no-install-recommends $need
fi

if [ "$mode" = test ] && ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  $SUDO sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
