#!/usr/bin/env bash
# The benchmark: QyrDelay.exe and two reference floor servers, all under the same Wine on
# loopback, measured by the native load generator. Builds what it needs into build/bench-native
# and build/bench-win; raw outputs stay in build/bench-win/run.
#
#   bench/run.sh           one run, one Markdown table
#   bench/run.sh --check   three runs, their three tables; fails, naming the rows, when the
#                          median of a ratio row differs by more than 10% between two runs
#   bench/run.sh --soak    a month in a busy hall: a million commands over TCP and UDP and
#                          100,000 connections against QyrDelay alone, one table
#
# Every round starts QyrDelay afresh in each configuration in turn, so that the rows that compare
# two configurations (kept slots or none, the command log on or off) are measured side by side:
# two kept slots idle, then none idle, throughput, busy connections and latency, then the log on
# and latency again at once. Latency is one connection per server doing round trips one after
# another, so nothing queues, the servers taking turns round trip by round trip; throughput is N
# connections per server, the servers taking turns slice by slice, the first rotating from round
# to round. The table shows the median of the rounds; each ratio is the median of the per-round
# ratios with their lowest and highest, so a burst of load from elsewhere moves one round, not
# the comparison.
#
# Knobs (environment):
#   QYR_BENCH_ROUNDS (5)         rounds
#   QYR_BENCH_MSGS (3000)        measured round trips per latency run (after 200 unmeasured)
#   QYR_BENCH_CONNS (8)          connections of a throughput run
#   QYR_BENCH_BUSY_CONNS (64)    connections of the busy run (fairness)
#   QYR_BENCH_SECONDS (4)        throughput window of each server, a round
#   QYR_BENCH_SLICES (8)         slices the servers take turns in within that window
#   QYR_BENCH_BUSY_SECONDS (1)   the busy run's window of each server, a round, in 4 slices
#   QYR_BENCH_NEWCOMER_PEERS (200) busy peers a new peer's check meets (12 new peers a round)
#   QYR_BENCH_CHURN (10000)      connections opened and closed against each server
#   QYR_BENCH_IDLE (5)           seconds of each idle window, two a round
#   QYR_BENCH_FLOOR_PORT (26999) plain floor's port; the counting floor takes the next one
#   QYR_BENCH_NETNS (1)          run in a private network namespace when possible, so the
#                                program's fixed port never meets another copy (a test run)
#   QYR_BENCH_CPU (0)            the one CPU everything runs on; "all" spreads over every CPU
#   QYR_BENCH_INI_EXTRA ("")     lines added to the program's settings file in every
#                                configuration, to measure with an optional feature on
#   QYR_BENCH_SOAK (1)           the soak's size as a fraction of the full one (0.01: 10,000
#                                commands and 1,000 connections)
#   QYR_BENCH_SOAK_PEERS (8)     peers sending commands at once in the soak
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"
mode="${1:-run}"
case "$mode" in
  run | --check | --soak) ;;
  *) echo "usage: bench/run.sh [--check | --soak]" >&2; exit 2 ;;
esac

if [ "$mode" = --check ]; then
  # Three whole runs, one after the other; each writes its ratio medians where it is told.
  check="$src/build/bench-check"
  rm -rf "$check"
  mkdir -p "$check"
  for i in 1 2 3; do
    echo "[bench] run $i of 3" >&2
    QYR_BENCH_RATIOS="$check/ratios_$i.txt" bash "$0" | tee "$check/table_$i.md" ||
      echo "[bench] run $i failed" >&2
  done
  moved=$(awk -F'\t' '{ key = $1 " (" $2 ")"; v = $3 + 0
      if (!(key in lo) || v < lo[key]) lo[key] = v
      if (!(key in hi) || v > hi[key]) hi[key] = v
      n[key]++ }
    END { for (k in n) if (n[k] < 3 || lo[k] <= 0 || hi[k] / lo[k] > 1.10)
      printf "  %s: %s to %s over %d runs\n", k, lo[k], hi[k], n[k] }' \
    "$check"/ratios_[123].txt | sort)
  if [ -n "$moved" ]; then
    printf '\nRatio rows whose median moved more than 10%% between the runs:\n%s\n' "$moved"
    exit 1
  fi
  printf '\nEvery ratio row'"'"'s median stayed within 10%% over the three runs.\n'
  exit 0
fi

# Everything runs on one CPU: the load generator, the wineserver and the servers. Spread over two,
# a server's round trip took either about 180 or about 600 µs for a whole round, depending on
# where the scheduler had put it beside the wineserver; on one CPU the same rounds agree within a
# few per cent. QYR_BENCH_CPU=all lets them spread.
cpu="${QYR_BENCH_CPU:-0}"
if [ "$cpu" != all ] && [ -z "${QYR_BENCH_PINNED:-}" ] && command -v taskset >/dev/null; then
  exec env QYR_BENCH_PINNED="$cpu" taskset -c "$cpu" bash "$0" "$@"
fi

if [ "${QYR_BENCH_NETNS:-1}" = 1 ] && [ -z "${QYR_BENCH_IN_NETNS:-}" ] &&
  command -v ip >/dev/null && unshare -n true 2>/dev/null; then
  exec env QYR_BENCH_IN_NETNS=1 unshare -n -- bash "$0" "$@"
fi
[ -z "${QYR_BENCH_IN_NETNS:-}" ] || ip link set lo up

rounds="${QYR_BENCH_ROUNDS:-5}"
msgs="${QYR_BENCH_MSGS:-3000}"
conns="${QYR_BENCH_CONNS:-8}"
busy_conns="${QYR_BENCH_BUSY_CONNS:-64}"
window="${QYR_BENCH_SECONDS:-4}"
slices="${QYR_BENCH_SLICES:-8}"
busy_window="${QYR_BENCH_BUSY_SECONDS:-1}"
newcomer_peers="${QYR_BENCH_NEWCOMER_PEERS:-200}"
churn="${QYR_BENCH_CHURN:-10000}"
idle="${QYR_BENCH_IDLE:-5}"
floor_port="${QYR_BENCH_FLOOR_PORT:-26999}"
warmup=200
delays=(1 3 5)
targets=(qyr plain counting)
declare -A port=([qyr]=26908 [plain]="$floor_port" [counting]=$((floor_port + 1)))
declare -A pid

native="$src/build/bench-native"
win="$src/build/bench-win"
out="$win/run"
began=$(date +%s)
say() { echo "[bench $(date +%T)] $*" >&2; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

say "building"
[ -f "$native/build.ninja" ] ||
  cmake --preset native -B "$native" -DQYR_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" --target qyr_load qyrsend >/dev/null
[ -f "$win/build.ninja" ] || cmake --preset windows -B "$win" >/dev/null
cmake --build "$win" --target QyrDelay floor_server launch_probe idle_program process_counts \
  >/dev/null
load="$native/bench/qyr_load"
wine_run=("$src/cmake/wine-run.sh" --root "$win/wine")
prefix="$win/wine/${QYR_WINE_PREFIX:-main}/prefix"

# The runner stops the wineserver it started; a program started while that one was going down
# can leave another behind, in the network namespace of its own run. Stop whatever serves the
# prefix, so the programs of this run cannot join it.
stop_wine() {
  "${wine_run[@]}" --stop || true
  local server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server="$(command -v wineserver || echo true)"
  WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true
}
wrappers=()
cleanup() {
  for p in "${wrappers[@]}"; do kill "$p" 2>/dev/null || true; done
  stop_wine
}
trap cleanup EXIT

if [ -z "${QYR_BENCH_IN_NETNS:-}" ]; then
  # Shared network: another copy of the program (a test run, say) may hold the port.
  for _ in $(seq 60); do
    "$load" wait --port "${port[qyr]}" --timeout 0.2 >/dev/null || break
    sleep 1
  done
  if "$load" wait --port "${port[qyr]}" --timeout 0.2 >/dev/null; then
    say "port ${port[qyr]} is busy; stop what holds it and run again"; exit 1
  fi
fi

load_start=$(loadavg)
say "starting Wine (load average $load_start)"
stop_wine
"${wine_run[@]}" --start
server_pid=$(cat "$win/wine/${QYR_WINE_PREFIX:-main}/server.pid")

rm -rf "$out"
run_dir="$out/QyrNOR_bench"
mkdir -p "$run_dir"
cp "$win/QyrDelay.exe" "$run_dir/"
dos() { echo "Z:${1//\//\\}"; }
hall_key=04b7e08afdfe94bad3f1dc8c734798ba1c62b3a0ad1e9ea2a38201cd0889bc7a193603f747959dbf7a4bb226e41928729063adc7ae43529e61b563bbc606cc5e09

# The settings file of each configuration. Slots without a program, so that nothing is started
# (without a file the first slot would look for a player), except where a configuration says.
settings() {  # settings CONFIG
  local ini="[AUTORUN]"$'\r\n' i
  for i in 0 1 2 3; do
    case "$1:$i" in
      launch:[0-2])
        cp "$win/launch_probe.exe" "$run_dir/probe$i.exe"
        ini+="File$i=$(dos "$run_dir/probe$i.exe")"$'\r\n'"Delay$i=${delays[$i]}"$'\r\n' ;;
      kept:[01])
        cp "$win/idle_program.exe" "$run_dir/kept$i.exe"
        ini+="File$i=$(dos "$run_dir/kept$i.exe")"$'\r\n'"Delay$i=1"$'\r\n'"Restart$i=5"$'\r\n' ;;
      *) ini+="File$i="$'\r\n' ;;
    esac
  done
  case "$1" in log | soak) ini+="[REMOTE]"$'\r\n'"Log=1"$'\r\n' ;; esac
  # A hall key (NIST's published example point): power commands must come signed.
  [ "$1" != signed ] || ini+="[REMOTE]"$'\r\n'"SignedBy=$hall_key"$'\r\n'
  [ -z "${QYR_BENCH_INI_EXTRA:-}" ] || ini+="${QYR_BENCH_INI_EXTRA//$'\n'/$'\r\n'}"$'\r\n'
  printf "%s" "$ini" >"$run_dir/QyrDelay.ini"
}

# The Linux processes of this run's Wine whose command line matches; never another Wine's.
ours() {
  local p
  for p in $(pgrep -f "$1" || true); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && echo "$p"
  done
  return 0
}

# Starts a Windows program; sets pid[name] to the Windows process, not to the runner script.
start() {
  local name="$1" exe="${2##*/}" p
  shift
  "${wine_run[@]}" "$@" </dev/null >/dev/null 2>&1 &
  local wrapper=$!
  wrappers+=("$wrapper")
  for _ in $(seq 100); do
    for p in $(pgrep -P "$wrapper" || true); do
      if { tr '\0' ' ' <"/proc/$p/cmdline"; } 2>/dev/null | grep -qF "$exe"; then
        pid[$name]=$p
        return 0
      fi
    done
    sleep 0.1
  done
  say "$name did not start"; exit 1
}
value() { sed -n "s/^$1=//p" "$2"; }
stop() {  # stop PID...: ends them and waits until they are gone
  local p
  for p in "$@"; do kill "$p" 2>/dev/null || true; done
  for p in "$@"; do
    for _ in $(seq 100); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
  done
}

# QyrDelay in one configuration, serving its port; $1 names the figures it gives.
start_qyr() {  # start_qyr NAME CONFIG
  settings "$2"
  # The instance before holds the port and the one-per-machine mutex until the wineserver has seen
  # its process end, a moment after it is gone: started then, the new one ends at once, as a
  # second instance must, and the old socket still answers for it.
  for _ in $(seq 100); do
    "$load" wait --port "${port[qyr]}" --timeout 0.05 >/dev/null 2>&1 || break
    sleep 0.05
  done
  start "$1" "$run_dir/QyrDelay.exe"
  "$load" wait --port "${port[qyr]}" --timeout 60 >"$out/ready_$1.txt" ||
    { say "QyrDelay ($2) did not open port ${port[qyr]}"; exit 1; }
}

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
fds() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }
# CPU time of all of a process's threads, in nanoseconds: the tick counts of /proc/PID/stat come
# in 10 ms steps, more than a program spends idle in a minute.
cpu_ns() {
  local t sum=0 ns
  for t in /proc/"$1"/task/*/schedstat; do
    read -r ns _ <"$t" 2>/dev/null || continue
    sum=$((sum + ns))
  done
  echo "$sum"
}

# Every figure of every round goes to one file: round, server, figure, value.
results="$out/results.txt"
: >"$results"
failed=()
put() { echo "$1 $2 $3 $4" >>"$results"; }
record() {  # record ROUND SERVER FILE KEY...
  local r="$1" t="$2" file="$3"; shift 3
  for k in "$@"; do put "$r" "$t" "${k%_[0-9]*}" "$(value "$k" "$file")"; done
}

# ---------------------------------------------------------------------------------------------
# The soak: QyrDelay alone with its command log on, several peers sending commands over TCP and
# UDP at once while connections are opened and closed beside them, in two halves; what it holds
# is read before, halfway and at the end.
if [ "$mode" = --soak ]; then
  scale="${QYR_BENCH_SOAK:-1}"
  peers="${QYR_BENCH_SOAK_PEERS:-8}"
  # A half's share, as many over TCP as over UDP.
  commands=$(awk -v s="$scale" 'BEGIN { printf "%d", 2 * int(1000000 * s / 4 + 0.5) }')
  opened=$(awk -v s="$scale" 'BEGIN { printf "%d", 100000 * s / 2 + 0.5 }')
  start_qyr soak soak
  sleep 2  # past the start-up ticks
  # The log is moved aside as it grows, long before it could fill and roll over, so that every
  # line the program writes is still there to be counted.
  harvest="$out/log"
  mkdir -p "$harvest"
  (
    n=0
    while :; do
      [ ! -f "$run_dir/QyrDelay.log" ] || mv "$run_dir/QyrDelay.log" "$harvest/$((n += 1)).log"
      [ -f "$out/soak.done" ] && break
      sleep 0.5
    done
  ) &
  harvester=$!
  declare -A held
  sample() {  # sample WHEN
    local counts="$out/counts_$1.txt"
    kill -0 "${pid[soak]}" 2>/dev/null || { say "QyrDelay is gone ($1)"; exit 1; }
    # A Windows program's lines end in CR LF.
    { "${wine_run[@]}" "$win/process_counts.exe" QyrDelay.exe 2>/dev/null || true; } |
      tr -d '\r' >"$counts"
    held[rss_$1]=$(rss "${pid[soak]}")
    held[fds_$1]=$(fds "${pid[soak]}")
    held[server_fds_$1]=$(fds "$server_pid")
    held[server_rss_$1]=$(rss "$server_pid")
    held[handles_$1]=$(value handles "$counts")
    held[gdi_$1]=$(value gdi_objects "$counts")
    held[user_$1]=$(value user_objects "$counts")
    held[table_$1]=$(value table_handles "$counts")
    held[windows_$1]=$(value windows "$counts")
  }
  half() {  # half N: a half's commands and connections at once
    say "soak, half $1 of 2: $commands commands from $peers peers, $opened connections (load average $(loadavg))"
    local c
    "$load" churn --port "${port[qyr]}" --count "$opened" --parallel 8 --timeout 3600 \
      >"$out/soak_churn_$1.txt" &
    c=$!
    "$load" soak --port "${port[qyr]}" --peers "$peers" --commands "$commands" --timeout 3600 \
      >"$out/soak_$1.txt" || failed+=("soak half $1")
    wait "$c" || failed+=("soak connections, half $1")
    sleep 1  # the log's last lines, and the closed connections let go
  }
  sample before
  half 1
  sample halfway
  half 2
  sample end
  touch "$out/soak.done"
  wait "$harvester"
  [ ! -f "$run_dir/QyrDelay.log" ] || mv "$run_dir/QyrDelay.log" "$harvest/last.log"
  sum() { awk -F= -v k="$1" '$1 == k { s += $2 } END { print s + 0 }' "$out"/soak_[12].txt; }
  sum_churn() { awk -F= -v k="$1" '$1 == k { s += $2 } END { print s + 0 }' "$out"/soak_churn_[12].txt; }
  lines() { cat "$harvest"/*.log | grep -c -- "$1" || true; }
  udp_logged=$(lines ' UDP .* QyrNOR_PC_CHECK -> none')
  tcp_logged=$(( $(lines ' TCP .* QyrNOR_PC_CHECK -> OK') + $(lines ' TCP .* QyrNOR_PC_STATUS -> OK') ))
  # Datagrams the system threw away because the program's queue was full: counted per socket.
  udp_dropped=$(awk -v p="$(printf ':%04X' "${port[qyr]}")" 'NR > 1 && index($2, p) { d += $NF } END { print d + 0 }' /proc/net/udp)
  grow() {  # grow KEY: halfway to end, per cent
    awk -v a="${held[${1}_halfway]:-}" -v b="${held[${1}_end]:-}" 'BEGIN {
      if (a == "" || b == "" || a == 0) print "n/a"
      else printf "%+.2f%%", (b - a) * 100 / a }'
  }
  pass() { awk -v g="$(grow "$1")" 'BEGIN { if (g == "n/a") print "n/a"; else print (g + 0 < 1 ? "yes" : "NO") }'; }
  trow() {  # trow TITLE KEY
    echo "| $1 | ${held[${2}_before]:-?} | ${held[${2}_halfway]:-?} | ${held[${2}_end]:-?} | $(grow "$2") | $(pass "$2") |"
  }
  tcp_sent=$(sum tcp_sent)
  udp_sent=$(sum udp_sent)
  cat <<EOF

QyrDelay soak, $(date -u +%Y-%m-%d), $(nproc --all) cores (run on ${QYR_BENCH_PINNED:+CPU }${QYR_BENCH_PINNED:-all of them}), load average $load_start at the start and $(loadavg) at the end, $(${WINE64:-/usr/lib/wine/wine64} --version 2>/dev/null || echo 'Wine ?'), scale $scale, $peers peers, $(( $(date +%s) - began )) s

| Figure | Before | Halfway | End | Halfway to end | Under 1% |
|---|---|---|---|---|---|
EOF
  trow "resident memory of QyrDelay (KiB)" rss
  trow "open fds of QyrDelay" fds
  trow "handles of QyrDelay (GetProcessHandleCount)" handles
  trow "handles of QyrDelay (its entries in the system's handle table)" table
  trow "GDI objects of QyrDelay (GetGuiResources)" gdi
  trow "USER objects of QyrDelay (GetGuiResources)" user
  trow "windows of QyrDelay (top-level, child and message-only)" windows
  trow "open fds of the wineserver" server_fds
  trow "resident memory of the wineserver (KiB)" server_rss
  echo
  echo "| Traffic | Sent | Answered or handled | Wrong | Missing |"
  echo "|---|---|---|---|---|"
  echo "| TCP commands (every 100th QyrNOR_PC_STATUS), replies | $tcp_sent | $(sum tcp_ok) ($(sum status_ok) status lines) | $(sum wrong) | $(sum missing) |"
  echo "| TCP commands in the command log | $tcp_sent | $tcp_logged | | $((tcp_sent - tcp_logged)) |"
  echo "| UDP commands in the command log (none may be answered: $(sum udp_answered) were) | $udp_sent | $udp_logged | | $((udp_sent - udp_logged)) |"
  echo "| UDP datagrams dropped by the system (queue full) | | $udp_dropped | | |"
  echo "| connections opened and closed | $((opened * 2)) | $(sum_churn completed) | | $((opened * 2 - $(sum_churn completed))) |"
  echo "| commands a second, both protocols | | $(awk -F= '$1 == "rate" { s += $2; n++ } END { printf "%.0f", n ? s / n : 0 }' "$out"/soak_[12].txt) | | |"
  if [ ${#failed[@]} -gt 0 ]; then
    echo
    echo "Incomplete runs (see $out): ${failed[*]}"
    exit 1
  fi
  exit 0
fi

# ---------------------------------------------------------------------------------------------
# The default run. QyrDelay alone first, so nothing else competes with its start-up and launch
# schedule.
start_qyr launch launch
ready=$(value ready_at "$out/ready_launch.txt")
say "launch timing"
launch_rows=()
for i in "${!delays[@]}"; do
  f="$run_dir/probe$i.exe.started"
  for _ in $(seq 200); do [ -f "$f" ] && break; sleep 0.05; done
  if [ -f "$f" ]; then
    launch_rows+=("$(awk -v d="${delays[$i]}" -v a="$(stat -c %.3Y "$f")" -v r="$ready" 'BEGIN {
      printf "| launch slot, delay %d s: started after (s), late by (s) | %.2f / %+.2f | | | | |",
        d, a - r, a - r - (d + 1) }')")
  else
    launch_rows+=("| launch slot, delay ${delays[$i]} s | not started | | | | |")
  fi
done
for _ in $(seq 100); do [ -n "$(ours 'probe[0-9]\.exe')" ] || break; sleep 0.1; done
stop "${pid[launch]}"

start plain "$win/floor_server.exe" "${port[plain]}" 3600
start counting "$win/floor_server.exe" "${port[counting]}" 3600 counting
for t in plain counting; do
  "$load" wait --port "${port[$t]}" --timeout 60 >/dev/null || { say "$t floor did not start"; exit 1; }
done

latency() {  # latency ROUND NAME SERVER...: the servers in turns, one round trip each
  local r="$1" name="$2" t file="$out/latency_$2_$1.txt" ports=()
  shift 2
  for t in "$@"; do ports+=(--port "${port[$t]}"); done
  "$load" latency "${ports[@]}" --msgs "$msgs" --warmup "$warmup" >"$file" ||
    failed+=("latency $name round $r")
  for t in "$@"; do
    record "$r" "$t${name:+_$name}" "$file" "p50_us_${port[$t]}" "p99_us_${port[$t]}"
  done
}
# The three servers in turns, slice by slice, the first rotating from round to round; the CPU
# time per reply is the server's and the wineserver's within the windows.
throughput() {  # throughput ROUND NAME CONNECTIONS SECONDS SLICES
  local r="$1" name="$2" t k args=() file="$out/${2}_$1.txt"
  for k in 0 1 2; do
    t=${targets[$(((r + k) % 3))]}
    args+=(--port "${port[$t]}" --pid "${pid[$t]}")
  done
  "$load" throughput "${args[@]}" --server-pid "$server_pid" --conns "$3" --seconds "$4" \
    --slices "$5" >"$file" || failed+=("$name round $r")
  for t in "${targets[@]}"; do
    k=${port[$t]}
    if [ "$name" = throughput ]; then
      record "$r" "$t" "$file" "throughput_$k" "cpu_us_$k" "fewest_per_conn_$k" "most_per_conn_$k" \
        "longest_wait_ms_$k"
    else
      record "$r" "${t}_busy" "$file" "fewest_per_conn_$k" "most_per_conn_$k" "longest_wait_ms_$k"
    fi
  done
}
idle_window() {  # idle_window ROUND SERVER...: CPU time each spends while nothing happens
  local r="$1" t
  shift
  declare -A c0
  for t in "$@"; do c0[$t]=$(cpu_ns "${pid[$t]}"); done
  sleep "$idle"
  for t in "$@"; do put "$r" "$t" idle_ms "$(awk -v c=$(($(cpu_ns "${pid[$t]}") - ${c0[$t]})) \
    'BEGIN { printf "%.2f", c / 1e6 }')"; done
}

for r in $(seq "$rounds"); do
  say "round $r of $rounds (load average $(loadavg))"
  # Two kept slots, then none: the same idle window, one after the other.
  start_qyr kept kept
  for _ in $(seq 100); do [ "$(ours 'kept[01]\.exe' | wc -l)" -ge 2 ] && break; sleep 0.1; done
  kept_programs=$(ours 'kept[01]\.exe')
  sleep 1  # past the start-up ticks
  idle_window "$r" kept
  stop "${pid[kept]}"
  # shellcheck disable=SC2086  # one pid a word
  stop $kept_programs
  start_qyr qyr off
  sleep 2  # as long as the kept slots' programs took to start, and the same second after
  [ "$r" != 1 ] || for t in "${targets[@]}"; do put 1 "$t" rss_start "$(rss "${pid[$t]}")"; done
  idle_window "$r" "${targets[@]}"
  throughput "$r" throughput "$conns" "$window" "$slices"
  throughput "$r" busy "$busy_conns" "$busy_window" 4
  latency "$r" "" "${targets[@]}"
  # New peers behind a crowd of busy ones that has just arrived: how long each waits for its answer.
  "$load" newcomer --port "${port[qyr]}" --peers "$newcomer_peers" --count 12 --timeout 120 \
    >"$out/newcomer_$r.txt" || failed+=("newcomer round $r")
  record "$r" qyr "$out/newcomer_$r.txt" p50_ms max_ms unanswered
  put "$r" qyr within "$(value within_250ms "$out/newcomer_$r.txt")"
  # The command log on: the same round trips, taking turns with the counting floor, at once.
  stop "${pid[qyr]}"
  rm -f "$run_dir/QyrDelay.log" "$run_dir/QyrDelay.log.1"
  start_qyr qyr_log log
  latency "$r" log qyr counting
  stop "${pid[qyr_log]}"
  log_lines=$(cat "$run_dir/QyrDelay.log.1" "$run_dir/QyrDelay.log" 2>/dev/null | grep -c . || true)
  # With a hall key: a plain check and a power command's whole challenge, in turns on one
  # connection (the signed command is by another key, so nothing powers off).
  start_qyr qyr_signed signed
  "$load" signed --port "${port[qyr]}" --msgs "$msgs" --warmup "$warmup" >"$out/signed_$r.txt" ||
    failed+=("signed round $r")
  record "$r" qyr_signed "$out/signed_$r.txt" check_p50_us nonce_p50_us challenge_p50_us
  stop "${pid[qyr_signed]}"
done

say "churn: $churn connections opened and closed, one server at a time"
start_qyr qyr off
sleep 1
kill -0 "${pid[qyr]}" 2>/dev/null || { say "QyrDelay ended by itself a second after its start"; exit 1; }
declare -A rss_churn churned fds_before fds_after
for t in "${targets[@]}"; do fds_before[$t]=$(fds "${pid[$t]}"); done
server_fds_before=$(fds "$server_pid")
for t in plain counting qyr; do
  "$load" churn --port "${port[$t]}" --count "$churn" --timeout 300 >"$out/churn_$t.txt" ||
    true  # a few connections lost under Wine show in the count
  churned[$t]=$(value completed "$out/churn_$t.txt")
done
# The wineserver lets go of the closed sockets once the program has released them.
for _ in $(seq 50); do [ "$(fds "$server_pid")" -gt "$server_fds_before" ] || break; sleep 0.2; done
server_fds_after=$(fds "$server_pid")
# shellcheck disable=SC2034  # rss_churn is read by name, in three()
for t in "${targets[@]}"; do
  rss_churn[$t]=$(rss "${pid[$t]}")
  fds_after[$t]=$(fds "${pid[$t]}")
done

# median KEY SERVER; ratio KEY SERVER_A SERVER_B: the median of the per-round ratios, and
# "MEDIAN (LOWEST–HIGHEST)" when there are several rounds.
median() { awk -v k="$1" -v t="$2" '$2 == t && $3 == k { print $4 }' "$results" | sort -g |
  awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2];
    else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v k="$1" -v a="$2" -v b="$3" '$3 == k && $2 == a { x[$1] = $4 }
  $3 == k && $2 == b { y[$1] = $4 }
  END { for (r in x) if (r in y && y[r] > 0) print x[r] / y[r] }' "$results" | sort -g |
  awk '{ v[NR] = $1 } END { if (NR == 0) { print "n/a"; exit }
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    if (NR == 1) printf "%.2f", m; else printf "%.2f (%.2f–%.2f)", m, v[1], v[NR] }'; }
# The ratio rows, for --check: row, column, median.
ratios="${QYR_BENCH_RATIOS:-$out/ratios.txt}"
: >"$ratios"
cell() {  # cell ROW COLUMN RATIO: prints the ratio, keeps its median
  printf "%s" "$3"
  [ "${3%% *}" = n/a ] || printf "%s\t%s\t%s\n" "$1" "$2" "${3%% *}" >>"$ratios"
}
f0() { awk -v v="$1" 'BEGIN { if (v == "n/a") print v; else printf "%.0f", v }'; }
row() {  # row TITLE KEY: medians of the three servers, QyrDelay's ratios to the floors
  printf "| %s | %s | %s | %s | %s | %s |\n" "$1" "$(f0 "$(median "$2" qyr)")" \
    "$(f0 "$(median "$2" plain)")" "$(f0 "$(median "$2" counting)")" \
    "$(cell "$1" "QyrDelay / plain" "$(ratio "$2" qyr plain)")" \
    "$(cell "$1" "QyrDelay / counting" "$(ratio "$2" qyr counting)")"
}
three() {  # three TITLE ARRAY: one value per server, ratios of the values
  local -n v="$2"
  printf "| %s | %s | %s | %s | %s | %s |\n" "$1" "${v[qyr]}" "${v[plain]}" "${v[counting]}" \
    "$(cell "$1" "QyrDelay / plain" "$(awk -v a="${v[qyr]}" -v b="${v[plain]}" 'BEGIN { printf "%.2f", a / b }')")" \
    "$(cell "$1" "QyrDelay / counting" "$(awk -v a="${v[qyr]}" -v b="${v[counting]}" 'BEGIN { printf "%.2f", a / b }')")"
}
spread() { printf "%.0f / %.0f" "$(median fewest_per_conn "$1")" "$(median most_per_conn "$1")"; }
waited() { printf "%.0f" "$(median longest_wait_ms "$1")"; }
ms() { awk -v v="$(median idle_ms "$1")" 'BEGIN { printf "%.1f", v }'; }

# qyrsend to a hall of silent PCs: addresses routed into loopback, where nobody answers, in a
# network of its own. The whole hall takes one --timeout, however many PCs it has.
hall_pcs=10000
say "qyrsend to $hall_pcs silent PCs"
hall_seconds=$(unshare -n -- bash -c '
  ip link set lo up && ip route add 10.99.0.0/16 dev lo || exit 1
  for ((i = 0; i < $3; i++)); do echo "10.99.$((i / 250)).$((i % 250 + 1))"; done >"$1"
  start=$(date +%s.%N)
  "$2" --timeout 1000 --hosts "$1" QyrNOR_PC_CHECK >/dev/null
  awk -v a="$start" -v b="$(date +%s.%N)" "BEGIN { printf \"%.2f\", b - a }"' \
  _ "$out/hall.txt" "$native/tools/qyrsend/qyrsend" "$hall_pcs" 2>/dev/null || echo n/a)

cat <<EOF

QyrDelay benchmark, $(date -u +%Y-%m-%d), $(nproc --all) cores (run on ${QYR_BENCH_PINNED:+CPU }${QYR_BENCH_PINNED:-all of them}), load average $load_start at the start and $(loadavg) at the end, loopback$([ -z "${QYR_BENCH_IN_NETNS:-}" ] || echo " (private network)"), $(${WINE64:-/usr/lib/wine/wine64} --version 2>/dev/null || echo 'Wine ?'), $rounds rounds, $(( $(date +%s) - began )) s

| Figure | QyrDelay | Plain floor | Counting floor | QyrDelay / plain | QyrDelay / counting |
|---|---|---|---|---|---|
EOF
row "latency p50, one connection (µs)" p50_us
row "latency p99, one connection (µs)" p99_us
row "CPU per reply under load, server + wineserver (µs)" cpu_us
row "throughput, $conns connections (replies/s)" throughput
for k in p50_us p99_us; do
  title="with the command log on: latency ${k%_us}, one connection (µs)"
  echo "| $title | $(f0 "$(median $k qyr_log)") | | $(f0 "$(median $k counting_log)") | | $(cell "$title" "QyrDelay / counting" "$(ratio $k qyr_log counting_log)") |"
done
title="latency p50 with the log on / off, same round (QyrDelay)"
echo "| $title | $(cell "$title" QyrDelay "$(ratio p50_us qyr_log qyr)") | | | | |"
echo "| lines the command log got in the last round | $log_lines | | | | |"
echo "| with a hall key, one connection in turns: a plain check / the nonce / the whole challenge of a signed power command, p50 (µs) | $(f0 "$(median check_p50_us qyr_signed)") / $(f0 "$(median nonce_p50_us qyr_signed)") / $(f0 "$(median challenge_p50_us qyr_signed)") | | | | |"
echo "| replies of the least / most served connection in $window s, $conns connections | $(spread qyr) | $(spread plain) | $(spread counting) | | |"
echo "| longest wait for a reply, $conns connections (ms) | $(waited qyr) | $(waited plain) | $(waited counting) | | |"
echo "| replies of the least / most served connection in $busy_window s, $busy_conns connections | $(spread qyr_busy) | $(spread plain_busy) | $(spread counting_busy) | | |"
echo "| longest wait for a reply, $busy_conns connections (ms) | $(waited qyr_busy) | $(waited plain_busy) | $(waited counting_busy) | | |"
echo "| a new peer's check behind $newcomer_peers busy peers: answered after, p50 / max (ms) | $(f0 "$(median p50_ms qyr)") / $(f0 "$(median max_ms qyr)") | | | | |"
echo "| new peers of 12 answered within 250 ms / not within 3 s, $newcomer_peers busy peers | $(f0 "$(median within qyr)") / $(f0 "$(median unanswered qyr)") | | | | |"
row "resident memory after start (KiB)" rss_start
three "resident memory after the churn (KiB)" rss_churn
echo "| connections opened and closed (of $churn) | ${churned[qyr]} | ${churned[plain]} | ${churned[counting]} | | |"
echo "| open fds of the server, before / after the churn | ${fds_before[qyr]} / ${fds_after[qyr]} | ${fds_before[plain]} / ${fds_after[plain]} | ${fds_before[counting]} / ${fds_after[counting]} | | |"
echo "| open fds of the wineserver, before / after QyrDelay's churn | $server_fds_before / $server_fds_after | | | | |"
echo "| CPU time while idle for $idle s (ms) | $(ms qyr) | $(ms plain) | $(ms counting) | | |"
echo "| CPU time while idle for $idle s, two kept slots running / none (ms) | $(ms kept) / $(ms qyr) | | | | |"
for row in "${launch_rows[@]}"; do echo "$row"; done
echo "| qyrsend to $hall_pcs silent PCs at --timeout 1000: seconds until its report | $hall_seconds | | | | |"
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "Incomplete runs (see $out): ${failed[*]}"
fi
