#!/usr/bin/env python3
"""The benchmark's reporter: bench/run.sh's raw figures in, its Markdown table out.

    report.py table RESULTS [--ratios FILE]   the table; FILE gets each ratio's median
    report.py check RATIOS...                 fails, naming them, when a ratio's median moved
                                              more than 10% between the runs

RESULTS has one figure a line, "ROUND SERVER KEY VALUE"; ROUND is "-" for a figure taken once
(the churn, the launch, the hall) and for the run's knobs (server "run"). A row shows the median of
the rounds; a ratio is the median of the per-round ratios with the lowest and highest round, so a
burst of load from elsewhere moves one round, not the comparison.
"""
import sys
from collections import defaultdict

NA = "n/a"
MOVED_LIMIT = 1.10


def number(text):
    """A figure as a number, or None for "n/a", an empty or a broken one."""
    try:
        value = float(text)
    except (TypeError, ValueError):
        return None
    return value if value == value else None  # NaN is no figure


def short(value):
    """A number as awk prints one (six significant digits), as the table always has."""
    return float("%.6g" % value)


def middle(values):
    values = sorted(values)
    n = len(values)
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2


class Results:
    def __init__(self, lines):
        self.rounds = defaultdict(dict)  # (server, key) -> {round: value}
        self.once = {}  # (server, key) -> value as written
        self.order = []  # keys taken once, in the order they came
        for line in lines:
            fields = line.split(None, 3)
            if len(fields) < 3:
                continue
            r, server, key = fields[:3]
            value = fields[3].strip() if len(fields) == 4 else ""
            if r == "-":
                if (server, key) not in self.once:
                    self.order.append((server, key))
                self.once[(server, key)] = value
            else:
                self.rounds[(server, key)][r] = value

    def median(self, key, server):
        values = [number(v) for v in self.rounds[(server, key)].values()]
        values = sorted(v for v in values if v is not None)
        if not values:
            return None
        # A middle value is shown as written; the mean of two as awk printed it.
        return values[len(values) // 2] if len(values) % 2 else short(middle(values))

    def ratio(self, key, a, b):
        """The per-round ratios a / b: their median, lowest and highest, or None."""
        x, y = self.rounds[(a, key)], self.rounds[(b, key)]
        ratios = []
        for r, text in x.items():
            top, bottom = number(text), number(y.get(r))
            if top is not None and bottom is not None and bottom > 0:
                ratios.append(short(top / bottom))
        return spread_of(ratios)

    def relative(self, key, a, b, c, d):
        """The per-round (a / b) / (c / d): two comparisons each taken in turns, so that load
        from elsewhere, which moves a and b alike, cancels in each."""
        ratios = []
        for r, text in self.rounds[(a, key)].items():
            v = [number(text)] + [number(self.rounds[(t, key)].get(r)) for t in (b, c, d)]
            if None not in v and v[1] > 0 and v[2] > 0 and v[3] > 0:
                ratios.append(short((v[0] / v[1]) / (v[2] / v[3])))
        return spread_of(ratios)

    def get(self, server, key, default=NA):
        return self.once.get((server, key), default)


def spread_of(ratios):
    """Per-round ratios as a row shows them: median, lowest, highest and count, or None."""
    if not ratios:
        return None
    return middle(ratios), min(ratios), max(ratios), len(ratios)


def f0(value):
    return NA if value is None else "%.0f" % value


def ratio_text(ratio):
    if ratio is None:
        return NA
    m, lo, hi, n = ratio
    return "%.2f" % m if n == 1 else "%.2f (%.2f–%.2f)" % (m, lo, hi)


class Table:
    def __init__(self, results):
        self.results = results
        self.ratios = []  # (row, column, median) of every ratio shown
        self.lines = []

    def cell(self, row, column, text, judged=True):
        """A ratio shown; `judged` ones are kept for --check."""
        if judged and text.split(" ")[0] != NA:
            self.ratios.append((row, column, text.split(" ")[0]))
        return text

    def put(self, *cells):
        self.lines.append("|" + "".join(" %s |" % c if c else " |" for c in cells))

    def row(self, title, key, suffix="", judged=(True, True)):
        """Medians of the three servers, QyrDelay's ratios to the floors (`judged`: which of the
        two --check holds to 10%)."""
        res = self.results
        q, p, c = ("qyr" + suffix, "plain" + suffix, "counting" + suffix)
        self.put(title, f0(res.median(key, q)), f0(res.median(key, p)), f0(res.median(key, c)),
                 self.cell(title, "QyrDelay / plain", ratio_text(res.ratio(key, q, p)), judged[0]),
                 self.cell(title, "QyrDelay / counting", ratio_text(res.ratio(key, q, c)),
                           judged[1]))

    def three(self, title, key):
        """One value a server, taken once, and QyrDelay's ratios of them."""
        res = self.results
        v = {t: res.get(t, key) for t in ("qyr", "plain", "counting")}

        def over(a, b):
            a, b = number(a), number(b)
            return NA if a is None or not b else "%.2f" % (a / b)

        self.put(title, v["qyr"], v["plain"], v["counting"],
                 self.cell(title, "QyrDelay / plain", over(v["qyr"], v["plain"])),
                 self.cell(title, "QyrDelay / counting", over(v["qyr"], v["counting"])))

    def spread(self, server):
        fewest = self.results.median("fewest_per_conn", server)
        most = self.results.median("most_per_conn", server)
        return "%s / %s" % (f0(fewest), f0(most))

    def waited(self, server):
        return f0(self.results.median("longest_wait_ms", server))

    def idle_ms(self, server):
        v = self.results.median("idle_ms", server)
        return NA if v is None else "%.1f" % v

    def build(self):
        res = self.results
        knob = lambda key: res.get("run", key)  # noqa: E731
        conns, busy_conns = knob("conns"), knob("busy_conns")
        window, busy_window = knob("window"), knob("busy_window")
        self.row("latency p50, one connection (µs)", "p50_us")
        self.row("latency p99, one connection (µs)", "p99_us")
        alone = "one connection, each server alone in a Wine of its own"
        self.row("latency p50, %s (µs)" % alone, "p50_us", "_alone")
        # Shown, not judged: in Wines of their own on two cores a tail follows the machine's
        # other load from run to run, even as the median of the blocks' own.
        self.row("latency p99, %s, the median of its blocks' own p99 (µs)" % alone,
                 "p99_blocks_us", "_alone", (False, False))
        # Under load the counting floor serves one connection while its bytes wait: what it
        # gets done depends on which, and its tail of notifications after it is its own.
        unfair = (True, False)
        self.row("CPU per reply under load, server + wineserver (µs)", "cpu_us", judged=unfair)
        self.row("throughput, %s connections (replies/s)" % conns, "throughput", judged=unfair)
        self.row("throughput, %s connections (replies/s)" % busy_conns, "throughput", "_busy",
                 unfair)
        for k in ("p50_us", "p99_us"):
            title = "with the command log on: latency %s, one connection (µs)" % k[:-3]
            self.put(title, f0(res.median(k, "qyr_log")), "", f0(res.median(k, "counting_log")),
                     "", self.cell(title, "QyrDelay / counting",
                                   ratio_text(res.ratio(k, "qyr_log", "counting_log"))))
        title = ("latency p50 with the log on / off, same round, each against the counting floor "
                 "beside it (QyrDelay)")
        log_cost = res.relative("p50_us", "qyr_log", "counting_log", "qyr", "counting")
        self.put(title, self.cell(title, "QyrDelay", ratio_text(log_cost)), "", "", "", "")
        self.put("lines the command log got in the last round", res.get("qyr_log", "lines"),
                 "", "", "", "")
        signed = " / ".join(f0(res.median(k, "qyr_signed"))
                            for k in ("check_p50_us", "nonce_p50_us", "challenge_p50_us"))
        self.put("with a hall key, one connection in turns: a plain check / the nonce / the whole "
                 "challenge of a signed power command, p50 (µs)", signed, "", "", "", "")
        for suffix, n, seconds in (("", conns, window), ("_busy", busy_conns, busy_window)):
            self.put("replies of the least / most served connection in %s s, %s connections"
                     % (seconds, n), *(self.spread(t + suffix) for t in ("qyr", "plain", "counting")),
                     "", "")
            self.put("longest wait for a reply, %s connections (ms)" % n,
                     *(self.waited(t + suffix) for t in ("qyr", "plain", "counting")), "", "")
        peers = knob("newcomer_peers")
        self.put("a new peer's check behind %s busy peers: answered after, p50 / max (ms)" % peers,
                 "%s / %s" % (f0(res.median("p50_ms", "qyr")), f0(res.median("max_ms", "qyr"))),
                 "", "", "", "")
        self.put("new peers of 12 answered within 250 ms / not within 3 s, %s busy peers" % peers,
                 "%s / %s" % (f0(res.median("within", "qyr")), f0(res.median("unanswered", "qyr"))),
                 "", "", "", "")
        self.row("resident memory after start (KiB)", "rss_start")
        title = ("resident memory after start, QyrDelay / the footprint floor (the same window "
                 "and controls, a tray entry, the same manifest; KiB)")
        self.put(title, "%s / %s: %s" % (
            f0(res.median("rss_start", "qyr")), f0(res.median("rss_start", "footprint")),
            self.cell(title, "QyrDelay / footprint", ratio_text(res.ratio("rss_start", "qyr", "footprint")))),
            "", "", "", "")
        self.three("resident memory after the churn (KiB)", "rss_churn")
        self.put("connections opened and closed (of %s)" % knob("churn"),
                 *(res.get(t, "churned") for t in ("qyr", "plain", "counting")), "", "")
        self.put("open fds of the server, before / after the churn",
                 *("%s / %s" % (res.get(t, "fds_before"), res.get(t, "fds_after"))
                   for t in ("qyr", "plain", "counting")), "", "")
        self.put("open fds of the wineserver, before / after QyrDelay's churn",
                 "%s / %s" % (res.get("wineserver", "fds_before"), res.get("wineserver", "fds_after")),
                 "", "", "", "")
        idle = knob("idle")
        self.put("CPU time while idle for %s s (ms)" % idle,
                 *(self.idle_ms(t) for t in ("qyr", "plain", "counting")), "", "")
        self.put("CPU time while idle for %s s, two kept slots running / none (ms)" % idle,
                 "%s / %s" % (self.idle_ms("kept"), self.idle_ms("qyr")), "", "", "", "")
        for server, key in res.order:
            if server == "launch" and key.startswith("delay_"):
                self.launch_row(int(key.split("_")[1]), res.get(server, key))
        self.hall_rows()
        return self

    def launch_row(self, delay, after):
        """A slot's start, `after` seconds from the port's opening; due a tick after its delay."""
        after = number(after)
        if after is None:
            self.put("launch slot, delay %d s" % delay, "not started", "", "", "", "")
            return
        self.put("launch slot, delay %d s: started after (s), late by (s)" % delay,
                 "%.2f / %+.2f" % (after, after - (delay + 1)), "", "", "", "")

    def hall_rows(self):
        res = self.results
        self.put("qyrsend to %s silent PCs at --timeout 1000: seconds until its report"
                 % res.get("qyrsend", "hall_pcs"), res.get("qyrsend", "hall_seconds"),
                 "", "", "", "")
        timeout = number(res.get("qyrsend", "sweep_timeout"))
        bound = "" if timeout is None else "%.2f" % (timeout * 1.1)
        self.put("one sweep of 1,000 fake PCs, 100 silent, at --timeout 1000: seconds (one "
                 "timeout plus 10%%: %s)" % bound, res.get("qyrsend", "sweep_took"),
                 "", "", "", "")
        self.put("qyrsend serve with 1,000 PCs, resident memory after 5 s of sweeps (KiB)",
                 res.get("qyrsend", "serve_rss_kib"), "", "", "", "")
        self.put("hall page with 1,000 PCs in headless Chromium: load until every tile shows (ms)",
                 res.get("qyrsend", "page_load_ms"), "", "", "", "")

    def text(self):
        head = ("| Figure | QyrDelay | Plain floor | Counting floor | QyrDelay / plain "
                "| QyrDelay / counting |\n|---|---|---|---|---|---|\n")
        return head + "\n".join(self.lines) + "\n"


def read_ratios(lines):
    """A run's ratio medians: {"ROW (COLUMN)": median}."""
    found = {}
    for line in lines:
        fields = line.rstrip("\n").split("\t")
        if len(fields) == 3:
            found["%s (%s)" % (fields[0], fields[1])] = number(fields[2])
    return found


def check(runs):
    """The rows whose median moved more than 10% between runs, or is missing from one: the
    lines naming them, and the table of every ratio's median over the runs."""
    keys = sorted(set().union(*runs))
    moved, table = [], []
    for key in keys:
        values = [run.get(key) for run in runs]
        known = [v for v in values if v is not None]
        lo, hi = (min(known), max(known)) if known else (None, None)
        spread = hi / lo if known and lo > 0 else None
        if len(known) < len(runs) or spread is None or spread > MOVED_LIMIT:
            moved.append("  %s: %s to %s over %d runs" % (key, "%g" % lo if known else NA,
                                                           "%g" % hi if known else NA, len(known)))
        table.append("| %s | %s | %s |" % (key, " | ".join(NA if v is None else "%.2f" % v
                                                            for v in values),
                                          NA if spread is None else "%.3f" % spread))
    head = "| Ratio | %s | Highest / lowest |\n|%s---|---|\n" % (
        " | ".join("Run %d" % (i + 1) for i in range(len(runs))), "---|" * len(runs))
    return moved, head + "\n".join(table) + "\n"


def main(argv):
    if len(argv) >= 2 and argv[0] == "table":
        with open(argv[1], encoding="utf-8") as f:
            table = Table(Results(f)).build()
        sys.stdout.write(table.text())
        if len(argv) == 4 and argv[2] == "--ratios":
            with open(argv[3], "w", encoding="utf-8") as f:
                f.writelines("%s\t%s\t%s\n" % r for r in table.ratios)
        return 0
    if len(argv) >= 2 and argv[0] == "check":
        runs = []
        for name in argv[1:]:
            try:
                with open(name, encoding="utf-8") as f:
                    runs.append(read_ratios(f))
            except OSError:
                runs.append({})  # a run that failed before its table moved every row
        moved, table = check(runs)
        print("\nThe medians of every ratio over the %d runs:\n\n%s" % (len(runs), table), end="")
        if moved:
            print("\nRatio rows whose median moved more than 10%% between the runs:\n%s"
                  % "\n".join(moved))
            return 1
        print("\nEvery ratio row's median stayed within 10%% over the %d runs." % len(runs))
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
