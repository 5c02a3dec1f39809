#!/usr/bin/env bash
# The control system on Linux talks to QyrDelay.exe under Wine over real TCP and UDP: a test
# command over TCP is answered "OK"; the same over UDP gets no answer. With an AllowFrom list
# only listed sources are served, an invalid list keeps the port closed, and with Log=1 every
# command is logged with its source and reply. An HTTP request is never a command.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

start_program
[ "$(send QyrNOR_PC_TEST)" = "OK" ] || fail "TCP reply was not OK"
# UDP: the datagram is taken, nothing ever comes back.
[ -z "$(send_udp QyrNOR_PC_TEST)" ] || fail "UDP got an answer"
# Still serving TCP after the datagram.
[ "$(send qyrnor_pc_check)" = "OK" ] || fail "TCP reply after UDP was not OK"
kill -0 "$program" || fail "the program ended"
[ ! -e "$work/QyrDelay.log" ] || fail "a log was written without Log=1"
echo "ok: without a [REMOTE] section every source is served and nothing is logged"

# A range holding the loopback address: served as before, and logged with source and reply.
start_program $'[REMOTE]\nAllowFrom=10.1.2.3, 127.0.0.0/8\nLog=1'
[ "$(send QyrNOR_PC_CHECK)" = "OK" ] || fail "a source inside the list was not answered OK"
[ "$(send hello)" = "ERR" ] || fail "an unknown message from inside the list was not answered ERR"
send_udp QyrNOR_PC_TEST >/dev/null
wait_for_log 'UDP 127\.0\.0\.1:[0-9]+ QyrNOR_PC_TEST -> none' || fail "no log line for the datagram"
grep -qE 'TCP 127\.0\.0\.1:[0-9]+ QyrNOR_PC_CHECK -> OK' "$work/QyrDelay.log" || fail "no log line for the check"
grep -qE 'TCP 127\.0\.0\.1:[0-9]+ unknown "hello" -> ERR' "$work/QyrDelay.log" || fail "no log line for the unknown message"
echo "ok: a source inside the list is answered, and each command is logged with its reply"

# A web page's or curl's request: refused whatever its URL holds, closed without a reply, logged
# once; commands on the next connection are served as before.
start_program $'[REMOTE]\nLog=1'
[ -z "$(curl -s -m 10 'http://127.0.0.1:26908/img.gif?QyrNOR_PC_OFF' 2>/dev/null)" ] ||
  fail "an HTTP request got a reply"
wait_for_log 'TCP 127\.0\.0\.1:[0-9]+ refused: HTTP request "GET /img\.gif\?QyrNOR_PC_OFF HTTP/1\.1' ||
  fail "the HTTP request was not logged"
[ "$(send QyrNOR_PC_CHECK)" = "OK" ] || fail "a check after the HTTP request was not answered OK"
wait_for_log 'QyrNOR_PC_CHECK -> OK' || fail "no log line for the check"
grep -qE 'QyrNOR_PC_OFF -> |power-off requested' "$work/QyrDelay.log" && fail "the HTTP request was obeyed"
[ "$(grep -c 'refused: HTTP request' "$work/QyrDelay.log")" = 1 ] || fail "the HTTP request was not logged once"
echo "ok: an HTTP request is refused and logged, and commands go on"

# A list without the loopback address: closed before anything is read or sent.
start_program $'[REMOTE]\nAllowFrom=192.168.1.10, 10.0.0.0/8\nLog=1'
[ -z "$(send QyrNOR_PC_CHECK)" ] || fail "a source outside the list got a reply"
wait_for_log 'TCP 127\.0\.0\.1:[0-9]+ refused' || fail "the refused connection was not logged"
grep -q 'QyrNOR_PC_CHECK' "$work/QyrDelay.log" && fail "a refused source's command was taken"
# The operator's qyrsend on Linux names the refusal (the native build, made before this one).
qyrsend="$(dirname "$0")/../../build/native/tools/qyrsend/qyrsend"
if [ -x "$qyrsend" ]; then
  said="$("$qyrsend" --timeout 2000 127.0.0.1 QyrNOR_PC_CHECK || true)"
  [ "$said" = "127.0.0.1  refused by the PC" ] || fail "qyrsend said: $said"
fi
echo "ok: a source outside the list gets no reply"

# An invalid list fails closed: the port stays shut, and the log says why.
no_port=1 start_program $'[REMOTE]\nAllowFrom=127.0.0.1, 127.0.0.300\nLog=1'
wait_for_log 'remote control off' || fail "the invalid list was not reported in the log"
port_open && fail "an invalid list left the port open"
echo "ok: an invalid list keeps the port closed"

# A log past 1 MiB moves to QyrDelay.log.1 and starts again.
full=$((1024 * 1024 - 16))
prefill_log=$full start_program $'[REMOTE]\nLog=1'
wait_for_log 'QyrDelay started' || fail "no start line after the rollover"
[ "$(stat -c %s "$work/QyrDelay.log.1")" = "$full" ] || fail "the full log was not kept as QyrDelay.log.1"
[ "$(stat -c %s "$work/QyrDelay.log")" -lt 4096 ] || fail "the log did not start again"
echo "ok: a log past 1 MiB rolls over"

# A datagram with a forged sender (a raw socket; root in this test's own network): with a hall
# key it is refused like any power command over UDP, with Udp=0 it is never read.
forge() { python3 "$(dirname "$0")/forge_datagram.py" 10.1.2.3 127.0.0.1 "$port" "$1"; }
if [ "$(id -u)" = 0 ] && python3 -c 'import socket; socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)' 2>/dev/null; then
  hall_key=04b7e08afdfe94bad3f1dc8c734798ba1c62b3a0ad1e9ea2a38201cd0889bc7a193603f747959dbf7a4bb226e41928729063adc7ae43529e61b563bbc606cc5e09
  start_program $'[REMOTE]\nLog=1\nSignedBy='"$hall_key"
  forge QyrNOR_PC_OFF
  wait_for_log 'UDP [0-9.]+:[0-9]+ QyrNOR_PC_OFF refused: power commands must be signed' ||
    fail "the forged power-off was not refused as unsigned"
  [ "$(send QyrNOR_PC_CHECK)" = "OK" ] || fail "no answer after the forged datagram"
  kill -0 "$program" || fail "the program ended"
  start_program $'[REMOTE]\nLog=1\nUdp=0'
  forge QyrNOR_PC_TEST
  [ "$(send QyrNOR_PC_CHECK)" = "OK" ] || fail "TCP did not answer with Udp=0"
  wait_for_log 'TCP [0-9.]+:[0-9]+ QyrNOR_PC_CHECK -> OK' || fail "the check was not logged"
  grep -qE 'UDP [0-9]' "$work/QyrDelay.log" && fail "a datagram was read with Udp=0"
  grep -q 'UDP closed by Udp=0' "$work/QyrDelay.log" || fail "the log does not say UDP is closed"
  echo "ok: a forged datagram is refused with a hall key and never read with Udp=0"
else
  echo "skipped: a forged datagram needs a raw socket (root)"
fi

