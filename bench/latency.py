#!/usr/bin/env python3
"""How soon a line written into a pipe comes out of mek: a writer sends one
60-byte Shift_JIS line every 100 ms, and the delay from each write to the
line's appearance on the converter's output is told (median and maximum),
for mek -isjis, mek with detection (after the first lines decide) and, when
installed, nkf -u and iconv.

    python3 bench/latency.py [--mek build/mek] [--lines 30] [--every 0.1]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import threading
import time

LINE = "日本語のログの一行です。status=ok elapsed=0012ms id=0042 ok\n".encode("cp932")


def delays(command, lines, every):
    """The delays in ms of each line, from its write to its output; None for
    a line that came out only when the input ended."""
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, bufsize=0)
    seen = []

    def read():
        pending = 0
        while True:
            chunk = os.read(process.stdout.fileno(), 65536)
            if not chunk:
                return
            now = time.monotonic()
            pending += chunk.count(b"\n")
            while pending:
                seen.append(now)
                pending -= 1

    reader = threading.Thread(target=read)
    reader.start()
    sent = []
    for _ in range(lines):
        sent.append(time.monotonic())
        process.stdin.write(LINE)
        time.sleep(every)
    ended = time.monotonic()
    process.stdin.close()
    process.wait()
    reader.join()
    return [(out - at) * 1000 if out < ended else None for at, out in zip(sent, seen)]


def row(name, command, lines, every):
    got = delays(command, lines, every)
    timely = [d for d in got if d is not None]
    if len(timely) < len(got):
        return f"| {name} | {len(got) - len(timely)} of {len(got)} lines only at the end | |"
    return f"| {name} | {statistics.median(timely):.1f} | {max(timely):.1f} |"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mek", default=os.path.join(os.path.dirname(__file__), "..", "build",
                                                      "mek"))
    parser.add_argument("--lines", type=int, default=30)
    parser.add_argument("--every", type=float, default=0.1)
    args = parser.parse_args()
    rows = [("mek -isjis -outf8", [args.mek, "-isjis", "-outf8"]),
            ("mek -outf8 (detection)", [args.mek, "-outf8"]),
            ("mek -isjis -outf8 --buffered", [args.mek, "-isjis", "-outf8", "--buffered"])]
    if shutil.which("nkf"):
        rows.append(("nkf -u -w", ["nkf", "-u", "-w"]))
    if shutil.which("iconv"):
        rows.append(("iconv -f CP932 -t UTF-8", ["iconv", "-f", "CP932", "-t", "UTF-8"]))
    print(f"{args.lines} lines of {len(LINE)} bytes, one every {args.every * 1000:.0f} ms\n")
    print("| converter | median delay (ms) | maximum (ms) |")
    print("|---|---|---|")
    for name, command in rows:
        print(row(name, command, args.lines, args.every))


if __name__ == "__main__":
    main()
