#!/usr/bin/env bash
# The benchmark: QyrDelay.exe and two reference floor servers, all under the same Wine on
# loopback, measured by the native load generator. Prints one Markdown table. Builds what it
# needs into build/bench-native and build/bench-win; raw outputs stay in build/bench-win/run.
#
# Latency is one connection per server doing round trips one after another, so nothing queues,
# the three servers taking turns round trip by round trip; throughput is N connections over a
# fixed window, one server after the other in an order that rotates from round to round. The
# table shows the median of the rounds, and each ratio is the median of the per-round ratios,
# so a burst of load from elsewhere on the machine moves one round, not the comparison.
#
# Knobs (environment):
#   QYR_BENCH_ROUNDS (5)         rounds of latency and throughput
#   QYR_BENCH_MSGS (3000)        measured round trips per latency run (after 200 unmeasured)
#   QYR_BENCH_CONNS (8)          connections of a throughput run
#   QYR_BENCH_BUSY_CONNS (64)    connections of the busy run (fairness)
#   QYR_BENCH_SECONDS (3)        throughput window, after 0.5 s of warm-up
#   QYR_BENCH_CHURN (10000)      connections opened and closed against each server
#   QYR_BENCH_IDLE (60)          seconds of idle CPU measurement
#   QYR_BENCH_FLOOR_PORT (26999) plain floor's port; the counting floor takes the next one
#   QYR_BENCH_NETNS (1)          run in a private network namespace when possible, so the
#                                program's fixed port never meets another copy (a test run)
#   QYR_BENCH_CPU (0)            the one CPU everything runs on; "all" spreads over every CPU
#   QYR_BENCH_INI_EXTRA ("")     lines added to the program's settings file, e.g.
#                                $'[REMOTE]\nLog=1' to measure with the command log on
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"

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
window="${QYR_BENCH_SECONDS:-3}"
churn="${QYR_BENCH_CHURN:-10000}"
idle="${QYR_BENCH_IDLE:-60}"
floor_port="${QYR_BENCH_FLOOR_PORT:-26999}"
warmup=200
delays=(1 3 5)
targets=(qyr plain counting)
declare -A port=([qyr]=26908 [plain]="$floor_port" [counting]=$((floor_port + 1)))
declare -A pid

native="$src/build/bench-native"
win="$src/build/bench-win"
out="$win/run"
say() { echo "[bench $(date +%T)] $*" >&2; }
loadavg() { cut -d' ' -f1-3 /proc/loadavg; }

say "building"
[ -f "$native/build.ninja" ] ||
  cmake --preset native -B "$native" -DQYR_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" --target qyr_load >/dev/null
[ -f "$win/build.ninja" ] || cmake --preset windows -B "$win" >/dev/null
cmake --build "$win" --target QyrDelay floor_server launch_probe idle_program >/dev/null
load="$native/bench/qyr_load"
wine_run=("$src/cmake/wine-run.sh" --root "$win/wine")

# The runner stops the wineserver it started; a program started while that one was going down
# can leave another behind, in the network namespace of its own run. Stop whatever serves the
# prefix, so the programs of this run cannot join it.
stop_wine() {
  "${wine_run[@]}" --stop || true
  local server=/usr/lib/wine/wineserver
  [ -x "$server" ] || server="$(command -v wineserver || echo true)"
  WINEPREFIX="$win/wine/${QYR_WINE_PREFIX:-main}/prefix" "$server" -k 2>/dev/null || true
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
ini="[AUTORUN]"$'\r\n'
for i in "${!delays[@]}"; do
  cp "$win/launch_probe.exe" "$run_dir/probe$i.exe"
  ini+="File$i=$(dos "$run_dir/probe$i.exe")"$'\r\n'"Delay$i=${delays[$i]}"$'\r\n'
done
[ -z "${QYR_BENCH_INI_EXTRA:-}" ] || ini+="${QYR_BENCH_INI_EXTRA//$'\n'/$'\r\n'}"$'\r\n'
printf "%s" "$ini" >"$run_dir/QyrDelay.ini"

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

# QyrDelay alone first, so nothing else competes with its start-up and launch schedule.
start qyr "$run_dir/QyrDelay.exe"
"$load" wait --port "${port[qyr]}" --timeout 60 >"$out/ready.txt" || true
ready=$(value ready_at "$out/ready.txt")
[ "$ready" != none ] || { say "QyrDelay did not open port ${port[qyr]}"; exit 1; }
kill -0 "${pid[qyr]}" 2>/dev/null || { say "QyrDelay ended at once"; exit 1; }

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
for _ in $(seq 100); do pgrep -f 'probe[0-9]\.exe' >/dev/null || break; sleep 0.1; done

start plain "$win/floor_server.exe" "${port[plain]}" 3600
start counting "$win/floor_server.exe" "${port[counting]}" 3600 counting
for t in plain counting; do
  "$load" wait --port "${port[$t]}" --timeout 60 >/dev/null || { say "$t floor did not start"; exit 1; }
done

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
fds() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }
ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
hz=$(getconf CLK_TCK)
declare -A rss_start rss_churn churned fds_before fds_after idle_ms
for t in "${targets[@]}"; do rss_start[$t]=$(rss "${pid[$t]}"); fds_before[$t]=$(fds "${pid[$t]}"); done

# Every figure of every run goes to one file: round, server, figure, value.
results="$out/results.txt"
: >"$results"
failed=()
record() {  # record ROUND SERVER FILE KEY...
  local r="$1" t="$2" file="$3"; shift 3
  for k in "$@"; do echo "$r $t ${k%_[0-9]*} $(value "$k" "$file")" >>"$results"; done
}
latency() {  # latency ROUND: the three servers in turns, one round trip each
  local r="$1" t file="$out/latency_$1.txt"
  "$load" latency --port "${port[qyr]}" --port "${port[plain]}" --port "${port[counting]}" \
    --msgs "$msgs" --warmup "$warmup" >"$file" || failed+=("latency round $r")
  for t in "${targets[@]}"; do
    record "$r" "$t" "$file" "p50_us_${port[$t]}" "p99_us_${port[$t]}"
  done
}
throughput() {  # throughput ROUND SERVER, with the CPU time it cost the server and the wineserver
  local r="$1" t="$2" c0 c1 file="$out/throughput_${2}_$1.txt"
  c0=$(($(ticks "${pid[$t]}") + $(ticks "$server_pid")))
  "$load" throughput --port "${port[$t]}" --conns "$conns" --seconds "$window" >"$file" ||
    failed+=("throughput $t round $r")
  c1=$(($(ticks "${pid[$t]}") + $(ticks "$server_pid")))
  echo "$r $t cpu_us $(awk -v c=$((c1 - c0)) -v hz="$hz" -v n="$(value all_replies "$file")" \
    'BEGIN { printf "%.1f", (n > 0 ? c * 1e6 / hz / n : 0) }')" >>"$results"
  record "$r" "$t" "$file" throughput fewest_per_conn most_per_conn longest_wait_ms
}
busy() {  # busy ROUND SERVER: as many busy connections as a crowded hall's control systems
  local r="$1" t="$2" file="$out/busy_${2}_$1.txt"
  # Accepted one a notification, behind the chat already under way, 64 connections take a while
  # to be set up: the window starts once they are.
  "$load" throughput --port "${port[$t]}" --conns "$busy_conns" --seconds "$window" \
    --warmup-seconds 2 >"$file" ||
    failed+=("busy $t round $r")
  record "$r" "${t}_busy" "$file" fewest_per_conn most_per_conn longest_wait_ms
}

for r in $(seq "$rounds"); do
  say "round $r of $rounds (load average $(loadavg))"
  latency "$r"
  for k in 0 1 2; do throughput "$r" "${targets[$(((r + k) % 3))]}"; done
  for k in 0 1 2; do busy "$r" "${targets[$(((r + k) % 3))]}"; done
done

say "churn: $churn connections opened and closed, one server at a time"
for t in plain counting qyr; do
  [ "$t" != qyr ] || server_fds_before=$(fds "$server_pid")
  "$load" churn --port "${port[$t]}" --count "$churn" --timeout 300 >"$out/churn_$t.txt" ||
    true  # a few connections lost under Wine show in the count
  churned[$t]=$(value completed "$out/churn_$t.txt")
done
# The wineserver lets go of the closed sockets once the program has released them.
for _ in $(seq 50); do [ "$(fds "$server_pid")" -gt "$server_fds_before" ] || break; sleep 0.2; done
server_fds_after=$(fds "$server_pid")
for t in "${targets[@]}"; do rss_churn[$t]=$(rss "${pid[$t]}"); fds_after[$t]=$(fds "${pid[$t]}"); done

say "idle: $idle s"
declare -A idle0
for t in "${targets[@]}"; do idle0[$t]=$(ticks "${pid[$t]}"); done
sleep "$idle"
for t in "${targets[@]}"; do
  idle_ms[$t]=$((($(ticks "${pid[$t]}") - ${idle0[$t]}) * 1000 / hz))
done

# The command log's cost: QyrDelay once more with [REMOTE] Log=1 (read at start), taking turns
# with the counting floor as above.
say "command log on: $rounds latency rounds"
kill "${pid[qyr]}" 2>/dev/null || true
for _ in $(seq 100); do kill -0 "${pid[qyr]}" 2>/dev/null || break; sleep 0.1; done
printf '[REMOTE]\r\nLog=1\r\n' >"$run_dir/QyrDelay.ini"
rm -f "$run_dir/QyrDelay.log" "$run_dir/QyrDelay.log.1"  # what this run writes, and only that
start qyrlog "$run_dir/QyrDelay.exe"
"$load" wait --port "${port[qyr]}" --timeout 60 >/dev/null || { say "QyrDelay did not come back"; exit 1; }
for r in $(seq "$rounds"); do
  file="$out/latency_log_$r.txt"
  "$load" latency --port "${port[qyr]}" --port "${port[counting]}" --msgs "$msgs" \
    --warmup "$warmup" >"$file" || failed+=("latency with the log, round $r")
  record "$r" qyrlog "$file" "p50_us_${port[qyr]}" "p99_us_${port[qyr]}"
  record "$r" counting_log "$file" "p50_us_${port[counting]}" "p99_us_${port[counting]}"
done
# Both files: the log may have rolled over on the way.
log_lines=$(cat "$run_dir/QyrDelay.log.1" "$run_dir/QyrDelay.log" 2>/dev/null | grep -c . || true)

# What keeping programs running costs while nothing happens: QyrDelay once more, with two kept
# slots whose programs run for good, idle as long as above.
say "two kept slots: idle $idle s"
kill "${pid[qyrlog]}" 2>/dev/null || true
for _ in $(seq 100); do kill -0 "${pid[qyrlog]}" 2>/dev/null || break; sleep 0.1; done
kept_ini="[AUTORUN]"$'\r\n'
for i in 0 1; do
  cp "$win/idle_program.exe" "$run_dir/kept$i.exe"
  kept_ini+="File$i=$(dos "$run_dir/kept$i.exe")"$'\r\nDelay'"$i=1"$'\r\nRestart'"$i=5"$'\r\n'
done
printf "%s" "$kept_ini" >"$run_dir/QyrDelay.ini"
start qyrkept "$run_dir/QyrDelay.exe"
for _ in $(seq 100); do [ "$(pgrep -fc 'kept[01]\.exe' || true)" -ge 2 ] && break; sleep 0.1; done
sleep 2  # past the start-up ticks
kept0=$(ticks "${pid[qyrkept]}")
sleep "$idle"
idle_kept_ms=$((($(ticks "${pid[qyrkept]}") - kept0) * 1000 / hz))
kill "${pid[qyrkept]}" 2>/dev/null || true
pkill -f 'kept[01]\.exe' 2>/dev/null || true

# median KEY SERVER, and ratio KEY SERVER_A SERVER_B (the median of the per-round ratios)
median() { awk -v k="$1" -v t="$2" '$2 == t && $3 == k { print $4 }' "$results" | sort -g |
  awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) print v[(NR + 1) / 2];
    else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v k="$1" -v a="$2" -v b="$3" '$3 == k && $2 == a { x[$1] = $4 }
  $3 == k && $2 == b { y[$1] = $4 }
  END { for (r in x) if (y[r] > 0) print x[r] / y[r] }' "$results" | sort -g |
  awk '{ v[NR] = $1 } END { if (NR == 0) print "n/a"; else if (NR % 2) printf "%.2f", v[(NR + 1) / 2];
    else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
row() {  # row TITLE KEY FORMAT
  local q p c
  q=$(median "$2" qyr); p=$(median "$2" plain); c=$(median "$2" counting)
  printf "| %s | $3 | $3 | $3 | %s | %s |\n" "$1" "$q" "$p" "$c" \
    "$(ratio "$2" qyr plain)" "$(ratio "$2" qyr counting)"
}
three() {  # three TITLE ARRAY: one value per server, ratios of the values
  local -n v="$2"
  printf "| %s | %s | %s | %s | %s | %s |\n" "$1" "${v[qyr]}" "${v[plain]}" "${v[counting]}" \
    "$(div "${v[qyr]}" "${v[plain]}")" "$(div "${v[qyr]}" "${v[counting]}")"
}
spread() { printf "%.0f / %.0f" "$(median fewest_per_conn "$1")" "$(median most_per_conn "$1")"; }
waited() { printf "%.0f" "$(median longest_wait_ms "$1")"; }

cat <<EOF

QyrDelay benchmark, $(date -u +%Y-%m-%d), $(nproc --all) cores (run on ${QYR_BENCH_PINNED:+CPU }${QYR_BENCH_PINNED:-all of them}), load average $load_start at the start and $(loadavg) at the end, loopback$([ -z "${QYR_BENCH_IN_NETNS:-}" ] || echo " (private network)"), $(${WINE64:-/usr/lib/wine/wine64} --version 2>/dev/null || echo 'Wine ?'), $rounds rounds

| Figure | QyrDelay | Plain floor | Counting floor | QyrDelay / plain | QyrDelay / counting |
|---|---|---|---|---|---|
EOF
row "latency p50, one connection (µs)" p50_us "%.0f"
row "latency p99, one connection (µs)" p99_us "%.0f"
row "CPU per reply under load, server + wineserver (µs)" cpu_us "%.0f"
row "throughput, $conns connections (replies/s)" throughput "%.0f"
for k in p50_us p99_us; do
  echo "| with the command log on ($log_lines lines written): latency ${k%_us}, one connection (µs) | $(printf %.0f "$(median $k qyrlog)") | | $(printf %.0f "$(median $k counting_log)") | | $(ratio $k qyrlog counting_log) |"
done
echo "| latency p50 with the log on / off (QyrDelay) | $(div "$(median p50_us qyrlog)" "$(median p50_us qyr)") | | | | |"
echo "| replies of the least / most served connection in $window s, $conns connections | $(spread qyr) | $(spread plain) | $(spread counting) | | |"
echo "| longest wait for a reply, $conns connections (ms) | $(waited qyr) | $(waited plain) | $(waited counting) | | |"
echo "| replies of the least / most served connection in $window s, $busy_conns connections | $(spread qyr_busy) | $(spread plain_busy) | $(spread counting_busy) | | |"
echo "| longest wait for a reply, $busy_conns connections (ms) | $(waited qyr_busy) | $(waited plain_busy) | $(waited counting_busy) | | |"
three "resident memory after start (KiB)" rss_start
three "resident memory after the churn (KiB)" rss_churn
echo "| connections opened and closed (of $churn) | ${churned[qyr]} | ${churned[plain]} | ${churned[counting]} | | |"
echo "| open fds of the server, before / after the churn | ${fds_before[qyr]} / ${fds_after[qyr]} | ${fds_before[plain]} / ${fds_after[plain]} | ${fds_before[counting]} / ${fds_after[counting]} | | |"
echo "| open fds of the wineserver, before / after QyrDelay's churn | $server_fds_before / $server_fds_after | | | | |"
three "CPU time while idle for $idle s (ms)" idle_ms
echo "| CPU time while idle for $idle s with two kept slots running (ms) | $idle_kept_ms | | | | |"
for row in "${launch_rows[@]}"; do echo "$row"; done
if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "Incomplete runs (see $out): ${failed[*]}"
fi
