"""python3 -m mek.dask on a local cluster of 2 workers against `mek --in-place`."""

import os
import shutil
import subprocess
import sys

import pytest

pytest.importorskip("dask")
pytest.importorskip("distributed")

TOOL = os.environ.get("MEK_EXECUTABLE", "build/mek")
SOURCE = os.environ.get("MEK_SOURCE_DIR", ".")


def test_folder_over_a_local_cluster(tmp_path):
    source, destination, expected = tmp_path / "in", tmp_path / "out", tmp_path / "expected"
    (source / "deep").mkdir(parents=True)
    text = open(os.path.join(SOURCE, "examples/sample-utf8.txt"), encoding="utf-8").read()
    # A folder of mixed codes and line endings, one file in a subfolder,
    # one empty, and one Shift_JIS file cut off in its third line.
    files = {"a.txt": text.encode("cp932"), "b.txt": text.replace("\n", "\r\n").encode("euc-jp"),
             "c.txt": open(os.path.join(SOURCE, "examples/sample-jis.txt"), "rb").read(), "deep/d.txt": text.encode("utf-16"),
             "e.txt": b"", "f.txt": ("ｶﾅ\n" * 50).encode("cp932")}
    for name, data in files.items():
        (source / name).write_bytes(data)
    # Two files large enough to be cut into ranges (--split 2000): one whole,
    # one cut off in its last range, whose failure is placed in the file.
    big = text.replace("\n", "\r\n").encode("cp932") * 20
    files["big.txt"] = big
    (source / "big.txt").write_bytes(big)
    from mek.dask import split_file
    assert len(split_file(str(source / "big.txt"), len(big), 2000, "auto")[1]) >= 2
    (source / "bad.txt").write_bytes(big + b"\x82")
    shutil.copytree(source, expected)

    run = subprocess.run([sys.executable, "-m", "mek.dask", f"{source}/**/*.txt", str(destination),
                          "-o", "utf8", "--split", "2000"], capture_output=True, text=True,
                         timeout=300)
    assert run.returncode == 1, run.stderr
    assert f"7 of 8 files converted" in run.stdout
    line = big.count(b"\n") + 1
    # A Shift_JIS text cut off in a lead byte: its first lines decide that it
    # is Shift_JIS, and the conversion fails at the cut.
    assert (f"bad.txt: byte {len(big)} (line {line}, column 1): bytes 82 are not valid sjis"
            in run.stdout)

    for name in files:
        subprocess.run([TOOL, "-outf8", "--in-place", str(expected / name)], check=True)
        assert (destination / name).read_bytes() == (expected / name).read_bytes(), name
    # Nothing of the failed file, and no temporary file, is left.
    assert sorted(p.name for p in destination.rglob("*")) == sorted(
        ["a.txt", "b.txt", "big.txt", "c.txt", "deep", "d.txt", "e.txt", "f.txt"])


# The ranges of a large file: part files in a private folder, created new;
# the joined file written as --in-place writes one, through a link and with
# the old file's mode; nothing left beside it.
def test_ranges_join_as_in_place_writes(tmp_path):
    from mek.dask import _part_folder, convert_range, join_ranges, split_file
    text = open(os.path.join(SOURCE, "examples/sample-utf8.txt"), encoding="utf-8").read()
    data = text.encode("cp932") * 20
    source = tmp_path / "big.txt"
    source.write_bytes(data)
    real = tmp_path / "real.txt"
    real.write_bytes(b"old")
    os.chmod(real, 0o640)
    target = tmp_path / "link.txt"
    os.symlink("real.txt", target)
    code, ranges = split_file(str(source), len(data), 2000, "auto")
    assert len(ranges) >= 2
    parts = _part_folder(str(target))
    assert os.stat(parts).st_mode & 0o777 == 0o700
    results = [convert_range(str(source), parts, k, r, "utf8", code, "lf", "strict")
               for k, r in enumerate(ranges)]
    # A part that exists already is never written through.
    assert "File exists" in convert_range(str(source), parts, 0, ranges[0], "utf8", code, "lf",
                                          "strict")[1]
    result = join_ranges(str(source), str(target), parts, results, len(data))
    assert result.error is None
    assert os.path.islink(target) and real.read_bytes() == text.replace("\r\n", "\n").encode() * 20
    assert os.stat(real).st_mode & 0o777 == 0o640
    assert sorted(os.listdir(tmp_path)) == ["big.txt", "link.txt", "real.txt"]
