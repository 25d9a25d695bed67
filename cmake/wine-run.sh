#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's private prefix.
# The prefix is <build>/wineprefix, where <build> is the nearest folder above
# the working directory that holds CMakeCache.txt (or $MORVANE_BUILD_DIR).
# Wine's output goes to a file first: Wine's background processes would
# otherwise inherit the caller's pipe and keep ctest waiting.
set -u
build="${MORVANE_BUILD_DIR:-}"
if [ -z "$build" ]; then
  d="$PWD"
  while [ "$d" != "/" ]; do
    if [ -f "$d/CMakeCache.txt" ]; then build="$d"; break; fi
    d=$(dirname "$d")
  done
fi
if [ -z "$build" ]; then
  echo "wine-run: no build folder above $PWD (set MORVANE_BUILD_DIR)" >&2
  exit 125
fi
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$build"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
  ) 9>"$build/.wineprefix.lock"
fi
# Existing absolute Unix paths become Z: paths, so Windows programs (regsvr32,
# cscript) do not take them for switches.
args=()
for a in "$@"; do
  if [[ "$a" == /* && -e "$a" ]]; then a="Z:${a//\//\\}"; fi
  args+=("$a")
done
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
wine "${args[@]}" >"$out" 2>&1 </dev/null
rc=$?
# Under heavy load Wine now and then fails to start a program at all: no
# output, a failing code. Such a run is tried once more: the programs run
# here write something once they run, and the silent ones (regsvr32 /s) are
# safe to repeat.
if [ "$rc" -ne 0 ] && [ ! -s "$out" ]; then
  echo "wine-run: $1 did not start (exit code $rc), trying once more" >&2
  wine "${args[@]}" >"$out" 2>&1 </dev/null
  rc=$?
fi
cat "$out"
# Wine's crash handler can leave a crashed program with exit code 0.
if [ "$rc" -eq 0 ] && grep -qE 'Unhandled (page fault|exception: |illegal instruction|stack overflow|privileged instruction)' "$out"; then
  echo "wine-run: the program crashed" >&2
  rc=134
fi
rm -f "$out"
exit $rc
