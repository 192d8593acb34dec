"""What the browser tests, the screenshots and the benchmark share: vekhistory serve, stations of
simulated boxes syncing to it, and headless Chromium driven by Selenium."""
import base64
import json
import os
import pathlib
import re
import signal
import subprocess
import tempfile
import threading
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def program(name):
    path = os.environ.get(name.upper())
    if not path:
        raise SystemExit(f"{name.upper()} must name the {name} program")
    return path


class History:
    """vekhistory serve on a free port of host, stopped with SIGTERM."""

    def __init__(self, db, host="127.0.0.1", token=None):
        self.token = token
        self.process = subprocess.Popen(
            [program("vekhistory"), "serve", "--db", db, "--listen", f"{host}:0"],
            stderr=subprocess.PIPE, text=True)
        said = ""
        while True:
            line = self.process.stderr.readline()
            if not line:
                raise RuntimeError("vekhistory serve did not start: " + said)
            said += line
            match = re.search(r"ouvindo em (http://\S+)", line)
            if match:
                self.url = match.group(1)
                break
        # The request log is not read: let it go.
        threading.Thread(target=self.process.stderr.read, daemon=True).start()

    def api(self, path):
        request = urllib.request.Request(self.url + path)
        if self.token:
            request.add_header("Authorization", "Bearer " + self.token)
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.load(answer)

    def all_pages(self, path, key):
        """Every row of a list of the API, page after page."""
        rows, after = [], None
        while True:
            glue = "&" if "?" in path else "?"
            page = self.api(path + glue + "limit=500" + (f"&after={after}" if after else ""))
            rows += page[key]
            after = page.get("next")
            if not after:
                return rows

    def post(self, lines):
        request = urllib.request.Request(self.url + "/api/v1/visits", data=lines.encode(),
                                         headers={"Content-Type": "application/x-ndjson"})
        with urllib.request.urlopen(request, timeout=60) as answer:
            return json.load(answer)

    def stop(self):
        self.process.terminate()
        self.process.wait(20)
        self.process.stderr.close()


def add_token(db, role, name):
    return subprocess.run([program("vekhistory"), "token", "add", "--db", db, "--role", role,
                           "--name", name], check=True, capture_output=True,
                          text=True).stdout.strip()


def profile_file(folder, name, speed_limit):
    """A profile read from a simulated box, named and changed a little."""
    box = subprocess.Popen([program("veksim"), "--fw", "2.36"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
    try:
        port = box.stdout.readline().strip()
        raw = os.path.join(folder, "raw.json")
        subprocess.run([program("vekctl"), "config", "get", "-p", port, "-o", raw], check=True,
                       capture_output=True)
    finally:
        box.terminate()
        box.wait()
        box.stdout.close()
    profile = json.loads(pathlib.Path(raw).read_text())
    profile.pop("source", None)
    profile["name"] = name
    profile["speed"]["limit"] = speed_limit
    path = os.path.join(folder, f"profile-{speed_limit}.json")
    pathlib.Path(path).write_text(json.dumps(profile, ensure_ascii=False))
    return path


def run_stations(folder, url, stations):
    """Stations servicing simulated boxes with --sync to url, until each box's visit is in its
    journal and the journal is confirmed to its end. stations: (name, profile, boxes, first id,
    veksim options)."""
    running = []
    for name, profile, boxes, first_id, options in stations:
        hub = os.path.join(folder, "hub-" + name)
        os.makedirs(hub)
        journal = os.path.join(folder, name + ".jsonl")
        sim = subprocess.Popen([program("veksim"), "--boxes", str(boxes), "--id", first_id,
                                "--plug-every", "100", "--unplug-after", "5000", "--port-dir",
                                hub] + options, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
        station = subprocess.Popen([program("vekctl"), "provision", "--watch", "--profile",
                                    profile, "--record", journal, "--station", name, "--sync",
                                    url], env=dict(os.environ, VEKTOOL_PORTS=hub),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        running.append((sim, station, journal, boxes))

    def lines(journal):
        return pathlib.Path(journal).read_bytes().count(b"\n") if os.path.exists(journal) else 0

    def confirmed(journal):
        try:
            return int(pathlib.Path(journal + ".sync").read_text()) == os.path.getsize(journal)
        except (OSError, ValueError):
            return False

    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not all(
            lines(journal) >= boxes and confirmed(journal) for _, _, journal, boxes in running):
        time.sleep(0.2)
    for sim, station, _, _ in running:
        station.send_signal(signal.SIGINT)
        sim.terminate()
        station.wait(20)
        sim.wait(20)
    return sum(lines(journal) for _, _, journal, _ in running)


def chromium(downloads=None, width=1400, height=1000):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--no-first-run", "--lang=pt-BR", f"--window-size={width},{height}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    if downloads:
        options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                                  "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    if downloads:
        driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                               {"behavior": "allow", "downloadPath": downloads})
    return driver


def statuses(driver):
    """The HTTP status of each document the browser received since last asked, by address."""
    found = {}
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.responseReceived":
            response = message["params"]["response"]
            found[response["url"]] = response["status"]
    return found


def basic_auth(driver, token):
    """Sends the token as the password of HTTP basic authentication, as a person would type it."""
    driver.execute_cdp_cmd("Network.enable", {})
    header = "Basic " + base64.b64encode(b"leitor:" + token.encode()).decode()
    driver.execute_cdp_cmd("Network.setExtraHTTPHeaders", {"headers": {"Authorization": header}})


def temporary_folder():
    return tempfile.TemporaryDirectory(prefix="vekfleet-")
