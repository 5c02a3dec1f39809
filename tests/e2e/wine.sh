# Wine and process control shared by the end-to-end scripts (through lib.sh) and the benchmark:
# a Windows program started under cmake/wine-run.sh and found as its own process, a process
# stopped and waited for, a prefix's Wine stopped, and what a Linux process holds. Set
# QYR_WINE_RUN (the runner) and QYR_WINE_ROOT (its --root) before using it.

wine_run() { "$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" "$@"; }
wine_prefix_dir() { echo "$QYR_WINE_ROOT/${1:-${QYR_WINE_PREFIX:-main}}/prefix"; }

# The runners started by wine_start, for a caller's clean-up.
wine_wrappers=()

# wine_start VAR SECONDS [--prefix NAME] EXE [ARGS...]: starts EXE under the runner and sets VAR
# to the Windows process itself (the runner may end before it, and a power command ends it
# alone). Fails when no such process shows within SECONDS, the first start of a prefix included.
wine_start() {
  local -n wine_started_pid="$1"
  local limit="$2" runner_args=() exe p wrapper first
  shift 2
  if [ "$1" = --prefix ]; then runner_args=(--prefix "$2"); shift 2; fi
  exe="${1##*/}"
  # The runner itself in the background, not a subshell around it: its children are searched.
  "$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" "${runner_args[@]}" "$@" </dev/null >/dev/null 2>&1 &
  wrapper=$!
  wine_wrappers+=("$wrapper")
  for _ in $(seq $((limit * 10))); do
    # The runner's own child: wine64 becomes the program, whose first word then names it (a
    # subshell of the runner has the runner's words, the program's name among them).
    for p in $(pgrep -P "$wrapper" || true); do
      first="$({ tr '\0' '\n' <"/proc/$p/cmdline"; } 2>/dev/null | head -n1)"
      if [ "${first##*[/\\]}" = "$exe" ]; then
        wine_started_pid=$p
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}

# wine_stop_program PID...: ends them and waits until they are gone (10 s at most each), so
# that what they held (a port, the one-instance mutex) is free for the next.
wine_stop_program() {
  local p
  for p in "$@"; do kill "$p" 2>/dev/null || true; done
  for p in "$@"; do
    for _ in $(seq 100); do kill -0 "$p" 2>/dev/null || break; sleep 0.1; done
  done
}

# wine_stop_prefix NAME: stops the Wine of that prefix. The runner stops the wineserver it
# started; a program started while that one was going down can leave another behind (in the
# network namespace of its own run), so whatever serves the prefix is told to end too.
wine_stop_prefix() {
  local server=/usr/lib/wine/wineserver
  wine_run --prefix "$1" --stop || true
  [ -x "$server" ] || server="$(command -v wineserver || echo true)"
  WINEPREFIX="$(wine_prefix_dir "$1")" "$server" -k 2>/dev/null || true
}

# wine_ours PATTERN [NAME]: the Linux processes of that prefix's Wine whose command line matches;
# never another Wine's.
wine_ours() {
  local p prefix
  prefix="$(wine_prefix_dir "${2:-}")"
  for p in $(pgrep -f "$1" || true); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && echo "$p"
  done
  return 0
}

# What a process holds: resident memory (KiB), open fds, and the CPU time of all its threads in
# nanoseconds (the tick counts of /proc/PID/stat come in 10 ms steps, more than a program spends
# idle in a minute).
proc_rss() { awk '/^VmRSS/ { print $2 }' "/proc/$1/status"; }
proc_fds() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 | wc -l; }
proc_cpu_ns() {
  local t sum=0 ns
  for t in /proc/"$1"/task/*/schedstat; do
    read -r ns _ <"$t" 2>/dev/null || continue
    sum=$((sum + ns))
  done
  echo "$sum"
}
