#!/usr/bin/env python3
"""gaugebench serve in a real browser (headless Chromium driven by Selenium).

Starts `gaugebench serve` on a free port of 127.0.0.1 with the sample panel, opens the page and
works it as a user would: clicks the left cowl flap OPEN area (the KeyEvent shows in the log, the
lever picture changes), drags throttle 1 (its knob moves), sets the marker beacon to 2 (the A lamp
lights), and measures the frames the page gets while a variable changes without pause. The server
and the browser are ended whatever happens; the whole run is bounded in time.
"""

import argparse
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.mouse_button import MouseButton
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

OVERALL_SECONDS = 170


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---- PNG pictures (Chromium's screenshots), without outside libraries --------------------------

def decode_png(data):
    """Returns (width, height, rows) with rows[y][x] = (r, g, b); 8-bit RGB or RGBA only."""
    check(data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, color, _, _, interlace = struct.unpack(">IIBBBBB", body)
            check(depth == 8 and color in (2, 6) and interlace == 0, "unexpected PNG format")
            channels = 4 if color == 6 else 3
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def region(shot, box):
    x0, y0, x1, y1 = (int(round(v)) for v in box)
    return [row[x0:x1] for row in shot[2][y0:y1]]


def changed_fraction(a, b):
    total = changed = 0
    for ra, rb in zip(a, b):
        for pa, pb in zip(ra, rb):
            total += 1
            changed += sum(abs(u - v) for u, v in zip(pa, pb)) > 30
    return changed / max(total, 1)


def mean(pixels, f):
    values = [f(p) for row in pixels for p in row]
    return sum(values) / max(len(values), 1)


# ---- The server ---------------------------------------------------------------------------------

def start_server(gaugebench, panel, gauges):
    server = subprocess.Popen([gaugebench, "serve", panel, "--gauges", gauges, "--port", "0"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = []
    reader = threading.Thread(target=lambda: line.append(server.stdout.readline()), daemon=True)
    reader.start()
    reader.join(30)
    text = line[0] if line else ""
    marker = "http://127.0.0.1:"
    if marker not in text:
        server.kill()
        raise Failure(f"gaugebench serve printed no address: {text!r} {server.stderr.read() if server.poll() is not None else ''}")
    port = int(text.split(marker)[1].split("/")[0])
    return server, port


def stop_server(server):
    if server is None or server.poll() is not None:
        return None
    server.send_signal(signal.SIGTERM)
    try:
        return server.wait(10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait(5)
        return None


def get_json(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=5) as r:
        return json.loads(r.read())


# ---- The browser --------------------------------------------------------------------------------

def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ["--headless", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-extensions", "--disable-dev-shm-usage",
                "--window-size=1600,1000", "--force-device-scale-factor=1",
                "--autoplay-policy=no-user-gesture-required", f"--user-data-dir={profile}"]:
        options.add_argument(arg)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(executable_path="/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(20)
    driver.set_script_timeout(20)
    return driver


class Page:
    def __init__(self, driver, port, shots):
        self.driver, self.port, self.shots = driver, port, shots
        self.panel = get_json(port, "/api/panel")
        self.window = self.panel["windows"][0]

    def wait(self, what, condition, seconds=10):
        try:
            return WebDriverWait(self.driver, seconds, poll_frequency=0.05).until(lambda d: condition())
        except Exception as e:
            raise Failure(f"timed out waiting for {what}") from e

    def frame_number(self):
        return int(self.driver.find_element(By.CSS_SELECTOR, 'canvas[data-window="0"]').get_attribute("data-frame") or 0)

    def gauge(self, name):
        for g in self.window["gauges"]:
            if g["name"] == name or g.get("gaugeName") == name:
                check(g.get("module") and g["nativeWidth"] > 0, f"gauge {name} did not load: {g.get('error')}")
                return g
        raise Failure(f"no gauge {name} on the panel")

    def canvas_rect(self):
        return self.driver.execute_script(
            "const c = document.querySelector('canvas[data-window=\"0\"]'); const r = c.getBoundingClientRect();"
            "return [r.left, r.top, r.width / c.width, r.height / c.height];")

    def point(self, gauge, gx, gy):
        """Viewport point (CSS pixels) of the centre of gauge pixel (gx, gy)."""
        left, top, sx, sy = self.canvas_rect()
        wx = gauge["x"] + (gx + 0.5) * gauge["w"] / gauge["nativeWidth"]
        wy = gauge["y"] + (gy + 0.5) * gauge["h"] / gauge["nativeHeight"]
        return left + wx * sx, top + wy * sy

    def box(self, gauge, gx0, gy0, gx1, gy1):
        """Viewport box of the gauge pixels gx0..gx1, gy0..gy1 (inclusive), shrunk by a pixel."""
        x0, y0 = self.point(gauge, gx0, gy0)
        x1, y1 = self.point(gauge, gx1, gy1)
        return x0, y0, x1 + 1, y1 + 1

    def screenshot(self, name):
        data = self.driver.get_screenshot_as_png()
        with open(os.path.join(self.shots, name + ".png"), "wb") as f:
            f.write(data)
        return decode_png(data)

    def settle(self, before):
        """Waits until the page drew a frame newer than `before` and the bench has nothing newer."""
        self.wait("a new frame", lambda: self.frame_number() > before)
        time.sleep(0.3)
        self.wait("the newest frame", lambda: self.frame_number() >= get_json(self.port, "/api/poll?since=0&events=0")["frames"][0])

    def log_text(self):
        return self.driver.find_element(By.ID, "log").text

    def actions(self):
        return ActionBuilder(self.driver)


def run(args):
    server = driver = None
    profile = tempfile.mkdtemp(prefix="gaugebench-chromium-")
    os.makedirs(args.screenshots, exist_ok=True)
    try:
        server, port = start_server(args.gaugebench, args.panel, args.gauges)
        driver = start_browser(profile)
        driver.get(f"http://127.0.0.1:{port}/")
        page = Page(driver, port, args.screenshots)
        page.wait("the first frame", lambda: page.frame_number() >= 1, 20)
        page.wait("the live link", lambda: "live" in driver.find_element(By.ID, "link-text").text)
        shot = page.screenshot("0-loaded")
        width = driver.execute_script("return window.innerWidth")
        check(shot[0] == width, f"screenshot is {shot[0]} pixels wide, the viewport {width}: scaled screenshot")

        # The left cowl flap lever: CLOSE after loading; a press on its OPEN area (x, y 90..114).
        cowl = page.gauge("ZAF-M8V-Cowlflaps-v3s")
        half = cowl["nativeWidth"] // 2
        left_lever = page.box(cowl, 0, 0, half - 1, cowl["nativeHeight"] - 1)
        right_lever = page.box(cowl, half, 0, cowl["nativeWidth"] - 1, cowl["nativeHeight"] - 1)
        frame = page.frame_number()
        driver.execute_script("""
            window.__played = [];
            const play = HTMLMediaElement.prototype.play;
            HTMLMediaElement.prototype.play = function () { window.__played.push(this.src); return play.call(this); };""")
        x, y = page.point(cowl, 102, 102)
        a = page.actions()
        a.pointer_action.move_to_location(int(x), int(y))
        a.pointer_action.click()
        a.perform()
        page.wait("0x10210 in the log", lambda: "0x10210" in page.log_text())
        page.wait("the click sound in the log", lambda: "sound 5001" in page.log_text())
        page.settle(frame)
        after = page.screenshot("1-cowl-flap-open")
        moved = changed_fraction(region(shot, left_lever), region(after, left_lever))
        still = changed_fraction(region(shot, right_lever), region(after, right_lever))
        print(f"cowl flaps: {moved:.1%} of the left lever's half changed, {still:.1%} of the right's")
        check(moved > 0.01, "the left cowl flap lever picture did not change")
        check(still == 0, "the right cowl flap lever moved too")
        entries = driver.find_elements(By.CSS_SELECTOR, "#log li")
        check(entries and "0x10210" in entries[-2].text + entries[-1].text, "the KeyEvent is not among the newest entries")
        # The click went to an Audio element, and the browser decodes what it got.
        page.wait("the click to play", lambda: any("/api/sound/" in src for src in driver.execute_script("return window.__played")))
        played = [src for src in driver.execute_script("return window.__played") if "/api/sound/" in src]
        seconds = driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch(arguments[0]).then((r) => r.arrayBuffer())
              .then((bytes) => new OfflineAudioContext(1, 1, 44100).decodeAudioData(bytes))
              .then((audio) => done(audio.duration), (e) => done(-1));""", played[0])
        print(f"click sound: {played[0]} decodes to {seconds:.3f} s of audio")
        check(len(played) == 1 and seconds > 0.005, f"the click did not play as audio: {played} {seconds}")

        # Throttle 1: drag its strip (x 54..91 of the 190 x 68 quadrant) from low to high.
        quad = page.gauge("KT7-Quad")
        strip = page.box(quad, 54, 0, 91, quad["nativeHeight"] - 1)
        beside = page.box(quad, 0, 0, 50, quad["nativeHeight"] - 1)
        before = after
        frame = page.frame_number()
        x, y0 = page.point(quad, 72, 40)
        _, y1 = page.point(quad, 72, 5)
        a = page.actions()
        a.pointer_action.move_to_location(int(x), int(y0))
        a.pointer_action.pointer_down(MouseButton.LEFT)
        for k in range(1, 9):
            a.pointer_action.move_to_location(int(x), int(y0 + (y1 - y0) * k / 8))
        a.pointer_action.pointer_up(MouseButton.LEFT)
        a.perform()
        throttle = driver.find_element(By.CSS_SELECTOR, 'input[type=number][data-var="0x80"]')
        page.wait("throttle 1 at 14757", lambda: throttle.get_attribute("value") == "14757")
        page.settle(frame)
        after = page.screenshot("2-throttle-dragged")
        moved = changed_fraction(region(before, strip), region(after, strip))
        print(f"throttle: {moved:.1%} of throttle 1's strip changed")
        check(moved > 0.02, "throttle 1's knob did not move")
        check(changed_fraction(region(before, beside), region(after, beside)) == 0, "the quadrant changed beside throttle 1")
        # The knob went up: the strip's upper part changed.
        top = page.box(quad, 54, 0, 91, 20)
        check(changed_fraction(region(before, top), region(after, top)) > 0.02, "nothing changed at the top of the strip")

        # Marker beacon 2: the A lamp (x 82..131, y 34..81 of the 217 x 213 face) lights.
        marker = page.gauge("ZAF-M8V-OMI-Lights2-v1s")
        lamp = page.box(marker, 84, 36, 129, 79)
        before = after
        frame = page.frame_number()
        driver.find_element(By.CSS_SELECTOR, 'button[data-var="0x162"][data-value="2"]').click()
        page.settle(frame)
        after = page.screenshot("3-marker-a-lit")
        brightness = lambda p: sum(p) / 3
        whiteness = lambda p: min(p)
        b0, b1 = mean(region(before, lamp), brightness), mean(region(after, lamp), brightness)
        w0, w1 = mean(region(before, lamp), whiteness), mean(region(after, lamp), whiteness)
        print(f"marker A lamp: brightness {b0:.0f} -> {b1:.0f}, whiteness {w0:.0f} -> {w1:.0f}")
        check(b1 > b0 + 40 and w1 > w0 + 25, "the A lamp did not light")
        check(get_json(port, "/api/poll?since=0&events=0")["variables"].get("0x162") == 2, "0x162 is not 2")

        # The free entry sets any variable.
        entry = driver.find_element(By.ID, "free-text")
        entry.send_keys("0x162 = 0\n")
        page.wait("0x162 back to 0", lambda: get_json(port, "/api/poll?since=0&events=0")["variables"].get("0x162") == 0)

        # Frames the page gets while a needle moves without pause, and the bench's cost per frame.
        driver.execute_script("""
            window.__sweep = setInterval(() => fetch('/api/set?id=0x98&value=' +
                Math.floor(Math.random() * 60000), {method: 'POST'}), 16);""")
        time.sleep(1.0)
        drawn0, t0 = driver.execute_script("return [S.framesDrawn, performance.now()]")
        time.sleep(args.measure_seconds)
        drawn1, t1 = driver.execute_script("clearInterval(window.__sweep); return [S.framesDrawn, performance.now()]")
        fps = (drawn1 - drawn0) * 1000 / (t1 - t0)
        stats = get_json(port, "/api/poll?since=0&events=0")["stats"]
        print(f"page: {fps:.1f} frames/s drawn while 0x98 changed every 16 ms; bench per tick: update "
              f"{stats['updateMs']:.2f} ms, draw {stats['drawMs']:.2f} ms, png {stats['encodeMs']:.2f} ms a frame, "
              f"{stats['ticksPerSecond']:.0f} ticks/s")
        check(fps >= args.min_fps, f"the page drew only {fps:.1f} frames a second")
        page.screenshot("4-after-sweep")

        # Nothing on the page failed.
        severe = [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE"]
        check(not severe, f"browser errors: {severe}")
        driver.quit()
        driver = None
        status, server = stop_server(server), None
        check(status == 0, f"gaugebench serve ended with status {status} on SIGTERM")
        print("ok")
        return 0
    finally:
        if driver is not None:
            try:
                driver.quit()
            except Exception:
                pass
        status = stop_server(server)
        if server is not None:
            print(f"gaugebench serve ended with status {status}")
        shutil.rmtree(profile, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gaugebench", required=True)
    parser.add_argument("--panel", required=True)
    parser.add_argument("--gauges", required=True)
    parser.add_argument("--screenshots", default=tempfile.gettempdir())
    parser.add_argument("--measure-seconds", type=float, default=3.0)
    parser.add_argument("--min-fps", type=float, default=5.0)
    args = parser.parse_args()

    def overtime(*_):
        raise Failure(f"the test took longer than {OVERALL_SECONDS} s")

    signal.signal(signal.SIGALRM, overtime)
    signal.alarm(OVERALL_SECONDS)
    try:
        return run(args)
    except Failure as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
