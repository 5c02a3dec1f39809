#!/usr/bin/env bash
# The control system powers a PC off or restarts it: QyrDelay.exe answers "OK", counts five
# seconds down and asks for the forced power action, which under Wine ends every process of the
# session. The program is watched from Linux, since nothing in its Wine prefix survives; the
# prefix is one of its own. A click on the status line during the countdown keeps the PC on.
set -euo pipefail
: "${QYR_BUILD_DIR:?}" "${QYR_WINE_RUN:?}" "${QYR_WINE_ROOT:?}"
export QYR_WINE_PREFIX=power
port=26908
work="$QYR_BUILD_DIR/e2e-power/QyrNOR_$$"
mkdir -p "$work"
program=""  # the Windows process itself; the runner that starts it may end before it
stop_program() {
  if [ -n "$program" ]; then
    kill "$program" 2>/dev/null || true
    # Gone, and the port with it, before the next test wants it.
    for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  fi
  program=""
}
finish() {
  stop_program
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
cp "$QYR_BUILD_DIR/QyrDelay.exe" "$work/QyrDelay.exe"
wine() { "$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" "$@"; }
port_open() { timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; }
now() { echo "$EPOCHREALTIME"; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }

start_program() {
  # The port must be ours: give a program that is just ending time to let go of it.
  for _ in $(seq 30); do port_open || break; sleep 1; done
  if port_open; then echo "port $port is already taken by another program"; exit 1; fi
  wine "$work/QyrDelay.exe" >/dev/null 2>&1 &
  for _ in $(seq 120); do
    # Wine names the process by its Windows path, which only this run uses.
    program="$(pgrep -f -x -- "$work/QyrDelay.exe" | head -n1 || true)"
    [ -n "$program" ] && port_open && return 0
    sleep 0.5
  done
  echo "port $port never opened"
  exit 1
}

# Sends one command, prints the reply; the connection closes after it, as the control system's.
send() { timeout 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port; printf '%s' '$1' >&3; head -c 2 <&3"; }

# Waits up to 15 s for the program to end; prints the seconds from `since` to its end.
exit_time() {
  local since=$1
  for _ in $(seq 300); do
    if ! kill -0 "$program" 2>/dev/null; then
      seconds_since "$since"
      return 0
    fi
    sleep 0.05
  done
  echo never
}

for command in QyrNOR_PC_OFF QyrNOR_PC_REBOOT; do
  start_program
  sent=$(now)
  reply="$(send "$command")"
  [ "$reply" = "OK" ] || { echo "$command: reply was '$reply', expected OK"; exit 1; }
  took="$(exit_time "$sent")"
  [ "$took" = never ] || program=""
  if [ "$took" = never ] || awk -v t="$took" 'BEGIN { exit !(t < 4 || t > 8) }'; then
    echo "$command: the program ended after $took s, expected between 4 and 8 s"
    exit 1
  fi
  echo "$command: power action after $took s"
done

# Cancelled by a click on the status line: still running ten seconds after the command.
start_program
sent=$(now)
reply="$(send QyrNOR_PC_OFF)"
[ "$reply" = "OK" ] || { echo "cancel: reply was '$reply', expected OK"; exit 1; }
wine "$QYR_BUILD_DIR/click_status.exe" >/dev/null 2>&1 || { echo "no shutdown screen to click"; exit 1; }
clicked="$(seconds_since "$sent")"
while awk -v t="$(seconds_since "$sent")" 'BEGIN { exit !(t < 10) }'; do sleep 0.2; done
kill -0 "$program" 2>/dev/null || { echo "cancel: the program ended (clicked after $clicked s)"; exit 1; }
reply="$(send QyrNOR_PC_TEST)"
[ "$reply" = "OK" ] || { echo "cancel: the program no longer answers ('$reply')"; exit 1; }
echo "a click on the status line $clicked s into the countdown kept the PC on"
stop_program
