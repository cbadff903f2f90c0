#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure --timeout 300
