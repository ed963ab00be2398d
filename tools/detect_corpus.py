#!/usr/bin/env python3
"""Builds a corpus for weighing detection from real Japanese text in Debian
packages, each text put into every code that can carry it.

Run by hand; not needed to build. Needs the packages manpages-ja and skkdic
(apt-get install -y manpages-ja skkdic) and, when present, the gettext
catalogues under /usr/share/locale/ja. Usage:

    python3 tools/detect_corpus.py OUT_DIR

writes OUT_DIR/GROUP/NAME.CODE, where CODE is the code the file is in, as
mek names it, and GROUP one of:
    man      manual pages (manpages-ja), troff source
    gettext  the translated strings of a gettext catalogue
    dict     runs of dictionary entries (skkdic)
    short    one-word strings: dictionary words and catalogue strings
    hwkana   CSV ledgers whose names are in half-width katakana
    code     C, Python and shell source with Japanese comments
    broken   UTF-8, Shift_JIS and EUC-JP texts of the groups above with one
             stray FF byte each, padded to an even length: no code reads
             them, so the right answer is none (NAME.none)
    x0213    catalogue strings with characters of JIS X 0213 beyond JIS X 0208
             (𠮟, セ゚, 硃, 豗, 𠂉 ...) in Shift_JIS-2004 and EUC-JIS-2004, and
             with the NEC and IBM characters of cp932 (①, ㈱, 纊, ⅰ) in cp932
             (NAME.sjis), which must stay sjis
The same seed gives the same corpus.
"""

import glob
import gzip
import os
import random
import re
import subprocess
import sys
import unicodedata

CODES = {
    "sjis": "cp932",
    "euc_jp": "euc_jp",
    "jis": "iso2022_jp",
    "utf8": "utf-8",
    "utf16_le": "utf-16-le",
    "utf16_be": "utf-16-be",
    "utf32_le": "utf-32-le",
    "utf32_be": "utf-32-be",
}
SKK = "/usr/share/skk/SKK-JISYO.L"


def japanese(text):
    return any("\u3040" <= ch <= "\u30ff" or "\u4e00" <= ch <= "\u9fff" for ch in text)


def write_all(out, group, name, text, codes=CODES):
    os.makedirs(os.path.join(out, group), exist_ok=True)
    for code, codec in codes.items():
        try:
            data = text.encode(codec)
        except UnicodeEncodeError:
            continue  # the code cannot carry this text
        if code == "sjis" and any(0xE000 <= ord(ch) <= 0xF8FF for ch in text):
            continue  # user-defined area: cp932, not sjis
        with open(os.path.join(out, group, f"{name}.{code}"), "wb") as f:
            f.write(data)


def write_broken(out, rng, name, text):
    """The text in UTF-8, Shift_JIS and EUC-JP, each with one FF byte put in
    at a random place and padded with a space to an even length."""
    os.makedirs(os.path.join(out, "broken"), exist_ok=True)
    for code in ("utf8", "sjis", "euc_jp"):
        try:
            data = text.encode(CODES[code])
        except UnicodeEncodeError:
            continue
        at = rng.randrange(len(data) + 1)
        data = data[:at] + b"\xff" + data[at:]
        if len(data) % 2:
            data += b" "
        with open(os.path.join(out, "broken", f"{name}-{code}.none"), "wb") as f:
            f.write(data)


def man_pages(rng, count):
    paths = sorted(glob.glob("/usr/share/man/ja/man*/*.gz"))
    rng.shuffle(paths)
    for path in paths:
        with gzip.open(path, "rb") as f:
            raw = f.read()
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError:
            continue
        if japanese(text):
            yield os.path.basename(path)[:-3], text
            count -= 1
            if count == 0:
                return


def catalogue_strings(path):
    """The msgstr texts of a compiled catalogue, as msgunfmt prints them."""
    try:
        po = subprocess.run(["msgunfmt", path], capture_output=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return []
    # msgunfmt prints the catalogue in its own charset (EUC-JP for a few);
    # read as UTF-8 those would give U+FFFD, which is no Japanese text.
    charset = re.search(rb"charset=([-A-Za-z0-9_]+)", po)
    try:
        text = po.decode(charset.group(1).decode("ascii") if charset else "utf-8")
    except (LookupError, UnicodeDecodeError):
        return []
    strings, current, in_str = [], [], False
    for line in text.splitlines():
        if line.startswith("msgstr"):
            in_str, current = True, [line.split(" ", 1)[1]]
        elif line.startswith('"') and in_str:
            current.append(line)
        else:
            if in_str and current:
                s = "".join(part.strip()[1:-1] for part in current)
                s = s.replace("\\n", "\n").replace('\\"', '"').replace("\\t", "\t")
                if s and japanese(s):
                    strings.append(s)
            in_str, current = False, []
    return strings


def skk_entries():
    entries = []
    with open(SKK, "rb") as f:
        for raw in f:
            line = raw.decode("euc_jp", "replace").rstrip("\n")
            if not line or line.startswith(";;") or "\ufffd" in line:
                continue
            reading, _, rest = line.partition(" /")
            words = [w.split(";")[0] for w in rest.split("/") if w]
            entries.append((reading, line, words))
    return entries


def half_width_map():
    """Full-width katakana (voiced ones included) to half-width forms."""
    table = {}
    for cp in range(0xFF66, 0xFF9E):
        table[unicodedata.normalize("NFKC", chr(cp))] = chr(cp)
    for base in list(table):
        for mark, hw in (("\u3099", "\uff9e"), ("\u309a", "\uff9f")):
            composed = unicodedata.normalize("NFC", base + mark)
            if len(composed) == 1:
                table[composed] = table[base] + hw
    table["ー"] = "\uff70"
    return table


def to_half_width(hiragana, table):
    out = []
    for ch in hiragana:
        if "\u3041" <= ch <= "\u3096":
            ch = chr(ord(ch) + 0x60)
        if ch not in table:
            return None
        out.append(table[ch])
    return "".join(out)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    rng = random.Random(25)

    for name, text in man_pages(rng, 150):
        write_all(out, "man", name, text)

    catalogues = sorted(glob.glob("/usr/share/locale/ja/LC_MESSAGES/*.mo"))
    all_strings = []
    for path in catalogues:
        strings = catalogue_strings(path)
        all_strings.extend(strings)
        if strings:
            name = os.path.basename(path)[:-3]
            write_all(out, "gettext", name, "\n".join(strings[:400]) + "\n")

    entries = skk_entries()
    okuri_nasi = [e for e in entries if e[0] and e[0][-1] >= "\u3041" and e[0][-1] <= "\u3096"]
    for i in range(80):
        start = rng.randrange(len(entries) - 60)
        write_all(out, "dict", f"skk{i:03}", "\n".join(e[1] for e in entries[start:start + 60]) + "\n")

    words = [w for e in okuri_nasi for w in e[2] if japanese(w) and 1 <= len(w) <= 6]
    short = rng.sample(sorted(set(words)), 300)
    short += [s.strip() for s in rng.sample(all_strings, 150) if 0 < len(s.strip()) <= 12]
    short += ["テスト", "東京", "鳴尾", "はい", "日本語", "ファイル", "エラー", "設定", "名前"]
    for i, s in enumerate(short):
        write_all(out, "short", f"s{i:04}", s)

    table = half_width_map()
    kana = [k for k in (to_half_width(e[0], table) for e in okuri_nasi) if k and len(k) >= 2]
    for i in range(60):
        rows = ["ｺｰﾄﾞ,ｼﾒｲ,ｶﾅ,ｷﾝｶﾞｸ"] if i % 2 else []
        for r in range(rng.randrange(1, 40)):
            rows.append(f"{rng.randrange(10000):04},{rng.choice(kana)} {rng.choice(kana)},"
                        f"{rng.choice(kana)},{rng.randrange(100000)}")
        write_all(out, "hwkana", f"ledger{i:03}", "\r\n".join(rows) + "\r\n")

    sentences = [s for s in all_strings if "\n" not in s and 6 <= len(s) <= 60]
    for i in range(80):
        kind = i % 3
        lines = []
        for f in range(rng.randrange(1, 6)):
            comment = rng.choice(sentences)
            if kind == 0:
                lines += [f"/* {comment} */", f"static int step{f}(int n) {{",
                          f"  return n * {f + 2};  // {rng.choice(sentences)}", "}", ""]
            elif kind == 1:
                lines += [f"# {comment}", f"def step{f}(n):", f"    return n * {f + 2}", ""]
            else:
                lines += [f"# {comment}", f'echo "step {f}"', ""]
        write_all(out, "code", f"src{i:03}", "\n".join(lines))

    # Broken copies of the longer texts, drawn with their own generator so
    # that the groups above stay as they were.
    broken = random.Random(29)
    for group in ("man", "gettext", "dict", "code"):
        folder = os.path.join(out, group)
        texts = [n for n in sorted(os.listdir(folder)) if n.endswith(".utf8")]
        for name in texts[::2]:
            with open(os.path.join(folder, name), "rb") as f:
                write_broken(out, broken, f"{group}-{name[:-5]}", f.read().decode("utf-8"))

    write_x0213(out, sentences)


# Words with characters that JIS X 0213 has beyond JIS X 0208, and the cp932
# extensions that Windows writes.
# A text whose only such codes are in the user-defined rows of cp932 (𠂉 alone,
# F0 40) reads as cp932 too, and ties go to cp932: it is left out.
X0213_WORDS = ["𠮟る", "齟齬セ゚ ツ゚ ト゚ㇷ゚", "硃と豗", "𠂉と硃", "﨑", "剝がす", "頰", "塡める", "𠮷野家",
               "か゚き゚く゚", "俱楽部", "㐂"]
CP932_WORDS = ["①", "㈱", "纊", "ⅰ", "№", "髙"]


def write_x0213(out, sentences):
    """The x0213 group, drawn with its own generator so that the groups above
    stay as they were."""
    rng = random.Random(31)
    pool = sentences or ["日本語の文章です。", "設定を保存しました。"]
    codes = {"sjis2004": "shift_jis_2004", "eucjis2004": "euc_jis_2004"}
    write_all(out, "x0213", "case0", "日本語の文章です。硃と豗。\n", codes)
    write_all(out, "x0213", "case1", "日本語の文章です。硃と豗と𠂉。\n", codes)
    write_all(out, "x0213", "case2", "齟齬セ゚ ツ゚ ト゚ㇷ゚\n𠮟る\n", codes)
    for i in range(40):
        lines = [rng.choice(pool) + rng.choice(X0213_WORDS) for _ in range(rng.randrange(1, 8))]
        write_all(out, "x0213", f"jis{i:03}", "\n".join(lines) + "\n", codes)
    for i in range(20):
        lines = [rng.choice(pool) + rng.choice(CP932_WORDS) for _ in range(rng.randrange(1, 8))]
        text = "\n".join(lines) + "\n"
        try:
            data = windows_cp932(text)
        except UnicodeEncodeError:
            continue
        with open(os.path.join(out, "x0213", f"cp{i:03}.sjis"), "wb") as f:
            f.write(data)


def windows_cp932(text):
    """`text` in cp932 as Windows writes it: Python's codec writes the IBM
    characters at their NEC-selected codes (ED 40 for 纊, EE EF for ⅰ),
    Windows at the IBM extension codes (FA 5C, FA 40)."""
    ibm = {}
    for lead in (0xFA, 0xFB, 0xFC):
        for trail in range(0x40, 0xFD):
            try:
                ibm.setdefault(bytes([lead, trail]).decode("cp932"), bytes([lead, trail]))
            except UnicodeDecodeError:
                pass
    out = bytearray()
    for ch in text:
        data = ch.encode("cp932")
        out += ibm.get(ch, data) if data[:1] in (b"\xed", b"\xee") else data
    return bytes(out)


if __name__ == "__main__":
    main()
