# Archives and members past 4 GiB, without filling the disk: sparse archives
# whose stored members are holes, and -lh5- members of a few hundred bytes
# that decode to more than 4 GiB of zeros. The format has no absolute
# offsets, so every command reads past 4 GiB; a member of 4 GiB or more
# carries its sizes in the 64-bit size record (0x42), which a writes with
# the low halves in the 32-bit fields and a header CRC. lhasa checks what it
# can read (members under 4 GiB); it does not know the record, so the sizes
# of larger members are derived by hand.
import os
import shutil
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("large")
GIB4 = 1 << 32
BLOCK = L.ZEROS_BLOCK


def large_sizes(packed, original):
    return L.ext_record(0x42, struct.pack("<QQ", packed, original))


def sparse_archive(path, parts):
    """Writes parts: bytes as they are, an int as a hole of that many zero bytes."""
    with open(path, "wb") as f:
        for p in parts:
            if isinstance(p, int):
                f.seek(p, 1)
            else:
                f.write(p)
    return path


def listed(path, *names):
    """(name, packed, original) of v's rows."""
    rc, out, err = run([LZHSFX, "v", "-q", path] + list(names), timeout=30)
    rows = [line.split() for line in out.splitlines()]
    return rc, [(r[-1], int(r[1]), int(r[2])) for r in rows], err


def counted(cmd):
    """The bytes cmd writes to standard output, counted, not kept."""
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    total = 0
    while True:
        chunk = p.stdout.read(1 << 20)
        if not chunk:
            break
        total += len(chunk)
    return p.wait(timeout=60), total


def archive_beyond():
    # Fault: an archive of more than 4 GiB refused by l, x and d ("LZH
    # offsets cannot reach past that"): two stored members of 2 GiB and a
    # bit, then one behind 4 GiB.
    half = (1 << 31) + 12345
    tail = L.member("after.txt", b"behind four gigabytes\n")
    arc = sparse_archive("beyond.lzh", [L.member("a.bin", b"", "0", orig_size=half, packed_size=half, crc=0), half,
                                        L.member("b.bin", b"", "0", orig_size=half, packed_size=half, crc=0), half,
                                        tail, b"\0"])
    assert os.path.getsize(arc) > GIB4
    rc, rows, err = listed(arc)
    peer = subprocess.run(["lhasa", "l", arc], capture_output=True, timeout=30).stdout.decode()
    c.check(rc == 0 and rows == [("a.bin", half, half), ("b.bin", half, half), ("after.txt", 22, 22)] and
            all(f"{n}" in peer for n in ("a.bin", "b.bin", "after.txt", str(half))),
            f"l lists every member as lhasa does: {rows} {err}")
    peer = subprocess.run(["lhasa", "p", arc, "after.txt"], capture_output=True, timeout=30).stdout
    rc, _, err = run([LZHSFX, "x", arc, "after.txt", "-C", "beyond"])
    got = open("beyond/after.txt", "rb").read() if os.path.exists("beyond/after.txt") else None
    c.check(rc == 0 and got == b"behind four gigabytes\n" and peer.endswith(got),
            f"x extracts the member behind 4 GiB as lhasa does: {got!r} {err}")
    rc, _, err = run([LZHSFX, "d", arc, "a.bin", "b.bin"], timeout=30)
    rc2, rows, _ = listed(arc)
    c.check(rc == 0 and rows == [("after.txt", 22, 22)] and os.path.getsize(arc) == len(tail) + 1,
            f"d rewrites it, keeping the member from behind 4 GiB: {rows} {err}")


def large_members():
    size = 1 + 257 * BLOCK  # 4,311,678,721 bytes: past 4 GiB
    body = L.zeros_body(257)
    assert size > GIB4
    after = L.member("after.txt", b"after\n")
    # Fault: the 64-bit size record ignored, a member of more than 4 GiB cut
    # to its low 32 bits, and the next header sought in the wrong place.
    levels = {
        "level 2": L.member("zeros.bin", b"", "5", body=body, orig_size=size % GIB4, crc=0,
                            extra_records=[large_sizes(len(body), size)]),
        "level 3": L.level_member(3, "zeros.bin", b"", method=b"-lh5-", body=body,
                                  records=[large_sizes(len(body), size)]),
    }
    for what, member in levels.items():
        arc = write(f"large{what[-1]}.lzh", L.archive(member, after))
        rc, rows, err = listed(arc)
        c.check(rc == 0 and rows == [("zeros.bin", len(body), size), ("after.txt", 6, 6)],
                f"{what}: v shows the 64-bit sizes: {rows} {err}")
    rc, out, err = run([LZHSFX, "t", "large2.lzh"], timeout=60)
    c.check(rc == 0 and "2 members tested, all intact" in out, f"t decodes past 4 GiB: {out} {err}")
    rc, total = counted([LZHSFX, "p", "large2.lzh", "zeros.bin"])
    c.check(rc == 0 and total == size, f"p writes all {size} bytes: {total}")
    # The 32-bit fields may hold anything when the record is there.
    garbage = L.member("small.txt", b"small\n", "0", orig_size=0xDEADBEEF, packed_size=0x0BADF00D,
                       extra_records=[large_sizes(6, 6)])
    arc = write("garbage.lzh", L.archive(garbage, after))
    rc, rows, _ = listed(arc)
    rc2, _, err = run([LZHSFX, "x", arc, "-C", "garbage"])
    c.check(rc == 0 and rc2 == 0 and rows == [("small.txt", 6, 6), ("after.txt", 6, 6)] and
            open("garbage/small.txt", "rb").read() == b"small\n", f"the record's sizes count: {rows} {err}")


def writing():
    # Fault: a refuses a file of 4 GiB or more ("4 GB at most"), or writes
    # its size cut to 32 bits. A sparse file of 4 GiB and 100 zero bytes
    # takes no disk and packs to a few kilobytes.
    if shutil.disk_usage(".").free < 1 << 30:
        c.check(True, "skipped: less than 1 GiB free")
        return
    size = GIB4 + 100
    with open("huge.bin", "wb") as f:
        f.truncate(size)
    rc, _, err = run([LZHSFX, "a", "-q", "huge.lzh", "huge.bin"], timeout=240)
    data = open("huge.lzh", "rb").read() if rc == 0 else b""
    members = L.read_members(data) if data else []
    header = data[:struct.unpack_from("<H", data)[0]] if data else b""
    record = struct.pack("<BQQ", 0x42, len(members[0][2]) if members else 0, size)
    c.check(rc == 0 and header[20:21] == b"\x02" and struct.unpack_from("<I", header, 11)[0] == size % GIB4 and
            record in header and b"\x05\x00\x00" in header, f"a writes the 64-bit sizes in a level-2 header ({err})")
    rc, rows, _ = listed("huge.lzh")
    rc2, out, _ = run([LZHSFX, "t", "huge.lzh"], timeout=120)
    c.check(rc == 0 and rc2 == 0 and rows and rows[0][2] == size and "all intact" in out,
            f"and reads them back: {rows} {out}")
    os.unlink("huge.bin")


L.run_groups(c, "lzhsfx-large-", (archive_beyond, large_members, writing))
