"""Converts a folder of files across a Dask cluster, one task per file.

    python3 -m mek.dask 'data/*.csv' out/ -o utf8 [--errors replace]
                        [--eol lf] [--scheduler tcp://host:8786]

Each file is converted whole by a worker (its code detected over the whole
file unless --source names it) and written to DEST_DIR under its path
relative to the glob's fixed folder, as `mek --in-place` would write it: a
temporary file beside the target, flushed and renamed over it; nothing is
left of a failed file. Without --scheduler a local cluster of --workers
processes runs the tasks. The source and destination must be on storage
every worker sees. Prints a summary and exits 1 if any file failed.
"""

from __future__ import annotations

import argparse
import glob
import mmap
import os
import sys
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
        out=sys.stdout) -> int:
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
            futures = [client.submit(convert_file, s, t, to, source_code, eol, errors, pure=False)
                       for s, t in pairs]
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
    args = parser.parse_args(argv)
    try:  # an unknown code fails before the cluster starts
        mek.code_name(args.source)
        mek.encode("", args.to)
    except LookupError as error:
        print(f"mek.dask: {error}", file=sys.stderr)
        return 2
    return run(args.pattern, args.destination, args.to, source_code=args.source, eol=args.eol,
               errors=args.errors, scheduler=args.scheduler, workers=args.workers)


if __name__ == "__main__":
    # The tasks must name their function as mek.dask.convert_file, which the
    # workers import, not as a function of __main__, which they cannot.
    from mek.dask import main as _main

    sys.exit(_main())
