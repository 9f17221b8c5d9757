#!/usr/bin/env python3
"""README.ja.md says what README.md says: the same sections in the same order
(by heading level), the same number of list items in each, the same tables
with the same number of rows and columns, their headings in Japanese, the
same pictures, and the same code blocks but for comments, which are
translated.

Usage: readme_level_test.py ROOT"""

import re
import sys
from pathlib import Path

FENCE = re.compile(r'^(```+|~~~+)\s*(\S*)')
HEADING = re.compile(r'^(#{1,6})\s+\S')
ITEM = re.compile(r'^(?:[-*+]|\d+\.)\s+\S')
IMAGE = re.compile(r'!\[[^\]]*\]\(([^)\s]+)')
# The Japanese README shows the page in Japanese.
SAME_PICTURE = {'web/screenshot.png': 'web/screenshot-ja.png'}


def without_comment(line, language):
    """A code line without its shell comment: '#' at the start or after a
    space, outside quotes. Other languages' lines are compared whole."""
    if language not in ('sh', 'bash', 'shell'):
        return line.rstrip()
    quote = None
    for i, c in enumerate(line):
        if quote:
            quote = None if c == quote else quote
        elif c in '\'"':
            quote = c
        elif c == '#' and (i == 0 or line[i - 1].isspace()):
            return line[:i].rstrip()
    return line.rstrip()


def outline(text):
    """The parts that must match, in order."""
    sections = [['(top)', 0, 0]]  # [level, list items, tables]
    tables = []
    blocks = []
    pictures = []
    headings = []
    block = None
    table = None
    for line in text.splitlines():
        fence = FENCE.match(line)
        if block is not None:
            if fence and line.strip().startswith(block['fence']) and not fence.group(2):
                blocks.append((block['language'], tuple(block['lines'])))
                block = None
            else:
                block['lines'].append(without_comment(line, block['language']))
            continue
        if fence:
            block = {'fence': fence.group(1), 'language': fence.group(2), 'lines': []}
            table = None
            continue
        if line.startswith('|'):
            cells = [cell.strip() for cell in line.strip().strip('|').split('|')]
            if table is None:
                table = {'columns': len(cells), 'rows': 0, 'heading': cells}
                tables.append(table)
                sections[-1][2] += 1
            elif not all(re.fullmatch(r':?-+:?', cell) for cell in cells):
                table['rows'] += 1
            continue
        table = None
        heading = HEADING.match(line)
        if heading:
            sections.append([len(heading.group(1)), 0, 0])
            headings.append(line)
        elif ITEM.match(line):
            sections[-1][1] += 1
        pictures += IMAGE.findall(line)
    if block is not None:
        blocks.append(('(unclosed)', tuple(block['lines'])))
    return {'sections': [tuple(s) for s in sections], 'tables': tables, 'blocks': blocks,
            'pictures': pictures, 'headings': headings}


def compare(english, japanese):
    """What differs, as sentences; empty when the two are level."""
    en, ja = outline(english), outline(japanese)
    failures = []
    en_levels = [s[0] for s in en['sections']]
    ja_levels = [s[0] for s in ja['sections']]
    if en_levels != ja_levels:
        failures.append(f'sections: heading levels {en_levels[1:]} in English, {ja_levels[1:]} in Japanese')
    else:
        for i, (e, j) in enumerate(zip(en['sections'], ja['sections'])):
            name = en['headings'][i - 1] if i else 'before the first heading'
            if e[1] != j[1]:
                failures.append(f'{name}: {e[1]} list items in English, {j[1]} in Japanese')
            if e[2] != j[2]:
                failures.append(f'{name}: {e[2]} tables in English, {j[2]} in Japanese')
    if len(en['tables']) != len(ja['tables']):
        failures.append(f'{len(en["tables"])} tables in English, {len(ja["tables"])} in Japanese')
    for i, (e, j) in enumerate(zip(en['tables'], ja['tables'])):
        if (e['rows'], e['columns']) != (j['rows'], j['columns']):
            failures.append(f'table {i + 1} ({" | ".join(e["heading"])}): {e["rows"]} rows of '
                            f'{e["columns"]} in English, {j["rows"]} of {j["columns"]} in Japanese')
        if all(cell.isascii() for cell in j['heading']):
            failures.append(f'table {i + 1}: its heading is not in Japanese: {" | ".join(j["heading"])}')
    if len(en['blocks']) != len(ja['blocks']):
        failures.append(f'{len(en["blocks"])} code blocks in English, {len(ja["blocks"])} in Japanese')
    for i, (e, j) in enumerate(zip(en['blocks'], ja['blocks'])):
        if e != j:
            differ = next((k for k, (a, b) in enumerate(zip(e[1], j[1])) if a != b),
                          min(len(e[1]), len(j[1])))
            shown = lambda lines: lines[differ] if differ < len(lines) else '(no line)'
            failures.append(f'code block {i + 1} ({e[0] or "no language"}): line {differ + 1}: '
                            f'{shown(e[1])!r} in English, {shown(j[1])!r} in Japanese')
    want = [SAME_PICTURE.get(p, p) for p in en['pictures']]
    if want != ja['pictures']:
        failures.append(f'pictures: {want} in English, {ja["pictures"]} in Japanese')
    return failures


SELF_CHECKS = [
    # (English, Japanese, level?)
    ('# a\n## b\n', '# あ\n## い\n', True),
    ('# a\n## b\n', '# あ\n### い\n', False),
    ('# a\n- x\n- y\n', '# あ\n- え\n', False),
    ('| a | b |\n|---|---|\n| 1 | 2 |\n', '| あ | い |\n|---|---|\n| 1 | 2 |\n', True),
    ('| a | b |\n|---|---|\n| 1 | 2 |\n', '| a | b |\n|---|---|\n| 1 | 2 |\n', False),
    ('| a | b |\n|---|---|\n| 1 | 2 |\n| 3 | 4 |\n', '| あ | い |\n|---|---|\n| 1 | 2 |\n', False),
    ('```sh\nls -l   # list\n```\n', '```sh\nls -l   # 一覧\n```\n', True),
    ('```sh\nls -l\n```\n', '```sh\nls -la\n```\n', False),
    ("```sh\necho '# kept'\n```\n", "```sh\necho '# 残す'\n```\n", False),
    ('```\nS117    trk: 24\n```\n', '```\nS117    trk: 25\n```\n', False),
    ('```sh\na\n```\n```\nb\n```\n', '```sh\na\n```\n', False),
    ('![x](web/screenshot.png)\n', '![x](web/screenshot-ja.png)\n', True),
    ('![x](web/phone.png)\n', 'no picture\n', False),
    # A '|' or a heading inside a code block is neither a table nor a section.
    ('```\n| a |\n# b\n```\n', '```\n| a |\n# b\n```\n', True),
]


def main():
    root = Path(sys.argv[1])
    failures = []
    for english, japanese, level in SELF_CHECKS:
        if (not compare(english, japanese)) != level:
            failures.append(f'self-check: {english!r} against {japanese!r} should be '
                            f'{"level" if level else "found different"}')
    failures += compare((root / 'README.md').read_text(encoding='utf-8'),
                        (root / 'README.ja.md').read_text(encoding='utf-8'))
    for failure in failures:
        print(failure)
    if not failures:
        print('README.ja.md is level with README.md')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
