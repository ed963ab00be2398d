import io
from os import PathLike
from typing import Iterable, Iterator, NamedTuple, Optional, Sequence, Tuple, Union

from mmap import mmap

# Any contiguous bytes-like object, read without a copy.
_Data = Union[bytes, bytearray, memoryview, mmap]

DETECT_SIZE: int

class ConversionError(ValueError):
    kind: str
    offset: int
    line: int
    column: int
    bytes: bytes
    character: Optional[str]
    near: Optional[str]
    code: str

class DecodeError(ConversionError, UnicodeDecodeError): ...
class EncodeError(ConversionError, UnicodeEncodeError): ...

class Problem(NamedTuple):
    kind: str
    offset: int
    line: int
    column: int
    bytes: bytes
    character: Optional[str]
    near: Optional[str] = ...

def code_name(name: str) -> str: ...
def convert(data: _Data, to: str, *, source: str = "auto", eol: str = "lf",
            errors: str = "strict", replacement: Optional[str] = None, fallback: bool = False,
            folds: Sequence[str] = (), detection: str = "score", mime_decode: bool = False,
            mime_encode: Optional[str] = None, repair: bool = False) -> bytes: ...
def decode(data: _Data, source: str = "auto", *, eol: str = "lf", errors: str = "strict",
           replacement: Optional[str] = None, folds: Sequence[str] = (),
           detection: str = "score", mime_decode: bool = False,
           repair: bool = False) -> str: ...
def encode(text: str, to: str, *, eol: str = "lf", errors: str = "strict",
           replacement: Optional[str] = None, fallback: bool = False,
           folds: Sequence[str] = (), mime_encode: Optional[str] = None) -> bytes: ...
def detect(data: _Data, detection: str = "score") -> Optional[str]: ...
def guess(data: _Data, detection: str = "score") -> Optional[Tuple[str, str]]: ...
def check(data: _Data, source: str = "auto", to: Optional[str] = None,
          limit: int = 1000) -> list[Problem]: ...

class Repair(NamedTuple):
    chain: str
    start: int
    end: int
    line: int
    lost: int

def repair(text: str) -> Tuple[str, list[Repair]]: ...

class Stream:
    def __init__(self, to: str, *, source: str = "auto", eol: str = "lf",
                 errors: str = "strict", replacement: Optional[str] = None,
                 fallback: bool = False, folds: Sequence[str] = (), detection: str = "score",
                 detect_size: int = ...) -> None: ...
    @property
    def source(self) -> Optional[str]: ...
    @property
    def changes(self) -> int: ...
    def feed(self, data: _Data) -> bytes: ...
    def flush(self) -> bytes: ...
    def finish(self) -> bytes: ...
    def convert(self, pieces: Iterable[_Data]) -> Iterator[bytes]: ...

def open(path: Union[str, bytes, PathLike[str], PathLike[bytes], int], mode: str = "r",
         source: str = "auto", *, to: Optional[str] = None, eol: str = "keep",
         errors: str = "strict",
         replacement: Optional[str] = None, folds: Sequence[str] = (),
         detection: str = "score", newline: Optional[str] = None,
         buffering: int = ...) -> io.TextIOWrapper: ...
def register() -> None: ...
