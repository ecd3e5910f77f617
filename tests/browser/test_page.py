"""The control page in headless chromium, against a running printer-sim.

Each test starts its own simulator, paused, and moves firmware time itself;
what is asserted is what the page shows.
"""

import os
import unittest

from selenium.common.exceptions import (NoSuchElementException,
                                        StaleElementReferenceException)
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

import harness
from harness import wait_for

PRINT_END = 11
DEMO_FILES = 5
PRINT_FILE = "cube.pvk4k"


def text(driver, css):
    try:
        return driver.find_element(By.CSS_SELECTOR, css).text
    except (NoSuchElementException, StaleElementReferenceException):
        return None


def lines(driver, css):
    try:
        return [e.text for e in driver.find_elements(By.CSS_SELECTOR, css + " > *")]
    except StaleElementReferenceException:
        return []


def points(driver, css):
    try:
        value = driver.find_element(By.CSS_SELECTOR, css).get_attribute("data-points")
    except (NoSuchElementException, StaleElementReferenceException):
        return None
    return int(value) if value not in (None, "") else None


class PageTest(unittest.TestCase):
    sim_args = ()

    def setUp(self):
        self.sim = harness.Simulator(*self.sim_args)
        self.addCleanup(self.sim.close)
        self.driver = harness.browser()
        self.addCleanup(self.driver.quit)
        self.driver.get(self.sim.url)
        wait_for(self.driver, lambda d: text(d, "#conn") == "live", "#conn to say live")

    def wait(self, condition, what):
        return wait_for(self.driver, condition, what)

    def started(self):
        """Start-up done: the demo stick scanned, the page lists its files."""
        self.sim.run_until("usb_file_count", DEMO_FILES)
        # A few more passes of the main loop: the home window takes touches.
        self.sim.run_until("main_loop_passes", self.sim.state()["main_loop_passes"] + 2)
        self.wait(lambda d: len(Select(d.find_element(By.ID, "files")).options) == DEMO_FILES,
                  f"#files to list the {DEMO_FILES} files of the demo stick")

    def start_print(self):
        self.started()
        Select(self.driver.find_element(By.ID, "files")).select_by_visible_text(PRINT_FILE)
        self.driver.find_element(By.ID, "print").click()
        # The page's request selects and starts it on the firmware's loop.
        self.wait(lambda d: self.sim.state()["creat_print_pthread"] != 0
                  or self.sim.state()["is_printing_true"] != 0
                  or text(d, "#error"), "the print to be accepted")
        self.assertEqual(text(self.driver, "#error"), "", "the page refused the print")

    def run_seen(self, ms):
        """Runs ms of firmware time and waits until the page has shown it."""
        before = text(self.driver, "#sim-time")
        self.sim.run(ms)
        self.wait(lambda d: text(d, "#sim-time") not in (before, None),
                  f"#sim-time to move on from {before!r}")

    def press_panel(self, x, y, hold_ms=300):
        """A touch at panel pixel (x, y) through the mouse, held for hold_ms
        of firmware time."""
        panel = self.driver.find_element(By.ID, "panel")
        self.driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", panel)
        size = panel.size
        # Selenium's offsets are from the element's centre; the panel is shown
        # at twice its 320x240 pixels.
        dx = x * size["width"] / 320 - size["width"] / 2
        dy = y * size["height"] / 240 - size["height"] / 2
        ActionChains(self.driver).move_to_element_with_offset(panel, round(dx), round(dy)) \
            .click_and_hold().perform()
        # The page's pen request is on its way; time runs once it has landed.
        self.wait(lambda d: self.sim.state()["pen_down"], "the pen to be down")
        self.sim.run(hold_ms)
        ActionChains(self.driver).release().perform()
        self.wait(lambda d: not self.sim.state()["pen_down"], "the pen to be up")
        self.sim.run(hold_ms)


class LoadTest(PageTest):
    def test_loads_without_console_errors(self):
        self.started()
        # Time moves and the page follows it, with nothing wrong on the way.
        self.run_seen(2000)
        self.wait(lambda d: text(d, "#window").startswith("0 "), "#window to show home")
        self.wait(lambda d: d.execute_script("return document.getElementById('panel').naturalWidth")
                  == 320, "#panel to show the panel's picture")
        severe = [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(severe, [], "console errors")


class TouchTest(PageTest):
    def test_click_on_panel_opens_file_window(self):
        self.started()
        self.wait(lambda d: text(d, "#window").startswith("0 "), "#window to show home")
        # The middle of the file button of the home screen (x 65-151, y 66-180).
        self.press_panel(108, 123)
        self.sim.run_until("current_window_ID", 1)
        shown = self.wait(lambda d: (t := text(d, "#window")).startswith("1 ") and t,
                          "#window to show the file window")
        self.assertIn("file", shown.lower())


class PrintTest(PageTest):
    def test_print_shows_log_trace_and_plots(self):
        self.start_print()
        before = points(self.driver, "#plot-z") or 0
        # In steps the page sees, so that the plots sample the print as it goes.
        for _ in range(10):
            self.run_seen(2000)
        self.sim.run_until("print_status", PRINT_END, limit_ms=600000)
        self.wait(lambda d: text(d, "#print-status").startswith(f"{PRINT_END} "),
                  "#print-status to show the end of the print")
        # Written once a layer, never at start-up.
        self.wait(lambda d: any("current layer =" in line for line in lines(d, "#log")),
                  "#log to show the print's layers")
        self.wait(lambda d: any(line.find("G1 ") >= 0 for line in lines(d, "#trace")),
                  "#trace to show G1 lines")
        self.wait(lambda d: (points(d, "#plot-z") or 0) > before, "#plot-z to gain points")


class BoardTest(PageTest):
    def test_fault_switch_and_temperature(self):
        self.started()
        self.assertFalse(self.sim.board()["faults"]["silent"])
        self.driver.find_element(By.ID, "fault-silent").click()
        self.wait(lambda d: self.sim.board()["faults"]["silent"], "the board to be silent")

        temp = self.driver.find_element(By.ID, "temp")
        temp.clear()
        temp.send_keys("61")
        self.driver.find_element(By.ID, "set-temp").click()
        self.wait(lambda d: self.sim.board()["temperature"] == 61, "the board's temperature 61")
        self.wait(lambda d: text(d, "#board-temperature").startswith("61 "),
                  "#board-temperature to show 61")

        temp.clear()
        temp.send_keys("99999")
        self.driver.find_element(By.ID, "set-temp").click()
        self.wait(lambda d: text(d, "#error"), "#error to show why 99999 is refused")
        self.assertEqual(self.sim.board()["temperature"], 61)


class StopTest(PageTest):
    def test_stopped_simulator_shows_stopped(self):
        self.started()
        self.assertEqual(self.sim.stop(), 0, "printer-sim's exit status on SIGTERM")
        self.wait(lambda d: text(d, "#conn") == "stopped", "#conn to say stopped")


class ScreenshotTest(PageTest):
    def test_screenshot_during_print(self):
        self.start_print()
        for _ in range(100):
            if self.sim.state()["current_layer"] >= 3:
                break
            self.run_seen(2000)
        status = self.sim.state()["print_status"]
        self.wait(lambda d: text(d, "#print-status").startswith(f"{status} ")
                  and (points(d, "#plot-z") or 0) > 0, "the page to show the print")
        # The part grows beside the mask: its summary and its picture.
        self.wait(lambda d: " layers, " in text(d, "#part-summary")
                  and d.execute_script("return document.getElementById('part').naturalWidth") > 0,
                  "the page to show the part")
        path = os.path.join(harness.ROOT, "build", "host", "page.png")
        self.assertTrue(self.driver.save_screenshot(path), f"could not write {path}")


if __name__ == "__main__":
    unittest.main()
