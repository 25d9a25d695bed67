#!/usr/bin/env bash
# Installs and builds Morvane, runs the demo client through COM, then browses a
# simulated phone with a memory card with the command-line client kvfm.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh" morvane_demo all
cd "$build"
MORVANE_BUILD_DIR="$build" "$root/cmake/wine-run.sh" "$build/demo/morvane_demo.exe" "$@"

# The phone's memory card, mounted on the PC as the card drive M: (serial
# 1A2B3C4D), gets the demo files. Copying again is harmless.
card=$(sed -n 's/^MORVANE_CARD_FOLDER:[A-Z]*=//p' "$build/CMakeCache.txt")
card="${card:-$build/card}"
mkdir -p "$card"
cp -R --preserve=timestamps "$root/demo/card-phone/card/." "$card/"

kvfm() {
  printf '\n$ kvfm %s\n' "$*"
  MORVANE_BUILD_DIR="$build" "$root/cmake/wine-run.sh" "$build/tools/kvfm.exe" \
    --phone "$root/components/phonesim/samples/demo-card-phone.xml" \
    --config "$root/components/capmgr/samples/memorycard.xml" --uid phone-card "$@"
}
echo
echo "kvfm: the phone of demo/card-phone, its card on the PC as M:"
kvfm tree '\'
kvfm ls '\Memory card\Photos\'
kvfm info '\Memory card\'
kvfm info '\Phone\Pictures\'
kvfm info '\Memory card\Music\track01.mp3'
