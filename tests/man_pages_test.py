#!/usr/bin/env python3
"""The Japanese manual pages say what the English ones say where a script or
a user compares them: the same title line, sections in the same order, the
same synopsis, option and exit-status lists, the tools' messages as the tools
print them, and the same examples. Each row of ROWS compares one of these for
every page; a failure prints both lists.

With --render, each Japanese page is rendered by man at 80 columns instead:
groff breaks no Japanese line by itself, so the pages are written unfilled
in short lines, and a line too long or a paragraph left filled shows here as
a warning or a line wider than 80 columns.

    man_pages_test.py [--render] MAN_FOLDER   (English pages; Japanese in ja/)
"""
import os
import re
import shutil
import subprocess
import sys
import unicodedata
from pathlib import Path

PAGES = ["d88extract", "d88info", "d88mount", "d88put"]

# English section name, Japanese section name.
SECTIONS = [
    ("NAME", "名前"),
    ("SYNOPSIS", "書式"),
    ("DESCRIPTION", "説明"),
    ("OPTIONS", "オプション"),
    ("OUTPUT", "出力"),
    ("FILES WRITTEN", "書き出すファイル"),
    ("MESSAGES", "メッセージ"),
    ("EXIT STATUS", "終了ステータス"),
    ("EXAMPLES", "例"),
    ("SEE ALSO", "関連項目"),
]
JAPANESE_NAME = dict(SECTIONS)


def decode(line):
    """A roff line with its \\[uXXXX] characters written out."""
    return re.sub(r"\\\[u([0-9A-F]{4})\]", lambda m: chr(int(m.group(1), 16)), line)


def read_page(path):
    """The page's title line and its sections, as lists of source lines."""
    title = None
    sections = {}
    order = []
    current = None
    for line in path.read_text(encoding="utf-8").splitlines():
        line = decode(line)
        if line.startswith('.\\"'):
            continue
        if line.startswith(".TH "):
            title = line
        elif line.startswith(".SH "):
            current = line[4:].strip('"')
            order.append(current)
            sections[current] = []
        elif current is not None:
            sections[current].append(line)
    return title, order, sections


def title_fields(page, _):
    """The .TH line without its last field, the manual's (translated) name."""
    title, _, _ = page
    return re.findall(r'"[^"]*"|\S+', title)[:-1]


def section_order(page, language):
    _, order, _ = page
    if language == "en":
        return [JAPANESE_NAME.get(name, "?" + name) for name in order]
    return order


def section_lines(name, keep):
    """The lines of one section (its English name) that keep() selects."""

    def entries(page, language):
        _, _, sections = page
        lines = sections.get(name if language == "en" else JAPANESE_NAME[name], [])
        return keep(lines)

    return entries


def every_line(lines):
    return [line for line in lines if line not in (".nf", ".fi")]


def tags(lines):
    """The tag line of each .TP and .TQ: an option, a message or a status."""
    return [lines[i + 1] for i, line in enumerate(lines[:-1]) if line in (".TP", ".TQ")]


def examples(page, _):
    """Every line between .EX and .EE, anywhere in the page."""
    _, order, sections = page
    found = []
    for name in order:
        inside = False
        for line in sections[name]:
            if line == ".EX":
                inside = True
            elif line == ".EE":
                inside = False
            elif inside:
                found.append(line)
    return found


# What is compared, how it is read, and whether the English page must have
# some of it (so that a section renamed on both sides cannot pass empty).
ROWS = [
    ("title line", title_fields, True),
    ("sections", section_order, True),
    ("synopsis", section_lines("SYNOPSIS", every_line), True),
    ("options", section_lines("OPTIONS", tags), True),
    ("messages", section_lines("MESSAGES", tags), True),
    ("exit statuses", section_lines("EXIT STATUS", tags), True),
    ("examples", examples, False),
]


def columns(line):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in line)


def render(folder):
    """Renders every Japanese page; returns the number that fail."""
    # C.UTF-8 renders them as a Japanese locale does, and is always there.
    environment = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    failures = 0
    for name in PAGES:
        page = folder / "ja" / f"{name}.1"
        shown = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", str(page)],
                               capture_output=True, text=True, encoding="utf-8",
                               env=environment, check=False)
        # Message tags are English, as the tools print them, and may be wider.
        wide = [line for line in shown.stdout.splitlines()
                if not line.isascii() and columns(line) > 80]
        if shown.returncode != 0 or shown.stderr or wide or "名前" not in shown.stdout:
            print(f"ja/{name}.1: status {shown.returncode}\n{shown.stderr}", end="")
            for line in wide:
                print(f"  wider than 80 columns: {line}")
            failures += 1
    return failures


def main():
    arguments = sys.argv[1:]
    rendering = arguments[:1] == ["--render"]
    if rendering:
        arguments = arguments[1:]
    if len(arguments) != 1:
        sys.exit(__doc__)
    folder = Path(arguments[0])
    if rendering:
        if not shutil.which("man"):
            sys.exit("man not found (Debian: man-db)")
        if render(folder):
            sys.exit(1)
        print(f"{len(PAGES)} Japanese pages render at 80 columns without warnings")
        return
    failures = 0
    for name in PAGES:
        english = read_page(folder / f"{name}.1")
        japanese = read_page(folder / "ja" / f"{name}.1")
        for what, read, required in ROWS:
            want = read(english, "en")
            got = read(japanese, "ja")
            if required and not want:
                print(f"{name}.1: the English page has no {what}")
                failures += 1
            elif want != got:
                print(f"{name}.1: the {what} differ")
                print("  English:  " + "\n            ".join(map(str, want)))
                print("  Japanese: " + "\n            ".join(map(str, got)))
                failures += 1
    if failures:
        sys.exit(1)
    print(f"{len(PAGES)} pages, {len(ROWS)} comparisons each: the same")


if __name__ == "__main__":
    main()
