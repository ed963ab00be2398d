"""Every output code's codec writes, through every way Python writes text,
exactly the bytes that mek.encode gives for the whole text, and reads them
back: texts of 0 B, 1 B and 10 KB under every errors handler, and one 20 MB
text through one code and one way."""

import codecs
import io
import os

import pytest

import mek

CODES = ["sjis", "euc_jp", "jis", "utf8", "utf16_be", "utf16_le", "utf16_be_bom", "utf16_le_bom",
         "utf32_be", "utf32_le", "utf32_be_bom", "utf32_le_bom", "cp932", "utf8_bom", "iso2022jp"]
HANDLERS = {"strict": "strict", "replace": "replace", "ignore": "skip",
            "xmlcharrefreplace": "html"}

LINE = "日本語のテキスト、ｶﾀｶﾅとABC 123。\n"
# A character that the Japanese codes cannot carry, for the forgiving handlers.
FOREIGN = "한😀"


def texts(handler):
    extra = "" if handler == "strict" else FOREIGN
    long = (LINE + extra) * (10240 // len((LINE + extra).encode("utf-8")) + 1)
    return ["", "a", long]


def through_open(path, text, codec, buffering):
    with open(path, "w", encoding=codec[0], errors=codec[1], newline="", buffering=buffering) as f:
        for at in range(0, len(text), 777):
            f.write(text[at:at + 777])


def through_wrapper(path, text, codec, buffering):
    raw = io.FileIO(path, "w")
    with io.TextIOWrapper(io.BufferedWriter(raw, buffer_size=max(buffering, 1)), encoding=codec[0],
                          errors=codec[1], newline="", write_through=buffering < 16) as f:
        for at in range(0, len(text), 101):
            f.write(text[at:at + 101])


def through_codecs_open(path, text, codec, buffering):
    with codecs.open(path, "w", encoding=codec[0], errors=codec[1], buffering=buffering) as f:
        for at in range(0, len(text), 333):
            f.write(text[at:at + 333])


def through_writer(path, text, codec, buffering):
    with open(path, "wb") as raw:
        writer = codecs.getwriter(codec[0])(raw, codec[1])
        writer.write(text)
        writer.reset()


WAYS = [through_open, through_wrapper, through_codecs_open, through_writer]
# TextIOWrapper never says final=True: iso2022jp text that does not end in a
# line end may lack its last return to ASCII there, as Python's own
# iso2022_jp does (codecs.open hands the file's close to the file itself).
NO_FINAL = {through_open, through_wrapper, through_codecs_open}


def expect_written(got, expected, code, way):
    if code == "iso2022jp" and way in NO_FINAL and got + b"\x1b(B" == expected:
        return
    assert got == expected


@pytest.mark.parametrize("handler", HANDLERS)
@pytest.mark.parametrize("code", CODES)
def test_every_way_writes_what_encode_gives(code, handler, tmp_path):
    mek.register()
    codec = ("mek-" + code, handler)
    for text in texts(handler):
        expected = mek.encode(text, code, eol="keep", errors=HANDLERS[handler])
        for way in WAYS:
            for buffering in (1, 8192):
                path = tmp_path / f"{way.__name__}.txt"
                way(path, text, codec, buffering)
                got = path.read_bytes()
                if not text and way in NO_FINAL:
                    # Nothing reached the codec: the file stays empty (no
                    # byte-order mark), as with Python's own utf-16.
                    assert got == b""
                    continue
                expect_written(got, expected, code, way)
                # Read back through the same codec, whole and through open().
                back = mek.decode(expected, code)
                assert got.decode(codec[0]) == back or code == "iso2022jp"
                with open(path, encoding=codec[0], newline="") as f:
                    assert f.read() == back, (way.__name__, len(text))
                if handler == "strict":
                    assert back == (text.replace("ｶﾀｶﾅ", "カタカナ") if code == "iso2022jp" else text)
    # Python's own codec where the two agree: the Unicode forms.
    own = {"utf8": "utf-8", "utf16_le": "utf-16-le", "utf16_be": "utf-16-be",
           "utf32_le": "utf-32-le", "utf32_be": "utf-32-be"}.get(code)
    if own is not None and handler == "strict":
        for text in texts(handler):
            assert mek.encode(text, code) == text.encode(own)


@pytest.mark.parametrize("code", CODES)
def test_data_frames_write_through_every_code(code, tmp_path):
    pd = pytest.importorskip("pandas")
    mek.register()
    frame = pd.DataFrame({"名前": ["山田", "ｽｽﾞｷ", "a"] * 50, "金額": [100, 200, 300] * 50})
    path = tmp_path / "frame.csv"
    frame.to_csv(path, encoding="mek-" + code, index=False)
    expected = mek.encode(frame.to_csv(index=False), code)
    expect_written(path.read_bytes(), expected, code, through_open)
    back = pd.read_csv(path, encoding="mek-" + code)
    if code != "iso2022jp":  # which folds half-width katakana
        assert back.equals(frame)
    empty = pd.DataFrame()
    empty.to_csv(path, encoding="mek-" + code, index=False)
    assert path.read_bytes() == mek.encode(empty.to_csv(index=False), code)


def test_a_large_text_streams(tmp_path):
    mek.register()
    text = LINE * (20 * 1024 * 1024 // len(LINE.encode("utf-8")))
    path = tmp_path / "large.txt"
    with open(path, "w", encoding="mek-cp932", newline="") as f:
        for at in range(0, len(text), 1 << 16):
            f.write(text[at:at + (1 << 16)])
    assert path.read_bytes() == mek.encode(text, "cp932")
    with open(path, encoding="mek-cp932", newline="") as f:
        assert f.read() == text


def test_mek_open_writes_whole_files(tmp_path):
    path = tmp_path / "out.csv"
    path.write_bytes(b"kept")
    with mek.open(path, "w", to="cp932", eol="crlf") as f:
        f.write("名前,金額\n")
        assert path.read_bytes() == b"kept"  # the file appears whole at close()
        f.write("ｶﾅ,100\n")
    assert path.read_bytes() == "名前,金額\r\nｶﾅ,100\r\n".encode("cp932")
    with mek.open(path, "w", to="iso2022jp") as f:
        f.write("日本")
    assert path.read_bytes() == mek.encode("日本", "iso2022jp")  # ends in ASCII
    # An exception inside the with block, or a character the code cannot
    # carry, leaves the file as it was, and no temporary file behind.
    before = path.read_bytes()
    with pytest.raises(KeyError):
        with mek.open(path, "w", to="sjis") as f:
            f.write("途中")
            raise KeyError("stop")
    with pytest.raises(mek.EncodeError):
        with mek.open(path, "w", to="sjis") as f:
            f.write("a😀")
    assert path.read_bytes() == before
    assert sorted(os.listdir(tmp_path)) == ["out.csv"]
    with mek.open(path, "w", to="sjis", errors="replace") as f:
        f.write("a😀")
    assert path.read_bytes() == b"a?"
    with pytest.raises(ValueError):
        mek.open(path, "w")


@pytest.mark.parametrize("code", ["sjis", "euc_jp", "jis", "utf8_bom", "utf16_le_bom",
                                  "utf32_be", "auto"])
def test_tell_and_seek_through_the_decoder_state(code, tmp_path):
    mek.register()
    text = "".join(f"{i}: {LINE}" for i in range(400))
    path = tmp_path / "lines.txt"
    path.write_bytes(mek.encode(text, code if code != "auto" else "euc_jp"))
    with open(path, encoding="mek-" + code, newline="") as f:
        marks = []
        while True:
            place = f.tell()
            line = f.readline()
            if not line:
                break
            marks.append((place, line))
        assert "".join(line for _, line in marks) == text
        for place, line in reversed(marks[::37]):
            f.seek(place)
            assert f.readline() == line


# A writer stopped by SIGTERM (as Dask stops its workers) leaves the old file
# and nothing beside it: the text waits in an unnamed file until close().
def test_a_writer_killed_leaves_nothing(tmp_path):
    import signal
    import subprocess
    import sys
    path = tmp_path / "out.txt"
    path.write_bytes(b"kept")
    script = ("import mek, os, signal, sys\n"
              "f = mek.open(sys.argv[1], 'w', to='sjis')\n"
              "f.write('日本語' * 100000)\n"
              "f.flush()\n"
              "os.kill(os.getpid(), signal.SIGTERM)\n")
    run = subprocess.run([sys.executable, "-c", script, str(path)])
    assert run.returncode == -signal.SIGTERM
    assert path.read_bytes() == b"kept"
    assert sorted(os.listdir(tmp_path)) == ["out.txt"]


# Appending through a codec with a byte-order mark writes no second mark, as
# with Python's own utf-16 (TextIOWrapper sets the encoder's state).
@pytest.mark.parametrize("code", ["utf16_le_bom", "utf32_be_bom", "utf8_bom"])
def test_appending_writes_one_mark(code, tmp_path):
    mek.register()
    path = tmp_path / "notes.txt"
    with open(path, "w", encoding="mek-" + code) as f:
        f.write("日本\n")
    with open(path, "a", encoding="mek-" + code) as f:
        f.write("語\n")
    assert path.read_bytes() == mek.encode("日本\n語\n", code)
