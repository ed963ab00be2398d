"""mek.repair on real Japanese text (Debian's Japanese man pages), put
through the wrong turns people meet, one and two in a row, with Python's
codecs (tools/mojibake_eval.py names them): most texts come back exactly,
but for the characters a lossy turn lost, and clean texts, Japanese and
Western, never change."""

import glob
import gzip
import os
import sys

import pytest

import mek

sys.path.insert(0, os.path.join(os.environ.get("MEK_SOURCE_DIR", "."), "tools"))
import mime_headers  # noqa: E402
import mojibake_eval  # noqa: E402


def pages(pattern, count, lines):
    found = []
    for path in sorted(glob.glob(pattern)):
        try:
            text = gzip.open(path).read().decode("utf-8")
        except (OSError, UnicodeError):
            continue
        found.append("".join(text.splitlines(True)[:lines]))
        if len(found) == count:
            break
    return found


JAPANESE = pages("/usr/share/man/ja/man1/*.gz", 40, 60)
LINES = mime_headers.header_texts(300)
pytestmark = pytest.mark.skipif(
    len(JAPANESE) < 40 or len(LINES) < 300,
    reason="too few Japanese man pages (apt-get install manpages-ja)")

# Each turn by itself, and the pairs that the sites of mojibake give most.
TURNS = [(name, None) for name in mojibake_eval.CHAINS] + [
    ("utf8 read as cp932", "utf8 read as cp932"),
    ("cp932 read as cp1252", "utf8 read as cp1252"),
    ("utf8 read as cp932", "utf8 read as cp1252"),
    ("eucjp read as latin1", "utf8 read as latin1"),
    ("cp932 read as cp437", "utf8 read as cp932"),
]
# The least share of texts repaired exactly, for pages and for one-line
# descriptions (all of the pages and 99.7-100 % of the lines are, as this
# was written); UTF-8 read as EUC-JP loses most of its bytes, and what is
# left of a short line often tells nothing (87 % of the lines).
FLOORS = {"pages": 0.97, "lines": 0.97}
LOSSY_FLOORS = {"pages": 0.9, "lines": 0.8}


def broken(text, first, second):
    try:
        once = mojibake_eval.CHAINS[first](text)
        twice = mojibake_eval.CHAINS[second](once) if second else once
    except (UnicodeError, ValueError):
        return None
    return None if twice == text or (second and twice == once) else twice


@pytest.mark.parametrize("kind", ["pages", "lines"])
@pytest.mark.parametrize("first,second", TURNS)
def test_turns_are_taken_back(kind, first, second):
    texts = JAPANESE if kind == "pages" else LINES
    cases = [(t, b) for t in texts if (b := broken(t, first, second)) is not None]
    assert cases
    good = 0
    for original, text in cases:
        repaired, repairs = mek.repair(text)
        lost = sum(r.lost for r in repairs)
        good += (lost == repaired.count("\ufffd") - original.count("\ufffd") and
                 mojibake_eval.matches(repaired, original))
    eucjp = "utf8 read as eucjp" in (first, second)
    assert good / len(cases) >= (LOSSY_FLOORS if eucjp else FLOORS)[kind], (good, len(cases))


def test_clean_text_is_left_alone():
    western = pages("/usr/share/man/man1/*.gz", 60, 200)
    clean = JAPANESE + LINES + western
    # Western text as a word processor writes it, in cp1252 read as Latin-1.
    for text in western:
        try:
            clean.append(mojibake_eval.typographic(text).encode("cp1252").decode("latin-1"))
        except UnicodeError:
            pass
    changed = [text[:80] for text in clean if mek.repair(text)[0] != text]
    assert changed == []
