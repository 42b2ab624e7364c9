#!/usr/bin/env python3
"""Measures how many faults the native Debug suite finds.

Applies, one at a time, each single-point mutation listed in scripts/mutants.txt to the product
code, rebuilds incrementally, runs the suite and prints the mutant as `killed`, `survived`,
`did not build` or `did not apply` (its original text is no longer in the file), then a last
line `killed K of N`. Every file is restored after its mutant, also when the run is
interrupted.

Each mutant's test run has a file-size limit and a time limit: a mutant that reports a longer
read than it delivered can turn a copy loop into an endless writer.

The mutant list (scripts/mutants.txt) holds blocks of three lines:
    @ path/to/file.cpp            (optionally `@ path #N` for the N-th occurrence, from 1)
    - original text               (exactly as it stands in the file, on one line)
    + replacement text            (`+` alone deletes the original)
Blank lines and lines starting with `#` are ignored. Mutants are numbered in list order.

Usage: scripts/mutants.py [--build DIR] [--only 3,7-9] [--tests REGEX] [--check] [--keep-going]
  --check   only verifies that every original is found; builds and runs nothing
  --tests   runs only the tests whose names match (ctest -R), e.g. "network|sftp" for the
            mutants of a library only those tests load
Run it on a clean work tree: it edits product files in place while it runs.
"""
import argparse
import os
import resource
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Bytes any one test may write to a file: above the sparse files past 4 GiB that the position
# tests make, far below what an endless writer would fill.
FILE_LIMIT = 6 * 1024 * 1024 * 1024
SUITE_SECONDS = 240             # the whole suite, per mutant
TEST_SECONDS = 60               # one test, per mutant


def parse(path):
    mutants, current = [], None
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            tag, text = line[:1], line[2:] if len(line) > 1 else ""
            if tag == "@":
                target, _, occurrence = text.partition(" #")
                current = {"file": target.strip(), "nth": int(occurrence or 1), "line": number}
            elif tag == "-" and current is not None and "old" not in current:
                current["old"] = text
            elif tag == "+" and current is not None and "old" in current:
                current["new"] = text
                mutants.append(current)
                current = None
            else:
                sys.exit(f"{path}:{number}: expected '@ file', '- original' or '+ replacement'")
    for index, mutant in enumerate(mutants, 1):
        mutant["id"] = f"M{index:03d}"
    return mutants


def locate(source, mutant):
    """Offset of the mutant's original in `source`, or -1."""
    start = -1
    for _ in range(mutant["nth"]):
        start = source.find(mutant["old"], start + 1)
        if start < 0:
            return -1
    return start


def select(mutants, only):
    if not only:
        return mutants
    wanted = set()
    for part in only.split(","):
        low, _, high = part.partition("-")
        wanted.update(range(int(low), int(high or low) + 1))
    return [m for i, m in enumerate(mutants, 1) if i in wanted]


def limit_test_process():
    resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_LIMIT, FILE_LIMIT))
    os.setsid()


def run(command, build, timeout, limited):
    process = subprocess.Popen(command, cwd=build, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL,
                               preexec_fn=limit_test_process if limited else os.setsid)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        return None


def configure(build):
    if os.path.exists(os.path.join(build, "CMakeCache.txt")):
        return
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                    "-DSL_WARNINGS_AS_ERRORS=OFF"], check=True, stdout=subprocess.DEVNULL)


def build_tree(build):
    return subprocess.run(["cmake", "--build", build], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def entries_of(folder):
    return set(os.listdir(folder)) if os.path.isdir(folder) else set()


def test_tree(build, kept, only_tests=None):
    """Runs the suite; afterwards removes whatever the run left in the test executables' folder
    (their working folder), so that a mutant whose tests leave files behind cannot make the
    tests of every later mutant fail. `kept` is what that folder held after the build."""
    # --stop-on-failure: one failing test is enough to call the mutant killed.
    selection = ["-R", only_tests] if only_tests else []
    code = run(["ctest", "-j2", "--timeout", str(TEST_SECONDS), "--stop-on-failure"] + selection,
               build, SUITE_SECONDS, limited=True)
    folder = os.path.join(build, "bin")
    for name in entries_of(folder) - kept:
        path = os.path.join(folder, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            os.remove(path)
    return code == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--list", default=os.path.join(ROOT, "scripts", "mutants.txt"))
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "mutants"))
    parser.add_argument("--only", help="mutant numbers, e.g. 1,4-9")
    parser.add_argument("--check", action="store_true", help="only check that each applies")
    parser.add_argument("--tests", help="run only the tests matching this ctest -R expression")
    args = parser.parse_args()

    mutants = select(parse(args.list), args.only)
    sources = {}
    for mutant in mutants:
        path = os.path.join(ROOT, mutant["file"])
        if path not in sources:
            with open(path, encoding="utf-8") as f:
                sources[path] = f.read()
        mutant["path"] = path
        mutant["at"] = locate(sources[path], mutant)

    if args.check:
        missing = [m for m in mutants if m["at"] < 0]
        for m in missing:
            print(f"{m['id']} did not apply  {m['file']}: {m['old']}")
        print(f"{len(mutants) - len(missing)} of {len(mutants)} apply")
        return 1 if missing else 0

    configure(args.build)
    ok = build_tree(args.build)
    kept = entries_of(os.path.join(args.build, "bin"))
    if not ok or not test_tree(args.build, kept, args.tests):
        sys.exit("the unmutated tree does not build or does not pass its tests")

    def restore_all(*_):
        for path, text in sources.items():
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        if _:
            sys.exit(130)

    signal.signal(signal.SIGINT, restore_all)
    signal.signal(signal.SIGTERM, restore_all)
    killed = 0
    counts = {}
    started = time.time()
    try:
        for mutant in mutants:
            original = sources[mutant["path"]]
            if mutant["at"] < 0:
                verdict = "did not apply"
            else:
                at = mutant["at"]
                mutated = original[:at] + mutant["new"] + original[at + len(mutant["old"]):]
                with open(mutant["path"], "w", encoding="utf-8") as f:
                    f.write(mutated)
                if not build_tree(args.build):
                    verdict = "did not build"
                elif test_tree(args.build, kept, args.tests):
                    verdict = "survived"
                else:
                    verdict = "killed"
                with open(mutant["path"], "w", encoding="utf-8") as f:
                    f.write(original)
            killed += verdict == "killed"
            counts[verdict] = counts.get(verdict, 0) + 1
            print(f"{mutant['id']} {verdict:13} {mutant['file']}: {mutant['old'].strip()}",
                  flush=True)
    finally:
        restore_all()
        build_tree(args.build)
    minutes = (time.time() - started) / 60
    summary = ", ".join(f"{n} {v}" for v, n in sorted(counts.items()))
    print(f"({summary}; {minutes:.1f} min)")
    print(f"killed {killed} of {len(mutants)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
