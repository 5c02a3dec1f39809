#!/usr/bin/python3
"""The hall page in headless Chromium against qyrsend serve and fake PCs on loopback.

Usage: hall_page.py QYRSEND WORKDIR, with QYR_PC_PID the process of the real QyrDelay that
listens on 26908 (SignedBy set to WORKDIR/hall.pub). Runs in a network namespace of its own (the
fake PCs take port 26909 on 127.0.0.x and the wake port 9).
"""
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.error
import urllib.request

from selenium.webdriver.common.by import By

from hall_fixture import URL, chromium, start_fake_pcs, start_serve, stop

QYRSEND, WORK = sys.argv[1], sys.argv[2]
PC_PID = int(os.environ["QYR_PC_PID"])
FAKE_PORT = 26909
REAL = "127.0.0.1"  # the real QyrDelay, under Wine, on the port the page need not name
HOSTS = """\
[展厅W]
127.0.0.1:26908 name=真机
[展厅A]
127.0.0.11 aa:bb:cc:00:00:11 name=左墙
127.0.0.12 name=右墙   # its program 2 fails
[展厅B]
127.0.0.13 aa:bb:cc:00:00:13
127.0.0.14
127.0.0.15
127.0.0.16
127.0.0.17
127.0.0.18 name=门口
[展厅C]
127.0.0.19 aa:bb:cc:00:00:19
127.0.0.20 aa:bb:cc:00:00:20
"""
FAKES = ["127.0.0.11=up,aa:bb:cc:00:00:11", "127.0.0.12=failing", "127.0.0.13=asleep,aa:bb:cc:00:00:13",
         "127.0.0.14=err", "127.0.0.15=allowlist", "127.0.0.16=silent", "127.0.0.18=up",
         "127.0.0.19=asleep,aa:bb:cc:00:00:19", "127.0.0.20=silent"]  # .17 refuses: nothing there
ZONE_B = {"127.0.0.13", "127.0.0.14", "127.0.0.15", "127.0.0.16", "127.0.0.17", "127.0.0.18"}


def label(host):
    """The tile's name of a PC: the fakes listen on their own port."""
    return host if host == REAL else "%s:%d" % (host, FAKE_PORT)
POWER_WORDS = ("QyrNOR_PC_NONCE", "QyrNOR_PC_OFF")
failures = []
passed = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    (passed if ok else failures).append(what)


def wait_for(what, test, limit=30):
    end = time.time() + limit
    while time.time() < end:
        try:
            if test():
                return True
        except Exception:  # the page may be between two renders
            pass
        time.sleep(0.2)
    check(False, what + " (waited %d s)" % limit)
    return False


def fake_log():
    with open(os.path.join(WORK, "fake.log")) as f:
        return [line.split() for line in f if line.strip()]


def api(path, token, body=None, url=URL):
    request = urllib.request.Request(url + path, data=None if body is None else json.dumps(body).encode(),
                                     headers={"Authorization": "Bearer " + token, "Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, json.loads(response.read())
    except urllib.error.HTTPError as e:
        return e.code, json.loads(e.read() or b"{}")


# The page draws its tiles anew on each refresh, so they are read and clicked in one step.
def tile_attr(driver, host, attribute, inner=None):
    return driver.execute_script(
        "const t = document.querySelector('.tile[data-host=\"' + arguments[0] + '\"]');"
        "const e = t && arguments[2] ? t.querySelector(arguments[2]) : t;"
        "return e ? e.getAttribute(arguments[1]) : null;", label(host), attribute, inner)


def tile_text(driver, host):
    return driver.execute_script(
        "const t = document.querySelector('.tile[data-host=\"' + arguments[0] + '\"]');"
        "return t ? t.innerText.replace(/\\n/g, ' | ') : '';", label(host))


def pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except ProcessLookupError:
        return False


def windows_processes(exe):
    """The Wine processes of `exe`, which Wine names by its path."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if open("/proc/%s/cmdline" % pid, "rb").read().startswith(exe.encode() + b"\0"):
                found.append(int(pid))
        except OSError:
            pass
    return found


def end_windows(exe):
    for pid in windows_processes(exe):
        os.kill(pid, 15)
    wait_for(exe + " has ended", lambda: not windows_processes(exe), 20)


def second_serve(command, end):
    """A second serve on the port of a running one: its exit code and output, or None when it is
    still running after 20 s (then ended by `end`)."""
    second = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        out = second.communicate(timeout=20)[0]
        return second.returncode, out
    except subprocess.TimeoutExpired:
        end(second)
        second.communicate()
        return None, ""


def windows_serve(hosts):
    """qyrsend.exe serve under Wine: the same page and API, its token made on the first start and
    read, as its owner's only, on the next."""
    # Paths of this run alone, to find their processes by.
    exe = os.path.join(WORK, "qyrsend.exe")
    other_exe = os.path.join(WORK, "other", "qyrsend.exe")
    os.makedirs(os.path.dirname(other_exe))
    for path in (exe, other_exe):
        subprocess.run(["cp", os.path.join(os.environ["QYR_BUILD_DIR"], "qyrsend.exe"), path], check=True)
    url = "http://127.0.0.1:8909"
    token_file = os.path.join(WORK, "windows.token")
    # The hall log goes beside the hosts file, in a folder whose name Windows' own code page could
    # not spell.
    hall_dir = os.path.join(WORK, "展厅")
    os.makedirs(hall_dir)
    hosts = shutil.copy(hosts, hall_dir)
    windows = lambda path: "Z:" + path.replace("/", "\\")
    wine = [os.environ["QYR_WINE_RUN"], "--root", os.environ["QYR_WINE_ROOT"]]
    form = ["serve", "--hosts", windows(hosts), "--listen", "127.0.0.1:8909", "--token-file", windows(token_file),
            "--port", str(FAKE_PORT), "--timeout", "2000", "--every", "1"]
    for said in ("new token in", "token in"):
        serve = subprocess.Popen(wine + [exe] + form, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            first = serve.stdout.readline()
            check(first.startswith(said + " "), "qyrsend.exe serve: " + first.strip())
            if wait_for("qyrsend.exe serves the page", lambda: b"<html" in urllib.request.urlopen(url + "/", timeout=2).read(), 60):
                token = open(token_file).read().strip()
                wait_for("qyrsend.exe's API shows a PC up after its sweep",
                         lambda: any(pc["host"] == "127.0.0.11" and pc["state"] == "up"
                                     for z in api("/api/hall", token, url=url)[1]["zones"] for pc in z["pcs"]), 30)
                status, body = api("/api/hall", "0" * 64, url=url)
                check(status == 401 and "zones" not in body, "qyrsend.exe refuses a wrong token: %d %s" % (status, body))
                status, body = api("/api/action", token, {"action": "check", "zone": "展厅A"}, url=url)
                check(status == 202, "qyrsend.exe takes an action: %d %s" % (status, body))
                wait_for("and logs it beside the hosts file", lambda: open(os.path.join(hall_dir, "qyrsend-hall.log")).read(), 20)
                if said == "token in":
                    code, out = second_serve(wine + [other_exe] + form, lambda p: end_windows(other_exe))
                    check(code == 1 and "cannot listen on 127.0.0.1:8909" in out and "hall page at" not in out,
                          "a second qyrsend.exe serve on its port fails (%s %s)" % (code, out.strip()))
        finally:
            end_windows(exe)
            serve.wait()


def click(driver, selector):
    driver.execute_script("document.querySelector(arguments[0]).click()", selector)


def main():
    hosts = os.path.join(WORK, "hall.txt")
    with open(hosts, "w") as f:
        f.write(HOSTS)
    fakes = start_fake_pcs(FAKES, os.path.join(WORK, "fake.log"),
                           env=dict(os.environ, FAKE_PC_PORT=str(FAKE_PORT)))
    driver = chromium(os.path.join(WORK, "chromium"))
    # Started after the browser, with a long timeout for the silent PCs, so that the page is up
    # before the first sweep has answered.
    serve, first = start_serve([QYRSEND, "serve", "--hosts", hosts, "--every", "2", "--timeout", "5000",
                                "--port", str(FAKE_PORT), "--key", os.path.join(WORK, "hall.key"),
                                "--broadcast", "127.255.255.255", "--wake-tries", "1"],
                               stderr=subprocess.STDOUT)
    try:
        check("new token in" in first, "the token file is made on the first start: " + first.strip())
        token_file = os.path.join(WORK, "qyrsend-hall.token")
        check(oct(os.stat(token_file).st_mode & 0o777) == "0o600", "the token file is its owner's only")
        token = open(token_file).read().strip()
        wait_for("the page answers", lambda: urllib.request.urlopen(URL + "/", timeout=2).status == 200, 10)

        driver.get(URL + "/")
        wait_for("the page asks for the token", lambda: driver.find_element(By.ID, "login").is_displayed(), 10)
        driver.find_element(By.ID, "token").send_keys(token)
        driver.find_element(By.ID, "loginGo").click()
        wait_for("tiles appear", lambda: len(driver.find_elements(By.CSS_SELECTOR, ".tile")) == 11, 10)
        states = driver.execute_script(
            "const s = {}; document.querySelectorAll('.tile').forEach((t) => { s[t.dataset.host] = t.dataset.state; }); return s;")
        check(set(states.values()) == {"unknown"}, "every tile is unknown before the first sweep: %s" % states)
        check(driver.execute_script("return document.querySelectorAll('section[data-zone=\"展厅A\"] .tile').length") == 2,
              "tiles grouped by zone")

        wait_for("the first sweep shows", lambda: tile_attr(driver, "127.0.0.11", "data-state") == "up", 15)
        expect = {REAL: ("up", ""), "127.0.0.11": ("up", ""), "127.0.0.12": ("up", ""), "127.0.0.13": ("down", "no_answer"),
                  "127.0.0.14": ("down", "older_program"), "127.0.0.15": ("down", "allow_list"),
                  "127.0.0.16": ("down", "no_answer"), "127.0.0.17": ("down", "refused")}
        for host, (state, reason) in expect.items():
            got = (tile_attr(driver, host, "data-state"), tile_attr(driver, host, "data-reason", ".detail"))
            check(got == (state, reason), "%s shows %s %s (got %s)" % (host, state, reason, got))
        check("自 " in tile_text(driver, "127.0.0.16") and "起无应答" in tile_text(driver, "127.0.0.16"),
              "a silent PC says since when, in Chinese: " + tile_text(driver, "127.0.0.16"))
        check("2=失败" in tile_text(driver, "127.0.0.12"), "the failed program shows on its tile")
        check("左墙" in tile_text(driver, "127.0.0.11"), "a PC shows its name")
        driver.find_element(By.ID, "lang").click()
        check("connection refused: QyrDelay not running or port closed" in tile_text(driver, "127.0.0.17"),
              "the English switch: " + tile_text(driver, "127.0.0.17"))
        driver.find_element(By.ID, "lang").click()

        # A wrong token is refused and does nothing.
        before = len(fake_log())
        status, body = api("/api/action", "0" * 64, {"action": "off"})
        check(status == 401, "a wrong token gets 401 (%d %s)" % (status, body))
        status, body = api("/api/action", token, {"action": "off", "zone": "展厅X"})
        check(status == 400 and "展厅X" in body.get("error", ""), "an unknown zone gets 400 in words: %s" % body)
        time.sleep(1)
        check(not any(w[1] in POWER_WORDS for w in fake_log()[before:]), "no PC got a power command")
        other = chromium(os.path.join(WORK, "chromium2"))
        try:
            other.get(URL + "/")
            wait_for("a second browser is asked for the token", lambda: other.find_element(By.ID, "login").is_displayed(), 10)
            other.find_element(By.ID, "token").send_keys("f" * 64)
            other.find_element(By.ID, "loginGo").click()
            wait_for("a wrong token is refused on the page", lambda: other.find_element(By.ID, "loginError").text != "", 10)
            check(len(other.find_elements(By.CSS_SELECTOR, ".tile")) == 0, "and shows no hall")
        finally:
            other.quit()

        # One page a port: a second serve there fails rather than share the port and its logins.
        code, out = second_serve([QYRSEND, "serve", "--hosts", hosts], lambda p: p.kill())
        check(code == 1 and "cannot listen on 127.0.0.1:8908" in out and "hall page at" not in out,
              "a second serve on the page's port fails (%s %s)" % (code, out.strip()))

        # Before any power action ends the real QyrDelay, and the Wine both run in with it.
        windows_serve(hosts)

        # Power off zone 2 after the confirmation: exactly its PCs get QyrNOR_PC_OFF.
        before = len(fake_log())
        click(driver, 'section[data-zone="展厅B"] button[data-act="off"]')
        text = driver.find_element(By.ID, "confirmText").text
        check("展厅B" in text and "6" in text, "the confirmation names the zone and the count: " + text)
        time.sleep(1)
        check(not any(w[1] in POWER_WORDS for w in fake_log()[before:]), "nothing is sent before the confirmation")
        driver.find_element(By.ID, "confirmYes").click()
        wait_for("zone 2's PCs show the power-off result",
                 lambda: tile_attr(driver, "127.0.0.18", "data-result", ".result") == "OK", 20)
        # Signed (--key): a nonce asked of each PC, the command only to those that gave one.
        asked = {w[0] for w in fake_log()[before:] if w[1] in POWER_WORDS}
        check(asked == ZONE_B - {"127.0.0.17", "127.0.0.15"},
              "the power-off went to exactly zone 2's PCs that listen to us: %s" % sorted(asked))
        got = {w[0] for w in fake_log()[before:] if w[1] == "QyrNOR_PC_OFF"}
        check(got == {"127.0.0.18"}, "signed, to the one that gave a nonce: %s" % sorted(got))
        check(tile_attr(driver, "127.0.0.15", "data-result", ".result") == "refused by the PC",
              "the PC whose allow-list refuses us says so: %s" % tile_text(driver, "127.0.0.15"))
        wait_for("a PC told to power off counts down", lambda: tile_attr(driver, "127.0.0.18", "data-state") in ("counting_down", "down"), 10)
        wait_for("and then is down", lambda: tile_attr(driver, "127.0.0.18", "data-state") == "down", 20)

        # The morning start of zone 3: one PC comes up, one never answers.
        click(driver, 'section[data-zone="展厅C"] button[data-act="start"]')
        driver.find_element(By.ID, "confirmYes").click()
        wait_for("the PC that comes up is ready",
                 lambda: tile_attr(driver, "127.0.0.19", "data-result", ".result") == "ready", 30)
        wait_for("the PC that never answers has failed",
                 lambda: tile_attr(driver, "127.0.0.20", "data-result", ".result") == "failed: never answered", 40)
        check("始终无应答" in tile_text(driver, "127.0.0.20"), "with its reason in words: " + tile_text(driver, "127.0.0.20"))
        wait_for("the page names the PC that is not ready", lambda: "127.0.0.20" in driver.find_element(By.ID, "banner").text, 10)
        check(["127.0.0.19", "WAKE"] in fake_log(), "the magic packet reached the sleeping PC over loopback")

        # The real QyrDelay requires signed power commands: the page's, signed with --key, is obeyed.
        click(driver, 'section[data-zone="展厅W"] button[data-act="off"]')
        driver.find_element(By.ID, "confirmYes").click()
        wait_for("the real QyrDelay takes the signed power-off",
                 lambda: tile_attr(driver, REAL, "data-result", ".result") == "OK", 20)
        check(tile_attr(driver, REAL, "data-state") in ("powering_off", "counting_down", "down"),
              "and its tile shows it powering off: %s" % tile_text(driver, REAL))
        wait_for("the real QyrDelay counts down and powers off", lambda: not pid_alive(PC_PID), 30)
        wait_for("and its tile then shows it down", lambda: tile_attr(driver, REAL, "data-state") == "down", 20)

        with open(os.path.join(WORK, "qyrsend-hall.log")) as f:
            lines = [json.loads(line) for line in f]
        check([l["action"] for l in lines] == ["off", "start", "off"], "the hall log has one line per action: %s" % [l["action"] for l in lines])
        check(lines[0]["client"] == "127.0.0.1" and set(lines[0]["targets"]) == ZONE_B, "with its client and targets")

        driver.find_element(By.ID, "wall").click()
        check("wall" in driver.find_element(By.TAG_NAME, "body").get_attribute("class"), "the wall mode switches on")
    finally:
        driver.quit()
        stop(serve, fakes)
    print("%d passed, %d failed" % (len(passed), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
