#!/usr/bin/env bash
# The control system on Linux talks to QyrDelay.exe under Wine over real TCP and UDP:
# a test command over TCP is answered "OK"; the same over UDP gets no answer.
set -euo pipefail
: "${QYR_BUILD_DIR:?}" "${QYR_WINE_RUN:?}" "${QYR_WINE_ROOT:?}"
port=26908
work="$QYR_BUILD_DIR/e2e-remote/QyrNOR_$$"
mkdir -p "$work"
program=""  # the Windows process itself: the runner that starts it may end before it
finish() {
  if [ -n "$program" ]; then
    kill "$program" 2>/dev/null || true
    # Gone, and the port with it, before the next test wants it.
    for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
cp "$QYR_BUILD_DIR/QyrDelay.exe" "$work/QyrDelay.exe"
# The port must be ours: give a program that is just ending time to let go of it.
port_open() { timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; }
for _ in $(seq 30); do port_open || break; sleep 1; done
if port_open; then echo "port $port is already taken by another program"; exit 1; fi

"$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" "$work/QyrDelay.exe" >/dev/null 2>&1 &

listening=no
for _ in $(seq 120); do
  # Wine names the process by its Windows path, which only this run uses.
  program="$(pgrep -f -x -- "$work/QyrDelay.exe" | head -n1 || true)"
  if [ -n "$program" ] && port_open; then listening=yes; break; fi
  sleep 0.5
done
[ "$listening" = yes ] || { echo "port $port never opened"; exit 1; }

reply="$(timeout 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port; printf 'QyrNOR_PC_TEST' >&3; head -c 2 <&3")"
[ "$reply" = "OK" ] || { echo "TCP reply was '$reply', expected OK"; exit 1; }

# UDP: the datagram is taken, nothing ever comes back.
udp_reply="$(timeout 3 bash -c "exec 4<>/dev/udp/127.0.0.1/$port; printf 'QyrNOR_PC_TEST' >&4; head -c 1 <&4" || true)"
[ -z "$udp_reply" ] || { echo "UDP got an answer: '$udp_reply'"; exit 1; }

# Still serving TCP after the datagram.
reply="$(timeout 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port; printf 'qyrnor_pc_check' >&3; head -c 2 <&3")"
[ "$reply" = "OK" ] || { echo "TCP reply after UDP was '$reply'"; exit 1; }
kill -0 "$program" || { echo "the program ended"; exit 1; }
echo "remote control answers TCP and stays silent on UDP"
