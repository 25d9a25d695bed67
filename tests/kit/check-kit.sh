#!/usr/bin/env bash
# The installed kit: its layout, registration in a fresh Wine prefix, a sample
# client run from the kit alone, and unregistration.
#   check-kit.sh BUILD_DIR
set -euo pipefail
build=$1
kit="$build/kit-check"
rm -rf "$kit"
cmake --install "$build" --prefix "$kit" >/dev/null
for f in bin/Morvane.dll bin/PhoneSim.dll bin/CapMgr.dll bin/kvtlbreg.exe bin/kvfm.exe \
         "lib/KV File Mgmt.tlb" lib/KVDeviceInformation.tlb include/KVFileMgmt.h include/KVFileMgmt_i.c \
         include/KVDeviceInformation.h include/Morvane.h include/PhoneSim.h include/PhoneSim_i.c \
         idl/KVFileMgmtInterfaces.idl docs/api.md samples/cpp/browse.cpp samples/js/listing.js \
         samples/phonesim/demo-phone.xml samples/phonesim/demo-phone/C/Images/harbour.jpg samples/capmgr/browser.xml \
         register.sh register.cmd; do
  [ -e "$kit/$f" ] || { echo "kit: missing $f"; exit 1; }
done
export WINEPREFIX="$kit/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
wineserver -w
"$kit/register.sh" "$WINEPREFIX"
win() { local p="Z:$1"; echo "${p//\//\\}"; }
out=$(wine cscript //nologo "$(win "$kit/samples/js/listing.js")" phone-browser '\Phone\Pictures\' \
      "$(win "$kit/samples/phonesim/demo-phone.xml")" "$(win "$kit/samples/capmgr/browser.xml")" 2>&1 </dev/null)
echo "$out"
echo "$out" | grep -q "harbour.jpg" || { echo "kit: the sample did not list the phone"; exit 1; }
"$kit/register.sh" -u "$WINEPREFIX"
if wine reg query 'HKCR\Morvane.KVFileMgmtService' >/dev/null 2>&1; then
  echo "kit: still registered after -u"; exit 1
fi
wineserver -k || true
rm -rf "$kit"
echo "kit ok"
