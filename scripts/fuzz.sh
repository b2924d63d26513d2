#!/usr/bin/env bash
# Long fuzzing runs: builds the fuzz preset when needed, then runs every
# libFuzzer target (or those named) at once for HOURS (fractions allowed),
# each from its committed seeds plus what earlier runs found. New corpus
# entries stay under build/fuzz/work/NAME/corpus; crashes, leaks and timeouts
# go to build/fuzz/work/NAME/. At the end it prints, per target, executions
# per second and any crash file. The committed corpus is left alone unless
# --keep is given: then the fewest new entries that reach code the committed
# seeds do not are copied into tests/fuzz/corpus/NAME (libFuzzer's set-cover
# merge over edges alone, hit counts aside, so that the corpus stays small).
#
#   scripts/fuzz.sh HOURS [--keep] [TARGET...]     e.g. scripts/fuzz.sh 8 --keep
#                                                        scripts/fuzz.sh 0.5 archive rct
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

usage() {
  sed -n 's/^#   //p' "$0" >&2
  exit 2
}
[ $# -ge 1 ] || usage
seconds=$(awk -v h="$1" 'BEGIN { if (h !~ /^[0-9]*\.?[0-9]+$/) exit 1; printf "%d", h * 3600 }') ||
  usage
[ "$seconds" -ge 1 ] || usage  # libFuzzer reads 0 as "no limit"
shift
keep=0
names=()
for arg in "$@"; do
  case "$arg" in
    --keep) keep=1 ;;
    -*) usage ;;
    *) names+=("$arg") ;;
  esac
done

bin=build/fuzz/tests/fuzz
work=build/fuzz/work
mkdir -p "$work/tmp"
if [ ! -f build/fuzz/build.ninja ]; then
  cmake --preset fuzz >"$work/configure.log" 2>&1 || { tail -20 "$work/configure.log"; exit 1; }
fi
cmake --build --preset fuzz -j2 >"$work/build.log" 2>&1 || { tail -30 "$work/build.log"; exit 1; }
if [ ${#names[@]} -eq 0 ]; then
  for fuzzer in "$bin"/*_fuzz; do
    name=$(basename "$fuzzer")
    names+=("${name%_fuzz}")
  done
fi
for name in "${names[@]}"; do
  [ -x "$bin/${name}_fuzz" ] || { echo "no fuzz target $name" >&2; exit 2; }
done

# The targets' scratch folders and libFuzzer's merge files go here, so that
# a run that stops on a crash leaves nothing in the system's temporary folder.
export TMPDIR=$root/$work/tmp

echo "fuzzing ${names[*]} for $seconds s; logs in $work/"
touch "$work/started"  # findings of earlier runs stay, but are not reported again
pids=()
for name in "${names[@]}"; do
  mkdir -p "$work/$name/corpus"
  seeds=()
  [ -d "tests/fuzz/corpus/$name" ] && seeds=("tests/fuzz/corpus/$name")
  nice -n 10 "$bin/${name}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$name/" "$work/$name/corpus" "${seeds[@]}" \
    >"$work/$name.log" 2>&1 &
  pids+=($!)
done
# Background jobs of a script ignore Ctrl-C: pass it on, then report.
trap 'kill -TERM "${pids[@]}" 2>/dev/null' INT TERM
failed=0
for pid in "${pids[@]}"; do
  wait "$pid"
  status=$?
  # A wait cut short by the trap returns above 128 while the target runs on.
  while kill -0 "$pid" 2>/dev/null; do wait "$pid"; status=$?; done
  [ "$status" = 0 ] || failed=1
done
trap - INT TERM
rm -rf "$work"/tmp/vnfuzz-*  # left by targets that stopped on a finding

printf '%-10s %10s %8s  %s\n' target exec/s new finding
for name in "${names[@]}"; do
  log=$work/$name.log
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  # A run that stopped on a finding prints no final stats: its last status line.
  [ -n "$rate" ] || rate=$(grep -o 'exec/s: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  added=$(sed -n 's/^stat::new_units_added: *//p' "$log" | tail -1)
  findings=$(find "$work/$name" -maxdepth 1 -type f -newer "$work/started" \
    \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | sort)
  printf '%-10s %10s %8s  %s\n' "$name" "${rate:-?}" "${added:--}" "$(echo $findings)"
done

if [ "$keep" = 1 ]; then
  for name in "${names[@]}"; do
    mkdir -p "tests/fuzz/corpus/$name"
    before=$(ls "tests/fuzz/corpus/$name" | wc -l)
    "$bin/${name}_fuzz" -set_cover_merge=1 -use_counters=0 "tests/fuzz/corpus/$name" \
      "$work/$name/corpus" >"$work/$name-merge.log" 2>&1 || failed=1
    echo "$name: $(($(ls "tests/fuzz/corpus/$name" | wc -l) - before)) entries kept in tests/fuzz/corpus/$name"
  done
fi
[ "$failed" = 0 ]
