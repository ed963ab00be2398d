"""Every Python example of the README runs as written, in a folder that has
the repository's examples/ (the files the examples read)."""

import os
import re
import shutil

import pytest

SOURCE = os.environ.get("MEK_SOURCE_DIR", ".")


def examples():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        return re.findall(r"^```python\n(.*?)^```", f.read(), re.S | re.M)


@pytest.mark.parametrize("number", range(len(examples())))
def test_readme_example_runs(number, tmp_path, monkeypatch):
    pytest.importorskip("pandas")
    shutil.copytree(os.path.join(SOURCE, "examples"), tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    exec(compile(examples()[number], f"README.md python example {number + 1}", "exec"), {})


def test_the_readme_has_python_examples():
    assert examples()
