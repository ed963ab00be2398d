"""The module against the command line, its errors, codecs, streams and files."""

import codecs
import glob
import os
import subprocess

import pytest

import mek

TOOL = os.environ.get("MEK_EXECUTABLE", "build/mek")
EXAMPLES = sorted(glob.glob(os.path.join(os.environ.get("MEK_SOURCE_DIR", "."), "examples/*.txt")))
OUTPUTS = ["utf8", "sjis", "euc_jp", "jis", "utf16_le_bom", "utf32_be", "cp932", "iso2022jp"]


def tool(*args, data=None):
    return subprocess.run([TOOL, *args], input=data, capture_output=True, check=True).stdout


def read(path):
    with open(path, "rb") as f:
        return f.read()


@pytest.mark.parametrize("path", EXAMPLES, ids=os.path.basename)
def test_like_the_command_line(path):
    data = read(path)
    code, eol = tool("--guess", path).decode().split()[-2:]
    assert mek.guess(data) == (code, eol)
    assert mek.detect(data) == code
    assert mek.decode(data) == tool(path, "-outf8").decode()
    for to in OUTPUTS:
        expected = tool(path, "-o" + to)
        assert mek.convert(data, to, eol="lf") == expected, to
        # Any buffer, without a copy, and the named source.
        assert mek.convert(memoryview(bytearray(data)), to, source=code, eol="lf") == expected
        # In pieces of any size, the code detected on the first ones.
        stream = mek.Stream(to, eol="lf", detect_size=64)
        assert b"".join(stream.convert(data[i:i + 7] for i in range(0, len(data), 7))) == expected
    assert mek.encode(mek.decode(data), code) == data


# (call, exception, kind, offset, line, column, bytes, character)
ERRORS = [
    (lambda: mek.decode(b"ab\n\x82", "sjis"), UnicodeDecodeError, "malformed", 3, 2, 1, b"\x82", None),
    (lambda: mek.convert(b"a\r\n\xa4\xa2\xff", "utf8", source="euc-jp"), UnicodeDecodeError,
     "malformed", 5, 2, 2, b"\xff", None),
    (lambda: mek.encode("a\n\u65e5\u2603x", "sjis"), UnicodeEncodeError, "unmapped", 5, 2, 2,
     b"\xe2\x98\x83", "\u2603"),
    (lambda: mek.convert("\u2603".encode("utf-16-le"), "jis", source="UTF-16LE"),
     UnicodeEncodeError, "unmapped", 0, 1, 1, b"\x03\x26", "\u2603"),
    (lambda: b"".join(mek.Stream("utf8", source="sjis").convert([b"\x82\xa0\x82", b"\n"])),
     UnicodeDecodeError, "malformed", 2, 1, 2, b"\x82", None),
]


@pytest.mark.parametrize("call, kind_of, kind, offset, line, column, raw, character", ERRORS)
def test_errors_with_positions(call, kind_of, kind, offset, line, column, raw, character):
    with pytest.raises(kind_of) as caught:
        call()
    error = caught.value
    assert isinstance(error, mek.ConversionError)
    assert (error.kind, error.offset, error.line, error.column) == (kind, offset, line, column)
    assert (error.bytes, error.character) == (raw, character)
    assert f"byte {offset} (line {line}, column {column})" in str(error)
    if kind_of is UnicodeEncodeError and error.object:
        assert error.object[error.start] == character  # start counts characters


def test_policies_and_check():
    bad = "日本\u2603".encode("utf-8") + b"\n\xff"
    assert mek.convert(bad, "sjis", source="utf8", errors="replace", replacement="〓") == \
        "日本〓\n〓".encode("cp932")
    assert mek.convert(bad, "sjis", source="utf8", errors="skip") == "日本\n".encode("cp932")
    assert mek.convert(bad, "sjis", source="utf8", errors="html") == b"\x93\xfa\x96{&#9731;\n&#65533;"
    assert mek.convert("ｶﾞＡ".encode("cp932"), "utf8", folds=["wide_kana", "narrow_ascii"],
                       source="cp932") == "ガA".encode()
    assert mek.check(bad, "utf8", "sjis") == [
        mek.Problem("unmapped", 6, 1, 3, b"\xe2\x98\x83", "\u2603"),
        mek.Problem("malformed", 10, 2, 1, b"\xff", None)]
    # LF by default, as the command line and the C++ library write.
    assert mek.convert(b"a\r\nb\rc\n", "utf8") == b"a\nb\nc\n"
    assert mek.convert(b"a\r\nb\rc\n", "utf8", eol="keep") == b"a\r\nb\rc\n"
    assert mek.convert(b"a\r\nb\rc\n", "utf8", eol="crlf") == b"a\r\nb\r\nc\r\n"
    assert mek.guess("a\r\n日\n".encode()) == ("utf8", "MIXED")
    assert mek.detect(b"\x80\xff\x81" * 3) is None
    for call in (lambda: mek.convert(b"", "nonsense"), lambda: mek.decode(b"", "utf-99"),
                 lambda: mek.convert(b"", "auto"), lambda: codecs.lookup("mek-nonsense"),
                 lambda: "a".encode("mek-sjis", "no-such-handler")):
        with pytest.raises(LookupError):
            call()


# (codec, text): every codec round-trips its text, whole and incrementally.
CODECS = [("sjis", "日本語ｶﾅ\r\n"), ("cp932", "①髙﨑\n"), ("euc-jp", "漢字かな\n"),
          ("jis", "ABC日本ｶﾅxyz\n"), ("iso-2022-jp", "メール\n"), ("utf16le", "𠮷野家\n"),
          ("UTF-32BE-BOM", "全角\n"), ("utf8", "ok\n"), ("Shift_JIS-2004", "齟齬セ゚ㇷ゚𠮟る\\\n"),
          ("euc-jis-2004", "か゚と𠂉と﨑の字\n"), ("iso-2022-jp-2004", "あ𠮟セ゚ｶ\n"), ("eucJP-ms", "①纊\n"),
          ("cp51932", "①ⅰ㈱\n")]


@pytest.mark.parametrize("name, text", CODECS)
def test_codecs_round_trip(name, text, tmp_path):
    mek.register()
    codec = "mek-" + name
    data = text.encode(codec)
    assert data == mek.encode(text, name, eol="keep")
    assert data.decode(codec) == text
    decoder, encoder = codecs.getincrementaldecoder(codec)(), codecs.getincrementalencoder(codec)()
    assert "".join(decoder.decode(data[i:i + 1]) for i in range(len(data))) + \
        decoder.decode(b"", final=True) == text
    assert b"".join(encoder.encode(c) for c in text) + encoder.encode("", final=True) == data
    # mek-auto detects after 64 KiB (or at the end) and then streams.
    path = tmp_path / "text"
    path.write_bytes(data * (70000 // len(data) + 1) if name != "utf16le" else data)
    with open(path, encoding="mek-auto", newline="") as f:
        assert f.read() == mek.decode(path.read_bytes(), eol="keep")


def test_codec_errors():
    mek.register()
    assert b"a\x82".decode("mek-sjis", errors="replace") == "a\ufffd"
    assert b"a\xffb".decode("mek-sjis", errors="ignore") == "ab"
    assert "a\u2603".encode("mek-sjis", "xmlcharrefreplace") == b"a&#9731;"
    # The library's names work in the codecs, and Python's in the library.
    assert b"a\xffb".decode("mek-sjis", errors="skip") == mek.decode(b"a\xffb", "sjis",
                                                                      errors="ignore") == "ab"
    # Registered handlers are called where the codecs cannot go on, with
    # byte-order marks and shift states written as once.
    assert "a\u2603b\U0001F600".encode("mek-utf16_le_bom", "backslashreplace") == \
        "a\u2603b\U0001F600".encode("utf-16")
    assert "日\u2603本\udcff".encode("mek-jis", "backslashreplace") == \
        "日\\u2603本\\udcff".encode("iso2022_jp")
    assert b"\x93\xfa\xff\x96{\x82".decode("mek-sjis", "surrogateescape") == \
        "日\udcff本\udc82"
    assert "日\udcff".encode("mek-sjis", "surrogateescape") == b"\x93\xfa\xff"
    with pytest.raises(LookupError, match="incremental codecs take errors strict"):
        codecs.getincrementaldecoder("mek-sjis")("backslashreplace").decode(b"a")
    with pytest.raises(UnicodeDecodeError):
        b"a\x82".decode("mek-sjis")
    with pytest.raises(LookupError):
        "a".encode("mek-auto")


# One stray byte in UTF-8, Shift_JIS and EUC-JP text (padded to an even
# length, which UTF-16 would read): no code reads it, and every way in says
# so as the tool does, with the code it nearly is and the first bad place.
@pytest.mark.parametrize("codec, near", [("utf-8", "utf8"), ("cp932", "sjis"), ("euc-jp", "euc_jp")])
def test_undetectable_text_is_refused(codec, near, tmp_path):
    data = "abc 日本語のテキスト\nです。\n".encode(codec)
    at = len("abc 日".encode(codec))
    data = data[:at] + b"\xff" + data[at:] + b" " * (len(data) % 2 == 0)
    path = tmp_path / "f.txt"
    path.write_bytes(data)
    told = subprocess.run([TOOL, str(path), "-outf8"], capture_output=True)
    assert told.returncode == 1 and told.stdout == b""
    message = told.stderr.decode().replace(f" in '{path}'", "").strip()
    assert message.startswith(f"cannot detect the input code: it reads as {near} except at byte "
                              f"{at} (line 1, column 6): invalid {near} bytes FF")
    for call in (lambda: mek.decode(data), lambda: mek.convert(data, "sjis")):
        with pytest.raises(mek.DecodeError) as raised:
            call()
        assert str(raised.value) == message and raised.value.kind == "undetected"
    assert mek.detect(data) is None and mek.guess(data) is None
    [problem] = mek.check(data)
    assert problem.kind == "undetected" and problem.offset == at and problem.bytes[0] == 0xFF
    assert str(problem) == message and problem.near == near
    with pytest.raises(mek.DecodeError) as raised:
        mek.open(path).read()
    assert str(raised.value) == message


def test_open_reads_as_text(tmp_path):
    path = tmp_path / "ledger.csv"
    rows = "名前,金額\r\n" + "山田,100\r\nｶﾀｶﾅ,200\r\n" * 5000
    path.write_bytes(rows.encode("cp932"))
    with mek.open(path) as f:
        assert f.read() == rows.replace("\r\n", "\n")
    with mek.open(path, newline="", buffering=1000) as f:
        assert f.readline() == "名前,金額\r\n" and f.read() == rows[len("名前,金額\r\n"):]
    path.write_bytes(b"ok\n" + b"\xff")
    with pytest.raises(UnicodeDecodeError), mek.open(path, source="sjis") as f:
        f.read()
    pd = pytest.importorskip("pandas")
    path.write_bytes(rows.encode("euc-jp"))
    # Three half-width letters again and again (ｶﾀｶﾅ) are the known weakness
    # of the scores: their EUC-JP bytes read as Shift_JIS kanji.
    frame = pd.read_csv(mek.open(path, detection="first"))
    assert list(frame.columns) == ["名前", "金額"] and frame["金額"].sum() == 300 * 5000
    assert frame["名前"][1] == "ｶﾀｶﾅ"


# Arguments the C++ layer would misread are refused in Python's own words:
# a replacement the tool refuses, NUL or surrogates in names and paths, a
# limit that is no number.
def test_arguments_are_checked(tmp_path):
    for replacement, to in (("\ud800", "utf8"), ("😀", "sjis"), ("\x1b", "iso2022jp"),
                            ("\0", "utf8"), ("ab", "utf8")):
        with pytest.raises(ValueError):
            mek.convert(b"a\xff", to, source="utf8", errors="replace", replacement=replacement)
    assert mek.convert(b"a\xff", "sjis", source="utf8", errors="replace",
                       replacement="〓") == "a〓".encode("cp932")
    for name in ("utf8\x00junk", "utf\udc808"):
        with pytest.raises(ValueError):
            mek.convert(b"a", name)
    with pytest.raises(TypeError, match="a code name must be a str"):
        mek.convert(b"a", 8)
    with pytest.raises(ValueError):
        mek._mek.write_file(str(tmp_path / "a\x00b"), b"x")
    assert not os.listdir(tmp_path)
    with pytest.raises(TypeError, match="limit must be an int"):
        mek.check(b"a", "utf8", limit="10")
    with pytest.raises(ValueError):
        mek.check(b"a", "utf8", limit=-1)


# One Stream fed from several threads at once: the calls take turns.
def test_a_stream_shared_by_threads():
    import threading
    stream = mek.Stream("sjis", source="utf8")
    outputs = []

    def work():
        for _ in range(300):
            outputs.append(stream.feed("日本\n".encode()) + stream.flush())

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert b"".join(outputs) + stream.finish() == "日本\n".encode("cp932") * 1200


# repair(): the text with its mojibake lines taken back, and the stretches,
# counted in characters of the text given; a lost character is U+FFFD.
def test_repair():
    text, repairs = mek.repair("ok\n縺薙ｓ縺ｫ縺｡縺ｯ縲∽ｸ也阜縲\nCafé")
    assert text == "ok\nこんにちは、世界\ufffd\nCafé"
    assert repairs == [mek.Repair("utf8 read as cp932", 3, 18, 2, 1)]
    assert mek.repair("Ærø") == ("Ærø", [])
    # repair=True does it inside a conversion; the lost character is
    # malformed input under the error policy.
    broken = "ok\r\n‚±‚ñ‚É‚¿‚Í\r\n縺薙ｓ縺ｫ縺｡縺ｯ縲∽ｸ也阜縲".encode()
    assert mek.decode(broken, "utf8", eol="keep", errors="replace", repair=True) == \
        "ok\r\nこんにちは\r\nこんにちは、世界\ufffd"
    assert mek.convert(broken, "sjis", source="utf8", errors="skip", repair=True) == \
        "ok\nこんにちは\nこんにちは、世界".encode("cp932")
    with pytest.raises(mek.DecodeError):
        mek.decode(broken, "utf8", repair=True)
    assert mek.decode(broken, "utf8", eol="keep") == broken.decode()
    with pytest.raises(TypeError):
        mek.repair(b"bytes")
