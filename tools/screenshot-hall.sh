#!/usr/bin/env bash
# Takes pictures of the hall page, as it is and in wall mode, from a real run: qyrsend serve and
# fake PCs on loopback addresses (200 of them, in five zones) in a network of its own, headless
# Chromium at 1920×1080.
#
#   tools/screenshot-hall.sh [BUILD_DIR] [OUT_DIR]   (defaults: build/native, docs)
#
# Needs the native build (qyrsend), Chromium with its driver, python3-selenium and a CJK font
# (all of them come with cmake/install-deps.sh), and a network namespace (unshare -n).
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${1:-build/native}" && pwd)"
out="$(mkdir -p "${2:-docs}" && cd "${2:-docs}" && pwd)"
qyrsend="$build/tools/qyrsend/qyrsend"
[ -x "$qyrsend" ] || { echo "screenshot-hall.sh: $qyrsend is missing; build first" >&2; exit 1; }
fc-list :lang=zh | grep -q . || { echo "screenshot-hall.sh: no CJK font installed" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

unshare -n -- bash -c 'ip link set lo up && exec /usr/bin/python3 - "$@"' _ "$PWD" "$qyrsend" "$work" "$out" <<'PY'
import os, sys, time
src, qyrsend, work, out = sys.argv[1:5]
sys.path.insert(0, os.path.join(src, "tests", "e2e"))
from hall_fixture import chromium, log_in, start_fake_pcs, start_serve, stop
from selenium.webdriver.common.by import By

zones = ["展厅A", "展厅B", "序厅", "多媒体厅", "尾厅"]
names = ["左墙", "右墙", "穹顶", "地幕", "触摸台", "沙盘", "门口", "互动墙"]
# Most PCs up; a few of each way to be down, so that the picture shows every colour.
ways = {3: "failing", 11: "silent", 17: "err", 26: "allowlist", 41: "failing", 58: "silent",
        77: "refusing", 93: "silent", 121: "err", 150: "failing", 177: "silent", 190: "allowlist"}
lines, fakes = [], []
for z, zone in enumerate(zones):
    lines.append("[%s]" % zone)
    for k in range(40):
        i = z * 40 + k
        address = "127.0.%d.%d" % (i // 200 + 1, i % 200 + 10)
        lines.append("%s name=%s%d" % (address, names[k % len(names)], k // len(names) + 1))
        fakes.append("%s=%s" % (address, ways.get(i, "up")))
hosts = os.path.join(work, "展厅.txt")
open(hosts, "w").write("\n".join(lines) + "\n")
pcs = start_fake_pcs(fakes)
serve = None
driver = None
try:
    serve, _ = start_serve([qyrsend, "serve", "--hosts", hosts, "--every", "2", "--timeout", "1000"])
    token = open(os.path.join(work, "qyrsend-hall.token")).read().strip()
    driver = chromium(os.path.join(work, "chromium"), "--hide-scrollbars")
    # The page itself 1920×1080, as on the hall's wall screen, whatever the window around it.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1920, "height": 1080, "deviceScaleFactor": 1, "mobile": False})
    log_in(driver, token)
    end = time.time() + 30
    shown = "return document.querySelectorAll('.tile:not(.unknown)').length"
    while time.time() < end and driver.execute_script(shown) != 200:
        time.sleep(0.2)
    time.sleep(1)
    driver.save_screenshot(os.path.join(out, "hall-page.png"))
    driver.find_element(By.ID, "wall").click()
    time.sleep(1)
    driver.save_screenshot(os.path.join(out, "hall-wall.png"))
finally:
    if driver:
        driver.quit()
    stop(serve, pcs)
PY
echo "screenshot-hall.sh: $out/hall-page.png, $out/hall-wall.png"
