#!/usr/bin/env bash
# Installs, builds and runs the whole test suite under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
cd "$build"
ctest -j2 --output-on-failure --timeout 300
