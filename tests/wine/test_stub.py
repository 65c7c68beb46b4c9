#!/usr/bin/env python3
# The stub end to end under Wine + Xvfb with a Japanese locale: automatic
# extraction of jlha-made archives (bytes and time stamps), the message
# question, the overwrite question, Cancel in the middle of a member, a CRC
# error, the command started afterwards, the exit codes, silent mode and its
# log, waiting for the command, the temporary-folder mode, arguments handed
# to the command, DLL planting, archives made by our own compressor, and
# files signed with osslsigncode. Self-extracting files are built with
# "lzhsfx create --stub" for the stub the harness runs. Screenshots of the
# dialogs stay in the output folder.
import glob
import os
import random
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from lzhtool import SIGNING_TOOLS, member, read_config, read_members, sign  # noqa: E402
from wineharness import (run_suite_main, ID_BROWSE, ID_CANCEL, ID_DEST_EDIT, ID_NO, ID_OK,  # noqa: E402
                         ID_STATUS_PATH, ID_STATUS_PERCENT, ID_YES, POLL_SECONDS, Failure,
                         SuiteBase, check)

JAPANESE = "ja_JP.UTF-8"
RUN_SECONDS = 90          # one stub run, start to exit
QUIET_SECONDS = 6         # how long a command that must not start is given
MARKER_SECONDS = 30       # how long a command that must start is given

# Exit codes of the stub: nothing extracted (Cancel before OK, the message
# declined, the scan failed), extracted, the extraction failed (a damaged
# member, a read or write error), stopped by the user (Cancel or closing the
# window while it runs, Cancel at an overwrite question); a command waited
# for ends the run with 1000 plus its own code.
EXIT_NOTHING, EXIT_EXTRACTED, EXIT_FAILED, EXIT_STOPPED = 0, 1, 2, 3
EXIT_COMMAND_BASE = 1000

TITLE = "テスト書庫"
MESSAGE = "使用許諾に同意しますか？\nはいを押すと解凍します。\n"
MARK_BAT = b"@echo done> marker.txt\r\n"
# The cancelled member takes about 0.6 s or more to decode under Wine here
# (the stub decodes such data at up to some 100 MB/s); Cancel is clicked
# well inside that, and well after the tiny member before it is done.
BIG_MEMBER_BYTES = 64_000_000
BASE_TIME = 1_600_000_000  # even, so DOS time keeps it exactly


def words_text(size, key):
    r = random.Random(key)
    vocabulary = ["".join(r.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9)))
                  for _ in range(3000)]
    lines, n = [], 0
    while n < size:
        line = " ".join(r.choice(vocabulary) for _ in range(12)) + "\n"
        lines.append(line)
        n += len(line)
    return "".join(lines).encode()[:size]


def literal_heavy(size, key):
    """Sixteen letters at random: -lh5- codes it almost all as literals,
    the slowest kind of data to decode, so the member takes a while."""
    table = bytes(0x41 + (b & 0x0F) for b in range(256))
    return random.Random(key).randbytes(size).translate(table)


def far_repeats(size, key):
    """Random bytes with blocks repeated 12 KB, 40 KB and 100 KB back, so
    that matches need the wider windows of -lh6- and -lh7-."""
    r = random.Random(key)
    data = bytearray(r.randbytes(size))
    for distance in (12_000, 40_000, 100_000):
        for start in range(distance, size - 4096, distance * 2):
            data[start:start + 4096] = data[start - distance:start - distance + 4096]
    return bytes(data)


def two_image_icon():
    """An .ico with a 16x16 and a 32x32 32-bit image (BITMAPINFOHEADER with
    the doubled height, pixels, AND mask), a blue and a green square."""
    images = []
    for size, bgra in ((16, (200, 80, 0, 255)), (32, (0, 160, 0, 255))):
        mask = ((size + 31) // 32 * 4) * size
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, size * size * 4 + mask, 0, 0, 0, 0)
        images.append((size, header + bytes(bgra) * (size * size) + b"\0" * mask))
    out, blobs = struct.pack("<HHH", 0, 1, len(images)), b""
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), 6 + 16 * len(images) + len(blobs))
        blobs += data
    return out + blobs


class Suite(SuiteBase):
    # ---- building inputs ---------------------------------------------------
    def tree(self, root, files):
        """files: relative name -> bytes; each gets its own even mtime."""
        for i, (rel, data) in enumerate(files.items()):
            path = os.path.join(root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
            os.utime(path, (BASE_TIME + 7200 * i, BASE_TIME + 7200 * i))
        return root

    def jlha(self, root, flags, archive, names=None):
        names = names or sorted(os.listdir(root))
        subprocess.run(["jlha", flags, archive, *names], cwd=root, check=True, timeout=300,
                       capture_output=True, env=dict(os.environ, LC_ALL=JAPANESE))
        return archive

    def sfx(self, target, archive, *options):
        r = subprocess.run([self.lzhsfx, "create", target, "--stub", self.s.stub, "--from-lzh",
                            archive, "--title", TITLE, *options], capture_output=True, timeout=120)
        if r.returncode != 0:
            raise Failure("lzhsfx create failed: " + r.stderr.decode("utf-8", "replace"))
        return target

    def run(self, exe, *args, overrides=None, whole_code=False):
        return self.s.start_program(exe, list(args), overrides=overrides, whole_code=whole_code)

    def finish_without_message(self, p):
        """The exit code of a run that must show no message box. A box that
        does show is closed and its text reported, rather than the run
        timing out behind it."""
        deadline = time.monotonic() + RUN_SECONDS
        while p.poll() is None and time.monotonic() < deadline:
            box = next((w for w in self.s.windows() if w.kind() == "message"), None)
            if box is not None:
                self.s.screenshot(f"unexpected-message-{time.monotonic():.0f}.png")
                self.s.click(box, ID_OK)
                code = self.s.finish(p, RUN_SECONDS)
                raise Failure(f"a message box showed {box.text()!r} (exit code {code})")
            time.sleep(POLL_SECONDS)
        return self.s.finish(p, RUN_SECONDS)

    def compare_tree(self, source, dest, names):
        for rel in names:
            src, out = os.path.join(source, rel), os.path.join(dest, rel)
            check(os.path.isfile(out), f"{rel} was not extracted")
            with open(src, "rb") as a, open(out, "rb") as b:
                check(a.read() == b.read(), f"{rel} differs from the original")
            want = int(os.stat(src).st_mtime) // 2 * 2
            got = int(os.stat(out).st_mtime)
            check(got == want, f"{rel}: time stamp {got}, expected {want}")

    def marker_appears(self, dest, seconds):
        deadline = time.monotonic() + seconds
        marker = os.path.join(dest, "marker.txt")
        while time.monotonic() < deadline:
            if os.path.exists(marker):
                return True
            time.sleep(0.5)
        return False

    # ---- the cases ---------------------------------------------------------
    # Would catch: create or info misjudging the real stub image (its header
    # layout or real-mode text), or create accepting a finished SFX as stub.
    def case_info_on_real_stub(self):
        work = self.work_dir("info")
        lzh = os.path.join(work, "i.lzh")
        with open(lzh, "wb") as f:
            f.write(member(b"a.txt", b"a") + b"\0")
        exe = self.sfx(os.path.join(work, "i.exe"), lzh)

        def lzhsfx(*args):
            return subprocess.run([self.lzhsfx, *args], capture_output=True, timeout=60)
        r = lzhsfx("info", exe)
        check(r.returncode == 0 and TITLE in r.stdout.decode(), f"info on an SFX: {r}")
        r = lzhsfx("info", self.s.stub)
        check(r.returncode == 1 and b"bare stub" in r.stdout, f"info on the bare stub: {r}")
        r = lzhsfx("create", os.path.join(work, "again.exe"), "--stub", exe, "--from-lzh", lzh)
        check(r.returncode == 2, f"create on a finished SFX as stub: {r}")

    # Would catch: a decoder fault in any of -lh5-/-lh6-/-lh7-, wrong names
    # (Japanese, spaces, folders), wrong last-write times, -n not starting
    # by itself or ignoring the destination, an unexpected exit code.
    def case_auto_extract(self):
        work = self.work_dir("auto")
        files = {"readme.txt": words_text(20_000, 1),
                 "日本語の説明.txt": "解凍のテストです。\r\n漢字とかな\r\n".encode("cp932") * 50,
                 "docs/notes/read me.txt": words_text(3000, 2),
                 "data/far.bin": far_repeats(300_000, 3),
                 "empty.txt": b""}
        src = self.tree(os.path.join(work, "src"), files)
        for flags in ("a2o5q", "a2o6q", "a2o7q"):
            method = flags[3]
            lzh = self.jlha(src, flags, os.path.join(work, f"lh{method}.lzh"))
            methods = {m[1] for m in read_members(open(lzh, "rb").read())}
            check(f"-lh{method}-".encode() in methods, f"jlha did not use -lh{method}-: {methods}")
            exe = self.sfx(os.path.join(work, f"lh{method}.exe"), lzh)
            dest = os.path.join(work, f"out{method}")
            os.makedirs(dest)
            code = self.s.finish(self.run(exe, "-n", self.s.windows_path(dest)), RUN_SECONDS)
            check(code == EXIT_EXTRACTED, f"-lh{method}-: exit code {code}")
            self.compare_tree(src, dest, files)
            extracted = {os.path.relpath(os.path.join(r, f), dest)
                         for r, _, fs in os.walk(dest) for f in fs}
            check(extracted == set(files), f"unexpected files: {extracted ^ set(files)}")

    # Would catch: our own compressor writing anything the stub decodes
    # differently from the host (block forms, far matches in the 64 KB
    # window, -lhd- entries, CP932 names), whether create packs the files
    # itself (-lh7-) or takes an archive from "lzhsfx a" (-lh5-).
    def case_auto_extract_own_archives(self):
        work = self.work_dir("own")
        files = {"readme.txt": words_text(150_000, 4),
                 "日本語の説明.txt": "自前の圧縮です。\r\n表とソ\r\n".encode("cp932") * 80,
                 "sub/dir/far.bin": far_repeats(400_000, 5),
                 "sub/noise.bin": random.Random(6).randbytes(70_000),
                 "empty.txt": b""}
        src = self.tree(os.path.join(work, "src"), files)
        names = sorted(os.listdir(src))
        lzh = os.path.join(work, "a5.lzh")
        subprocess.run([self.lzhsfx, "a", lzh, *names, "-m", "lh5"], cwd=src, check=True,
                       capture_output=True, timeout=120)
        built = {"lh7": os.path.join(work, "own7.exe"), "lh5": os.path.join(work, "own5.exe")}
        r = subprocess.run([self.lzhsfx, "create", built["lh7"], *names, "--stub", self.s.stub,
                            "--title", TITLE], cwd=src, capture_output=True, timeout=120)
        check(r.returncode == 0, "create from files: " + r.stderr.decode("utf-8", "replace"))
        self.sfx(built["lh5"], lzh)
        for method, exe in built.items():
            dest = os.path.join(work, f"out-{method}")
            os.makedirs(dest)
            code = self.s.finish(self.run(exe, "-n", self.s.windows_path(dest)), RUN_SECONDS)
            check(code == EXIT_EXTRACTED, f"{method}: exit code {code}")
            self.compare_tree(src, dest, files)

    # Would catch: a file signed by its publisher no longer extracting: the
    # signature's certificate table lies behind the archive's end, straight
    # after the end byte when the file needed no padding to 8 bytes, and the
    # stub must stop at that end byte rather than read the table as a member.
    def case_signed_file(self):
        missing = [t for t in SIGNING_TOOLS if not shutil.which(t)]
        check(not missing, f"{' and '.join(missing)} missing (scripts/setup.sh installs them)")
        work = self.work_dir("signed")
        for padding in (0, 5):
            # pad.bin is stored, so each byte more makes the file a byte longer.
            for filler in range(1, 9):
                files = {"readme.txt": words_text(20_000, 7),
                         "pad.bin": random.Random(filler).randbytes(filler)}
                src = self.tree(os.path.join(work, f"src{padding}"), files)
                lzh = os.path.join(work, f"s{padding}.lzh")
                if os.path.exists(lzh):
                    os.unlink(lzh)
                exe = self.sfx(os.path.join(work, f"s{padding}.exe"),
                               self.jlha(src, "a2o5q", lzh, list(files)))
                if (os.path.getsize(exe) + padding) % 8 == 0:
                    break
            check((os.path.getsize(exe) + padding) % 8 == 0,
                  f"no length of pad.bin left {padding} bytes of padding")
            signed = sign(exe, os.path.join(work, f"s{padding}-signed.exe"), work)
            check(os.path.getsize(signed) > os.path.getsize(exe) + padding, "osslsigncode appended nothing")
            dest = os.path.join(work, f"out{padding}")
            os.makedirs(dest)
            code = self.finish_without_message(self.run(signed, "-n", self.s.windows_path(dest)))
            check(code == EXIT_EXTRACTED, f"padding {padding}: exit code {code}")
            self.compare_tree(src, dest, files)
            extracted = sorted(os.listdir(dest))
            check(extracted == sorted(files), f"padding {padding}: extracted {extracted}")

    # Would catch: the configuration block not reaching the stub: --auto
    # (start without -n), --dir (the destination proposed), --overwrite (no
    # question for an existing file).
    def case_configured_auto_overwrite(self):
        work = self.work_dir("configured")
        src = self.tree(os.path.join(work, "src"), {"a.txt": b"new a", "b.txt": b"new b"})
        dest = os.path.join(work, "out")
        self.tree(dest, {"a.txt": b"old a"})
        exe = self.sfx(os.path.join(work, "cfg.exe"), self.jlha(src, "a2o5q", os.path.join(work, "g.lzh")),
                       "--auto", "--overwrite", "--dir", self.s.windows_path(dest))
        code = self.s.finish(self.run(exe), RUN_SECONDS)
        check(code == EXIT_EXTRACTED, f"exit code {code}")
        self.compare_tree(src, dest, ["a.txt", "b.txt"])

    def message_sfx(self, work):
        src = self.tree(os.path.join(work, "src"), {"a.txt": b"alpha\r\n", "b.txt": b"beta\r\n"})
        lzh = self.jlha(src, "a2o5q", os.path.join(work, "m.lzh"))
        msg = os.path.join(work, "message.txt")
        with open(msg, "w", encoding="utf-8") as f:
            f.write(MESSAGE)
        return src, self.sfx(os.path.join(work, "m.exe"), lzh, "--message", msg)

    # Would catch: the message not shown first, shown with a wrong caption or
    # garbled text, Yes not going on to the extraction.
    def case_message_yes(self):
        work = self.work_dir("message-yes")
        src, exe = self.message_sfx(work)
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        p = self.run(exe, "-n", self.s.windows_path(dest))
        box = self.s.wait_window("message", process=p)
        check(box.caption == TITLE, f"caption {box.caption!r}")
        check("使用許諾に同意しますか" in box.text(), f"message text {box.text()!r}")
        self.s.screenshot("message-question.png")
        self.s.click(box, ID_YES)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_EXTRACTED, f"exit code {code}")
        self.compare_tree(src, dest, ["a.txt", "b.txt"])
        check(not os.path.exists(os.path.join(dest, "!")), "the message member was extracted")

    # Would catch: No not stopping the program, or files written anyway.
    def case_message_no(self):
        work = self.work_dir("message-no")
        _, exe = self.message_sfx(work)
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        p = self.run(exe, "-n", self.s.windows_path(dest))
        self.s.click(self.s.wait_window("message", process=p), ID_NO)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_NOTHING, f"exit code {code}")
        check(os.listdir(dest) == [], f"files written after No: {os.listdir(dest)}")

    # Would catch: Yes not replacing, No not skipping just that member,
    # Cancel not stopping the run, or the command started after Cancel;
    # also the dialog's lines behind a question naming an earlier member
    # (they are set at most every few dozen milliseconds).
    def case_overwrite_answers(self):
        work = self.work_dir("overwrite")
        new = {"mark.bat": MARK_BAT, "a.txt": b"new a", "b.txt": b"new b", "c.txt": b"new c",
               "d.txt": b"new d"}
        src = self.tree(os.path.join(work, "src"), new)
        lzh = self.jlha(src, "a2o5q", os.path.join(work, "o.lzh"), list(new))
        order = [m[0] for m in read_members(open(lzh, "rb").read())]
        check(order == [n.encode() for n in new], f"jlha reordered the members: {order}")
        exe = self.sfx(os.path.join(work, "o.exe"), lzh, "--run", "mark.bat")
        dest = os.path.join(work, "out")
        self.tree(dest, {"a.txt": b"old a", "b.txt": b"old b", "c.txt": b"old c"})
        p = self.run(exe, "-n", self.s.windows_path(dest))
        for name, answer in (("a.txt", ID_YES), ("b.txt", ID_NO), ("c.txt", ID_CANCEL)):
            box = self.s.wait_window("message", process=p, text=name)
            check("上書きしますか" in box.text(), f"question text {box.text()!r}")
            main = next(w for w in self.s.windows() if w.kind() == "main")
            path, percent = (main.controls[i].text for i in (ID_STATUS_PATH, ID_STATUS_PERCENT))
            check(path.endswith("/" + name) and percent == "解凍中 0%",
                  f"behind the question on {name} the dialog shows {path!r}, {percent!r}")
            if name == "a.txt":
                self.s.screenshot("overwrite-question.png")
            self.s.click(box, answer)
            self.s.wait_gone(box)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_STOPPED, f"exit code {code}")
        for name, want in (("a.txt", b"new a"), ("b.txt", b"old b"), ("c.txt", b"old c")):
            with open(os.path.join(dest, name), "rb") as f:
                check(f.read() == want, f"{name} holds {want!r} expected")
        check(not os.path.exists(os.path.join(dest, "d.txt")), "d.txt extracted after Cancel")
        check(not self.marker_appears(dest, QUIET_SECONDS), "the command ran after Cancel")

    # Would catch: Cancel (or closing the window) ignored while decoding, the
    # partial file left behind, earlier members removed, an exit code that
    # does not say the user stopped the run, the command started anyway;
    # also that a destination given after -n- is shown in the dialog.
    def case_cancel_midway(self):
        work = self.work_dir("cancel")
        files = {"first.txt": b"kept\r\n", "mark.bat": MARK_BAT,
                 "big.txt": literal_heavy(BIG_MEMBER_BYTES, 4), "last.txt": b"never\r\n"}
        src = self.tree(os.path.join(work, "src"), files)
        lzh = self.jlha(src, "a2o5q", os.path.join(work, "c.lzh"), list(files))
        exe = self.sfx(os.path.join(work, "c.exe"), lzh, "--run", "mark.bat")
        for way in ("cancel", "close"):
            dest = os.path.join(work, f"out-{way}")
            os.makedirs(dest)
            p = self.run(exe, "-n-", self.s.windows_path(dest))
            dialog = self.s.wait_window("main", process=p)
            shown = dialog.controls[ID_DEST_EDIT].text
            check(shown == self.s.windows_path(dest), f"destination field shows {shown!r}")
            if way == "cancel":
                self.s.screenshot("main-dialog.png")
            self.s.click(dialog, ID_OK)
            # Stop as soon as big.txt has output: the click then lands while
            # it is decoded, however fast that goes.
            self.wait_for_output(p, os.path.join(dest, "big.txt"))
            if way == "cancel":
                self.s.click(dialog, ID_CANCEL)
            else:
                self.s.close(dialog)
            code = self.s.finish(p, RUN_SECONDS)
            check(code == EXIT_STOPPED, f"{way}: exit code {code}")
            self.compare_tree(src, dest, ["first.txt", "mark.bat"])
            left = sorted(os.listdir(dest))
            check(left == ["first.txt", "mark.bat"], f"{way}: left behind: {left}")
            check(not self.marker_appears(dest, QUIET_SECONDS if way == "close" else 1),
                  f"{way}: the command ran after the run was stopped")

        # The temporary-folder mode: Cancel, here at the overwrite question
        # that a second member of the same name raises (the window of a
        # large member would be over too soon to be found and clicked),
        # removes the folder with what was extracted into it.
        lzh = os.path.join(work, "twice.lzh")
        with open(lzh, "wb") as f:
            f.write(member(b"dup.txt", b"first\r\n") + member(b"dup.txt", b"second\r\n") + b"\0")
        exe = self.sfx(os.path.join(work, "t.exe"), lzh, "--temporary", "--run", "mark.bat")
        temp = self.s.temp_dir()
        before = self.snapshot(temp)
        p = self.run(exe)
        box = self.s.wait_window("message", process=p, text="dup.txt")
        made = self.snapshot(temp) - before
        check(len(made) == 2 and any(n.endswith("dup.txt") for n in made),
              f"no temporary folder with the first member: {sorted(made)}")
        check(any(w.kind() == "main" for w in self.s.windows()), "no progress window")
        self.s.click(box, ID_CANCEL)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_STOPPED, f"temporary folder: exit code {code}")
        check(self.snapshot(temp) == before, f"left in {temp}: {sorted(self.snapshot(temp) - before)}")

    def wait_for_output(self, p, path):
        deadline = time.monotonic() + RUN_SECONDS
        while not (os.path.exists(path) and os.path.getsize(path) > 0):
            check(p.poll() is None and time.monotonic() < deadline, f"{path} was never started")
            time.sleep(0.002)

    # Would catch: a stub whose rebuilt resources (new icon, version block,
    # a new last section) Windows will not load, or whose dialog template
    # went missing; -n DEST not extracting from such a file.
    def case_branded_auto_extract(self):
        work = self.work_dir("branded")
        files = {"readme.txt": words_text(30_000, 7), "日本語.txt": "ブランド付き\r\n".encode("cp932") * 40}
        src = self.tree(os.path.join(work, "src"), files)
        lzh = self.jlha(src, "a2o5q", os.path.join(work, "br.lzh"), list(files))
        icon = os.path.join(work, "app.ico")
        with open(icon, "wb") as f:
            f.write(two_image_icon())
        exe = self.sfx(os.path.join(work, "br.exe"), lzh, "--icon", icon,
                       "--version", "FileDescription=テスト書庫の解凍", "--version", "FileVersion=1.2.3.4")
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        code = self.s.finish(self.run(exe, "-n", self.s.windows_path(dest)), RUN_SECONDS)
        check(code == EXIT_EXTRACTED, f"exit code {code}")
        self.compare_tree(src, dest, files)
        # The same file waiting in its dialog, for the picture in the README.
        p = self.run(exe, "-n-", self.s.windows_path(os.path.join(work, "unused")))
        dialog = self.s.wait_window("main", process=p)
        self.s.screenshot("branded-dialog.png")
        self.s.click(dialog, ID_CANCEL)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_NOTHING, f"exit code after Cancel {code}")

    # Would catch: the chooser not opening (template, hook), Cancel in it
    # changing the destination, Cancel in the idle dialog writing anything
    # or giving the wrong exit code.
    def case_browse_then_cancel(self):
        work = self.work_dir("browse")
        src = self.tree(os.path.join(work, "src"), {"a.txt": b"a"})
        exe = self.sfx(os.path.join(work, "b.exe"), self.jlha(src, "a2o5q", os.path.join(work, "b.lzh")),
                       "--prompt", "解凍先フォルダ:")
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        p = self.run(exe, "-n-", self.s.windows_path(dest))
        dialog = self.s.wait_window("main", process=p)
        check(dialog.controls[103].text == "解凍先フォルダ:", f"label {dialog.controls[103].text!r}")
        self.s.click(dialog, ID_BROWSE)
        chooser = self.s.wait_window("chooser", process=p)
        self.s.screenshot("directory-chooser.png")
        self.s.click(chooser, ID_CANCEL)
        self.s.wait_gone(chooser)
        dialog = self.s.wait_window("main", process=p)
        shown = dialog.controls[ID_DEST_EDIT].text
        check(shown == self.s.windows_path(dest), f"destination changed to {shown!r}")
        self.s.click(dialog, ID_CANCEL)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_NOTHING, f"exit code {code}")
        check(os.listdir(dest) == [], "files written after Cancel")

    # Would catch: a CRC mismatch not reported, the bad file kept, earlier
    # members removed, later members extracted, the command started anyway.
    def case_crc_error(self):
        work = self.work_dir("crc")
        archive = (member(b"one.txt", b"first\r\n") + member(b"mark.bat", MARK_BAT) +
                   member(b"two.txt", b"damaged data\r\n", crc=0x1234) +
                   member(b"three.txt", b"third\r\n") + b"\0")
        lzh = os.path.join(work, "crc.lzh")
        with open(lzh, "wb") as f:
            f.write(archive)
        exe = self.sfx(os.path.join(work, "crc.exe"), lzh, "--run", "mark.bat")
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        p = self.run(exe, "-n", self.s.windows_path(dest))
        box = self.s.wait_window("message", process=p, text="CRC")
        check("two.txt" in box.text(), f"error names {box.text()!r}")
        self.s.screenshot("crc-error.png")
        self.s.click(box, ID_OK)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_FAILED, f"exit code {code}")
        left = sorted(os.listdir(dest))
        check(left == ["mark.bat", "one.txt"], f"left behind: {left}")
        check(not self.marker_appears(dest, QUIET_SECONDS), "the command ran after a CRC error")

    # Would catch: the command not started after success, or started in the
    # wrong working directory.
    def case_command_after_success(self):
        work = self.work_dir("command")
        src = self.tree(os.path.join(work, "src"), {"mark.bat": MARK_BAT, "x.txt": b"x"})
        exe = self.sfx(os.path.join(work, "cmd.exe"), self.jlha(src, "a2o5q", os.path.join(work, "k.lzh")),
                       "--run", "mark.bat")
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        code = self.s.finish(self.run(exe, "-n", self.s.windows_path(dest)), RUN_SECONDS)
        check(code == EXIT_EXTRACTED, f"exit code {code}")
        check(self.marker_appears(dest, MARKER_SECONDS), "no marker from the command in the destination")

    # Would catch: the stub loading a planted system DLL from its own folder
    # (for instance by loading comdlg32 or shell32 by bare name). Under Wine
    # the builtin user32 pulls some DLLs through the ordinary search before
    # any program code runs, so the baseline program with the stub's own
    # imports tells which loads are the loader's; the probe program proves a
    # planted DLL is loaded at all when a program asks for it. Common
    # controls 6, which the stub's manifest names, must come from the
    # system's side-by-side store: a planted comctl32.dll is never loaded,
    # whatever the baseline does. Wine's user32 imports version.dll, so a
    # planted one (which exports nothing) breaks every window program there:
    # it is planted for the probe alone. The temporary-folder mode (which
    # loads advapi32 and starts a command) runs beside them too; advapi32
    # itself cannot be planted here: Wine's own DLLs load it through the
    # ordinary search before any program code runs (on Windows it is a known
    # DLL, always taken from the system folder).
    def case_dll_planting(self):
        work = self.work_dir("planting")
        src = self.tree(os.path.join(work, "src"), {"a.txt": b"a"})
        exe = self.sfx(os.path.join(work, "p.exe"), self.jlha(src, "a2o5q", os.path.join(work, "p.lzh")))
        for dll in ("version.dll", "uxtheme.dll", "dwmapi.dll", "comctl32.dll"):
            shutil.copy(os.path.join(self.s.helpers, "planted.dll"), os.path.join(work, dll))
        for helper in ("plantprobe.exe", "plainui.exe"):
            shutil.copy(os.path.join(self.s.helpers, helper), work)
        overrides = "version,uxtheme,dwmapi,comctl32=n,b"

        def collect():
            found = {f.lower() for f in os.listdir(work) if f.lower().endswith(".loaded")}
            for f in os.listdir(work):
                if f.lower().endswith(".loaded"):
                    os.unlink(os.path.join(work, f))
            return found
        self.s.finish(self.run(os.path.join(work, "plantprobe.exe"), overrides=overrides), 60)
        probe = collect()
        check({"version.dll.loaded", "comctl32.dll.loaded"} <= probe,
              f"the probe did not load the planted DLLs ({probe})")
        os.unlink(os.path.join(work, "version.dll"))
        self.s.finish(self.run(os.path.join(work, "plainui.exe"), overrides=overrides), 60)
        baseline = collect()
        dest = os.path.join(work, "out")
        os.makedirs(dest)
        code = self.s.finish(self.run(exe, "-n", self.s.windows_path(dest), overrides=overrides),
                             RUN_SECONDS)
        loaded = collect()
        print(f"  planted DLLs loaded by the loader for any user32 program: {sorted(baseline) or 'none'}")
        check("comctl32.dll.loaded" not in loaded, "the stub loaded the planted comctl32.dll")
        check(loaded <= baseline, f"the stub loaded planted DLLs: {sorted(loaded - baseline)}")
        check(code == EXIT_EXTRACTED and os.path.exists(os.path.join(dest, "a.txt")),
              f"extraction beside planted DLLs failed (code {code})")
        temporary = self.sfx(os.path.join(work, "t.exe"), os.path.join(work, "p.lzh"),
                             "--temporary", "--run", "cmd /c exit 0")
        code = self.s.finish(self.run(temporary, "-s", overrides=overrides, whole_code=True),
                             RUN_SECONDS)
        loaded = collect()
        check(code == EXIT_COMMAND_BASE, f"the temporary-folder mode beside planted DLLs: code {code}")
        check(loaded <= baseline,
              f"the temporary-folder mode loaded planted DLLs: {sorted(loaded - baseline)}")

    # ---- unattended runs ---------------------------------------------------
    def run_without_window(self, exe, *args):
        """The exit code of a run that must show no window at all: the
        top-level windows are listed again and again while it runs."""
        p = self.run(exe, *args, whole_code=True)
        deadline = time.monotonic() + RUN_SECONDS
        while p.poll() is None and time.monotonic() < deadline:
            shown = self.s.windows(any_class=True)
            if shown:
                self.s.screenshot(f"unexpected-window-{time.monotonic():.0f}.png")
                self.s.kill_wine()
                raise Failure(f"a window showed: {[w.caption for w in shown]}")
        return self.s.finish(p, RUN_SECONDS)

    @staticmethod
    def log_lines(path):
        with open(path, "rb") as f:
            data = f.read()
        check(data.endswith(b"\r\n"), f"the log does not end with a line end: {data[-20:]!r}")
        return [line.split("\t") for line in data.decode("utf-8").split("\r\n")[:-1]]

    @staticmethod
    def snapshot(root):
        return {os.path.relpath(os.path.join(r, n), root)
                for r, ds, fs in os.walk(root) for n in ds + fs}

    def command_sfx(self, work, name, options, args):
        """An SFX that holds command.exe and two files and runs it as
        command.exe REPORT args...; returns it with the report's path."""
        files = {"sub/x.txt": b"x\r\n", "y.txt": words_text(2000, 9)}
        src = self.tree(os.path.join(work, "src-" + name), files)
        shutil.copy(os.path.join(self.s.helpers, "command.exe"), src)
        lzh = self.jlha(src, "a2o5q", os.path.join(work, name + ".lzh"), sorted(os.listdir(src)))
        report = os.path.join(work, name + "-report.txt")
        run = f"command.exe {self.s.windows_path(report)} {args}"
        return self.sfx(os.path.join(work, name + ".exe"), lzh, "--run", run, *options), report

    @staticmethod
    def read_report(path):
        """(working directory, arguments, files) as command.exe wrote them."""
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n")[:-1]
        at_files = lines.index("files")
        return lines[0], lines[2:at_files], sorted(lines[at_files + 1:])

    # Would catch: a window (dialog, progress, message box) in silent mode,
    # the message question or an overwrite question waiting for an answer,
    # a damaged member not ending the run with 2 (or a failed scan with 0),
    # -n- making -s wait, a log line missing, doubled or in another
    # encoding, an unwritable log stopping the extraction.
    def case_silent(self):
        work = self.work_dir("silent")
        files = {"a.txt": b"new a\r\n", "big.txt": literal_heavy(BIG_MEMBER_BYTES // 2, 5)}
        src = self.tree(os.path.join(work, "src"), files)
        lzh = self.jlha(src, "a2o5q", os.path.join(work, "s.lzh"), list(files))
        with open(lzh, "rb") as f:
            sound = f.read()
        check(sound.endswith(b"\0"), "jlha's archive has no end mark")
        damaged = os.path.join(work, "damaged.lzh")
        with open(damaged, "wb") as f:
            f.write(sound[:-1] + member(b"zz.txt", b"damaged\r\n", crc=0x1234) + b"\0")
        msg = os.path.join(work, "message.txt")
        with open(msg, "w", encoding="utf-8") as f:
            f.write(MESSAGE)
        exe = self.sfx(os.path.join(work, "s.exe"), damaged, "--message", msg, "--run", "mark.bat")
        dest = os.path.join(work, "out")
        self.tree(dest, {"a.txt": b"old a"})
        log = os.path.join(work, "run.log")
        with open(log, "wb") as f:
            f.write(b"earlier\r\n")  # appended to, never replaced
        code = self.run_without_window(exe, "-s", "-l" + self.s.windows_path(log), "-n-",
                                       self.s.windows_path(dest))
        check(code == EXIT_FAILED, f"damaged member: exit code {code}")
        self.compare_tree(src, dest, files)
        check(sorted(os.listdir(dest)) == sorted(files), f"left behind: {os.listdir(dest)}")
        lines = self.log_lines(log)
        check(lines[0] == ["earlier"], f"the log was not appended to: {lines[:1]}")
        check(lines[1:4] == [["accepted", "!", ""], ["extracted", "a.txt", ""],
                             ["extracted", "big.txt", ""]], f"member lines {lines[1:4]}")
        check(len(lines) == 6 and lines[4][0] == "error" and lines[4][1].endswith("zz.txt")
              and lines[4][2] == "CRC エラー", f"error line {lines[4:5]}")
        check(lines[5] == ["result", "failed", "2"], f"closing line {lines[5:]}")

        # The same files without the damaged member, a log that cannot be
        # written (its folder does not exist), and -n- which -s overrides.
        exe = self.sfx(os.path.join(work, "ok.exe"), lzh)
        dest = os.path.join(work, "out-ok")
        code = self.run_without_window(exe, "-n-", "-s", "-lZ:\\no-such-folder\\x.log",
                                       self.s.windows_path(dest))
        check(code == EXIT_EXTRACTED, f"sound archive: exit code {code}")
        self.compare_tree(src, dest, files)

        # A broken first header: the scan fails, nothing is extracted.
        with open(exe, "rb") as f:
            image = bytearray(f.read())
        start = read_config(image)["archiveOffset"]
        name_at = image.index(b"a.txt", start)
        image[name_at] = ord("b")  # the header's CRC no longer matches
        broken = os.path.join(work, "broken.exe")
        with open(broken, "wb") as f:
            f.write(image)
        log = os.path.join(work, "broken.log")
        dest = os.path.join(work, "out-broken")
        code = self.run_without_window(broken, "-s", "-l" + self.s.windows_path(log),
                                       self.s.windows_path(dest))
        check(code == EXIT_NOTHING, f"broken header: exit code {code}")
        check(not os.path.exists(dest), "a destination was made after a failed scan")
        lines = self.log_lines(log)
        check(len(lines) == 2 and lines[0][0] == "error" and lines[0][2] == "ヘッダーの内容が不正"
              and lines[1] == ["result", "nothing", "0"], f"log after a failed scan: {lines}")

    # Would catch: not waiting for the process the command leaves running
    # (the job object), ending before the command, an exit code that is not
    # 1000 plus the command's, the arguments after -- lost, split at their
    # spaces or given before the configured ones.
    def case_wait_and_arguments(self):
        work = self.work_dir("wait")
        child_ms = 3000
        exe, report = self.command_sfx(work, "w", ["--wait"], f"7 {child_ms} 0")
        dest = os.path.join(work, "out")
        started = time.monotonic()
        p = self.run(exe, "-n", self.s.windows_path(dest), "--", "a b", "c", whole_code=True)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_COMMAND_BASE + 7, f"exit code {code}")
        check(os.path.exists(report + ".child"),
              f"the stub ended {time.monotonic() - started:.1f} s after its start, before the "
              f"command's child ({child_ms} ms) did")
        cwd, args, names = self.read_report(report)
        check(args == ["a b", "c"], f"arguments after the configured ones: {args}")
        check(cwd == self.s.windows_path(dest), f"working directory {cwd!r}")
        check(names == ["command.exe", "sub", "y.txt"], f"files seen by the command: {names}")

    # Would catch: the temporary folder not new, not private (Wine keeps no
    # access list; it maps one that admits only the user to a Unix mode
    # without rights for others, which is what is checked), left behind
    # after the run (or after Cancel, see case_cancel_midway), its removal
    # following a link out of it (Wine shows a Unix symlink as a reparse
    # point, as Windows shows a junction; but where Windows removes a
    # junction with the directory call, Wine answers that the directory is
    # not empty, so here the link alone stays behind), the command started
    # elsewhere or not waited for, the destination on the command line
    # taken, anything written outside the folder, and a window in silent
    # mode.
    def case_temporary(self):
        work = self.work_dir("temporary")
        exe, report = self.command_sfx(work, "t", ["--temporary"], "5 0 4000")
        temp = self.s.temp_dir()
        ignored = os.path.join(work, "ignored")
        outside = self.tree(os.path.join(work, "outside"), {"keep.txt": b"keep"})
        drive_c = os.path.join(self.s.prefix, "drive_c")
        before = (self.snapshot(drive_c), self.snapshot(work))
        p = self.run(exe, "-n", self.s.windows_path(ignored), whole_code=True)
        deadline = time.monotonic() + RUN_SECONDS
        while not os.path.exists(report):
            check(p.poll() is None and time.monotonic() < deadline, "the command never ran")
            time.sleep(POLL_SECONDS)
        time.sleep(0.5)  # the report is complete; the command holds on for a while
        cwd, args, names = self.read_report(report)
        folder = self.s.unix_path(cwd)
        check(os.path.dirname(folder) == temp and os.path.basename(folder).startswith("lzhsfx-"),
              f"the command ran in {cwd!r}, not in a new folder of {temp}")
        check(names == ["command.exe", "sub", "y.txt"], f"files seen by the command: {names}")
        mode = os.stat(folder).st_mode
        check(mode & 0o007 == 0, f"the folder is open to others: mode {oct(mode)}")
        os.symlink(outside, os.path.join(folder, "sub", "link"))
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_COMMAND_BASE + 5, f"exit code {code}")
        check(os.listdir(outside) == ["keep.txt"], "the removal went through a link")
        check(self.snapshot(folder) == {"sub", os.path.join("sub", "link")},
              f"the temporary folder kept {sorted(self.snapshot(folder))}")
        os.unlink(os.path.join(folder, "sub", "link"))
        os.rmdir(os.path.join(folder, "sub"))
        os.rmdir(folder)
        after = (self.snapshot(drive_c), self.snapshot(work))
        check(after[0] == before[0], f"written in the prefix: {sorted(after[0] ^ before[0])[:8]}")
        check(after[1] == before[1] | {os.path.basename(report)},
              f"written beside the test: {sorted(after[1] ^ before[1])}")

        # Silent: no window, the same result, and the folder gone.
        os.unlink(report)
        code = self.run_without_window(exe, "-s")
        check(code == EXIT_COMMAND_BASE + 5, f"silent: exit code {code}")
        check(self.s.unix_path(self.read_report(report)[0]) != folder, "the same folder twice")
        check(self.snapshot(drive_c) == before[0], "silent: something stayed in the prefix")

    # ---- running -------------------------------------------------------------
    def all_cases(self):
        return [(name[5:], getattr(self, name)) for name in Suite.__dict__ if name.startswith("case_")]

    def run_all(self, only=None):
        for name, case in self.all_cases():
            if not only or name in only:
                self.attempt(name, case)
        return self.counts()


if __name__ == "__main__":
    sys.exit(run_suite_main(Suite, ("jlha",)))
