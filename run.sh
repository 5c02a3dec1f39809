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
# A first run gets settings that show the launcher at work: Notepad, which every Wine has,
# starts 5 seconds after the program. Settings that exist are the user's and stay as they are.
ini=build/run/QyrNOR/QyrDelay.ini
if [ ! -e "$ini" ]; then
  printf '[AUTORUN]\r\nFile0=C:\\windows\\notepad.exe\r\nDelay0=5\r\nFile1=\r\nDelay1=15\r\nFile2=\r\nDelay2=20\r\nFile3=\r\nDelay3=25\r\n' >"$ini"
  echo "QyrDelay: wrote $ini for a first run: slot 1 starts Notepad after 5 seconds"
fi
trap 'bash cmake/wine-run.sh --root build/run/wine --stop' EXIT
echo "QyrDelay: build/run/QyrNOR/QyrDelay.exe (settings: build/run/QyrNOR/QyrDelay.ini)"
bash cmake/wine-run.sh --root build/run/wine explorer /desktop=QyrDelay,1024x768 \
  "$PWD/build/run/QyrNOR/QyrDelay.exe"
