#!/usr/bin/env python3
"""Writes the small seed corpora under fuzz/corpus/ from examples/ and a few
hand-picked byte strings. Run from anywhere; the output is committed."""

import hashlib
import pathlib
import shutil

ROOT = pathlib.Path(__file__).resolve().parent
CORPUS = ROOT / "corpus"
SAMPLE = (ROOT.parent / "examples" / "sample-utf8.txt").read_text(encoding="utf-8")
LINES = [line + "\n" for line in SAMPLE.splitlines()]
EXTRA = ["\u3042\r\n\u4e9c\r", "A\u00a9\u00a5\u203e~\\", "\uff71\uff72A\u4e02", "\u7e8a\u2252"]

CODECS = {
    "sjis": "cp932",
    "euc_jp": "euc_jp",
    "jis": "iso2022_jp_ext",
    "utf8": "utf-8",
    "utf16_be": "utf-16-be",
    "utf16_le": "utf-16-le",
    "utf16_bom": "utf-16",
    "utf32_be": "utf-32-be",
    "utf32_le": "utf-32-le",
    "utf32_bom": "utf-32",
    "cp932": "cp932",
}

# Byte strings at the edges of each decoder: cut-off sequences, marks,
# escape sequences, invalid lead bytes.
EDGES = {
    "sjis": ["41 82", "ed 40", "80 41", "81 0a", "b1 82 a0"],
    "cp932": ["f0 40", "f9 fc", "f0 7f", "41 f0", "87 8a"],
    "euc_jp": ["a4 a2", "8e b1", "8f b0 a1", "41 8f b0", "8e 5c", "a4 22"],
    "jis": ["1b 24 42 30 21 1b 28 42 41", "1b 24 28 44 30 21", "1b 28 49 31 0e 32 0f",
            "1b 24 41 42", "1b 24 42 30", "1b 28 4a 5c"],
    "utf8": ["ef bb bf 41", "f0 90 80 80", "c0 80", "ed a0 80", "e3 81", "f4 90 80 80"],
    "utf16_be": ["fe ff 00 41", "d8 3d de 00", "00 41 d8 3d", "00 41 00"],
    "utf16_le": ["41 00 3d d8 00 de", "ff fe 41 00"],
    "utf16_bom": ["ff fe 41 00", "fe ff 00 41", "41 00 42 00", "ff"],
    "utf32_be": ["00 00 fe ff 00 00 00 41", "00 10 ff ff", "00 11 00 00"],
    "utf32_le": ["00 f6 01 00 41 00 00 00 00"],
    "utf32_bom": ["ff fe 00 00 41 00 00 00", "00 00 fe ff 00 01 f6 00", "ff fe"],
}

INPUT_CODES = {"sjis": 1, "euc_jp": 2, "jis": 3, "utf8": 4, "utf16_be": 5, "utf16_le": 6,
               "utf16_bom": 7, "utf32_be": 9, "utf32_le": 10, "utf32_bom": 11, "cp932": 13}


MOJIBAKE_SOURCES = ["こんにちは、世界。", "日本語のテキストです", "ﾊﾝｶｸ カナ と 漢字"]


def write(directory, data):
    directory.mkdir(parents=True, exist_ok=True)
    (directory / hashlib.sha1(data).hexdigest()[:16]).write_bytes(data)


def encode(text, codec):
    try:
        return text.encode(codec)
    except UnicodeEncodeError:
        return None


def main():
    shutil.rmtree(CORPUS, ignore_errors=True)
    texts = LINES + EXTRA
    for name, codec in CODECS.items():
        for i, text in enumerate(texts):
            data = encode(text, codec)
            if data is None:
                continue
            write(CORPUS / f"decode_{name}", data)
            # The whole conversion: input code, output code, line ending.
            header = bytes([INPUT_CODES[name] if i % 2 else 0, 1 + i % 12, i % 3])
            write(CORPUS / "convert_in_memory", header + data)
        for edge in EDGES[name]:
            write(CORPUS / f"decode_{name}", bytes.fromhex(edge))
    # Mojibake for --repair (the high bit of the first byte), in UTF-8 with
    # a clean line between, under each error policy and small pieces.
    for i, text in enumerate(MOJIBAKE_SOURCES):
        broken = [text.encode("utf-8").decode("cp932", "replace"),
                  text.encode("cp932").decode("latin-1"),
                  text.encode("euc_jp").decode("latin-1")]
        data = ("\n".join(broken) + "\nplain line\n").encode("utf-8")
        header = bytes([0x80 | INPUT_CODES["utf8"], 1 + i % 12, i % 3, (i % 4) | (i << 3)])
        write(CORPUS / "convert_in_memory", header + data)
    for text in texts + ["\U0001f600\r\n", "\ufeffA"]:
        write(CORPUS / "internal", text.encode("utf-16-be"))
        # Round-trip form: ASCII bytes as they are, other units behind 0x80.
        packed = bytearray()
        for unit in range(0, len(text.encode("utf-16-be")), 2):
            hi, lo = text.encode("utf-16-be")[unit:unit + 2]
            if hi == 0 and lo < 0x80:
                packed.append(lo)
            elif 0xDC <= hi <= 0xDF:
                packed += bytes([hi & 0xFF, lo])
            else:
                packed += bytes([0x80, hi, lo])
        write(CORPUS / "round_trip", bytes(packed))
    for edge in ["00 0d 00 0a 00 41", "00 0a 00 0d", "00 0d 00 0d 00 0a", "30 0d 01 0a",
                 "00 41 00 0a 00", "d8 00 dc 00", "dc 00", "d8 00 00 41", "00 41 d8 00"]:
        write(CORPUS / "internal", bytes.fromhex(edge))
    # Text-buffer sessions: fill two buffers through the copy converter, then
    # insert, exchange and erase.
    for script in ["ff 01 00 00 04 00 41 d8 3d", "ff 01 01 00 06 00 42 de 00 00 43",
                   "ff 01 00 00 04 00 41 00 42 ff 08 01 00 01 ff 0b 00 01 02 01 ff 09 00 01 01",
                   "ff 01 00 00 02 d8 3d 00 05 00 00 ff 0d 00 03 00 41 00"]:
        write(CORPUS / "text_buffer", bytes.fromhex(script))


if __name__ == "__main__":
    main()
