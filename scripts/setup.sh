#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, on Debian 12 (bookworm) and
# Debian 13 (trixie), choosing the names that differ by release.
# Usage: scripts/setup.sh [run|linux-test|test]   (default: test)
#        scripts/setup.sh list MODE [RELEASE]       (prints the packages of MODE, one a line)
#   run         building and starting velmo
#   linux-test  that, and building and running the Linux tests with the headless KWin and
#               GNOME Shell (the Debian 13 root's set)
#   test        that, the fuzz targets, both Windows builds and Wine
#
# An index that cannot be downloaded (a mirror in the middle of a sync) is only a warning: the
# update is tried once more, then the packages are installed from what the indexes hold. The one
# fatal error is a package that cannot be installed, and the message names it.
set -euo pipefail
cd "$(dirname "$0")/.."

list=
if [ "${1:-}" = list ]; then
    list=1
    shift
fi
mode="${1:-test}"
release="${2:-$(. /etc/os-release && echo "${VERSION_CODENAME:-}")}"
case $mode in
run | linux-test | test) ;;
*)
    echo "setup: unknown mode '$mode' (run, linux-test or test)" >&2
    exit 2
    ;;
esac

if [ "$(id -u)" -eq 0 ]; then SUDO=; else SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive

# What differs between the releases: the version of clang whose runtime the fuzz targets link.
case $release in
bookworm) clang_version=14 ;;
trixie) clang_version=19 ;;
*)
    clang_version=$(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: clang-\([0-9]*\)$/\1/p' | head -n1)
    if [ -z "$clang_version" ]; then
        echo "setup: unknown Debian release '$release' (bookworm and trixie are known)" >&2
        exit 1
    fi
    ;;
esac

build_pkgs=(cmake ninja-build g++ pkg-config file libpng-dev
  libx11-dev libx11-xcb-dev libxtst-dev libxext-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-ipafont-gothic dpkg-dev)
# The Linux tests and benchmarks: GoogleTest, Google Benchmark, Xvfb with openbox, X clients,
# and gjs for the GNOME Shell extension's own tests.
linux_test_pkgs=(libgtest-dev libgmock-dev libbenchmark-dev gjs
  xvfb xauth openbox x11-utils x11-xserver-utils xdotool x11-apps netpbm man-db)
# The headless compositors: KWin with Xwayland and KWin's fake-input protocol, and GNOME Shell
# (driven through Mutter's remote-desktop session, from gjs); a native Wayland window; GTK 4 and
# Python's GLib for the Shell extension's check against the shell.
compositor_pkgs=(kwin-wayland xwayland qt6-wayland plasma-wayland-protocols libwayland-dev
  libwayland-bin dbus-daemon dbus-bin gnome-shell gir1.2-gtk-4.0 python3-gi gir1.2-glib-2.0)
# The formatting check, the fuzz targets (clang with libFuzzer), both Windows builds, and 64-bit
# Wine to run the x86-64 one on every machine.
host_test_pkgs=(clang-format clang "libclang-rt-$clang_version-dev"
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine locales)
# 32-bit Wine, only where the machine can execute i386 code at all.
wine32_pkgs=(wine32:i386)

pkgs=("${build_pkgs[@]}")
case $mode in
linux-test) pkgs+=("${linux_test_pkgs[@]}" "${compositor_pkgs[@]}") ;;
test) pkgs+=("${linux_test_pkgs[@]}" "${compositor_pkgs[@]}" "${host_test_pkgs[@]}") ;;
esac
if [ -n "$list" ]; then
    printf '%s\n' "${pkgs[@]}"
    exit 0
fi
if [ "$mode" = test ]; then
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
