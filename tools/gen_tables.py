#!/usr/bin/env python3
"""Generates the constant code tables of mek from the mapping files.

usage: python3 tools/gen_tables.py <mapping-folder> <output-folder>

Also writes western_codes.h there: the high halves of cp1252, cp437 and
cp850 from CP1252.gz, IBM437.gz and IBM850.gz (checked against their
SHA-256), which repairing mojibake needs.

Reads CP932.TXT, JIS0208.TXT, JIS0212.TXT and JIS0201.TXT (the Unicode
Consortium's mapping files, or files in their column layout) from
<mapping-folder>, builds the four forward tables from exactly those mappings
and the four reverse tables from the forward ones, checks every table against
the counts and shapes it must have, and writes per table one C++ header (the
constant data, for sources that derive other constant tables from it, and its
accessor) into <output-folder> (japanese/tables/ in the source tree).
Nothing is written when a check fails; the script then lists every failed
check and exits with 1.

It also reads the gzip character maps SHIFT_JISX0213.gz, EUC-JISX0213.gz
and EUC-JP-MS.gz, whose SHA-256 sums it checks, and writes the three tables of
the wide form (japanese/wide_table.h): jis_x0213.h (Shift_JIS-2004,
EUC-JIS-2004, ISO-2022-JP-2004), eucjp_ms.h and cp51932.h (derived from
CP932.TXT), each stamped with its source's sum, and their reference vectors.

The output depends on the mappings only, so rerunning the script over the same
files reproduces the committed sources byte for byte.
"""

import gzip
import hashlib
import os
import re
import sys

NO_MAPPING = 0xFFFF
HEX = re.compile(r"0[xX][0-9A-Fa-f]+\Z")


class GenError(Exception):
    pass


# --------------------------------------------------------------------------
# Reading the mapping files


def read_mapping_file(path, columns, code_column, unicode_column):
    """Answers the (code, unicode) pairs of one mapping file in file order.

    A line is split on white space after its comment (from '#') is cut off.
    Lines with fewer than `columns` fields carry no Unicode value (blank lines,
    lead-byte and undefined-byte lines of CP932.TXT) and are skipped.
    """
    try:
        with open(path, "r", encoding="latin-1", newline=None) as f:
            text = f.read()
    except OSError as e:
        raise GenError(f"cannot read {path}: {e.strerror}")
    pairs = []
    for number, line in enumerate(text.split("\n"), start=1):
        fields = line.split("#", 1)[0].replace("\x1a", " ").split()
        if len(fields) < columns:
            continue
        where = f"{os.path.basename(path)}:{number}"
        if len(fields) > columns:
            raise GenError(f"{where}: expected {columns} columns, found {len(fields)}")
        for field in fields:
            if not HEX.match(field):
                raise GenError(f"{where}: '{field}' is not a 0x-prefixed hex number")
        code = int(fields[code_column], 16)
        unicode = int(fields[unicode_column], 16)
        if code > 0xFFFF:
            raise GenError(f"{where}: code 0x{code:X} does not fit 16 bits")
        if unicode >= NO_MAPPING:
            raise GenError(f"{where}: Unicode value 0x{unicode:X} is not a BMP mapping")
        pairs.append((code, unicode, where))
    return pairs


def to_mapping(pairs, name, code_ok):
    """Turns (code, unicode) pairs into a dict, refusing repeats and bad codes."""
    mapping = {}
    for code, unicode, where in pairs:
        if not code_ok(code):
            raise GenError(f"{where}: 0x{code:X} is not a valid {name} code")
        if code in mapping:
            raise GenError(f"{where}: {name} code 0x{code:X} is mapped twice")
        mapping[code] = unicode
    return mapping


def seven_bit_pair(code):
    return 0x21 <= code >> 8 <= 0x7E and 0x21 <= code & 0xFF <= 0x7E


def sjis_code(code):
    return code <= 0xFF or (0x81 <= code >> 8 <= 0xFC and 0x40 <= code & 0xFF <= 0xFC)


def read_mappings(folder):
    def path(name):
        return os.path.join(folder, name)

    cp932 = to_mapping(read_mapping_file(path("CP932.TXT"), 2, 0, 1), "cp932", sjis_code)
    jis0208 = to_mapping(
        read_mapping_file(path("JIS0208.TXT"), 3, 1, 2), "JIS X 0208", seven_bit_pair
    )
    # The file's first column: the same characters' Shift_JIS codes.
    jis0208_sjis = {
        code for code, _, _ in read_mapping_file(path("JIS0208.TXT"), 3, 0, 2)
    }
    jis0212 = to_mapping(
        read_mapping_file(path("JIS0212.TXT"), 2, 0, 1), "JIS X 0212", seven_bit_pair
    )
    jis0201 = to_mapping(
        read_mapping_file(path("JIS0201.TXT"), 2, 0, 1), "JIS X 0201", lambda c: c <= 0xFF
    )
    return cp932, jis0208, jis0212, jis0201, jis0208_sjis


# --------------------------------------------------------------------------
# Building the tables


def inverse_unique(forward):
    """The inverse of a forward table that maps no two codes to one value."""
    reverse = {}
    for code in sorted(forward):
        unicode = forward[code]
        if unicode in reverse:
            raise GenError(
                f"U+{unicode:04X} has two codes, 0x{reverse[unicode]:X} and 0x{code:X}"
            )
        reverse[unicode] = code
    return reverse


def inverse_highest_wins(forward):
    """The inverse in which the numerically highest code of a value wins.

    Codes are visited in ascending order (one-byte codes as 0x00..0xFF) and a
    later code overwrites an earlier one. Also answers, per value with more
    than one code, the sorted list of its competing codes.
    """
    reverse = {}
    competitors = {}
    for code in sorted(forward):
        unicode = forward[code]
        competitors.setdefault(unicode, []).append(code)
        reverse[unicode] = code
    shared = {u: codes for u, codes in competitors.items() if len(codes) > 1}
    return reverse, shared


class Table:
    """A two-level table in its final shape: row-trimmed rows, null rows, holes."""

    def __init__(self, name, source, title, mapping):
        self.name = name
        self.source = source
        self.title = title
        self.mapping = mapping
        by_hi = {}
        for key, value in mapping.items():
            by_hi.setdefault(key >> 8, {})[key & 0xFF] = value
        self.first = min(by_hi)
        self.last = max(by_hi)
        self.rows = {}
        for hi, cells in sorted(by_hi.items()):
            lo_first, lo_last = min(cells), max(cells)
            values = [cells.get(lo, NO_MAPPING) for lo in range(lo_first, lo_last + 1)]
            self.rows[hi] = (lo_first, lo_last, values)

    def cell_count(self):
        return sum(len(values) for _, _, values in self.rows.values())

    def pointer_count(self):
        return self.last - self.first + 1

    def span(self, hi):
        row = self.rows.get(hi)
        return None if row is None else (row[0], row[1])


def build_tables(cp932, jis0208, jis0212, jis0201):
    sjis_reverse, shared = inverse_highest_wins(cp932)
    tables = [
        Table("SjisToUnicode", "CP932.TXT", "Shift_JIS (code page 932) to Unicode", cp932),
        Table("UnicodeToSjis", "CP932.TXT", "Unicode to Shift_JIS (code page 932)", sjis_reverse),
        Table("JisX0201ToUnicode", "JIS0201.TXT", "JIS X 0201 to Unicode", jis0201),
        Table("UnicodeToJisX0201", "JIS0201.TXT", "Unicode to JIS X 0201", inverse_unique(jis0201)),
        Table("JisX0208ToUnicode", "JIS0208.TXT", "JIS X 0208 to Unicode", jis0208),
        Table("UnicodeToJisX0208", "JIS0208.TXT", "Unicode to JIS X 0208", inverse_unique(jis0208)),
        Table("JisX0212ToUnicode", "JIS0212.TXT", "JIS X 0212 to Unicode", jis0212),
        Table("UnicodeToJisX0212", "JIS0212.TXT", "Unicode to JIS X 0212", inverse_unique(jis0212)),
    ]
    return {t.name: t for t in tables}, shared


# --------------------------------------------------------------------------
# Checking the tables

# name: (first, last, rows present, mappings)
EXPECTED_TABLES = {
    "SjisToUnicode": (0x00, 0xFC, 46, 7915),
    "UnicodeToSjis": (0x00, 0xFF, 98, 7517),
    "JisX0201ToUnicode": (0x00, 0x00, 1, 158),
    "UnicodeToJisX0201": (0x00, 0xFF, 3, 158),
    "JisX0208ToUnicode": (0x21, 0x74, 77, 6879),
    "UnicodeToJisX0208": (0x00, 0xFF, 93, 6879),
    "JisX0212ToUnicode": (0x22, 0x6D, 68, 6067),
    "UnicodeToJisX0212": (0x00, 0x9F, 88, 6067),
}
EXPECTED_CELLS = 85615
EXPECTED_MAPPINGS = 41640
EXPECTED_ROWS = 474
EXPECTED_ROW_POINTERS = 1342


def byte_set(*ranges):
    return {b for lo, hi in ranges for b in range(lo, hi + 1)}


def code_set(first, last, excluded):
    """Two-byte codes first..last with trail bytes 0x40..0xFC, minus `excluded`."""
    return {
        c for c in range(first, last + 1) if 0x40 <= c & 0xFF <= 0xFC and c not in excluded
    }


# The parts of code page 932 and their codes.
SJIS_JIS_LEADS = byte_set((0x81, 0x84), (0x88, 0x9F), (0xE0, 0xEA))
SJIS_NEC13 = code_set(0x8740, 0x879C, {0x875E, *range(0x8776, 0x877E), 0x877F})
SJIS_NEC_IBM = code_set(0xED40, 0xEEFC, {0xED7F, 0xEE7F, 0xEEED, 0xEEEE})
SJIS_IBM = code_set(0xFA40, 0xFC4B, {0xFA7F, 0xFB7F})


def sjis_part(code):
    if code <= 0xFF:
        return "one-byte"
    if code >> 8 in SJIS_JIS_LEADS:
        return "JIS"
    if code in SJIS_NEC13:
        return "NEC13"
    if code in SJIS_NEC_IBM:
        return "NEC-IBM"
    if code in SJIS_IBM:
        return "IBM"
    return "other"


# Competing parts of the Unicode values with several Shift_JIS codes, and how
# many values have each combination.
EXPECTED_SHARED_GROUPS = {
    ("NEC-IBM", "IBM"): 373,
    ("NEC13", "IBM"): 13,
    ("JIS", "NEC13"): 8,
    ("JIS", "NEC13", "IBM"): 1,  # U+2235
    ("JIS", "NEC-IBM", "IBM"): 1,  # U+FFE2
}

NO_SJIS_MAPPING = [0x00A2, 0x00A3, 0x00A5, 0x00AC, 0x2016, 0x203E, 0x2212, 0x301C]


class Checker:
    def __init__(self):
        self.failures = []

    def equal(self, what, actual, expected, as_hex=False):
        """Counts print in decimal; index bytes, codes and lists of them in hex."""
        if actual != expected:
            self.failures.append(
                f"{what}: expected {fmt(expected, as_hex)}, found {fmt(actual, as_hex)}"
            )


def fmt(value, as_hex):
    if isinstance(value, bool) or not isinstance(value, (int, tuple, list)):
        return repr(value)
    if isinstance(value, int):
        return f"0x{value:X}" if as_hex else str(value)
    shown = ", ".join(f"0x{v:X}" for v in value[:16])
    more = f", ... ({len(value)} in all)" if len(value) > 16 else ""
    return f"[{shown}{more}]"


def check_tables(tables, shared, jis0208_sjis):
    c = Checker()
    for name, (first, last, rows, mappings) in EXPECTED_TABLES.items():
        t = tables[name]
        c.equal(f"{name} first index", t.first, first, True)
        c.equal(f"{name} last index", t.last, last, True)
        c.equal(f"{name} rows present", len(t.rows), rows)
        c.equal(f"{name} mappings", len(t.mapping), mappings)
        for hi, (lo_first, lo_last, values) in t.rows.items():
            if values[0] == NO_MAPPING or values[-1] == NO_MAPPING:
                c.failures.append(f"{name} row 0x{hi:02X} is not trimmed to its mappings")
        present = sum(v != NO_MAPPING for _, _, values in t.rows.values() for v in values)
        c.equal(f"{name} cells holding a mapping", present, len(t.mapping))

    all_tables = tables.values()
    c.equal("cells of all tables", sum(t.cell_count() for t in all_tables), EXPECTED_CELLS)
    c.equal("mappings of all tables", sum(len(t.mapping) for t in all_tables), EXPECTED_MAPPINGS)
    c.equal("rows of all tables", sum(len(t.rows) for t in all_tables), EXPECTED_ROWS)
    c.equal(
        "row pointers of all tables",
        sum(t.pointer_count() for t in all_tables),
        EXPECTED_ROW_POINTERS,
    )

    # Shift_JIS: the parts of code page 932 and the reverse table's winners.
    sjis = tables["SjisToUnicode"]
    parts = {}
    for code in sjis.mapping:
        parts.setdefault(sjis_part(code), set()).add(code)
    c.equal("SjisToUnicode one-byte codes", len(parts.get("one-byte", ())), 191)
    c.equal("SjisToUnicode JIS X 0208 codes", len(parts.get("JIS", ())), 6879)
    c.equal("SjisToUnicode NEC row 13 codes", parts.get("NEC13", set()) == SJIS_NEC13, True)
    c.equal(
        "SjisToUnicode NEC-selected IBM codes", parts.get("NEC-IBM", set()) == SJIS_NEC_IBM, True
    )
    c.equal("SjisToUnicode IBM extension codes", parts.get("IBM", set()) == SJIS_IBM, True)
    c.equal("SjisToUnicode codes outside the known parts", sorted(parts.get("other", ())), [])
    jis_part_codes = {code for code in sjis.mapping if sjis_part(code) == "JIS"}
    c.equal(
        "SjisToUnicode JIS X 0208 part matches JIS0208.TXT's Shift_JIS column",
        jis_part_codes == jis0208_sjis,
        True,
    )
    c.equal("SjisToUnicode row 0x00 span", sjis.span(0x00), (0x00, 0xDF))
    c.equal(
        "SjisToUnicode rows present",
        sorted(sjis.rows),
        sorted({0x00, 0x87, 0xED, 0xEE, 0xFA, 0xFB, 0xFC} | SJIS_JIS_LEADS),
    )

    c.equal("UnicodeToSjis values with several codes", len(shared), 396)
    c.equal("UnicodeToSjis losing codes", sum(len(codes) - 1 for codes in shared.values()), 398)
    groups = {}
    for codes in shared.values():
        key = tuple(sjis_part(code) for code in codes)
        groups[key] = groups.get(key, 0) + 1
    c.equal("UnicodeToSjis competing groups", groups, EXPECTED_SHARED_GROUPS)
    reverse = tables["UnicodeToSjis"].mapping
    # An IBM extension code wins wherever there is one, else the NEC row 13 code.
    wrong_winners = [
        u
        for u, codes in sorted(shared.items())
        if sjis_part(reverse[u]) != ("IBM" if "IBM" in map(sjis_part, codes) else "NEC13")
    ]
    c.equal("UnicodeToSjis values stored with the wrong part's code", wrong_winners, [])
    for unicode in NO_SJIS_MAPPING:
        c.equal(f"UnicodeToSjis has U+{unicode:04X}", unicode in reverse, False)
    c.equal(
        "UnicodeToSjis private use values",
        sorted(u for u in reverse if 0xE000 <= u <= 0xF8FF),
        [],
    )

    # JIS X 0201, JIS X 0208, JIS X 0212.
    c.equal("JisX0201ToUnicode row 0x00 span", tables["JisX0201ToUnicode"].span(0x00), (0x20, 0xDF))
    r0201 = tables["UnicodeToJisX0201"]
    c.equal("UnicodeToJisX0201 rows", sorted(r0201.rows), [0x00, 0x20, 0xFF])
    c.equal("UnicodeToJisX0201 row 0x00 span", r0201.span(0x00), (0x20, 0xA5))
    c.equal("UnicodeToJisX0201 row 0x20 span", r0201.span(0x20), (0x3E, 0x3E))
    c.equal("UnicodeToJisX0201 row 0xFF span", r0201.span(0xFF), (0x61, 0x9F))

    f0208 = tables["JisX0208ToUnicode"]
    c.equal("JisX0208ToUnicode null rows", null_rows(f0208), list(range(0x29, 0x30)))
    c.equal("JisX0208ToUnicode last mapping", max(f0208.mapping), 0x7426, True)

    f0212 = tables["JisX0212ToUnicode"]
    c.equal(
        "JisX0212ToUnicode null rows",
        null_rows(f0212),
        [0x23, 0x24, 0x25, 0x28, 0x2C, 0x2D, 0x2E, 0x2F],
    )
    c.equal("JisX0212ToUnicode first mapping", min(f0212.mapping), 0x222F, True)
    c.equal("JisX0212ToUnicode last mapping", max(f0212.mapping), 0x6D63, True)

    u0201 = set(r0201.mapping)
    u0208 = set(tables["UnicodeToJisX0208"].mapping)
    u0212 = set(tables["UnicodeToJisX0212"].mapping)
    common = sorted((u0201 & u0208) | (u0201 & u0212) | (u0208 & u0212))
    c.equal("Unicode values shared by the JIS X 0201/0208/0212 reverse tables", common, [])
    return c.failures


def null_rows(table):
    return [hi for hi in range(table.first, table.last + 1) if hi not in table.rows]


# --------------------------------------------------------------------------
# Writing the C++ sources

CELLS_PER_LINE = 8
POINTERS_PER_LINE = 8


def base_name(table_name):
    """SjisToUnicode -> sjis_to_unicode, UnicodeToJisX0208 -> unicode_to_jis_x0208."""
    words = re.findall(r"Jis|X\d+|[A-Z][a-z]*", table_name)
    return "_".join(w.lower() for w in words)


def preamble(table):
    return [
        f"// {table.title}: {len(table.mapping)} mappings from {table.source}.",
        "// Generated by tools/gen_tables.py from the mapping files; do not edit by hand.",
        "// Regenerate with: python3 tools/gen_tables.py <mapping-folder> japanese/tables",
        "// clang-format off",
    ]


def render_header(table):
    """The table's cells, rows and descriptor as inline constants, so that other
    sources can build derived constant tables from them at compile time, and
    the accessor that answers the descriptor."""
    out = preamble(table)
    emit = out.append
    emit("#pragma once")
    emit("")
    emit("#include \"japanese/code_table.h\"")
    emit("")
    emit(f"namespace mek::tables::{base_name(table.name)} {{")
    for hi, (lo_first, lo_last, values) in table.rows.items():
        emit("")
        emit(f"// Row 0x{hi:02X}: second index 0x{lo_first:02X}..0x{lo_last:02X}.")
        emit(f"inline constexpr std::uint16_t kCells{hi:02X}[] = {{")
        lo = lo_first
        while lo <= lo_last:
            end = min(lo_last + 1, (lo // CELLS_PER_LINE + 1) * CELLS_PER_LINE)
            line = values[lo - lo_first : end - lo_first]
            cells = " ".join(f"0x{v:04X}," for v in line)
            emit(f"    {cells}  // 0x{hi:02X}{lo:02X}")
            lo = end
        emit("};")
        span = f"0x{lo_first:02X}, 0x{lo_last:02X}"
        emit(f"inline constexpr CodeTableRow kRow{hi:02X}{{kCells{hi:02X}, {span}}};")
    emit("")
    emit(f"// Row pointers for first index 0x{table.first:02X}..0x{table.last:02X}.")
    emit("inline constexpr const CodeTableRow* kRows[] = {")
    for start in range(table.first, table.last + 1, POINTERS_PER_LINE):
        end = min(table.last + 1, start + POINTERS_PER_LINE)
        entries = " ".join(
            (f"&kRow{hi:02X}," if hi in table.rows else "nullptr,") for hi in range(start, end)
        )
        emit(f"    {entries}  // 0x{start:02X}")
    emit("};")
    emit("")
    emit(f"inline constexpr CodeTable kTable{{kRows, 0x{table.first:02X}, 0x{table.last:02X}}};")
    emit("")
    emit("// The rows present and their first index bytes, for walking the table at")
    emit("// compile time without testing row pointers for null (which is no constant")
    emit("// expression where null pointer checks are kept, as under sanitizers).")
    present = list(table.rows)
    emit("inline constexpr const CodeTableRow* kPresentRows[] = {")
    for start in range(0, len(present), POINTERS_PER_LINE):
        emit("    " + " ".join(f"&kRow{hi:02X}," for hi in present[start : start + POINTERS_PER_LINE]))
    emit("};")
    emit("inline constexpr std::uint8_t kPresentRowIndices[] = {")
    for start in range(0, len(present), POINTERS_PER_LINE):
        emit("    " + " ".join(f"0x{hi:02X}," for hi in present[start : start + POINTERS_PER_LINE]))
    emit("};")
    emit("")
    emit(f"}}  // namespace mek::tables::{base_name(table.name)}")
    emit("")
    emit("namespace mek {")
    emit("")
    emit("// The table's descriptor.")
    emit(f"inline const CodeTable& {table.name}() {{ return tables::{base_name(table.name)}::kTable; }}")
    emit("")
    emit("}  // namespace mek")
    return "\n".join(out) + "\n"


def write_tables(tables, folder):
    os.makedirs(folder, exist_ok=True)
    for table in tables.values():
        name = base_name(table.name)
        with open(os.path.join(folder, name + ".h"), "w", newline="\n") as f:
            f.write(render_header(table))


# --------------------------------------------------------------------------
# Reference vectors for the tests


def file_digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def write_vectors(folder, mappings_folder, source, name, title, forward, reverse_note):
    """Writes <name>.txt: every code of one mapping file and its value, then
    every value and the code an encoder writes for it, with the codes it does
    not write (the duplicates) after it. Hex, one mapping a line."""
    os.makedirs(folder, exist_ok=True)
    reverse = {}
    for code in sorted(forward):
        reverse.setdefault(forward[code], []).append(code)
    digest = file_digest(os.path.join(mappings_folder, source))
    lines = [
        f"# {title}: reference vectors written by tools/gen_tables.py; do not edit.",
        f"# sha256 {digest}  {source}",
        "# code value: every code of the file and the Unicode value it decodes to.",
        f"# value code [duplicates]: {reverse_note}",
        "forward",
    ]
    lines += [f"{code:04X} {forward[code]:04X}" for code in sorted(forward)]
    lines.append("reverse")
    for value in sorted(reverse):
        codes = reverse[value]
        written = max(codes)
        others = [c for c in codes if c != written]
        lines.append(" ".join([f"{value:04X}", f"{written:04X}"] + [f"{c:04X}" for c in others]))
    with open(os.path.join(folder, f"{name}.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def write_all_vectors(folder, mappings_folder, cp932, jis0208, jis0212, jis0201):
    highest = "where several codes share a value, the highest is written."
    unique = "every value has one code."
    write_vectors(folder, mappings_folder, "CP932.TXT", "sjis", "Shift_JIS (CP932.TXT)", cp932,
                  highest)
    write_vectors(folder, mappings_folder, "JIS0208.TXT", "jis_x0208", "JIS X 0208", jis0208, unique)
    write_vectors(folder, mappings_folder, "JIS0212.TXT", "jis_x0212", "JIS X 0212", jis0212, unique)
    write_vectors(folder, mappings_folder, "JIS0201.TXT", "jis_x0201", "JIS X 0201", jis0201, unique)


# --------------------------------------------------------------------------
# The Western single-byte codes that mojibake passes through

# name in the header, file, SHA-256 of the file (../shared/mappings/README.md),
# and the bytes 80..FF that have no character.
WESTERN_CODES = [
    ("Cp1252", "CP1252.gz",
     "a5d3365cbe100d2197d3a2d4be25e8bcc6e703c5677c66532f3230194b64cac3",
     [0x81, 0x8D, 0x8F, 0x90, 0x9D]),
    ("Cp437", "IBM437.gz",
     "e1d70439ebecf33612a6637139433db90c722fb112f542112566678da1b5eb90", []),
    ("Cp850", "IBM850.gz",
     "54156941392e1b117c53143b05d2ae59a6aeb0fa5fe8e8fa6308acf13ae6dc38", []),
]
WESTERN_LINE = re.compile(r"<U([0-9A-Fa-f]{4,8})>\s+/x([0-9A-Fa-f]{2})\s")


def read_western_code(folder, source, digest):
    """Answers byte -> Unicode for one single-byte character map (locales'
    layout: `<UXXXX> /xHH name`), after checking the file's SHA-256."""
    path = os.path.join(folder, source)
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise GenError(f"cannot read {path}: {e.strerror}")
    if hashlib.sha256(data).hexdigest() != digest:
        raise GenError(f"{source}: SHA-256 is not {digest}")
    import gzip
    mapping = {}
    for number, line in enumerate(gzip.decompress(data).decode("ascii").split("\n"), start=1):
        m = WESTERN_LINE.match(line + " ")
        if m is None:
            continue
        code, unicode = int(m.group(2), 16), int(m.group(1), 16)
        if code in mapping:
            raise GenError(f"{source}:{number}: byte 0x{code:02X} is mapped twice")
        if unicode >= NO_MAPPING:
            raise GenError(f"{source}:{number}: U+{unicode:X} is not a BMP mapping")
        mapping[code] = unicode
    return mapping


def western_tables(folder):
    """Answers (name, source, the 128 cells of bytes 80..FF) per code, checked:
    bytes 00..7F are ASCII, the listed bytes have no character, every other
    byte has one, and no two bytes share a character."""
    tables = []
    for name, source, digest, holes in WESTERN_CODES:
        mapping = read_western_code(folder, source, digest)
        for b in range(0x80):
            if mapping.get(b) != b:
                raise GenError(f"{source}: byte 0x{b:02X} is not ASCII")
        for b in range(0x80, 0x100):
            if (b in mapping) == (b in holes):
                raise GenError(f"{source}: byte 0x{b:02X} is {'' if b in mapping else 'not '}mapped")
        values = [mapping[b] for b in range(0x80, 0x100) if b in mapping]
        if len(set(values)) != len(values) or any(v < 0x80 for v in values):
            raise GenError(f"{source}: a character above ASCII has two bytes or is ASCII")
        tables.append((name, source, [mapping.get(b, NO_MAPPING) for b in range(0x80, 0x100)]))
    return tables


def render_western_header(tables):
    out = [
        "// The Western single-byte codes that mojibake of Japanese text passes",
        "// through: the characters of bytes 0x80..0xFF (0x00..0x7F are ASCII in",
        "// each), kNoMapping where a byte has none.",
        "// Generated by tools/gen_tables.py from the mapping files; do not edit by hand.",
        "// Regenerate with: python3 tools/gen_tables.py <mapping-folder> japanese/tables",
        "// clang-format off",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "namespace mek::tables {",
    ]
    for name, source, cells in tables:
        out.append("")
        out.append(f"// From {source}.")
        out.append(f"inline constexpr std::uint16_t k{name}High[128] = {{")
        for row in range(0, 128, 8):
            values = ", ".join(f"0x{v:04X}" for v in cells[row:row + 8])
            out.append(f"    {values},  // 0x{0x80 + row:02X}")
        out.append("};")
    out.append("")
    out.append("}  // namespace mek::tables")
    return "\n".join(out) + "\n"


def write_western_header(tables, path):
    with open(path, "w", newline="\n") as f:
        f.write(render_western_header(tables))


# --------------------------------------------------------------------------
# The codes beyond the 16-bit tables: JIS X 0213 (Shift_JIS-2004,
# EUC-JIS-2004, ISO-2022-JP-2004), eucJP-ms and CP51932
#
# Their cells may hold characters beyond U+FFFF (U+20B9F) and codes that stand
# for two characters (a kana and U+309A), which 16-bit cells cannot, so they get
# a table form of their own (japanese/wide_table.h): per set, 94 x 94 cells of
# char32_t by row and cell, where a cell from kPairBase up names one of the
# table's pairs. Set 1 is the two-byte set (JIS X 0213 plane 1, JIS X 0208 and
# its extensions); set 2 is the set after SS3 (plane 2, JIS X 0212).

NO_WIDE = 0xFFFFFFFF
PAIR_BASE = 0x110000
CHARMAP_LINE = re.compile(r"(%IRREVERSIBLE%|%)?((?:<U[0-9A-Fa-f]+>)+)\s+((?:/x[0-9A-Fa-f]{2})+)\s")

# The published maps and the SHA-256 they must have (../shared/mappings/README.md).
CHARMAP_SUMS = {
    "SHIFT_JISX0213.gz": "29afd89a995921f9bb5896e853cafb22c4d49c8623049f301dc1e8a73b2b2603",
    "EUC-JISX0213.gz": "6b987b4fab80f45b87d55233ed438073e348daf45de807ed3ff77f09a901302f",
    "EUC-JP-MS.gz": "09fd4dbfecbad20bef01746e80aaf00202a58e611e1cce3567ac392e6039eb42",
}


def read_charmap(folder, name):
    """Answers (mappings, digest) of one gzip character map: mappings are
    (bytes, characters, reversible) in file order. A line commented out with
    `%` that maps a code to two characters is a real mapping (the 25 kana and
    letters with a combining mark); `%IRREVERSIBLE%` marks a code that decodes
    but is never written."""
    path = os.path.join(folder, name)
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise GenError(f"cannot read {path}: {e.strerror}")
    digest = hashlib.sha256(raw).hexdigest()
    if digest != CHARMAP_SUMS[name]:
        raise GenError(f"{name}: sha256 {digest}, expected {CHARMAP_SUMS[name]}")
    mappings = []
    for number, line in enumerate(gzip.decompress(raw).decode("latin-1").split("\n"), start=1):
        m = CHARMAP_LINE.match(line + " ")
        if m is None:
            continue
        chars = tuple(int(u, 16) for u in re.findall(r"<U([0-9A-Fa-f]+)>", m.group(2)))
        code = bytes(int(b, 16) for b in re.findall(r"/x([0-9A-Fa-f]{2})", m.group(3)))
        if m.group(1) == "%" and len(chars) != 2:
            continue  # a comment that happens to look like a mapping
        if len(chars) > 2:
            raise GenError(f"{name}:{number}: more than two characters")
        mappings.append((code, chars, m.group(1) != "%IRREVERSIBLE%"))
    return mappings, digest


class WideTable:
    """The two 94 x 94 sets of one code, its pairs, its characters beyond the
    BMP and the codes that decode but are never written."""

    def __init__(self, name, title, source, digest):
        self.name = name
        self.title = title
        self.source = source
        self.digest = digest
        self.sets = [[NO_WIDE] * (94 * 94), [NO_WIDE] * (94 * 94)]
        self.pairs = []
        self.decode_only = set()  # (set, row, cell)
        self.count = 0

    def put(self, where, chars, reversible, origin):
        s, row, cell = where
        index = (row - 0x21) * 94 + (cell - 0x21)
        if self.sets[s][index] != NO_WIDE:
            raise GenError(f"{origin}: set {s + 1} {row:02X}{cell:02X} is mapped twice")
        if len(chars) == 2:
            self.sets[s][index] = PAIR_BASE + len(self.pairs)
            self.pairs.append(chars)
        else:
            self.sets[s][index] = chars[0]
        if not reversible:
            self.decode_only.add(where)
        self.count += 1

    def mappings(self):
        """(set, row, cell, characters) of every cell, in code order."""
        for s in (0, 1):
            for index, value in enumerate(self.sets[s]):
                if value == NO_WIDE:
                    continue
                chars = self.pairs[value - PAIR_BASE] if value >= PAIR_BASE else (value,)
                yield s, 0x21 + index // 94, 0x21 + index % 94, chars

    def written(self):
        """Characters to the code written for them; several codes for one
        character must be settled by decode_only beforehand."""
        reverse = {}
        for s, row, cell, chars in self.mappings():
            if (s, row, cell) in self.decode_only:
                continue
            if chars in reverse:
                raise GenError(f"{self.name}: {chars} has two codes that are written")
            reverse[chars] = (s, row, cell)
        return reverse


def euc_place(code, origin):
    """(set, row, cell) of a two- or three-byte EUC code."""
    if len(code) == 2 and 0xA1 <= code[0] <= 0xFE and 0xA1 <= code[1] <= 0xFE:
        return 0, code[0] - 0x80, code[1] - 0x80
    if len(code) == 3 and code[0] == 0x8F and 0xA1 <= code[1] <= 0xFE and 0xA1 <= code[2] <= 0xFE:
        return 1, code[1] - 0x80, code[2] - 0x80
    raise GenError(f"{origin}: {code.hex()} is no two-set EUC code")


# Plane 2 rows of Shift_JIS-2004 lead bytes F0..F4, two rows a lead byte.
SJIS2004_PLANE2_ROWS = {0xF0: (1, 8), 0xF1: (3, 4), 0xF2: (5, 12), 0xF3: (13, 14), 0xF4: (15, 78)}


def sjis2004_place(code):
    """(set, row, cell) of a two-byte Shift_JIS-2004 code."""
    lead, trail = code
    if trail < 0x40 or trail > 0xFC or trail == 0x7F:
        raise GenError(f"{code.hex()}: bad trail byte")
    second = trail >= 0x9F
    cell = trail - 0x9E if second else trail - 0x3F - (trail >= 0x80)
    if lead <= 0x9F:
        row = (lead - 0x81) * 2 + 1 + second
        return 0, row + 0x20, cell + 0x20
    if lead <= 0xEF:
        row = (lead - 0xC1) * 2 + 1 + second
        return 0, row + 0x20, cell + 0x20
    if lead <= 0xF4:
        row = SJIS2004_PLANE2_ROWS[lead][second]
        return 1, row + 0x20, cell + 0x20
    row = (lead - 0xF5) * 2 + 79 + second
    return 1, row + 0x20, cell + 0x20


def sjis_to_jis_row_cell(code):
    """JIS row and cell (1-based) of a two-byte Shift_JIS code, rows past 94
    included (code page 932's user-defined and IBM rows)."""
    lead, trail = code >> 8, code & 0xFF
    second = trail >= 0x9F
    cell = trail - 0x9E if second else trail - 0x3F - (trail >= 0x80)
    pair = lead - 0x81 if lead <= 0x9F else lead - 0xC1
    return pair * 2 + 1 + second, cell


def build_jis_x0213(folder):
    euc, euc_digest = read_charmap(folder, "EUC-JISX0213.gz")
    sjis, sjis_digest = read_charmap(folder, "SHIFT_JISX0213.gz")
    table = WideTable("jis_x0213", "JIS X 0213:2004 planes 1 and 2", "EUC-JISX0213.gz", euc_digest)
    singles = {}
    for code, chars, reversible in euc:
        if len(code) == 1:
            singles[code[0]] = chars
        elif code[0] == 0x8E:
            singles[code[1]] = chars
        else:
            table.put(euc_place(code, "EUC-JISX0213.gz"), chars, reversible, "EUC-JISX0213.gz")
    sjis_two = {}
    sjis_singles = {}
    for code, chars, _ in sjis:
        if len(code) == 1:
            sjis_singles[code[0]] = chars
        else:
            sjis_two[sjis2004_place(code)] = chars
    return table, singles, sjis_two, sjis_singles, sjis_digest


def build_eucjp_ms(folder):
    mappings, digest = read_charmap(folder, "EUC-JP-MS.gz")
    table = WideTable("eucjp_ms", "eucJP-ms", "EUC-JP-MS.gz", digest)
    singles = {}
    for code, chars, reversible in mappings:
        if len(code) == 1:
            singles[code[0]] = chars
        elif code[0] == 0x8E:
            singles[code[1]] = chars
        else:
            table.put(euc_place(code, "EUC-JP-MS.gz"), chars, reversible, "EUC-JP-MS.gz")
    return table, singles


def build_cp51932(cp932, folder):
    """CP51932 from CP932.TXT: the EUC form of code page 932's rows that EUC
    can carry. Rows 1..94 of the two-byte codes (lead bytes 81..9F and
    E0..EF) are JIS rows: JIS X 0208, NEC row 13 (87xx, EUC ADxx) and the
    NEC-selected IBM extensions in rows 89..92 (EDxx..EExx, EUC F9xx..FCxx),
    each at EUC row + 0xA0, cell + 0xA0. The IBM extensions (FAxx..FCxx, rows
    115..120) have no EUC form: Windows writes each of them at its NEC or
    JIS X 0208 code, which every one of them has. The user-defined area
    (F0xx..F9xx) is left out. Where a character has several codes, the lowest
    EUC code is written: JIS X 0208 before NEC row 13 before the NEC-selected
    rows. Single bytes: ASCII, and the half-width katakana after SS2."""
    table = WideTable("cp51932", "CP51932 (code page 932 in EUC form)", "CP932.TXT",
                      file_digest(os.path.join(folder, "CP932.TXT")))
    singles = {}
    placed = {}
    ibm_only = []
    for code in sorted(cp932):
        u = cp932[code]
        if code <= 0xFF:
            singles[code] = (u,)
            continue
        if code >> 8 in range(0xF0, 0xFA):
            continue
        row, cell = sjis_to_jis_row_cell(code)
        if row > 94:
            ibm_only.append(u)
            continue
        where = (0, row + 0x20, cell + 0x20)
        placed.setdefault(u, []).append(where)
        table.put(where, (u,), True, f"CP932.TXT {code:04X}")
    for u, places in placed.items():
        for where in sorted(places)[1:]:
            table.decode_only.add(where)
    missing = sorted(u for u in ibm_only if u not in placed)
    if missing:
        raise GenError(f"CP932.TXT IBM extensions without an EUC code: {missing}")
    return table, singles


def check_wide(jis, singles, sjis_two, sjis_singles, ms, ms_singles, cp, cp_singles):
    c = Checker()
    kana = {b: (0xFF61 + b - 0xA1,) for b in range(0xA1, 0xE0)}
    ascii_ = {b: (b,) for b in range(0x80)}
    c.equal("EUC-JISX0213 single bytes and SS2 are ASCII and the half-width katakana",
            singles == {**ascii_, **kana}, True)
    c1 = {b: (b,) for b in range(0x80, 0xA0) if b not in (0x8E, 0x8F)}
    c.equal("EUC-JP-MS single bytes and SS2 are ASCII, C1 controls and the half-width katakana",
            ms_singles == {**ascii_, **c1, **kana}, True)
    c.equal("CP932.TXT single bytes are ASCII and the half-width katakana",
            cp_singles == {**ascii_, **{b: kana[b] for b in kana}}, True)
    expected_sjis = {**ascii_, 0x5C: (0xA5,), 0x7E: (0x203E,), **kana}
    c.equal("SHIFT_JISX0213 single bytes: ASCII but 5C and 7E, and katakana",
            sjis_singles == expected_sjis, True)
    two = {(s, r, cl): chars for s, r, cl, chars in jis.mappings()}
    c.equal("SHIFT_JISX0213 and EUC-JISX0213 map the same JIS X 0213 codes", sjis_two == two, True)
    c.equal("JIS X 0213 mappings", jis.count, 11233)
    c.equal("JIS X 0213 plane 2 mappings", sum(1 for m in jis.mappings() if m[0] == 1), 2436)
    c.equal("JIS X 0213 two-character codes", len(jis.pairs), 25)
    c.equal("JIS X 0213 characters beyond U+FFFF",
            sum(1 for m in jis.mappings() if m[3][0] > 0xFFFF), 303)
    c.equal("JIS X 0213 decode-only codes", len(jis.decode_only), 0)
    c.equal("eucJP-ms two-byte mappings", ms.count - sum(1 for m in ms.mappings() if m[0] == 1), 7902)
    c.equal("eucJP-ms three-byte mappings", sum(1 for m in ms.mappings() if m[0] == 1), 7113)
    c.equal("eucJP-ms decode-only codes", len(ms.decode_only), 24)
    # Code page 932's two-byte codes but the 388 IBM extensions.
    c.equal("CP51932 two-byte mappings", cp.count, 7724 - 388)
    # Nine NEC row 13 codes that JIS X 0208 holds too, and U+FFE2 at FCFB.
    c.equal("CP51932 decode-only codes", len(cp.decode_only), 10)
    for t in (jis, ms, cp):
        try:
            t.written()
        except GenError as e:
            c.failures.append(str(e))
    return c.failures


def render_wide_header(table):
    out = [
        f"// {table.title}: {table.count} mappings from {table.source}",
        f"// (sha256 {table.digest}).",
        "// Generated by tools/gen_tables.py from the mapping files; do not edit by hand.",
        "// Regenerate with: python3 tools/gen_tables.py <mapping-folder> japanese/tables",
        "// clang-format off",
        "#pragma once",
        "",
        '#include "japanese/wide_table.h"',
        "",
        f"namespace mek::tables::{table.name} {{",
    ]
    for s in (0, 1):
        out.append("")
        out.append(f"// Set {s + 1}: row 0x21..0x7E, cell 0x21..0x7E.")
        out.append(f"inline constexpr char32_t kSet{s + 1}[] = {{")
        cells = table.sets[s]
        for index in range(0, len(cells), 8):
            line = " ".join(f"0x{v:05X}," if v != NO_WIDE else "kNoWide," for v in cells[index:index + 8])
            out.append(f"    {line}  // {0x21 + index // 94:02X}{0x21 + index % 94:02X}")
        out.append("};")
    out.append("")
    out.append("// The two characters of cell kPairBase + i.")
    if table.pairs:
        out.append("inline constexpr WidePair kPairs[] = {")
        for base, mark in table.pairs:
            out.append(f"    {{0x{base:04X}, 0x{mark:04X}}},")
        out.append("};")
    else:
        out.append("inline constexpr WidePair kPairs[] = {{0, 0}};  // none")
    out.append("")
    out.append("// Codes that decode but are never written, as set << 16 | row << 8 | cell:")
    out.append("// another code of the same character is.")
    out.append("inline constexpr std::uint32_t kDecodeOnly[] = {")
    only = sorted(s << 16 | r << 8 | cl for s, r, cl in table.decode_only)
    for index in range(0, len(only), 8):
        out.append("    " + " ".join(f"0x{v:05X}," for v in only[index:index + 8]))
    if not only:
        out.append("    0xFFFFFFFF,  // none")
    out.append("};")
    out.append("")
    out.append(f"}}  // namespace mek::tables::{table.name}")
    return "\n".join(out) + "\n"


def form_bytes(code_form, s, row, cell):
    if code_form == "sjis":
        if s == 0:
            r = row - 0x20
            lead = (r + 257) >> 1 if r <= 62 else (r + 385) >> 1
        else:
            r = row - 0x20
            lead = next((l for l, rows in SJIS2004_PLANE2_ROWS.items() if r in rows), None)
            if lead is None:
                lead = (r + 411) >> 1
        cl = cell - 0x20
        if r % 2 == 1:
            trail = cl + 0x3F + (cl >= 64)
        else:
            trail = cl + 0x9E
        return bytes([lead, trail])
    if s == 0:
        return bytes([row | 0x80, cell | 0x80])
    return bytes([0x8F, row | 0x80, cell | 0x80])


def write_wide_vectors(folder, name, title, table, code_form, singles, notes):
    """Writes <name>.txt: every code and the characters it decodes to, and
    whether the encoder writes it back (r) or only reads it (d)."""
    lines = [
        f"# {title}: reference vectors written by tools/gen_tables.py; do not edit.",
        f"# sha256 {table.digest}  {table.source}",
        "# code characters r|d: every code, the characters it decodes to, and whether",
        "# the characters are written back as this code (r) or as another (d).",
    ] + [f"# {note}" for note in notes]
    rows = []
    for b, chars in sorted(singles.items()):
        # Half-width katakana follow SS2 in the EUC form; C1 controls stand alone.
        code = bytes([b]) if b < 0xA1 or code_form == "sjis" else bytes([0x8E, b])
        rows.append((code, chars, "r"))
    for s, row, cell, chars in table.mappings():
        code = form_bytes(code_form, s, row, cell)
        rows.append((code, chars, "d" if (s, row, cell) in table.decode_only else "r"))
    rows.sort(key=lambda r: (len(r[0]), r[0]))
    for code, chars, mark in rows:
        lines.append(f"{code.hex().upper()} {'+'.join(f'{u:04X}' for u in chars)} {mark}")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, f"{name}.txt"), "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


def build_wide(folder, cp932):
    jis, singles, sjis_two, sjis_singles, sjis_digest = build_jis_x0213(folder)
    ms, ms_singles = build_eucjp_ms(folder)
    cp, cp_singles = build_cp51932(cp932, folder)
    failures = check_wide(jis, singles, sjis_two, sjis_singles, ms, ms_singles, cp, cp_singles)
    return (jis, singles, sjis_digest, ms, ms_singles, cp, cp_singles), failures


def write_wide(wide, output, vectors):
    jis, singles, sjis_digest, ms, ms_singles, cp, cp_singles = wide
    for table in (jis, ms, cp):
        with open(os.path.join(output, table.name + ".h"), "w", newline="\n") as f:
            f.write(render_wide_header(table))
    if vectors is None:
        return
    sjis_singles = dict(singles)
    write_wide_vectors(vectors, "sjis2004", "Shift_JIS-2004", jis, "sjis", sjis_singles, [
        f"also SHIFT_JISX0213.gz (sha256 {sjis_digest}), whose two-byte codes are the same;",
        "5C and 7E are ASCII here, where SHIFT_JISX0213.gz reads U+00A5 and U+203E.",
    ])
    write_wide_vectors(vectors, "eucjis2004", "EUC-JIS-2004", jis, "euc", singles, [])
    write_wide_vectors(vectors, "eucjpms", "eucJP-ms", ms, "euc", ms_singles, [])
    write_wide_vectors(vectors, "cp51932", "CP51932", cp, "euc", cp_singles, [])


# --------------------------------------------------------------------------


def main(argv):
    if len(argv) not in (3, 4):
        print(
            "usage: python3 tools/gen_tables.py <mapping-folder> <output-folder> [vector-folder]",
            file=sys.stderr,
        )
        return 2
    folder, output = argv[1], argv[2]
    vectors = argv[3] if len(argv) == 4 else None
    try:
        cp932, jis0208, jis0212, jis0201, jis0208_sjis = read_mappings(folder)
        tables, shared = build_tables(cp932, jis0208, jis0212, jis0201)
        wide, wide_failures = build_wide(folder, cp932)
        western = western_tables(folder)
    except GenError as e:
        print(f"gen_tables.py: error: {e}", file=sys.stderr)
        return 1
    failures = check_tables(tables, shared, jis0208_sjis) + wide_failures
    if failures:
        print(f"gen_tables.py: {len(failures)} check(s) failed; nothing written:", file=sys.stderr)
        for failure in failures:
            print(f"  {failure}", file=sys.stderr)
        return 1
    write_tables(tables, output)
    write_wide(wide, output, vectors)
    write_western_header(western, os.path.join(output, "western_codes.h"))
    if vectors is not None:
        write_all_vectors(vectors, folder, cp932, jis0208, jis0212, jis0201)
        print(f"gen_tables.py: wrote reference vectors to {vectors}")
    cells = sum(t.cell_count() for t in tables.values())
    print(f"gen_tables.py: wrote {len(tables)} tables ({cells} cells) to {output}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
