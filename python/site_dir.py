"""Prints where this interpreter looks for packages under PREFIX, relative to
it: the first entry of site.getsitepackages() below PREFIX/lib*, else
lib/python3.X/site-packages. Used by the install step."""

import os
import site
import sys

prefix = os.path.realpath(sys.argv[1])
for folder in site.getsitepackages():
    relative = os.path.relpath(os.path.realpath(folder), prefix)
    if relative.startswith("lib") and not relative.startswith(".."):
        print(relative)
        break
else:
    print(f"lib/python{sys.version_info.major}.{sys.version_info.minor}/site-packages")
