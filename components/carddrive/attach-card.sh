#!/usr/bin/env bash
# Gives a build's private Wine prefix a removable drive over a PC folder, with a
# chosen volume serial number and label: the phone's memory card as Windows sees
# it when mounted by USB mass storage.
#
#   attach-card.sh BUILD_DIR [LETTER [SERIAL_HEX [LABEL [FOLDER]]]]
#
# Defaults: M, 1A2B3C4D (439041101), PHONECARD, BUILD_DIR/card.
# Idempotent: when the prefix already has this drive it changes nothing and
# starts no Wine process. Otherwise it writes the drive and waits for the
# prefix's wineserver to end by itself, so the next Wine process reads the drive
# afresh (Wine reads drive types, labels and serials only when it starts).
# Other Wine processes of the prefix that are running meanwhile are not killed.
set -euo pipefail

build=${1:?usage: attach-card.sh BUILD_DIR [LETTER [SERIAL_HEX [LABEL [FOLDER]]]]}
letter=$(printf '%s' "${2:-M}" | tr 'A-Z' 'a-z')
serial=$(printf '%s' "${3:-1A2B3C4D}" | tr 'a-f' 'A-F')
label=${4:-PHONECARD}
build=$(cd "$build" && pwd)
folder=${5:-$build/card}
here=$(cd "$(dirname "$0")" && pwd)
winerun="$here/../../cmake/wine-run.sh"

[[ "$letter" =~ ^[d-y]$ ]] || { echo "attach-card: drive letter must be D..Y, not '$letter'" >&2; exit 2; }
[[ "$serial" =~ ^[0-9A-F]{1,8}$ ]] || { echo "attach-card: serial must be 1-8 hex digits, not '$serial'" >&2; exit 2; }
[[ ${#label} -ge 1 && ${#label} -le 11 ]] || { echo "attach-card: label must have 1-11 characters" >&2; exit 2; }

prefix="$build/wineprefix"
marker="$prefix/.morvane-card"

exec 9>"$build/.card-drive.lock"
flock 9

mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
wanted="$letter: $serial $label $folder"

# Everything in place since the last restart: nothing to do.
if [ -f "$marker" ] && [ "$(cat "$marker")" = "$wanted" ] \
   && [ "$(readlink "$prefix/dosdevices/$letter:" 2>/dev/null)" = "$folder" ] \
   && [ "$(cat "$folder/.windows-label" 2>/dev/null)" = "$label" ] \
   && [ "$(cat "$folder/.windows-serial" 2>/dev/null)" = "$serial" ] \
   && grep -qi "^\"$letter:\"=\"floppy\"" "$prefix/system.reg" 2>/dev/null; then
  touch "$marker"
  exit 0
fi
rm -f "$marker"

# Creates the prefix when it does not exist yet, and sets the drive type.
export MORVANE_BUILD_DIR="$build"
"$winerun" reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /t REG_SZ /d floppy /f >/dev/null

printf '%s\n' "$label" >"$folder/.windows-label"
printf '%s\n' "$serial" >"$folder/.windows-serial"
link="$prefix/dosdevices/$letter:"
if [ -e "$link" ] && [ ! -L "$link" ]; then
  echo "attach-card: $link exists and is not a link" >&2
  exit 1
fi
ln -sfn "$folder" "$link"

# The server saves the registry and forgets the cached drives when it ends.
export WINEPREFIX="$prefix"
if ! timeout 300 wineserver -w; then
  wineserver -k || true
  wineserver -w || true
fi
printf '%s\n' "$wanted" >"$marker"
echo "attach-card: ${letter^^}: is a removable drive over $folder (serial $serial, label $label)"
