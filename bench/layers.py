#!/usr/bin/env python3
"""The same conversion through the tool, the C++ layer (mek::convert) and the
Python module (mek.convert, mek.decode), in turn, run after run: the tool as
a whole process writing to standard output redirected to a file, the other
two over the file already in memory. Prints the medians and their ratios to
the tool's as a Markdown row; all three use the same threads (pieces side
by side where the pair has them).

    /usr/bin/python3 bench/layers.py --build build FILE FROM TO [--runs 5]

needs the tool (BUILD/mek), bench/in_memory (BUILD/bench/in_memory, built
with -DMEK_BUILD_BENCH=ON) and the module (BUILD/python).

    /usr/bin/python3 bench/layers.py --build build --read-csv FILE [--runs 5]

instead times pandas.read_csv of a cp932 file through Python's cp932 codec
and through mek-cp932, in turn; a FILE that does not exist is made first, a
ledger of 200,000 rows (numbers, names with half-width katakana, addresses),
12.8 MB, the same every time.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--read-csv", action="store_true")
    parser.add_argument("file")
    parser.add_argument("source", nargs="?")
    parser.add_argument("to", nargs="?")
    args = parser.parse_args()
    sys.path.insert(0, os.path.join(args.build, "python"))
    import mek

    if args.read_csv:
        read_csv(mek, args.file, args.runs)
        return

    tool = os.path.join(args.build, "mek")
    in_memory = os.path.join(args.build, "bench", "in_memory")
    data = open(args.file, "rb").read()
    times = {"tool": [], "mek::convert": [], "mek.convert": [], "mek.decode": []}
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out")
        for run in range(args.runs + 1):
            with open(out, "wb") as sink:
                start = time.perf_counter()
                subprocess.run([tool, "-i" + args.source, args.file, "-o" + args.to], stdout=sink,
                               check=True)
                took = time.perf_counter() - start
            cpp = subprocess.run([in_memory, args.file, args.source, args.to], check=True,
                                 capture_output=True, text=True).stdout.split()[0]
            start = time.perf_counter()
            mek.convert(data, args.to, source=args.source, eol="lf")
            python = time.perf_counter() - start
            start = time.perf_counter()
            if args.to == "utf8":
                mek.decode(data, args.source, eol="lf")
            decode = time.perf_counter() - start
            if run == 0:
                continue  # warm-up
            times["tool"].append(took)
            times["mek::convert"].append(float(cpp))
            times["mek.convert"].append(python)
            times["mek.decode"].append(decode)
    tool_median = statistics.median(times["tool"])
    size = len(data) / 1e6
    cells = [f"{args.source} → {args.to}, {size:.0f} MB", f"{tool_median:.3f} s"]
    for name in ("mek::convert", "mek.convert", "mek.decode"):
        if args.to != "utf8" and name == "mek.decode":
            cells.append("")
            continue
        median = statistics.median(times[name])
        cells.append(f"{median:.3f} s ({median / tool_median:.2f} ×)")
    print("| conversion | tool | mek::convert | mek.convert | mek.decode (to str) |")
    print("|---|---|---|---|---|")
    print("| " + " | ".join(cells) + " |")


def make_ledger(path):
    import random

    rng = random.Random(1)
    names = ["山田 太郎", "鈴木 花子", "ｽｽﾞｷ ﾊﾅｺ", "佐藤 一郎", "高橋 美咲", "ﾀｶﾊｼ ﾐｻｷ", "田中 健",
             "伊藤 さくら"]
    rows = ["番号,名前,住所,金額,備考"]
    for i in range(200000):
        rows.append(f"{i},{rng.choice(names)},東京都千代田区{rng.randrange(1, 99)}-"
                    f"{rng.randrange(1, 99)},{rng.randrange(100000)},テスト用のデータです")
    with open(path, "wb") as f:
        f.write(("\r\n".join(rows) + "\r\n").encode("cp932"))


def read_csv(mek, path, runs):
    import pandas as pd

    if not os.path.exists(path):
        make_ledger(path)
    mek.register()
    times = {"cp932": [], "mek-cp932": []}
    for run in range(runs + 1):
        for encoding in times:
            start = time.perf_counter()
            pd.read_csv(path, encoding=encoding)
            if run:
                times[encoding].append(time.perf_counter() - start)
    own, ours = (statistics.median(times[e]) for e in times)
    print("| read_csv | cp932 | mek-cp932 |")
    print("|---|---|---|")
    print(f"| {os.path.getsize(path) / 1e6:.1f} MB | {own:.3f} s | {ours:.3f} s ({ours / own:.2f} ×) |")


if __name__ == "__main__":
    main()
