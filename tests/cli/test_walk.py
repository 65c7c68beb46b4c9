# Every command sees the members the stub would extract: l, t, x, info and
# create --from-lzh walk an archive the same way, each next header where the
# previous member's data ends by its header. Archives built to tell walks
# apart (data that hides a header, huge sizes, long headers, bytes after the
# end marker), files that are no archive, and absolute member names, which
# the host extracts inside the destination.
import atexit
import os
import random
import shutil
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("walk")
rnd = random.Random(7)
NOT_AN_ARCHIVE = "not an LZH archive or self-extracting file"


def listed(path):
    """Names in l's table: the column after the CRC."""
    rc, out, err = run([LZHSFX, "l", path])
    return rc, [row.split(None, 7)[7] for row in out.splitlines()[2:-2]], err


def tested(path, timeout=10):
    rc, out, err = run([LZHSFX, "t", path], timeout=timeout)
    return rc, [line for line in out.splitlines() if not line.startswith("lzhsfx:")], out + err


def extracted(path, dest):
    rc, _, err = run([LZHSFX, "x", path, "-C", dest])
    files = sorted(os.path.relpath(os.path.join(d, f), dest) for d, _, fs in os.walk(dest) for f in fs)
    return rc, files, err


def lhasa_names(path):
    rc, out, _ = run(["lhasa", "l", path])
    rows = out.splitlines()[2:-2]
    return [r.split()[-1] for r in rows] if rc == 0 else None


def sized_member(name, data, method, header_size):
    """A member whose header is exactly header_size bytes, padded by a comment record."""
    base = struct.unpack_from("<H", L.member(name, data, method))[0]
    m = L.member(name, data, method, extra_records=[L.ext_record(0x3F, b"p" * (header_size - base - 3))])
    assert struct.unpack_from("<H", m)[0] == header_size
    return m


def through_create(lzh, tag):
    """create --from-lzh, then the members info lists of the result."""
    stub = write(f"stub_{tag}.exe", L.fake_stub())
    rc, _, err = run([LZHSFX, "create", f"{tag}.exe", "--stub", stub, "--from-lzh", lzh])
    if rc != 0:
        return rc, None, err
    rc, out, err = run([LZHSFX, "info", f"{tag}.exe"])
    return rc, [line.split(None, 3)[3] for line in out.splitlines() if line.startswith("member:")], err


def members_hidden_in_data():
    # Fault: a walk that reads the next header where a decoder stopped (the
    # stored copy's end, or the end of a 16 KiB input buffer) finds a member
    # the stub never extracts.
    hidden = L.member("HIDDEN.txt", b"not a member\n", "0")
    cover = b"cover text\n" * 20
    visible = L.member("visible.txt", b"visible\n" * 10, "5")
    packed = L.compress(cover, "5")
    cases = {
        "-lh0- data longer than its size": L.member("cover.txt", cover, "0",
                                                     body=cover + hidden + b"\0" * 5),
        "-lh5- data padded past 16 KiB": L.member("cover.txt", cover, "5", body=packed +
                                                   bytes(16384 - len(packed)) + hidden + bytes(99)),
    }
    expected = ["cover.txt", "visible.txt"]
    for why, first in cases.items():
        lzh = write("hidden.lzh", L.archive(first, visible))
        c.check(lhasa_names(lzh) == expected, f"{why}: lhasa lists {expected}")
        rc, names, err = listed(lzh)
        c.check(rc == 0 and names == expected, f"{why}: l lists {names} {err}")
        rc, names, out = tested(lzh)
        c.check(rc == 0 and names == expected, f"{why}: t tests {names} {out}")
        rc, files, err = extracted(lzh, f"hidden_{len(why)}")
        c.check(rc == 0 and files == expected, f"{why}: x writes {files} {err}")
        rc, names, err = through_create(lzh, "hidden")
        c.check(rc == 0 and names == expected, f"{why}: create and info see {names} {err}")


def long_header():
    # Fault: a header longer than 32767 bytes refused (the stub reads up to 65535).
    lzh = write("long.lzh", L.archive(sized_member("long.txt", b"long\n" * 90, "5", 32998),
                                      L.member("next.txt", b"next\n", "0")))
    c.check(run(["lhasa", "t", lzh])[0] == 0, "lhasa accepts the 32,998-byte header")
    rc, names, out = tested(lzh)
    c.check(rc == 0 and names == ["long.txt", "next.txt"], f"t reads past a 32,998-byte header: {out}")
    rc, names, err = through_create(lzh, "long")
    c.check(rc == 0 and names == ["long.txt", "next.txt"], f"create accepts it: {err}")


def huge_sizes():
    # Fault: decoding on into zero bits until a claimed 4 GiB is produced.
    data = bytes(rnd.getrandbits(8) for _ in range(6000))
    lzh = write("claim.lzh", L.archive(L.member("huge.bin", data, "5", orig_size=0xFFFFFFFF)))
    for command in ("t", "x"):
        start = time.monotonic()
        try:
            rc, _, err = run([LZHSFX, command, lzh] + ["-C", "claim"] * (command == "x"), timeout=5)
        except AssertionError as hung:
            rc, err = None, str(hung)
        elapsed = time.monotonic() - start
        c.check(rc == 1 and elapsed < 5, f"{command} stops on a 4 GiB claim: rc={rc} {elapsed:.1f}s {err}")
    c.check(not os.path.exists("claim/huge.bin"), "x leaves no output of the 4 GiB claim")
    shutil.rmtree("claim", ignore_errors=True)

    # Fault: a 32-bit signed position losing the member after 2 GiB of data.
    # The stored data is a hole in a sparse file: zeros, whose CRC is 0.
    big = 2**31 + 10
    with open("big.lzh", "wb") as f:
        header = L.member("big.bin", b"", "0", orig_size=big, packed_size=big, crc=0)
        f.write(header)
        f.seek(len(header) + big)
        f.write(L.archive(L.member("after.txt", b"after\n", "5")))
    rc, out, err = run([LZHSFX, "l", "big.lzh"])
    c.check(rc == 0 and f"{big:10d} {big:10d}" in out and "after.txt" in out, f"l past 2 GiB: {out} {err}")
    rc, names, out = tested("big.lzh", timeout=60)
    c.check(rc == 0 and names == ["big.bin", "after.txt"] and "2 members tested, all intact" in out,
            f"t past 2 GiB: {out}")
    os.unlink("big.lzh")


def not_archives():
    # Fault: any file starting with "MZ" taken for a self-extracting file of
    # ours (another program's archive is found by a search, never by the
    # offset where our block would be), and nothing at the archive offset
    # taken for an empty archive.
    payload = L.archive(L.member("inside.txt", b"inside\n", "5"))
    other = bytearray(L.stub_sfx(payload, command=b"setup.exe"))
    other[0x3C:0x40] = struct.pack("<I", 0x80)   # another program's PE header,
    other[0x80:0x84] = b"PE\0\0"                  # no notice of ours
    other[0x460:0x500] = bytes(0xA0)
    other[512:516] = struct.pack("<I", 3000)      # a block-like offset leading nowhere
    path = write("other.exe", bytes(other))
    rc, out, err = run([LZHSFX, "x", path, "-C", "other"])
    found = os.path.exists("other/inside.txt") and open("other/inside.txt", "rb").read()
    c.check(rc == 0 and found == b"inside\n", f"another program: x finds its archive {err}")
    rc, _, err = run([LZHSFX, "d", path, "inside.txt"])
    c.check(rc == 1 and NOT_AN_ARCHIVE in err, f"another program: d leaves it alone ({err})")
    cases = {
        "MZ and a few bytes": b"MZ" + b"\x90" * 64,
        "a self-extracting file cut at its archive": L.stub_sfx(payload, command=b"setup.exe")[:2048],
        "an empty file": b"",
    }
    for why, data in cases.items():
        path = write("notarc.exe", data)
        for command in ("l", "t", "x"):
            rc, out, err = run([LZHSFX, command, path] + ["-C", "notarc"] * (command == "x"))
            c.check(rc == 1 and f"lzhsfx: 'notarc.exe': {NOT_AN_ARCHIVE}" in err and "run" not in err,
                    f"{why}: {command} rc={rc} {out} {err}")
        c.check(not os.path.exists("notarc/inside.txt"), f"{why}: x writes nothing")


def bytes_after_the_end():
    # Fault: what follows the end marker (padding, a signature) read as a
    # damaged member; a header of 256*k bytes taken for the end marker.
    os.makedirs("src/sub")
    write("src/one.txt", b"one\n" * 300)
    write("src/sub/two.bin", bytes(rnd.getrandbits(8) for _ in range(3000)))
    c.check(run([LZHSFX, "a", "base.lzh", "src"])[0] == 0, "a packs the tree")
    with open("base.lzh", "rb") as f:
        base = f.read()
    bad_crc = bytearray(sized_member("ghost.txt", b"boo\n", "0", 512))
    bad_crc[27] ^= 0xFF

    def length_zeroed(member):
        return b"\0" + member[1:]
    last = L.member("last.txt", b"the last one\n")
    # (bytes, whether a member header follows the end marker)
    cases = {
        "a zero byte and random bytes": (base + bytes(rnd.getrandbits(8) for _ in range(700)), False),
        "a zero byte opening a header with a bad CRC": (base[:-1] + bytes(bad_crc), False),
        "a sound 512-byte header after the last member":
            (base[:-1] + sized_member("round.txt", b"round\n" * 5, "5", 512) + b"\0", False),
        # Faults: every member behind the end silently dropped.
        "two archives joined": (base + L.archive(L.member("second.txt", b"2\n")), True),
        "the last header's length byte damaged": (base[:-1] + length_zeroed(last) + b"\0", True),
        "a level-1 length byte damaged": (base[:-1] + length_zeroed(L.level_member(1, "l1.txt", b"1\n")), True),
        "a damaged length byte with members behind":
            (base[:-1] + length_zeroed(last) + L.member("behind.txt", b"b\n") + b"\0", True),
    }
    for why, (data, behind) in cases.items():
        lzh = write("trail.lzh", data)
        expected = lhasa_names(lzh)
        code = 1 if behind else 0
        warned = lambda err: ("is followed by a member header" in err) == behind  # noqa: E731
        rc, names, err = listed(lzh)
        c.check(rc == code and names == expected and warned(err), f"{why}: l lists {names}, lhasa {expected} {err}")
        files = [n for n in expected if not n.endswith("/")]
        rc, names, out = tested(lzh)
        c.check(rc == code and names == files and warned(out) and ("all intact" in out) != behind,
                f"{why}: t tests {names} {out}")
        dest = f"trail_{len(why)}"
        rc, written, err = extracted(lzh, dest)
        c.check(rc == code and written == sorted(files) and warned(err), f"{why}: x writes {written} {err}")
        if behind:
            for args in (["a", lzh, "src/one.txt"], ["d", lzh, "src/one.txt"]):
                rc, _, err = run([LZHSFX] + args)
                c.check(rc == 1 and open(lzh, "rb").read() == data and "left as it is" in err,
                        f"{why}: {args[0]} refuses, the archive stays ({rc}) {err.strip()[-80:]}")


def absolute_names():
    # Fault: rooted and drive-prefixed names refused on the host, or the strip
    # splitting a CP932 character whose second byte is 0x5C ('\').
    so, hyou = "ソ".encode("cp932"), "表".encode("cp932")
    assert so[1:] == hyou[1:] == b"\x5c"
    rows = [  # stored name, where it lands under the destination, prefix removed
        (b"/subdir/file.txt", "subdir/file.txt", "/"),
        (b"C:file.txt", "file.txt", "C:"),
        (b"/" + so + b".txt", "ソ.txt", "/"),
        (b"C:" + hyou + b".txt", "表.txt", "C:"),
        (so + b"x.txt", "ソx.txt", None),
    ]
    lzh = write("abs.lzh", L.archive(*[L.member(n, n + b"\n", "0") for n, _, _ in rows]))
    rc, files, err = extracted(lzh, "absdest")
    c.check(rc == 0 and files == sorted(lands for _, lands, _ in rows), f"x lands inside: {files} {err}")
    for name, lands, prefix in rows:
        shown = name.decode("cp932")
        note = (f"lzhsfx: note: '{shown}': leading '{prefix}' removed, extracting inside the "
                f"destination" if prefix else f"note: '{shown}'")
        c.check((note in err) == (prefix is not None), f"{shown}: a note only when a prefix goes")
    rc, files, err = extracted(write("up.lzh", L.archive(L.member("../up.txt", b"up\n"))), "updest")
    c.check(rc == 1 and "refusing member '../up.txt'" in err and not os.path.exists("up.txt"),
            f"'..' is still refused: {err}")


def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-walk-")
    atexit.register(shutil.rmtree, tmp, True)
    os.chdir(tmp)
    for group in (members_hidden_in_data, long_header, huge_sizes, not_archives,
                  bytes_after_the_end, absolute_names):
        group()
    c.done()


main()
