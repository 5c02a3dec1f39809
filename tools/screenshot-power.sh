#!/usr/bin/env bash
# Takes a picture of the shutdown screen: the program, in a Wine virtual desktop on a private
# Xvfb, gets "QyrNOR_PC_OFF" over TCP and the picture is taken two seconds into the countdown.
# The countdown then ends that Wine session, which belongs to this script alone.
#
#   tools/screenshot-power.sh [BUILD_DIR] [OUT.png]   (defaults: build/windows, docs/shutdown-screen.png)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/screenshot-lib.sh
# The listeners open only under a QyrNOR path.
stage_program screenshot-power QyrNOR docs/shutdown-screen.png "$@"
printf '[AUTORUN]\r\nFile0=\r\n' >"$stage/QyrDelay.ini"
"${run[@]}" --start
"${run[@]}" explorer /desktop=shell,800x600 "$stage/QyrDelay.exe" >/dev/null 2>&1 &
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/26908) 2>/dev/null && break
  sleep 0.2
done
exec 3<>/dev/tcp/127.0.0.1/26908
printf 'QyrNOR_PC_OFF' >&3
sleep 2.5
use_wine_display
import -window root -crop 800x600+0+0 +repage "$out"
exec 3>&-
echo "screenshot-power.sh: $out"
