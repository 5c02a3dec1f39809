#!/usr/bin/env bash
# The settings file against a full disk and a mistyped path: a Save on a full disk fails and
# leaves the old file whole, and a path with a line break is refused, so that the AllowFrom list
# still holds. The prefix is one of its own: the full disk is a small tmpfs in a mount namespace
# of the test's own, which the Wine server that opens the files must see.
set -euo pipefail
export QYR_WINE_PREFIX=settings
source "$(dirname "$0")/lib.sh"

# Save mode: the rows as the window passes them, then "0" for no autostart.
save_args=(--save 'C:\new.exe' 5 '' 15 '' 20 '' 25 0)

# A settings file of about 4 KB whose [REMOTE] and [POWER] come after [AUTORUN], with slot 1 as
# given.
settings_file() {
  printf '[AUTORUN]\r\nFile0=%s\r\nDelay0=%s\r\nFile1=\r\nDelay1=15\r\nFile2=\r\nDelay2=20\r\nFile3=\r\nDelay3=25\r\n' "$1" "$2"
  printf '[NOTES]\r\n'
  for i in $(seq 80); do printf 'Note%02d=%s\r\n' "$i" "the stand by the door, second row, left"; done
  printf '[REMOTE]\r\nAllowFrom=127.0.0.9\r\n[POWER]\r\nOffAt=21:30\r\n'
}
ini="$work/before.ini"
settings_file 'C:\old.exe' 10 >"$ini"
echo "settings file of $(stat -c %s "$ini") bytes"

if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
  echo "skipped: the full disk needs a mount namespace of its own (root)"
else
  disk="$work/disk"
  mkdir -p "$disk"
  size=$(($(stat -c %s "$QYR_BUILD_DIR/QyrDelay.exe") + 256 * 1024))
  # A server of the prefix that was stopped must be gone before the next starts, in or out of the
  # namespace: a client would otherwise still reach the old one, which sees another disk.
  server_gone() {
    local server=/usr/lib/wine/wineserver
    [ -x "$server" ] || server="$(command -v wineserver)"
    WINEPREFIX="$QYR_WINE_ROOT/$QYR_WINE_PREFIX/prefix" "$server" -w || true
  }
  server_gone
  code=0
  unshare -m -- bash -c '
    set -eu
    disk=$1 size=$2 ini=$3; shift 3
    mount -t tmpfs -o "size=$size" tmpfs "$disk"
    mkdir "$disk/QyrNOR"
    cp "$QYR_BUILD_DIR/QyrDelay.exe" "$ini" "$disk/QyrNOR/"
    mv "$disk/QyrNOR/before.ini" "$disk/QyrNOR/QyrDelay.ini"
    dd if=/dev/zero of="$disk/fill" bs=4k 2>/dev/null || true
    # The Wine server of this prefix starts here, so that it sees the disk, and ends here.
    status=0
    "$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" "$disk/QyrNOR/QyrDelay.exe" "$@" || status=$?
    "$QYR_WINE_RUN" --root "$QYR_WINE_ROOT" --prefix "$QYR_WINE_PREFIX" --stop
    cp "$disk/QyrNOR/QyrDelay.ini" "$disk/../after.ini"
    ls "$disk/QyrNOR" >"$disk/../files.txt"
    exit "$status"
  ' bash "$disk" "$size" "$ini" "${save_args[@]}" >"$work/disk.err" 2>&1 || code=$?
  server_gone
  [ "$code" = 71 ] || fail "full disk: save mode ended with $code, not 71 (refused): $(tail -n 3 "$work/disk.err")"
  cmp -s "$ini" "$work/after.ini" || fail "full disk: the settings file changed ($(stat -c %s "$work/after.ini") bytes)"
  [ "$(tr '\n' ' ' <"$work/files.txt")" = "QyrDelay.exe QyrDelay.ini " ] ||
    fail "full disk: left beside the file: $(cat "$work/files.txt")"
  echo "ok: a Save on a full disk fails and leaves the old file byte for byte"
fi

# A path with a line break would write a [REMOTE] of its own ahead of the real one: refused,
# nothing written, and the list still closes the port to us.
cp "$QYR_BUILD_DIR/QyrDelay.exe" "$work/QyrDelay.exe"
cp "$ini" "$work/QyrDelay.ini"
code=0
wine "$work/QyrDelay.exe" --save $'C:\\p.exe\r\n[REMOTE]\r\nAllowFrom=\r\n' 10 '' 15 '' 20 '' 25 0 >/dev/null 2>&1 || code=$?
[ "$code" = 74 ] || fail "a path with CR LF: save mode ended with $code, not 74"
cmp -s "$ini" "$work/QyrDelay.ini" || fail "a path with CR LF changed the settings file"
start_program "$(tr -d '\r' <"$work/QyrDelay.ini")"
[ -z "$(send QyrNOR_PC_CHECK)" ] || fail "after a path with CR LF a source outside the list was served"
echo "ok: a path with a line break is refused by save mode, and AllowFrom still holds"
