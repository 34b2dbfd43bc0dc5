#!/usr/bin/python3
"""The demo user's gallery in headless Chromium, opened from file:// as a user opens it.

    gallery_browser_test.py --service PATH --cli PATH --chromium PATH --chromedriver PATH [--screenshots DIR]

Builds the gallery as a user does: two updates of "demo" against zorbi-demo-service, the second after the
service has removed a photo and an album; the service is stopped before the browser opens a page.
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
# The demo world's first album, 西湖春游: its second photo is given SCRIPT_TITLE, its fourth (小路) is
# left out of the first update and comes back when pictures are off, its third (合影) is removed before
# the second update, as is the album 家乡的小河.
ALBUM = "72157100001"
SCRIPT_PHOTO, REMOVED_PHOTO, UNSTORED_PHOTO = "10000100002", "10000100003", "10000100004"
REMOVED_ALBUM = "72157100003"
ALBUM_PAGE = "album-%s.html" % ALBUM
ALBUM_CAPTIONS = ["清晨", SCRIPT_TITLE, "小路", "合影", "细节"]
# The demo user's albums as the user page lists them: the removed one last.
ALBUM_TITLES = ["西湖春游", "故宫一日", "空相册", "黄山云海", "毕业典礼", "猫咪日常", "美食记录", "长城脚下",
                "雪后的北京", "海边日落", "老照片", "家乡的小河"]
# The photos whose description holds 三脚架 ("用三脚架拍的。"), with their albums.
TRIPOD = [["细节", "西湖春游"], ["合影", "故宫一日"], ["细节", "黄山云海"], ["合影", "毕业典礼"],
          ["清晨", "猫咪日常"], ["合影", "雪后的北京"], ["回望", "老照片"]]


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
    def __init__(self, driver, folder, service):
        self.driver = driver
        self.folder = folder
        self.service = service  # the stopped service's address, where unstored pictures point

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
        """Types into the search box; returns the results as [title, album]."""
        box = self.driver.find_element(By.ID, "search")
        # As a user empties it: clear() sends no input event.
        box.send_keys(Keys.CONTROL, "a")
        box.send_keys(Keys.BACKSPACE)
        box.send_keys(text)
        if text:
            WebDriverWait(self.driver, 10).until(
                lambda d: d.execute_script("return !document.getElementById('results').hidden"))
        return self.js("return [...document.querySelectorAll('#results .photo')].map(p =>"
                       " [p.querySelector('.caption').textContent, p.querySelector('.album-name').textContent])")

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
    assert titles == ALBUM_TITLES, titles
    assert g.js("return document.querySelectorAll('.album.removed').length") == 1


def album_page(g):
    g.open(ALBUM_PAGE)
    g.local_images_loaded()
    captions = g.js("return [...document.querySelectorAll('.photo .caption')].map(c => c.textContent)")
    assert captions == ALBUM_CAPTIONS, captions
    assert g.js("return window.injected") is None, "a title ran as a script"
    assert g.js("return document.querySelectorAll('.photo img:not([width]), .photo img:not([height])').length") == 0
    assert g.js("return [...document.querySelectorAll('.photo img')].every(i => i.loading === 'lazy')")
    removed = g.js("return [...document.querySelectorAll('.photo')].filter(p => p.querySelector('.badge.removed'))"
                   ".map(p => p.querySelector('.caption').textContent)")
    assert removed == ["合影"], removed
    missing = g.js("return [...document.querySelectorAll('.photo .badge.missing')].map(b => b.parentNode)"
                   ".map(p => [p.querySelector('.caption').textContent, p.querySelector('a').href])")
    assert len(missing) == 1 and missing[0][0] == "小路" and missing[0][1].startswith(g.service), missing


def lightbox_keyboard(g):
    g.open(ALBUM_PAGE)
    g.driver.find_element(By.CSS_SELECTOR, ".photo a").send_keys(Keys.ENTER)
    first = g.box()
    assert first and first["number"] == "1 / 5" and first["src"].endswith("/pictures/big/10000100001.jpg"), first
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
    g.open(ALBUM_PAGE)
    assert g.search("三脚架") == TRIPOD, "descriptions of every album count"
    assert g.js("return document.getElementById('content').hidden")
    assert g.search("三脚架 合影") == [r for r in TRIPOD if r[0] == "合影"], "every word counts, titles too"
    assert g.search("WINDOW.Injected") == [[SCRIPT_TITLE, "西湖春游"]], "case is ignored"
    assert g.search("nothing like this") == []
    g.search("")
    assert not g.js("return document.getElementById('content').hidden"), "an empty box shows the album again"


def search_result_opens_photo(g):
    g.open("index.html")
    assert g.search("细节 三脚架") == [["细节", "西湖春游"], ["细节", "黄山云海"]]
    g.driver.find_elements(By.CSS_SELECTOR, "#results a")[1].click()
    WebDriverWait(g.driver, 10).until(lambda d: g.box() is not None)
    assert g.box()["number"] == "1 / 4" and g.box()["title"] == "细节", g.box()
    assert g.driver.current_url.endswith("/album-72157100005.html#p1"), g.driver.current_url


def gallery_list(g):
    g.open("../../index.html")
    links = g.js("return [...document.querySelectorAll('a')].map(a => [a.textContent, a.getAttribute('href')])")
    assert links == [["demo", "demo/gallery/index.html"]], links


def screens_and_dark_mode(g):
    for page in ("index.html", ALBUM_PAGE):
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
              if entry["level"] == "SEVERE" and g.service not in entry["message"]]
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
    # A desktop screen, on which the user page shows every album.
    g.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                             {"width": 1600, "height": 900, "deviceScaleFactor": 1, "mobile": False})
    g.open("index.html")
    g.local_images_loaded()
    g.js("window.scrollTo(0, 0)")
    g.driver.save_screenshot(os.path.join(folder, "gallery-user.png"))
    g.open(ALBUM_PAGE)
    g.local_images_loaded()
    g.js("window.scrollTo(0, 0)")
    g.driver.save_screenshot(os.path.join(folder, "gallery-album.png"))
    g.driver.find_element(By.CSS_SELECTOR, ".photo a").send_keys(Keys.ENTER)
    WebDriverWait(g.driver, 10).until(lambda d: d.execute_script(
        "return document.querySelector('#lightbox img').naturalWidth > 0"))
    g.driver.save_screenshot(os.path.join(folder, "gallery-lightbox.png"))


def start_service(args, switches):
    """zorbi-demo-service on a free port; returns the process and its address."""
    service = subprocess.Popen([args.service, "--port", "0"] + switches, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    line = service.stdout.readline().strip()
    if not line.startswith("listening on "):
        service.kill()
        raise RuntimeError("zorbi-demo-service did not start: %r" % line)
    return service, line[len("listening on "):]


def update(args, folder, switches, cli_switches):
    """One `albumbrowser-cli update demo` against the service started with these switches; returns the
    service's address."""
    service, address = start_service(args, ["--title", SCRIPT_PHOTO + "=" + SCRIPT_TITLE] + switches)
    try:
        environment = dict(os.environ, ZORBI_ENDPOINT=address, ZORBI_PICTURE_HOST=address)
        run = subprocess.run([args.cli, "update", "demo", "--quiet"] + cli_switches, cwd=folder,
                             env=environment, capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError("update failed (%d): %s%s" % (run.returncode, run.stdout, run.stderr))
    finally:
        service.terminate()
        service.wait()
    return address


def build_gallery(args, folder):
    """The demo user's gallery: a first update with pictures, without the photo UNSTORED_PHOTO; a second
    without pictures, after the service has removed REMOVED_PHOTO and REMOVED_ALBUM. Returns the user's
    gallery folder and the service's address, where nothing answers any more."""
    with open(os.path.join(folder, "config.ini"), "w", newline="") as config:
        config.write("[config]\r\ndetail=3\r\nretries=0\r\npictures=0,2\r\n[users]\r\nuser0=demo\r\n")
    update(args, folder, ["--remove", UNSTORED_PHOTO], [])
    address = update(args, folder, ["--remove", REMOVED_PHOTO, "--remove", REMOVED_ALBUM], ["--pictures", ""])
    return os.path.join(folder, "demo", "gallery"), address


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--service", required=True)
    parser.add_argument("--cli", required=True)
    parser.add_argument("--chromium", required=True)
    parser.add_argument("--chromedriver", required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args()
    args.cli = os.path.abspath(args.cli)  # it runs in its program folder
    with tempfile.TemporaryDirectory(prefix="gallerytest") as work:
        program = os.path.join(work, "program")
        os.mkdir(program)
        gallery, address = build_gallery(args, program)
        driver = start_browser(args, os.path.join(work, "profile"))
        try:
            g = Gallery(driver, gallery, address)
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
