#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs each for a bounded time,
# default 25 seconds, from a copy of its seed corpus. Fails on any finding; the
# crashing input is left in build/fuzz/findings/.
#   usage: scripts/fuzz.sh [seconds-per-harness]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-25}
root=$PWD
dir=build/fuzz
echo "== fuzz: configure $dir with clang++ =="
cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON -DQM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "== fuzz: build the harnesses =="
cmake --build "$dir" -j 4 --target fuzzers
rm -rf "$dir/findings"
mkdir -p "$dir/findings"
ran=0
for source in tests/fuzz/*_fuzz.cc; do
  harness=$(basename "$source" .cc)
  name=${harness%_fuzz}
  scratch="$root/$dir/corpus/$name"  # absolute: the harnesses change their working directory
  rm -rf "$scratch"
  mkdir -p "$scratch"
  cp tests/fuzz/corpus/"$name"/* "$scratch"/
  # The line readers hold lines of up to 20480 bytes: inputs may be longer than that.
  max_len=8192
  case $name in log_reader|state_file) max_len=49152 ;; esac
  echo "== fuzz: $harness for ${seconds}s (corpus tests/fuzz/corpus/$name, copied to $scratch) =="
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$dir/tests/fuzz/$harness" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$root/$dir/findings/$name-" "$scratch" 2>"$dir/$name.log" || {
    tail -n 60 "$dir/$name.log"
    echo "fuzz: $harness found a fault; the input is in $dir/findings/" >&2
    exit 1
  }
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$dir/$name.log" || true
  ran=$((ran + 1))
done
echo "fuzz: $ran passed, 0 failed"
