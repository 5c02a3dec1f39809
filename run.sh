#!/usr/bin/env bash
# Builds QyrDelay.exe and runs it under Wine from build/run/QyrNOR/, so that its remote
# control listens on port 26908. It runs in a Wine virtual desktop, whose taskbar holds the
# notification area with the program's entry. Without a DISPLAY it runs on a private Xvfb; stop
# with Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target QyrDelay
mkdir -p build/run/QyrNOR
cp build/windows/QyrDelay.exe build/run/QyrNOR/QyrDelay.exe
trap 'bash cmake/wine-run.sh --root build/run/wine --stop' EXIT
echo "QyrDelay: build/run/QyrNOR/QyrDelay.exe (settings: build/run/QyrNOR/QyrDelay.ini)"
bash cmake/wine-run.sh --root build/run/wine explorer /desktop=QyrDelay,1024x768 \
  "$PWD/build/run/QyrNOR/QyrDelay.exe"
