#!/usr/bin/env bash
# Builds every program and runs every test suite: the native unit tests, the
# same under the sanitizers, short runs of each fuzzer (scripts/fuzz.sh runs
# them for hours), and the end-to-end tests under Wine. Ends with one line
# "N passed, N failed" over all suites and exits non-zero when anything failed.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/install-deps.sh

reports=build/reports
mkdir -p "$reports"
passed=0
failed=0

count() {  # suite, passed, failed
  echo "== $1: $2 passed, $3 failed"
  passed=$((passed + $2))
  failed=$((failed + $3))
}

build() {  # preset, extra configure arguments...
  local preset=$1
  shift
  if cmake --preset "$preset" "$@" >"$reports/configure-$preset.log" 2>&1 &&
     cmake --build --preset "$preset" -j2 >"$reports/build-$preset.log" 2>&1; then
    count "build $preset" 1 0
    return 0
  fi
  tail -30 "$reports/configure-$preset.log" "$reports/build-$preset.log"
  count "build $preset" 0 1
  return 1
}

# Every file of src/ and tools/ includes only its own floor and the floors below.
if python3 scripts/check_floors.py >"$reports/floors.log" 2>&1; then
  count floors 1 0
else
  cat "$reports/floors.log"
  count floors 0 1
fi

# The Windows programs first: the native vnpack embeds dist/vnupdate.exe.
build win32 && bench_ok=1 || bench_ok=0
build native -DVN_STUB_EXE="$root/dist/vnupdate.exe" && native_ok=1 || native_ok=0
build fuzz && fuzz_ok=1 || fuzz_ok=0
# The 64-bit build of the same sources always: the file checks read it beside
# the shipped one, and where 32-bit code cannot run the Wine bench runs it.
build win64 && win64_ok=1 || { bench_ok=0; win64_ok=0; }
. scripts/wine_bench.sh

# The product's mutable variables of namespace scope, counted in its objects.
if [ "$win64_ok" = 1 ] && [ "$native_ok" = 1 ]; then
  if python3 scripts/check_globals.py build/win64 build/native >"$reports/globals.log" 2>&1; then
    count globals 1 0
  else
    cat "$reports/globals.log"
    count globals 0 1
  fi
fi

if [ "$native_ok" = 1 ]; then
  build/native/tests/unit/unit_tests --gtest_output=json:"$reports/unit.json" \
    >"$reports/unit.log" 2>&1
  grep -E '^\[  FAILED  \]|Failure$' "$reports/unit.log" | head -40
  read -r total fails < <(python3 -c '
import json, sys
r = json.load(open(sys.argv[1]))
print(r["tests"], r["failures"] + r.get("errors", 0))' "$reports/unit.json" 2>/dev/null || echo "1 1")
  count unit $((total - fails)) "$fails"
fi

if [ "$fuzz_ok" = 1 ]; then
  # The unit tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
  if build/fuzz/tests/unit/unit_tests >"$reports/unit-sanitized.log" 2>&1; then
    count "unit (sanitized)" 1 0
  else
    grep -E '^\[  FAILED  \]|runtime error|ERROR: AddressSanitizer' "$reports/unit-sanitized.log" | head -20
    count "unit (sanitized)" 0 1
  fi
  # Scratch folders of a fuzzer that stops on a finding stay here, not in /tmp.
  mkdir -p build/fuzz/tmp
  fuzz_passed=0
  fuzz_failed=0
  for fuzzer in build/fuzz/tests/fuzz/*_fuzz; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    corpus=tests/fuzz/corpus/${name%_fuzz}
    work=build/fuzz/corpus-$name
    mkdir -p "$work"
    seeds=()
    [ -d "$corpus" ] && seeds=("$corpus")
    if TMPDIR=$root/build/fuzz/tmp "$fuzzer" -max_total_time="${VN_FUZZ_SECONDS:-20}" -rss_limit_mb=2048 \
         -artifact_prefix="build/fuzz/$name-" "$work" "${seeds[@]}" \
         >"$reports/$name.log" 2>&1; then
      fuzz_passed=$((fuzz_passed + 1))
    else
      echo "fuzzer $name failed:"; tail -30 "$reports/$name.log"
      fuzz_failed=$((fuzz_failed + 1))
    fi
  done
  count fuzz "$fuzz_passed" "$fuzz_failed"
fi

if [ "$bench_ok" = 1 ]; then
  echo "== e2e on the $VN_WINE_ARCH builds"
  python3 tests/e2e/run.py 2>&1 | tee "$reports/e2e.log"
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$reports/e2e.log" | tail -1)
  if [ -n "$line" ]; then
    count e2e "$(echo "$line" | cut -d' ' -f1)" "$(echo "$line" | cut -d' ' -f3)"
  else
    count e2e 0 1
  fi
fi

if [ "$VN_WINE_ARCH" = win64 ]; then
  echo "== summary: the shipped 32-bit dist/vnupdate.exe was NOT executed: this host cannot run" \
       "32-bit code; the Wine tests ran the 64-bit build of the same sources, the file checks read both"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
