#!/usr/bin/env bash
# The benchmark: QyrDelay.exe and the reference floor server, both under the same Wine on
# loopback, measured by the native load generator. Prints the figures and their ratio to the
# floor. Builds what it needs into build/bench-native and build/bench-win.
#
# Knobs (environment): QYR_BENCH_CONNS (8), QYR_BENCH_MSGS (500), QYR_BENCH_CHURN (10000),
# QYR_BENCH_IDLE seconds (60), QYR_BENCH_FLOOR_PORT (26999).
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"
conns="${QYR_BENCH_CONNS:-8}"
msgs="${QYR_BENCH_MSGS:-500}"
churn="${QYR_BENCH_CHURN:-10000}"
idle="${QYR_BENCH_IDLE:-60}"
floor_port="${QYR_BENCH_FLOOR_PORT:-26999}"
port=26908
delays=(1 3 5)

native="$src/build/bench-native"
win="$src/build/bench-win"
say() { echo "[bench $(date +%T)] $*" >&2; }

say "building"
[ -f "$native/build.ninja" ] ||
  cmake --preset native -B "$native" -DQYR_SANITIZE=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$native" --target qyr_load >/dev/null
[ -f "$win/build.ninja" ] || cmake --preset windows -B "$win" >/dev/null
cmake --build "$win" --target QyrDelay floor_server launch_probe >/dev/null
load="$native/bench/qyr_load"
wine_run=("$src/cmake/wine-run.sh" --root "$win/wine")

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "${wine_run[@]}" --stop || true
}
trap cleanup EXIT

# Another copy of the program (a test run, say) may hold the port; wait for it to let go.
for _ in $(seq 60); do
  "$load" wait --port "$port" --timeout 0.2 >/dev/null || break
  sleep 1
done
if "$load" wait --port "$port" --timeout 0.2 >/dev/null; then
  say "port $port is busy; stop what holds it and run again"; exit 1
fi

say "starting Wine"
"${wine_run[@]}" --start

run_dir="$win/run/QyrNOR_bench"
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$win/QyrDelay.exe" "$run_dir/"
dos() { echo "Z:${1//\//\\}"; }
ini="[AUTORUN]"$'\r\n'
for i in "${!delays[@]}"; do
  cp "$win/launch_probe.exe" "$run_dir/probe$i.exe"
  ini+="File$i=$(dos "$run_dir/probe$i.exe")"$'\r\n'"Delay$i=${delays[$i]}"$'\r\n'
done
printf "%s" "$ini" >"$run_dir/QyrDelay.ini"

"${wine_run[@]}" "$win/floor_server.exe" "$floor_port" 900 </dev/null >/dev/null 2>&1 &
floor_pid=$!
pids+=("$floor_pid")
"${wine_run[@]}" "$run_dir/QyrDelay.exe" </dev/null >/dev/null 2>&1 &
qyr_pid=$!
pids+=("$qyr_pid")

# The Windows process itself, not the runner that started it: Wine names it by the path given.
program_pid() {
  local found=""
  for _ in $(seq 100); do
    found="$(pgrep -f -- "^$1( |\$)" | head -n1 || true)"
    [ -n "$found" ] && break
    sleep 0.1
  done
  echo "$found"
}
value() { sed -n "s/^$1=//p"; }
ready=$("$load" wait --port "$port" --timeout 60 | value ready_at)
"$load" wait --port "$floor_port" --timeout 60 >/dev/null
qyr_pid=$(program_pid "$run_dir/QyrDelay.exe")
floor_pid=$(program_pid "$win/floor_server.exe")
pids+=("$qyr_pid" "$floor_pid")
[ "$ready" != none ] || { say "QyrDelay did not open port $port"; exit 1; }
kill -0 "$qyr_pid" 2>/dev/null || { say "QyrDelay ended at once (another copy in this Wine?)"; exit 1; }

say "launch timing"
launch_rows=()
for i in "${!delays[@]}"; do
  f="$run_dir/probe$i.exe.started"
  for _ in $(seq 200); do [ -f "$f" ] && break; sleep 0.05; done
  if [ -f "$f" ]; then
    at=$(stat -c %.3Y "$f")
    launch_rows+=("$(awk -v d="${delays[$i]}" -v a="$at" -v r="$ready" \
      'BEGIN { printf "| launch slot, delay %d s: started after (s), error (s) | %.2f | | %+.2f |", d, a - r, a - r - (d + 1) }')")
  else
    launch_rows+=("| launch slot, delay ${delays[$i]} s | not started | | |")
  fi
done
sleep 3  # the probes end by themselves

rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
fds() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }
server_pid=$(cat "$win/wine/${QYR_WINE_PREFIX:-main}/server.pid")
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

rss_start_q=$(rss "$qyr_pid")
rss_start_f=$(rss "$floor_pid")
fds_before_q=$(fds "$qyr_pid")
fds_before_s=$(fds "$server_pid")

say "load: $conns connections x $msgs commands"
"$load" load --port "$floor_port" --conns "$conns" --msgs 50 >/dev/null || true  # warm-up
"$load" load --port "$port" --conns "$conns" --msgs 50 >/dev/null || true
# Raw outputs stay in build/bench-win/run for a closer look.
floor_out=$("$load" load --port "$floor_port" --conns "$conns" --msgs "$msgs" | tee "$win/run/load_floor.txt" || true)
qyr_out=$("$load" load --port "$port" --conns "$conns" --msgs "$msgs" | tee "$win/run/load_qyr.txt" || true)

# One connection, one command at a time: the latency of a round trip with nothing competing.
# Program and floor take turns three times; the table has the median of the three p50s.
say "latency: 1 connection x 3000 commands, 3 turns each"
p50s_q=() p50s_f=()
for _ in 1 2 3; do
  p50s_f+=("$("$load" load --port "$floor_port" --conns 1 --msgs 3000 | value p50_us)")
  p50s_q+=("$("$load" load --port "$port" --conns 1 --msgs 3000 | value p50_us)")
done
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
single_q=$(median "${p50s_q[@]}")
single_f=$(median "${p50s_f[@]}")

say "churn: $churn connections opened and closed"
"$load" churn --port "$floor_port" --count "$churn" --timeout 100 >"$win/run/churn_floor.txt" &
churn_floor=$!
churn_q_out=$("$load" churn --port "$port" --count "$churn" --timeout 100 | tee "$win/run/churn_qyr.txt" || true)
wait "$churn_floor" || true
sleep 2  # let the last release requests run
rss_churn_q=$(rss "$qyr_pid")
rss_churn_f=$(rss "$floor_pid")
fds_after_q=$(fds "$qyr_pid")
fds_after_s=$(fds "$server_pid")

say "idle: $idle s"
hz=$(getconf CLK_TCK)
q0=$(cpu_ticks "$qyr_pid")
f0=$(cpu_ticks "$floor_pid")
sleep "$idle"
q1=$(cpu_ticks "$qyr_pid")
f1=$(cpu_ticks "$floor_pid")

# The same load once more with the command log on ([REMOTE] Log=1 is read at start): the cost
# of a log line on every round trip.
say "load with the command log on"
kill "$qyr_pid" 2>/dev/null || true
for _ in $(seq 100); do kill -0 "$qyr_pid" 2>/dev/null || break; sleep 0.1; done
for _ in $(seq 60); do "$load" wait --port "$port" --timeout 0.2 >/dev/null || break; sleep 0.5; done
printf '[REMOTE]\r\nLog=1\r\n' >"$run_dir/QyrDelay.ini"
"${wine_run[@]}" "$run_dir/QyrDelay.exe" </dev/null >/dev/null 2>&1 &
pids+=("$!")
"$load" wait --port "$port" --timeout 60 >/dev/null
qyr_pid=$(program_pid "$run_dir/QyrDelay.exe")
pids+=("$qyr_pid")
"$load" load --port "$port" --conns "$conns" --msgs 50 >/dev/null || true
log_out=$("$load" load --port "$port" --conns "$conns" --msgs "$msgs" | tee "$win/run/load_qyr_log.txt" || true)
p50s_l=()
for _ in 1 2 3; do p50s_l+=("$("$load" load --port "$port" --conns 1 --msgs 3000 | value p50_us)"); done
single_l=$(median "${p50s_l[@]}")
log_lines=$(grep -c . "$run_dir/QyrDelay.log" 2>/dev/null || echo 0)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'; }
q() { echo "$qyr_out" | value "$1"; }
l() { echo "$log_out" | value "$1"; }
f() { echo "$floor_out" | value "$1"; }
ms() { awk -v t="$1" -v hz="$hz" 'BEGIN { printf "%d", t * 1000 / hz }'; }
idle_q=$(ms $((q1 - q0)))
idle_f=$(ms $((f1 - f0)))

cat <<EOF

QyrDelay benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, loopback, Wine $(${WINE64:-/usr/lib/wine/wine64} --version 2>/dev/null || echo '?')

| Figure | QyrDelay | Floor | Ratio |
|---|---|---|---|
| replies OK / expected ($conns x $msgs) | $(q ok) / $(q expected) | $(f ok) / $(f expected) | |
| latency p50, 1 connection, median of 3 turns (ms) | $(awk -v v="$single_q" 'BEGIN{printf "%.2f", v/1000}') | $(awk -v v="$single_f" 'BEGIN{printf "%.2f", v/1000}') | $(ratio "$single_q" "$single_f") |
| latency mean, $conns connections (ms) | $(awk -v v="$(q mean_us)" 'BEGIN{printf "%.2f", v/1000}') | $(awk -v v="$(f mean_us)" 'BEGIN{printf "%.2f", v/1000}') | $(ratio "$(q mean_us)" "$(f mean_us)") |
| latency p99, $conns connections (ms) | $(awk -v v="$(q p99_us)" 'BEGIN{printf "%.2f", v/1000}') | $(awk -v v="$(f p99_us)" 'BEGIN{printf "%.2f", v/1000}') | $(ratio "$(q p99_us)" "$(f p99_us)") |
| throughput, $conns connections (replies/s) | $(q throughput) | $(f throughput) | $(ratio "$(q throughput)" "$(f throughput)") |
| with the command log on: latency p50, 1 connection (ms) | $(awk -v v="$single_l" 'BEGIN{printf "%.2f", v/1000}') | $(awk -v v="$single_f" 'BEGIN{printf "%.2f", v/1000}') | $(ratio "$single_l" "$single_f") |
| with the command log on: throughput, $conns connections (replies/s; $log_lines lines logged) | $(l throughput) | $(f throughput) | $(ratio "$(l throughput)" "$(f throughput)") |
| resident memory after start (KiB) | $rss_start_q | $rss_start_f | $(ratio "$rss_start_q" "$rss_start_f") |
| resident memory after $churn connections (KiB) | $rss_churn_q | $rss_churn_f | $(ratio "$rss_churn_q" "$rss_churn_f") |
| connections opened and closed | $(echo "$churn_q_out" | value completed) / $churn | $(value completed <"$win/run/churn_floor.txt") / $churn | |
| open fds of the program, before / after churn | $fds_before_q / $fds_after_q | | |
| open fds of the wineserver, before / after churn | $fds_before_s / $fds_after_s | (shared) | |
| CPU time idle for $idle s (ms) | $idle_q | $idle_f | $(ratio "$idle_q" "$idle_f") |
EOF
for row in "${launch_rows[@]}"; do echo "$row"; done
