#!/usr/bin/env bash
# Writes the listing benchmark's folders of 1,000 / 10,000 / 100,000 files
# into the build folder once. Done natively: under Wine each new file costs a
# scan of its folder, so the largest would take most of an hour.
set -euo pipefail
drive="$1"
for n in 1000 10000 100000; do
  [ -f "$drive/complete-$n" ] && continue
  folder="$drive/Images/l$n"
  rm -rf "$folder"
  mkdir -p "$folder"
  (cd "$folder" && for ((i = 0; i < n; i++)); do printf x > "f$i.txt"; done)
  : > "$drive/complete-$n"
done
