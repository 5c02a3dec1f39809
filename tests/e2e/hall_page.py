#!/usr/bin/python3
"""The hall page in headless Chromium against qyrsend serve and fake PCs on loopback.

Usage: hall_page.py QYRSEND WORKDIR. Runs in a network namespace of its own (the fake PCs take
port 26908 on 127.0.0.x and the wake port 9).
"""
import json
import os
import subprocess
import sys
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

QYRSEND, WORK = sys.argv[1], sys.argv[2]
HERE = os.path.dirname(os.path.abspath(__file__))
URL = "http://127.0.0.1:8908"
HOSTS = """\
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


def api(path, token, body=None):
    request = urllib.request.Request(URL + path, data=None if body is None else json.dumps(body).encode(),
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
        "return e ? e.getAttribute(arguments[1]) : null;", host, attribute, inner)


def tile_text(driver, host):
    return driver.execute_script(
        "const t = document.querySelector('.tile[data-host=\"' + arguments[0] + '\"]');"
        "return t ? t.innerText.replace(/\\n/g, ' | ') : '';", host)


def click(driver, selector):
    driver.execute_script("document.querySelector(arguments[0]).click()", selector)


def main():
    hosts = os.path.join(WORK, "hall.txt")
    with open(hosts, "w") as f:
        f.write(HOSTS)
    fakes = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_pcs.py"), os.path.join(WORK, "fake.log")] + FAKES,
                             stdout=subprocess.PIPE, text=True)
    assert fakes.stdout.readline().strip() == "ready"

    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--user-data-dir=" + os.path.join(WORK, "chromium"), "--window-size=1920,1080"]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # Started after the browser, with a long timeout for the silent PCs, so that the page is up
    # before the first sweep has answered.
    serve = subprocess.Popen([QYRSEND, "serve", "--hosts", hosts, "--every", "2", "--timeout", "5000",
                              "--broadcast", "127.255.255.255", "--wake-tries", "1"],
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        first = serve.stdout.readline()
        check("new token in" in first, "the token file is made on the first start: " + first.strip())
        token_file = os.path.join(WORK, "qyrsend-hall.token")
        check(oct(os.stat(token_file).st_mode & 0o777) == "0o600", "the token file is its owner's only")
        token = open(token_file).read().strip()
        wait_for("the page answers", lambda: urllib.request.urlopen(URL + "/", timeout=2).status == 200, 10)

        driver.get(URL + "/")
        wait_for("the page asks for the token", lambda: driver.find_element(By.ID, "login").is_displayed(), 10)
        driver.find_element(By.ID, "token").send_keys(token)
        driver.find_element(By.ID, "loginGo").click()
        wait_for("tiles appear", lambda: len(driver.find_elements(By.CSS_SELECTOR, ".tile")) == 10, 10)
        states = driver.execute_script(
            "const s = {}; document.querySelectorAll('.tile').forEach((t) => { s[t.dataset.host] = t.dataset.state; }); return s;")
        check(set(states.values()) == {"unknown"}, "every tile is unknown before the first sweep: %s" % states)
        check(driver.execute_script("return document.querySelectorAll('section[data-zone=\"展厅A\"] .tile').length") == 2,
              "tiles grouped by zone")

        wait_for("the first sweep shows", lambda: tile_attr(driver, "127.0.0.11", "data-state") == "up", 15)
        expect = {"127.0.0.11": ("up", ""), "127.0.0.12": ("up", ""), "127.0.0.13": ("down", "no_answer"),
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
        check(not any(w[1] == "QyrNOR_PC_OFF" for w in fake_log()[before:]), "no PC got a power command")
        other = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options_with(options, "chromium2"))
        try:
            other.get(URL + "/")
            wait_for("a second browser is asked for the token", lambda: other.find_element(By.ID, "login").is_displayed(), 10)
            other.find_element(By.ID, "token").send_keys("f" * 64)
            other.find_element(By.ID, "loginGo").click()
            wait_for("a wrong token is refused on the page", lambda: other.find_element(By.ID, "loginError").text != "", 10)
            check(len(other.find_elements(By.CSS_SELECTOR, ".tile")) == 0, "and shows no hall")
        finally:
            other.quit()

        # Power off zone 2 after the confirmation: exactly its PCs get QyrNOR_PC_OFF.
        before = len(fake_log())
        click(driver, 'section[data-zone="展厅B"] button[data-act="off"]')
        text = driver.find_element(By.ID, "confirmText").text
        check("展厅B" in text and "6" in text, "the confirmation names the zone and the count: " + text)
        time.sleep(1)
        check(not any(w[1] == "QyrNOR_PC_OFF" for w in fake_log()[before:]), "nothing is sent before the confirmation")
        driver.find_element(By.ID, "confirmYes").click()
        wait_for("zone 2's PCs show the power-off result",
                 lambda: tile_attr(driver, "127.0.0.18", "data-result", ".result") == "OK", 20)
        got = {w[0] for w in fake_log()[before:] if w[1] == "QyrNOR_PC_OFF"}
        check(got == ZONE_B - {"127.0.0.17"}, "QyrNOR_PC_OFF went to exactly zone 2's PCs that listen: %s" % sorted(got))
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

        with open(os.path.join(WORK, "qyrsend-hall.log")) as f:
            lines = [json.loads(line) for line in f]
        check([l["action"] for l in lines] == ["off", "start"], "the hall log has one line per action: %s" % [l["action"] for l in lines])
        check(lines[0]["client"] == "127.0.0.1" and set(lines[0]["targets"]) == ZONE_B, "with its client and targets")

        driver.find_element(By.ID, "wall").click()
        check("wall" in driver.find_element(By.TAG_NAME, "body").get_attribute("class"), "the wall mode switches on")
    finally:
        driver.quit()
        serve.terminate()
        fakes.terminate()
        serve.wait()
        fakes.wait()
    print("%d passed, %d failed" % (len(passed), len(failures)))
    sys.exit(1 if failures else 0)


def options_with(base, profile):
    options = webdriver.ChromeOptions()
    for a in base.arguments:
        if not a.startswith("--user-data-dir="):
            options.add_argument(a)
    options.add_argument("--user-data-dir=" + os.path.join(WORK, profile))
    return options


if __name__ == "__main__":
    main()
