#!/usr/bin/env python3
"""d88mount on a real mount, in a scratch folder.

Each editing case runs one program's way of writing in a disk folder of the
mount, and the same command in a folder that d88extract -a wrote; d88put
(with --resize where the case mounts with it) then puts that folder back
into a copy of the image. The two D88 files must be equal byte for byte.
Each refusal must fail with its errno value and leave the image byte for
byte.

    mount_test.py BIN_DIR SAMPLE_D88

Exits 77 (skipped) where /dev/fuse cannot be opened or a mount fails; with
D88_REQUIRE_FUSE=1 in the environment (CI) that is a failure instead.
"""
import errno
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BIN = Path(sys.argv[1])
SAMPLE = Path(sys.argv[2])
FAILURES = []


def skip(reason):
    print(f"SKIPPED: {reason}")
    sys.exit(1 if os.environ.get("D88_REQUIRE_FUSE") == "1" else 77)


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print(f"FAIL: {what}")


class Mount:
    def __init__(self, scratch, image, *options):
        self.point = scratch / "mnt"
        self.point.mkdir(exist_ok=True)
        self.log = scratch / "mount.log"
        self.process = subprocess.Popen(
            [BIN / "d88mount", image, self.point, "-f", *options],
            stderr=open(self.log, "w"))
        for _ in range(200):
            if os.path.ismount(self.point) or self.process.poll() is not None:
                break
            time.sleep(0.01)
        self.mounted = os.path.ismount(self.point)

    def text(self):
        return self.log.read_text(errors="replace")

    def unmount(self):
        if os.path.ismount(self.point):
            subprocess.run(["fusermount3", "-u", self.point], check=False)
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def extract(image, folder):
    folder.mkdir(parents=True)
    subprocess.run([BIN / "d88extract", image.resolve(), "-a"], cwd=folder, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def files_of(folder):
    return {p.relative_to(folder).as_posix(): p.read_bytes()
            for p in sorted(folder.rglob("*")) if p.is_file()}


def sh(command, cwd):
    return subprocess.run(["sh", "-c", command], cwd=cwd, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)


def python_r_plus_b(name, offset, data):
    return (f"python3 -c \"f = open('{name}', 'r+b'); f.seek({offset}); "
            f"f.write(b'{data}'); f.close()\"")


# (case, mount options, disk folder, command run there): each command writes
# only through what the program does by itself.
EDITS = [
    ("sed -i, same size", [], "000", "sed -i 's/byte/BYTE/' S001"),
    ("vim -es, same size", [], "000",
     "vim -es -u NONE -i NONE -c '%s/byte/BYTX/g' -c 'wq' S001"),
    ("vim -es, grows", ["--resize"], "000",
     "vim -es -u NONE -i NONE -c '$put =\"one more line\"' -c 'wq' S001"),
    ("cp over a file", [], "000", "cp ../../source/S001 S001"),
    ("dd conv=notrunc", [], "000",
     "printf 'ZZZZ' | dd of=S001 bs=1 seek=10 conv=notrunc 2>/dev/null"),
    ("dd at the last byte", [], "000",
     "printf 'Q' | dd of=S001 bs=1 seek=299 conv=notrunc 2>/dev/null"),
    ("truncate, shrinks", ["--resize"], "000", "truncate -s 200 S001"),
    ("truncate, same size", [], "000", "truncate -s 300 S001"),
    ("python r+b at offset 0", [], "000", python_r_plus_b("S001", 0, "AB")),
    ("python r+b on a second-table file", [], "000", python_r_plus_b("S101", 99, "!")),
    ("rsync a new file over", [], "000", "rsync ../../source/S001 S001"),
    ("a temporary name renamed over", [], "000",
     "cp ../../source/S001 tmp.new && mv tmp.new S001"),
    ("a temporary name left alone", [], "000", "echo scratch > notes.txt"),
]

# (case, mount options, command, errno): each refused, the image unchanged.
REFUSALS = [
    ("grows without --resize", [], python_r_plus_b("S001", 300, "XYZ"), errno.EPERM),
    ("grows past the room", ["--resize"], python_r_plus_b("S001", 200000, "X"), errno.EFBIG),
    ("rm of a table file", [], "import os; os.remove('S001')", errno.EPERM),
    ("mkdir", [], "import os; os.mkdir('sub')", errno.EPERM),
    ("chmod of a table file", [], "import os; os.chmod('S001', 0o600)", errno.EPERM),
    ("a hard link", [], "import os; os.link('S001', 'S001.link')", errno.EPERM),
    ("a symbolic link", [], "import os; os.symlink('S001', 'S001.link')", errno.EPERM),
    ("read-only mount", ["--read-only"], "open('S001', 'r+b').write(b'x')", errno.EROFS),
]


def run_python(code, cwd):
    """The errno value the code raised (0 for none)."""
    result = subprocess.run(
        ["python3", "-c",
         "import sys\ntry:\n" + "".join(f"    {line}\n" for line in code.split("\n")) +
         "except OSError as e:\n    sys.exit(e.errno)\n"], cwd=cwd)
    return result.returncode


def fresh(scratch, name):
    work = scratch / name
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir()
    image = work / "game.d88"
    shutil.copyfile(SAMPLE, image)
    return work, image


def test_reads(scratch):
    work, image = fresh(scratch, "reads")
    extract(image, work / "extracted")
    mount = Mount(work, image)
    try:
        expected = files_of(work / "extracted")
        shown = files_of(mount.point)
        check(sorted(shown) == sorted(expected), "the mount lists the files d88extract -a writes")
        for name, data in expected.items():
            check(shown.get(name) == data, f"{name} reads as d88extract -a writes it")
        check(os.listdir(mount.point) == sorted(os.listdir(work / "extracted")),
              "the root lists one folder per disk")
    finally:
        mount.unmount()


def test_edits(scratch):
    for case, options, disk, command in EDITS:
        work, image = fresh(scratch, "edit")
        extract(image, work / "source")
        extract(image, work / "reference")
        shutil.copyfile(image, work / "expected.d88")
        ran = sh(command, work / "reference" / disk)
        check(ran.returncode == 0, f"{case}: runs in a folder ({ran.stderr.strip()})")
        # Names the disk has no file of live in the mount's memory only.
        for leftover in (work / "reference" / disk).iterdir():
            if not (work / "source" / disk / leftover.name).exists():
                leftover.unlink()
        put = subprocess.run([BIN / "d88put", work / "expected.d88", work / "reference",
                              *(["--resize"] if "--resize" in options else [])],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        check(put.returncode == 0, f"{case}: d88put puts the folder back ({put.stderr.strip()})")
        mount = Mount(work, image, *options)
        if not mount.mounted:
            check(False, f"{case}: mounts")
            continue
        try:
            ran = sh(command, mount.point / disk)
            check(ran.returncode == 0, f"{case}: runs in the mount ({ran.stderr.strip()})")
        finally:
            mount.unmount()
        check(image.read_bytes() == (work / "expected.d88").read_bytes(),
              f"{case}: the D88 file equals d88put's ({mount.text().strip()})")


def test_refusals(scratch):
    for case, options, code, expected in REFUSALS:
        work, image = fresh(scratch, "refusal")
        before = image.read_bytes()
        mount = Mount(work, image, *options)
        try:
            got = run_python(code, mount.point / "000")
            check(got == expected, f"{case}: fails with {errno.errorcode[expected]}, got "
                                   f"{errno.errorcode.get(got, got)}")
            check(files_of(mount.point).get("000/S001") == files_of(scratch / "pristine")["000/S001"],
                  f"{case}: the file reads as before")
        finally:
            mount.unmount()
        check(image.read_bytes() == before, f"{case}: the D88 file is unchanged")
    # A refusal logs d88put's own message.
    work, image = fresh(scratch, "message")
    mount = Mount(work, image)
    try:
        run_python(python_r_plus_b("S001", 300, "XYZ").split('"')[1], mount.point / "000")
    finally:
        mount.unmount()
    check("error: 000/S001 is 303 bytes, the disk's file 300: files cannot change size "
          "(--resize lets later files move)" in mount.text(), "the refusal logs d88put's message")


def test_lock(scratch):
    work, image = fresh(scratch, "lock")
    extract(image, work / "folder")
    busy = f"error: {image} is being changed by another d88put or d88mount\n"
    mount = Mount(work, image)
    try:
        for step in ("before any write", "after a put back"):
            put = subprocess.run([BIN / "d88put", image, work / "folder"], capture_output=True,
                                 text=True)
            check(put.returncode == 1 and put.stderr == busy, f"d88put stops at once {step}")
            second = subprocess.run([BIN / "d88mount", image, work / "other", "-f"],
                                    capture_output=True, text=True, timeout=10)
            check(second.returncode == 1 and second.stderr == busy,
                  f"a second mount stops at once {step}")
            sh("sed -i 's/byte/Byte/' S001", mount.point / "000")
        # Another program changes the file: the next write is refused.
        os.utime(image)
        got = run_python(python_r_plus_b("S001", 0, "x").split('"')[1], mount.point / "000")
        check(got == errno.EIO, "a write after another program changed the file is EIO")
        check("changed while mounted" in mount.text(), "the log says it changed while mounted")
    finally:
        mount.unmount()
    put = subprocess.run([BIN / "d88put", image, work / "folder"], capture_output=True)
    check(put.returncode == 0, "after the unmount d88put runs")


def test_lifecycle(scratch):
    for name in ("SIGINT", "SIGTERM", "SIGHUP"):
        work, image = fresh(scratch, "signal")
        before = image.read_bytes()
        mount = Mount(work, image)
        with open(mount.point / "000" / "S001", "r+b") as file:
            file.write(b"SIGNAL")
            mount.process.send_signal(getattr(signal, name))
            try:
                file.close()
            except OSError:
                pass
        try:
            mount.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        check(not os.path.ismount(mount.point), f"{name} unmounts")
        check(mount.process.returncode == 0, f"{name}: the mount ends with status 0")
        after = image.read_bytes()
        if after != before:
            extract(image, work / "after")
            check((work / "after" / "000" / "S001").read_bytes()[:6] == b"SIGNAL",
                  f"{name}: the file is the old or the new one")
        mount.unmount()
    # Unmounted with a file open for writing: nothing is put back.
    work, image = fresh(scratch, "open")
    before = image.read_bytes()
    mount = Mount(work, image)
    file = open(mount.point / "000" / "S001", "r+b")
    file.write(b"OPEN")
    file.flush()
    subprocess.run(["fusermount3", "-u", "-z", mount.point], check=False)
    mount.process.send_signal(signal.SIGTERM)
    try:
        mount.process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        mount.process.kill()
    try:
        file.close()
    except OSError:
        pass
    check(image.read_bytes() == before, "an unmount with a file open puts nothing back")
    check("was still open for writing at unmount: not put back" in mount.text(),
          "the unmount says what it did not put back")


def main():
    if shutil.which("fusermount3") is None:
        skip("fusermount3 is not installed (Debian: fuse3)")
    try:
        os.close(os.open("/dev/fuse", os.O_RDWR))
    except OSError as error:
        skip(f"/dev/fuse cannot be opened: {error.strerror}")
    with tempfile.TemporaryDirectory(prefix="d88mount-test-") as name:
        scratch = Path(name)
        extract(SAMPLE, scratch / "pristine")
        probe = Mount(scratch, SAMPLE, "--read-only")
        mounted = probe.mounted
        probe.unmount()
        if not mounted:
            skip(f"a mount fails here: {probe.text().strip()}")
        for test in (test_reads, test_edits, test_refusals, test_lock, test_lifecycle):
            test(scratch)
    if FAILURES:
        print(f"{len(FAILURES)} checks failed")
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
