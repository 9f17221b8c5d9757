#!/usr/bin/env python3
"""d88mount's manual page lists the messages d88mount writes, and only those.
The messages are read from mount/*.cpp: each text given to the log, each
error of the opening (printed after "error: "), each error of the writer,
and each format written to standard error, its parts that are not string
literals standing for any text. Each must match a message tag of the page's
MESSAGES section (italic words stand for any text), and each tag must match
one of them, but for the tags of messages that d88put's code writes.

    mount_messages_test.py ROOT
"""
import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from put_messages_test import message_patterns  # noqa: E402

# What a variable holds where the text is made elsewhere.
SUBSTITUTES = {
    "refusal": ["it has 2 hard links, which replacing it would split (unmount, and use d88put -o)",
                "you may not write it (unmount, and use d88put -o)"],
}
# Tags of messages that d88put's planner and replacement write, listed for
# the mount's reader too.
FROM_D88PUT = [
    "error: 000/S001 is 301 bytes, the disk's file 300: files cannot change size",
    "removed /home/me/game.d88.d88put-tmp, left by a run that was killed",
]
# Texts the code could make but never writes: adding and removing a file
# move no other.
NEVER_WRITTEN = {"X added, later files moved", "X removed, later files moved"}
# Texts that wrap another: the log's prefix and the opening's error line.
WRAPPERS = {"d88mount: X", "error: X"}
ANY = "X"


def balanced(text, start):
    """The text from start (just inside an opening parenthesis or brace) to
    its closing one, strings skipped."""
    depth, i, quote = 1, start, None
    while i < len(text):
        c = text[i]
        if quote:
            if c == "\\":
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif c in "({":
            depth += 1
        elif c in ")}":
            depth -= 1
            if depth == 0:
                return text[start:i]
        i += 1
    raise ValueError("unbalanced at " + text[start:start + 40])


def split_top(expression, separators):
    """expression split at separators outside strings and parentheses."""
    parts, depth, quote, current, i = [], 0, None, "", 0
    while i < len(expression):
        c = expression[i]
        if quote:
            current += c
            if c == "\\":
                current += expression[i + 1]
                i += 1
            elif c == quote:
                quote = None
        elif c in "\"'":
            quote = c
            current += c
        elif c in "([{":
            depth += 1
            current += c
        elif c in ")]}":
            depth -= 1
            current += c
        elif depth == 0 and c in separators and expression[i:i + 2] != "::" and \
                expression[i - 1:i + 1] != "::":
            parts.append((current, c))
            current = ""
        else:
            current += c
        i += 1
    parts.append((current, None))
    return parts


def variants(expression):
    """Every text the C++ expression can make, other parts as ANY."""
    expression = expression.strip()
    pieces = split_top(expression, "?:")
    # a ? b : c, and a ? b : c ? d : e, the chain's later ternaries its last branch.
    if len(pieces) >= 3 and pieces[0][1] == "?" and pieces[1][1] == ":":
        rest = "".join(text + (separator or "") for text, separator in pieces[2:])
        return variants(pieces[1][0]) + variants(rest)
    texts = [""]
    for term, _ in split_top(expression, "+"):
        term = term.strip()
        if re.fullmatch(r'("(?:[^"\\]|\\.)*"\s*)+', term):
            made = ["".join(bytes(s, "utf-8").decode("unicode_escape")
                            for s in re.findall(r'"((?:[^"\\]|\\.)*)"', term))]
        elif term.startswith("(") and term.endswith(")"):
            made = variants(term[1:-1])
        elif term in ("std::string()", "{}"):
            made = [""]
        elif re.fullmatch(r'std::string\(\s*"(?:[^"\\]|\\.)*"\s*\)', term):
            made = variants(term[len("std::string("):-1])
        else:
            made = SUBSTITUTES.get(term, [ANY])
        texts = [t + m for t in texts for m in made]
    return texts


def messages(source):
    """The messages of one source file."""
    found = []
    for m in re.finditer(r"\b(?:log_|logLine)\(", source):
        argument = balanced(source, m.end())
        # Not the functions' own definitions, nor d88put's messages passed on.
        if "diagnosticLine" not in argument and "std::string&" not in argument:
            found += variants(argument)
    for m in re.finditer(r"\breturn\s+", source):
        statement = split_top(source[m.end():], ";")[0][0]
        if '"' in statement and '"/"' not in statement:
            found += ["error: " + text for text in variants(statement) if text]
    for m in re.finditer(r"Severity::Error,\s*", source):
        found += ["error: " + text for text in variants(balanced(source, m.end()))]
    for m in re.finditer(r'fprintf\(stderr,\s*((?:"(?:[^"\\]|\\.)*"\s*)+)', source):
        text = variants(m.group(1))[0].split("\n")[0].replace("%s", ANY)
        found.append(text)
    return [text for text in found if text and text not in WRAPPERS | NEVER_WRITTEN]


def self_check():
    cases = [
        ('"a " + name + " b"', ["a X b"]),
        ('"x" + (moved ? ", y" : std::string())', ["x, y", "x"]),
        ('ok ? std::string() : path + " changed"', ["", "X changed"]),
        ('"one "\n "two"', ["one two"]),
        ('"a: " + std::strerror(errno)', ["a: X"]),
        ('file + (c == A ? " added" : c == R ? " removed" : " put back") + (m ? ", m" : "")',
         ["X added, m", "X added", "X removed, m", "X removed", "X put back, m", "X put back"]),
        ('"a" + (e ? std::string(": none") : ": " + f)', ["a: none", "a: X"]),
    ]
    return [f"variants({text!r}) gives {variants(text)}, not {want}"
            for text, want in cases if variants(text) != want]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = Path(sys.argv[1])
    failures = self_check()
    written = []
    for source in sorted((root / "mount").glob("*.cpp")):
        written += messages(source.read_text(encoding="utf-8"))
    if len(written) < 15:
        failures.append(f"{len(written)} messages read from mount/: the sources are not read")
    patterns = message_patterns(root / "man" / "d88mount.1")
    for text in written:
        if not any(re.fullmatch(p, text) for p in patterns):
            failures.append(f"not listed in man/d88mount.1: {text}")
    for p in patterns:
        if not any(re.fullmatch(p, text) for text in written + FROM_D88PUT):
            failures.append(f"listed, but written nowhere in mount/: {p}")
    for failure in failures:
        print(failure)
    if failures:
        return 1
    print(f"{len(written)} messages of d88mount, each listed; {len(patterns)} tags, each written")
    return 0


if __name__ == "__main__":
    sys.exit(main())
