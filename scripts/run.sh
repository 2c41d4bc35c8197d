#!/usr/bin/env bash
# Sets up, builds and starts the Linux program on the current X display.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
cmake --preset linux
cmake --build --preset linux --target velmo
exec build/linux/mainwindow/qt/velmo "$@"
