#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs the whole test suite in both builds. Fails on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 4)
# The browser test's driver (playwright-core from npm) into tests/browser/. A test
# whose tool is missing (playwright-core, or the Debian packages faketime, lighttpd,
# apache2, chromium, nodejs npm) is skipped; the end of each run says what it needs.
if [ ! -d tests/browser/node_modules/playwright-core ] && command -v npm >/dev/null; then
  npm ci --prefix tests/browser --no-audit --no-fund || echo "no browser driver: the browser test is skipped"
fi
for variant in plain sanitize; do
  dir=build/$variant
  flag=OFF
  [ "$variant" = sanitize ] && flag=ON
  cmake -S . -B "$dir" -DQM_SANITIZE=$flag -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $variant build =="
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
  grep -h -A1 ': Skipped$' "$dir/Testing/Temporary/LastTest.log" | grep '^needs ' | sort | uniq -c |
    sed -E 's/^ *([0-9]+) needs (.*)/skipped: \1 test(s), which need \2/' || true
done
