#!/usr/bin/env bash
# The hall page in headless Chromium against qyrsend serve and fake PCs on 127.0.0.x; run in a
# network namespace of its own (CTest does: see tools/qyrsend-hall).
set -euo pipefail
: "${QYRSEND_HALL:?}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ip link set lo up 2>/dev/null || true
/usr/bin/python3 "$(dirname "$0")/hall_page.py" "$QYRSEND_HALL" "$work"
