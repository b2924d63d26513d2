#!/usr/bin/env bash
# Tries a maker's own updater on the Wine bench (see scripts/try_updater.py):
#   scripts/try.sh UPDATE.exe [--game DIR] [--folder 'C:\Games\Title'] [--registry KEY\NAME=VALUE]...
#                  [--display :N] [--work DIR]
# VN_WINE_ARCH, VN_UPDATER and VN_BUILD set beforehand are honoured.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
(cd "$root" && . scripts/bench_build.sh) >&2
. "$root/scripts/wine_bench.sh"
exec python3 "$root/scripts/try_updater.py" "$@"
