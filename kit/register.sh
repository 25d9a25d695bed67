#!/usr/bin/env bash
# Registers Morvane, the phone simulator and the configuration server of this
# kit, and the framework type libraries, in a Wine prefix; -u unregisters them.
#   register.sh [-u] [WINEPREFIX]     (default: $WINEPREFIX, else ~/.wine)
# The DLLs must stay where they were registered.
set -euo pipefail
kit=$(cd "$(dirname "$0")" && pwd)
undo=""
if [ "${1:-}" = "-u" ]; then undo=1; shift; fi
export WINEPREFIX="${1:-${WINEPREFIX:-$HOME/.wine}}"
export WINEDEBUG="${WINEDEBUG:--all}"
win() { local p="Z:$1"; echo "${p//\//\\}"; }
for dll in Morvane PhoneSim CapMgr; do
  if [ -n "$undo" ]; then
    wine regsvr32 /s /u "$(win "$kit/bin/$dll.dll")"
  else
    wine regsvr32 /s "$(win "$kit/bin/$dll.dll")"
  fi
done
wine "$kit/bin/kvtlbreg.exe" ${undo:+-u} "$(win "$kit/lib/KV File Mgmt.tlb")" "$(win "$kit/lib/KVDeviceInformation.tlb")"
wineserver -w
