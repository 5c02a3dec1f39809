#!/usr/bin/env bash
# The hall page in headless Chromium against qyrsend serve, fake PCs on 127.0.0.x and the real
# QyrDelay.exe under Wine, which takes port 26908 on every address (the fakes take 26909) and
# obeys only power commands signed with the hall's key; qyrsend.exe serve under the same Wine is
# asked for the page and the API too. Run in a network namespace of its own
# (CTest does: see tools/qyrsend); the Wine prefix is one of its own, started in it.
set -euo pipefail
: "${QYRSEND:?}"
export QYR_WINE_PREFIX=hall
[ -f "${QYR_BUILD_DIR:?}/QyrDelay.exe" ] ||
  { echo "FAILED: no $QYR_BUILD_DIR/QyrDelay.exe: build the windows preset first"; exit 1; }
ip link set lo up 2>/dev/null || true
source "$(dirname "$0")/lib.sh"

"$QYRSEND" keygen --out "$work/hall" >/dev/null
start_program $'[REMOTE]\nLog=1\nSignedBy='"$(cat "$work/hall.pub")"
QYR_PC_PID="$program" /usr/bin/python3 "$(dirname "$0")/hall_page.py" "$QYRSEND" "$work"
# A forced power action ends the program and everything of its Wine prefix.
program=""
