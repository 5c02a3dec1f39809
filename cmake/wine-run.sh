#!/usr/bin/env bash
# Runs Windows programs under a private Wine kept inside the build tree.
#
#   wine-run.sh --root DIR [--prefix NAME] PROGRAM [ARGS...]   run one program
#   wine-run.sh --root DIR [--prefix NAME] --start             set up and keep Wine running
#   wine-run.sh --root DIR --stop                              stop everything started under DIR
#   wine-run.sh --root DIR --prefix NAME --stop                stop what was started for NAME
#
# Each prefix lives in DIR/NAME/prefix (NAME defaults to $QYR_WINE_PREFIX or "main"). The first
# caller creates it under a lock, so parallel tests are safe. One persistent wineserver per prefix
# serves every test process; it is started with its standard streams on /dev/null, because the
# services Wine spawns would otherwise hold the caller's output pipe open. Without a DISPLAY a
# private Xvfb is started for each prefix. Only what this script started is ever stopped.
set -euo pipefail

root=""
name="${QYR_WINE_PREFIX:-main}"
only=""  # --prefix given: --stop stops that prefix alone
action=run
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root="$2"; shift 2 ;;
    --prefix) name="$2"; only="$2"; shift 2 ;;
    --start) action=start; shift ;;
    --stop) action=stop; shift ;;
    *) break ;;
  esac
done
[ -n "$root" ] || { echo "wine-run.sh: --root is required" >&2; exit 2; }
mkdir -p "$root"
root="$(cd "$root" && pwd)"

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINE64" ] || WINE64="$(command -v wine64 || command -v wine)"
[ -x "$WINESERVER" ] || WINESERVER="$(command -v wineserver)"

state="$root/$name"
export WINEPREFIX="$state/prefix"
export WINEARCH=win64
export WINEDEBUG="${QYR_WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
# Code page 936 for the ANSI and OEM code pages; keep it the same for the whole run.
export LANG=zh_CN.UTF-8
export LC_ALL=zh_CN.UTF-8

ensure_locale() {
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    if [ "$(id -u)" = 0 ] && command -v localedef >/dev/null; then
      localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 >/dev/null 2>&1 || true
    else
      echo "wine-run.sh: locale zh_CN.UTF-8 is missing; generate it (locale-gen)" >&2
    fi
  fi
}

alive() { [ -f "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

ensure_display() {
  [ -z "${DISPLAY:-}" ] || return 0
  # One private X server per prefix: a prefix being set up (its desktop, its tray) must not
  # meet the windows of another prefix's tests.
  mkdir -p "$state"
  exec 8>"$state/xvfb.lock"
  flock 8
  if ! alive "$state/xvfb.pid"; then
    rm -f "$state/xvfb.display"
    # Only the abstract socket, which belongs to the network namespace: a test in a network of
    # its own then gets a display of its own, and never takes over the socket file of another's.
    Xvfb -displayfd 7 -screen 0 1280x1024x24 -nolisten tcp -nolisten unix 7>"$state/xvfb.display" \
      </dev/null >/dev/null 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 100); do [ -s "$state/xvfb.display" ] && break; sleep 0.1; done
  fi
  flock -u 8
  exec 8>&-
  DISPLAY=":$(head -n1 "$state/xvfb.display")"
  export DISPLAY
}

ensure_wine() {
  mkdir -p "$state"
  exec 9>"$state/lock"
  flock 9
  if [ ! -f "$state/ready" ]; then
    rm -rf "$WINEPREFIX"
    "$WINE64" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
    touch "$state/ready"
  fi
  if ! alive "$state/server.pid"; then
    setsid "$WINESERVER" -f -p </dev/null >/dev/null 2>&1 &
    echo $! >"$state/server.pid"
    "$WINE64" wineboot </dev/null >/dev/null 2>&1 || true
  fi
  flock -u 9
  exec 9>&-
}

stop_all() {
  local dirs=("$root"/*/)
  [ -z "$only" ] || dirs=("$root/$only/")
  for dir in "${dirs[@]}"; do
    [ -d "$dir" ] || continue
    if [ -f "$dir/server.pid" ]; then
      if alive "$dir/server.pid"; then
        WINEPREFIX="$dir/prefix" "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
        kill "$(cat "$dir/server.pid")" 2>/dev/null || true
      fi
      rm -f "$dir/server.pid"
    fi
    if alive "$dir/xvfb.pid"; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
    rm -f "$dir/xvfb.pid" "$dir/xvfb.display"
  done
}

case "$action" in
  stop) stop_all ;;
  start) ensure_locale; ensure_display; ensure_wine ;;
  run)
    ensure_locale
    ensure_display
    ensure_wine
    # The program writes to a file, never to the caller's pipe: a Wine system process it causes
    # to start (the desktop's explorer, say) would inherit the pipe and hold the caller's end
    # open long after the program is gone. A reader of our own copies the file out as it grows
    # and ends with the program, so a test stopped by its time limit still shows how far it got.
    out="$(mktemp)"
    trap 'rm -f "$out"' EXIT
    status=0
    "$WINE64" "$@" </dev/null >"$out" 2>&1 &
    program=$!
    tail -s 0.1 -n +1 -f --pid="$program" "$out" &
    reader=$!
    wait "$program" || status=$?
    wait "$reader" 2>/dev/null || true
    exit "$status"
    ;;
esac
