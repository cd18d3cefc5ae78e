#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang++ (AddressSanitizer and
# UndefinedBehaviorSanitizer) into build/fuzz and runs them side by side. Fails on any
# finding; the input is left in build/fuzz/findings/, each harness's log in build/fuzz/.
#   scripts/fuzz.sh                       what CI runs: each harness over its committed
#                                         corpus, then a fixed-seed exploration of a fixed
#                                         number of runs, so one commit gets one verdict
#   scripts/fuzz.sh --random SECONDS [NAME...]
#                                         by hand: random exploration for SECONDS, from a
#                                         copy of the corpus, of the named harnesses (all)
# A single allocation of 128 MB (the inputs are at most 48 KB) or a process above 2 GB
# is a finding. Without clang++ and libFuzzer it says so and runs nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C  # one order of the corpus files everywhere
mode=fixed
seconds=0
if [ "${1:-}" = --random ]; then
  mode=random
  seconds=${2:?"usage: scripts/fuzz.sh --random SECONDS [NAME...]"}
  shift 2
fi
# clang++ with its libFuzzer runtime; without them there is nothing to run.
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -fsanitize=fuzzer -x c++ - -o /dev/null 2>/dev/null; then
  echo "fuzz: skipped: needs clang++ with libFuzzer (the Debian packages clang libclang-rt-dev)"
  exit 0
fi
root=$PWD   # paths are absolute: the harnesses change their working directory
dir=$root/build/fuzz
echo "== fuzz: configure build/fuzz with clang++ =="
cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER=clang++ -DQM_FUZZ=ON -DQM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "== fuzz: build the harnesses =="
cmake --build "$dir" -j "$(nproc)" --target fuzzers
rm -rf "$dir/findings" "$dir/corpus"
mkdir -p "$dir/findings"
names=("$@")
[ ${#names[@]} -gt 0 ] || for source in tests/fuzz/*_fuzz.cc; do names+=("$(basename "$source" _fuzz.cc)"); done

# Runs one harness; its output goes to build/fuzz/NAME.log.
fuzz() {
  local name=$1 harness=$dir/tests/fuzz/$1_fuzz corpus=$root/tests/fuzz/corpus/$1 scratch=$dir/corpus/$1
  local max_len=8192 runs=30000  # runs of the fixed exploration: about two minutes each
  case $name in
    log_reader|state_file) max_len=49152 ;;  # the line readers hold lines of up to 20480 bytes
    form_input|tracker_query) runs=200000 ;;
  esac
  local options=(-max_len=$max_len -timeout=30 -malloc_limit_mb=128 -rss_limit_mb=2048 -reload=0 -print_final_stats=1
    "-artifact_prefix=$dir/findings/$name-")
  mkdir -p "$scratch"
  if [ $mode = fixed ]; then
    # The committed inputs (the regressions), then new units from them, named in a
    # fixed order (a folder's order differs between machines) into an empty folder.
    # Addresses must not steer it: they are fixed (the type checks' cache works by
    # address, and shows in the coverage), and compared values guide no mutation.
    "$harness" "${options[@]}" "$corpus"/* &&
      setarch -R "$harness" "${options[@]}" -seed=1 -runs=$runs -use_cmp=0 \
        "-seed_inputs=$(ls -d "$corpus"/* | paste -sd,)" "$scratch"
  else
    cp "$corpus"/* "$scratch"/
    "$harness" "${options[@]}" -max_total_time="$seconds" "$scratch"
  fi
}

export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== fuzz: ${names[*]} ($([ $mode = fixed ] && echo "corpus, then a fixed exploration" || echo "${seconds}s at random")) =="
pids=()
for name in "${names[@]}"; do
  fuzz "$name" >"$dir/$name.log" 2>&1 &
  pids+=($!)
done
failed=0
for i in "${!names[@]}"; do
  name=${names[$i]}
  if wait "${pids[$i]}"; then
    # What the exploration did: in the fixed mode the same for the same code.
    log=$dir/$name.log
    echo "$name: $(sed -nE 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1) runs," \
      "$(sed -nE 's/^stat::new_units_added: *//p' "$log" | tail -n 1) new units," \
      "$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n 1)"
  else
    tail -n 60 "$dir/$name.log"
    echo "fuzz: ${name}_fuzz found a fault; the input is in build/fuzz/findings/" >&2
    failed=$((failed + 1))
  fi
done
echo "fuzz: $((${#names[@]} - failed)) passed, $failed failed"
[ $failed -eq 0 ]
