"""The README's pictures of the fleet pages: a history filled by simulated stations, each page
shot whole in headless Chromium into docs/.
    VEKHISTORY=... VEKCTL=... VEKSIM=... /usr/bin/python3 scripts/page-screenshots.py"""
import os
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(root, "tests", "history", "browser"))
import fleethelp  # noqa: E402

with fleethelp.temporary_folder() as folder:
    history = fleethelp.History(os.path.join(folder, "history.db"))
    frota = fleethelp.profile_file(folder, "frota", 110)
    locadora = fleethelp.profile_file(folder, "locadora", 90)
    stations = [("bancada-1", frota, 30, "00A1B2C344C5D6E788990000", ["--fw", "2.36"]),
                ("bancada-2", locadora, 30, "00A1B2C444C5D6E788990000", ["--fw", "2.36"]),
                ("linha-3", frota, 20, "00A1B2C544C5D6E788990000", ["--vary"]),
                ("oficina-sp", locadora, 25, "00A1B2C644C5D6E788990000",
                 ["--fw", "2.36", "--lose", "0.02", "--seed", "7"])]
    fleethelp.run_stations(folder, history.url, stations)
    # The first box of bancada-1 comes back twice, the second time from another bench.
    fleethelp.run_stations(folder, history.url,
                           [("bancada-1-volta", frota, 1, stations[0][3], ["--fw", "2.36"]),
                            ("bancada-2-volta", locadora, 1, stations[0][3], ["--fw", "2.36"])])
    driver = fleethelp.chromium(width=1280, height=900)
    try:
        for name, path in (("fleet-overview", "/"), ("fleet-boxes", "/caixas?q=b2c3"),
                           ("fleet-box", "/caixa?id=00A1B2C3-44C5D6E7-88990000"),
                           ("fleet-stations", "/estacoes")):
            driver.get(history.url + path)
            height = driver.execute_script("return document.documentElement.scrollHeight")
            driver.set_window_size(1280, min(height + 120, 4000))
            out = os.path.join(root, "docs", name + ".png")
            driver.save_screenshot(out)
            driver.set_window_size(1280, 900)
            print("Wrote", os.path.normpath(out))
    finally:
        driver.quit()
        history.stop()
