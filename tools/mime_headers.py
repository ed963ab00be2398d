#!/usr/bin/env python3
"""Mail header lines from real Japanese text, and the round trip of their
encoded words (RFC 2047) through mek and Python's email package.

The texts are the one-line descriptions of the Japanese man pages
(/usr/share/man/ja, Debian's manpages-ja and the pages of other packages),
first each description whole, then each of its words that holds Japanese.

    python3 tools/mime_headers.py --mek build/mek [--count 1000]

writes "Subject: TEXT" header lines and measures, over all of them at once:
  - mek --mime-encode -oiso2022jp, then mek --mime-decode -outf8, gives the
    text back as mek --wide-kana gives it (the mail form widens half-width
    katakana);
  - Python's decode_header and make_header read mek's words to that text;
  - mek reads Python's words (Header(..., 'iso-2022-jp')) to that text;
  - no line of mek's is longer than 76 characters;
  - every ISO-2022-JP word of mek's ends in ASCII (ESC ( B).
Lines that ISO-2022-JP cannot carry are counted apart and left out.
"""

import argparse
import base64
import email.header
import glob
import gzip
import re
import subprocess
import sys
import time

MAN_PAGES = "/usr/share/man/ja/man*/*.gz"
JAPANESE = re.compile("[\u3040-\u30ff\u3400-\u9fff\uff61-\uff9f]")


def _plain(troff):
    """The text of a troff line: font changes, special characters and other
    escapes taken out, white space made single spaces."""
    text = re.sub(r"\\f(\(..|\[[^]]*\]|.)", "", troff)
    text = re.sub(r"\\(\(..|\[[^]]*\])", "", text)
    text = re.sub(r"\\.", "", text)
    return " ".join(text.split())


def descriptions(pattern=MAN_PAGES):
    """The one-line descriptions (NAME section, after \\-) of the man pages
    that hold Japanese, once each, in the order of the pages' paths."""
    seen, found = set(), []
    for path in sorted(glob.glob(pattern)):
        try:
            with gzip.open(path, "rb") as f:
                text = f.read().decode("utf-8")
        except (OSError, UnicodeDecodeError):
            continue
        name = re.search(r'^\.SH\s+"?(?:名前|NAME)"?\s*\n(.*?)\n\.(?:SH|PP|SS)', text,
                         re.M | re.S)
        if not name or "\\-" not in name.group(1):
            continue
        line = _plain(name.group(1).split("\\-", 1)[1])
        if JAPANESE.search(line) and line not in seen:
            seen.add(line)
            found.append(line)
    return found


def header_texts(count=None, pattern=MAN_PAGES):
    """Texts for header lines: every description, then every word of them
    that holds Japanese and is not a description itself; at most `count`."""
    lines = descriptions(pattern)
    texts, seen = list(lines), set(lines)
    for line in lines:
        for word in line.split():
            if JAPANESE.search(word) and word not in seen:
                seen.add(word)
                texts.append(word)
    return texts[:count] if count else texts


def fields(block):
    """The header fields of a header block: each line with its continuation
    lines, without the line ends."""
    found = []
    for line in block.split("\n"):
        if line == "":
            continue
        if line[0] in " \t" and found:
            found[-1].append(line)
        else:
            found.append([line])
    return found


def python_reads(field_lines):
    """The text Python's email package reads from a field's value."""
    value = "\n".join(field_lines).split(": ", 1)[1]
    return str(email.header.make_header(email.header.decode_header(value)))


def python_words(text, charset="iso-2022-jp"):
    """`Subject: text` as Python's email package writes it (folded at 76)."""
    header = email.header.Header(text, charset, maxlinelen=76, header_name="Subject")
    return "Subject: " + header.encode()


def iso2022jp_words(block):
    """The bytes of each B word in ISO-2022-JP of `block`."""
    return [base64.b64decode(w) for w in re.findall(r"=\?ISO-2022-JP\?B\?([^?]*)\?=", block)]


def run(mek, arguments, data):
    done = subprocess.run([mek, *arguments], input=data, capture_output=True)
    if done.returncode != 0:
        sys.exit(f"mek {' '.join(arguments)} failed: {done.stderr.decode(errors='replace')}")
    return done.stdout


def measure(mek, texts):
    """The figures of the round trip over `texts`, as a dict."""
    block = "".join(f"Subject: {t}\n" for t in texts).encode()
    # Lines that the mail form cannot carry are left out.
    check = subprocess.run([mek, "--check", "-iutf8", "-oiso2022jp"], input=block,
                           capture_output=True)
    refused = {int(m) for m in re.findall(rb"\(line (\d+),", check.stdout)}
    kept = [t for i, t in enumerate(texts, 1) if i not in refused]
    block = "".join(f"Subject: {t}\n" for t in kept).encode()
    wide = run(mek, ["-iutf8", "-outf8", "--wide-kana"], block).decode().split("\n")[:-1]
    started = time.perf_counter()
    encoded = run(mek, ["-iutf8", "-oiso2022jp", "--mime-encode"], block)
    back = run(mek, ["-iiso2022jp", "-outf8", "--mime-decode"], encoded)
    seconds = time.perf_counter() - started
    back_lines = back.decode().split("\n")[:-1]
    encoded_text = encoded.decode("ascii")
    mek_fields = fields(encoded_text)
    by_python = [python_reads(f) for f in mek_fields]
    # Python's words, read by mek.
    python_block, python_utf8 = [], 0
    for line in wide:
        text = line.split(": ", 1)[1]
        try:
            python_block.append(python_words(text))
        except UnicodeEncodeError:
            python_block.append(python_words(text, "utf-8"))
            python_utf8 += 1
    read = run(mek, ["-iutf8", "-outf8", "--mime-decode"],
               ("\n".join(python_block) + "\n").encode()).decode().split("\n")[:-1]
    words = iso2022jp_words(encoded_text)
    return {
        "lines": len(texts),
        "refused by ISO-2022-JP": len(refused),
        "lines measured": len(kept),
        "round trip equal": sum(a == b for a, b in zip(back_lines, wide)),
        "Python reads mek's words equal": sum(
            a == b.split(": ", 1)[1] for a, b in zip(by_python, wide)),
        "mek reads Python's words equal": sum(a == b for a, b in zip(read, wide)),
        "Python's words in UTF-8 (not ISO-2022-JP)": python_utf8,
        "longest line of mek's": max(len(line) for line in encoded_text.split("\n")),
        "ISO-2022-JP words": len(words),
        "words not ending in ASCII": sum(
            1 for w in words if b"\x1b" in w and w[w.rfind(b"\x1b"):][:3] != b"\x1b(B"),
        "encode + decode seconds (two runs)": round(seconds, 3),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mek", default="build/mek")
    parser.add_argument("--count", type=int, default=1000)
    args = parser.parse_args()
    texts = header_texts(args.count)
    if not texts:
        sys.exit(f"no Japanese man pages in {MAN_PAGES} (apt-get install manpages-ja)")
    for name, value in measure(args.mek, texts).items():
        print(f"{name}: {value}")


if __name__ == "__main__":
    main()
