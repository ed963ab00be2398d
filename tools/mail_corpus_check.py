#!/usr/bin/env python3
"""Checks the iso2022jp output code over a folder of real Japanese documents.

usage: python3 tools/mail_corpus_check.py <mek-executable> <folder>...

Every file under the folders (gzip files are opened) that reads as UTF-8 and
that Python's iso2022_jp codec can encode is converted with
`mek -iutf8 -oiso2022jp` under the strict policy. The run must succeed, its
output must decode with Python's iso2022_jp codec to the text with LF line
endings, end in ASCII, and ASCII appended to it must decode as ASCII. Prints
the figures, lists every document that fails a check, and exits with 1 when
any does.
"""

import gzip
import os
import subprocess
import sys


def documents(folders):
    for folder in folders:
        for root, _, files in os.walk(folder):
            for name in sorted(files):
                path = os.path.join(root, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                opener = gzip.open if name.endswith(".gz") else open
                try:
                    with opener(path, "rb") as f:
                        yield path, f.read()
                except OSError:
                    continue


def ends_in_ascii(data):
    last = data.rfind(b"\x1b")
    return last < 0 or data[last:last + 3] == b"\x1b(B"


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    mek, folders = argv[1], argv[2:]
    seen = utf8 = encodable = same_as_python = 0
    in_bytes = 0
    failures = []
    for path, raw in documents(folders):
        seen += 1
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            continue
        utf8 += 1
        try:
            python = text.replace("\r\n", "\n").replace("\r", "\n").encode("iso2022_jp")
        except UnicodeEncodeError:
            continue
        encodable += 1
        in_bytes += len(raw)
        run = subprocess.run([mek, "-iutf8", "-oiso2022jp"], input=raw, capture_output=True)
        expected = text.replace("\r\n", "\n").replace("\r", "\n")
        if run.returncode != 0:
            failures.append((path, "status %d: %s" % (run.returncode, run.stderr.decode().strip())))
            continue
        out = run.stdout
        try:
            back = out.decode("iso2022_jp")
        except UnicodeDecodeError as e:
            failures.append((path, "does not decode: %s" % e))
            continue
        if back != expected:
            failures.append((path, "decodes to another text"))
        elif not ends_in_ascii(out):
            failures.append((path, "does not end in ASCII"))
        elif (out + b"signature\n").decode("iso2022_jp") != expected + "signature\n":
            failures.append((path, "appended ASCII does not read as ASCII"))
        same_as_python += out == python
    print("documents: %d, UTF-8: %d, encodable by Python's iso2022_jp: %d (%d bytes)"
          % (seen, utf8, encodable, in_bytes))
    print("passed every check: %d, failed: %d" % (encodable - len(failures), len(failures)))
    print("output byte-identical to Python's iso2022_jp: %d" % same_as_python)
    for path, why in failures:
        print("FAIL %s: %s" % (path, why))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
