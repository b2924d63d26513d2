#!/usr/bin/env bash
# The main job: builds everything, then runs a demo update on the Wine bench
# and prints what happened and where the screenshots are.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/bench_build.sh
exec python3 scripts/demo.py "$@"
