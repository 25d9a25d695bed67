#!/usr/bin/env bash
# Installs and builds Morvane, runs the demo client through COM, then browses a
# simulated phone with a memory card with the command-line client kvfm and
# copies folder trees to and from it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${MORVANE_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh" morvane_demo all
cd "$build"
MORVANE_BUILD_DIR="$build" "$root/cmake/wine-run.sh" "$build/demo/morvane_demo.exe" "$@"

# The phone's memory card, mounted on the PC as the card drive M: (serial
# 1A2B3C4D), gets the demo files afresh; the drive's label and serial files
# at its root stay.
card=$(sed -n 's/^MORVANE_CARD_FOLDER:[A-Z]*=//p' "$build/CMakeCache.txt")
card="${card:-$build/card}"
mkdir -p "$card"
for entry in "$root/demo/card-phone/card/"*; do
  rm -rf "${card:?}/$(basename "$entry")"
done
cp -R --preserve=timestamps "$root/demo/card-phone/card/." "$card/"

# The phone's own drives are a fresh copy under the build folder, so the
# transfers below never change demo/card-phone.
phone="$build/demo-card-phone"
rm -rf "$phone"
mkdir -p "$phone"
cp -R --preserve=timestamps "$root/demo/card-phone/C" "$root/demo/card-phone/E" "$phone/"
sed 's#folder="\.\.\\\.\.\\\.\.\\demo\\card-phone\\#folder="#' \
  "$root/components/phonesim/samples/demo-card-phone.xml" >"$phone/phone.xml"
if ! grep -q 'folder="C"' "$phone/phone.xml" || ! grep -q 'folder="E"' "$phone/phone.xml"; then
  echo "demo: cannot point the phone description at $phone" >&2
  exit 1
fi

# The PC side: a sample tree to copy to the phone (with one larger generated
# file, so its progress shows) and an empty folder to copy into.
pc="$build/demo-pc"
rm -rf "$pc"
mkdir -p "$pc/from-card"
cp -R "$root/demo/card-phone/pc/Trip" "$pc/"
awk 'BEGIN { for (i = 0; i < 25000; i++) print "harbour panorama scanline" }' >"$pc/Trip/Day1/panorama.raw"

kvfm() {
  printf '\n$ kvfm %s\n' "$*"
  MORVANE_BUILD_DIR="$build" "$root/cmake/wine-run.sh" "$build/tools/kvfm.exe" \
    --phone "$phone/phone.xml" \
    --config "$root/components/capmgr/samples/memorycard.xml" --uid phone-card "$@"
}
echo
echo "kvfm: the phone of demo/card-phone, its card on the PC as M:"
kvfm tree '\'
kvfm ls '\Memory card\Photos\'
kvfm info '\Memory card\'
kvfm info '\Phone\Pictures\'
kvfm info '\Memory card\Music\track01.mp3'

echo
echo "kvfm: folder trees to and from the phone and its card, with progress"
kvfm put "$pc/Trip" '\Phone\Pictures\'
kvfm put "$pc/Trip/Day1/panorama.raw" '\Memory card\Photos\'
kvfm get '\Memory card\Photos\' "$pc/from-card"
ls -R "$pc/from-card"
kvfm mkdir '\Phone\Pictures\Trip\Day3\'
kvfm rename '\Phone\Pictures\Trip\Day3\' 'Day 3'
kvfm rm '\Phone\Pictures\Trip\Day2\'
# The configuration forbids renaming the card's photos: refused at once.
kvfm rename '\Memory card\Photos\holiday-01.jpg' 'beach.jpg' || echo "(exit code $?: refused, as configured)"
kvfm tree '\'
