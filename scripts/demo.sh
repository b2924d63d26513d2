#!/usr/bin/env bash
# The main job: builds everything, then runs a demo update on the Wine bench
# and prints what happened and where the screenshots are.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j2
cmake --preset native -DVN_STUB_EXE="$root/dist/vnupdate.exe" >/dev/null
cmake --build --preset native -j2
. scripts/wine_bench.sh
if [ "$VN_WINE_ARCH" = win64 ]; then
  cmake --preset win64 >/dev/null && cmake --build --preset win64 -j2
fi
exec python3 scripts/demo.py "$@"
