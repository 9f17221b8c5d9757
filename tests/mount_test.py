#!/usr/bin/env python3
"""d88mount on a real mount, in a scratch folder.

Each editing case runs one program's way of writing in a disk folder of the
mount, and the same shell line in a folder that d88extract -a wrote; d88put
(with --resize where the case mounts with it) then puts that folder back
into a copy of the image. The two D88 files must be equal byte for byte.
Each refusal must fail with its errno value and leave the image byte for
byte. The random sequences do the same with open, write, truncate, fsync,
rename and close, seed by seed.

    mount_test.py BIN_DIR SAMPLE_D88 CASES_PROGRAM

CASES_PROGRAM writes the damaged images (info_json_cases). Exits 77
(skipped) where /dev/fuse cannot be opened or a mount fails; with
D88_REQUIRE_FUSE=1 in the environment (CI) that is a failure instead.
"""
import errno
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

BIN = Path(sys.argv[1]).resolve()
SAMPLE = Path(sys.argv[2]).resolve()
CASES = Path(sys.argv[3]).resolve()
FAILURES = []
DEADLINE = 10.0  # seconds a mount, an unmount or a program may take


def skip(reason):
    if os.environ.get("D88_REQUIRE_FUSE") == "1":
        print(f"FAIL: D88_REQUIRE_FUSE=1, but the mount test cannot run: {reason}")
        sys.exit(1)
    print(f"SKIPPED: {reason}")
    sys.exit(77)


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print(f"FAIL: {what}")
    return condition


def wait_until(predicate, seconds=DEADLINE):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(0.005)
    return predicate()


def in_mount_table(point):
    with open("/proc/self/mounts") as mounts:
        return any(line.split()[1] == str(point) for line in mounts)


class Mount:
    """d88mount -f on scratch/mnt, for a with block: unmounted at its end."""

    def __init__(self, scratch, image, *options, relative=False):
        self.point = scratch / "mnt"
        self.point.mkdir(exist_ok=True)
        self.log = scratch / "mount.log"
        # A relative mount point is named from the scratch folder.
        with open(self.log, "w") as log:
            self.process = subprocess.Popen(
                [BIN / "d88mount", image, "mnt" if relative else self.point, "-f", *options],
                stderr=log, cwd=scratch)
        self.mounted = wait_until(
            lambda: os.path.ismount(self.point) or self.process.poll() is not None) and \
            os.path.ismount(self.point)

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.unmount()

    def text(self):
        return self.log.read_text(errors="replace")

    def unmount(self):
        # A mount whose program ended without unmounting is no mount to
        # os.path.ismount (its stat fails), but is one to the kernel.
        if os.path.ismount(self.point) or in_mount_table(self.point):
            if subprocess.run(["fusermount3", "-u", self.point], capture_output=True).returncode:
                subprocess.run(["fusermount3", "-u", "-z", self.point], capture_output=True)
        try:
            self.process.wait(timeout=DEADLINE)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        return self.process.returncode


def extract(image, folder):
    folder.mkdir(parents=True)
    subprocess.run([BIN / "d88extract", image, "-a"], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def files_of(folder):
    return {p.relative_to(folder).as_posix(): p.read_bytes()
            for p in sorted(folder.rglob("*")) if p.is_file()}


def sh(command, cwd):
    return subprocess.run(["sh", "-c", command], cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, timeout=DEADLINE)


def r_plus_b(name, offset, data):
    """Python code that writes `data` at `offset` of `name` opened r+b."""
    return f"f = open('{name}', 'r+b'); f.seek({offset}); f.write({data!r}); f.close()"


def python_line(code):
    return f'python3 -c "{code}"'


def fresh(scratch, name, source=SAMPLE):
    work = scratch / name
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir()
    image = work / "game.d88"
    shutil.copyfile(source, image)
    return work, image


def d88put(image, folder, resize, *options):
    return subprocess.run([BIN / "d88put", image, folder, *(["--resize"] if resize else []),
                           *options],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


# (case, mount options, disk folder, shell line run there): each line writes
# only through what the program does by itself. ../../source is an
# extraction of the image beside both folders, ../../new a file made there.
HEAD_300_OF_S003 = "head -c 300 ../../source/000/S003 > ../../new && "
EDITS = [
    ("sed -i, same size", [], "000", "sed -i 's/byte/BYTE/' S001"),
    ("sed -i on the data disk", [], "001", "sed -i 's/byte/Byte/g' D101"),
    ("vim -es, same size (the file ends in a newline)", [], "000",
     "vim -es -u NONE -i NONE -c '%s/byte/BYTX/g' -c 'wq' S002"),
    ("vim -es adds the last line's end", ["--resize"], "000",
     "vim -es -u NONE -i NONE -c '%s/byte/BYTX/g' -c 'wq' S001"),
    ("vim -es, grows", ["--resize"], "000",
     "vim -es -u NONE -i NONE -c '$s/$/, one more line/' -c 'wq' S002"),
    ("cp over a file, same size", [], "000", HEAD_300_OF_S003 + "cp ../../new S001"),
    ("cp over a file, grows", ["--resize"], "000", "cp ../../source/000/S003 S001"),
    ("dd conv=notrunc", [], "000",
     "printf 'ZZZZ' | dd of=S001 bs=1 seek=10 conv=notrunc 2>/dev/null"),
    ("dd at the last byte", [], "000",
     "printf 'Q' | dd of=S001 bs=1 seek=299 conv=notrunc 2>/dev/null"),
    ("truncate, shrinks", ["--resize"], "000", "truncate -s 200 S001"),
    ("truncate, same size", [], "000", "truncate -s 300 S001"),
    ("python r+b at offset 0", [], "000", python_line(r_plus_b("S001", 0, b"AB"))),
    ("python r+b on a second-table file", [], "000", python_line(r_plus_b("S101", 99, b"!"))),
    ("rsync a file over, same size", [], "000", HEAD_300_OF_S003 + "rsync -I ../../new S001"),
    ("rsync a file over, shrinks", ["--resize"], "000", "rsync -I ../../source/000/S101 S001"),
    ("a temporary name renamed over", [], "000",
     HEAD_300_OF_S003 + "cp ../../new tmp.new && mv tmp.new S001"),
    ("a temporary name left alone", [], "000", "echo scratch > notes.txt"),
    ("a new file, the second table's next number", [], "000", "echo 'new file' > S11F"),
    ("a new file, the first table's next number", [], "000", "printf four > S004"),
    ("two new files in a row", [], "000", "echo one > S11F && cp ../../source/000/S001 S120"),
    ("a new file made by a rename", [], "000", "echo renamed > tmp.new && mv tmp.new S11F"),
    ("rm of a table's last file", [], "000", "rm S11E"),
    ("rm of a table's last two files", [], "000", "rm S11E && rm S11D"),
    ("a new file after a removal", ["--resize"], "000", "rm S003 && echo again > S003"),
]
# The d88put options that put a case's folder back as the mount does:
# new files are added with --resize, removals named.
PUT_OPTIONS = {
    "a new file, the second table's next number": ["--resize"],
    "a new file, the first table's next number": ["--resize"],
    "two new files in a row": ["--resize"],
    "a new file made by a rename": ["--resize"],
    "rm of a table's last file": ["--remove", "000/S11E"],
    "rm of a table's last two files": ["--remove", "000/S11E", "--remove", "000/S11D"],
}

# The cases that leave the D88 file as it was.
UNCHANGING = {"truncate, same size", "a temporary name left alone"}

# (case, mount options, image, python code run in disk 000's folder,
# errno): each refused, every table file reads as before, the image is
# unchanged. The image is the sample's, or one of the damaged cases.
BUFFER = 0x50000  # the largest file a table holds
REFUSALS = [
    ("grows without --resize", [], None, r_plus_b("S001", 300, b"XYZ"), errno.EPERM),
    ("grows past the table's room", ["--resize"], None, r_plus_b("S001", 20000, b"X"),
     errno.EFBIG),
    ("grows past a chain buffer", ["--resize"], None, r_plus_b("S101", BUFFER, b"X"),
     errno.EFBIG),
    ("a write far past a chain buffer", ["--resize"], None, r_plus_b("S101", 4 * BUFFER, b"X"),
     errno.EFBIG),
    ("BIOS changes size", ["--resize"], None, r_plus_b("BIOS", 9472, b"X"), errno.EPERM),
    ("a table's file 0 changes size", ["--resize"], None, r_plus_b("S000", 2371, b"X"),
     errno.EPERM),
    ("a file whose chain breaks", [], "broken-chains", "open('D002', 'r+b')", errno.EPERM),
    ("rm of a file not last in its table", [], None, "import os; os.remove('S001')",
     errno.EPERM),
    ("rm of BIOS", [], None, "import os; os.remove('BIOS')", errno.EPERM),
    ("rm of a table's last file open for writing", [], None,
     "import os; f = open('S11E', 'r+b'); os.remove('S11E')", errno.EBUSY),
    ("a table name out of order", ["--resize"], None, "open('S121', 'wb')", errno.EPERM),
    ("a new file past the table's room", [], None,
     "f = open('S004', 'wb'); f.write(bytes(20000)); f.close()", errno.EFBIG),
    ("a file in the root folder", [], None, "open('../notes.txt', 'wb')", errno.EPERM),
    ("a rename into the root folder", [], None,
     "import os; open('notes.txt', 'wb').close(); os.rename('notes.txt', '../notes.txt')",
     errno.EPERM),
    ("a rename to another disk", [], None,
     "import os; open('notes.txt', 'wb').close(); os.rename('notes.txt', '../001/notes.txt')",
     errno.EXDEV),
    ("mkdir", [], None, "import os; os.mkdir('sub')", errno.EPERM),
    ("chmod of a table file", [], None, "import os; os.chmod('S001', 0o600)", errno.EPERM),
    ("chown of a table file", [], None, "import os; os.chown('S001', 1234, 1234)", errno.EPERM),
    ("a hard link", [], None, "import os; os.link('S001', 'S001.link')", errno.EPERM),
    ("a symbolic link", [], None, "import os; os.symlink('S001', 'S001.link')", errno.EPERM),
    ("read-only mount", ["--read-only"], None, r_plus_b("S001", 0, b"x"), errno.EROFS),
]


def run_python(code, cwd):
    """The errno value the code raised (0 for none)."""
    result = subprocess.run(
        ["python3", "-c",
         "import sys\ntry:\n" + "".join(f"    {line}\n" for line in code.split("\n")) +
         "except OSError as e:\n    sys.exit(e.errno)\n"], cwd=cwd, timeout=DEADLINE)
    return result.returncode


def table_files(folder):
    """What d88extract -a wrote, or the same names in a mount."""
    return {name: data for name, data in files_of(folder).items()
            if "." not in name.split("/")[-1]}


def test_reads(scratch):
    for image_name in ("sample", "broken-chains"):
        source = SAMPLE if image_name == "sample" else scratch / "cases" / "broken-chains.d88"
        work, image = fresh(scratch, "reads", source)
        extract(image, work / "extracted")
        with Mount(work, image) as mount:
            if not check(mount.mounted, f"{image_name}: mounts ({mount.text().strip()})"):
                continue
            expected = files_of(work / "extracted")
            shown = files_of(mount.point)
            check(sorted(shown) == sorted(expected),
                  f"{image_name}: the mount lists the files d88extract -a writes")
            for name, data in expected.items():
                check(shown.get(name) == data, f"{image_name}: {name} reads as d88extract -a")
            check(sorted(os.listdir(mount.point)) == sorted(os.listdir(work / "extracted")),
                  f"{image_name}: the root lists one folder per disk")
            for name in expected:
                shown_stat = os.stat(mount.point / name)
                check(shown_stat.st_mtime_ns == os.stat(image).st_mtime_ns,
                      f"{image_name}: {name} has the D88 file's time")


def test_edits(scratch):
    for case, options, disk, command in EDITS:
        work, image = fresh(scratch, "edit")
        extract(image, work / "source")
        extract(image, work / "reference")
        shutil.copyfile(image, work / "expected.d88")
        ran = sh(command, work / "reference" / disk)
        check(ran.returncode == 0, f"{case}: runs in a folder ({ran.stderr.strip()})")
        # Names the disk has no file of live in the mount's memory only; a
        # table's names are new files, added.
        for leftover in (work / "reference" / disk).iterdir():
            if not (work / "source" / disk / leftover.name).exists() and \
                    not re.fullmatch("[SD][0-9A-F]{3}", leftover.name):
                leftover.unlink()
        put = d88put(work / "expected.d88", work / "reference", "--resize" in options,
                     *PUT_OPTIONS.get(case, []))
        check(put.returncode == 0, f"{case}: d88put puts the folder back ({put.stderr.strip()})")
        check(image.read_bytes() != (work / "expected.d88").read_bytes() or case in UNCHANGING,
              f"{case}: the edit changes the D88 file")
        extract(work / "expected.d88", work / "expected")
        with Mount(work, image, *options) as mount:
            if not check(mount.mounted, f"{case}: mounts"):
                continue
            # Read first, the file most cases change last: what the mount
            # shows afterwards must not be what it read before.
            check(table_files(mount.point) == files_of(work / "source"), f"{case}: reads")
            (mount.point / "000" / "S001").read_bytes()
            ran = sh(command, mount.point / disk)
            check(ran.returncode == 0, f"{case}: runs in the mount ({ran.stderr.strip()})")
            check((mount.point / "000" / "S001").read_bytes() ==
                  (work / "expected" / "000" / "S001").read_bytes(),
                  f"{case}: S001, read before, now reads as d88extract -a of d88put's file")
            check(table_files(mount.point) == files_of(work / "expected"),
                  f"{case}: the mount then shows what d88extract -a of d88put's file writes")
        check(image.read_bytes() == (work / "expected.d88").read_bytes(),
              f"{case}: the D88 file equals d88put's ({mount.text().strip()})")


def test_refusals(scratch):
    for case, options, damaged, code, expected in REFUSALS:
        source = SAMPLE if damaged is None else scratch / "cases" / f"{damaged}.d88"
        work, image = fresh(scratch, "refusal", source)
        extract(image, work / "before")
        before = image.read_bytes()
        with Mount(work, image, *options) as mount:
            got = run_python(code, mount.point / "000")
            check(got == expected, f"{case}: fails with {errno.errorcode[expected]}, got "
                                   f"{errno.errorcode.get(got, got)} ({mount.text().strip()})")
            check(table_files(mount.point) == files_of(work / "before"),
                  f"{case}: every file reads as before")
        check(image.read_bytes() == before, f"{case}: the D88 file is unchanged")
    # A name out of order names the missing one.
    work, image = fresh(scratch, "gap")
    with Mount(work, image) as mount:
        run_python("open('S121', 'wb')", mount.point / "000")
    check("d88mount: error: 000/S121 cannot be added: 000/S11F does not exist\n" in mount.text(),
          f"a gap names the missing number ({mount.text().strip()})")
    # A refusal logs d88put's own message, and a write after it is put back.
    work, image = fresh(scratch, "message")
    with Mount(work, image) as mount:
        grown = run_python(r_plus_b("S001", 300, b"XYZ"), mount.point / "000")
        same = run_python(r_plus_b("S001", 0, b"XYZ"), mount.point / "000")
    check("d88mount: error: 000/S001 is 303 bytes, the disk's file 300: files cannot change "
          "size (--resize lets later files move)\n" in mount.text(),
          f"the refusal logs d88put's message ({mount.text().strip()})")
    extract(image, work / "after")
    check(grown == errno.EPERM and same == 0 and
          (work / "after" / "000" / "S001").read_bytes()[:3] == b"XYZ",
          "after a refusal the next write is put back")


def test_lock(scratch):
    work, image = fresh(scratch, "lock")
    extract(image, work / "folder")
    busy = f"error: {image} is being changed by another d88put or d88mount\n"
    with Mount(work, image) as mount:
        for step in ("before any write", "after a put back"):
            put = subprocess.run([BIN / "d88put", image, work / "folder"], capture_output=True,
                                 text=True, timeout=DEADLINE)
            check(put.returncode == 1 and put.stderr == busy,
                  f"d88put stops at once {step}: {put.stderr!r}")
            second = subprocess.run([BIN / "d88mount", image, work / "other", "-f"],
                                    capture_output=True, text=True, timeout=DEADLINE)
            check(second.returncode == 1 and second.stderr == busy,
                  f"a second mount stops at once {step}: {second.stderr!r}")
            check(sh("sed -i 's/byte/Byte/' S001", mount.point / "000").returncode == 0,
                  f"sed -i {step}")
        # Another program changes the file: the next write is refused.
        os.utime(image, ns=(0, 0))
        changed = image.read_bytes()
        got = run_python(r_plus_b("S001", 0, b"x"), mount.point / "000")
        check(got == errno.EIO, "a write after another program changed the file is EIO")
        check("changed while mounted" in mount.text(), "the log says it changed while mounted")
    check(image.read_bytes() == changed, "the changed file is left as the other program left it")
    put = subprocess.run([BIN / "d88put", image, work / "folder"], capture_output=True)
    check(put.returncode == 0, "after the unmount d88put runs")


def close_quietly(file):
    try:
        file.close()
    except OSError:
        pass


class Holder:
    """A program that holds `path` open for writing, `data` written at its
    start, until close(): the test's own forks then never close it (every
    close of a descriptor reaches the mount as a flush, which puts back)."""

    def __init__(self, path, data):
        self.process = subprocess.Popen(
            ["python3", "-c",
             "import os, sys\n"
             f"fd = os.open({str(path)!r}, os.O_RDWR)\n"
             f"os.write(fd, {data!r})\n"
             "print('ready', flush=True)\n"
             "sys.stdin.readline()\n"
             "try:\n    os.close(fd)\nexcept OSError as e:\n    sys.exit(e.errno)\n"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.ready = self.process.stdout.readline() == "ready\n"

    def close(self):
        """The errno value of the close (0 for none)."""
        self.process.communicate("\n", timeout=DEADLINE)
        return self.process.returncode


def test_lifecycle(scratch):
    for name in ("SIGINT", "SIGTERM", "SIGHUP"):
        # With a file open for writing: the mount ends and puts nothing back;
        # a mount point given relative is unmounted too.
        work, image = fresh(scratch, "signal")
        before = image.read_bytes()
        mount = Mount(work, image, relative=name == "SIGTERM")
        file = open(mount.point / "000" / "S001", "r+b", buffering=0)
        file.write(b"SIGNAL")
        mount.process.send_signal(getattr(signal, name))
        ended = wait_until(lambda: mount.process.poll() is not None)
        close_quietly(file)
        check(ended and not in_mount_table(mount.point), f"{name} unmounts")
        check(mount.unmount() == 0, f"{name}: the mount ends with status 0")
        check(image.read_bytes() == before, f"{name} with a file open puts nothing back")
        check("d88mount: error: 000/S001 was still open for writing at unmount: not put back\n"
              in mount.text(), f"{name}: the log names the file not put back ({mount.text()})")
        # During a put back: the file is then either the old or the new one.
        work, image = fresh(scratch, "signal")
        before = image.read_bytes()
        mount = Mount(work, image, "--resize")
        file = open(mount.point / "000" / "S001", "r+b", buffering=0)
        file.write(b"SIGNAL" * 1000)
        closer = threading.Thread(target=close_quietly, args=(file,))
        closer.start()
        mount.process.send_signal(getattr(signal, name))
        closer.join(DEADLINE)
        check(mount.unmount() == 0, f"{name} during a put back: the mount ends with status 0")
        after = image.read_bytes()
        if after != before:
            extract(image, work / "after")
            check((work / "after" / "000" / "S001").read_bytes()[:6000] == b"SIGNAL" * 1000,
                  f"{name} during a put back: the file is the old or the new one")
        check(not list(work.glob("*.d88put-tmp")), f"{name}: no temporary file is left")

    # fusermount3 -u with a file open for writing: the kernel refuses the
    # unmount, nothing is put back until the file's own close.
    work, image = fresh(scratch, "open")
    before = image.read_bytes()
    with Mount(work, image) as mount:
        holder = Holder(mount.point / "000" / "S001", b"OPEN")
        refused = subprocess.run(["fusermount3", "-u", mount.point], capture_output=True,
                                 text=True)
        check(refused.returncode != 0 and "busy" in refused.stderr,
              f"fusermount3 -u with a file open says it is busy ({refused.stderr.strip()})")
        check(os.path.ismount(mount.point), "fusermount3 -u with a file open leaves the mount")
        check(image.read_bytes() == before, "fusermount3 -u with a file open puts nothing back")
        check(holder.close() == 0, "the file then closes")
    check(mount.process.returncode == 0, "after the close fusermount3 -u ends the mount, status 0")
    extract(image, work / "after")
    check((work / "after" / "000" / "S001").read_bytes()[:4] == b"OPEN",
          "the file's own close then puts it back")
    # A lazy unmount (fusermount3 -u -z) leaves the open file's mount alive
    # until its close, which still puts the file back.
    work, image = fresh(scratch, "lazy")
    mount = Mount(work, image)
    holder = Holder(mount.point / "000" / "S001", b"LAZY")
    subprocess.run(["fusermount3", "-u", "-z", mount.point], check=False)
    check(not os.path.ismount(mount.point) and mount.process.poll() is None,
          "fusermount3 -u -z detaches the mount, which serves the open file")
    check(holder.close() == 0, "the file closes after a lazy unmount")
    check(mount.unmount() == 0, "after the lazy unmount and the close the mount ends, status 0")
    extract(image, work / "after")
    check((work / "after" / "000" / "S001").read_bytes()[:4] == b"LAZY",
          "the close after a lazy unmount puts the file back")


# The random sequences: table files of disk 000 that may change size (not
# BIOS, DRIVER, nor a table's file 0), and the room each may grow by.
RANDOM_FILES = ["S001", "S002", "S003", "S101", "S102", "S103"]
RANDOM_SEEDS = range(1, 21)
RANDOM_STEPS = 14
GROWTH = 48


def random_sequence(seed, sizes):
    """Steps of open, write, truncate, fsync, rename and close: each keeps
    every file at 1 byte or more and within GROWTH of its size, so that a
    put back is never refused, and renames only over a file not open."""
    rng = random.Random(seed)
    sizes = dict(sizes)
    limits = {name: size + GROWTH for name, size in sizes.items()}
    open_slots = {}  # slot -> name
    steps = []

    def new_size(name):
        return rng.randint(1, limits[name])

    for _ in range(RANDOM_STEPS):
        kinds = ["open", "truncate path"]
        if open_slots:
            kinds += ["write", "write", "ftruncate", "fsync", "close", "close"]
        if any(name not in open_slots.values() for name in RANDOM_FILES):
            kinds.append("replace")
        kind = rng.choice(kinds)
        if kind == "open":
            slot = len(steps)
            open_slots[slot] = rng.choice(RANDOM_FILES)
            steps.append(("open", slot, open_slots[slot]))
        elif kind == "write":
            slot = rng.choice(sorted(open_slots))
            name = open_slots[slot]
            offset = rng.randint(0, sizes[name])
            length = rng.randint(1, max(1, min(32, limits[name] - offset)))
            data = bytes(rng.randrange(256) for _ in range(length))
            if offset + length > limits[name]:
                continue
            sizes[name] = max(sizes[name], offset + length)
            steps.append(("write", slot, offset, data))
        elif kind == "ftruncate":
            slot = rng.choice(sorted(open_slots))
            size = new_size(open_slots[slot])
            sizes[open_slots[slot]] = size
            steps.append(("ftruncate", slot, size))
        elif kind == "truncate path":
            name = rng.choice(RANDOM_FILES)
            sizes[name] = new_size(name)
            steps.append(("truncate path", name, sizes[name]))
        elif kind == "fsync":
            steps.append(("fsync", rng.choice(sorted(open_slots))))
        elif kind == "close":
            slot = rng.choice(sorted(open_slots))
            del open_slots[slot]
            steps.append(("close", slot))
        else:
            name = rng.choice([n for n in RANDOM_FILES if n not in open_slots.values()])
            sizes[name] = new_size(name)
            data = bytes(rng.randrange(256) for _ in range(sizes[name]))
            steps.append(("replace", name, data))
    steps += [("close", slot) for slot in sorted(open_slots)]
    return steps


def apply_steps(steps, folder):
    """Runs the steps in `folder`; the index and error of a step that failed."""
    descriptors = {}
    try:
        for index, step in enumerate(steps):
            try:
                kind = step[0]
                if kind == "open":
                    descriptors[step[1]] = os.open(folder / step[2], os.O_RDWR)
                elif kind == "write":
                    os.pwrite(descriptors[step[1]], step[3], step[2])
                elif kind == "ftruncate":
                    os.ftruncate(descriptors[step[1]], step[2])
                elif kind == "truncate path":
                    os.truncate(folder / step[1], step[2])
                elif kind == "fsync":
                    os.fsync(descriptors[step[1]])
                elif kind == "close":
                    os.close(descriptors.pop(step[1]))
                else:
                    temporary = folder / f".{step[1]}.new"
                    temporary.write_bytes(step[2])
                    os.rename(temporary, folder / step[1])
            except OSError as error:
                return index, error
    finally:
        for descriptor in descriptors.values():
            os.close(descriptor)
    return None


def test_random_sequences(scratch):
    work, image = fresh(scratch, "random")
    extract(image, work / "pristine")
    sizes = {name: len((work / "pristine" / "000" / name).read_bytes()) for name in RANDOM_FILES}
    for seed in RANDOM_SEEDS:
        work, image = fresh(scratch, "random")
        extract(image, work / "folder")
        shutil.copyfile(image, work / "expected.d88")
        steps = random_sequence(seed, sizes)
        label = f"random sequence, seed {seed}"
        failed = apply_steps(steps, work / "folder" / "000")
        check(failed is None, f"{label}: runs in a folder ({failed})")
        put = d88put(work / "expected.d88", work / "folder", True)
        check(put.returncode == 0, f"{label}: d88put --resize ({put.stderr.strip()})")
        with Mount(work, image, "--resize") as mount:
            failed = apply_steps(steps, mount.point / "000")
            check(failed is None, f"{label}: runs in the mount "
                                  f"({failed}, {steps[failed[0]][:3] if failed else ''})")
        if not check(image.read_bytes() == (work / "expected.d88").read_bytes(),
                     f"{label}: the D88 file equals d88put --resize's of the folder"):
            print(f"  steps of seed {seed}: {[step[:3] for step in steps]}")
            print(f"  log: {mount.text().strip()}")


def main():
    if shutil.which("fusermount3") is None:
        skip("fusermount3 is not installed (Debian: fuse3)")
    try:
        os.close(os.open("/dev/fuse", os.O_RDWR))
    except OSError as error:
        skip(f"/dev/fuse cannot be opened: {error.strerror}")
    missing = [tool for tool in ("vim", "rsync") if shutil.which(tool) is None]
    if missing:
        skip(f"not installed: {', '.join(missing)} (./prepare.sh test)")
    with tempfile.TemporaryDirectory(prefix="d88mount-test-") as name:
        scratch = Path(name)
        (scratch / "cases").mkdir()
        subprocess.run([CASES, scratch / "cases"], check=True, stdout=subprocess.DEVNULL)
        with Mount(scratch, SAMPLE, "--read-only") as probe:
            mounted = probe.mounted
        if not mounted:
            skip(f"a mount fails here: {probe.text().strip()}")
        for test in (test_reads, test_edits, test_refusals, test_lock, test_lifecycle,
                     test_random_sequences):
            started = time.monotonic()
            test(scratch)
            print(f"{test.__name__}: {time.monotonic() - started:.1f} s")
    if FAILURES:
        print(f"{len(FAILURES)} checks failed")
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
