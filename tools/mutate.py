#!/usr/bin/env python3
"""Mutation run: does the test suite notice small faults in the tool?

Applies one small fault at a time to the product code (a flipped comparison,
a swapped logical operator, a changed constant, a deleted call), rebuilds,
runs the suite, and reports which mutants no test caught and which tests
caught a mutant that no other test caught.

    tools/mutate.py [--build DIR] [--only REGEX] [--tests REGEX] [--record FILE] [FILE...]

Defaults: every .cpp file under generator/ but the Windows one, in a build
folder of its own (build-mutate). The build uses Ninja when it is installed.
--tests runs only the tests it matches; --record writes each mutant and the
tests that caught it as JSON, so that two runs (before and after a change to
the tests) can be compared mutant by mutant.
Run it in a private mount namespace as root (unshare -m) so that a mutant
that replaces the wrong file can reach only that namespace's mounts.
"""
import argparse
import json
import os
import pathlib
import re
import signal
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# (pattern, replacement, label); each applies to the first match on a line.
OPERATORS = [
    (r"==", "!=", "== to !="),
    (r"!=", "==", "!= to =="),
    (r" <= ", " < ", "<= to <"),
    (r" >= ", " > ", ">= to >"),
    (r" < ", " <= ", "< to <="),
    (r" > ", " >= ", "> to >="),
    (r"&&", "||", "&& to ||"),
    (r"\|\|", "&&", "|| to &&"),
    (r"\btrue\b", "false", "true to false"),
    (r"\bfalse\b", "true", "false to true"),
    (r"\(!", "(", "drop !"),
    (r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)(?![\w.])", None, "constant + 1"),
]
CALL_STATEMENT = re.compile(r"^\s*(?:if \(.*\) )?[A-Za-z_][\w:]*\(.*\);\s*$")
SKIP = re.compile(r"^\s*(//|#|\*|/\*)|static_assert")


def mutants(path):
    lines = path.read_text().splitlines(keepends=True)
    for i, line in enumerate(lines):
        if SKIP.search(line) or not line.strip():
            continue
        code = line.split("//")[0]
        for pattern, replacement, label in OPERATORS:
            m = re.search(pattern, code)
            if not m:
                continue
            if replacement is None:
                digits = m.group(1)
                if digits.startswith("0x"):
                    replacement = hex(int(digits, 16) + 1)
                elif digits.startswith("0") and len(digits) > 1:
                    replacement = "0" + oct(int(digits, 8) + 1)[2:]
                else:
                    replacement = str(int(digits) + 1)
            mutated = line[: m.start()] + replacement + line[m.end():]
            yield i, label, lines[:i] + [mutated] + lines[i + 1:]
        if CALL_STATEMENT.match(code) and "return" not in code:
            yield i, "delete call", lines[:i] + ["\n"] + lines[i + 1:]


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, **kw)


def main():
    # Interrupted, still put the mutated file back (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build-mutate")
    ap.add_argument("--only", default="", help="a regular expression for FILE:LINE")
    ap.add_argument("--tests", default="", help="a regular expression for the tests to run")
    ap.add_argument("--record", help="a JSON file: each mutant and the tests that caught it")
    ap.add_argument("files", nargs="*")
    args = ap.parse_args()
    files = [ROOT / f for f in args.files] or sorted(
        p for p in (ROOT / "generator").glob("*.cpp") if "win32" not in p.name)
    build = ROOT / args.build
    gen = ["-G", "Ninja"] if run(["sh", "-c", "command -v ninja"]).returncode == 0 else []
    run(["cmake", "-S", ".", "-B", str(build), *gen, "-DVENTRIM_TEST_WINDOWS=OFF"], check=True)
    if run(["cmake", "--build", str(build)]).returncode != 0:
        sys.exit("the unmutated tree does not build")

    # CTest runs the suite but the integration tests (the consumer builds, and
    # the version test, which builds a copy of the sources), each test in a
    # process group that a timeout ends whole.
    def failing_tests():
        only = ["-R", args.tests] if args.tests else []
        r = subprocess.run(["ctest", "--test-dir", str(build), "-j2", "--timeout", "30", "-E", "^(consumer|version)",
                            *only],
                           cwd=ROOT, capture_output=True, text=True, env={**os.environ, "GTEST_COLOR": "no"})
        failed = r.stdout.partition("The following tests FAILED:")[2]
        return r.returncode, re.findall(r"^\s*\d+ - (\S+) \(", failed, re.M), r.stdout

    rc, failed, out = failing_tests()
    if rc != 0:
        sys.exit(out + "\nthe unmutated tree fails its tests: " + " ".join(failed))

    survived, killed, stillborn = [], 0, 0
    sole_killers, record = {}, {}
    for path in files:
        original = path.read_text()
        try:
            for line, label, text in mutants(path):
                where = f"{path.relative_to(ROOT)}:{line + 1}"
                if not re.search(args.only, where):
                    continue
                path.write_text("".join(text))
                if run(["cmake", "--build", str(build)]).returncode != 0:
                    stillborn += 1
                    continue
                rc, failed, _ = failing_tests()
                record[f"{where} {label}: {text[line].strip()}"] = failed
                if rc == 0:
                    survived.append(f"{where} {label}: {text[line].strip()}")
                    print("SURVIVED", survived[-1], flush=True)
                else:
                    killed += 1
                    if len(failed) == 1:
                        sole_killers.setdefault(failed[0], []).append(f"{where} {label}")
                    print("killed  ", where, label, "by", " ".join(failed), flush=True)
        finally:
            path.write_text(original)
    run(["cmake", "--build", str(build)])
    if args.record:
        pathlib.Path(args.record).write_text(json.dumps(record, indent=1) + "\n")
    total = killed + len(survived)
    print(f"\n{killed} of {total} mutants killed ({100 * killed / max(total, 1):.0f}%), "
          f"{stillborn} did not build.")
    print("Tests that alone caught a mutant:")
    for test, where in sorted(sole_killers.items()):
        print(f"  {test}: {len(where)} ({', '.join(where[:4])}{' ...' if len(where) > 4 else ''})")
    print("Survivors:" if survived else "No survivors.")
    for s in survived:
        print("  " + s)


if __name__ == "__main__":
    main()
