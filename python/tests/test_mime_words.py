"""Encoded words of mail headers (RFC 2047) against Python's email package,
on headers made from real Japanese text (the man page descriptions, one
header per line and per word, tools/mime_headers.py), and against nkf -m
and -M, whose differences are listed with their reasons in
mime_nkf_differences.txt."""

import base64
import email.charset
import email.header
import os
import shutil
import subprocess
import sys

import pytest

import mek

sys.path.insert(0, os.path.join(os.environ.get("MEK_SOURCE_DIR", "."), "tools"))
import mime_headers  # noqa: E402

TEXTS = mime_headers.header_texts(1000)
pytestmark = pytest.mark.skipif(
    not TEXTS, reason="no Japanese man pages (apt-get install manpages-ja)")
DIFFERENCES = os.path.join(os.path.dirname(__file__), "mime_nkf_differences.txt")


def mek_reads(header, errors="strict"):
    return mek.convert(header.encode(), "utf8", source="utf8", eol="keep", errors=errors,
                       mime_decode=True).decode()


def python_reads(value):
    return str(email.header.make_header(email.header.decode_header(value)))


def word(charset, data, kind="B"):
    if kind == "B":
        return f"=?{charset}?B?{base64.b64encode(data).decode()}?="
    quoted = "".join(chr(b) if chr(b).isalnum() and b < 0x80 else "_" if b == 0x20 else f"={b:02X}"
                     for b in data)
    return f"=?{charset}?Q?{quoted}?="


def wide(text):
    return mek.convert(text.encode(), "utf8", source="utf8", folds=["wide_kana"]).decode()


@pytest.mark.skipif(len(TEXTS) < 1000,
                    reason="fewer than 1000 header texts (apt-get install manpages-ja)")
def test_done_when_the_round_trip_holds_on_1000_lines():
    figures = mime_headers.measure(os.environ["MEK_EXECUTABLE"], TEXTS)
    measured = figures["lines measured"]
    assert measured >= 900, figures
    for name in ("round trip equal", "Python reads mek's words equal",
                 "mek reads Python's words equal"):
        assert figures[name] == measured, figures
    assert figures["longest line of mek's"] <= 76, figures
    assert figures["words not ending in ASCII"] == 0, figures


def cases():
    """(category, header, text) for mek, Python and nkf to read: Python's
    words of whole lines, words cut at every byte, charsets mixed, Q with
    `_` and `=3F`, a language suffix, a word of exactly 75 characters."""
    found = []
    for text in TEXTS[:40]:
        text = wide(text)
        found.append(("line", mime_headers.python_words(text), "Subject: " + text))
        for charset, codec in (("ISO-2022-JP", "iso-2022-jp"), ("UTF-8", "utf-8")):
            data = text.encode(codec)
            for cut in range(1, len(data)):
                header = f"Subject: {word(charset, data[:cut])}\n {word(charset, data[cut:])}"
                found.append(("split", header, "Subject: " + text))
        mixed, codecs = [], ("iso-2022-jp", "utf-8", "shift_jis", "euc-jp")
        for i, c in enumerate(text):
            codec = codecs[i % 4]
            kind = "Q" if codec == "utf-8" and i % 8 == 5 else "B"
            mixed.append(word(codec.upper(), c.encode(codec), kind))
        found.append(("mixed", "Subject: " + " ".join(mixed), "Subject: " + text))
    q = email.charset.Charset("utf-8")
    q.header_encoding = email.charset.QP
    for text in ("件名 は? なし", "a b?c", "日本 語"):
        encoded = email.header.Header(text, q).encode()
        assert "_" in encoded and "=3F" in encoded or "?" not in text
        found.append(("q", "Subject: " + encoded, "Subject: " + text))
    found.append(("lang", "Subject: =?ISO-2022-JP*ja?B?GyRCRnxLXDhsGyhC?=", "Subject: 日本語"))
    # Seven characters of three UTF-8 bytes, each =XX=XX=XX: 63 + 12.
    kanji = [c for c in "".join(TEXTS) if len(c.encode()) == 3 and c.isalpha()][:7]
    exact = word("UTF-8", "".join(kanji).encode(), "Q")
    assert len(exact) == 75
    found.append(("75", "Subject: " + exact, "Subject: " + "".join(kanji)))
    return found


CASES = cases()


@pytest.mark.parametrize("category", ["line", "split", "mixed", "q", "lang", "75"])
def test_mek_reads_what_python_reads(category):
    for _, header, text in (c for c in CASES if c[0] == category):
        expected = text.split(": ", 1)[1]
        # Python's decode_header does not take an RFC 2231 language suffix.
        if category != "lang":
            assert python_reads(header.split(": ", 1)[1]) == expected, header
        assert mek_reads(header) == "Subject: " + expected, header


def test_python_reads_mek_in_every_code_and_both_encodings():
    for text in TEXTS[:100]:
        for to, kind in (("iso2022jp", "B"), ("utf8", "Q"), ("sjis", "B"), ("euc_jp", "Q")):
            try:
                written = mek.encode("Subject: " + text + "\n\nbody\n", to, mime_encode=kind,
                                     folds=["wide_kana"])
            except mek.EncodeError:
                continue
            header = written.split(b"\n\n")[0].decode("ascii")
            assert all(len(line) <= 76 for line in header.split("\n")), header
            assert all(len(w) <= 75 for w in header.replace("\n", " ").split()), header
            assert python_reads(header.split(": ", 1)[1]) == wide(text), header


def test_malformed_words():
    for header in ("Subject: =?UTF-8?B?5pel/w==?=",       # FF is no UTF-8
                   "Subject: =?ISO-2022-JP?B?GyRCRg==?=",  # cut inside a character
                   "Subject: =?US-ASCII?Q?a=FF?="):
        with pytest.raises(UnicodeDecodeError):
            python_reads(header.split(": ", 1)[1])
        with pytest.raises(mek.DecodeError) as failure:
            mek_reads(header)
        assert failure.value.start == 9  # the word
        assert "\ufffd" in mek_reads(header, errors="replace")


def nkf(arguments, data):
    return subprocess.run(["nkf", *arguments], input=data, capture_output=True,
                          check=True).stdout


@pytest.mark.skipif(shutil.which("nkf") is None, reason="nkf is not installed")
def test_nkf_differences_are_the_listed_ones():
    listed = {}
    with open(DIFFERENCES, encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                key, reason = line.split(":", 1)
                listed[key.strip()] = reason.strip()
    seen = set()
    # nkf -m against mek --mime-decode, a case at a time.
    body = "Subject: a\n\n=?UTF-8?B?5pel?=\n"
    extra = [("body", body, None), ("latin1", "Subject: =?ISO-8859-1?Q?caf=E9?=", None),
             ("sjis", "Subject: =?Shift_JIS?B?k/qWe4zq?=", None)]
    splits = [c for c in CASES if c[0] == "split"]
    for category, header, _ in [c for c in CASES if c[0] != "split"] + splits[::7] + extra:
        if nkf(["-w", "-m"], header.encode()).decode() != mek_reads(header):
            seen.add("decode " + category)
    # nkf -M against mek --mime-encode on the same header block and body.
    block = "".join(f"Subject: {wide(t)}\n" for t in TEXTS[:200]) + "\nbody 本文\n"
    theirs = nkf(["-j", "-M"], block.encode()).decode("ascii")
    ours = mek.encode(block, "iso2022jp", mime_encode="B").decode("ascii")
    if theirs.split("\n\n")[1] != ours.split("\n\n")[1]:
        seen.add("encode body")
    if any(len(line) > 76 for line in theirs.split("\n")):
        seen.add("encode line length")
    for mine, other in zip(mime_headers.fields(ours.split("\n\n")[0]),
                           mime_headers.fields(theirs.split("\n\n")[0])):
        if mine != other:
            seen.add("encode folds")
        if mime_headers.python_reads(mine) != mime_headers.python_reads(other):
            seen.add("encode text")
    assert sorted(seen) == sorted(listed), (sorted(seen), sorted(listed))
