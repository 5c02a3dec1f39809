#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer) and runs each for a bounded time; a crash fails.
# Each target's own output goes to build/fuzz/<target>.log; one line a target is printed.
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath -m "${QYR_FUZZ_BUILD_DIR:-$src/build/fuzz}")"
seconds="${QYR_FUZZ_SECONDS:-15}"

cmake --preset fuzz -B "$build" >/dev/null
targets=()
for target_src in "$src"/tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$target_src" .cpp)"); done
cmake --build "$build" --target "${targets[@]}" >"$build/build.log" 2>&1 || {
  cat "$build/build.log"
  exit 1
}

# As many targets at a time as there are cores; each one's report follows when all are done.
parallel="$(nproc)"
for name in "${targets[@]}"; do
  mkdir -p "$build/corpus/$name"
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
  (
    cd "$build"
    code=0
    "./$name" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "corpus/$name" >"$name.log" 2>&1 || code=$?
    echo "$code" >"$name.status"
  ) &
done
wait

status=0
for name in "${targets[@]}"; do
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$name.log" | tail -n1)"
  if [ "$(cat "$build/$name.status" 2>/dev/null || echo 1)" = 0 ]; then
    echo "fuzz $name: ok (${runs:-?} runs in ${seconds} s)"
  else
    echo "fuzz $name: FAILED (see $build/$name.log)"
    tail -n 30 "$build/$name.log"
    status=1
  fi
done
exit $status
