"""Time to the largest contentful paint of each fleet page in headless Chromium, from its
Performance API: median and 95th percentile of several loads. Prints; judges nothing.
    /usr/bin/python3 bench/page_paint.py URL PATH..."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "history", "browser"))
import fleethelp  # noqa: E402

LOADS = 15
LARGEST_PAINT = """
const done = arguments[0];
new PerformanceObserver(list => {
    const entries = list.getEntries();
    done(entries[entries.length - 1].startTime);
}).observe({type: "largest-contentful-paint", buffered: true});
"""

driver = fleethelp.chromium()
driver.set_script_timeout(30)
try:
    for path in sys.argv[2:]:
        times = []
        for _ in range(LOADS):
            driver.get(sys.argv[1] + path)
            times.append(driver.execute_async_script(LARGEST_PAINT))
        times.sort()
        print(f"largest paint in Chromium {path[:40]:<42} median {times[len(times) // 2]:7.1f} ms"
              f"   p95 {times[min(len(times) - 1, len(times) * 95 // 100)]:7.1f} ms"
              f"   ({LOADS} loads)", flush=True)
finally:
    driver.quit()
