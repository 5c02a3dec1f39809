#!/usr/bin/env bash
# Takes a picture of QyrDelay's entry in Wine's notification area: the program runs inside a
# Wine virtual desktop, whose taskbar has a notification area, on a private Xvfb.
#
#   tools/screenshot-tray.sh [BUILD_DIR] [OUT.png]     (defaults: build/windows, docs/tray.png)
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build/windows}" && pwd)"
out="${2:-docs/tray.png}"
[ -f "$build/QyrDelay.exe" ] || { echo "screenshot-tray.sh: build first" >&2; exit 1; }

root="$build/screenshot-tray/wine"
stage="$build/screenshot-tray/QyrDelay"  # holds "qyr", not "qyrnor": no listeners needed
run=(bash cmake/wine-run.sh --root "$root")
unset DISPLAY
trap '"${run[@]}" --stop' EXIT

mkdir -p "$stage" "$(dirname "$out")"
cp "$build/QyrDelay.exe" "$stage/QyrDelay.exe"
"${run[@]}" --start
"${run[@]}" explorer /desktop=shell,640x480 "$stage/QyrDelay.exe" >/dev/null 2>&1 &
sleep 8  # the desktop, its taskbar and the tray entry come up
DISPLAY=":$(head -n1 "$root/main/xvfb.display")"
export DISPLAY
# The right end of the taskbar, four times as large so that the 16 x 16 picture can be seen.
import -window root -crop 160x24+480+456 +repage -filter point -resize 400% "$out"
echo "screenshot-tray.sh: $out"
