#!/usr/bin/env python3
"""Keeps the documents readable: no sentence over 50 words, and a table of
contents that matches the headings in each guide over 150 lines.

    tools/sentences.py FILE...

A FILE ending in .md is Markdown; one ending in .1 or .1.in is a man page.
Fenced code, tables, headings, HTML comments and man macros that carry no
text are skipped; a list item, a table-of-contents entry or a man page's tag
is a sentence of its own. Prints each fault as FILE:LINE: ... and exits with
1 when there is one, or when a file cannot be read as what its name says
(an unclosed fence or comment, a man macro it does not know): a check that
cannot read a file must not pass it.
"""
import re
import sys

LIMIT = 50
TOC_AT = 150  # lines

# Abbreviations whose full stop ends no sentence.
ABBREVIATIONS = ("e.g.", "i.e.", "etc.", "vs.", "cf.")
# A sentence ends at . ! or ? (after any closing quote, bracket or code mark)
# before white space.
END = re.compile(r"[.!?][\"')\]`*_]*(?=\s)")


class Unreadable(Exception):
    pass


def sentences(units):
    """Yield (line, sentence) from units of (line, text); text may hold
    newlines, each counting one line on."""
    for line, text in units:
        # A full stop inside code (`cmake -S .`) or an ellipsis ends nothing:
        # they are masked, the text's length and words kept.
        masked = re.sub(r"`[^`]*`", lambda m: re.sub(r"[.!?]", "_", m.group()), text)
        masked = masked.replace("...", "___")
        start = 0
        for match in END.finditer(masked):
            if masked[start:match.end()].lower().endswith(ABBREVIATIONS):
                continue
            yield line + text.count("\n", 0, start), text[start:match.end()]
            start = match.end()
        if text[start:].strip():
            yield line + text.count("\n", 0, start), text[start:]


def words(sentence):
    # A link counts as its text: [text](target) -> text.
    sentence = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", sentence)
    return [w for w in sentence.split() if re.search(r"\w", w)]


class Units:
    """Gathers lines into units of prose: (first line, text)."""

    def __init__(self):
        self.done, self.current = [], None

    def add(self, number, text):
        if self.current is None:
            self.current = [number, text]
        else:
            self.current[1] += "\n" + text

    def flush(self):
        if self.current is not None and self.current[1].strip():
            self.done.append(tuple(self.current))
        self.current = None


LIST_ITEM = re.compile(r"^\s*(?:[-*+]|\d+\.)\s+")


def markdown_units(path, lines):
    """Units of prose in Markdown, and its headings as (line, level, text)."""
    units, headings = Units(), []
    flush = units.flush
    fence = comment = None

    for number, line in enumerate(lines, 1):
        if fence is not None:
            if re.match(r"^\s*" + re.escape(fence[1]) + r"\s*$", line):
                fence = None
            continue
        if comment is not None:
            if "-->" in line:
                comment = None
            continue
        opened = re.match(r"^\s*(```+|~~~+)", line)
        if opened:
            flush()
            fence = (number, opened.group(1))
            continue
        if line.lstrip().startswith("<!--"):
            flush()
            if "-->" not in line:
                comment = number
            continue
        heading = re.match(r"^(#{1,6})\s+(.*?)\s*#*\s*$", line)
        if heading:
            flush()
            headings.append((number, len(heading.group(1)), heading.group(2)))
            continue
        if not line.strip() or line.lstrip().startswith("|"):
            flush()
            continue
        if LIST_ITEM.match(line):
            flush()
            line = LIST_ITEM.sub("", line)
        units.add(number, line)
    flush()
    if fence is not None:
        raise Unreadable(f"{path}:{fence[0]}: a code fence {fence[1]} is never closed")
    if comment is not None:
        raise Unreadable(f"{path}:{comment}: an HTML comment is never closed")
    return units.done, headings


def anchor(heading):
    """The anchor GitHub gives a heading."""
    text = re.sub(r"`", "", heading).strip().lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def check_contents(path, lines, headings):
    """A guide over TOC_AT lines lists each of its sections (## headings) in a
    table of contents of [heading](#anchor) links, and each link names a
    heading of the file by its own text."""
    faults = []
    if len(lines) <= TOC_AT:
        return faults
    entries = [(n, m.group(1), m.group(2)) for n, line in enumerate(lines, 1)
               for m in [re.match(r"^\s*- \[([^\]]+)\]\(#([^)]+)\)\s*$", line)] if m]
    if not entries:
        return [f"{path}:1: {len(lines)} lines and no table of contents"]
    by_anchor = {}
    for _, _, text in headings:
        slug = anchor(text)
        suffix, unique = 0, slug
        while unique in by_anchor:
            suffix += 1
            unique = f"{slug}-{suffix}"
        by_anchor[unique] = text
    listed = set()
    for number, text, target in entries:
        if target not in by_anchor:
            faults.append(f"{path}:{number}: the contents link #{target} names no heading")
        elif by_anchor[target] != text:
            faults.append(f"{path}:{number}: the contents say '{text}' for the heading '{by_anchor[target]}'")
        listed.add(target)
    for number, level, text in headings:
        if level == 2 and anchor(text) not in listed:
            faults.append(f"{path}:{number}: the section '{text}' is not in the contents")
    return faults


# Man macros: those whose arguments are text, those that break a paragraph,
# and those that carry no prose.
MAN_TEXT = {"B", "I", "BR", "RB", "BI", "IB", "IR", "RI", "SM", "SB"}
MAN_BREAK = {"PP", "LP", "P", "TP", "IP", "RS", "RE", "br", "sp", "in", "ti"}
MAN_SKIP = {"TH", "SH", "SS", "ad", "na", "hy", "nh", "ne"}


def man_text(text):
    text = re.sub(r"\\f[BIRP]|\\f\([A-Z]{2}|\\&|\\c", "", text)
    text = re.sub(r"\\\(dq", '"', text)
    text = re.sub(r"\\\([a-z]{2}", "-", text)
    return text.replace("\\-", "-").replace("\\e", "\\")


def man_units(path, lines):
    units = Units()
    nofill, tag = None, False
    for number, line in enumerate(lines, 1):
        macro = re.match(r"^[.'](\S*)\s*(.*)$", line)
        name = macro.group(1) if macro else None
        if nofill is not None:
            nofill = None if name == "fi" else nofill
        elif not macro or name in MAN_TEXT:
            if macro:  # .BR and the like alternate fonts without a space between
                args = [a or b for a, b in re.findall(r'"([^"]*)"|(\S+)', macro.group(2))]
                line = ("" if len(name) == 2 and name not in ("SM", "SB") else " ").join(args)
            units.add(number, man_text(line))
            if tag:  # a .TP tag is a unit of its own
                units.flush()
        elif name in MAN_SKIP or name in MAN_BREAK or name == "nf":
            units.flush()
            nofill = number if name == "nf" else None
        elif name and not name.startswith('\\"'):
            raise Unreadable(f"{path}:{number}: the man macro .{name} is not one this check reads")
        tag = name == "TP"
    units.flush()
    if nofill is not None:
        raise Unreadable(f"{path}:{nofill}: .nf is never ended by .fi")
    return units.done


def check(path):
    with open(path, encoding="utf-8") as handle:
        lines = handle.read().split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if path.endswith(".md"):
        units, headings = markdown_units(path, lines)
        faults = check_contents(path, lines, headings)
    elif path.endswith((".1", ".1.in")):
        units, faults = man_units(path, lines), []
    else:
        raise Unreadable(f"{path}: neither Markdown (.md) nor a man page (.1, .1.in)")
    for number, sentence in sentences(units):
        count = len(words(sentence))
        if count > LIMIT:
            faults.append(f"{path}:{number}: a sentence of {count} words: {' '.join(sentence.split())}")
    return faults


def main(paths):
    if not paths:
        print("usage: tools/sentences.py FILE...", file=sys.stderr)
        return 2
    faults = []
    try:
        for path in paths:
            faults += check(path)
    except (Unreadable, OSError, UnicodeDecodeError) as error:
        print(f"sentences.py: {error}", file=sys.stderr)
        return 1
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
