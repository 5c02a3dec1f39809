#!/usr/bin/env bash
# Takes a picture of QyrDelay's main window under Wine on a private Xvfb.
#
#   tools/screenshot.sh [BUILD_DIR] [OUT.png]      (defaults: build/windows, docs/main-window.png)
#
# Needs the windows build (QyrDelay.exe and its show_window.exe helper), Xvfb, xdotool,
# ImageMagick and a CJK font for the Chinese texts (Debian: fonts-wqy-microhei; all of them come
# with cmake/install-deps.sh). Wine draws the window frame itself here, as there is no window
# manager on the private display.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/screenshot-lib.sh
# "qyr" but not "qyrnor" in the path: no name box, no listeners.
stage_program screenshot QyrDelay docs/main-window.png "$@"
[ -f "$build/show_window.exe" ] || { echo "screenshot.sh: $build/show_window.exe is missing; build first" >&2; exit 1; }
fc-list :lang=zh | grep -q . || { echo "screenshot.sh: no CJK font installed" >&2; exit 1; }
# A typical showroom PC: the player first, then two more programs.
printf '[AUTORUN]\r\nFile0=C:\\QyrNOR\\QyrPlayer_V3.exe\r\nDelay0=10\r\nFile1=C:\\QyrNOR\\Light.exe\r\nDelay1=15\r\nFile2=C:\\QyrNOR\\Audio.exe\r\nDelay2=18\r\nFile3=\r\nDelay3=20\r\n' \
  >"$stage/QyrDelay.ini"

"${run[@]}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"${run[@]}" "$stage/QyrDelay.exe" >/dev/null 2>&1 &
app=$!
"${run[@]}" "$build/show_window.exe"
sleep 3  # let it paint; the uptime figure shows the seconds since start
use_wine_display
window="$(xdotool search --sync --limit 1 --name '延时启动器')"
eval "$(xdotool getwindowgeometry --shell "$window")"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out"
kill "$app" 2>/dev/null || true
echo "screenshot.sh: $out (${WIDTH}x${HEIGHT})"
