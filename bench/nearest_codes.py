#!/usr/bin/env python3
"""Times each code of JIS X 0213 and the Windows EUC codes against its
nearest older code on the same text, both ways through UTF-8, for the table
in bench/RESULTS.md. Run by hand; not needed to build.

    python3 bench/nearest_codes.py MEK CORPUS.utf8 [RUNS]

CORPUS.utf8 is a text of bench/corpus.py; it is written in every code first
(characters a code lacks at their twins or as '?'). Each pair of runs goes
in turn, old and new, so that a busy machine slows both alike; the table
gives the fastest of RUNS (default 7) whole processes, standard output to a
file, and the median.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

PAIRS = [("sjis2004", "sjis"), ("eucjis2004", "euc_jp"), ("eucjpms", "euc_jp"),
         ("cp51932", "euc_jp"), ("iso2022jp2004", "jis")]


def main(argv):
    if len(argv) not in (3, 4):
        sys.exit(__doc__)
    mek, corpus = argv[1], argv[2]
    runs = int(argv[3]) if len(argv) == 4 else 7
    work = tempfile.mkdtemp()
    out = os.path.join(work, "out")

    def once(args, source):
        with open(source, "rb") as f, open(out, "wb") as o:
            start = time.perf_counter()
            subprocess.run([mek, *args], stdin=f, stdout=o, check=True)
            return time.perf_counter() - start

    texts = {}
    for code in {c for pair in PAIRS for c in pair}:
        texts[code] = os.path.join(work, "text." + code)
        with open(corpus, "rb") as f, open(texts[code], "wb") as o:
            subprocess.run([mek, "-iutf8", "-o" + code, "--fallback", "--errors=replace"],
                           stdin=f, stdout=o, check=True)
    print("| conversion | new s | nearest old code | old s | new / old | new median s | old median s |")
    print("|---|---|---|---|---|---|---|")
    for new, old in PAIRS:
        for label, new_args, old_args, new_in, old_in in (
                (f"{new} to UTF-8", ["-i" + new, "-outf8"], ["-i" + old, "-outf8"], texts[new],
                 texts[old]),
                (f"UTF-8 to {new}", ["-iutf8", "-o" + new], ["-iutf8", "-o" + old], corpus, corpus)):
            once(new_args, new_in)
            once(old_args, old_in)
            new_times, old_times = [], []
            for _ in range(runs):
                new_times.append(once(new_args, new_in))
                old_times.append(once(old_args, old_in))
            n, o = min(new_times), min(old_times)
            print(f"| {label} | {n:.3f} | {old} | {o:.3f} | {n / o:.2f} | "
                  f"{statistics.median(new_times):.3f} | {statistics.median(old_times):.3f} |",
                  flush=True)


if __name__ == "__main__":
    main(sys.argv)
