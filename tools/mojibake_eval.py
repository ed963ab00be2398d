#!/usr/bin/env python3
"""Weighs mojibake repair (mek.repair, --repair) on real text. Run by hand.

usage: PYTHONPATH=build/python python3 tools/mojibake_eval.py CORPUS [--show N]

CORPUS is the folder that tools/detect_corpus.py writes; its UTF-8 texts
(groups man, gettext, dict, short, hwkana, code; manual pages cut to their
first 80 lines) are put through every chain of wrong turns and every pair of
chains that can carry them, with Python's codecs, and repaired:
  - a mojibake text is repaired exactly when the repair gives the original,
    but where a chain lost characters: a U+FFFD of the repair may stand for
    any characters there, and the lost count reported must be that of the
    U+FFFD written;
  - clean texts (the Japanese texts as they are, and English, Western
    European with accents, source code and logs from this system, each
    whole, line by line, and as file names) must come back unchanged; so
    must Japanese lines a reader damaged (most characters U+FFFD), and the
    catalogue strings and manual pages of every other language installed
    (group `other`: Central European, Turkish, Cyrillic, Greek, Korean,
    Chinese and the rest); and, as Western mojibake of no Japanese text,
    some of their lines in UTF-8 read as cp1252 or Latin-1 (group
    `other-turned`, where one or two letters of a script, such as a Greek
    word of two letters, may read as Japanese as well).
The column `kept` gives the exact repairs among the texts whose mojibake
kept a character beyond ASCII that is not U+FFFD (through EUC-JP a short
text often keeps none: nothing is left to repair).
Prints per chain the texts and the exact repairs, and every clean text that
changed. Also a short corpus of one-line strings and file names.
"""

import glob
import gzip
import gettext
import os
import random
import re
import sys

import mek

C1 = {0x81, 0x8D, 0x8F, 0x90, 0x9D}


def cp1252(data):
    # The five bytes without a character read as C1 controls, as Windows does.
    return "".join(chr(b) if b in C1 else bytes([b]).decode("cp1252") for b in data)


def jis_without_esc(text):
    return text.encode("iso2022_jp").replace(b"\x1b", b"").decode("ascii")


# How the readings of UTF-8 in cp932 and EUC-JP treat bytes they cannot read:
# "replace" makes mojibake, "strict" tells whether a chain lost characters.
ERRORS = ["replace"]


def loses(chain, text):
    ERRORS[0] = "strict"
    try:
        chain(text)
        return False
    except (UnicodeError, ValueError):
        return True
    finally:
        ERRORS[0] = "replace"


# name: (text -> mojibake); a chain raises when the text cannot take it.
CHAINS = {
    "utf8 read as cp932": lambda t: t.encode("utf-8").decode("cp932", ERRORS[0]),
    "cp932 read as cp1252": lambda t: cp1252(t.encode("cp932")),
    "cp932 read as latin1": lambda t: t.encode("cp932").decode("latin-1"),
    "eucjp read as latin1": lambda t: t.encode("euc_jp").decode("latin-1"),
    "utf8 read as cp1252": lambda t: cp1252(t.encode("utf-8")),
    "utf8 read as latin1": lambda t: t.encode("utf-8").decode("latin-1"),
    "cp932 read as cp437": lambda t: t.encode("cp932").decode("cp437"),
    "cp932 read as cp850": lambda t: t.encode("cp932").decode("cp850"),
    "utf8 read as eucjp": lambda t: t.encode("utf-8").decode("euc_jp", ERRORS[0]),
    "jis without ESC": jis_without_esc,
}


def pair_name(first, second):
    return f"{first} twice" if first == second else f"{first}, then {second}"


def japanese_texts(corpus):
    texts = []
    for group in ("man", "gettext", "dict", "short", "hwkana", "code"):
        for path in sorted(glob.glob(os.path.join(corpus, group, "*.utf8"))):
            with open(path, encoding="utf-8") as f:
                text = f.read()
            if group == "man":
                text = "".join(text.splitlines(True)[:80])
            texts.append((group, text))
    return texts


# The characters that cp932 and EUC-JP carry once, under one code, for two
# in Unicode: Microsoft's reading (～) and JIS's (〜). Which one the text had
# is not in its bytes, so a repair may give either.
TWINS = str.maketrans("～－∥￠￡￢—", "〜−‖¢£¬―")


def matches(repaired, original, twins=True):
    """Whether `repaired` is `original` but where U+FFFD stands for lost text
    (and, with `twins`, but for the twins of TWINS)."""
    if twins:
        repaired, original = repaired.translate(TWINS), original.translate(TWINS)
    if "\ufffd" not in repaired:
        return repaired == original
    # Each U+FFFD stands for at least one character; the parts between them
    # are placed leftmost, which leaves the most room for the rest (a
    # regular expression backtracks for minutes on a long text that fails).
    parts = repaired.split("\ufffd")
    if not original.startswith(parts[0]):
        return False
    at = len(parts[0])
    for part in parts[1:-1]:
        found = original.find(part, at + 1)
        if found < 0:
            return False
        at = found + len(part)
    return len(original) - len(parts[-1]) >= at + 1 and original.endswith(parts[-1])


def weigh_mojibake(texts, show, only=None):
    groups = {}
    for group, text in texts:
        for first, chain in CHAINS.items():
            try:
                once = chain(text)
            except (UnicodeError, ValueError):
                continue
            if once == text:
                continue
            lost = loses(chain, text)
            groups.setdefault(first, []).append((text, once, lost))
            for second, outer in CHAINS.items():
                try:
                    twice = outer(once)
                except (UnicodeError, ValueError):
                    continue
                if twice == once:
                    continue
                groups.setdefault(pair_name(first, second), []).append(
                    (text, twice, lost or loses(outer, once)))
    total = exact = exact_twins = 0
    # exact: every character as it was; twins: but for the twins of TWINS.
    print(f"{'chain':60} {'texts':>6} {'exact':>8} {'twins':>8} {'kept':>8}")
    for name, cases in sorted(groups.items(), key=lambda kv: -len(kv[1])):
        if only is not None and name != only:
            continue
        good = strict = 0
        kept = kept_good = 0
        shown = 0
        for original, broken, lossy in cases:
            keeps = any(ord(c) >= 0x80 and c != "\ufffd" for c in broken)
            kept += keeps
            repaired, repairs = mek.repair(broken)
            lost = sum(r.lost for r in repairs)
            right = lost == repaired.count("\ufffd") - original.count("\ufffd")
            # Where no turn lost a character, none may be written as lost.
            right = right and (lossy or lost == 0)
            if right and matches(repaired, original, twins=False):
                strict += 1
            if right and matches(repaired, original):
                good += 1
                kept_good += keeps
            elif shown < show:
                shown += 1
                for o, b, r in zip(original.splitlines(), broken.splitlines(),
                                   repaired.splitlines()):
                    if not matches(r, o):
                        print(f"    [{name}] {b[:60]!r}\n    -> {r[:60]!r}\n    want {o[:60]!r}")
                        break
        total += len(cases)
        exact += strict
        exact_twins += good
        print(f"{name:60} {len(cases):6} {100 * strict / len(cases):7.2f}% "
              f"{100 * good / len(cases):7.2f}% "
              + (f"{100 * kept_good / kept:7.2f}%" if kept else f"{'-':>8}"))
    print(f"{'all':60} {total:6} {100 * exact / max(total, 1):7.2f}% "
          f"{100 * exact_twins / max(total, 1):7.2f}%")


def catalogue_strings(language):
    strings = []
    for path in sorted(glob.glob(f"/usr/share/locale/{language}/LC_MESSAGES/*.mo")):
        try:
            with open(path, "rb") as f:
                catalogue = gettext.GNUTranslations(f)
        except Exception:  # a catalogue Python's reader does not take
            continue
        strings += [v for k, v in catalogue._catalog.items() if k and isinstance(v, str)]
    return strings


def man_pages(folder, count, rng):
    paths = sorted(glob.glob(os.path.join(folder, "*.gz")))
    rng.shuffle(paths)
    pages = []
    for path in paths[:count]:
        try:
            pages.append(gzip.open(path).read().decode("utf-8"))
        except (OSError, UnicodeError):
            continue
    return pages


def typographic(text):
    """Curly quotes and apostrophes, dashes and ellipses for the plain ones."""
    text = re.sub(r'(^|[\s(\[])"', "\\1\u201c", text, flags=re.M).replace('"', "\u201d")
    text = re.sub(r"(\w)'", "\\1\u2019", text)
    text = re.sub(r"(^|[\s(\[])'", "\\1\u2018", text, flags=re.M).replace("'", "\u2019")
    return text.replace(" - ", " \u2013 ").replace("...", "\u2026")


def clean_texts(texts, rng):
    clean = [("japanese", t) for _, t in texts]
    clean += [("english", p) for p in man_pages("/usr/share/man/man1", 300, rng)]
    for language in ("fr", "de", "es", "pt", "it", "da", "sv"):
        clean += [(f"man-{language}", p)
                  for p in man_pages(f"/usr/share/man/{language}/man1", 60, rng)]
        strings = catalogue_strings(language)
        rng.shuffle(strings)
        clean += [(f"gettext-{language}", "\n".join(strings[i:i + 40]))
                  for i in range(0, min(len(strings), 2400), 40)]
    sources = sorted(glob.glob("/usr/include/*.h")) + sorted(
        glob.glob("/usr/lib/python3/dist-packages/*/*.py"))
    rng.shuffle(sources)
    for path in sources[:600]:
        try:
            with open(path, encoding="utf-8") as f:
                clean.append(("code", f.read()[:20000]))
        except (OSError, UnicodeError):
            pass
    for path in ("/var/log/dpkg.log", "/var/log/alternatives.log", "/var/log/apt/history.log",
                 "/var/log/apt/term.log"):
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except OSError:
            continue
        clean += [("log", "\n".join(lines[i:i + 50])) for i in range(0, len(lines), 50)]
    # Western mojibake of Western text, which stays as it stands: the English
    # and Western texts as a word processor writes them, in cp1252 read as
    # Latin-1 (It\x92s).
    for kind, text in list(clean):
        if kind == "english" or kind.startswith(("man-", "gettext-")):
            try:
                western = typographic(text).encode("cp1252").decode("latin-1")
            except UnicodeError:
                continue
            if western != text:
                clean.append(("cp1252-as-latin1", western))
    # One-line strings and file names of every kind.
    lines = []
    for kind, text in clean:
        for line in text.splitlines():
            if line.strip():
                lines.append((kind, line))
    rng.shuffle(lines)
    words = [(k, l) for k, l in lines[:20000]]
    names = []
    for kind, line in lines[20000:30000]:
        word = re.split(r"[\s/]+", line.strip())[0][:40]
        if word:
            names.append((f"{kind}-name", word + ".txt"))
    # Japanese lines that a reader damaged, most of their characters beyond
    # ASCII replaced with U+FFFD: what is left is right, so it stays.
    damage = random.Random(3535)
    damaged = []
    for kind, line in words:
        if kind == "japanese" and any(ord(c) >= 0x3000 for c in line):
            damaged.append(("damaged", "".join(
                "\ufffd" if ord(c) >= 0x80 and damage.random() < 0.7 else c for c in line)))
    # Other languages with marks beyond Latin-1 (ü and ö of Turkish read as
    # cp932 pairs give CJK symbols and kanji), Cyrillic, Korean and Chinese:
    # whole catalogues' strings, and their lines.
    more = random.Random(3536)
    others = []
    for language in sorted(os.listdir("/usr/share/locale")):
        if language.startswith(("ja", "en")) or language in ("fr", "de", "es", "pt", "it",
                                                              "da", "sv"):
            continue
        strings = catalogue_strings(language)
        more.shuffle(strings)
        others += [(f"other-{language}", "\n".join(strings[i:i + 40]))
                   for i in range(0, min(len(strings), 800), 40)]
        others += [(f"other-{language}-line", l) for l in strings[800:1100]]
        others += [(f"other-{language}-man", p)
                   for p in man_pages(f"/usr/share/man/{language}/man1", 20, more)]
    # And their lines in UTF-8 read as cp1252 or Latin-1: mojibake, but of
    # no Japanese text, which stays as it stands (Cyrillic: Ð°Ð¼).
    for kind, line in list(others):
        if kind.endswith("-line") and more.random() < 0.2:
            for chain in ("utf8 read as cp1252", "utf8 read as latin1"):
                turned = CHAINS[chain](line)
                if turned != line:
                    others.append(("other-turned", turned))
                    TURNED[turned] = line
    return clean + [(f"{k}-line", l) for k, l in words] + names + damaged + others


# Western mojibake of no Japanese text: its original, which a repair may
# give back (UTF-8 Chinese read as cp1252 reads as Chinese again).
TURNED = {}


def weigh_clean(clean, show):
    changed = {}
    counts = {}
    for kind, text in clean:
        group = kind.split("-")[0] if kind.startswith(("man-", "gettext-")) else kind
        if kind.startswith("other-"):
            group = "other-turned" if kind == "other-turned" else "other"
        counts[group] = counts.get(group, 0) + 1
        repaired, repairs = mek.repair(text)
        if repaired != text and repaired != TURNED.get(text):
            changed.setdefault(group, []).append((text, repaired))
    print(f"{'clean group':30} {'texts':>6} {'changed':>8}")
    for group in sorted(counts):
        print(f"{group:30} {counts[group]:6} {len(changed.get(group, [])):8}")
        for text, repaired in changed.get(group, [])[:show]:
            for a, b in zip(text.splitlines(), repaired.splitlines()):
                if a != b:
                    print(f"    {a[:70]!r} -> {b[:70]!r}")
                    break
    print(f"{'all':30} {sum(counts.values()):6} {sum(len(v) for v in changed.values()):8}")


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    show = int(argv[argv.index("--show") + 1]) if "--show" in argv else 0
    rng = random.Random(35)
    texts = japanese_texts(argv[1])
    # One-line strings: the lines of the Japanese texts that hold Japanese.
    lines = [l for _, t in texts for l in t.splitlines()
             if any(ord(c) >= 0x3000 for c in l)]
    rng.shuffle(lines)
    texts += [("line", l) for l in lines[:600]]
    texts += [("name", re.split(r"\s+", l.strip())[0][:30] + ".txt") for l in lines[600:1000]
              if l.strip()]
    only = argv[argv.index("--only") + 1] if "--only" in argv else None
    weigh_mojibake(texts, show, only)
    if only is not None:
        return 0
    weigh_clean(clean_texts(texts, rng), show)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
