#!/usr/bin/env python3
# lzhsfx create and info on the host, no Wine needed: the file image that
# create writes (stub, padding, configuration block, archive), the checks it
# makes before writing, and what info reports. Inputs come from jlha and
# from the header writer in tests/cli/lzhtool.py, never from lzhsfx itself.
import os
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from lzhtool import (SIGNING_TOOLS, crc16, fake_stub, member, read_config,  # noqa: E402
                     read_members, sign)

LZHSFX = os.environ.get("LZHSFX", "lzhsfx")
STUB = os.environ.get("LZHSFX_STUB", "")  # the real stub, for the signing check
JAPANESE = "ja_JP.UTF-8"


def run(*args, cwd=None):
    p = subprocess.run([LZHSFX, *args], capture_output=True, cwd=cwd, timeout=60)
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")


class CreateTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="lzhsfx-create-")
        self.stub = self.path("stub.exe")
        self.write(self.stub, fake_stub())
        self.out = self.path("out.exe")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, path, data):
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def archive(self, *members, end=b"\0"):
        return self.write(self.path("in.lzh"), b"".join(members) + end)

    def jlha_archive(self, flags, files):
        src = self.path("src")
        os.makedirs(src, exist_ok=True)
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(src, name)) or src, exist_ok=True)
            self.write(os.path.join(src, name), data)
        target = self.path("jlha.lzh")
        env = dict(os.environ, LC_ALL=JAPANESE)
        subprocess.run(["jlha", flags, target, *files.keys()], cwd=src, env=env,
                       capture_output=True, check=True, timeout=60)
        return target

    def create(self, *args):
        return run("create", self.out, "--stub", self.stub, *args)

    def fresh(self):
        """No output left from an earlier case, so "not written" means it."""
        if os.path.exists(self.out):
            os.unlink(self.out)

    # Would catch: archive not at a 512-byte boundary, padding not zero,
    # stub bytes altered, archive bytes altered, wrong mode, wrong offset.
    def test_file_image_is_stub_padding_and_archive(self):
        lzh = self.jlha_archive("c2o5q", {"a.txt": b"hello\n" * 500,
                                          "sub/b.bin": bytes(range(256)) * 40})
        code, _, err = self.create("--from-lzh", lzh)
        self.assertEqual(code, 0, err)
        image, stub, archive = self.read(self.out), self.read(self.stub), self.read(lzh)
        self.assertEqual(read_config(image)["archiveOffset"], 0x6400)  # 0x6234 rounded up to 512
        self.assertEqual(image[:512], stub[:512])
        self.assertEqual(image[512 + 603:len(stub)], stub[512 + 603:])
        self.assertEqual(image[len(stub):0x6400], bytes(0x6400 - len(stub)))
        self.assertEqual(image[0x6400:], archive)
        self.assertEqual(stat.S_IMODE(os.stat(self.out).st_mode), 0o755)

    # Would catch: a field at the wrong offset, texts not converted to CP932,
    # flag bits swapped, restoreAttributes not set, %WORK% rewritten.
    def test_configuration_block_fields(self):
        lzh = self.archive(member(b"a.txt", b"x"))
        code, _, err = self.create("--from-lzh", lzh, "--title", "テスト書庫", "--prompt", "解凍先:",
                                   "--dir", "%WORK%", "--run", '"setup.exe" /q', "--auto",
                                   "--attributes")
        self.assertEqual(code, 0, err)
        c = read_config(self.read(self.out))
        self.assertEqual(c["title"], "テスト書庫".encode("cp932"))
        self.assertEqual(c["prompt"], "解凍先:".encode("cp932"))
        self.assertEqual(c["defaultDir"], b"%WORK%")
        self.assertEqual(c["command"], b'"setup.exe" /q')
        self.assertEqual((c["flags"], c["restoreAttributes"]), (0x01, 1))
        code, _, err = self.create("--from-lzh", lzh, "--overwrite")
        self.assertEqual(code, 0, err)
        c = read_config(self.read(self.out))
        self.assertEqual((c["flags"], c["restoreAttributes"], c["title"]), (0x02, 0, b""))
        # --wait is bit 2; --temporary is bit 3 and implies --wait.
        for option, flags in (("--wait", 0x04), ("--temporary", 0x0C)):
            code, _, err = self.create("--from-lzh", lzh, "--run", "setup.exe", option)
            self.assertEqual(code, 0, err)
            self.assertEqual(read_config(self.read(self.out))["flags"], flags, option)

    # Would catch: an off-by-one in a field's limit (the terminator must fit),
    # counting characters instead of CP932 bytes, an error that does not name
    # the field and its size.
    def test_text_field_limits(self):
        lzh = self.archive(member(b"a.txt", b"x"))
        cases = [  # option, text that just fits, text one byte over, field, limit
            ("--title", "t" * 40, "t" * 41, "title", 40),
            ("--title", "漢" * 20, "漢" * 20 + "a", "title", 40),
            ("--prompt", "p" * 40, "p" * 41, "prompt", 40),
            ("--dir", "d" * 255, "d" * 256, "default directory", 255),
            ("--run", "r" * 258, "r" * 259, "command", 258),
        ]
        for option, fits, over, field, limit in cases:
            with self.subTest(option=option, text=over[:3]):
                self.fresh()
                code, _, err = self.create("--from-lzh", lzh, option, fits)
                self.assertEqual(code, 0, err)
                self.fresh()
                code, _, err = self.create("--from-lzh", lzh, option, over)
                self.assertEqual(code, 2)
                self.assertIn(field, err)
                self.assertIn(f"at most {limit} bytes", err)
                self.assertFalse(os.path.exists(self.out))
        code, _, err = self.create("--from-lzh", lzh, "--title", "絵文字\U0001F600")
        self.assertEqual(code, 2)
        self.assertIn("CP932", err)

    # Would catch: accepting a file that is not a bare stub of ours (it would
    # not start, or would hold two configurations).
    def test_refuses_foreign_or_filled_stubs(self):
        lzh = self.archive(member(b"a.txt", b"x"))
        filled = bytearray(fake_stub())
        filled[516] = ord("T")
        cases = {"not MZ": fake_stub(signature=b"ZM"),
                 "other e_lfanew": fake_stub(lfanew=0x80),
                 "filled block": bytes(filled),
                 "too short": fake_stub()[:0x400]}
        for why, image in cases.items():
            with self.subTest(why):
                self.fresh()
                self.write(self.stub, image)
                code, _, err = self.create("--from-lzh", lzh)
                self.assertEqual(code, 2, err)
                self.assertFalse(os.path.exists(self.out))
        code, _, err = run("create", self.out, "--stub", self.path("missing.exe"), "--from-lzh", lzh)
        self.assertEqual(code, 2)
        self.assertIn("missing.exe", err)

    # Would catch: an archive the stub cannot extract slipping through (it
    # would fail on the user's machine), or an error that does not say what
    # to do. Every refusal leaves no output file.
    def test_refuses_archives_the_stub_cannot_use(self):
        good = member(b"a.txt", b"hello")
        data = b"z" * 100
        cases = [  # why, archive bytes, words the error must contain
            ("level-1 header (jlha)", None, ["member 1", "level-1", "level-2", "jlha"]),
            ("method -lh1-", good + member(b"b", data, method=b"-lh1-") + b"\0",
             ["member 2", "-lh1-", "-lh5-"]),
            ("method -lzs-", member(b"b", data, method=b"-lzs-") + b"\0", ["-lzs-"]),
            ("header CRC", good + member(b"b", data, corrupt_header_crc=True) + b"\0",
             ["member 2", "CRC"]),
            ("no CRC record", member(b"b", data, with_crc_record=False) + b"\0", ["no CRC record"]),
            ("data past the end", good + member(b"b", data, packed_size=101, orig_size=101),
             ["member 2", "past the end"]),
            ("header past the end", good + member(b"b", data)[:30], ["member 2", "past the end"]),
            ("stored data shorter than its size", member(b"b", data, orig_size=101) + b"\0",
             ["sizes", "101 original"]),
        ]
        for why, archive, words in cases:
            with self.subTest(why):
                self.fresh()
                lzh = (self.jlha_archive("c1q", {"a.txt": b"x" * 50}) if archive is None
                       else self.write(self.path("in.lzh"), archive))
                code, _, err = self.create("--from-lzh", lzh)
                self.assertEqual(code, 1, err)
                for word in words:
                    self.assertIn(word, err)
                self.assertFalse(os.path.exists(self.out))

    # Would catch: %WinDir% members refused, or accepted without telling the
    # publisher where they go; a late "!" member accepted silently; data the
    # stub passes over (a stored member's bytes beyond its size, a directory
    # entry's data) refused, or accepted without a word.
    def test_warnings_that_do_not_refuse(self):
        lzh = self.archive(member(b"%WinDir%/app.ini", b"[x]"), member(b"!", b"late"),
                           member(b"b", b"z" * 100, orig_size=99),
                           member(b"d/", b"z" * 100, method=b"-lhd-"))
        code, _, err = self.create("--from-lzh", lzh)
        self.assertEqual(code, 0, err)
        self.assertIn("Windows directory", err)
        self.assertIn('"!" is not the first member', err)
        self.assertIn('member 3 "b": a stored member whose sizes differ (100 packed, 99 original)',
                      err)
        self.assertIn('member 4 "d/": a directory entry carrying 100 bytes', err)

    # Would catch: the message member not first, not stored, its text not in
    # CP932 with CR LF line ends, the original archive changed behind it, or
    # an over-long (the stub shows 1023 bytes) or empty message accepted.
    def test_message_member_goes_first(self):
        lzh = self.archive(member(b"a.txt", b"hello"))
        msg = self.write(self.path("msg.txt"), "\ufeff使用許諾に同意しますか？\n2行目\n".encode("utf-8"))
        code, _, err = self.create("--from-lzh", lzh, "--message", msg)
        self.assertEqual(code, 0, err)
        image = self.read(self.out)
        offset = read_config(image)["archiveOffset"]
        members = read_members(image[offset:])
        self.assertEqual([(m[0], m[1]) for m in members], [(b"!", b"-lh0-"), (b"a.txt", b"-lh0-")])
        self.assertEqual(members[0][2], "使用許諾に同意しますか？\r\n2行目\r\n".encode("cp932"))
        header_size = struct.unpack_from("<H", image, offset)[0]
        packed = struct.unpack_from("<I", image, offset + 7)[0]
        self.assertEqual(image[offset + header_size + packed:], self.read(lzh))
        self.assertEqual(struct.unpack_from("<H", image, offset + 21)[0], crc16(members[0][2]))
        self.write(msg, ("あ" * 511 + "a").encode("utf-8"))   # 1023 bytes in CP932
        os.unlink(self.out)
        self.assertEqual(self.create("--from-lzh", lzh, "--message", msg)[0], 0)
        os.unlink(self.out)
        for text in (b"", ("あ" * 512).encode("utf-8")):
            with self.subTest(size=len(text)):
                self.fresh()
                self.write(msg, text)
                code, _, err = self.create("--from-lzh", lzh, "--message", msg)
                self.assertEqual(code, 2)
                self.assertIn("empty" if not text else "1023", err)
                self.assertFalse(os.path.exists(self.out))

    # Would catch: a failed create truncating or replacing an existing file
    # (the output must be written whole or not at all).
    def test_failed_create_keeps_existing_output(self):
        self.write(self.out, b"previous")
        bad = self.archive(member(b"b", b"x", method=b"-lh1-"))
        self.assertEqual(self.create("--from-lzh", bad)[0], 1)
        self.assertEqual(self.read(self.out), b"previous")
        self.assertEqual([f for f in os.listdir(self.dir) if f.startswith("out.exe.")], [])

    # Would catch: usage errors reported as success or as a bad archive.
    def test_usage_errors(self):
        lzh = self.archive(member(b"a.txt", b"x"))
        cases = [[], [self.out], [self.out, "--from-lzh", lzh, "extra"],
                 [self.out, "--from-lzh"], [self.out, "--from-lzh", lzh, "--bogus"],
                 [self.out, "--from-lzh", lzh, "--auto=1"],
                 [self.out, "--from-lzh", lzh, "--temporary"]]  # nothing to run there
        for args in cases:
            with self.subTest(args=args):
                self.assertEqual(run("create", *args)[0], 2)

    # Would catch: PackPaths output not checked or not placed behind the stub;
    # the packed archive must be readable by lhasa, a peer.
    def test_packs_paths_itself(self):
        src = self.path("tree")
        os.makedirs(os.path.join(src, "sub"))
        self.write(os.path.join(src, "one.txt"), b"one\n" * 1000)
        self.write(os.path.join(src, "sub", "two.bin"), bytes(range(256)) * 64)
        code, _, err = self.create(src)
        self.assertEqual(code, 0, err)
        image = self.read(self.out)
        offset = read_config(image)["archiveOffset"]
        self.write(self.path("packed.lzh"), image[offset:])
        dest = self.path("peer")
        os.makedirs(dest)
        subprocess.run(["lha", "xq", self.path("packed.lzh")], cwd=dest, check=True, timeout=60)
        found = {os.path.relpath(os.path.join(r, f), dest)
                 for r, _, fs in os.walk(dest) for f in fs}
        for rel in ("one.txt", os.path.join("sub", "two.bin")):
            match = [p for p in found if p.endswith(rel)]
            self.assertEqual(len(match), 1, found)
            self.assertEqual(self.read(os.path.join(dest, match[0])),
                             self.read(os.path.join(src, rel)))


class InfoTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="lzhsfx-info-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def sfx(self, archive, title="テスト", flags=0x03, offset=0x6400):
        image = bytearray(fake_stub(0x6400))
        struct.pack_into("<I", image, 512, offset)
        t = title.encode("cp932")
        image[516:516 + len(t)] = t
        image[598:604] = b"%WORK%"
        image[1113] = flags
        return self.write("x.exe", bytes(image) + archive)

    # Would catch: fields shown from the wrong offsets, not converted back to
    # UTF-8, flags misread, a sound file reported as bad.
    def test_shows_the_configuration(self):
        path = self.sfx(member(b"!", "はい?".encode("cp932")) + member(b"a.txt", b"x") + b"\0")
        code, out, err = run("info", path)
        self.assertEqual(code, 0, err)
        self.assertIn("テスト", out)
        self.assertIn("%WORK%", out)
        self.assertIn("0x03 (start automatically, overwrite without asking)", out)
        path = self.sfx(member(b"a.txt", b"x") + b"\0", flags=0x0C)
        code, out, err = run("info", path)
        self.assertIn("0x0C (wait for the command, temporary folder)", out)
        self.assertIn("25600", out)
        self.assertIn("1 member", out)

    # Would catch: files that are not ours, bare stubs or broken archives
    # reported as sound; I/O errors given the wrong code.
    def test_exit_codes(self):
        cases = [
            ("bare stub", self.write("bare.exe", fake_stub()), 1),
            ("not an exe", self.write("text.exe", b"MZ hello" * 200), 1),
            ("offset points at no header", self.sfx(member(b"a", b"x"), offset=0x6000), 1),
            ("broken header CRC", self.sfx(member(b"a", b"x", corrupt_header_crc=True)), 1),
            ("missing file", os.path.join(self.dir, "missing.exe"), 2),
        ]
        for why, path, expected in cases:
            with self.subTest(why):
                self.assertEqual(run("info", path)[0], expected)
        self.assertEqual(run("info")[0], 2)


class SignedTest(unittest.TestCase):
    def setUp(self):
        if not (STUB and os.path.exists(STUB)):
            self.skipTest("the stub is not built (LZHSFX_STUB)")
        missing = [t for t in SIGNING_TOOLS if not shutil.which(t)]
        if missing:
            self.skipTest(f"{' and '.join(missing)} missing (scripts/setup.sh installs them)")
        self.dir = tempfile.mkdtemp(prefix="lzhsfx-signed-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def lzhsfx(self, *args):
        code, out, err = run(*args)
        self.assertEqual(code, 0, f"lzhsfx {args[0]}: {err}")
        return out

    # Would catch: the certificate table a signature appends behind the
    # archive's end taken for a damaged member, so that a signed file fails
    # its own test or lists differently. Without padding (the file already a
    # multiple of 8 bytes) the table follows the end byte directly.
    def test_signed_file_tests_and_lists_as_before(self):
        text = "".join(f"line {i} of the signed archive\n" for i in range(400)).encode()
        for padding in (0, 5):
            with self.subTest(padding=padding):
                # The archive starts on a 512-byte boundary, so its length
                # sets the padding; the stored member's length adjusts it.
                for filler in range(1, 9):
                    lzh = (member("readme.txt", text, "5") + member("dir/pad.txt", b"p" * filler) +
                           b"\0")
                    if (len(lzh) + padding) % 8 == 0:
                        break
                with open(self.path("in.lzh"), "wb") as f:
                    f.write(lzh)
                exe, signed = self.path("x.exe"), self.path("signed.exe")
                self.lzhsfx("create", exe, "--stub", STUB, "--from-lzh", self.path("in.lzh"))
                with open(exe, "rb") as f:
                    unsigned = f.read()
                self.assertEqual((len(unsigned) + padding) % 8, 0)
                sign(exe, signed, self.dir)
                with open(signed, "rb") as f:
                    image = f.read()
                offset = read_config(image)["archiveOffset"]
                self.assertEqual(image[offset:offset + len(lzh)], lzh)
                self.assertEqual(image[len(unsigned):len(unsigned) + padding], bytes(padding))
                self.assertGreater(len(image), len(unsigned) + padding)
                self.lzhsfx("t", signed)
                self.assertEqual(self.lzhsfx("l", signed), self.lzhsfx("l", exe))


if __name__ == "__main__":
    unittest.main(verbosity=2)
