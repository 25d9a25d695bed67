#!/usr/bin/env bash
# Installs and builds Morvane, then runs the demo client through COM.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh" morvane_demo all
cd "$build"
MORVANE_BUILD_DIR="$build" "$root/cmake/wine-run.sh" "$build/demo/morvane_demo.exe" "$@"
