"""Japanese text between character codes: Shift_JIS, cp932, EUC-JP,
ISO-2022-JP and UTF-8/16/32, with detection and errors that say where.

    >>> import mek
    >>> mek.convert('日本語'.encode('cp932'), 'utf8').decode()
    '日本語'
    >>> mek.detect('日本語'.encode('euc_jp') * 4)
    'euc_jp'

Code names are those of the command line (``sjis``, ``cp932``, ``euc_jp``,
``jis``, ``iso2022jp``, ``utf8``, ``utf16_le`` ... with their aliases, case,
``-`` and ``_`` ignored); ``auto`` as a source detects the code. An unknown
name raises LookupError. The conversions release the interpreter lock and
read bytes-like input without copying it.
"""

from __future__ import annotations

import codecs
import io
import mmap
import os
from typing import Iterable, Iterator, NamedTuple, Optional, Sequence, Tuple

from . import _mek

__all__ = [
    "ConversionError", "DecodeError", "EncodeError", "Problem", "Stream",
    "Repair", "check", "convert", "decode", "detect", "encode", "guess", "open", "register",
    "code_name", "repair",
]

_Code = _mek.Code
_AUTO = _Code.autodetect
_UTF8 = _Code.utf8
# Python's names for the error policies, beside the library's own.
_ERRORS_ALIASES = {"ignore": "skip", "xmlcharrefreplace": "html"}
# The code an encoder goes on in once the text has begun: the same without
# the byte-order mark.
_AFTER_MARK = {"utf8_bom": "utf8", "utf16_be_bom": "utf16_be", "utf16_le_bom": "utf16_le",
               "utf32_be_bom": "utf32_be", "utf32_le_bom": "utf32_le"}

# A decoder place that cannot be told (mek::Stream::kNoPlace).
_NO_PLACE = (1 << 32) - 1

# What the incremental decoder of mek-auto gathers before it detects.
DETECT_SIZE = 64 * 1024


def _text_argument(value, what: str) -> str:
    """A str argument that the C++ layer reads as UTF-8 up to a NUL."""
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    if "\0" in value or any(0xD800 <= ord(c) <= 0xDFFF for c in value):
        raise ValueError(f"{what} must hold no NUL and no surrogate: {value!r}")
    return value


def _code(name: str, *, source: bool = False) -> "_mek.Code":
    code = _mek.code_for(_text_argument(name, "a code name"))
    if code is None:
        raise LookupError(f"unknown character code: {name!r}")
    if code == _AUTO and not source:
        raise LookupError("'auto' names no output code")
    return code


def code_name(name: str) -> str:
    """The full name of a code name as the command line takes it
    (``code_name('Shift_JIS') == 'sjis'``); LookupError when none matches."""
    return _mek.name(_code(name, source=True))


def _choice(kind, value: str, what: str, skip=()):
    """The value of the C++ enum ``kind`` that ``value`` names."""
    names = [name for name in kind.__members__ if name not in skip]
    if isinstance(value, str) and value in names:
        return kind.__members__[value]
    raise ValueError(f"{what} must be one of {', '.join(names)}, not {value!r}")


def _eol(eol: str) -> "_mek.LineEnding":
    return _choice(_mek.LineEnding, eol, "eol")


def _errors(errors: str) -> "_mek.Errors":
    """The policy ``errors`` names: the library's names, or Python's."""
    if isinstance(errors, str):
        errors = _ERRORS_ALIASES.get(errors, errors)
    return _choice(_mek.Errors, errors, "errors")


def _detection(detection: str) -> "_mek.Detection":
    return _choice(_mek.Detection, detection, "detection")


def _folds(folds: Iterable[str]) -> "_mek.Fold":
    if isinstance(folds, str):
        folds = (folds,)
    flags = 0
    for fold in folds:
        flags |= int(_choice(_mek.Fold, fold, "a fold", skip=("none", "all")))
    return _mek.Fold(flags)


def _mime_encode(words: Optional[str]) -> "_mek.Transfer":
    if words is None:
        return _mek.Transfer.none
    if not isinstance(words, str) or words.upper() not in ("B", "Q"):
        raise ValueError(f"mime_encode takes 'B' or 'Q', not {words!r}")
    return _mek.Transfer.base64 if words.upper() == "B" else _mek.Transfer.quoted_printable


def _options(errors: str = "strict", replacement: int = 0, fallback: bool = False,
             folds: Sequence[str] = (), detection: str = "score", mime_decode: bool = False,
             mime_encode: Optional[str] = None, repair: bool = False) -> "_mek.Options":
    return _mek.Options(_errors(errors), replacement, bool(fallback), _folds(folds),
                        _detection(detection), bool(mime_decode), _mime_encode(mime_encode),
                        bool(repair))


def _replacement(replacement: Optional[str], to: "_mek.Code") -> int:
    """The replacement as the tool takes it: one character that the output
    code ``to`` carries (not NUL, which means none, nor a surrogate)."""
    if replacement is None:
        return 0
    if not isinstance(replacement, str) or len(replacement) != 1:
        raise ValueError("replacement takes one character")
    if replacement == "\0" or 0xD800 <= ord(replacement) <= 0xDFFF or \
            not _mek.carries(to, ord(replacement)):
        raise ValueError(f"cannot use {replacement!r} as replacement in {_mek.name(to)}")
    return ord(replacement)


def _undetected_text(near, offset, line, column, raw) -> str:
    """The tool's words for bytes whose code cannot be detected."""
    text = "cannot detect the input code"
    if near and line:
        text += (f": it reads as {near} except at byte {offset} (line {line}, column {column}): "
                 f"invalid {near} bytes {raw.hex(' ').upper()}")
    return text


class ConversionError(ValueError):
    """A conversion failed: ``kind`` ('malformed', 'unmapped', 'too_large'),
    the byte ``offset`` of the offending input (from 0), its ``line`` and
    ``column`` (from 1, in characters), its ``bytes`` and, for an unmapped
    character, the ``character``."""

    kind: str
    offset: int
    line: int
    column: int
    bytes: bytes
    character: Optional[str]

    def _place(self, error: tuple) -> None:
        kind, offset, line, column, raw, character = error
        self.kind, self.offset, self.line, self.column, self.bytes = kind, offset, line, column, raw
        self.character = chr(character) if kind == "unmapped" else None
        # For 'undetected': the code that reads the text all but a few places.
        self.near = character if kind == "undetected" else None

    def _text(self) -> str:
        if self.kind == "undetected":
            return _undetected_text(self.near, self.offset, self.line, self.column, self.bytes)
        if self.kind == "unmapped":
            what = f"U+{ord(self.character):04X} cannot be written in {self.code}"
        elif self.kind == "malformed":
            what = f"bytes {self.bytes.hex(' ')} are not valid {self.code}" if self.bytes \
                else f"the text is not valid {self.code}"
        else:
            what = "the output is too large"
        return f"byte {self.offset} (line {self.line}, column {self.column}): {what}"

    def __str__(self) -> str:
        return self._text()


class DecodeError(ConversionError, UnicodeDecodeError):
    """Input that is not valid in its code (also a UnicodeDecodeError)."""

    def __init__(self, error: tuple, code: str, data: bytes = b""):
        self._place(error)
        self.code = code
        end = self.offset + max(len(self.bytes), 1)
        UnicodeDecodeError.__init__(self, "mek-" + code, bytes(data), self.offset, end,
                                    self._text())

    __str__ = ConversionError.__str__


class EncodeError(ConversionError, UnicodeEncodeError):
    """A character the output code cannot carry (also a UnicodeEncodeError,
    whose ``start`` counts characters of the text when one is known)."""

    def __init__(self, error: tuple, code: str, text: str = "", start: Optional[int] = None):
        self._place(error)
        self.code = code
        start = self.offset if start is None else start
        UnicodeEncodeError.__init__(self, "mek-" + code, text, start, start + 1, self._text())

    __str__ = ConversionError.__str__


def _undetected(data):
    """Raises the DecodeError of bytes whose code cannot be detected."""
    raise DecodeError(_mek.nearest(data), "auto", data if isinstance(data, bytes) else b"")


def _source_of(data, source: "_mek.Code", detection: str) -> "_mek.Code":
    """The code of ``data``: ``source``, or the detected one for auto."""
    return source if source != _AUTO else _mek.detect(data, _detection(detection))


def _raise(error: tuple, source: "_mek.Code", to: "_mek.Code", data=b"", text: Optional[str] = None,
           utf8: Optional[bytes] = None):
    if error[0] == "undetected":
        raise DecodeError(error, "auto", data if isinstance(data, bytes) else b"")
    if error[0] == "unmapped":
        start = None
        if text is not None and utf8 is not None:
            start = len(utf8[:error[1]].decode("utf-8"))
        raise EncodeError(error, _mek.name(to), text or "", start)
    if error[0] == "too_large":
        raise MemoryError("the output of the conversion is too large")
    if error[0] == "no_memory":
        raise MemoryError("cannot allocate enough memory for the conversion")
    raise DecodeError(error, _mek.name(source), data if isinstance(data, bytes) else b"")


def convert(data, to: str, *, source: str = "auto", eol: str = "lf", errors: str = "strict",
            replacement: Optional[str] = None, fallback: bool = False,
            folds: Sequence[str] = (), detection: str = "score", mime_decode: bool = False,
            mime_encode: Optional[str] = None, repair: bool = False) -> bytes:
    """Converts the bytes ``data`` from ``source`` (detected for 'auto') to
    the code ``to``. ``eol``: 'lf' (the default, as the command line and
    the C++ library write), 'crlf', 'cr' or 'keep' (every line ending as it
    stands). ``errors``: 'strict' (raise DecodeError or EncodeError),
    'replace' (U+FFFD for malformed input, '?' for a character, or
    ``replacement``), 'skip' (or Python's 'ignore'), or 'html' (a character
    as &#N;; or Python's 'xmlcharrefreplace'). ``fallback``
    writes a character without a code of its own at its twin's position;
    ``folds`` is any of 'wide_kana', 'compose_kana', 'narrow_ascii'.
    ``mime_decode`` reads the encoded words (RFC 2047) of a mail's header
    block, the lines up to the first empty one; ``mime_encode`` ('B' or
    'Q') writes its lines that hold characters beyond ASCII as encoded
    words of ``to``, folded at 76 characters. With ``repair``, lines that
    are mojibake of Japanese text are taken back after decoding, as
    repair() does; a character the mojibake lost is malformed input under
    ``errors``."""
    source_code, to_code = _code(source, source=True), _code(to)
    options = _options(errors, _replacement(replacement, to_code), fallback, folds, detection,
                       mime_decode, mime_encode, repair)
    output, error, _, _ = _mek.convert(data, source_code, to_code, _eol(eol), options)
    if error is not None:
        _raise(error, _source_of(data, source_code, detection), to_code, data)
    return output


def decode(data, source: str = "auto", *, eol: str = "lf", errors: str = "strict",
           replacement: Optional[str] = None, folds: Sequence[str] = (),
           detection: str = "score", mime_decode: bool = False, repair: bool = False) -> str:
    """The text of the bytes ``data`` in ``source`` (detected for 'auto');
    the options are those of convert()."""
    source_code = _code(source, source=True)
    options = _options(errors, _replacement(replacement, _UTF8), False, folds, detection,
                       mime_decode, repair=repair)
    text, error, _, _ = _mek.decode(data, source_code, _eol(eol), options)
    if error is not None:
        _raise(error, _source_of(data, source_code, detection), _UTF8, data)
    return text


def encode(text: str, to: str, *, eol: str = "lf", errors: str = "strict",
           replacement: Optional[str] = None, fallback: bool = False,
           folds: Sequence[str] = (), mime_encode: Optional[str] = None) -> bytes:
    """The string ``text`` in the code ``to``; the options are those of
    convert(). An unmapped character raises EncodeError whose ``start`` is
    its index in ``text``."""
    to_code = _code(to)
    options = _options(errors, _replacement(replacement, to_code), fallback, folds,
                       mime_encode=mime_encode)
    output, error, _, _ = _mek.encode(text, to_code, _eol(eol), options)
    if error is not None:
        _raise(error, _UTF8, to_code, text=text, utf8=text.encode("utf-8", "surrogatepass"))
    return output


def detect(data, detection: str = "score") -> Optional[str]:
    """The code the bytes ``data`` are taken to be in, as ``mek --guess``
    says it, or None when no code takes them. ``detection``: 'score' (the
    default: the code whose text looks most like Japanese) or 'first' (a
    fixed order of tests)."""
    code = _mek.detect(data, _detection(detection))
    return _mek.name(code) if code != _AUTO else None


def guess(data, detection: str = "score") -> Optional[Tuple[str, str]]:
    """``(code, eol)`` as ``mek --guess`` prints them: the code, and the line
    endings of the text ('LF', 'CRLF', 'CR', 'MIXED' or 'NONE'); None when no
    code reads the text (decode() with source='auto' tells why)."""
    code, seen, error = _mek.guess(data, _detection(detection))
    if code == _AUTO:
        return None
    if error is not None:
        _raise(error, code, _UTF8, data)
    return _mek.name(code), seen


class Problem(NamedTuple):
    """One problem of a text found by check(); str() of it is the tool's
    words for it."""

    kind: str  # 'malformed', 'unmapped' or 'undetected'
    offset: int
    line: int
    column: int
    bytes: bytes
    character: Optional[str]
    # For 'undetected': the code that reads the text all but a few places.
    near: Optional[str] = None

    def __str__(self) -> str:
        if self.kind == "undetected":
            return _undetected_text(self.near, self.offset, self.line, self.column, self.bytes)
        place = f"byte {self.offset} (line {self.line}, column {self.column})"
        if self.kind == "unmapped":
            return f"{place}: U+{ord(self.character):04X} cannot be written"
        return f"{place}: invalid bytes {self.bytes.hex(' ').upper()}"


def check(data, source: str = "auto", to: Optional[str] = None, limit: int = 1000) -> list:
    """Every problem of ``data`` (at most ``limit``), in the input's order:
    malformed sequences and, with ``to``, the characters ``to`` cannot
    carry. A text whose code cannot be detected gives one 'undetected'
    problem, at the first bad place of the code that reads it all but a few
    places when there is one."""
    to_code = _code(to) if to is not None else _AUTO
    if isinstance(limit, bool) or not isinstance(limit, int):
        raise TypeError(f"limit must be an int, not {type(limit).__name__}")
    if limit < 0:
        raise ValueError(f"limit must not be negative: {limit}")
    problems = _mek.check(data, _code(source, source=True), to_code, _options(),
                          min(limit, 2 ** 63))
    return [Problem(k, o, l, c, b, chr(ch) if k == "unmapped" else None,
                    ch if k == "undetected" else None)
            for k, o, l, c, b, ch in problems]


class Repair(NamedTuple):
    """One stretch of mojibake that repair() took back: the wrong turns it
    had taken ('utf8 read as cp932'), where it stood in the text given
    (characters ``start`` to ``end`` and the line of ``start``, from 1), and
    how many characters the turns had lost (written as U+FFFD)."""

    chain: str
    start: int
    end: int
    line: int
    lost: int


def repair(text: str) -> Tuple[str, list]:
    """``(text, [Repair])``: ``text`` with the lines that are mojibake of
    Japanese text (read through the wrong code, once or twice) taken back,
    as ``mek --repair`` does; every other line stays as it is."""
    text = _text_argument(text, "text")
    repaired, repairs = _mek.repair(text)
    return repaired, [Repair(*each) for each in repairs]


class Stream:
    """A conversion over a text that comes in pieces of any size:
    ``feed(piece)`` answers the bytes converted so far, ``finish()`` the
    rest; ``convert(pieces)`` does both over an iterable. With
    ``source='auto'`` the first ``detect_size`` bytes (or all of them, if
    fewer) are gathered and the code is detected on them. Errors raise as
    convert() does; the offsets count from the start of the text."""

    def __init__(self, to: str, *, source: str = "auto", eol: str = "lf",
                 errors: str = "strict", replacement: Optional[str] = None,
                 fallback: bool = False, folds: Sequence[str] = (),
                 detection: str = "score", detect_size: int = DETECT_SIZE):
        self._source = _code(source, source=True)
        self._to = _code(to)
        self._settings = (_eol(eol), _options(errors, _replacement(replacement, self._to),
                                              fallback, folds, detection))
        self._detection = _detection(detection)
        self._detect_size = detect_size
        self._gathered = bytearray()
        self._stream = None
        self._done = False
        if self._source != _AUTO:
            self._start()

    @property
    def source(self) -> Optional[str]:
        """The input code, once known."""
        return _mek.name(self._source) if self._source != _AUTO else None

    @property
    def changes(self) -> int:
        """Under a forgiving policy: how many sequences and characters were changed."""
        return self._stream.changes if self._stream is not None else 0

    def _start(self) -> None:
        self._stream = _mek.Stream(self._source, self._to, *self._settings)

    def _detect(self) -> None:
        code = _mek.detect(self._gathered, self._detection)
        if code == _AUTO:
            _undetected(self._gathered)
        self._source = code
        self._start()

    def _answer(self, result) -> bytes:
        output, error = result
        if error is not None:
            self._done = True
            _raise(error, self._source, self._to)
        return output

    def feed(self, data) -> bytes:
        """Converts the next piece; answers the output it completes."""
        if self._done:
            raise ValueError("the stream has ended")
        if self._stream is None:
            self._gathered += data
            if len(self._gathered) < self._detect_size:
                return b""
            self._detect()
            gathered, self._gathered = self._gathered, bytearray()
            return self._answer(self._stream.feed(gathered))
        return self._answer(self._stream.feed(data))

    def flush(self) -> bytes:
        """Answers all the output that the pieces so far give, but for what a
        later piece could change: a cut-off sequence, a character a fold may
        still join, the return to ASCII of ISO-2022-JP. Before the code is
        detected (source='auto'), nothing."""
        if self._done:
            raise ValueError("the stream has ended")
        if self._stream is None:
            return b""
        return self._answer(self._stream.flush())

    def finish(self) -> bytes:
        """Ends the text; answers the rest of the output."""
        if self._done:
            raise ValueError("the stream has ended")
        output = b""
        if self._stream is None:
            self._detect()
            gathered, self._gathered = self._gathered, bytearray()
            output = self._answer(self._stream.feed(gathered))
        output += self._answer(self._stream.finish())
        self._done = True
        return output

    def convert(self, pieces: Iterable) -> Iterator[bytes]:
        """The output of every piece, then of the end; empty outputs are left out."""
        for piece in pieces:
            output = self.feed(piece)
            if output:
                yield output
        output = self.finish()
        if output:
            yield output


class _ConvertingReader(io.RawIOBase):
    """The UTF-8 of a file in another code, converted as it is read."""

    def __init__(self, raw, stream: Stream, piece_size: int = 1 << 20):
        super().__init__()
        self._raw, self._stream, self._piece_size = raw, stream, piece_size
        self._pending = b""
        self._ended = False

    def readable(self) -> bool:
        return True

    def readinto(self, buffer) -> int:
        while not self._pending and not self._ended:
            piece = self._raw.read(self._piece_size)
            if piece:
                self._pending = self._stream.feed(piece)
            else:
                self._pending = self._stream.finish()
                self._ended = True
        size = min(len(buffer), len(self._pending))
        buffer[:size] = self._pending[:size]
        self._pending = self._pending[size:]
        return size

    def close(self) -> None:
        if not self.closed:
            self._raw.close()
        super().close()


class _ConvertingWriter(io.RawIOBase):
    """Takes UTF-8 and writes it converted to a file that is replaced whole
    when it is closed, as the command line writes one."""

    def __init__(self, path, stream: Stream):
        super().__init__()
        self._output = _mek.Output(os.fspath(path))
        self._stream = stream
        self._abandoned = False

    def writable(self) -> bool:
        return True

    def write(self, data) -> int:
        try:
            output = self._stream.feed(data)
            if output:
                self._output.write(output)
        except BaseException:
            self.abandon()
            raise
        return len(data)

    def abandon(self) -> None:
        if not self._abandoned:
            self._abandoned = True
            self._output.abandon()

    def close(self) -> None:
        if not self.closed:
            try:
                if not self._abandoned:
                    self._output.write(self._stream.finish())
                    self._output.commit()
            except BaseException:
                self.abandon()
                raise
            finally:
                super().close()


class _TextWriter(io.TextIOWrapper):
    """The text file of mek.open(path, 'w'): an exception inside its with
    block leaves the file as it was."""

    def __exit__(self, kind, value, traceback):
        if kind is not None:
            self.buffer.raw.abandon()
        try:
            self.close()
        except BaseException:
            if kind is None:
                raise


def _open_for_writing(path, to, eol, errors, replacement, folds, newline, buffering):
    if to is None:
        raise ValueError("mek.open(path, 'w') needs the output code: to='sjis', 'cp932', ...")
    stream = Stream(to, source="utf8", eol=eol, errors=errors, replacement=replacement,
                    folds=folds)
    raw = _ConvertingWriter(path, stream)
    text = _TextWriter(io.BufferedWriter(raw, buffering), encoding="utf-8", errors="surrogatepass",
                       newline=newline)
    text.mode = "w"
    return text


def open(path, mode: str = "r", source: str = "auto", *, to: Optional[str] = None,
         eol: str = "keep", errors: str = "strict", replacement: Optional[str] = None,
         folds: Sequence[str] = (), detection: str = "score", newline: Optional[str] = None,
         buffering: int = 1 << 20):
    """A text file object that reads ``path`` decoded from ``source``; for
    'auto' the code is detected over the whole file, as the command line
    does. The text is converted as it is read, so a large file is never
    whole in memory. ``newline`` is that of the built-in open() (None:
    universal newlines). Errors raise from read() as decode() raises them.
    Unlike convert(), ``eol`` keeps every line ending by default: as in the
    built-in open(), ``newline`` decides what the text's lines end in.

    With ``mode`` 'w', a text file object that writes ``path`` in the code
    ``to``, with ``eol``, ``errors``, ``replacement`` and ``folds`` as
    convert() takes them: the file is written as the command line writes
    one, a temporary file beside it renamed over it at close(), so it
    appears whole; after an exception inside its ``with`` block it is left
    as it was.

        pandas.read_csv(mek.open('ledger.csv'))
        with mek.open('out.csv', 'w', to='cp932', eol='crlf') as f: ...
    """
    if mode in ("w", "wt"):
        return _open_for_writing(path, to, eol, errors, replacement, folds, newline, buffering)
    if mode not in ("r", "rt"):
        raise ValueError(f"mek.open reads ('r') or writes ('w') text, not {mode!r}")
    raw = io.open(path, "rb", buffering=0)
    try:
        source_code = _code(source, source=True)
        if source_code == _AUTO:
            size = os.fstat(raw.fileno()).st_size
            if size == 0:
                source_code = _UTF8
            else:
                with mmap.mmap(raw.fileno(), 0, access=mmap.ACCESS_READ) as whole:
                    source_code = _mek.detect(whole, _detection(detection))
                    if source_code == _AUTO:
                        raise DecodeError(_mek.nearest(whole), "auto")
        stream = Stream("utf8", source=_mek.name(source_code), eol=eol, errors=errors,
                        replacement=replacement, folds=folds)
        reader = io.BufferedReader(_ConvertingReader(raw, stream, buffering), buffering)
    except BaseException:
        raw.close()
        raise
    text = io.TextIOWrapper(reader, encoding="utf-8", newline=newline)
    text.mode = "r"
    return text


# The codecs: mek-CODE for every code name of the command line.

# The names of the policies the codecs run themselves: Python's and the
# library's alike.
_CODEC_ERRORS = ("strict", "replace", "ignore", "xmlcharrefreplace", "skip", "html")


def _codec_errors(errors: str) -> str:
    """The library's policy for a policy the codecs run themselves."""
    if errors in _CODEC_ERRORS:
        return _ERRORS_ALIASES.get(errors, errors)
    raise LookupError(f"mek's incremental codecs take errors {', '.join(_CODEC_ERRORS)}, "
                      f"not {errors!r} (a handler of codecs.register_error works with whole "
                      f"texts: str.encode, bytes.decode)")


def _handler(errors: str):
    """The handler registered for ``errors``, for a policy the codecs do not
    run themselves."""
    try:
        return codecs.lookup_error(errors)
    except LookupError:
        raise LookupError(f"mek codecs take errors {', '.join(_CODEC_ERRORS)} or the name of a "
                          f"handler of codecs.register_error, not {errors!r}") from None


def _decode_handled(data, code_text: str, handler) -> str:
    """The text of ``data`` with ``handler`` called for each malformed
    sequence, as Python's codecs call it: it answers the text to put there
    and where decoding goes on."""
    data = bytes(data)
    parts = []
    position = 0
    while True:
        try:
            parts.append(decode(data[position:], code_text, eol="keep"))
            return "".join(parts)
        except DecodeError as error:
            start = position + error.offset
            parts.append(decode(data[position:start], code_text, eol="keep"))
            end = min(len(data), start + max(1, len(error.bytes)))
            replacement, position = handler(UnicodeDecodeError(
                "mek-" + code_text, data, start, end, error.reason))
            parts.append(replacement)
            position = position + len(data) if position < 0 else position


def _encode_handled(text: str, code_text: str, handler) -> bytes:
    """The bytes of ``text`` with ``handler`` called for each character the
    code cannot carry (and each lone surrogate), as Python's codecs call it:
    it answers a str (written in the code) or bytes to put there and where
    encoding goes on."""
    chunks = []  # text and the handler's bytes, in order
    position = 0
    while True:
        try:
            encode(text[position:], code_text, eol="keep")
            chunks.append(text[position:])
            break
        except UnicodeEncodeError as error:  # EncodeError, or a lone surrogate
            start = position + error.start
            if not isinstance(error, EncodeError):
                # A lone surrogate stops the text before mek reads it: a
                # character before it may be the first place to handle.
                try:
                    encode(text[position:start], code_text, eol="keep")
                except EncodeError as earlier:
                    error, start = earlier, position + earlier.start
            reason = error.reason
        chunks.append(text[position:start])
        problem = UnicodeEncodeError("mek-" + code_text, text, start, start + 1, reason)
        replacement, position = handler(problem)
        if isinstance(replacement, str):
            try:
                encode(replacement, code_text, eol="keep")
            except ConversionError:
                raise problem from None
        chunks.append(replacement)
        position = position + len(text) if position < 0 else position
    # The text between the handler's bytes is written at once, so that a
    # byte-order mark comes once and shift states carry on; before bytes, a
    # shift code returns to ASCII.
    output = []
    run = ""
    code = code_text
    for chunk in chunks + [b""]:
        if isinstance(chunk, str):
            run += chunk
            continue
        if run:
            if code in ("jis", "iso2022jp", "iso2022jp2004") and chunk:
                output.append(encode(run + "a", code, eol="keep")[:-1])
            else:
                output.append(encode(run, code, eol="keep"))
            code = _AFTER_MARK.get(code_text, code_text)
            run = ""
        output.append(bytes(chunk))
    return b"".join(output)


class _IncrementalDecoder(codecs.IncrementalDecoder):
    """Answers every character that is complete; holds back only a cut-off
    sequence, or for mek-auto the bytes before detection can decide."""

    def __init__(self, source: str, errors: str = "strict"):
        super().__init__(errors)
        self._source = source
        self._stream = None

    def _start(self) -> Stream:
        if self._stream is None:
            self._stream = Stream("utf8", source=self._source, eol="keep",
                                  errors=_codec_errors(self.errors))
        return self._stream

    def decode(self, data, final: bool = False) -> str:
        stream = self._start()
        output = stream.feed(data) if data else b""
        output += stream.finish() if final else stream.flush()
        if final:
            self.reset()
        # The stream writes whole characters only.
        return output.decode("utf-8", "surrogatepass")

    def reset(self) -> None:
        self._stream = None

    # The state, as TextIOWrapper's tell() and seek() ask for it: the bytes
    # held back, and where the decoder stands in the text (for mek-auto also
    # the code detected, from bit 26), so that a new decoder set to it and fed
    # the held bytes goes on alike.
    def getstate(self):
        stream = self._stream
        if stream is None:
            return b"", 0
        if stream._stream is None:  # mek-auto before it could detect
            return bytes(stream._gathered), 0
        held, place = stream._stream.state()
        if place == _NO_PLACE:
            raise ValueError("the decoder's state cannot be told here")
        return held, place | (int(stream._source) << 26 if self._source == "auto" else 0)

    def setstate(self, state) -> None:
        held, flags = state
        self.reset()
        source = self._source
        if source == "auto" and flags >> 26:
            source = _mek.name(_Code(flags >> 26))
        self._stream = Stream("utf8", source=source, eol="keep", errors=_codec_errors(self.errors))
        place = flags & ((1 << 26) - 1)
        if place and not self._stream._stream.resume_at(place):
            raise ValueError(f"no decoder state {flags}")
        if held:
            self._stream.feed(held)
            self._stream.flush()


class _IncrementalEncoder(codecs.IncrementalEncoder):
    """Answers every byte it can write already; holds back only what a later
    call could change (a kana a combining mark may follow, with a fold) and
    iso2022jp's return to ASCII, which final=True writes."""

    def __init__(self, to: str, errors: str = "strict"):
        super().__init__(errors)
        self._to = to
        self._begun = False  # the text has begun: its byte-order mark is written
        self._stream = None

    def encode(self, text: str, final: bool = False) -> bytes:
        if self._stream is None:
            to = _AFTER_MARK.get(self._to, self._to) if self._begun else self._to
            self._stream = Stream(to, source="utf8", eol="keep", errors=_codec_errors(self.errors))
            self._begun = True
        output = self._stream.feed(text.encode("utf-8", "surrogatepass")) if text else b""
        if final:
            output += self._stream.finish()
            self._stream = None
        else:
            output += self._stream.flush()
        return output

    def reset(self) -> None:
        self._stream = None
        self._begun = False

    # As Python's own utf-16 encoder: 2 while the text has not begun (a
    # byte-order mark is still to come), 0 after; TextIOWrapper sets 0 when
    # it writes in the middle of a file, so that no second mark is written.
    def getstate(self) -> int:
        return 0 if self._begun else 2

    def setstate(self, state: int) -> None:
        self._stream = None
        self._begun = state == 0


class _StreamWriter(codecs.StreamWriter):
    """codecs.open and codecs.getwriter: writes as the incremental encoder
    does; reset() and close() end the text (iso2022jp's return to ASCII)."""

    def __init__(self, stream, errors: str = "strict", *, to: str):
        super().__init__(stream, errors)
        self._encoder = _IncrementalEncoder(to, errors)

    def encode(self, text, errors="strict"):
        return self._encoder.encode(text), len(text)

    def reset(self) -> None:
        data = self._encoder.encode("", final=True)
        if data:
            self.stream.write(data)

    def close(self) -> None:
        self.reset()
        self.stream.close()

    def __exit__(self, kind, value, traceback) -> None:
        self.close()


class _StreamReader(codecs.StreamReader):
    """codecs.open and codecs.getreader: reads as the incremental decoder does;
    reading to the end ends the text, so a cut-off last sequence fails."""

    def __init__(self, stream, errors: str = "strict", *, source: str):
        super().__init__(stream, errors)
        self._decoder = _IncrementalDecoder(source, errors)

    def decode(self, data, errors="strict"):
        return self._decoder.decode(data), len(data)

    def read(self, size=-1, chars=-1, firstline=False):
        text = super().read(size, chars, firstline)
        if size < 0 and chars < 0 and not firstline and not self.charbuffer:
            text += self._decoder.decode(b"", final=True)
        return text

    def reset(self) -> None:
        super().reset()
        self._decoder.reset()


def _search(name: str):
    for prefix in ("mek-", "mek_"):
        if name.startswith(prefix):
            break
    else:
        return None
    code = _code(name[len(prefix):], source=True)
    code_text = _mek.name(code)

    def encode_whole(text, errors="strict"):
        if code == _AUTO:
            raise LookupError("mek-auto decodes only: name an output code")
        if errors not in _CODEC_ERRORS:
            return _encode_handled(text, code_text, _handler(errors)), len(text)
        return encode(text, code_text, eol="keep", errors=_codec_errors(errors)), len(text)

    def decode_whole(data, errors="strict"):
        if errors not in _CODEC_ERRORS:
            handler = _handler(errors)
            source = code_text if code != _AUTO else detect(data)
            if source is None:
                _undetected(data)
            return _decode_handled(data, source, handler), len(data)
        return decode(data, code_text, eol="keep", errors=_codec_errors(errors)), len(data)

    def incremental_encoder(errors="strict"):
        if code == _AUTO:
            raise LookupError("mek-auto decodes only: name an output code")
        return _IncrementalEncoder(code_text, errors)

    def stream_writer(stream, errors="strict"):
        if code == _AUTO:
            raise LookupError("mek-auto decodes only: name an output code")
        return _StreamWriter(stream, errors, to=code_text)

    return codecs.CodecInfo(
        encode_whole, decode_whole, name="mek-" + code_text,
        incrementalencoder=incremental_encoder,
        incrementaldecoder=lambda errors="strict": _IncrementalDecoder(code_text, errors),
        streamwriter=stream_writer,
        streamreader=lambda stream, errors="strict": _StreamReader(stream, errors,
                                                                   source=code_text))


_registered = False


def register() -> None:
    """Registers the codecs mek-CODE for every code name (``mek-cp932``,
    ``mek-sjis``, ``mek-auto`` for decoding with detection), so that
    ``'abc'.encode('mek-cp932')``, ``b.decode('mek-sjis', errors='replace')``
    and ``open(p, encoding='mek-auto')`` work. The codecs keep every line
    ending as it stands. Python's errors names map to mek's policies:
    strict, replace, ignore (skip), xmlcharrefreplace (html), and mek's own
    skip and html work too. A handler registered with codecs.register_error
    (backslashreplace, surrogateescape, one of yours) is called for each
    place it is asked about by str.encode and bytes.decode; the incremental
    codecs refuse it with a LookupError that names the policies they take. The incremental decoder of
    mek-auto gathers 64 KiB (or the whole input, if shorter) before it
    detects, then streams. Registering again does nothing."""
    global _registered
    if not _registered:
        codecs.register(_search)
        _registered = True
