#!/usr/bin/env bash
# The benchmark: QyrDelay.exe and two reference floor servers, all under the same Wine on
# loopback, measured by the native load generator, and the latency again with each server alone
# in a Wine of its own. Installs what it needs as ./test.sh does, builds into build/bench-native
# and build/bench-win; raw outputs stay in build/bench-win/run, and bench/report.py makes the
# table of them.
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
# and latency again at once; last, each server by itself in a Wine of its own, the way a user runs
# QyrDelay, for the same latency. Latency is one connection per server doing round trips one after
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
#   QYR_BENCH_BUSY_SECONDS (2)   the busy run's window of each server, a round, in 8 slices
#   QYR_BENCH_SLICE_PAUSE (250)  milliseconds at least after each throughput slice, and then
#                                until the server and the wineserver are all but idle, before
#                                the next server's: what a server left queued (the counting
#                                floor's notifications) no longer falls into the next one's window
#   QYR_BENCH_NEWCOMER_PEERS (200) busy peers a new peer's check meets (12 new peers a round)
#   QYR_BENCH_CHURN (10000)      connections opened and closed against each server
#   QYR_BENCH_IDLE (5)           seconds of each idle window, two a round
#   QYR_BENCH_ALONE_BLOCK (500)  round trips in a row to one server alone in its Wine
#   QYR_BENCH_ALONE_PAUSE (250)  milliseconds before each such block: the counting floor works
#                                through its queued notifications for a while after its last
#                                reply, and the server timed next paid for it
#   QYR_BENCH_FLOOR_PORT (26999) plain floor's port; the counting floor takes the next one, the
#                                floors alone the two after, the footprint floor the fifth
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
report=(python3 "$src/bench/report.py")

# A fresh machine gets what building and running need, once for the whole run.
if [ -z "${QYR_BENCH_DEPS:-}" ]; then
  bash "$src/cmake/install-deps.sh" >&2 || exit 1
  export QYR_BENCH_DEPS=1
fi

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
  exec "${report[@]}" check "$check"/ratios_{1,2,3}.txt
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
busy_window="${QYR_BENCH_BUSY_SECONDS:-2}"
newcomer_peers="${QYR_BENCH_NEWCOMER_PEERS:-200}"
churn="${QYR_BENCH_CHURN:-10000}"
idle="${QYR_BENCH_IDLE:-5}"
floor_port="${QYR_BENCH_FLOOR_PORT:-26999}"
alone_block="${QYR_BENCH_ALONE_BLOCK:-500}"
alone_pause="${QYR_BENCH_ALONE_PAUSE:-250}"
slice_pause="${QYR_BENCH_SLICE_PAUSE:-250}"
warmup=200
delays=(1 3 5)
targets=(qyr plain counting)
declare -A port=([qyr]=26908 [plain]="$floor_port" [counting]=$((floor_port + 1))
  [plain_alone]=$((floor_port + 2)) [counting_alone]=$((floor_port + 3))
  [footprint]=$((floor_port + 4)))
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
cmake --build "$win" --target QyrDelay floor_server footprint_floor launch_probe idle_program \
  process_counts >/dev/null
load="$native/bench/qyr_load"
export QYR_WINE_RUN="$src/cmake/wine-run.sh" QYR_WINE_ROOT="$win/wine"
# shellcheck source=../tests/e2e/wine.sh
source "$src/tests/e2e/wine.sh"
shared="${QYR_WINE_PREFIX:-main}"
# Each server alone: a prefix of its own that nothing else uses, its Wine started for it.
declare -A alone_prefix=([qyr]=alone_qyr [plain]=alone_plain [counting]=alone_counting)

# Whatever serves this run's prefixes, so the programs of this run cannot join another's.
stop_wines() {
  local name
  for name in "$shared" "${alone_prefix[@]}"; do wine_stop_prefix "$name"; done
}
cleanup() {
  for p in "${wine_wrappers[@]}"; do kill "$p" 2>/dev/null || true; done
  stop_wines
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
stop_wines
# A prefix made once; later runs find it ready.
for t in "${targets[@]}"; do
  wine_run --prefix "${alone_prefix[$t]}" --start
  wine_stop_prefix "${alone_prefix[$t]}"
done
wine_run --prefix "$shared" --start
server_pid=$(cat "$win/wine/$shared/server.pid")

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

ours() { wine_ours "$1" "$shared"; }

# start NAME [--prefix P] EXE ARGS...: a Windows program in this run's Wine (or P's); pid[NAME]
# is the Windows process, not the runner script.
start() {
  local name="$1"
  shift
  wine_start "pid[$name]" 10 "$@" || { say "$name did not start"; exit 1; }
}
value() { sed -n "s/^$1=//p" "$2"; }
stop() { wine_stop_program "$@"; }

# QyrDelay in one configuration, serving its port; $1 names the figures it gives.
start_qyr() {  # start_qyr NAME CONFIG [--prefix P]
  settings "$2"
  # The instance before holds the port and the one-per-machine mutex until the wineserver has seen
  # its process end, a moment after it is gone: started then, the new one ends at once, as a
  # second instance must, and the old socket still answers for it.
  for _ in $(seq 100); do
    "$load" wait --port "${port[qyr]}" --timeout 0.05 >/dev/null 2>&1 || break
    sleep 0.05
  done
  start "$1" "${@:3}" "$run_dir/QyrDelay.exe"
  "$load" wait --port "${port[qyr]}" --timeout 60 >"$out/ready_$1.txt" ||
    { say "QyrDelay ($2) did not open port ${port[qyr]}"; exit 1; }
}

rss() { proc_rss "$@"; }
fds() { proc_fds "$@"; }
cpu_ns() { proc_cpu_ns "$@"; }

# Every figure goes to one file: round ("-" for one taken once), server, figure, value.
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
    { wine_run "$win/process_counts.exe" QyrDelay.exe 2>/dev/null || true; } |
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
for k in conns busy_conns window busy_window newcomer_peers churn idle; do put - run "$k" "${!k}"; done
start_qyr launch launch
ready=$(value ready_at "$out/ready_launch.txt")
say "launch timing"
for i in "${!delays[@]}"; do
  f="$run_dir/probe$i.exe.started"
  for _ in $(seq 200); do [ -f "$f" ] && break; sleep 0.05; done
  after=none
  [ ! -f "$f" ] || after=$(awk -v a="$(stat -c %.3Y "$f")" -v r="$ready" 'BEGIN { printf "%.3f", a - r }')
  put - launch "delay_${delays[$i]}_after_s" "$after"
done
for _ in $(seq 100); do [ -n "$(ours 'probe[0-9]\.exe')" ] || break; sleep 0.1; done
stop "${pid[launch]}"

start plain "$win/floor_server.exe" "${port[plain]}" 3600
start counting "$win/floor_server.exe" "${port[counting]}" 3600 counting
start footprint "$win/footprint_floor.exe" "${port[footprint]}" 3600
for t in plain counting footprint; do
  "$load" wait --port "${port[$t]}" --timeout 60 >/dev/null || { say "$t floor did not start"; exit 1; }
done

latency() {  # latency ROUND NAME SERVER...: the servers in turns, one round trip each
  local r="$1" name="$2" t file="$out/latency_$2_$1.txt" ports=() p
  shift 2
  for t in "$@"; do
    p=${port[$t${name:+_$name}]:-${port[$t]}}
    ports+=(--port "$p")
  done
  "$load" latency "${ports[@]}" --msgs "$msgs" --warmup "$warmup" --block "${block:-1}" \
    --pause "${pause:-0}" >"$file" ||
    failed+=("latency $name round $r")
  for t in "$@"; do
    p=${port[$t${name:+_$name}]:-${port[$t]}}
    record "$r" "$t${name:+_$name}" "$file" "p50_us_$p" "p99_us_$p"
    [ "${block:-1}" -lt 100 ] || record "$r" "$t${name:+_$name}" "$file" "p99_blocks_us_$p"
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
    --slices "$5" --pause "$slice_pause" >"$file" || failed+=("$name round $r")
  for t in "${targets[@]}"; do
    k=${port[$t]}
    if [ "$name" = throughput ]; then
      record "$r" "$t" "$file" "throughput_$k" "cpu_us_$k" "fewest_per_conn_$k" "most_per_conn_$k" \
        "longest_wait_ms_$k"
    else
      record "$r" "${t}_busy" "$file" "throughput_$k" "fewest_per_conn_$k" "most_per_conn_$k" \
        "longest_wait_ms_$k"
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
# Each server by itself in a Wine of its own: three Wines started afresh, one server in each and
# nothing else, the same round trips taking turns in blocks (so that load from elsewhere falls on
# all alike, while within a block a server runs as it does alone), then the three Wines stopped.
# Taking turns round trip by round trip hid what a server costs alone: the counting floor's round
# trip came out as the plain floor's, a quarter to a third above it by itself or in blocks.
# QyrDelay's shared instance is stopped by then.
alone() {  # alone ROUND
  local r="$1" t block="$alone_block" pause="$alone_pause"
  for t in "${targets[@]}"; do wine_run --prefix "${alone_prefix[$t]}" --start; done
  start_qyr qyr_alone off --prefix "${alone_prefix[qyr]}"
  start plain_alone --prefix "${alone_prefix[plain]}" "$win/floor_server.exe" \
    "${port[plain_alone]}" 3600
  start counting_alone --prefix "${alone_prefix[counting]}" "$win/floor_server.exe" \
    "${port[counting_alone]}" 3600 counting
  for t in plain counting; do
    "$load" wait --port "${port[${t}_alone]}" --timeout 60 >/dev/null ||
      { say "$t floor alone did not start"; exit 1; }
  done
  latency "$r" alone "${targets[@]}"
  stop "${pid[qyr_alone]}" "${pid[plain_alone]}" "${pid[counting_alone]}"
  for t in "${targets[@]}"; do wine_stop_prefix "${alone_prefix[$t]}"; done
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
  [ "$r" != 1 ] || for t in "${targets[@]}" footprint; do put 1 "$t" rss_start "$(rss "${pid[$t]}")"; done
  idle_window "$r" "${targets[@]}"
  throughput "$r" throughput "$conns" "$window" "$slices"
  throughput "$r" busy "$busy_conns" "$busy_window" 8
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
  alone "$r"
done
put - qyr_log lines "$log_lines"

say "churn: $churn connections opened and closed, one server at a time"
start_qyr qyr off
sleep 1
kill -0 "${pid[qyr]}" 2>/dev/null || { say "QyrDelay ended by itself a second after its start"; exit 1; }
for t in "${targets[@]}"; do put - "$t" fds_before "$(fds "${pid[$t]}")"; done
server_fds_before=$(fds "$server_pid")
put - wineserver fds_before "$server_fds_before"
for t in plain counting qyr; do
  "$load" churn --port "${port[$t]}" --count "$churn" --timeout 300 >"$out/churn_$t.txt" ||
    true  # a few connections lost under Wine show in the count
  put - "$t" churned "$(value completed "$out/churn_$t.txt")"
done
# The wineserver lets go of the closed sockets once the program has released them.
for _ in $(seq 50); do [ "$(fds "$server_pid")" -gt "$server_fds_before" ] || break; sleep 0.2; done
put - wineserver fds_after "$(fds "$server_pid")"
for t in "${targets[@]}"; do
  put - "$t" rss_churn "$(rss "${pid[$t]}")"
  put - "$t" fds_after "$(fds "${pid[$t]}")"
done

# qyrsend to a hall of silent PCs: addresses routed into loopback, where nobody answers, in a
# network of its own. The whole hall takes one --timeout, however many PCs it has.
hall_pcs=10000
say "qyrsend to $hall_pcs silent PCs"
put - qyrsend hall_pcs "$hall_pcs"
put - qyrsend hall_seconds "$(unshare -n -- bash -c '
  ip link set lo up && ip route add 10.99.0.0/16 dev lo || exit 1
  for ((i = 0; i < $3; i++)); do echo "10.99.$((i / 250)).$((i % 250 + 1))"; done >"$1"
  start=$(date +%s.%N)
  "$2" --timeout 1000 --hosts "$1" QyrNOR_PC_CHECK >/dev/null
  awk -v a="$start" -v b="$(date +%s.%N)" "BEGIN { printf \"%.2f\", b - a }"' \
  _ "$out/hall.txt" "$native/tools/qyrsend/qyrsend" "$hall_pcs" 2>/dev/null || echo n/a)"

# The hall side at 1,000 PCs, in a network of its own: one status sweep with 100 silent PCs
# (one timeout, however many), the resident memory of qyrsend serve, and the page's load time in
# headless Chromium.
say "qyrsend: a hall of 1,000 PCs, its sweep, serve and the page"
declare -A hall1000=([sweep_s]="n/a n/a" [serve_rss_kib]=n/a [page_load_ms]=n/a)
mkdir -p "$out/hall1000"
while read -r key value; do hall1000[$key]="$value"; done < <(unshare -n -- bash -c \
  'ip link set lo up && exec /usr/bin/python3 "$1/bench/hall_bench.py" "$2" "$3"' \
  _ "$src" "$native/tools/qyrsend/qyrsend" "$out/hall1000" 2>/dev/null || true)
read -r sweep_timeout sweep_took <<<"${hall1000[sweep_s]}"
put - qyrsend sweep_timeout "$sweep_timeout"
put - qyrsend sweep_took "$sweep_took"
put - qyrsend serve_rss_kib "${hall1000[serve_rss_kib]}"
put - qyrsend page_load_ms "${hall1000[page_load_ms]}"

cat <<EOF

QyrDelay benchmark, $(date -u +%Y-%m-%d), $(nproc --all) cores (run on ${QYR_BENCH_PINNED:+CPU }${QYR_BENCH_PINNED:-all of them}), load average $load_start at the start and $(loadavg) at the end, loopback$([ -z "${QYR_BENCH_IN_NETNS:-}" ] || echo " (private network)"), $(${WINE64:-/usr/lib/wine/wine64} --version 2>/dev/null || echo 'Wine ?'), $rounds rounds, $(( $(date +%s) - began )) s

EOF
# The ratio rows' medians, for --check: row, column, median.
"${report[@]}" table "$results" --ratios "${QYR_BENCH_RATIOS:-$out/ratios.txt}"
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "Incomplete runs (see $out): ${failed[*]}"
fi
