#!/usr/bin/env bash
# transfer-test.sh CASE WINE_RUN KVFM SOURCE_DIR
# Runs kvfm's transfer commands against a throwaway copy of the demo phone
# (browser configuration) and checks exit codes, output and the files on disk.
# CASE: put-get-rm, refused or cancel. Needs MORVANE_BUILD_DIR.
set -u
case=$1 run=$2 kvfm=$3 src=$4
: "${MORVANE_BUILD_DIR:?}"
mkdir -p "$MORVANE_BUILD_DIR/Testing"
work=$(mktemp -d "$MORVANE_BUILD_DIR/Testing/kvfm-XXXXXX")
trap 'rm -rf "$work"' EXIT

# The phone: the demo phone plus the folders the browser configuration shows.
cp -R "$src/components/phonesim/samples/demo-phone" "$src/components/phonesim/samples/demo-phone.xml" "$work/"
phone="$work/demo-phone"
mkdir -p "$phone/C/Images" "$phone/C/Sounds" "$phone/C/Data/Documents"
echo ring >"$phone/C/Sounds/ring.wav"
# The PC: a tree with a file large enough for several progress events.
mkdir -p "$work/pc/Trip/Day1" "$work/out"
echo "day one" >"$work/pc/Trip/readme.txt"
awk 'BEGIN { for (i = 0; i < 12000; i++) printf "line %05d of the big file\n", i }' >"$work/pc/Trip/Day1/big.bin"
echo small >"$work/pc/Trip/Day1/small.txt"

failures=0
fail() {
  echo "transfer-test: $*" >&2
  failures=$((failures + 1))
}

# expect RC REGEX ARGS...: kvfm ARGS must exit with RC and print REGEX.
expect() {
  local want=$1 regex=$2
  shift 2
  echo "\$ kvfm $*"
  local out rc
  out=$("$run" "$kvfm" --phone "$work/demo-phone.xml" --config "$src/components/capmgr/samples/browser.xml" \
    --uid phone-browser "$@" 2>&1)
  rc=$?
  printf '%s\n' "$out"
  [ "$rc" -eq "$want" ] || fail "kvfm $*: exit code $rc, expected $want"
  grep -Eq -- "$regex" <<<"$out" || fail "kvfm $*: no output matching '$regex'"
}

case "$case" in
put-get-rm)
  expect 0 'done: KVFM_OK -> \\Memory card\\Songs\\Trip\\' put "$work/pc/Trip" '\Memory card\Songs\'
  expect 0 'big\.bin \[#{20}\] 100%' put "$work/pc/Trip/Day1/big.bin" '\Memory card\Songs\'
  diff -r "$work/pc/Trip" "$phone/E/Music/Trip" || fail "the tree on the phone differs from the PC's"
  cmp "$work/pc/Trip/Day1/big.bin" "$phone/E/Music/big.bin" || fail "the file on the phone differs from the PC's"
  expect 0 'done: KVFM_OK' get '\Memory card\Songs\Trip\' "$work/out"
  diff -r "$work/pc/Trip" "$work/out/Trip" || fail "the tree copied back differs from the original"
  # Not asked (no console) and no --replace: the existing PC folder is skipped.
  expect 1 'failed: KVFM_ABORTED \(0xC0000000\)' get '\Memory card\Songs\Trip\' "$work/out"
  expect 0 'done: KVFM_OK' get --replace=merge-all '\Memory card\Songs\Trip\' "$work/out"
  expect 0 'done: KVFM_OK' rm '\Memory card\Songs\Trip\'
  [ ! -e "$phone/E/Music/Trip" ] || fail "the deleted tree is still on the phone"
  [ -e "$phone/E/Music/track01.mp3" ] || fail "rm deleted a file beside the tree"
  ;;
refused)
  # The configuration forbids deleting \Phone\Sounds\: refused before any transaction.
  expect 1 "kvfm: cannot delete '\\\\Phone\\\\Sounds\\\\': the phone's configuration forbids" rm '\Phone\Sounds\'
  [ -e "$phone/C/Sounds/ring.wav" ] || fail "the refused delete removed files"
  expect 1 'refuses a name or path as invalid' rename '\Memory card\Songs\' 'a\b'
  [ -d "$phone/E/Music" ] || fail "the refused rename changed the folder"
  ;;
cancel)
  expect 1 'failed: KVFM_ABORTED \(0xC0000000\) \(cancel requested\)' \
    put --cancel-after 30 "$work/pc/Trip/Day1/big.bin" '\Phone\Pictures\'
  [ ! -e "$phone/C/Images/big.bin" ] || fail "the cancelled copy left its file"
  expect 0 'done: KVFM_OK' put "$work/pc/Trip" '\Memory card\Songs\'
  # Cancelled at the first file deleted: the tree stays, with files in it.
  expect 1 'failed: KVFM_ABORTED \(0xC0000000\) \(cancel requested\)' rm --cancel-after 0 '\Memory card\Songs\Trip\'
  left=$(find "$phone/E/Music/Trip" -type f 2>/dev/null | wc -l)
  [ "$left" -ge 1 ] && [ "$left" -lt 3 ] || fail "after a cancelled delete $left of 3 files are left, expected 1 or 2"
  ;;
*)
  echo "transfer-test: unknown case '$case'" >&2
  exit 2
  ;;
esac
[ "$failures" -eq 0 ] || exit 1
echo "transfer-test: $case passed"
