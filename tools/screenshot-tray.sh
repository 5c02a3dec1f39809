#!/usr/bin/env bash
# Takes a picture of QyrDelay's entry in Wine's notification area: the program runs inside a
# Wine virtual desktop, whose taskbar has a notification area, on a private Xvfb.
#
#   tools/screenshot-tray.sh [BUILD_DIR] [OUT.png]     (defaults: build/windows, docs/tray.png)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/screenshot-lib.sh
# "qyr" but not "qyrnor" in the path: no listeners needed.
stage_program screenshot-tray QyrDelay docs/tray.png "$@"
"${run[@]}" --start
"${run[@]}" explorer /desktop=shell,640x480 "$stage/QyrDelay.exe" >/dev/null 2>&1 &
sleep 8  # the desktop, its taskbar and the tray entry come up
use_wine_display
# The right end of the taskbar, four times as large so that the 16 x 16 picture can be seen.
import -window root -crop 160x24+480+456 +repage -filter point -resize 400% "$out"
echo "screenshot-tray.sh: $out"
