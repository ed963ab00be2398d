#!/usr/bin/env python3
"""The codes of JIS X 0213 and eucJP-ms against their peers: glibc iconv
(SHIFT_JISX0213, EUC-JISX0213, ISO-2022-JP-3, EUC-JP-MS) and Python's codecs
(shift_jis_2004, euc_jis_2004, iso2022_jp_2004).

usage: python3 wide_codes_peers.py <mek-exe> <source-dir>

Both ways, item by item: every byte sequence of the code's space (single
bytes, every lead and trail pair, every code after SS2 and SS3, every pair
after each designation of ISO-2022-JP-2004) is decoded, and every character
of the BMP and of plane 2 (U+20000..U+2FFFF), and the 25 two-character
sequences, is encoded, by mek and by the peer. mek converts each list in one
run, one item a line. Each item on which they disagree must be listed in
tests/wide_code_differences.txt with its reason, and each listed one
must still differ. ISO-2022-JP-3 designates plane 1 by ESC $ ( O, where mek
writes ESC $ ( Q; the peer's bytes are compared with O read as Q.

A peer that is missing (no python3 codec, no iconv charset) is skipped;
with no peer at all the test exits with 77.
"""

import codecs
import fnmatch
import ctypes
import ctypes.util
import os
import subprocess
import sys

SKIP = 77


# ---------------------------------------------------------------------------
# The peers

class Iconv:
    """glibc iconv(3) in this process, one conversion per item."""

    def __init__(self, charset):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        self.libc.iconv_open.restype = ctypes.c_void_p
        self.libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
        self.libc.iconv.restype = ctypes.c_size_t
        self.libc.iconv.argtypes = [ctypes.c_void_p] + [ctypes.c_void_p] * 4
        self.to_code = self._open(charset.encode(), b"UTF-8")
        self.from_code = self._open(b"UTF-8", charset.encode())

    def _open(self, to, source):
        handle = self.libc.iconv_open(to, source)
        if handle in (None, ctypes.c_void_p(-1).value, 2**64 - 1):
            raise LookupError(source)
        return handle

    def _run(self, handle, data):
        self.libc.iconv(handle, None, None, None, None)
        inbuf = ctypes.create_string_buffer(data, len(data))
        out = ctypes.create_string_buffer(64 + 8 * len(data))
        in_p = ctypes.c_char_p(ctypes.addressof(inbuf))
        in_left = ctypes.c_size_t(len(data))
        out_p = ctypes.c_char_p(ctypes.addressof(out))
        out_left = ctypes.c_size_t(len(out))
        result = self.libc.iconv(handle, ctypes.byref(in_p), ctypes.byref(in_left),
                                 ctypes.byref(out_p), ctypes.byref(out_left))
        if result == ctypes.c_size_t(-1).value or in_left.value != 0:
            return None
        # The return to the initial state (ISO-2022-JP-3's ESC ( B).
        if self.libc.iconv(handle, None, None, ctypes.byref(out_p),
                           ctypes.byref(out_left)) == ctypes.c_size_t(-1).value:
            return None
        return out.raw[:len(out) - out_left.value]

    def encode(self, text):
        return self._run(self.to_code, text.encode("utf-8", "surrogatepass"))

    def decode(self, data):
        out = self._run(self.from_code, data)
        return None if out is None else out.decode("utf-8", "surrogatepass")


class PythonCodec:
    def __init__(self, name):
        codecs.lookup(name)
        self.name = name

    def encode(self, text):
        try:
            return text.encode(self.name)
        except UnicodeError:
            return None

    def decode(self, data):
        try:
            return data.decode(self.name)
        except UnicodeError:
            return None


# mek code: (iconv charset, Python codec)
PEERS = {
    "sjis2004": ("SHIFT_JISX0213", "shift_jis_2004"),
    "eucjis2004": ("EUC-JISX0213", "euc_jis_2004"),
    "iso2022jp2004": ("ISO-2022-JP-3", "iso2022_jp_2004"),
    "eucjpms": ("EUC-JP-MS", None),
}


# ---------------------------------------------------------------------------
# The items

def byte_items(code):
    """Every byte sequence of the code's space, LF and CR left out."""
    singles = [bytes([b]) for b in range(0x100) if b not in (0x0A, 0x0D, 0x1B)]
    if code == "sjis2004":
        trails = [t for t in range(0x40, 0xFD) if t != 0x7F]
        leads = [*range(0x81, 0xA0), *range(0xE0, 0xFD)]
        return singles + [bytes([l, t]) for l in leads for t in trails]
    if code == "iso2022jp2004":
        items = []
        for escape in (b"\x1b$B", b"\x1b$(Q", b"\x1b$(P", b"\x1b$(O"):
            items += [escape + bytes([r, c]) + b"\x1b(B" for r in range(0x21, 0x7F)
                      for c in range(0x21, 0x7F)]
        return items
    high = range(0xA1, 0xFF)
    return (singles + [bytes([0x8E, b]) for b in high]
            + [bytes([r, c]) for r in high for c in high]
            + [bytes([0x8F, r, c]) for r in high for c in high])


def text_items():
    chars = [chr(c) for c in [*range(0x20, 0xD800), *range(0xE000, 0x10000),
                              *range(0x20000, 0x30000)] if c not in (0x0A, 0x0D)]
    chars += [chr(c) for c in range(0x20) if c not in (0x0A, 0x0D)]
    pairs = ["\u304b\u309a", "\u304d\u309a", "\u304f\u309a", "\u3051\u309a", "\u3053\u309a",
             "\u30ab\u309a", "\u30ad\u309a", "\u30af\u309a", "\u30b1\u309a", "\u30b3\u309a",
             "\u30bb\u309a", "\u30c4\u309a", "\u30c8\u309a", "\u31f7\u309a", "\u00e6\u0300",
             "\u0254\u0300", "\u0254\u0301", "\u028c\u0300", "\u028c\u0301", "\u0259\u0300",
             "\u0259\u0301", "\u025a\u0300", "\u025a\u0301", "\u02e9\u02e5", "\u02e5\u02e9"]
    return chars + pairs


def mek_lines(mek, args, data, count, cut):
    """Runs mek once over `data` (items one a line) and answers one result
    per item; `cut` tells a failed item (the replacement) from a result."""
    run = subprocess.run([mek, *args, "--errors=replace", "-keep"], input=data,
                         capture_output=True, check=False)
    lines = run.stdout.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    if len(lines) != count:
        sys.exit(f"FAIL: mek {' '.join(args)} gave {len(lines)} lines for {count} items")
    return [cut(line) for line in lines]


def mek_decoded(mek, code, items):
    def cut(line):
        text = line.decode("utf-8", "surrogatepass")
        return None if "\ufffd" in text else text
    return mek_lines(mek, [f"-i{code}", "-outf8"], b"\n".join(items) + b"\n", len(items), cut)


def mek_encoded(mek, code, items):
    data = "\n".join(items).encode("utf-8", "surrogatepass") + b"\n"
    results = mek_lines(mek, ["-iutf8", f"-o{code}"], data, len(items), lambda line: line)
    # A character without a code is written as '?'. In ISO-2022-JP-2004 3F
    # may also be a byte of a two-byte code, but there every item that mek
    # writes in part (a pair) it writes whole.
    if code == "iso2022jp2004":
        return [None if out == b"?" and item != "?" else out for item, out in zip(items, results)]
    return [None if b"?" in out and "?" not in item else out for item, out in zip(items, results)]


def shown(value):
    if value is None:
        return "none"
    if isinstance(value, bytes):
        return value.hex().upper() or "empty"
    return "+".join(f"{ord(c):04X}" for c in value)


def normal_iso(value):
    return None if value is None else value.replace(b"\x1b$(O", b"\x1b$(Q")


def differences(mek, code, peer_name, peer, texts):
    found = {}
    items = byte_items(code)
    for item, ours in zip(items, mek_decoded(mek, code, items)):
        theirs = peer.decode(item)
        if ours != theirs:
            found[f"{code} {peer_name} decode {shown(item)}"] = f"{shown(ours)} {shown(theirs)}"
    for item, ours in zip(texts, mek_encoded(mek, code, texts)):
        theirs = peer.encode(item)
        if code == "iso2022jp2004":
            theirs = normal_iso(theirs)
        if ours != theirs:
            found[f"{code} {peer_name} encode {shown(item)}"] = f"{shown(ours)} {shown(theirs)}"
    return found


def listed(path):
    """The listed differences, each under the `reason:` line that explains
    it: `code peer way item ours theirs`, where the last three fields may be
    patterns (fnmatch: * for any run of hex digits, ? for one) that stand for
    a whole class of items."""
    entries = []
    reason = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("reason:"):
                reason = line
                continue
            fields = line.split()
            if len(fields) != 6 or reason is None:
                sys.exit(f"FAIL: {path}: bad line {line!r}")
            entries.append(fields)
    return entries


def matches(entry, key, value):
    return all(fnmatch.fnmatchcase(field, pattern)
               for field, pattern in zip(key.split() + value.split(), entry))


def main(argv):
    mek, source = argv[1], argv[2]
    want = listed(os.path.join(source, "tests/wide_code_differences.txt"))
    texts = text_items()
    ran = 0
    failed = False
    found_all = {}
    for code, (iconv_name, python_name) in PEERS.items():
        for peer_name, make, name in (("iconv", Iconv, iconv_name),
                                      ("python", PythonCodec, python_name)):
            if name is None:
                continue
            try:
                peer = make(name)
            except (LookupError, OSError, AttributeError):
                print(f"skipped: no {peer_name} {name}")
                continue
            ran += 1
            found = differences(mek, code, peer_name, peer, texts)
            found_all.update(found)
            used = set()
            for key, value in sorted(found.items()):
                hits = [i for i, entry in enumerate(want) if matches(entry, key, value)]
                if not hits:
                    print(f"FAIL: new difference: {key} {value}")
                    failed = True
                used.update(hits)
            for i, entry in enumerate(want):
                if entry[:2] == [code, peer_name] and i not in used:
                    print(f"FAIL: listed difference no longer found: {' '.join(entry)}")
                    failed = True
            print(f"{code} against {peer_name} {name}: {len(found)} listed differences")
    if os.environ.get("MEK_WRITE_DIFFERENCES"):
        with open(os.environ["MEK_WRITE_DIFFERENCES"], "w", encoding="utf-8") as f:
            for key, value in sorted(found_all.items()):
                f.write(f"{key} {value}\n")
    if ran == 0:
        print("skipped: no peer")
        return SKIP
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
