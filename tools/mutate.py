#!/usr/bin/env python3
"""Mutation run: does the test suite notice small faults in the tool?

Applies one small fault at a time to the product code (a flipped comparison,
a swapped logical operator, a changed constant, a deleted call or command),
rebuilds, runs the tests that judge it, and reports which mutants no test
caught and which tests caught a mutant that no other test caught.

    tools/mutate.py [--kind posix|win32|cmake] [--build DIR] [--only REGEX]
                    [--sample N --seed S] [--tests REGEX] [--record FILE] [FILE...]

Three kinds of code, each with its own build folder and tests:
- posix: generator/*.cpp but the Windows files; the tool is rebuilt and judged
  by every test but the integration ones (consumer, version, example,
  stamp_diff) and Wine's, in build-mutate (configured without Windows).
- win32: generator/*_win32.cpp; ventrim.exe is cross-built again and judged by
  the tests labelled wine, in build-mutate-win.
- cmake: cmake/*.cmake and cmake/*.in; the build folder is configured again
  (its copy of the package) and the CMake functions are judged by the
  consumer, stamp_diff and example tests, in build-mutate-win.
FILE arguments choose the kind by their path. A rebuild that does not compile
the mutated file again (or, for CMake, leaves the folder's copy unchanged)
stops the run: a mutant judged on the unmutated tool would count as survived.

--sample N --seed S draws N mutants uniformly from all those of the files (and
--only), the same N for the same seed; one that does not build is replaced by
the next drawn. --tests runs only the tests it matches in place of the kind's.
--record writes each mutant and the tests that caught it as JSON, so that two
runs (before and after a change to the tests) can be compared mutant by mutant.
Run it in a private mount namespace as root (unshare -m) so that a mutant
that replaces the wrong file can reach only that namespace's mounts.
"""
import argparse
import json
import os
import pathlib
import random
import re
import signal
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# (pattern, replacement, label); each applies to the first match on a line.
CPP_OPERATORS = [
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

# CMake's: matched outside quoted strings and comments. A STREQUAL made false
# whatever its operands: a STREQUAL "~never~" AND "" STREQUAL b (AND binds last).
CMAKE_OPERATORS = [
    (r"\bNOT ", "", "drop NOT"),
    (r"\bAND\b", "OR", "AND to OR"),
    (r"\bOR\b", "AND", "OR to AND"),
    (r" STREQUAL ", ' STREQUAL "~never~" AND "" STREQUAL ', "STREQUAL to false"),
    (r"\b((?:VERSION_|STR)?(?:LESS|GREATER))_EQUAL\b", r"\1", "X_EQUAL to X"),
    (r"\b((?:VERSION_|STR)?)LESS\b", r"\1GREATER", "LESS to GREATER"),
    (r"\b((?:VERSION_|STR)?)GREATER\b", r"\1LESS", "GREATER to LESS"),
    (r"(?<!<)\b((?:VERSION_)?)EQUAL\b", r"\1LESS", "EQUAL to LESS"),
    (r"\bPRIVATE\b", "PUBLIC", "PRIVATE to PUBLIC"),
    (r"\bPUBLIC\b", "PRIVATE", "PUBLIC to PRIVATE"),
    (r"\bINTERFACE\b", "PUBLIC", "INTERFACE to PUBLIC"),
    (r"(?<![\w.$])(\d+)(?![\w.])", None, "constant + 1"),
]
BLOCKS = re.compile(r"^\s*(if|elseif|else|endif|foreach|endforeach|while|endwhile|function|endfunction"
                    r"|macro|endmacro|block|endblock|include_guard|cmake_policy|cmake_minimum_required)\s*\(", re.I)
COMMAND = re.compile(r"^\s*[A-Za-z_]\w*\s*\(")

KINDS = {
    "posix": dict(build="build-mutate", windows="OFF", target=None, timeout=120,
                  select=["-E", "^(consumer|version|wine|example|stamp_diff)"]),
    "win32": dict(build="build-mutate-win", windows="ON", target="ventrim_windows", timeout=90,
                  select=["-L", "^wine$"]),
    "cmake": dict(build="build-mutate-win", windows="ON", target="ventrim", timeout=900,
                  select=["-R", "^(consumer|stamp_diff|example)"]),
}


def kind_of(path):
    if path.suffix in (".cmake", ".in") and path.parent.name == "cmake":
        return "cmake"
    return "win32" if path.name.endswith("_win32.cpp") else "posix"


def default_files(kind):
    if kind == "cmake":
        return sorted([*(ROOT / "cmake").glob("*.cmake"), *(ROOT / "cmake").glob("*.in")])
    return sorted(p for p in (ROOT / "generator").glob("*.cpp") if kind_of(p) == kind)


def constant_plus_one(digits):
    if digits.startswith("0x"):
        return hex(int(digits, 16) + 1)
    if digits.startswith("0") and len(digits) > 1:
        return "0" + oct(int(digits, 8) + 1)[2:]
    return str(int(digits) + 1)


def cpp_mutants(lines):
    for i, line in enumerate(lines):
        if SKIP.search(line) or not line.strip():
            continue
        code = line.split("//")[0]
        for pattern, replacement, label in CPP_OPERATORS:
            m = re.search(pattern, code)
            if m:
                new = replacement or constant_plus_one(m.group(1))
                yield i, i, label, line[: m.start()] + new + line[m.end():]
        if CALL_STATEMENT.match(code) and "return" not in code:
            yield i, i, "delete call", "\n"


def cmake_code(lines):
    """Each line with quoted text and comments blanked (same length), so that
    a match's place is the line's; and where each command's call ends."""
    codes, in_bracket, quoted, escaped = [], None, False, False
    for line in lines:
        if in_bracket:
            codes.append(" " * len(line))
            if in_bracket in line:
                in_bracket = None
            continue
        m = re.match(r"^\s*#\[(=*)\[", line)
        if m and not quoted:
            in_bracket = "]" + m.group(1) + "]"
            codes.append(" " * len(line))
            continue
        out = []
        for c in line:
            if quoted:
                out.append('"' if c == '"' and not escaped else " ")
                quoted = c != '"' or escaped
                escaped = c == "\\" and not escaped
            elif c == "#":
                break
            else:
                out.append(c)
                quoted = c == '"'
        codes.append("".join(out).ljust(len(line)))
    return codes


def cmake_mutants(lines):
    codes = cmake_code(lines)
    for i, (line, code) in enumerate(zip(lines, codes)):
        if not code.strip():
            continue
        for pattern, replacement, label in CMAKE_OPERATORS:
            m = re.search(pattern, code)
            if m:
                new = m.expand(replacement) if replacement is not None else constant_plus_one(m.group(1))
                yield i, i, label, line[: m.start()] + new + line[m.end():]
        if COMMAND.match(code) and not BLOCKS.match(code):
            depth, end = 0, i
            for end in range(i, len(lines)):
                depth += codes[end].count("(") - codes[end].count(")")
                if depth <= 0:
                    break
            yield i, end, "delete command", "\n" * (end - i + 1)


def mutants(path):
    lines = path.read_text().splitlines(keepends=True)
    found = cmake_mutants(lines) if kind_of(path) == "cmake" else cpp_mutants(lines)
    for first, last, label, text in found:
        where = f"{path.relative_to(ROOT)}:{first + 1}"
        shown = text.strip() or " ".join(l.strip() for l in lines[first:last + 1])
        yield dict(path=path, where=where, label=label, shown=shown,
                   text="".join(lines[:first] + [text] + lines[last + 1:]))


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, **kw)


def stale(build, mutant, since):
    """Why the build did not take the mutated file, or None."""
    path = mutant["path"]
    if kind_of(path) == "cmake":
        copy = build / path.name
        if copy.exists() and copy.read_text() != mutant["text"]:
            return f"{copy} is not the mutated {path.name}"
        return None
    objects = [o for o in build.rglob(path.name + ".o*") if o.suffix in (".o", ".obj")]
    if not objects:
        return f"no object of {path.name} under {build}"
    old = [str(o) for o in objects if o.stat().st_mtime_ns < since]
    return f"not compiled again: {' '.join(old)}" if old else None


def main():
    # Interrupted, still put the mutated file back (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    ap = argparse.ArgumentParser()
    ap.add_argument("--kind", choices=KINDS, help="posix (the default), win32 or cmake; FILEs name it")
    ap.add_argument("--build", help="the build folder (build-mutate, or build-mutate-win for win32 and cmake)")
    ap.add_argument("--only", default="", help="a regular expression for FILE:LINE")
    ap.add_argument("--sample", type=int, help="draw this many mutants that build, uniformly")
    ap.add_argument("--seed", type=int, default=1, help="the draw's seed (1)")
    ap.add_argument("--tests", default="", help="a regular expression for the tests to run, in place of the kind's")
    ap.add_argument("--record", help="a JSON file: each mutant and the tests that caught it")
    ap.add_argument("files", nargs="*")
    args = ap.parse_args()
    files = [pathlib.Path(f).resolve() for f in args.files]
    kinds = {kind_of(f) for f in files} | ({args.kind} if args.kind else set())
    if len(kinds) > 1:
        sys.exit("one kind of file a run: " + ", ".join(sorted(kinds)))
    kind = kinds.pop() if kinds else "posix"
    conf = KINDS[kind]
    files = files or default_files(kind)
    build = ROOT / (args.build or conf["build"])
    target = ["--target", conf["target"]] if conf["target"] else []
    gen = ["-G", "Ninja"] if run(["sh", "-c", "command -v ninja"]).returncode == 0 else []
    run(["cmake", "-S", ".", "-B", str(build), *gen, f"-DVENTRIM_TEST_WINDOWS={conf['windows']}"], check=True)
    if run(["cmake", "--build", str(build), "--parallel", "2"]).returncode != 0:
        sys.exit("the unmutated tree does not build")
    if kind == "win32" and not any((build / "tests").glob("windows-*/ventrim.exe")):
        sys.exit("this build folder has no Windows build (mingw-w64 and Wine are needed)")

    # CTest runs the kind's tests, each in a process group that a timeout ends whole.
    def failing_tests():
        select = ["-R", args.tests] if args.tests else conf["select"]
        r = subprocess.run(["ctest", "--test-dir", str(build), "-j2", "--timeout", str(conf["timeout"]), *select],
                           cwd=ROOT, capture_output=True, text=True, env={**os.environ, "GTEST_COLOR": "no"})
        failed = r.stdout.partition("The following tests FAILED:")[2]
        return r.returncode, re.findall(r"^\s*\d+ - (\S+) \(", failed, re.M), r.stdout

    rc, failed, out = failing_tests()
    if rc != 0:
        sys.exit(out + "\nthe unmutated tree fails its tests: " + " ".join(failed))
    tests_run = re.findall(r"^\s*\d+/\d+ Test\s+#\d+: (\S+) \.", out, re.M)
    if not tests_run:
        sys.exit(out + "\nno test to judge a mutant by")

    pool = [m for path in files for m in mutants(path) if re.search(args.only, m["where"])]
    if args.sample is not None:
        random.Random(args.seed).shuffle(pool)
    wanted = len(pool) if args.sample is None else min(args.sample, len(pool))
    print(f"{kind}: {len(pool)} mutants in {len(files)} files; running {wanted}", flush=True)

    survived, killed, stillborn = [], 0, 0
    sole_killers, record = {}, {}
    for mutant in pool:
        if killed + len(survived) == wanted:
            break
        path = mutant["path"]
        original = path.read_text()
        try:
            path.write_text(mutant["text"])
            since = path.stat().st_mtime_ns
            if run(["cmake", "--build", str(build), *target]).returncode != 0:
                stillborn += 1
                print("stillborn", mutant["where"], mutant["label"], flush=True)
                continue
            why = stale(build, mutant, since)
            if why:
                sys.exit(f"{mutant['where']} {mutant['label']}: the rebuild did not take the mutant: {why}")
            rc, failed, _ = failing_tests()
        finally:
            path.write_text(original)
        name = f"{mutant['where']} {mutant['label']}: {mutant['shown']}"
        record[name] = failed
        if args.record:  # kept as it grows: a run stopped early still tells what it judged
            pathlib.Path(args.record).write_text(json.dumps(record, indent=1) + "\n")
        if rc == 0:
            survived.append(name)
            print("SURVIVED", name, flush=True)
        else:
            killed += 1
            if len(failed) == 1:
                sole_killers.setdefault(failed[0], []).append(f"{mutant['where']} {mutant['label']}")
            print("killed  ", mutant["where"], mutant["label"], "by", " ".join(failed) or "ctest", flush=True)
    run(["cmake", "--build", str(build), *target])
    total = killed + len(survived)
    print(f"\n{killed} of {total} mutants killed ({100 * killed / max(total, 1):.0f}%), "
          f"{stillborn} did not build.")
    print("Tests that alone caught a mutant:")
    for test, where in sorted(sole_killers.items()):
        print(f"  {test}: {len(where)} ({', '.join(where[:4])}{' ...' if len(where) > 4 else ''})")
    print("Tests run that caught no mutant alone: " + " ".join(t for t in tests_run if t not in sole_killers))
    print("Survivors:" if survived else "No survivors.")
    for s in survived:
        print("  " + s)


if __name__ == "__main__":
    main()
