#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer) and runs each for a bounded time; a crash fails.
set -euo pipefail
src="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(realpath -m "${QYR_FUZZ_BUILD_DIR:-$src/build/fuzz}")"
seconds="${QYR_FUZZ_SECONDS:-30}"

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build"

status=0
for target_src in "$src"/tests/fuzz/*_fuzz.cpp; do
  name="$(basename "$target_src" .cpp)"
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name (${seconds}s)"
  if ! (cd "$build" && "./$name" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$corpus"); then
    echo "fuzz target $name failed" >&2
    status=1
  fi
done
exit $status
