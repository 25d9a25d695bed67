#!/usr/bin/env bash
# Installs what the build needs (when missing), configures and builds Morvane,
# creates the private Wine prefix and registers the servers in it.
# Idempotent: a second run only rebuilds what changed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$root/build}"

packages=(wine wine64 g++-mingw-w64-x86-64 mingw-w64-tools libwine-dev cmake ninja-build googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# Building also creates <build>/wineprefix and registers the servers there.
ninja -C "$build" "$@"
