#!/usr/bin/python3
"""The page in headless Chromium, against the native tool.

Drops on the page every example file, a 50 MB file and a corrupt one, and
checks for each what the tool says: the detected code and line endings
(--guess), the preview (the text decoded to UTF-8), the problems (--check)
and the downloaded bytes (the conversion with the page's default choices:
cp932, line endings kept, stop at the first error). Then the ZIP of all of
them, and that the page asked the network for nothing but its own file.

    page_test.py SITE_DIR MEK_TOOL EXAMPLES_DIR [--screenshots DIR]

Exits 77 where Chromium, its driver or Selenium is missing.
"""

import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    print("python3-selenium not found: skipped")
    sys.exit(77)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if CHROMIUM is None or DRIVER is None:
    print("chromium or chromium-driver not found: skipped")
    sys.exit(77)

site, tool, examples = (os.path.abspath(a) for a in sys.argv[1:4])
shots = sys.argv[sys.argv.index("--screenshots") + 1] if "--screenshots" in sys.argv else None
page = "file://" + os.path.join(site, "index.html")
work = tempfile.mkdtemp(prefix="mek-page-")
downloads = os.path.join(work, "downloads")
os.mkdir(downloads)
failures = []


def fail(message):
    failures.append(message)
    print("FAIL " + message, file=sys.stderr)


def native(args, path):
    """The tool's exit status, output and message for a file on its input."""
    with open(path, "rb") as data:
        run = subprocess.run([tool] + args, stdin=data, capture_output=True)
    return run.returncode, run.stdout, run.stderr.decode().strip()


def start(lang):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--window-size=1100,1300", "--user-data-dir=" + tempfile.mkdtemp(dir=work),
                 "--lang=" + lang):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    options.add_experimental_option("prefs", {"intl.accept_languages": lang,
                                              "download.default_directory": downloads})
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": downloads})
    driver.get(page)
    return driver


def give(driver, paths):
    """Drops the files on the page: a file input of the test's own takes them
    from the disk, and a drop event carries them to the drop area."""
    carrier = driver.execute_script(
        "const i = document.createElement('input'); i.type = 'file'; i.multiple = true;"
        "document.body.append(i); return i;")
    carrier.send_keys("\n".join(paths))
    driver.execute_script(
        "const carrier = arguments[0], data = new DataTransfer();"
        "for (const f of carrier.files) data.items.add(f);"
        "carrier.remove();"
        "document.getElementById('drop').dispatchEvent("
        "new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));",
        carrier)


CARDS = """return Array.from(document.querySelectorAll('section.file')).map((s) => ({
  busy: s.querySelector('progress') !== null,
  progress: s.querySelector('progress')?.value ?? null,
  code: s.querySelector('.code')?.textContent ?? null,
  eol: s.querySelector('.eol')?.textContent ?? null,
  runnerUp: s.querySelector('.runner-up')?.textContent ?? null,
  preview: s.querySelector('pre.preview')?.textContent ?? null,
  problems: Array.from(s.querySelectorAll('.problems li'), (li) => li.textContent),
  failure: s.querySelector('.failure')?.textContent ?? null,
  download: s.querySelector('a.download')?.getAttribute('download') ?? null,
  seconds: s.dataset.seconds ?? null,
}));"""


def requested(driver):
    """The addresses the page asked the network for, from the browser's log."""
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def wait(driver, limit=600):
    """The cards once every file is done, and the progress values seen."""
    seen = []
    end = time.time() + limit
    while time.time() < end:
        asked = time.time()
        cards = driver.execute_script(CARDS)
        if time.time() - asked > 2:
            fail("the page took %.1f s to answer while converting" % (time.time() - asked))
        seen += [c["progress"] for c in cards if c["progress"] is not None]
        if cards and not any(c["busy"] for c in cards):
            return cards, seen
        time.sleep(0.05)
    fail("the page did not finish in %d s" % limit)
    return driver.execute_script(CARDS), seen


def downloaded(name, limit=120):
    path = os.path.join(downloads, name)
    end = time.time() + limit
    while time.time() < end:
        if os.path.exists(path) and not os.path.exists(path + ".crdownload"):
            return path
        time.sleep(0.1)
    fail("no download " + name)
    return None


def digest(data):
    return hashlib.sha256(data).hexdigest()


# The files: every example, a corrupt one and one of 50 MB.
files = sorted(os.path.join(examples, f) for f in os.listdir(examples) if f.endswith(".txt"))
with open(os.path.join(examples, "sample-sjis.txt"), "rb") as f:
    sjis = f.read()
corrupt = os.path.join(work, "corrupt.txt")
with open(corrupt, "wb") as f:
    f.write(sjis[:40] + b"\x82\xff" + sjis[40:] + b"\x81")
big = os.path.join(work, "big.txt")
with open(big, "wb") as f:
    line = sjis.replace(b"\n", b"\r\n")
    f.write(line * (50 * 10**6 // len(line) + 1))
files += [corrupt, big]

driver = start("en")
requests = []
try:
    began = time.time()
    give(driver, files)
    cards, progress = wait(driver)
    seconds = time.time() - began
    if len(cards) != len(files):
        fail("%d cards for %d files" % (len(cards), len(files)))
    if not any(0 < p < 1 for p in progress):
        fail("no progress bar part way through the 50 MB file")
    for path, card in zip(files, cards):
        name = os.path.basename(path)
        status, guess, message = native(["--guess"], path)
        if status == 0:
            code, eol = guess.decode().split()
            if (card["code"], card["eol"]) != (code, eol):
                fail("%s: the page detected %s %s, the tool %s %s"
                     % (name, card["code"], card["eol"], code, eol))
        elif message not in (card["failure"] or ""):
            fail("%s: the tool says %r, the page %r" % (name, message, card["failure"]))
        _, listed, _ = native(["--check", "-ocp932"], path)
        if card["problems"] != listed.decode().splitlines():
            fail("%s: problems %r, the tool's %r" % (name, card["problems"], listed.decode()))
        status, text, _ = native(["-outf8", "--errors=replace", "-keep"], path)
        if status == 0:
            lines = text.decode().replace("\r\n", "\n").replace("\r", "\n").split("\n")[:20]
            if card["preview"] != "\n".join(lines):
                fail("%s: the preview %r differs from the tool's text %r"
                     % (name, card["preview"][:200], "\n".join(lines)[:200]))
        status, output, message = native(["-ocp932", "-keep"], path)
        if status != 0:
            if card["download"] is not None or message not in (card["failure"] or ""):
                fail("%s: the tool fails (%s), the page says %r" % (name, message, card["failure"]))
            continue
        if card["download"] is None:
            fail("%s: no download; the page says %r" % (name, card["failure"]))
            continue
        driver.execute_script(
            "document.querySelector(`a.download[download='${arguments[0]}']`).click()",
            card["download"])
        got = downloaded(card["download"])
        if got is not None:
            with open(got, "rb") as f:
                if digest(f.read()) != digest(output):
                    fail("%s: the downloaded bytes differ from the tool's" % name)
    # The ZIP of all of them, when every file converted: here the corrupt
    # one does not, so the button waits.
    if driver.execute_script("return document.getElementById('zip').disabled") is not True:
        fail("the ZIP button is on while a file failed")
    print("%d files, 50 MB among them, done in %.1f s; the worker took %s s for the 50 MB file"
          % (len(files), seconds, cards[-1]["seconds"]))

    # Only the examples: the ZIP holds each converted file.
    driver.get(page)
    give(driver, files[:-2])
    cards, _ = wait(driver)
    if shots:
        os.makedirs(shots, exist_ok=True)
        driver.save_screenshot(os.path.join(shots, "web-page-en.png"))
    driver.find_element("id", "zip").click()
    archive = downloaded("mek-sample-eucjp.cp932.zip")
    if archive is not None:
        with zipfile.ZipFile(archive) as z:
            if z.testzip() is not None:
                fail("the ZIP fails its CRC check")
            for path, card in zip(files, cards):
                _, output, _ = native(["-ocp932", "-keep"], path)
                if z.read(card["download"]) != output:
                    fail("%s in the ZIP differs from the tool's" % card["download"])
    requests += requested(driver)
finally:
    driver.quit()

# Japanese from the browser's language.
driver = start("ja")
try:
    give(driver, files[:1])
    wait(driver)
    title = driver.find_element("tag name", "h1").text
    if "文字コード" not in title or driver.execute_script("return document.documentElement.lang") != "ja":
        fail("no Japanese page for a Japanese browser: %r" % title)
    if shots:
        driver.save_screenshot(os.path.join(shots, "web-page-ja.png"))
    requests += requested(driver)
finally:
    driver.quit()

# The browser's own pages (chrome://, the new tab before the page) are not
# the network.
outside = [u for u in requests
           if u != page and not u.startswith(("blob:", "data:", "chrome:", "about:"))]
if outside:
    fail("requests beyond the page's own file: %r" % outside[:5])
if not requests:
    fail("no request seen in the network log, not even the page")
shutil.rmtree(work, ignore_errors=True)
if failures:
    print("%d failed" % len(failures))
    sys.exit(1)
print("all passed")
