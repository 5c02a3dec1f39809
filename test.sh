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
# A preset configured and built. Everything is built before any test runs: the hall page's
# browser test (native) drives the Windows program.
build_preset() {  # build_preset NAME
  if ! cmake --preset "$1" >/dev/null || ! cmake --build --preset "$1"; then
    failed=$((failed + 1)); failures+=("$1 build"); return 1
  fi
}
# A preset's tests; the counts come from the JUnit report ctest writes.
test_preset() {  # test_preset NAME
  local preset="$1" report="$PWD/build/$1-junit.xml"
  rm -f "$report"
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
native_built=0 windows_built=0
build_preset native && native_built=1
build_preset windows && windows_built=1
[ "$native_built" = 0 ] || test_preset native
count_check "tidy" bash tools/check-style.sh tidy
[ "$windows_built" = 0 ] || test_preset windows
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
