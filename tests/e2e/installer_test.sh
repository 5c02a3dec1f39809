#!/usr/bin/env bash
# The installer as a technician rolls it out: silent install into a QyrNOR folder, the program
# answers a check, silent uninstall keeps the settings unless /PURGE is given; /ALLOW= lists,
# /OFFAT= and /DAYS= values the program would refuse and install paths that would leave the PC
# open are refused before anything is installed. Runs in a
# Wine prefix of its own, so the machine-wide values it writes meet no other test.
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
# An earlier 32-bit copy's autostart value, in the 32-bit view of the registry.
old_value() { run reg add "$run_key" /v QyrNOR_Delay_Luancher /d 'C:\QyrNOR\Old\QyrDelay.exe' /f /reg:32 >/dev/null 2>&1; }
has_old_value() { run reg query "$run_key" /v QyrNOR_Delay_Luancher /reg:32 >/dev/null 2>&1; }
no_old_value() { ! has_old_value; }
no_uninst_key() { ! run reg query "$uninst_key" >/dev/null 2>&1; }
# The uninstaller hands over to a copy of itself and returns at once: wait for its work.
wait_gone() { for _ in $(seq 60); do [ ! -e "$1" ] && return 0; sleep 0.5; done; return 1; }
# Every command line below runs in cmd exactly as a technician types it: a batch file keeps each
# quote and blank as typed (arguments passed from Linux would be quoted anew). Returns the exit code.
typed_setup="$drive_c/QyrDelay-setup.exe"
typed() {
  printf '@echo off\r\n%s\r\nexit /b %%errorlevel%%\r\n' "$1" >"$drive_c/typed.cmd"
  run cmd /c 'C:\typed.cmd' >/dev/null 2>&1
}
cleanup() {
  run taskkill /F /IM QyrDelay.exe >/dev/null 2>&1 || true
  # A run that stopped half way leaves no machine-wide values for the next.
  run reg delete "$run_key" /v QyrNOR_Delay_Luancher /f >/dev/null 2>&1 || true
  run reg delete "$uninst_key" /f >/dev/null 2>&1 || true
  rm -rf "$drive_c/QyrNOR_hall" "$drive_c/Plain" "$drive_c/Open" "$drive_c/Elsewhere" \
    "$drive_c/QyrNOR_link" "$typed_setup" "$drive_c/typed.cmd" "$drive_c/hall.ini" "$drive_c/bad.ini"
}
# Its Wine starts afresh and stops at the end: the test may run in a network of its own, where
# the wineserver (which holds the sockets) must be too.
trap 'cleanup; run --prefix setup --stop' EXIT
run --prefix setup --stop
cleanup

# A folder without QyrNOR would leave remote control off: refused, nothing installed.
code=0; run "${setup[0]}" /S '/D=C:\Plain\QyrDelay' || code=$?
check "a folder without QyrNOR is refused (exit $code)" [ "$code" -ne 0 ]
check "nothing installed there" [ ! -e "$drive_c/Plain/QyrDelay/QyrDelay.exe" ]

# /ALLOW= as typed in cmd | what [REMOTE] AllowFrom holds after, or "refused": exit code 2 before
# anything is installed (a list that does not restrict, or that the program would refuse).
allow_rows=(
  '/ALLOW=10.0.0.1,10.0.0.2|10.0.0.1,10.0.0.2'
  '/ALLOW="10.0.0.1"|10.0.0.1'
  '/ALLOW="10.0.0.1, 10.0.0.2"|10.0.0.1, 10.0.0.2'
  '"/ALLOW=10.0.0.1, 10.0.0.2"|10.0.0.1, 10.0.0.2'
  '/ALLOW=10.0.0.1, 10.0.0.2|refused'
  '/ALLOW=|refused'
  '/ALLOW=""|refused'
  '/ALLOW="10.0.0.300"|refused'
)
# /OFFAT= and /DAYS= as typed in cmd | what [POWER] OffAt and Days hold after (rows run in turn:
# a Days not given is kept from the row before), or "refused" as above.
power_rows=(
  '/OFFAT=24:00|refused'
  '/OFFAT=|refused'
  '/OFFAT=""|refused'
  '"/DAYS=1-5"|refused'
  '/OFFAT=22:30 /DAYS=|refused'
  '/OFFAT=22:30 /DAYS=1-5, 7|refused'
  '/OFFAT=22:30 /DAYS="1-8"|refused'
  '/OFFAT="22:30" "/DAYS=1-5"|22:30|1-5'
  '/OFFAT=7:05 /DAYS=1,3,5|7:05|1,3,5'
  '"/OFFAT=23:00" /DAYS="1-5, 7"|23:00|1-5, 7'
  '/OFFAT=22:30|22:30|1-5, 7'
)
# /UDP= and /SIGNEDBY=: a hall key that is a point of the curve (NIST's published example) and one
# that is not; what [REMOTE] Udp and SignedBy hold after, or "refused".
hall_key=04b7e08afdfe94bad3f1dc8c734798ba1c62b3a0ad1e9ea2a38201cd0889bc7a193603f747959dbf7a4bb226e41928729063adc7ae43529e61b563bbc606cc5e09
remote_rows=(
  '/UDP=2|refused'
  '/UDP=|refused'
  '/SIGNEDBY=04abc|refused'
  "/SIGNEDBY=${hall_key%9}8|refused"
  "/UDP=0 /SIGNEDBY=$hall_key|0|$hall_key"
)
# /INI= and the rows of the window: what a prepared file or the options would install, checked
# whole first. C:\hall.ini is a good prepared file, C:\bad.ini gives AllowFrom twice.
printf '[AUTORUN]\r\nFile0=C:\\Show\\Player.exe\r\nDelay0=8\r\n[REMOTE]\r\nAllowFrom=10.9.9.9\r\n' >"$drive_c/hall.ini"
printf '[REMOTE]\r\nAllowFrom=\r\nAllowFrom=10.0.0.1\r\n' >"$drive_c/bad.ini"
slot_rows=(
  '/DELAY1=10s|refused'
  '/RESTART2=-1|refused'
  '/INI=C:\missing.ini|refused'
  '/INI=C:\bad.ini|refused'
  '/INI=C:\hall.ini|C:\Show\Player.exe|8|'
  '/INI=C:\hall.ini /FILE1="C:\Show Room\Player.exe" /DELAY1=5 /RESTART1=30|C:\Show Room\Player.exe|5|30'
)
nothing_installed() {  # nothing_installed FOLDER: no folder made, no value written
  [ ! -e "$1" ] && no_run_value && no_uninst_key
}
cp "${setup[0]}" "$typed_setup"
for row in "${allow_rows[@]}" "${power_rows[@]}" "${remote_rows[@]}" "${slot_rows[@]}"; do
  option="${row%%|*}" want="${row#*|}"
  [ "$want" = refused ] || continue
  code=0; typed "C:\QyrDelay-setup.exe /S $option /D=$win_dir" || code=$?
  check "$option is refused (exit $code)" [ "$code" = 2 ]
  check "$option: nothing installed" nothing_installed "$drive_c/QyrNOR_hall"
done

old_value
check "an earlier copy's 32-bit value is there to begin with" has_old_value
run "${setup[0]}" /S "/D=$win_dir"
check "the earlier copy's 32-bit autostart value is removed" no_old_value
check "program and uninstaller installed" [ -f "$dir/QyrDelay.exe" -a -f "$dir/uninstall.exe" ]
check "Run value holds the plain path" [ "$(run_value)" = "$win_dir\\QyrDelay.exe" ]
listed() { run reg query "$uninst_key" /v UninstallString >/dev/null 2>&1; }
check "listed under installed programs" listed
for proto in TCP UDP; do
  check "firewall rule for $proto asked for" grep -qF \
    "advfirewall firewall add rule name=\"QyrDelay $proto 26908\" dir=in action=allow program=\"$win_dir\\QyrDelay.exe\" protocol=$proto localport=26908" \
    "$dir/install.log"
done

# A standard user must be able to save and log: the files exist, empty (an empty settings file
# reads as none), and Users (by SID, for any language) may modify them; only administrators
# may change the folder and the program. Wine does not enforce file rights: the commands and
# their results in install.log stand in for that.
for f in QyrDelay.ini QyrDelay.log QyrDelay.log.1; do
  check "$f created empty" [ -f "$dir/$f" -a ! -s "$dir/$f" ]
done
for f in QyrDelay.log QyrDelay.log.1; do
  check "$f made modifiable for Users" grep -qF "icacls.exe\" \"$win_dir\\$f\" /grant *S-1-5-32-545:(M)" "$dir/install.log"
done
# The settings file names what the Run value starts for everyone: administrators' alone, and an
# upgrade takes back the Users grant of earlier versions (its rights are inherited anew).
ini_steps() { grep -F "icacls.exe\" \"$win_dir\\QyrDelay.ini\"" "$dir/install.log" | sed 's/^.*QyrDelay.ini" //'; }
check "QyrDelay.ini made the administrators' (got: $(ini_steps | tr '\r\n' '  '))" \
  [ "$(ini_steps | tr -d '\r')" = "/setowner *S-1-5-32-544"$'\n'"/reset" ]
check "the topmost new folder's rights are set explicitly" grep -qF \
  "\"C:\\QyrNOR_hall\" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX" "$dir/install.log"
check "every rights step succeeded" [ "$(grep -A1 -F icacls.exe "$dir/install.log" | grep -c -- '-> 0')" = 5 ]
check "the folders were checked before and after" [ "$(grep -A1 -E -- '--(secure|check)-folder=' "$dir/install.log" | grep -c -- '-> 0')" = 2 ]

# The installed copy opens its listeners; a settings file appears once the user saves.
run "$win_dir\\QyrDelay.exe" >/dev/null 2>&1 &
# Ready once its port takes a connection; then asked once.
for _ in $(seq 40); do timeout 1 bash -c 'exec 3<>/dev/tcp/127.0.0.1/26908' 2>/dev/null && break; sleep 0.5; done
answer="$(run "$QYR_BUILD_DIR/qyrsend.exe" --timeout 5000 127.0.0.1 QyrNOR_PC_CHECK 2>&1 | tr -d '\r' || true)"
check "the installed program answers QyrNOR_PC_CHECK (got: $answer)" [ "$answer" = "127.0.0.1  OK" ]

# The installer's check of a list answers while the launcher runs (it takes no mutex): by exit
# code, and a line naming the bad entry in the system's code page.
check_rows=(
  '10.0.0.1, 10.0.0.0/8|0|'
  '10.0.0.1，10.0.0.2|2|invalid AllowFrom entry "10.0.0.1，10.0.0.2": not an IPv4 address'
  '|2|invalid AllowFrom list: it is empty, which would allow everyone'
)
for row in "${check_rows[@]}"; do
  list="${row%%|*}" rest="${row#*|}"
  code=0; said="$(run "$win_dir\\QyrDelay.exe" "--check-allow=$list" | iconv -f GB18030 -t UTF-8 | tr -d '\r')" || code=$?
  check "--check-allow=$list exits ${rest%%|*} (got $code)" [ "$code" = "${rest%%|*}" ]
  check "--check-allow=$list answers (got: $said)" [ "$said" = "${rest#*|}" ]
done
code=0; said="$(run "$win_dir\\QyrDelay.exe" --check-power=22:30 "--days=1-5, 8" --reboot-at= | tr -d '\r')" || code=$?
check "--check-power names the bad Days entry (exit $code, got: $said)" \
  [ "$code" = 2 -a "$said" = 'invalid Days entry "8": weekdays are 1 (Monday) to 7 (Sunday)' ]
printf '[AUTORUN]\r\nDelay0=7\r\n' >"$dir/QyrDelay.ini"

old_value
run "$dir/uninstall.exe" /S 2>/dev/null || run "$win_dir\\uninstall.exe" /S
check "uninstall removes the program" wait_gone "$dir/QyrDelay.exe"
check "uninstall removes an earlier copy's 32-bit autostart value" no_old_value
check "uninstall removes the uninstaller" wait_gone "$dir/uninstall.exe"
check "uninstall removes the Run value" no_run_value
check "uninstall removes the programs-list entry" no_uninst_key
check "uninstall keeps the settings file" [ -f "$dir/QyrDelay.ini" ]

# Reinstalling over kept settings leaves them alone, and /ALLOW= adds who may send commands.
run "${setup[0]}" /S "/ALLOW=127.0.0.0/8, 10.1.2.3" "/D=$win_dir"
check "reinstall keeps the settings file" grep -q 'Delay0=7' "$dir/QyrDelay.ini"
# The value of KEY in [SECTION] of the installed settings file.
ini() { tr -d '\r' <"$dir/QyrDelay.ini" | sed -n "/^\[$1\]\$/,/^\[/s/^$2=//p"; }
allow_from() { ini REMOTE AllowFrom; }
power() { ini POWER "$1"; }
autorun() { ini AUTORUN "$1"; }
# installs_writing OPTION [SECTION KEY VALUE]...: a silent upgrade with OPTION succeeds and
# leaves each KEY of the file at its VALUE.
installs_writing() {
  local option="$1" code=0 got="" ok=1 value
  shift
  typed "C:\QyrDelay-setup.exe /S $option /D=$win_dir" || code=$?
  [ "$code" = 0 ] || ok=0
  while [ $# -ge 3 ]; do
    value="$(ini "$1" "$2")"
    got+=" $2=$value"
    [ "$value" = "$3" ] || ok=0
    shift 3
  done
  check "$option installs (exit $code) and writes what it says (got:$got)" [ "$ok" = 1 ]
}
check "/ALLOW= is written to [REMOTE] (got: $(allow_from))" [ "$(allow_from)" = "127.0.0.0/8, 10.1.2.3" ]
for row in "${allow_rows[@]}"; do
  option="${row%|*}" want="${row##*|}"
  [ "$want" != refused ] || continue
  installs_writing "$option" REMOTE AllowFrom "$want"
done
kept="$(allow_from)"
code=0; typed "C:\QyrDelay-setup.exe /S /ALLOW=10.0.0.1; /D=$win_dir" || code=$?
check "a bad list on an upgrade is refused (exit $code) and changes nothing" \
  [ "$code" = 2 -a "$(allow_from)" = "$kept" -a "$(run_value)" = "$win_dir\\QyrDelay.exe" ]
for row in "${power_rows[@]}"; do
  IFS='|' read -r option off_at days <<<"$row"
  [ "$off_at" != refused ] || continue
  installs_writing "$option" POWER OffAt "$off_at" POWER Days "$days"
done
check "the other settings are kept" [ "$(allow_from)" = "$kept" -a "$(grep -c Delay0=7 "$dir/QyrDelay.ini")" = 1 ]
for row in "${remote_rows[@]}"; do
  IFS='|' read -r option udp key <<<"$row"
  [ "$udp" != refused ] || continue
  installs_writing "$option" REMOTE Udp "$udp" REMOTE SignedBy "$key" REMOTE AllowFrom "$kept"
done
for row in "${slot_rows[@]}"; do
  IFS='|' read -r option file delay restart <<<"$row"
  [ "$file" != refused ] || continue
  installs_writing "$option" AUTORUN File0 "$file" AUTORUN Delay0 "$delay" AUTORUN Restart0 "$restart" \
    REMOTE AllowFrom 10.9.9.9
done
code=0; typed "C:\QyrDelay-setup.exe /S /DELAY2=x /D=$win_dir" || code=$?
check "a bad row on an upgrade is refused (exit $code) and the settings stay" [ "$code" = 2 -a "$(autorun Delay0)" = 5 ]
printf '[AUTORUN]\r\nDelay0=7\r\n[REMOTE]\r\nAllowFrom=%s\r\n' "$kept" >"$dir/QyrDelay.ini"
# The options are read side by side, each from its own place on the command line.
code=0; typed "C:\QyrDelay-setup.exe /S /ALLOW=\"10.0.0.1, 10.0.0.2\" /OFFAT=\"6:00\" \"/DAYS=6\" /D=$win_dir" || code=$?
check "/ALLOW=, /OFFAT= and /DAYS= together (exit $code; got: $(allow_from), $(power OffAt), $(power Days))" \
  [ "$code" = 0 -a "$(allow_from)" = "10.0.0.1, 10.0.0.2" -a "$(power OffAt)" = 6:00 -a "$(power Days)" = 6 ]
# The RebootAt the file keeps is read with the new OffAt: the same minute would turn both off.
printf 'RebootAt=22:30\r\n' >>"$dir/QyrDelay.ini"
code=0; typed "C:\QyrDelay-setup.exe /S /OFFAT=22:30 /D=$win_dir" || code=$?
check "an OffAt at the kept RebootAt $(power RebootAt) is refused (exit $code) and changes nothing (OffAt $(power OffAt))" \
  [ "$code" = 2 -a "$(power RebootAt)" = 22:30 -a "$(power OffAt)" = 6:00 ]
# /PURGE takes everything.
run "$win_dir\\uninstall.exe" /S /PURGE
check "uninstall /PURGE removes the folder" wait_gone "$dir"
check "uninstall /PURGE removes the Run value" no_run_value

# A junction or link on the path could send the files and the rights steps elsewhere; a folder that
# standard users may change (under Wine: one that others may write, which Wine shows as Everyone's
# right) would let them rename it and plant another program. Refused, with nothing installed,
# unless the open folder's own name holds QyrNOR: that one is taken over and closed.
link_on_path() { mkdir -p "$drive_c/Elsewhere"; ln -s "$drive_c/Elsewhere" "$drive_c/QyrNOR_link"; }
link_as_folder() { mkdir -p "$drive_c/Elsewhere" "$drive_c/QyrNOR_hall"; ln -s "$drive_c/Elsewhere" "$dir"; }
link_to_nowhere() { ln -s "$drive_c/Elsewhere/gone" "$drive_c/QyrNOR_link"; }
open_folder() { mkdir -p "$drive_c/Open"; chmod 777 "$drive_c/Open"; }
open_qyrnor() { mkdir -p "$drive_c/QyrNOR_hall"; chmod 777 "$drive_c/QyrNOR_hall"; }
# made before | install path | exit code | where nothing may appear
folder_rows=(
  'link_on_path|C:\QyrNOR_link\QyrDelay|2|Elsewhere/QyrDelay'
  'link_as_folder|C:\QyrNOR_hall\QyrDelay|2|Elsewhere/QyrDelay.exe'
  'link_to_nowhere|C:\QyrNOR_link\QyrDelay|2|Elsewhere'
  'open_folder|C:\Open\QyrNOR\QyrDelay|2|Open/QyrNOR'
  'open_qyrnor|C:\QyrNOR_hall\QyrDelay|0|'
)
for row in "${folder_rows[@]}"; do
  IFS='|' read -r made path want absent <<<"$row"
  cleanup
  cp "${setup[0]}" "$typed_setup"
  "$made"
  code=0; typed "C:\QyrDelay-setup.exe /S /D=$path" || code=$?
  check "$made: exit $want (got $code)" [ "$code" = "$want" ]
  [ -z "$absent" ] || check "$made: nothing installed" nothing_installed "$drive_c/$absent"
done
closed_to_others() { [ $((8#$(stat -c %a "$1") & 2)) = 0 ]; }
check "the open QyrNOR folder is closed to others" closed_to_others "$drive_c/QyrNOR_hall"
check "its taking over is logged" grep -qF \
  'C:\QyrNOR_hall: taken over: owner Administrators; Administrators and SYSTEM full control, Users read and execute, nothing inherited -> done' \
  "$dir/install.log"
check "the program is installed in it" [ -f "$dir/QyrDelay.exe" ]
run "$win_dir\\uninstall.exe" /S /PURGE
check "uninstall /PURGE removes it" wait_gone "$dir"

exit $((failures > 0))
