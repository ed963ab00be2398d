"""Converts a folder of files across a Dask cluster, one task per file.

    python3 -m mek.dask 'data/*.csv' out/ -o utf8 [--errors replace]
                        [--eol lf] [--scheduler tcp://host:8786]

Each file is converted by a worker (its code detected over the whole file
unless --source names it) and written to DEST_DIR under its path relative
to the glob's fixed folder, as `mek --in-place` would write it: a temporary
file beside the target, flushed and renamed over it; nothing is left of a
failed file. A file larger than --split bytes in a code where an LF byte is
always a line feed (Shift_JIS, cp932, EUC-JP, UTF-8) is cut after LF bytes
into ranges that workers convert side by side; a last task joins their
outputs into the target, and a failure is told at its place in the whole
file. Without --scheduler a local cluster of --workers processes runs the
tasks. The source and destination must be on storage every worker sees.
Prints a summary and exits 1 if any file failed.
"""

from __future__ import annotations

import argparse
import glob
import mmap
import os
import shutil
import sys
import tempfile
from typing import List, NamedTuple, Optional

import mek
from mek import _mek


class FileResult(NamedTuple):
    source: str
    target: str
    bytes_in: int
    bytes_out: int
    error: Optional[str]  # None when the file was converted


def convert_file(source: str, target: str, to: str, source_code: str = "auto",
                 eol: str = "lf", errors: str = "strict") -> FileResult:
    """Converts one file to `target` (written safely); the task of a worker.
    Failures are answered, not raised, so that one file cannot stop the run."""
    try:
        with open(source, "rb") as raw:
            size = os.fstat(raw.fileno()).st_size
            if size == 0:
                data = b""
                output = b""
            else:
                with mmap.mmap(raw.fileno(), 0, access=mmap.ACCESS_READ) as data:
                    output = mek.convert(data, to, source=source_code, eol=eol, errors=errors)
        os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
        _mek.write_file(target, output)
        return FileResult(source, target, size, len(output), None)
    except mek.ConversionError as error:
        return FileResult(source, target, 0, 0, str(error))
    except (OSError, MemoryError, ValueError, LookupError) as error:
        return FileResult(source, target, 0, 0, str(error) or type(error).__name__)


# Codes in which no character holds an LF byte but the line feed itself, so
# that a text cut right after an LF converts piece by piece as it does whole.
_SPLITTABLE = {"sjis", "cp932", "euc_jp", "utf8", "utf8_bom", "sjis2004", "eucjis2004", "eucjpms",
               "cp51932"}


class Range(NamedTuple):
    start: int  # first byte of the range in the file
    end: int
    line: int  # line ends before the range: its lines are told after them


def _line_ends(chunk: bytes) -> int:
    """Line ends in `chunk` as mek counts them: LF, CR LF and CR."""
    return chunk.count(b"\n") + chunk.count(b"\r") - chunk.count(b"\r\n")


def split_file(source: str, size: int, split: int, source_code: str, detection: str = "score"):
    """(code, ranges) of a file to convert in ranges, or (code, []) when it is
    converted whole: too small, or in a code an LF byte may belong to. The
    code is detected over the whole file, as the command line does."""
    with open(source, "rb") as raw, mmap.mmap(raw.fileno(), 0, access=mmap.ACCESS_READ) as data:
        code = mek.code_name(source_code) if source_code != "auto" else mek.detect(data, detection)
        if code not in _SPLITTABLE:
            return code, []
        starts = [0]
        while starts[-1] + split < size:
            lf = data.find(b"\n", starts[-1] + split)
            if lf < 0 or lf + 1 >= size:
                break
            starts.append(lf + 1)
        if len(starts) == 1:
            return code, []
        ends = starts[1:] + [size]
        # Ranges end right after an LF, so no CR LF is cut and the line ends
        # of the ranges before add up.
        ranges, lines = [], 0
        for a, b in zip(starts, ends):
            ranges.append(Range(a, b, lines))
            lines += _line_ends(data[a:b])
        return code, ranges


def _part_folder(target: str) -> str:
    """A private folder for the part files of `target`, beside it (so that
    every worker that sees the target sees it): made by mkdtemp, with a name
    nobody can guess and room for its owner alone."""
    folder, name = os.path.split(target)
    os.makedirs(folder or ".", exist_ok=True)
    return tempfile.mkdtemp(prefix=f".{name}.mek-parts-", dir=folder or ".")


def _part_name(parts: str, index: int) -> str:
    return os.path.join(parts, str(index))


def convert_range(source: str, parts: str, index: int, piece: Range, to: str, code: str,
                  eol: str, errors: str):
    """Converts one range of a file into a part file in the private folder
    `parts`; the task of a worker. The part is created new (never through a
    link, never over a file). Answers (bytes out, None) or (0, the failure
    placed in the whole file)."""
    try:
        with open(source, "rb") as raw, \
                mmap.mmap(raw.fileno(), 0, access=mmap.ACCESS_READ) as data, \
                memoryview(data)[piece.start:piece.end] as chunk:
            output = mek.convert(chunk, to, source=code, eol=eol, errors=errors)
        handle = os.open(_part_name(parts, index),
                         os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW | os.O_CLOEXEC, 0o600)
        with os.fdopen(handle, "wb") as part:
            part.write(output)
        return len(output), None
    except mek.ConversionError as error:
        # Ranges begin lines, so only the offset and the line move.
        error.offset += piece.start
        error.line += piece.line
        return 0, str(error)
    except (OSError, MemoryError, ValueError, LookupError) as error:
        return 0, str(error) or type(error).__name__


def join_ranges(source: str, target: str, parts: str, results: list,
                bytes_in: int) -> FileResult:
    """Joins the part files of a file's ranges into the target, written as
    `mek --in-place` writes a file (the library's safe writer: a temporary
    file beside it, flushed and renamed over it, with the old file's mode,
    owner and extended attributes, through a link as the tool goes through
    one), or tells the first failure in the file's order; the part files and
    their folder are removed either way."""
    names = [_part_name(parts, index) for index in range(len(results))]
    try:
        failure = next((error for _, error in results if error is not None), None)
        if failure is not None:
            return FileResult(source, target, 0, 0, failure)
        output = _mek.Output(target)
        try:
            for name in names:
                handle = os.open(name, os.O_RDONLY | os.O_NOFOLLOW | os.O_CLOEXEC)
                with os.fdopen(handle, "rb") as piece:
                    for chunk in iter(lambda: piece.read(1 << 20), b""):
                        output.write(chunk)
            output.commit()
        except BaseException:
            output.abandon()
            raise
        return FileResult(source, target, bytes_in, sum(n for n, _ in results), None)
    except OSError as error:
        return FileResult(source, target, 0, 0, str(error))
    finally:
        shutil.rmtree(parts, ignore_errors=True)


def _fixed_folder(pattern: str) -> str:
    """The part of a glob before its first wildcard, as a folder."""
    parts = []
    for part in pattern.split(os.sep):
        if glob.has_magic(part):
            break
        parts.append(part)
    else:
        parts = parts[:-1]  # the pattern names one file
    return os.sep.join(parts) or "."


def plan(pattern: str, destination: str) -> List[tuple]:
    """(source, target) for every regular file the glob matches."""
    root = _fixed_folder(pattern)
    pairs = []
    for source in sorted(glob.glob(pattern, recursive=True)):
        if os.path.isfile(source):
            pairs.append((source, os.path.join(destination, os.path.relpath(source, root))))
    return pairs


def run(pattern: str, destination: str, to: str, *, source_code: str = "auto", eol: str = "lf",
        errors: str = "strict", scheduler: Optional[str] = None, workers: int = 2,
        split: int = 64 << 20, out=sys.stdout) -> int:
    """Converts every file the glob matches; answers the exit status."""
    from dask.distributed import Client, LocalCluster

    pairs = plan(pattern, destination)
    if not pairs:
        print(f"mek.dask: no file matches {pattern}", file=sys.stderr)
        return 1
    cluster = None
    if scheduler is None:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
    try:
        with Client(scheduler if scheduler is not None else cluster) as client:
            futures = []
            for s, t in pairs:
                size = os.path.getsize(s)
                code, ranges = split_file(s, size, split, source_code) if size > split else \
                    (source_code, [])
                if not ranges:
                    futures.append(client.submit(convert_file, s, t, to, code or "auto", eol,
                                                 errors, pure=False))
                    continue
                folder = _part_folder(t)
                parts = [client.submit(convert_range, s, folder, k, r, to, code, eol, errors,
                                       pure=False) for k, r in enumerate(ranges)]
                futures.append(client.submit(join_ranges, s, t, folder, parts, size,
                                             pure=False))
            results = client.gather(futures)
    finally:
        if cluster is not None:
            cluster.close()
    failed = [r for r in results if r.error is not None]
    converted = len(results) - len(failed)
    print(f"{converted} of {len(results)} files converted, "
          f"{sum(r.bytes_in for r in results)} bytes in, "
          f"{sum(r.bytes_out for r in results)} bytes out", file=out)
    for result in failed:
        print(f"{result.source}: {result.error}", file=out)
    return 1 if failed else 0


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m mek.dask",
        description="Converts the files SRC_GLOB matches into DEST_DIR over a Dask cluster.")
    parser.add_argument("pattern", metavar="SRC_GLOB", help="the files (quote it; ** recurses)")
    parser.add_argument("destination", metavar="DEST_DIR")
    parser.add_argument("-o", "--to", required=True, help="the output code (utf8, sjis, ...)")
    parser.add_argument("-i", "--source", default="auto", help="the input code (default: detect)")
    parser.add_argument("--eol", default="lf", choices=["lf", "crlf", "cr", "keep"],
                        help="the line endings written (default lf, as the command line)")
    parser.add_argument("--errors", default="strict", choices=["strict", "replace", "skip", "html"])
    parser.add_argument("--scheduler", help="the address of a running Dask scheduler")
    parser.add_argument("--workers", type=int, default=2,
                        help="the processes of the local cluster (default 2)")
    parser.add_argument("--split", type=int, default=64 << 20,
                        help="files larger than this many bytes are converted in ranges "
                             "(default 64 MiB)")
    args = parser.parse_args(argv)
    try:  # an unknown code fails before the cluster starts
        mek.code_name(args.source)
        mek.encode("", args.to)
    except LookupError as error:
        print(f"mek.dask: {error}", file=sys.stderr)
        return 2
    return run(args.pattern, args.destination, args.to, source_code=args.source, eol=args.eol,
               errors=args.errors, scheduler=args.scheduler, workers=args.workers,
               split=args.split)


if __name__ == "__main__":
    # The tasks must name their function as mek.dask.convert_file, which the
    # workers import, not as a function of __main__, which they cannot.
    from mek.dask import main as _main

    sys.exit(_main())
