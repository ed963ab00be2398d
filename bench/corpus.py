#!/usr/bin/env python3
"""Writes deterministic benchmark corpora for mek.

Three kinds of UTF-8 text of a given size, all with LF line endings and made
only of characters that every Japanese code here can carry:
  mixed  lines of 20-120 characters: ASCII words and digits (about 60% of the
         characters), hiragana, katakana, JIS X 0208 kanji, punctuation and a
         few half-width katakana
  ascii  ASCII words and digits only
  kanji  kanji-dense text with a little kana and punctuation
  fullwidth  like mixed but without half-width katakana: detection takes a
         Shift_JIS text with one-byte katakana for something else, so the
         -iauto comparison runs on this one
Each is also written in Shift_JIS, EUC-JP, ISO-2022-JP and UTF-16LE by mek
itself, and every such file is checked by converting it back to UTF-8.

usage: corpus.py --mek PATH [--size 100M] [--out DIR] [--seed N] [--kinds mixed,ascii,kanji,fullwidth]
"""

import argparse
import os
import random
import subprocess
import sys

ENCODINGS = {  # file suffix -> mek code name
    "sjis": "sjis",
    "euc": "euc_jp",
    "jis": "jis",
    "utf16le": "utf16_le",
}


def portable(ch):
    """True when the character has a code in Shift_JIS (cp932), EUC-JP and
    ISO-2022-JP alike, and the JIS X 0208 form is the one all three use."""
    for codec in ("cp932", "euc_jp", "iso2022_jp"):
        try:
            ch.encode(codec)
        except UnicodeEncodeError:
            return False
    return True


def jis_row_characters(first_row, last_row):
    """Characters of JIS X 0208 rows first_row..last_row (1-based ku)."""
    chars = []
    for ku in range(first_row, last_row + 1):
        for ten in range(1, 95):
            raw = bytes([0xA0 + ku, 0xA0 + ten])
            try:
                ch = raw.decode("euc_jp")
            except UnicodeDecodeError:
                continue
            if len(ch) == 1 and portable(ch):
                chars.append(ch)
    return chars


HIRAGANA = [chr(c) for c in range(0x3041, 0x3094)]
KATAKANA = [chr(c) for c in range(0x30A1, 0x30F7)]
KANJI = jis_row_characters(16, 84)
PUNCTUATION = [c for c in "、。「」『』（）・ー！？：；" if portable(c)]
HALFWIDTH = [chr(c) for c in range(0xFF61, 0xFFA0)]
WORDS = ("the of and data file text line code value mek convert encoding "
         "tokyo osaka kyoto page table index number version release").split()


def ascii_piece(rng):
    if rng.random() < 0.3:
        return str(rng.randrange(0, 100000))
    return rng.choice(WORDS)


def japanese_piece(rng, kanji_weight, halfwidth=True):
    r = rng.random()
    if r < kanji_weight:
        return "".join(rng.choice(KANJI) for _ in range(rng.randint(1, 4)))
    if r < kanji_weight + 0.25:
        return "".join(rng.choice(HIRAGANA) for _ in range(rng.randint(1, 5)))
    if r < kanji_weight + 0.40:
        return "".join(rng.choice(KATAKANA) for _ in range(rng.randint(2, 6)))
    if r < kanji_weight + 0.47 and halfwidth:
        return "".join(rng.choice(HALFWIDTH) for _ in range(rng.randint(2, 5)))
    return rng.choice(PUNCTUATION)


def make_line(rng, kind):
    target = rng.randint(20, 120)
    parts = []
    length = 0
    while length < target:
        if kind == "ascii":
            piece = ascii_piece(rng) + " "
        elif kind == "kanji":
            piece = japanese_piece(rng, 0.85) if rng.random() < 0.95 else ascii_piece(rng)
        else:  # mixed and fullwidth: about 60% of the characters ASCII
            piece = (ascii_piece(rng) + " " if rng.random() < 0.72
                     else japanese_piece(rng, 0.45, kind != "fullwidth"))
        parts.append(piece)
        length += len(piece)
    return "".join(parts)[:target].rstrip() + "\n"


def write_text(path, kind, size, seed):
    rng = random.Random(f"{seed}-{kind}")
    written = 0
    with open(path, "wb") as out:
        chunk = []
        chunk_bytes = 0
        while written + chunk_bytes < size:
            line = make_line(rng, kind).encode("utf-8")
            chunk.append(line)
            chunk_bytes += len(line)
            if chunk_bytes > 1 << 20:
                out.write(b"".join(chunk))
                written += chunk_bytes
                chunk, chunk_bytes = [], 0
        out.write(b"".join(chunk))


def run_mek(mek, args):
    result = subprocess.run([mek] + args, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit(f"mek {' '.join(args)} failed: {result.stderr.decode(errors='replace')}")


def same_file(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1:].upper() in units:
        return int(float(text[:-1]) * units[text[-1].upper()])
    return int(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mek", required=True, help="path of the mek executable")
    parser.add_argument("--size", default="100M", help="bytes of UTF-8 per corpus (K, M, G)")
    parser.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "corpus"))
    parser.add_argument("--seed", type=int, default=20261207)
    parser.add_argument("--kinds", default="mixed,ascii,kanji,fullwidth")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    size = parse_size(args.size)
    for kind in args.kinds.split(","):
        utf8 = os.path.join(args.out, f"{kind}.utf8")
        write_text(utf8, kind, size, args.seed)
        for suffix, code in ENCODINGS.items():
            encoded = os.path.join(args.out, f"{kind}.{suffix}")
            back = encoded + ".back"
            run_mek(args.mek, ["-iutf8", utf8, "-o" + code, encoded])
            run_mek(args.mek, ["-i" + code, encoded, "-outf8", back])
            if not same_file(utf8, back):
                sys.exit(f"round trip through {code} changed {utf8}")
            os.remove(back)
        print(f"{kind}: {os.path.getsize(utf8)} bytes of UTF-8 and {len(ENCODINGS)} encodings")


if __name__ == "__main__":
    main()
