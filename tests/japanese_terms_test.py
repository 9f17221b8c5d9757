#!/usr/bin/env python3
"""The Japanese texts use one word for each thing: the form docs/glossary.ja.md
gives, never one of the forms it rules out. Read: the page's Japanese texts
(web/page/texts.js), the Japanese help (the second text of each help::Text in
cli/help_text.h and the tools' *_help.h), man/ja/*.1 and
README.ja.md. The page, man/ja and README.ja.md also put full-width
parentheses around Japanese; half-width ones only around ASCII (the help
keeps half-width ones, as its columns do).

Usage: japanese_terms_test.py ROOT"""

import re
import sys
from pathlib import Path


def glossary(path):
    """[(preferred, [forbidden, ...], [allowed, ...])] from the glossary's
    table: allowed words contain a forbidden form and are no misuse of it."""
    rows = []
    for line in path.read_text(encoding='utf-8').splitlines():
        cells = [cell.strip() for cell in line.strip().strip('|').split('|')]
        if not line.startswith('|') or len(cells) < 4 or cells[0] in ('使う形', '---'):
            continue
        forms = [[form.strip() for form in cell.split('、') if form.strip()] for cell in cells[1:3]]
        rows.append((cells[0], forms[0], forms[1]))
    return rows


def misuses(text, rows):
    """(forbidden, preferred, offset) for each forbidden form in text that is
    not part of a preferred form (セクタ inside セクター is not one)."""
    found = []
    taken = set()
    words = [preferred for preferred, _, _ in rows] + [w for _, _, allowed in rows for w in allowed]
    for preferred, forbidden, _ in rows:
        # The longest form first: 越える, not 越える and 越え again.
        for form in sorted(forbidden, key=len, reverse=True):
            for match in re.finditer(re.escape(form), text):
                at = match.start()
                inside = any(w.find(form) >= 0 and text.startswith(w, at - w.find(form))
                             for w in words)
                if not inside and at not in taken:
                    taken.add(at)
                    found.append((form, preferred, at))
    return found


def ascii_parentheses_around_japanese(text):
    """Each half-width (...) whose content is not all ASCII."""
    return [m.group(0) for m in re.finditer(r'\(([^()\n]*)\)', text)
            if any(ord(c) > 0x7F for c in m.group(1))]


def string_literals(source, quote):
    pattern = quote + r'((?:[^' + quote + r'\\\n]|\\.)*)' + quote
    return [m.group(1) for m in re.finditer(pattern, source)]


def page_texts(root):
    source = (root / 'web/page/texts.js').read_text(encoding='utf-8')
    start = source.index('\n  ja: {')
    end = source.index('\n  },', start)
    block = source[start:end]
    # A text split over lines is its literals joined.
    texts = []
    for entry in re.split(r'\n    (?=\w+:)', block):
        literals = string_literals(entry, "'")
        if literals:
            texts.append(''.join(literals))
    return texts


def help_texts(root):
    texts = []
    literal = r'"(?:[^"\\\n]|\\.)*"'
    for name in ('cli/help_text.h', 'info/info_help.h', 'put/put_help.h', 'mount/mount_help.h'):
        source = (root / name).read_text(encoding='utf-8')
        for m in re.finditer(r'Text k\w+ = \{\s*((?:' + literal + r'\s*)+),\s*((?:' + literal +
                             r'\s*)+)\}', source):
            texts.append(''.join(string_literals(m.group(2), '"')))
    return texts


def man_text(path):
    return '\n'.join(line for line in path.read_text(encoding='utf-8').splitlines()
                     if not line.startswith('.\\"'))


def markdown_prose(text):
    """The text outside fenced code blocks and code spans."""
    text = re.sub(r'^```.*?^```', '', text, flags=re.S | re.M)
    return re.sub(r'`[^`\n]*`', '', text)


def self_check(rows):
    """The matcher on texts whose answer is known."""
    cases = [
        ('セクター', []),
        ('セクタ', ['セクタ']),
        ('セクタチェーン', ['セクタ']),
        ('サブフォルダとフォルダー', ['フォルダ']),
        ('未認識', []),
        ('認識できず', ['認識できず']),
        ('後続のファイル', []),
        ('後のファイル', ['後のファイル']),
        ('最後のファイル', []),
        ('越える', ['越える']),
    ]
    failures = []
    for text, want in cases:
        got = [form for form, _, _ in misuses(text, rows)]
        if got != want:
            failures.append(f'matcher: {text!r} gives {got}, not {want}')
    for text, want in [('(000/S117)', []), ('(固定ファイル)', ['(固定ファイル)']),
                       ('（固定ファイル）', [])]:
        if ascii_parentheses_around_japanese(text) != want:
            failures.append(f'parentheses: {text!r}')
    return failures


def main():
    root = Path(sys.argv[1])
    rows = glossary(root / 'docs/glossary.ja.md')
    failures = []
    if len(rows) < 20:
        failures.append(f'the glossary gives {len(rows)} terms: its table is not read')
    failures += self_check(rows)

    sources = [(f'texts.js ja: {text}', text, True) for text in page_texts(root)]
    if len(sources) < 100:
        failures.append(f'texts.js: {len(sources)} Japanese texts read')
    helps = help_texts(root)
    if len(helps) < 15:
        failures.append(f'help: {len(helps)} Japanese texts read')
    sources += [(f'help: {text}', text, False) for text in helps]
    for page in sorted((root / 'man/ja').glob('*.1')):
        sources.append((f'man/ja/{page.name}', man_text(page), True))
    readme = (root / 'README.ja.md').read_text(encoding='utf-8')
    sources.append(('README.ja.md', readme, False))
    sources.append(('README.ja.md (prose)', markdown_prose(readme), True))

    for where, text, check_parentheses in sources:
        if not where.startswith('README.ja.md (prose)'):
            for form, preferred, at in misuses(text, rows):
                line = text.count('\n', 0, at) + 1
                failures.append(f'{where}:{line}: {form} (the glossary says {preferred})')
        if check_parentheses:
            for found in ascii_parentheses_around_japanese(text):
                failures.append(f'{where}: half-width parentheses around Japanese: {found}')

    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
