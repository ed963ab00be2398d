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
    # A Shift_JIS text cut off in a lead byte is no Shift_JIS text: detection
    # refuses it, and says where it would fail.
    assert (f"bad.txt: cannot detect the input code: it reads as sjis except at byte {len(big)} "
            f"(line {line}, column 1): invalid sjis bytes 82") in run.stdout

    for name in files:
        subprocess.run([TOOL, "-outf8", "--in-place", str(expected / name)], check=True)
        assert (destination / name).read_bytes() == (expected / name).read_bytes(), name
    # Nothing of the failed file, and no temporary file, is left.
    assert sorted(p.name for p in destination.rglob("*")) == sorted(
        ["a.txt", "b.txt", "big.txt", "c.txt", "deep", "d.txt", "e.txt", "f.txt"])
