#!/usr/bin/env bash
# The control system powers a PC off or restarts it: QyrDelay.exe answers "OK", counts five
# seconds down and asks for the forced power action, which under Wine ends every process of the
# session. The program is watched from Linux, since nothing in its Wine prefix survives; the
# prefix is one of its own. A click on the status line during the countdown keeps the PC on. The
# clock's power-off shows the same screen.
set -euo pipefail
export QYR_WINE_PREFIX=power
source "$(dirname "$0")/lib.sh"

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

for command in QyrNOR_PC_OFF:power-off QyrNOR_PC_REBOOT:restart; do
  action=${command#*:} command=${command%:*}
  start_program $'[REMOTE]\nLog=1'
  sent=$(now)
  reply="$(send "$command")"
  [ "$reply" = "OK" ] || fail "$command: reply was '$reply', expected OK"
  took="$(exit_time "$sent")"
  [ "$took" = never ] || program=""
  if [ "$took" = never ] || awk -v t="$took" 'BEGIN { exit !(t < 4 || t > 8) }'; then
    echo "$command: the program ended after $took s, expected between 4 and 8 s"
    exit 1
  fi
  grep -q "$action requested (privilege steps ok)" "$work/QyrDelay.log" ||
    fail "$command: the power action is not in the log"
  echo "$command: power action after $took s, logged"
done

# Cancelled by a click on the status line: still running ten seconds after the command.
start_program
sent=$(now)
reply="$(send QyrNOR_PC_OFF)"
[ "$reply" = "OK" ] || fail "cancel: reply was '$reply', expected OK"
wine "$QYR_BUILD_DIR/click_status.exe" >/dev/null 2>&1 || { echo "no shutdown screen to click"; exit 1; }
clicked="$(seconds_since "$sent")"
while awk -v t="$(seconds_since "$sent")" 'BEGIN { exit !(t < 10) }'; do sleep 0.2; done
kill -0 "$program" 2>/dev/null || { echo "cancel: the program ended (clicked after $clicked s)"; exit 1; }
reply="$(send QyrNOR_PC_TEST)"
[ "$reply" = "OK" ] || { echo "cancel: the program no longer answers ('$reply')"; exit 1; }
echo "a click on the status line $clicked s into the countdown kept the PC on"

# Power by the clock: OffAt a minute or two ahead (never the minute the program starts in, which
# does not fire) brings up the same countdown screen, and a click on its status line cancels it.
# At least 15 s for the start, so that the program's own start minute is never the one set.
now_s=$(date +%s)
target_s=$(((now_s / 60 + ((now_s % 60) < 45 ? 1 : 2)) * 60))
target=$(date -d "@$target_s" +%H:%M)
start_program $'[REMOTE]\nLog=1\n[POWER]\nOffAt='"$target"
while [ "$(date +%s)" -lt "$target_s" ]; do sleep 0.5; done
wine "$QYR_BUILD_DIR/click_status.exe" >/dev/null 2>&1 || fail "clock: no countdown screen at $target"
sleep 8
kill -0 "$program" 2>/dev/null || fail "clock: the click did not keep the PC on"
grep -q 'power-off by the clock' "$work/QyrDelay.log" || fail "clock: the power-off by the clock is not in the log"
grep -q 'countdown cancelled at the PC' "$work/QyrDelay.log" || fail "clock: the cancel is not in the log"
echo "OffAt=$target brought up the countdown screen, and a click on the status line kept the PC on"

# A power command from a source outside the AllowFrom list changes nothing: once the refusal is
# in the log, the PC is still on after the countdown would have ended.
start_program $'[REMOTE]\nAllowFrom=192.168.1.0/24\nLog=1'
sent=$(now)
[ -z "$(send QyrNOR_PC_OFF)" ] || fail "refused: a source outside the list got a reply"
send_udp QyrNOR_PC_REBOOT >/dev/null
wait_for_log 'UDP 127\.0\.0\.1:[0-9]+ refused' || fail "refused: the datagram's refusal was not logged"
grep -qE 'TCP 127\.0\.0\.1:[0-9]+ refused' "$work/QyrDelay.log" || fail "refused: the connection's refusal was not logged"
while awk -v t="$(seconds_since "$sent")" 'BEGIN { exit !(t < 8) }'; do sleep 0.2; done
kill -0 "$program" 2>/dev/null || fail "refused: the program ended"
grep -q 'requested' "$work/QyrDelay.log" && fail "refused: a power action was requested"
echo "power commands from outside the AllowFrom list keep the PC on"
stop_program
