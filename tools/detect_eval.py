#!/usr/bin/env python3
"""Accuracy of detection on the corpus that detect_corpus.py writes, per
group: mek --detect=first, mek --detect=score and, for comparison,
nkf --guess. Run by hand; not needed to build.

    python3 tools/detect_eval.py MEK CORPUS_DIR [--misses]

A file NAME.CODE is right when the answer is CODE (none: no code, the
file is refused). --misses lists the
wrong answers of score.

    python3 tools/detect_eval.py --tune CORPUS_DIR

instead models score's classes with Python's codecs and searches the class
weights for the best worst group, to choose the weights in
detect/scored_detection.cpp (the model's decoders differ from mek's in
corners, so the figures to report are those of the first form).
"""

import concurrent.futures
import os
import subprocess
import sys
from collections import defaultdict

NKF = {"Shift_JIS": "sjis", "CP932": "sjis", "Windows-31J": "sjis", "EUC-JP": "euc_jp",
       "CP51932": "euc_jp", "eucJP-ms": "euc_jp", "ISO-2022-JP": "jis", "UTF-8": "utf8",
       "UTF-16LE": "utf16_le", "UTF-16BE": "utf16_be", "UTF-16": "utf16_be",
       "UTF-32LE": "utf32_le", "UTF-32BE": "utf32_be", "UTF-32": "utf32_be"}


def files(corpus):
    for group in sorted(os.listdir(corpus)):
        for name in sorted(os.listdir(os.path.join(corpus, group))):
            yield group, os.path.join(corpus, group, name), name.rsplit(".", 1)[1]


def answers(mek, path):
    def run(args):
        p = subprocess.run(args, capture_output=True)
        return p.stdout.decode("utf-8", "replace").split(" ")[0].strip() if p.returncode == 0 else "none"
    first = run([mek, "--guess", "--detect=first", path])
    score = run([mek, "--guess", "--detect=score", path])
    nkf = run(["nkf", "--guess", path]).split("(")[0].strip()
    return first, score, NKF.get(nkf, nkf)


def evaluate(mek, corpus, misses):
    items = list(files(corpus))
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda item: answers(mek, item[1]), items))
    right = defaultdict(lambda: [0, 0, 0, 0])
    for (group, path, code), got in zip(items, results):
        for i, answer in enumerate(got):
            right[group][i] += answer == code
        right[group][3] += 1
        if misses and got[1] != code:
            print(f"miss {path}: score {got[1]}, first {got[0]}")
    print("| group | files | first | score | nkf --guess |")
    print("|---|---|---|---|---|")
    total = [0, 0, 0, 0]
    for group, r in sorted(right.items()):
        total = [a + b for a, b in zip(total, r)]
        print(f"| {group} | {r[3]} | " + " | ".join(f"{100 * x / r[3]:.1f} %" for x in r[:3]) + " |")
    print(f"| all | {total[3]} | " + " | ".join(f"{100 * x / total[3]:.1f} %" for x in total[:3]) + " |")


# The model of score for --tune: the classes of scored_detection.cpp.
CLASSES = ["ascii", "kana", "punct", "kanji1", "kanji2", "fullwidth", "halfwidth", "hwpunct",
           "jissym", "otherkanji", "latin", "control", "other"]
CANDIDATES = [("utf8", "utf-8"), ("jis", "iso2022_jp"), ("sjis", "cp932"), ("euc_jp", "euc_jp"),
              ("utf16_le", "utf-16-le"), ("utf16_be", "utf-16-be"), ("utf32_le", "utf-32-le"),
              ("utf32_be", "utf-32-be")]
PREFIX = 64 * 1024
KANJI1, KANJI2 = CLASSES.index("kanji1"), CLASSES.index("kanji2")
# Kanji of a reading whose kanji all lie in one JIS row, with at least this
# many different ones, weigh ONE_ROW_WEIGHT (kOneRow* in the C++).
ONE_ROW_MINIMUM = 5
ONE_ROW_WEIGHT = 0


def classify(ch):
    u = ord(ch)
    if u > 0xFFFF:
        return 12
    if u < 0x80:
        return 0 if 0x20 <= u < 0x7F or u in (9, 10, 13) else 11
    if u < 0xA0:
        return 11
    if 0x3040 <= u <= 0x30FF:
        return 1
    if 0x3000 <= u <= 0x303F:
        return 2
    if 0xFF01 <= u <= 0xFF5E:
        return 5
    if 0xFF61 <= u <= 0xFF65:
        return 7
    if 0xFF66 <= u <= 0xFF9F:
        return 6
    try:
        e = ch.encode("euc_jp")
    except UnicodeEncodeError:
        e = b""
    if len(e) == 2 and e[0] >= 0xA1:
        row = e[0] - 0xA0
        return 3 if 16 <= row <= 47 else 4 if 48 <= row <= 84 else 8
    if 0x4E00 <= u <= 0x9FFF or 0x3400 <= u <= 0x4DBF or 0xF900 <= u <= 0xFAFF:
        return 9
    if u <= 0x24F or 0x2000 <= u <= 0x206F:
        return 10
    return 12


def ambiguous(path, code):
    """Printable ASCII bytes in a code that is not ASCII: any reading as
    ASCII is as good as the true one, and no detector can tell."""
    data = open(path, "rb").read()
    return code.startswith("utf16") and all(0x20 <= b < 0x7F or b in (9, 10, 13) for b in data)


def decode(data, codec):
    """The text and whether a last sequence was cut off (dropped, as mek
    does), or None."""
    for cut in range(0, 4):
        try:
            return data[:len(data) - cut].decode(codec), cut != 0
        except UnicodeDecodeError as e:
            if e.start < len(data) - 4:
                return None
    return None


def histograms(path):
    data = open(path, "rb").read()
    out = []
    for code, codec in CANDIDATES:
        if code == "jis" and b"\x1b" not in data:
            continue
        if code.startswith("utf16") and len(data) % 2 or code.startswith("utf32") and len(data) % 4:
            continue
        whole = decode(data, codec)
        if whole is None:
            continue
        text = (decode(data[:PREFIX], codec) or ("", False))[0]
        h = [0] * len(CLASSES)
        rows, kanji = set(), set()
        for ch in text:
            c = classify(ch)
            h[c] += 1
            if c in (KANJI1, KANJI2):
                rows.add(ch.encode("euc_jp")[0])
                kanji.add(ch)
        if whole[1] and code != "jis":
            h[CLASSES.index("control")] += 1  # the cut-off last sequence
        one_row = len(rows) == 1 and len(kanji) >= ONE_ROW_MINIMUM
        out.append((code, h, code == "utf8" and any(ord(c) >= 0x80 for c in text), one_row))
    return out


def choose(hists, weights, bonus):
    best, best_score = None, None
    for code, h, multibyte, one_row in hists:
        n = sum(h)
        total = sum(w * x for w, x in zip(weights, h))
        if one_row:
            total += sum((ONE_ROW_WEIGHT - weights[k]) * h[k] for k in (KANJI1, KANJI2))
        s = total * 100 // n if n else 0
        if multibyte:
            s += bonus * 100
        if best is None or s > best_score:
            best, best_score = code, s
    return best


def tune(corpus):
    items = list(files(corpus))
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        data = list(pool.map(histograms, [p for _, p, _ in items], chunksize=64))

    skip = [ambiguous(p, c) for _, p, c in items]

    def accuracy(weights, bonus):
        right, total = defaultdict(int), defaultdict(int)
        for (group, _, code), hists, s in zip(items, data, skip):
            if s:
                continue
            total[group] += 1
            right[group] += choose(hists, weights, bonus) == code
        return {g: right[g] / total[g] for g in total}

    def goal(acc):
        return (min(acc.values()), sum(acc.values()))

    weights = [int(w) for w in os.environ.get(
        "START", "40 100 90 90 50 60 80 20 20 -50 -20 -100 -50").split()]
    bonus = 5
    best = goal(accuracy(weights, bonus))
    improved = True
    while improved:
        improved = False
        for i in range(len(weights) + 1):
            for step in (-20, -10, -5, 5, 10, 20):
                w, b = list(weights), bonus
                if i == len(weights):
                    b = max(0, b + step)
                else:
                    w[i] = min(100, max(-100, w[i] + step))
                g = goal(accuracy(w, b))
                if g > best:
                    best, weights, bonus, improved = g, w, b, True
        print("  at", weights, bonus, best, flush=True)
    print("weights", dict(zip(CLASSES, weights)), "bonus", bonus)
    for group, a in sorted(accuracy(weights, bonus).items()):
        print(f"  {group}: {100 * a:.2f} %")
    print("ambiguous files left out:", sum(skip))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--tune":
        tune(sys.argv[2])
    elif len(sys.argv) >= 3:
        evaluate(sys.argv[1], sys.argv[2], "--misses" in sys.argv)
    else:
        sys.exit(__doc__)
