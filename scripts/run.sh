#!/usr/bin/env bash
# Sets up, builds and starts the Linux program on the current X display. It needs none of the
# test tools: the build is configured without the tests (scripts/test.sh configures them).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh run
cmake --preset linux -DBUILD_TESTING=OFF
cmake --build --preset linux --target velmo
exec build/linux/mainwindow/qt/velmo "$@"
