# What the Wine screenshot scripts share; sourced, not run.
#
#   stage_program NAME STAGE DEFAULT_OUT [BUILD_DIR] [OUT.png]
#
# Sets build, out, root (a Wine of the script's own under the build), stage (a folder named
# STAGE holding a copy of QyrDelay.exe: its name decides whether the listeners open), run (the
# Wine runner for that root) and display(), and stops that Wine when the script ends.
stage_program() {
  local name="$1" stage_name="$2" default_out="$3"
  build="$(cd "${4:-build/windows}" && pwd)"
  out="${5:-$default_out}"
  [ -f "$build/QyrDelay.exe" ] || { echo "$name.sh: $build/QyrDelay.exe is missing; build first" >&2; exit 1; }
  root="$build/$name/wine"
  stage="$build/$name/$stage_name"
  run=(bash cmake/wine-run.sh --root "$root")
  unset DISPLAY
  trap '"${run[@]}" --stop' EXIT
  mkdir -p "$stage" "$(dirname "$out")"
  cp "$build/QyrDelay.exe" "$stage/QyrDelay.exe"
}

# Points DISPLAY at the private Xvfb of the script's Wine, once it runs.
use_wine_display() {
  DISPLAY=":$(head -n1 "$root/main/xvfb.display")"
  export DISPLAY
}
