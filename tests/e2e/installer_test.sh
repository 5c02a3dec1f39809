#!/usr/bin/env bash
# The installer as a technician rolls it out: silent install into a QyrNOR folder, the program
# answers a check, silent uninstall keeps the settings unless /PURGE is given. Runs in a Wine
# prefix of its own, so the machine-wide values it writes meet no other test.
set -euo pipefail
: "${QYR_BUILD_DIR:?}" "${QYR_WINE_RUN:?}" "${QYR_WINE_ROOT:?}"
export QYR_WINE_PREFIX=setup
run() { "$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" "$@"; }

setup=("$QYR_BUILD_DIR"/QyrDelay-*-setup.exe)
[ -f "${setup[0]}" ] || { echo "no installer in $QYR_BUILD_DIR"; exit 1; }
drive_c="$QYR_WINE_ROOT/setup/prefix/drive_c"
win_dir='C:\QyrNOR_hall\QyrDelay'
dir="$drive_c/QyrNOR_hall/QyrDelay"
run_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
uninst_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\QyrDelay'
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what="$1"; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
run_value() { run reg query "$run_key" /v QyrNOR_Delay_Luancher 2>/dev/null | tr -d '\r' |
  sed -n 's/^ *QyrNOR_Delay_Luancher *REG_SZ *//p'; }
no_run_value() { [ -z "$(run_value)" ]; }
no_uninst_key() { ! run reg query "$uninst_key" >/dev/null 2>&1; }
# The uninstaller hands over to a copy of itself and returns at once: wait for its work.
wait_gone() { for _ in $(seq 60); do [ ! -e "$1" ] && return 0; sleep 0.5; done; return 1; }
cleanup() {
  run taskkill /F /IM QyrDelay.exe >/dev/null 2>&1 || true
  rm -rf "$drive_c/QyrNOR_hall" "$drive_c/Plain"
}
trap cleanup EXIT
cleanup

# A folder without QyrNOR would leave remote control off: refused, nothing installed.
code=0; run "${setup[0]}" /S '/D=C:\Plain\QyrDelay' || code=$?
check "a folder without QyrNOR is refused (exit $code)" [ "$code" -ne 0 ]
check "nothing installed there" [ ! -e "$drive_c/Plain/QyrDelay/QyrDelay.exe" ]

run "${setup[0]}" /S "/D=$win_dir"
check "program and uninstaller installed" [ -f "$dir/QyrDelay.exe" -a -f "$dir/uninstall.exe" ]
check "Run value holds the plain path" [ "$(run_value)" = "$win_dir\\QyrDelay.exe" ]
listed() { run reg query "$uninst_key" /v UninstallString >/dev/null 2>&1; }
check "listed under installed programs" listed
for proto in TCP UDP; do
  check "firewall rule for $proto asked for" grep -qF \
    "advfirewall firewall add rule name=\"QyrDelay $proto 26908\" dir=in action=allow program=\"$win_dir\\QyrDelay.exe\" protocol=$proto localport=26908" \
    "$dir/install.log"
done

# The installed copy opens its listeners; a settings file appears once the user saves.
run "$win_dir\\QyrDelay.exe" >/dev/null 2>&1 &
answer=""
for _ in $(seq 20); do
  answer="$(run "$QYR_BUILD_DIR/qyrsend.exe" --timeout 1000 127.0.0.1 QyrNOR_PC_CHECK 2>&1 | tr -d '\r' || true)"
  [[ "$answer" == *" OK" ]] && break
  sleep 1
done
check "the installed program answers QyrNOR_PC_CHECK (got: $answer)" [ "$answer" = "127.0.0.1  OK" ]
printf '[AUTORUN]\r\nDelay0=7\r\n' >"$dir/QyrDelay.ini"

run "$dir/uninstall.exe" /S 2>/dev/null || run "$win_dir\\uninstall.exe" /S
check "uninstall removes the program" wait_gone "$dir/QyrDelay.exe"
check "uninstall removes the uninstaller" wait_gone "$dir/uninstall.exe"
check "uninstall removes the Run value" no_run_value
check "uninstall removes the programs-list entry" no_uninst_key
check "uninstall keeps the settings file" [ -f "$dir/QyrDelay.ini" ]

# Reinstalling over kept settings leaves them alone; /PURGE takes everything.
run "${setup[0]}" /S "/D=$win_dir"
check "reinstall keeps the settings file" grep -q 'Delay0=7' "$dir/QyrDelay.ini"
run "$win_dir\\uninstall.exe" /S /PURGE
check "uninstall /PURGE removes the folder" wait_gone "$dir"
check "uninstall /PURGE removes the Run value" no_run_value

exit $((failures > 0))
