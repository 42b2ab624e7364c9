#!/usr/bin/env python3
"""Counts the project's C and C++ code: non-blank lines that are not only comments, in the
files git tracks, grouped as product, bench, examples and tests (tests/ plus fuzz/), and prints
the tests' share of all of it. The generated glue in include/support/details/ has no file
ending and is counted with the product.

Usage: scripts/count-lines.py [--by-folder]"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ENDINGS = (".c", ".cc", ".cpp", ".h", ".hpp")


def code_lines(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    # Block comments become blank lines, then line comments are cut. A "//" inside a string
    # literal is rare enough here not to matter for a size figure.
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    return sum(1 for line in text.split("\n") if re.sub(r"//.*", "", line).strip())


def group_of(path):
    top = path.split("/")[0]
    if top in ("tests", "fuzz"):
        return "tests"
    if top in ("bench", "examples"):
        return top
    return "product"


def main():
    files = subprocess.check_output(["git", "ls-files"], cwd=ROOT, text=True).split()
    totals, folders = {}, {}
    for path in files:
        if not (path.endswith(ENDINGS) or path.startswith("include/support/details/")):
            continue
        lines = code_lines(os.path.join(ROOT, path))
        group = group_of(path)
        totals[group] = totals.get(group, 0) + lines
        folder = "/".join(path.split("/")[:2]) if "/" in path else path
        folders[folder] = folders.get(folder, 0) + lines
    if "--by-folder" in sys.argv:
        for folder, lines in sorted(folders.items()):
            print(f"{lines:6} {folder}")
    everything = sum(totals.values())
    for group in ("product", "bench", "examples", "tests"):
        print(f"{group:9} {totals.get(group, 0):6}")
    share = totals.get("tests", 0) / everything if everything else 0.0
    print(f"all       {everything:6}")
    print(f"tests (tests/ + fuzz/) are {share:.1%} of all C/C++ code")


if __name__ == "__main__":
    main()
