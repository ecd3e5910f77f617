"""printer-sim as a child process and headless chromium on its control page.

Firmware time only moves when a test asks for it (the simulator starts
paused); the browser is waited for on conditions, never on the clock.
"""

import json
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIM = os.environ.get("PRINTER_SIM", os.path.join(ROOT, "build", "host", "bin", "printer-sim"))
CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

# Generous: a busy machine makes the browser slow, never wrong.
WAIT_S = 30


class ApiError(Exception):
    def __init__(self, status, body):
        super().__init__(f"HTTP {status}: {body}")
        self.status = status
        self.body = body


class Simulator:
    """One printer-sim on a free port, its sandbox in a fresh TMPDIR."""

    def __init__(self, *args):
        self.tmp = tempfile.mkdtemp(prefix="page-test-")
        env = dict(os.environ, TMPDIR=self.tmp)
        self.stderr_path = os.path.join(self.tmp, "stderr")
        with open(self.stderr_path, "wb") as stderr:
            self.proc = subprocess.Popen(
                [SIM, "--port", "0", "--paused", "--speed", "max", *args],
                stdout=subprocess.PIPE, stderr=stderr, stdin=subprocess.DEVNULL, env=env)
        first = self.proc.stdout.readline().decode("utf-8", "replace").strip()
        prefix = "control page: http://127.0.0.1:"
        if not first.startswith(prefix):
            self.proc.kill()
            self.proc.wait()
            with open(self.stderr_path, errors="replace") as f:
                why = f.read()[-2000:]
            raise RuntimeError(f"printer-sim did not say where its page is: {first!r}\n{why}")
        self.port = int(first[len(prefix):].rstrip("/"))
        self.url = f"http://127.0.0.1:{self.port}/"
        # The firmware's log goes on to this pipe: keep it flowing.
        self.output = []
        self.reader = threading.Thread(target=self._drain, daemon=True)
        self.reader.start()
        self.exit_status = None

    def _drain(self):
        for line in self.proc.stdout:
            self.output.append(line)

    def api(self, method, path, body=None, timeout=120):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(self.url.rstrip("/") + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=timeout) as r:
                return json.loads(r.read())
        except urllib.error.HTTPError as e:
            raise ApiError(e.code, e.read().decode("utf-8", "replace")) from None

    def get(self, path):
        return self.api("GET", path)

    def run(self, ms):
        return self.api("POST", "/api/run", {"ms": ms})

    def run_until(self, field, equals, limit_ms=5000):
        state = self.api("POST", "/api/run",
                         {"until": {"field": field, "equals": equals}, "limit_ms": limit_ms})
        if not state["run"]["reached"]:
            raise AssertionError(f"{field} did not become {equals!r} in {limit_ms} ms of "
                                 f"firmware time: it is {state.get(field)!r}")
        return state

    def state(self):
        return self.get("/api/state")

    def board(self):
        return self.get("/api/board")

    def stop(self):
        """SIGTERM and the exit status (once; later calls give the same)."""
        if self.exit_status is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.exit_status = self.proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                self.exit_status = "did not exit on SIGTERM"
            self.reader.join(timeout=10)
            self.proc.stdout.close()
        return self.exit_status

    def close(self):
        self.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)


def browser(width=1280, height=800):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", f"--window-size={width},{height}",
                # Root in a container has no user namespaces for the sandbox.
                "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--no-first-run", "--disable-extensions"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(WAIT_S)
    # The window's frame takes from the page; the page itself gets the size.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1,
                            "mobile": False})
    return driver


def wait_for(driver, condition, what, timeout=WAIT_S):
    """Waits until condition(driver) is truthy; its value. Fails saying what."""
    # The page rebuilds its lists: an element may go while it is read.
    return WebDriverWait(driver, timeout, poll_frequency=0.1,
                         ignored_exceptions=(NoSuchElementException,
                                             StaleElementReferenceException)).until(
        condition, message=f"waited {timeout} s for {what}")
