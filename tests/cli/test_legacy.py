# Archives of other systems' archivers and other makers' programs, built
# here field by field from the format's description (lzhtool), read by
# lzhsfx as lhasa 0.3.1 reads them: level-2 headers without a CRC record,
# Unix symbolic links, MacBinary headers, -lz5-'s first window, PMarc's
# methods, archives inside programs compiled here. Where lhasa 0.3.1 stops
# short (nameless and Amiga directory entries, a stray method id in front of
# the archive) the expected result comes from the description instead.
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
UTC = {"TZ": "UTC"}
c = Checker("legacy")
rnd = random.Random(19)
TEXT = b"".join(rnd.choice([b"alpha ", b"beta ", b"gamma\n", b"PMarc ", b"0123456789"]) for _ in range(5000))
BINARY = bytes(rnd.getrandbits(8) if rnd.random() < 0.3 else (i * 7) & 255 for i in range(30000))


def tree(root):
    """Relative path -> bytes, or ('->', target) for a link; nothing followed."""
    out = {}
    for d, dirs, files in os.walk(root):
        for n in dirs + files:
            p = os.path.join(d, n)
            rel = os.path.relpath(p, root)
            if os.path.islink(p):
                out[rel] = ("->", os.readlink(p))
            elif os.path.isfile(p):
                out[rel] = open(p, "rb").read()
            else:
                out[rel + "/"] = None
    return out


def extract(cmd, archive, dest):
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    return run(cmd + [os.path.abspath(archive)], cwd=dest, env=UTC, timeout=60)[0], tree(dest)


def our_names(archive):
    rc, out, _ = run([LZHSFX, "l", archive], env=UTC)
    return [(row.split(None, 7) + [""] * 8)[7] for row in out.splitlines()[2:-2]]


def peer_names(archive):
    """Names in lhasa's table: what follows the time stamp."""
    out = run(["lhasa", "l", archive], env=UTC)[1]
    return [re.split(r"\w{3} [ \d]\d +[\d:]+ ", row, maxsplit=1)[-1] for row in out.splitlines()[2:-2]]


def agree(tag, archive, expected=None, lower=False):
    """t, l and x agree with lhasa's t, l and x; with expected (a tree), where
    lhasa 0.3.1 lacks the feature, x gives that tree and t and l succeed."""
    path = write(tag + ".lzh", archive)
    rc_t = run([LZHSFX, "t", path], env=UTC)[0]
    rc_x, ours = extract([LZHSFX, "x", "-y"], path, tag + ".ours")
    fold = (lambda t: {k.lower(): v for k, v in t.items()}) if lower else (lambda t: t)
    if expected is None:
        peer_t = run(["lhasa", "t", path])[0]
        peer_x, peers = extract(["lhasa", "-xq"], path, tag + ".peer")
        names = our_names(path)
        c.check(rc_t == peer_t == 0 and rc_x == 0, f"{tag}: t and x as lhasa's ({rc_t} {peer_t} {rc_x})")
        c.check(fold(ours) == fold(peers), f"{tag}: x gives lhasa's files: {sorted(ours)} {sorted(peers)}")
        listed = [n.lower() for n in names] if lower else names
        c.check(listed == peer_names(path), f"{tag}: l names as lhasa's: {names} {peer_names(path)}")
    else:
        c.check(rc_t == 0 and rc_x == 0, f"{tag}: t and x succeed ({rc_t} {rc_x})")
        c.check(ours == expected, f"{tag}: x gives {sorted(expected)}: {sorted(ours)}")
    return ours


def short_size(member, crc=False):
    """OS-9/68k's level-2 header: a size field two bytes short, the CRC (if
    any) over the whole header."""
    m = bytearray(member)
    size = struct.unpack_from("<H", m)[0]
    struct.pack_into("<H", m, 0, size - 2)
    if crc:
        m[27:29] = b"\0\0"
        m[27:29] = struct.pack("<H", L.crc16(bytes(m[:size])))
    return bytes(m)


def headers():
    # Faults: a header without a CRC record refused; OS-9's short size read
    # as stated; a nameless directory ending the archive or failing x; an
    # Amiga directory written as a file.
    unix = L.unix_records(mode=0o100640)
    agree("nocrc", L.archive(
        L.member("u/plain.txt", b"no crc record\n", os_id=b"U", with_crc_record=False, extra_records=unix),
        L.member("atari.txt", TEXT[:300], "5", os_id=b"a", attr_record=0x01, with_crc_record=False),
        short_size(L.member("k/os9.txt", b"OS-9/68k\n", os_id=b"K", with_crc_record=False, extra_records=unix)),
        short_size(L.member("k/crc.txt", b"with its CRC\n", os_id=b"K"), crc=True),
        L.member("last.txt", b"after them\n")))
    # lhasa 0.3.1 ends these archives at the nameless entry (0 files).
    nameless = (L.level_member(0, "", method=b"-lhd-", attr=0x10, unix0=(0o40700, 0, 0)) +
                L.level_member(0, "", method=b"-lhd-", attr=0x10, os_id=b"K",
                               ext0=b"K\0" + struct.pack("<IIHHH", 1, 2, 0o40700, 0, 0)))
    agree("nameless", L.archive(nameless, L.level_member(0, "hello.txt", b"hello\n")),
          {"hello.txt": b"hello\n"})
    c.check(our_names("nameless.lzh") == ["hello.txt"], "nameless: l passes them over")
    agree("rootdir", L.archive(L.member(b"", method="d", dirname=b"\xff"), L.member("f.txt", b"f\n")),
          {"f.txt": b"f\n"})
    amiga = L.member(b"", method="0", os_id=b"A", dirname=b"MainDir\xff02_EmptyDir\xff")
    agree("amiga", L.archive(amiga, L.member("MainDir/f.txt", b"file\n", os_id=b"A")),
          {"MainDir/": None, "MainDir/02_EmptyDir/": None, "MainDir/f.txt": b"file\n"})


def links():
    # Faults: 'link|target' made a folder; a link followed by a later member.
    for level in (0, 1, 2):
        agree(f"links{level}", L.archive(L.link_member(level, "a", "b"), L.link_member(level, "a2", "x/y/b"),
                                         L.link_member(level, "d/a3", "/abs/b"), L.member("f.txt", b"f\n")))
    outside = os.path.abspath("outside")
    os.makedirs(outside)
    hostile = L.archive(L.link_member(2, "evil", outside), L.member("evil/pwn.txt", b"pwned\n"),
                        L.link_member(0, "up", ".."), L.member("up/escape.txt", b"escaped\n"),
                        L.member("evil", b"a file in the link's place\n"))
    rc, got = extract([LZHSFX, "x", "-y"], write("hostile.lzh", hostile), "hostile")
    c.check(os.listdir(outside) == [] and not os.path.exists("escape.txt"), "links: nothing written through them")
    # The file of the link's name lands on what this run made: refused, not
    # written over it.
    c.check(rc == 2 and got == {"evil": ("->", outside), "up": ("->", "..")},
            f"links: the members behind them fail, the file of a link's name is refused: {rc} {got}")
    # a stores links as links, and their targets when told to.
    os.makedirs("src/sub")
    os.makedirs("src/elsewhere")
    write("src/sub/t.txt", b"target\n")
    write("src/elsewhere/x", b"x\n")
    os.symlink("sub/t.txt", "src/l1")
    os.symlink("../elsewhere/x", "src/sub/l2")
    for opts, expected in (([], ("->", "sub/t.txt")), (["--follow-symlinks"], b"target\n")):
        arc = os.path.abspath(f"a{len(opts)}.lzh")
        rc = run([LZHSFX, "a", arc, "."] + opts, cwd="src")[0]
        _, got = extract([LZHSFX, "x"], arc, f"a{len(opts)}")
        c.check(rc == 0 and got.get("l1") == expected, f"a {opts}: l1 comes back as {got.get('l1')}")
    peer = run(["lhasa", "l", "a0.lzh"])[1]
    c.check("l1 -> sub/t.txt" in peer and "sub/l2 -> ../elsewhere/x" in peer, f"a: lhasa lists the links {peer}")


def macbinary():
    # Faults: a MacBinary header kept in front of the data; one stripped
    # that does not fit the member.
    fork = b"the data fork\n" * 20
    stream = L.macbinary(b"hello.txt", fork)
    for tag, m in (("level 1", L.level_member(1, "hello.txt", stream, os_id=b"m")),
                   ("level 2 -lh5-", L.member("hello.txt", stream, "5", os_id=b"m")),
                   ("other name", L.level_member(1, "other.txt", stream, os_id=b"m")),
                   ("OS M", L.level_member(1, "hello.txt", stream, os_id=b"M"))):
        path = write("mac.lzh", L.archive(m))
        ours = subprocess.run([LZHSFX, "p", path], capture_output=True, env=dict(os.environ, **UTC))
        peer = subprocess.run(["lhasa", "-pq", path], capture_output=True, env=dict(os.environ, **UTC)).stdout
        strip = tag.startswith("level")
        c.check(ours.returncode == 0 and ours.stdout == peer == (fork if strip else stream),
                f"MacBinary {tag}: p gives {len(ours.stdout)} bytes, lhasa {len(peer)}")


def lz5_window():
    # Fault: the window's last 18 positions (where the first bytes go) taken
    # as spaces. Copies of 18 from 4078, 0, 18, ... 4050, then 10 from 4068,
    # each reading where it writes: the window rotated.
    window = bytearray()
    for v in range(256):
        window += bytes([v]) * 13
    window += bytes(range(256)) + bytes(range(255, -1, -1)) + bytes(128)
    window += b" " * (4078 - len(window)) + bytes(18)
    pairs = [(4078, 18)] + [(p, 18) for p in range(0, 4051, 18)] + [(4068, 10)]
    body = b"".join(bytes([0]) + b"".join(bytes([p & 0xFF, (p >> 4 & 0xF0) | (n - 3)]) for p, n in pairs[i:i + 8])
                    for i in range(0, len(pairs), 8))
    data = bytes(window[4078:] + window[:4078])
    got = agree("lz5", L.archive(L.member("window.bin", data, method=b"-lz5-", body=body)))
    c.check(got.get("window.bin") == data, "lz5: the window rotated, as the table gives it")


def pmarc():
    # Faults in PMarc's methods; lhasa lowercases the names, lzhsfx keeps
    # them as stored, as for every other archive.
    # A run that passes 64 bytes, then a copy reaching back past its start:
    # the copy's type and distance follow the output the run left.
    lead = bytes((i * 37 + 11) & 0xFF for i in range(70))
    comment = b"Untouched: PMarc keeps a comment here, not a Unix extension."
    members = [L.level_member(0, "STORED.TXT", b"stored\n", method=b"-pm0-", os_id=b"M", ext0=comment)]
    for name, data, selector in (("TEXT.TXT", TEXT, 16), ("BIN.DAT", BINARY, 0), ("AFTER.RUN", lead + lead[4:7], 16)):
        members.append(L.level_member(0, name, data, method=b"-pm1-", body=L.pm1_encode(data, selector)))
    # Each of the 32 literal trees, on literals of every class it reaches.
    for selector in range(32):
        data = L.pm1_literals(selector, 400, rnd)
        members.append(L.level_member(0, f"TREE{selector}.DAT", data, method=b"-pm1-",
                                      body=L.pm1_encode(data, selector, copies=False)))
    for name, data, kw in (("TEXT2.TXT", TEXT * 2, {}), ("BIN2.DAT", BINARY, {}), ("RUN.DAT", b"q" * 20000, {}),
                           ("NINE.TXT", TEXT[:9000], {"lengths": [3] * 7 + [4] * 2, "new_trees": False})):
        members.append(L.level_member(0, name, data, method=b"-pm2-", body=L.pm2_encode(data, **kw)))
    got = agree("pmarc", L.pmarc_archive(*members), lower=True)
    c.check(got.get("AFTER.RUN") == lead + lead[4:7] and got.get("RUN.DAT") == b"q" * 20000,
            f"pmarc: names as stored, contents as encoded: {sorted(got)}")


def programs():
    # Faults: another maker's program refused, a stray method id taken for
    # the archive, an archive found beyond the search's reach or short of it.
    src = write("prog.c", b'#include <stdio.h>\nstatic const char s[] = "xx-lh5-yyyy";\n'
                          b'int main(void) { puts(s); return 0; }\n')
    builds = {}
    for compiler, out in (("gcc", "prog"), ("x86_64-w64-mingw32-gcc", "prog.exe")):
        if subprocess.run([compiler, "-s", "-o", out, src], capture_output=True).returncode == 0:
            builds[out] = open(out, "rb").read()
    c.check(len(builds) == 2, f"programs: both compilers built one ({sorted(builds)})")
    inside = L.archive(L.member("inside.txt", b"found\n", "5"), L.level_member(1, "two.txt", b"two\n"))
    for name, image in builds.items():
        # The string "-lh5-" stands in the program; lhasa stops there.
        agree(f"decoy-{name}", image + inside, {"inside.txt": b"found\n", "two.txt": b"two\n"})
        clean = image.replace(b"-lh5-", b"-xx5-")
        agree(f"program-{name}", clean + inside)
        rc, out, _ = run([LZHSFX, "p", write("p.exe", clean + inside)])
        c.check(rc == 0 and out == "found\ntwo\n", f"{name}: p finds it: {out!r}")
    # The search reaches offsets below 262,152; lhasa 0.3.1's below 65,544.
    clean = builds.get("prog", b"MZ").replace(b"-lh5-", b"-xx5-")
    for at in (65543, 65544, 262151, 262152):
        path = write("far.exe", clean + bytes(at - len(clean)) + inside)
        ours, peer = run([LZHSFX, "t", path])[0], "inside.txt" in run(["lhasa", "l", path])[1]
        c.check((ours == 0) == (at < 262152) and peer == (at < 65544), f"archive at {at}: rc {ours}, lhasa {peer}")


L.run_groups(c, "lzhsfx-legacy-", [headers, links, macbinary, lz5_window, pmarc, programs])
