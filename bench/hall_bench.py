#!/usr/bin/python3
"""The hall side at 1,000 PCs: one status sweep (100 of them silent) against its one timeout,
the resident memory of qyrsend serve, and the time the page takes to show every tile in headless
Chromium.

Usage: hall_bench.py QYRSEND WORKDIR, in a network namespace of its own (the fake PCs take port
26908 on 127.0.x.y). Prints "sweep_s TIMEOUT_S SECONDS", "serve_rss_kib KIB" and "page_load_ms MS".
"""
import os
import resource
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from hall_fixture import URL, chromium, log_in, start_fake_pcs, start_serve, stop  # noqa: E402

QYRSEND, WORK = sys.argv[1], sys.argv[2]
PCS, SILENT, TIMEOUT_MS = 1000, 100, 1000


def address(i):
    return "127.0.%d.%d" % (i // 250 + 1, i % 250 + 1)


def more_files():
    # A listening socket for each fake PC.
    _, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def main():
    hosts = os.path.join(WORK, "hall1000.txt")
    with open(hosts, "w") as f:
        for zone in range(10):
            f.write("[展厅%d]\n" % (zone + 1))
            for i in range(zone * 100, zone * 100 + 100):
                f.write("%s name=PC%d\n" % (address(i), i + 1))
    kinds = ["%s=%s" % (address(i), "silent" if i % (PCS // SILENT) == 0 else "up") for i in range(PCS)]
    fakes = start_fake_pcs(kinds, preexec_fn=more_files)
    serve = None
    driver = None
    try:
        start = time.monotonic()
        subprocess.run([QYRSEND, "--status", "--timeout", str(TIMEOUT_MS), "--hosts", hosts],
                       stdout=subprocess.DEVNULL, check=False)
        print("sweep_s %.2f %.2f" % (TIMEOUT_MS / 1000, time.monotonic() - start), flush=True)

        serve, _ = start_serve([QYRSEND, "serve", "--hosts", hosts, "--every", "1", "--timeout",
                                str(TIMEOUT_MS)])
        token = open(os.path.join(WORK, "qyrsend-hall.token")).read().strip()
        time.sleep(5)  # a few sweeps
        with open("/proc/%d/status" % serve.pid) as f:
            rss = next(line.split()[1] for line in f if line.startswith("VmRSS:"))
        print("serve_rss_kib %s" % rss, flush=True)

        driver = chromium(os.path.join(WORK, "chromium"))
        log_in(driver, token)
        tiles = "return document.querySelectorAll('.tile:not(.unknown)').length"
        end = time.time() + 30
        while driver.execute_script(tiles) < PCS and time.time() < end:
            time.sleep(0.05)
        # The page loaded afresh with its session: request, script, first answer and every tile.
        best = None
        for _ in range(3):
            start = time.monotonic()
            driver.get(URL + "/")
            while driver.execute_script(tiles) < PCS and time.monotonic() - start < 30:
                time.sleep(0.01)
            took = (time.monotonic() - start) * 1000
            best = took if best is None else min(best, took)
        print("page_load_ms %.0f" % best, flush=True)
    finally:
        if driver:
            driver.quit()
        stop(serve, fakes)


if __name__ == "__main__":
    main()
