#!/usr/bin/env python3
"""Every kind of refusal of a size change, in the words d88put prints (the
names and numbers are examples), is listed in d88put's manual page: under a
message tag (.TP or .TQ) of the MESSAGES section whose italic words stand for
any text.
A tag that ends in WHY or WHAT stands for a list: the message must match the
tag's words before it followed by one of the tags indented below it (.RS),
so that each reason is listed as printed, not only its kind.

    put_messages_test.py MAN_PAGE
"""
import re
import sys
from pathlib import Path

REFUSALS = [
    "error: 000/S18A cannot be added: the second table's entries would reach the bytes of S100",
    "error: 001/D101 cannot be added: D101 would be of 0 bytes at offset 0 of its sector and "
    "vanish: d88extract skips a file of 0 bytes there",
    "error: 000/S121 cannot be added: 000/S120 does not exist",
    "error: cannot remove 000/S118: only the last file of its table (000/S11E) can be removed; "
    "removing another would renumber every later file",
    "error: cannot remove 000/S100: the first two entries of a table are what recognises the disk",
    "error: cannot remove 000/BIOS: BIOS and DRIVER have fixed places",
    "error: cannot remove 000/S1FF: no file of that name on disk 0",
    "error: cannot remove 005/S100: the file has no disk 5",
    "error: cannot remove 000/S11E: it is also put back",
    "error: 000/BIOS cannot change size: BIOS and DRIVER have fixed sizes",
    "error: 000/S000 cannot change size: where the next file starts is part of what "
    "recognises the disk",
    "error: 001/_001 cannot change size: the disk is not recognised, and its tables mix what "
    "both probes read",
    "error: 001/D101 cannot change size: two table files are named D101",
    "error: 001/D101 cannot change size: the second table's track 42 does not read all 4096 bytes",
    "error: 001/D002 cannot change size: D003 names track A4 sector 01: a damaged table is not "
    "re-laid",
    "error: 001/D002 cannot change size: the table's last entry names track 0A sector 11: a "
    "damaged table is not re-laid",
    "error: 001/D002 cannot change size: D003 is not laid end to end: a damaged table is not "
    "re-laid",
    "error: 001/D001 cannot change size: D002 is not laid end to end: track 0A has no sector 02",
    "error: 001/D001 cannot change size: D002 is not laid end to end: track 0A sector 07 is not "
    "a plain 256-byte sector",
    "error: 001/D001 cannot change size: D002 is not laid end to end: the disk ends after "
    "track A3",
    "error: 000/S101 cannot change size: S105 shares bytes with DRIVER",
    "error: 001/D001 cannot change size: D002 shares bytes with the second table's entries",
    "error: 001/D102 cannot change size: D102 would reach past 327680 bytes, its offset included",
    "error: 000/S005 cannot change size: the first table's entry of S08C would be rewritten, and "
    "it lies in bytes of S000",
    "error: 000/S096 cannot change size: the first table's last entry would be rewritten, and it "
    "lies in bytes of S000",
    "error: 000/S101 cannot change size: S102, of 0 bytes, would move to offset 0 of its sector "
    "and vanish: d88extract skips a file of 0 bytes there",
    "error: 000/S102 cannot change size: S102 would be of 0 bytes at offset 0 of its sector and "
    "vanish: d88extract skips a file of 0 bytes there",
    "error: 000/S101 cannot change size: S102, of 0 bytes, would move off offset 0 of its sector "
    "and appear: d88extract skips a file of 0 bytes there",
    "error: 000/S11E is 328853 bytes: no file of a table reaches past 327680 bytes",
    "error: 000/S002 grows the first table by 0x33ED bytes, but track 10 sector 01 holds bytes "
    "of DRIVER",
    "error: 001/D002 grows the first table by 0x3FF14 bytes, but track 42 sector 01 holds bytes "
    "of the second table's entries",
    "error: 001/D002 grows the first table by 0x114 bytes, but track 02 sector 03 is not blank",
    "error: 001/D102 grows the second table by 0xC67 bytes, but track 44 has no sector 01",
    "error: 000/S101 grows the second table by 0x100 bytes, but track 03 sector 02 is not a "
    "plain 256-byte sector",
    "error: 000/S101 grows the second table by 0x8219C bytes, but the disk ends after track A3",
]

# The placeholders that stand for a list of the tags indented below.
LISTS = ("WHY", "WHAT")


def arguments(text):
    """A macro line's arguments: quoted strings or words."""
    return [quoted if quoted or word == "" else word
            for quoted, word in re.findall(r'"([^"]*)"|(\S+)', text)]


def unescape(text):
    return text.replace("\\-", "-").replace("\\(dq", '"').replace("\\e", "\\")


def parts(line):
    """A tag line as (text, italic) parts; None for a tag that is no macro."""
    macro, _, rest = line.partition(" ")
    words = [unescape(word) for word in arguments(rest)]
    if macro == ".B":
        return [(" ".join(words), False)]
    if macro in (".BI", ".IB", ".BR", ".RB", ".IR", ".RI"):
        italic_first = macro[1] == "I"
        return [(word, (i % 2 == 0) == italic_first and "I" in macro)
                for i, word in enumerate(words)]
    return None


def pattern(tag_parts):
    return "".join(".+" if italic else re.escape(text) for text, italic in tag_parts if text)


def message_patterns(page):
    """The patterns of the MESSAGES section's tags, lists expanded."""
    lines = page.read_text(encoding="utf-8").splitlines()
    start = lines.index(".SH MESSAGES")
    end = next(i for i in range(start + 1, len(lines)) if lines[i].startswith(".SH "))
    section = lines[start + 1:end]
    top = []  # [parts, [nested parts...]]
    depth = 0
    for i, line in enumerate(section):
        if line == ".RS":
            depth += 1
        elif line == ".RE":
            depth -= 1
        elif line in (".TP", ".TQ") and i + 1 < len(section):
            tag = parts(section[i + 1])
            if tag is None:
                continue
            if depth == 0:
                top.append((tag, []))
            elif top:
                top[-1][1].append(tag)
    patterns = []
    for tag, nested in top:
        if tag[-1][1] and tag[-1][0] in LISTS:
            patterns += [pattern(tag[:-1] + inner) for inner in nested]
        else:
            patterns.append(pattern(tag))
    return patterns


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    patterns = message_patterns(Path(sys.argv[1]))
    missing = [message for message in REFUSALS
               if not any(re.fullmatch(p, message) for p in patterns)]
    for message in missing:
        print(f"not listed: {message}")
    if missing:
        sys.exit(1)
    print(f"{len(REFUSALS)} refusals, each listed as printed")


if __name__ == "__main__":
    main()
