#!/usr/bin/env python3
"""ARCHITECTURE.md's table holds, include by include, and the CMake files
say what the sources include.

Every folder of C++ sources has a row. Its "May use" column names, in
backticks, the folders whose headers it may include ("any" for all);
nlohmann/json and CLI11 by those words. The check fails on:
- a quoted include that names no folder ("listing.h");
- an include of a folder, or of nlohmann/json or CLI11, that the row of the
  including folder does not name;
- a folder whose CMakeLists.txt does not link the library of a folder it
  includes (a library linked PUBLIC elsewhere does not count).

    architecture_test.py SOURCE_DIR
"""
import re
import sys
from pathlib import Path

SOURCE_SUFFIXES = {".cpp", ".h", ".hpp", ".in"}
# Folders the build never compiles as part of the tree's sources.
SKIPPED = {"build", "cmake", "man", "packaging", ".git"}
# The third-party headers the table names, by the words it names them with.
THIRD_PARTY = {"nlohmann": "nlohmann/json", "CLI": "CLI11"}
# The libraries a folder's CMakeLists.txt may link to use a folder's headers.
LIBRARIES = {
    "d88": {"d88"},
    "text": {"d88_text"},
    "disk": {"d88_disk"},
    "format": {"d88_format"},
    "cli": {"d88_cli", "d88_command_line"},
    "extract": {"d88extract_core"},
    "builder": {"d88_image_builder"},
}
THIRD_PARTY_LIBRARIES = {"nlohmann": {"d88_json"}, "CLI": {"d88_cli11", "d88_command_line"}}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)
TICKED = re.compile(r"`([A-Za-z0-9_]+)/`")


class Row:
    def __init__(self, cells):
        self.folders = TICKED.findall(cells[0])
        may_use = cells[-1]
        self.any = may_use.strip() == "any"
        self.uses = set(TICKED.findall(may_use))
        self.third_party = {name for name, words in THIRD_PARTY.items() if words in may_use}


def table_rows(architecture):
    """The rows of the table whose last column is "May use", by folder."""
    rows = {}
    in_table = False
    for line in architecture.splitlines():
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if not line.startswith("|"):
            in_table = False
        elif cells[-1] == "May use":
            in_table = True
        elif in_table and not set(cells[0]) <= set("-: "):
            row = Row(cells)
            for folder in row.folders:
                rows[folder] = row
    return rows


def includes_of(text):
    """(quoted, name) for each include of a source's text."""
    return [(kind == '"', name) for kind, name in INCLUDE.findall(text)]


def linked_libraries(cmake):
    """Every name that a target_link_libraries call of a CMakeLists.txt lists."""
    names = set()
    for call in re.findall(r"target_link_libraries\s*\(([^)]*)\)", cmake):
        names.update(re.findall(r"[A-Za-z0-9_:]+", call))
    return names


def check(sources, rows, cmakes):
    """Faults of `sources` ({folder: {file: text}}) against the table's rows
    and the folders' CMake files ({folder: text}); and the includes checked."""
    faults = []
    checked = 0
    for folder in sorted(sources):
        row = rows.get(folder)
        if row is None:
            faults.append(f"{folder}/ has no row in ARCHITECTURE.md's table")
            continue
        linked = linked_libraries(cmakes.get(folder, ""))
        used = set()
        for file, text in sorted(sources[folder].items()):
            for quoted, name in includes_of(text):
                checked += 1
                where = f"{folder}/{file}: #include {name}"
                top = name.split("/")[0] if "/" in name else None
                if quoted and top is None:
                    faults.append(f"{where} names no folder")
                    continue
                if quoted:
                    if top != folder and not row.any and top not in row.uses:
                        faults.append(f"{where}: {folder}/ may not use {top}/")
                    if top != folder:
                        used.add(top)
                elif top in THIRD_PARTY:
                    if not row.any and top not in row.third_party:
                        faults.append(f"{where}: {folder}/ may not use {THIRD_PARTY[top]}")
                    used.add(top)
        if folder not in cmakes:
            continue
        for top in sorted(used):
            libraries = LIBRARIES.get(top, set()) | THIRD_PARTY_LIBRARIES.get(top, set())
            if libraries and not libraries & linked:
                faults.append(f"{folder}/CMakeLists.txt links none of {sorted(libraries)}, "
                              f"though {folder}/ includes {THIRD_PARTY.get(top, top + '/')}")
    return faults, checked


def read_tree(root):
    sources = {}
    cmakes = {}
    for folder in sorted(path for path in root.iterdir() if path.is_dir()):
        if folder.name in SKIPPED or folder.name.startswith("."):
            continue
        files = {
            str(path.relative_to(folder)): path.read_text(encoding="utf-8", errors="replace")
            for path in folder.rglob("*")
            if path.is_file() and path.suffix in SOURCE_SUFFIXES
            and "node_modules" not in path.parts
        }
        if files:
            sources[folder.name] = files
        if (folder / "CMakeLists.txt").is_file():
            cmakes[folder.name] = (folder / "CMakeLists.txt").read_text(encoding="utf-8")
    return sources, cmakes


def check_the_checker():
    """The check itself fails on each kind of fault, and passes a sound tree."""
    table = ("| Folder | Holds | May use |\n|---|---|---|\n"
             "| `a/` | x | std only |\n| `b/` | x | `a/`, nlohmann/json |\n"
             "| `t/` | x | any |\n")
    rows = table_rows(table)
    cmake = {"b": "target_link_libraries(b PRIVATE d88 d88_json)"}
    sound = {"a": {"a.h": '#include <vector>\n#include "a/a2.h"\n'},
             "b": {"b.cpp": '#include "a/a.h"\n#include <nlohmann/json.hpp>\n'},
             "t": {"t.cpp": '#include "b/b.h"\n#include <CLI/CLI.hpp>\n'}}
    LIBRARIES["a"] = {"d88"}
    faulty = [
        {"a": {"a.h": '#include "b/b.h"\n'}},
        {"a": {"a.h": '#include "a2.h"\n'}},
        {"a": {"a.h": '  #  include <nlohmann/json.hpp>\n'}},
        {"c": {"c.h": "\n"}},
        {"b": {"b.cpp": '#include "a/a.h"\n'}, "cmake": "target_link_libraries(b PRIVATE x)"},
    ]
    assert check(sound, rows, cmake) == ([], 6), check(sound, rows, cmake)
    for tree in faulty:
        cmakes = {"b": tree.pop("cmake")} if "cmake" in tree else cmake
        assert check(tree, rows, cmakes)[0], tree
    del LIBRARIES["a"]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    check_the_checker()
    root = Path(sys.argv[1])
    rows = table_rows((root / "ARCHITECTURE.md").read_text(encoding="utf-8"))
    sources, cmakes = read_tree(root)
    faults, checked = check(sources, rows, cmakes)
    for fault in faults:
        print(fault)
    # A table the parser did not find, or a tree it did not read, checks nothing.
    if len(rows) < 10 or checked < 100:
        print(f"checked {checked} includes against {len(rows)} rows: too few")
        return 1
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
