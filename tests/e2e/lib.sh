# Shared by the end-to-end scripts that drive QyrDelay.exe under Wine from Linux, as the
# control system does. Source it after setting QYR_WINE_PREFIX if the script needs its own
# prefix. It makes "$work" (a QyrNOR folder of this run) and cleans up on exit.
: "${QYR_BUILD_DIR:?}" "${QYR_WINE_RUN:?}" "${QYR_WINE_ROOT:?}"
port=26908
work="$QYR_BUILD_DIR/e2e-$(basename "$0" .sh)/QyrNOR_$$"
mkdir -p "$work"
program=""  # the Windows process itself: the runner that starts it may end before it
# shellcheck source=wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

wine() { wine_run "$@"; }
port_open() { timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; }
now() { echo "$EPOCHREALTIME"; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
fail() { echo "FAILED: $*"; exit 1; }

# Gone, and the port with it, before the next test wants it.
stop_program() {
  [ -z "$program" ] || wine_stop_program "$program"
  program=""
}
# A script with a Wine prefix of its own starts that Wine afresh and stops it at the end: it may
# run in a network of its own, where its wineserver (which holds the sockets) must be too.
own_wine() { [ "${QYR_WINE_PREFIX:-main}" != main ] && wine_stop_prefix "$QYR_WINE_PREFIX"; }
finish() {
  stop_program
  own_wine || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT
own_wine || true

# start_program [SETTINGS]: a fresh copy in $work with the given settings file (CR LF added)
# and no log (or one of `prefill_log` bytes), started; waits until its process runs and, unless
# `no_port` is set, its port answers.
start_program() {
  stop_program
  rm -f "$work"/QyrDelay.*
  cp "$QYR_BUILD_DIR/QyrDelay.exe" "$work/QyrDelay.exe"
  [ -z "${1:-}" ] || printf '%s' "$1" | sed 's/$/\r/' >"$work/QyrDelay.ini"
  [ -z "${prefill_log:-}" ] || head -c "$prefill_log" /dev/zero | tr '\0' x >"$work/QyrDelay.log"
  # The port must be ours: give a program that is just ending time to let go of it.
  for _ in $(seq 30); do port_open || break; sleep 1; done
  port_open && fail "port $port is already taken by another program"
  wine_start program 60 "$work/QyrDelay.exe" || fail "the program never started"
  for _ in $(seq 120); do
    if [ -n "${no_port:-}" ] || port_open; then return 0; fi
    kill -0 "$program" 2>/dev/null || fail "the program ended before its port opened"
    sleep 0.5
  done
  fail "the program never came up with its port open"
}

# Sends one command over TCP and prints the reply ("OK", "ERR", or nothing when the program
# closed the connection or did not answer in 10 s); the connection closes after it, as the
# control system's does.
send() {
  (
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf '%s' "$1" >&3
    reply="" rest=""
    IFS= read -r -t 10 -N 2 reply <&3 || true
    if [ "$reply" = ER ]; then IFS= read -r -t 10 -N 1 rest <&3 || true; fi
    printf '%s' "$reply$rest"
  ) 2>/dev/null || true
}
# Sends one datagram; prints whatever comes back within 2 s (the program never answers).
send_udp() { timeout 2 bash -c "exec 4<>/dev/udp/127.0.0.1/$port; printf '%s' '$1' >&4; head -c 1 <&4" 2>/dev/null || true; }

# Waits up to `limit` seconds (10) for a line matching the pattern in the program's log.
wait_for_log() {
  local pattern=$1 limit=${2:-10}
  for _ in $(seq $((limit * 10))); do
    grep -qE -- "$pattern" "$work/QyrDelay.log" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
