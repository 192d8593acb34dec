"""The fleet pages in headless Chromium, against a vekhistory filled by real stations' sync from
simulated boxes. Runs in a network namespace of its own (see CMakeLists.txt), where the server
can also listen off loopback without being reachable from anywhere else."""
import csv
import json
import os
import subprocess
import time
import unittest
import uuid
from datetime import datetime, timedelta, timezone

from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By

import fleethelp

MARKUP_PROFILE = "<script>alert('perfil')</script>\"'"
MARKUP_ID = "<img src=x onerror=alert(1)>\"'-0011"
MARKUP_ERROR = "<script>alert(\"erro\")</script>"
OFF_LOOPBACK = "192.0.2.10"  # TEST-NET-1, on a veth inside the test's own namespace


def markup_line():
    """A visit whose identifier, station, port and error hold markup, as a station could send."""
    time_ = datetime.now(timezone.utc).strftime("%Y-%m-%dT%H:%M:%S.000Z")
    return json.dumps({
        "visit": str(uuid.uuid4()), "journal": str(uuid.uuid4()), "seq": 1, "prev": "",
        "station": "<b>bancada</b>", "utc_offset": "-03:00", "time": time_,
        "tool_version": "2.36", "port": "<i>ttyUSB0</i>", "identifier": MARKUP_ID,
        "hardware_type": 3, "firmware_before": "3.0.2.30", "firmware_after": "3.0.2.36",
        "profile": MARKUP_PROFILE, "actions": ["identify", "upload"], "result": "failed",
        "reason": "link_failed", "error": MARKUP_ERROR, "duration_s": 12.5}) + "\n"


def setUpModule():
    global folder, history, driver, downloads
    folder = fleethelp.temporary_folder()
    downloads = os.path.join(folder.name, "downloads")
    os.makedirs(downloads)
    history = fleethelp.History(os.path.join(folder.name, "history.db"))
    plain = fleethelp.profile_file(folder.name, "frota", 110)
    marked = fleethelp.profile_file(folder.name, MARKUP_PROFILE, 90)
    fleethelp.run_stations(folder.name, history.url, [
        ("bancada-1", plain, 6, "00A1B2C344C5D6E788990000", ["--fw", "2.36"]),
        ("bancada-2", marked, 4, "00A1B2C444C5D6E788990000", ["--fw", "2.36"]),
    ])
    # bancada-1 services its first box again: that box has two visits.
    fleethelp.run_stations(folder.name, history.url, [
        ("bancada-1b", plain, 1, "00A1B2C344C5D6E788990000", ["--fw", "2.36"])])
    assert history.post(markup_line())["stored"] == 1
    driver = fleethelp.chromium(downloads)


def tearDownModule():
    driver.quit()
    history.stop()
    folder.cleanup()


class FleetPages(unittest.TestCase):
    def tearDown(self):
        # Nothing a page does may reach the console: no script run, no CSP refusal, no error.
        self.assertEqual([entry["message"] for entry in driver.get_log("browser")], [])

    def test_overview_figures_match_the_api(self):
        driver.get(history.url + "/")
        cards = driver.find_elements(By.CSS_SELECTOR, ".cards dd")
        boxes = history.all_pages("/api/v1/boxes", "boxes")
        self.assertEqual(cards[0].text, str(len(boxes)))
        for card in driver.find_elements(By.CSS_SELECTOR, ".cards div[data-since]"):
            since = card.get_attribute("data-since")
            visits = history.all_pages("/api/v1/visits?since=" + since, "visits")
            self.assertEqual(card.find_element(By.TAG_NAME, "dd").text.split("\n")[0],
                             str(len(visits)))
        firmware_rows = driver.find_elements(By.CSS_SELECTOR, "section:nth-of-type(1) .numbers tr")
        shown = {row.find_elements(By.TAG_NAME, "td")[0].text:
                 int(row.find_elements(By.TAG_NAME, "td")[1].text)
                 for row in firmware_rows[1:]}
        expected = {}
        for box in boxes:
            expected[box["firmware"]] = expected.get(box["firmware"], 0) + 1
        self.assertEqual(shown, expected)
        stations = history.api("/api/v1/stations")["stations"]
        shown_stations = [row.find_element(By.TAG_NAME, "td").text for row in
                          driver.find_elements(By.CSS_SELECTOR, "table.wide tbody tr")]
        self.assertEqual(shown_stations, [s["station"] for s in stations])

    def test_a_piece_of_an_identifier_finds_the_box_and_its_visits_in_order(self):
        driver.get(history.url + "/caixas")
        search = driver.find_element(By.NAME, "q")
        search.send_keys("b2c344c5d6e7889900")  # dashes left out, lower case
        search.submit()
        links = driver.find_elements(By.CSS_SELECTOR, "#boxes a.id")
        self.assertEqual(sorted(link.text for link in links),
                         [f"00A1B2C3-44C5D6E7-889900{n:02X}" for n in range(6)])
        # The box bancada-1b serviced again is the latest.
        self.assertEqual(links[0].text, "00A1B2C3-44C5D6E7-88990000")
        links[0].click()
        shown = [row.find_element(By.TAG_NAME, "time").get_attribute("datetime")
                 for row in driver.find_elements(By.CSS_SELECTOR, "#visits tbody tr")]
        timeline = history.api("/api/v1/boxes/00A1B2C3-44C5D6E7-88990000")["visits"]
        self.assertEqual(len(shown), 2)
        self.assertEqual(shown, [visit["time"] for visit in reversed(timeline)])

    def test_the_csv_link_downloads_exactly_the_filtered_rows(self):
        driver.get(history.url + "/caixas?station=bancada-1&result=serviced")
        driver.find_element(By.LINK_TEXT, "Baixar CSV").click()
        path = os.path.join(downloads, "caixas.csv")
        deadline = time.monotonic() + 20
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.1)
        with open(path, newline="") as file:
            rows = list(csv.DictReader(file))
        expected = history.all_pages("/api/v1/boxes?station=bancada-1&result=serviced", "boxes")
        self.assertEqual([row["identifier"] for row in rows],
                         [box["identifier"] for box in expected])
        self.assertEqual(len(rows), 5)  # the sixth box's latest visit is bancada-1b's

    def test_markup_in_a_record_shows_as_text_and_runs_nothing(self):
        for page in ("/", "/caixas", "/estacoes"):
            driver.get(history.url + page)
            self.assertNotIn("<script", driver.find_element(By.TAG_NAME, "main").get_attribute(
                "innerHTML").replace("&lt;script", ""))
        driver.get(history.url + "/caixas")
        self.assertIn(MARKUP_ID, driver.find_element(By.ID, "boxes").text)
        self.assertIn(MARKUP_PROFILE, driver.find_element(By.ID, "boxes").text)
        driver.find_element(By.PARTIAL_LINK_TEXT, "<img").click()
        self.assertEqual(driver.find_element(By.CSS_SELECTOR, "h1 .id").text, MARKUP_ID)
        self.assertIn(MARKUP_ERROR, driver.find_element(By.ID, "visits").text)
        self.assertEqual(driver.find_elements(By.CSS_SELECTOR, "main img, main b, main i"), [])
        with self.assertRaises(NoAlertPresentException):
            driver.switch_to.alert.text


class OffLoopback(unittest.TestCase):
    """The server on an address of a network interface, as on a company network."""

    @classmethod
    def setUpClass(cls):
        cls.folder = fleethelp.temporary_folder()
        cls.db = os.path.join(cls.folder.name, "history.db")
        cls.reader = fleethelp.add_token(cls.db, "reader", "gerente")
        cls.station = fleethelp.add_token(cls.db, "station", "bancada-1")
        cls.history = fleethelp.History(cls.db, OFF_LOOPBACK)

    @classmethod
    def tearDownClass(cls):
        cls.history.stop()
        cls.folder.cleanup()

    def page_with(self, token):
        """The overview's status and heading as the browser got them."""
        browser = fleethelp.chromium()
        try:
            if token:
                fleethelp.basic_auth(browser, token)
            browser.get(self.history.url + "/")
            headings = browser.find_elements(By.TAG_NAME, "h1")
            return (fleethelp.statuses(browser).get(self.history.url + "/"),
                    headings[0].text if headings else None)
        finally:
            browser.quit()

    def test_the_page_opens_only_with_a_reader_token(self):
        self.assertTrue(self.history.url.startswith(f"http://{OFF_LOOPBACK}:"))
        # With no token the browser is asked for one and shows nothing of the fleet.
        self.assertEqual(self.page_with(None), (401, None))
        self.assertEqual(self.page_with(self.station), (403, "Acesso recusado"))
        self.assertEqual(self.page_with(self.reader), (200, "Visão geral da frota"))


def network_of_our_own():
    """Loopback up and a veth pair holding an address off loopback, in the namespace that
    CTest's unshare made."""
    for command in (["ip", "link", "set", "lo", "up"],
                    ["ip", "link", "add", "vek0", "type", "veth", "peer", "name", "vek1"],
                    ["ip", "addr", "add", OFF_LOOPBACK + "/24", "dev", "vek0"],
                    ["ip", "link", "set", "vek0", "up"], ["ip", "link", "set", "vek1", "up"]):
        subprocess.run(command, check=True)


if __name__ == "__main__":
    network_of_our_own()
    unittest.main(verbosity=2)
