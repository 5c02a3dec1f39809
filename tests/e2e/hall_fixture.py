"""What the hall page's test, its benchmark and its screenshots share: the fake PCs, qyrsend serve
and headless Chromium, each started and ended the same way."""
import os
import subprocess
import sys

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

HERE = os.path.dirname(os.path.abspath(__file__))
URL = "http://127.0.0.1:8908"


def start_fake_pcs(kinds, log=os.devnull, **popen):
    """fake_pcs.py for ADDRESS=KIND entries, once every one of them listens."""
    fakes = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_pcs.py"), log] + kinds,
                             stdout=subprocess.PIPE, text=True, **popen)
    if fakes.stdout.readline().strip() != "ready":
        stop(fakes)
        raise RuntimeError("the fake PCs did not start")
    return fakes


def start_serve(command, stderr=subprocess.DEVNULL):
    """qyrsend serve (or anything that announces itself in one line first) and that line."""
    serve = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=stderr, text=True)
    return serve, serve.stdout.readline()


def chromium(profile, *flags):
    """Headless Chromium with a profile of its own in the folder PROFILE."""
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--no-first-run",
                 "--window-size=1920,1080", "--user-data-dir=" + profile] + list(flags):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def log_in(driver, token):
    driver.get(URL + "/")
    driver.find_element(By.ID, "token").send_keys(token)
    driver.find_element(By.ID, "loginGo").click()


def stop(*processes):
    """Ends each process given (None is skipped) and waits for it."""
    for process in processes:
        if process:
            process.terminate()
            process.wait()
