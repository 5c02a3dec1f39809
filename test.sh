#!/usr/bin/env bash
# Builds everything and runs every test: the style and layering checks, the portable rules
# natively (ASan + UBSan), the Windows program and its tests under Wine, then the fuzz targets.
# Ends with one line: how many tests passed and failed over all of it.
set -uo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh || exit 1

passed=0
failed=0
failures=()
# Counts one check that is a whole: it passed or it did not.
count_check() {  # count_check NAME COMMAND...
  local name="$1"; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$name"); fi
}
# A test preset: configured, built and run; its counts come from the JUnit report ctest writes.
run_preset() {  # run_preset NAME
  local preset="$1" report="$PWD/build/$1-junit.xml"
  rm -f "$report"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
    failed=$((failed + 1)); failures+=("$preset build"); return
  fi
  ctest --preset "$preset" --output-junit "$report"
  if [ ! -f "$report" ]; then failed=$((failed + 1)); failures+=("$preset tests"); return; fi
  local tests fails
  tests="$(grep -o -m1 'tests="[0-9]*"' "$report" | tr -dc 0-9)"
  fails="$(grep -o -m1 'failures="[0-9]*"' "$report" | tr -dc 0-9)"
  passed=$((passed + tests - fails))
  failed=$((failed + fails))
  [ "$fails" = 0 ] || failures+=("$preset: $fails tests")
}

count_check "format" bash tools/check-style.sh format
count_check "layering" bash tools/check-style.sh layering
run_preset native
count_check "tidy" bash tools/check-style.sh tidy
run_preset windows
if [ -f tests/fuzz/run.sh ]; then
  # The fuzzers' own output goes to build/fuzz/*.log; each target prints one line.
  fuzz_out="$(bash tests/fuzz/run.sh)"
  fuzz_status=$?
  echo "$fuzz_out"
  ok="$(grep -c '^fuzz .*: ok' <<<"$fuzz_out")"
  bad="$(grep -c '^fuzz .*: FAILED' <<<"$fuzz_out")"
  passed=$((passed + ok))
  failed=$((failed + bad))
  if [ "$fuzz_status" != 0 ] && [ "$bad" = 0 ]; then failed=$((failed + 1)); fi
  [ "$fuzz_status" = 0 ] || failures+=("fuzzing")
fi

[ ${#failures[@]} = 0 ] || echo "failed: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
