#!/usr/bin/python3
"""The sample user's gallery in headless Chromium, opened from file:// as a user opens it.

    gallery_browser_test.py --fixture PATH --chromium PATH --chromedriver PATH [--screenshots DIR]

Runs the cases below in one browser session and prints them as a table; exits 1 when one fails.
With --screenshots it takes the user page, an album and the lightbox into DIR instead.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

SCRIPT_TITLE = "<script>window.injected = 1</script>"
# The photo without a stored picture points at the service, which this machine cannot reach.
SERVICE_HOST = "photos.zorbi.example"


def start_browser(args, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = args.chromium
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--user-data-dir=" + profile, "--window-size=1280,860", "--lang=zh-CN"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(args.chromedriver), options=options)


class Gallery:
    def __init__(self, driver, folder):
        self.driver = driver
        self.folder = folder

    def open(self, page):
        self.driver.get("file://" + os.path.join(self.folder, page))
        WebDriverWait(self.driver, 10).until(lambda d: d.execute_script("return document.readyState") == "complete")

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def local_images_loaded(self):
        """Every picture of the page stored here has loaded (lazy ones are scrolled to first)."""
        self.js("window.scrollTo(0, document.body.scrollHeight)")
        images = lambda: self.js(
            "return [...document.images].filter(i => i.src.startsWith('file:'))"
            ".map(i => [i.getAttribute('src'), i.complete, i.naturalWidth])")
        WebDriverWait(self.driver, 10).until(lambda d: all(complete for _, complete, _ in images()))
        broken = [src for src, _, width in images() if width == 0]
        assert images() and not broken, "not loaded: %s" % broken

    def box(self):
        return self.js("const b = document.getElementById('lightbox');"
                       "return b && !b.hidden ? {number: b.querySelector('.number').textContent,"
                       " title: b.querySelector('.title').textContent, src: b.querySelector('img').src,"
                       " sizes: [...b.querySelectorAll('.sizes a')].map(a => a.textContent)} : null")

    def keys(self, *keys):
        webdriver.ActionChains(self.driver).send_keys(*keys).perform()

    def search(self, text):
        box = self.driver.find_element(By.ID, "search")
        # As a user empties it: clear() sends no input event.
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.BACKSPACE)
        box.send_keys(text)
        if text:
            WebDriverWait(self.driver, 10).until(
                lambda d: d.execute_script("return !document.getElementById('results').hidden"))
        return self.js("return [...document.querySelectorAll('#results .caption')].map(c => c.textContent)")

    def overflows(self, width):
        self.driver.set_window_size(width, 900)
        try:
            return self.js("return document.documentElement.scrollWidth > window.innerWidth")
        finally:
            self.driver.set_window_size(1280, 860)


def user_page(g):
    g.open("index.html")
    g.local_images_loaded()
    badge = g.js("return document.querySelector('.album.removed .badge').textContent")
    assert re.fullmatch(r"已从服务器删除 \d{4}-\d{2}-\d{2}", badge), badge
    titles = g.js("return [...document.querySelectorAll('.album .title')].map(t => t.textContent)")
    assert titles[-1] == "旧相册 Old", "the removed album comes last: %s" % titles
    assert g.js("return document.querySelector('.album div.cover') !== null"), "an unsafe id has no link"


def album_page(g):
    g.open("album-a1.html")
    g.local_images_loaded()
    captions = g.js("return [...document.querySelectorAll('.photo .caption')].map(c => c.textContent)")
    assert SCRIPT_TITLE in captions, captions
    assert g.js("return window.injected") is None, "a title ran as a script"
    assert g.js("return document.querySelectorAll('.photo img:not([width]), .photo img:not([height])').length") == 0
    assert g.js("return [...document.querySelectorAll('.photo img')].every(i => i.loading === 'lazy')")
    removed = g.js("return [...document.querySelectorAll('.photo')].filter(p => p.querySelector('.badge.removed'))"
                   ".map(p => p.querySelector('.caption').textContent)")
    assert removed == ["山 Hill"], removed
    missing = g.js("const p = document.querySelector('.photo .badge.missing').parentNode;"
                   "return [p.querySelector('.caption').textContent, p.querySelector('a').href]")
    assert missing[0] == "未备份 Not stored" and SERVICE_HOST in missing[1], missing


def lightbox_keyboard(g):
    g.open("album-a1.html")
    g.driver.find_element(By.CSS_SELECTOR, ".photo a").send_keys(Keys.ENTER)
    first = g.box()
    assert first and first["number"] == "1 / 5" and first["src"].endswith("/pictures/big/p101.jpg"), first
    assert first["sizes"] == ["小图", "大图"], first
    WebDriverWait(g.driver, 10).until(lambda d: d.execute_script(
        "return document.querySelector('#lightbox img').naturalWidth > 0"))
    g.keys(Keys.ARROW_RIGHT)
    assert g.box()["title"] == SCRIPT_TITLE, g.box()
    g.keys(Keys.ARROW_RIGHT, Keys.ARROW_RIGHT, Keys.ARROW_RIGHT, Keys.ARROW_RIGHT)
    assert g.box()["number"] == "5 / 5", "stops at the last photo: %s" % g.box()
    g.keys(Keys.ARROW_LEFT)
    assert g.box()["number"] == "4 / 5"
    g.keys(Keys.ESCAPE)
    assert g.box() is None, "Esc closes"
    assert g.js("return document.activeElement.closest('.photo').id") == "p4", "focus returns to the photo"


def search_narrows(g):
    g.open("album-a1.html")
    assert g.search("lake") == ["湖 Lake"]
    assert g.js("return document.getElementById('content').hidden")
    assert g.search("BOLD") == [SCRIPT_TITLE], "descriptions count, case is ignored"
    assert g.search("旧照片") == ["旧照片 Old one", "旧照片 Two"], "other albums count"
    assert g.search("nothing like this") == []
    g.search("")
    assert not g.js("return document.getElementById('content').hidden"), "an empty box shows the album again"


def search_result_opens_photo(g):
    g.open("index.html")
    g.search("lake")
    g.driver.find_element(By.CSS_SELECTOR, "#results a").click()
    WebDriverWait(g.driver, 10).until(lambda d: g.box() is not None)
    assert g.box()["number"] == "5 / 5" and g.box()["title"] == "湖 Lake", g.box()


def gallery_list(g):
    g.open("../../index.html")
    links = g.js("return [...document.querySelectorAll('a')].map(a => [a.textContent, a.getAttribute('href')])")
    assert links == [["alice", "alice/gallery/index.html"]], links


def screens_and_dark_mode(g):
    for page in ("index.html", "album-a1.html"):
        g.open(page)
        for width in (360, 3840):
            assert not g.overflows(width), "%s is wider than a %d-pixel screen" % (page, width)
    g.driver.execute_cdp_cmd("Emulation.setEmulatedMedia",
                             {"features": [{"name": "prefers-color-scheme", "value": "dark"}]})
    try:
        g.open("index.html")
        background = g.js("return getComputedStyle(document.body).backgroundColor")
        assert sum(map(int, re.findall(r"\d+", background)[:3])) < 150, background
    finally:
        g.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})


def no_console_errors(g):
    errors = [entry["message"] for entry in g.driver.get_log("browser")
              if entry["level"] == "SEVERE" and SERVICE_HOST not in entry["message"]]
    assert not errors, errors


CASES = [
    ("user page: covers load, removed album last and badged", user_page),
    ("album page: thumbnails load, <script> title is text, badges", album_page),
    ("lightbox: Enter opens, arrows move, Esc closes", lightbox_keyboard),
    ("search narrows the grid, over every album", search_narrows),
    ("a search result opens its photo", search_result_opens_photo),
    ("OUTPUT/index.html lists the gallery", gallery_list),
    ("360 and 3840 pixels wide, dark mode", screens_and_dark_mode),
    ("no console errors in the whole session", no_console_errors),
]


def take_screenshots(g, folder):
    os.makedirs(folder, exist_ok=True)
    g.open("index.html")
    g.local_images_loaded()
    g.js("window.scrollTo(0, 0)")
    g.driver.save_screenshot(os.path.join(folder, "gallery-user.png"))
    g.open("album-a1.html")
    g.local_images_loaded()
    g.js("window.scrollTo(0, 0)")
    g.driver.save_screenshot(os.path.join(folder, "gallery-album.png"))
    g.driver.find_element(By.CSS_SELECTOR, ".photo a").send_keys(Keys.ENTER)
    WebDriverWait(g.driver, 10).until(lambda d: d.execute_script(
        "return document.querySelector('#lightbox img').naturalWidth > 0"))
    g.driver.save_screenshot(os.path.join(folder, "gallery-lightbox.png"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--fixture", required=True)
    parser.add_argument("--chromium", required=True)
    parser.add_argument("--chromedriver", required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="gallerytest") as work:
        output = os.path.join(work, "output")
        os.mkdir(output)
        index = subprocess.run([args.fixture, output], check=True, capture_output=True, text=True).stdout.strip()
        driver = start_browser(args, os.path.join(work, "profile"))
        try:
            g = Gallery(driver, os.path.dirname(index))
            if args.screenshots:
                take_screenshots(g, args.screenshots)
                return 0
            failed = 0
            print("%-62s %s" % ("case", "result"))
            for name, case in CASES:
                try:
                    case(g)
                    result = "ok"
                except Exception as error:  # an assertion or a browser failure: the case fails
                    failed += 1
                    result = "FAILED: %s" % (str(error).strip() or type(error).__name__)
                print("%-62s %s" % (name, result))
            return 1 if failed else 0
        finally:
            driver.quit()


if __name__ == "__main__":
    sys.exit(main())
