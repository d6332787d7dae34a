#!/usr/bin/env bash
# The main job: builds the library and csctl, then takes a short tour with csctl on a
# fresh Windows directory in the build tree (build/release/demo-windir, emptied first):
# stores and reads settings, describes a printer from a SPOOLER.INI and WIN.INI it
# writes there, and shows a registry key. The files are left there to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$jobs" --target csctl >/dev/null

windir="$PWD/build/release/demo-windir"
rm -rf "$windir"
mkdir -p "$windir"
export CSLIB_WINDIR="$windir"
unset CSLIB_OS_FAMILY CSLIB_NOTICES
csctl=build/release/tools/csctl

# Shows the command as one would type it, then runs it.
run() {
  local shown="$ csctl" arg
  for arg in "$@"; do
    if [[ "$arg" =~ [[:space:]\\,] ]]; then shown+=" '$arg'"; else shown+=" $arg"; fi
  done
  echo
  echo "$shown"
  "$csctl" "$@"
}

echo "Windows directory for this tour: $windir (CSLIB_WINDIR)"
run sysinfo

echo
echo "## Settings in the store (QZFMRC15.INI), typed values kept as hex text"
run store set Common PaperSize A4
run store set Common Resolution --dword 600
run store get Common Resolution --dword
run store keys Common --values

echo
echo "## A printer, from the WIN.INI [devices] entry and the spooler data written here"
printf '[devices]\nFront Desk=QZDRV,LPT1:\nPool Room=QZDRV,LPT2:,LPT3:\n' >"$windir/WIN.INI"
printf '[Front Desk]\nPrinter Model Name=Model 500\n' >"$windir/SPOOLER.INI"
echo "(wrote WIN.INI and SPOOLER.INI)"
run printer show "Front Desk"
run --json printer show "Pool Room"
run printer list --driver QZDRV --model "Model 500"
run store set "LPT1,Model 500" Copies --word 2

echo
echo "## The registry store"
run reg set 'HKLM\Software\Maker\Driver' Version 1.5
run reg set 'HKLM\Software\Maker\Driver' Trays --dword 3
run reg list 'HKLM\Software\Maker'
run reg get 'HKLM\Software\Maker\Driver' Version

echo
echo "## The section map: where each key was first used"
run map list
run map check

echo
echo "A missing key fails with the store's code:"
echo "\$ csctl store get Common Missing"
"$csctl" store get Common Missing 2>&1 || echo "(exit status $?)"
