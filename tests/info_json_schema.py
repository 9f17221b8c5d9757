#!/usr/bin/env python3
"""Checks d88info --json against info/d88info.schema.json: on the sample image
and on the damaged images that info_json_cases writes, each document must
validate and be laid out one disk per line; the damaged images must between
them reach every conditional part of the schema, and the schema must turn
away documents that break it. Exit status 77 (skipped) without jsonschema."""
import argparse
import copy
import json
import pathlib
import subprocess
import sys
import tempfile

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def listing(tool, validator, image):
    """Runs d88info --json on an image; the document, checked, or None."""
    run = subprocess.run([tool, "--json", str(image)], capture_output=True, check=False)
    name = pathlib.Path(image).name
    check(run.returncode == 0 and run.stderr == b"",
          f"{name}: exit {run.returncode}, stderr {run.stderr!r}")
    try:
        text = run.stdout.decode("utf-8")
        document = json.loads(text)
    except ValueError as error:
        failures.append(f"{name}: not UTF-8 JSON: {error}")
        return None
    # The first line opens the document, each disk has its own line, "]}" closes it.
    lines = text.split("\n")
    disks = lines[1:-2]
    check(lines[0].startswith('{"schema":7,') and lines[0].endswith(',"disks":[')
          and lines[-2:] == ["]}", ""], f"{name}: framing {lines[0]!r} ... {lines[-2:]!r}")
    if document.get("disks"):
        check(all(line.endswith(",") for line in disks[:-1]), f"{name}: disk separators")
        check([json.loads(line.rstrip(",")) for line in disks] == document["disks"],
              f"{name}: not one disk per line")
    else:
        check(disks == [""], f"{name}: empty disk list laid out as {disks!r}")
    for error in validator.iter_errors(document):
        failures.append(f"{name}: {'/'.join(map(str, error.absolute_path))}: {error.message}")
    return document


def json_lines(tool, validator, args, what):
    """Runs d88info with several inputs; its lines, each checked against the
    schema, as objects, and its exit status."""
    run = subprocess.run([tool, *args], capture_output=True, check=False)
    text = run.stdout.decode("utf-8")
    check(text.endswith("\n"), f"{what}: last line not ended")
    objects = []
    for number, line in enumerate(text.split("\n")[:-1], 1):
        try:
            value = json.loads(line)
        except ValueError as error:
            failures.append(f"{what}: line {number} not JSON: {error}")
            continue
        for error in validator.iter_errors(value):
            failures.append(f"{what}: line {number}: {'/'.join(map(str, error.absolute_path))}: "
                            f"{error.message}")
        objects.append(value)
    return objects, run.returncode


def counts(document):
    """The summary's counts, worked out from a full listing."""
    disks = document["disks"]
    files = [f for d in disks for f in d["files"]]
    return {"disks": len(disks),
            "systemDisks": sum(d["kind"] == "system disk" for d in disks),
            "dataDisks": sum(d["kind"] == "data disk" for d in disks),
            "notRecognised": sum(d["kind"] == "not recognised" for d in disks),
            "files": len(files),
            "incomplete": sum(f["verdict"] == "incomplete" for f in files),
            "skipped": sum(f["verdict"] == "skipped" for f in files)}


def check_collection(tool, validator, folder, documents):
    """The cases' folder walked with -r, as JSON Lines and as a summary, and
    the same files given one by one with a missing file among them: every
    line validates, each file's line is its own document with its path, and
    the summary's counts are those of the full listings."""
    paths = sorted(str(p) for p in pathlib.Path(folder).glob("*.d88"))
    missing = str(pathlib.Path(folder) / "missing.d88")
    given = paths[:2] + [missing] + paths[2:]
    for jobs in ("1", "4"):
        walked, status = json_lines(tool, validator, ["-r", "--json", "-j", jobs, folder],
                                    f"-r --json -j {jobs}")
        check(status == 0, f"-r --json -j {jobs}: exit {status}")
        check([line.get("path") for line in walked] == paths, f"-r --json -j {jobs}: paths")
        for line in walked:
            path = line.pop("path", None)
            check(line == documents.get(path), f"-r --json: {path} differs from its document")
        # The listing as JSON Lines: the missing file's error line in its place.
        listed, status = json_lines(tool, validator, ["--json", "-j", jobs, *given],
                                    f"--json -j {jobs}")
        check(status == 1, f"--json with a missing file: exit {status}")
        check([line.get("path") for line in listed] == given, f"--json -j {jobs}: paths")
        for path, line in zip(given, listed):
            if path == missing:
                check(line == {"schema": 7, "path": missing, "error": "cannotOpen"},
                      f"--json: the missing file's line {line}")
        lines, status = json_lines(tool, validator, ["--summary", "--json", "-j", jobs, *given],
                                   f"--summary --json -j {jobs}")
        check(status == 1, f"--summary with a missing file: exit {status}")
        check(len(lines) == len(given) + 1, f"--summary: {len(lines)} lines")
        total = {key: 0 for key in counts({"disks": []})}
        for path, line in zip(given, lines):
            if path == missing:
                check(line == {"schema": 7, "path": missing, "error": "cannotOpen"},
                      f"--summary: the missing file's line {line}")
                continue
            expected = {"schema": 7, "path": path, **counts(documents[path])}
            check(line == expected, f"--summary: {line} is not {expected}")
            for key in total:
                total[key] += expected[key]
        check(lines[-1] == {"schema": 7, "total": True, "inputs": len(given), "failed": 1, **total},
              f"--summary: total {lines[-1]}")


def features(document):
    """What parts of the schema a document reaches."""
    seen = set()
    for disk in document["disks"]:
        seen.add(("kind", disk.get("kind")))
        seen.add(("media", disk.get("media")))
        for track in disk.get("tracks", []):
            seen.add(("walkEnd", track["walkEnd"]))
            seen.add(("track", track["insideHeader"], track["pastSize"], bool(track["records"])))
            for record in track["records"]:
                seen.update(("flag", field) for field, value in zip(range(5, 8), record[5:8])
                            if value)
        for file in disk.get("files", []):
            seen.add(("verdict", file["verdict"], file.get("reason")))
            seen.add(("name", file["name"][0]))
    return seen


def check_long_track(tool, image, document):
    """Track 3 of odd-tracks holds 100 records, more than a listing first makes
    room for: every one is listed, in JSON and in text."""
    track = next(t for t in document["disks"][0]["tracks"] if t["slot"] == 3)
    check([(r[2], r[8]) for r in track["records"]] == [(r, 0 if r % 3 == 0 else 128)
                                                       for r in range(100)]
          and track["walkEnd"] == "countReached", f"odd-tracks: track 3 as JSON, {len(track['records'])} records, {track['walkEnd']}")
    ids = " ".join(f"00-01-{r:02X}-00" + ("[0000]" if r % 3 == 0 else "") for r in range(100))
    run = subprocess.run([tool, str(image)], capture_output=True, check=False)
    line = f"  track   3 (C  1 H 1): 100 sectors: {ids}"
    check(line in run.stdout.decode("utf-8").split("\n"), "odd-tracks: track 3 as text")


# Damage to a valid document that the schema must refuse: (what, change).
def first_file(doc, verdict):
    return next(f for d in doc["disks"] for f in d["files"] if f["verdict"] == verdict)


BREAKS = [
    ("another schema", lambda doc: doc.update(schema=1)),
    ("an unknown field", lambda doc: doc.update(extra=0)),
    ("recordFields reordered", lambda doc: doc["recordFields"].reverse()),
    ("a record of 9 numbers", lambda doc: doc["disks"][0]["tracks"][0]["records"][0].pop()),
    ("a density of 256", lambda doc: doc["disks"][0]["tracks"][0]["records"][0].__setitem__(5, 256)),
    ("a sector count of 0", lambda doc: doc["disks"][0]["tracks"][0]["records"][0].__setitem__(4, 0)),
    ("nameHex in lowercase", lambda doc: doc["disks"][0].update(nameHex="53595354454d" + "0" * 22)),
    ("nameHex of 16 bytes", lambda doc: doc["disks"][0].update(nameHex="0" * 32)),
    ("a cut header with a name", lambda doc: doc["disks"][0].update(headerComplete=False)),
    ("a disk without files", lambda doc: doc["disks"][0].pop("files")),
    ("no message for a system disk", lambda doc: doc["disks"][0].update(message=None)),
    ("a track without walkEnd", lambda doc: doc["disks"][0]["tracks"][0].pop("walkEnd")),
    ("inside the header at a track's offset",
     lambda doc: doc["disks"][0]["tracks"][0].update(insideHeader=True)),
    ("a track without pastSize", lambda doc: doc["disks"][0]["tracks"][0].pop("pastSize")),
    ("a slot past the size with records", lambda doc: doc["disks"][0]["tracks"][0].update(
        pastSize=True, walkEnd="noTrack")),
    ("a slot past the size that was walked",
     lambda doc: doc["disks"][0]["tracks"][0].update(pastSize=True, records=[])),
    ("noTrack of a walked track", lambda doc: doc["disks"][0]["tracks"][0].update(walkEnd="noTrack")),
    ("a walk stopped short", lambda doc: doc["disks"][0]["tracks"][0].update(walkEnd="stopped")),
    ("a track offset of 0", lambda doc: doc["disks"][0]["tracks"][0].update(offset=0)),
    ("a write-protect byte of -1", lambda doc: doc["disks"][0].update(writeProtect=-1)),
    ("bytesRead of a complete file", lambda doc: first_file(doc, "complete").update(bytesRead=0)),
    ("a reason for a complete file",
     lambda doc: first_file(doc, "complete").update(reason="negativeSize")),
    ("a skipped file without reason", lambda doc: first_file(doc, "complete").update(verdict="skipped")),
    ("an incomplete file without bytesRead",
     lambda doc: first_file(doc, "complete").update(verdict="incomplete")),
    ("a recognised disk with one table", lambda doc: doc["disks"][0]["tables"].pop()),
    ("a negative room", lambda doc: doc["disks"][0]["tables"][0].update(room=-1)),
    ("a room without its end", lambda doc: doc["disks"][0]["tables"][0].pop("roomEnds")),
    ("a negative size not skipped", lambda doc: first_file(doc, "complete").update(size=-1)),
]

# Disk counts that the end of the scan decides.
DISK_COUNTS = {"empty": 0, "no-disk": 0, "header-only": 1, "second-header-cut": 1,
               "negative-size": 1}

# Every part of the schema that depends on another field.
REACHED = {("walkEnd", end) for end in ("countReached", "zeroCount", "cutShort", "noTrack")}
# (insideHeader, pastSize, has records): a track, one inside the header with
# and without records, one past the disk's size.
REACHED |= {("track", False, False, True), ("track", True, False, True),
            ("track", True, False, False), ("track", False, True, False)}
REACHED |= {("media", media) for media in ("2D", "2DD", "2HD", "1D", "1DD", "unknown")}
REACHED |= {("kind", kind) for kind in ("system disk", "data disk", "not recognised")}
REACHED |= {("verdict", "complete", None), ("verdict", "incomplete", None)}
REACHED |= {("verdict", "skipped", reason)
            for reason in ("firstSectorUnreadable", "negativeSize", "pastExtractionBuffer",
                           "nothingToRead")}
REACHED |= {("flag", field) for field in (5, 6, 7)} | {("name", "_")}


def main():
    parser = argparse.ArgumentParser()
    for option in ("--tool", "--schema", "--sample", "--cases"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    schema = json.loads(pathlib.Path(args.schema).read_text(encoding="utf-8"))
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    sample = listing(args.tool, validator, args.sample)
    if sample is not None:
        disks = sample["disks"]
        check([d["kind"] for d in disks] == ["system disk", "data disk"],
              "sample: two disks, system then data")
        bios = disks[0]["files"][0]
        check((bios["name"], bios["size"], bios["writtenWithoutAll"]) == ("BIOS", 9472, True),
              f"sample: BIOS {bios}")
        check(disks[1]["message"] == "データディスクを認識しました.",
              f"sample: message {disks[1]['message']!r}")
        # Two tracks a disk are enough to break, and validate much faster.
        for disk in disks:
            disk["tracks"] = disk["tracks"][:2]
        check(validator.is_valid(sample), "sample: two tracks a disk do not validate")
        for what, change in BREAKS:
            broken = copy.deepcopy(sample)
            change(broken)
            check(not validator.is_valid(broken), f"the schema accepts {what}")

    reached = set()
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([args.cases, folder], check=True)
        images = sorted(pathlib.Path(folder).glob("*.d88"))
        check(len(images) >= len(DISK_COUNTS), f"cases written: {len(images)}")
        documents = {}
        for image in images:
            document = listing(args.tool, validator, image)
            if document is None:
                continue
            documents[str(image)] = copy.deepcopy(document)
            reached |= features(document)
            if image.stem == "odd-tracks":
                check_long_track(args.tool, image, document)
            if image.stem in DISK_COUNTS:
                check(len(document["disks"]) == DISK_COUNTS[image.stem],
                      f"{image.stem}: {len(document['disks'])} disks")
        check_collection(args.tool, validator, folder, documents)
    check(REACHED <= reached, f"no damaged image reaches {sorted(REACHED - reached, key=str)}")

    for failure in failures:
        print("FAIL", failure)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
