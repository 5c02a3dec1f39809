#!/usr/bin/env bash
# The house rules a machine can check:
#   format    every C++ file is laid out as .clang-format says
#   layering  a folder of src/ includes only the folders it may build on (the table below)
#   tidy      the portable sources pass the checks of .clang-tidy (needs build/native first)
# Exits non-zero with what is wrong.
set -euo pipefail
cd "$(dirname "$0")/.."

# The folders each folder may include from, besides itself. app/ is the top and takes them all.
declare -A allowed=(
  [base]=""
  [launch]="base"
  [remote]="base launch"
  [winsys]="base"
  [tray]="base"
  [setup]="base launch remote"
  [app]="base launch remote winsys tray setup"
)

cpp_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -co --exclude-standard -- '*.cpp' '*.h'
  else
    find src tests tools bench -name '*.cpp' -o -name '*.h'
  fi
}

check_format() {
  cpp_files | xargs clang-format --dry-run -Werror
}

check_layering() {
  local status=0 dir folder included
  for dir in src/*/; do
    folder="$(basename "$dir")"
    [ "$folder" != res ] || continue
    if [ -z "${allowed[$folder]+set}" ]; then
      echo "layering: src/$folder has no entry in tools/check-style.sh"
      status=1
      continue
    fi
    while IFS=: read -r file line; do
      included="${line#*\"}"
      included="${included%%/*}"
      case " $folder ${allowed[$folder]} " in
        *" $included "*) ;;
        *) echo "layering: $file includes $included/, which src/$folder may not build on"; status=1 ;;
      esac
    done < <(grep -Ho '#include "[a-z_]*/' "$dir"* || true)
  done
  return $status
}

check_tidy() {
  local db=build/native/compile_commands.json
  [ -f "$db" ] || { echo "tidy: $db is missing (cmake --preset native)"; return 1; }
  local files
  files="$(cpp_files | grep -E '^src/.*\.cpp$' | grep -v '_win\.cpp$')"
  # One process a core; only what it finds is printed, not its counts of suppressed warnings.
  local out status=0
  out="$(mktemp)"
  xargs -P "$(nproc)" -n 4 clang-tidy -p build/native --quiet --warnings-as-errors='*' --extra-arg=-Wno-unknown-warning-option \
    <<<"$files" >"$out" 2>&1 || status=$?
  grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' "$out" || true
  rm -f "$out"
  return $status
}

case "${1:-}" in
  format) check_format ;;
  layering) check_layering ;;
  tidy) check_tidy ;;
  *) echo "usage: $0 format|layering|tidy" >&2; exit 2 ;;
esac
