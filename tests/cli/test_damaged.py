# Damaged archives: truncated at many points, flipped header bytes, bad
# record sizes, broken Huffman tables, wrong sizes and CRCs. lzhsfx must
# answer with exit code 1 and the right message, never crash (no signal,
# no exit code >= 128), never hang (every run has a hard timeout), and x must
# leave only complete, correct files behind.
import atexit
import os
import random
import shutil
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("damaged")
rnd = random.Random(5)

GLOSS_HEADER = "(invalid member header)"
GLOSS_CRC = "(CRC mismatch"
GLOSS_TABLE = "Bad table (5) (broken Huffman table)"
KNOWN = ("(invalid member header)", "(CRC mismatch", "(broken Huffman table)", "(read error)",
         "(the archive is broken)", "(not enough memory)")


def text(n):
    words = [b"damage", b"test", b"\n", b" ", b"huffman", b"block"]
    out = bytearray()
    while len(out) < n:
        out += rnd.choice(words)
    return bytes(out[:n])


def sane(rc):
    return rc is not None and 0 <= rc < 128


def leftovers_ok(out_dir, originals):
    """Every file x left behind is complete and correct."""
    for dirpath, _, files in os.walk(out_dir):
        for f in files:
            rel = os.path.relpath(os.path.join(dirpath, f), out_dir)
            with open(os.path.join(dirpath, f), "rb") as fh:
                if originals.get(rel) != fh.read():
                    return rel
    return None



def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-damaged-")
    atexit.register(shutil.rmtree, tmp, True)
    os.chdir(tmp)
    originals = {
        "a.txt": text(20000),
        "b.bin": bytes(rnd.getrandbits(8) for _ in range(3000)),
        "dir/c.txt": text(9000),
    }
    parts = [
        L.member("a.txt", originals["a.txt"], "5"),
        L.member("b.bin", originals["b.bin"], "0"),
        L.member("dir/", method="d"),
        L.member("dir/c.txt", originals["dir/c.txt"], "6"),
    ]
    good = L.archive(*parts)
    boundaries = {0}
    pos = 0
    for p in parts:
        pos += len(p)
        boundaries.add(pos)
    rc, _, _ = run([LZHSFX, "t", write("good.lzh", good)])
    c.check(rc == 0, "the undamaged archive tests clean")

    # Truncation: every byte of the first header, then points spread through
    # the rest. A cut at a member boundary is a shorter valid archive.
    # A single byte after a boundary is taken as the end mark (the shipped
    # archives end with one zero byte), so it counts as a boundary too.
    first_header = struct.unpack_from("<H", good)[0]
    cuts = list(range(1, first_header + 2)) + sorted(rnd.sample(range(first_header + 2, len(good)), 100))
    for cut in cuts:
        path = write("cut.lzh", good[:cut])
        rc, _, err = run([LZHSFX, "t", path])
        expected = 0 if cut in boundaries or cut - 1 in boundaries else 1
        # Fault: crash, hang or a truncated member passing as intact.
        if not c.check(sane(rc) and rc == expected and (rc == 0 or any(k in err for k in KNOWN)),
                       f"t on archive cut at {cut}: rc={rc} err={err.strip()[:120]}"):
            continue
        if cut % 3 == 0:
            out = f"out_cut_{cut}"
            rc, _, err = run([LZHSFX, "x", path, "-C", out])
            bad = leftovers_ok(out, originals)
            # Fault: a partly written or corrupt file left behind.
            c.check(sane(rc) and rc == expected and bad is None,
                    f"x on archive cut at {cut}: rc={rc}, bad leftover {bad}")
            shutil.rmtree(out, ignore_errors=True)

    # Flipped header bytes: every byte of every header is covered by the
    # header CRC, so each flip must be refused; but for the CRC record's
    # type byte (26, the first record's): with it changed the header has no
    # CRC record, and is read unchecked as those of OS-9 and Atari archivers
    # are, by lhasa too.
    pos = 0
    for index, p in enumerate(parts):
        header_size = struct.unpack_from("<H", p)[0]
        for i in range(header_size):
            damaged = bytearray(good)
            damaged[pos + i] ^= 0xFF if i % 2 else 0x01
            rc, _, err = run([LZHSFX, "t", write("flip.lzh", bytes(damaged))])
            if i == 26:
                peer = run(["lhasa", "t", "flip.lzh"])[0]
                c.check(rc == 0 and peer == 0, f"member {index} without its CRC record: rc={rc}, lhasa {peer}")
                continue
            # Fault: a damaged header read anyway, or a crash on its wrong sizes.
            c.check(sane(rc) and rc == 1 and ("(invalid member header)" in err or
                                             (i < 2 and any(k in err for k in KNOWN))),
                    f"member {index} header byte {i} flipped: rc={rc} {err.strip()[:100]}")
        pos += len(p)
    rc, out, err = run([LZHSFX, "l", write("flip.lzh", bytes(damaged))])
    c.check(rc == 1 and GLOSS_HEADER in err, "l stops with a message at a bad header")

    # Record sizes that lead nowhere, with a correct CRC over them, so the
    # chain walk itself is exercised: too small, past the end, never ending.
    def raw_header(chain_after_crc, size_override=None):
        crc_rec = b"\x00\0\0"
        chain = struct.pack("<H", len(crc_rec) + 2) + crc_rec + chain_after_crc
        size = 24 + len(chain) if size_override is None else size_override
        h = bytearray(struct.pack("<H5sIIIBBHB", size, b"-lh0-", 0, 0, 0, 0x20, 2, 0, ord("M")) + chain)
        value = L.crc16(bytes(h[:size]) if size <= len(h) else bytes(h))
        h[27:29] = struct.pack("<H", value)
        return bytes(h)
    bad_records = {
        "record size 1": struct.pack("<H", 1) + b"\x01abc\0\0",
        "record size 2": struct.pack("<H", 2) + b"\x01abc\0\0",
        "record size past the header": struct.pack("<H", 0xFFF0) + b"\x01abc\0\0",
        "chain with no end": struct.pack("<H", 6) + b"\x01abc" + struct.pack("<H", 6),
        "name record of 300 bytes": struct.pack("<H", 303) + b"\x01" + b"n" * 300 + b"\0\0",
    }
    for why, chain in bad_records.items():
        data = raw_header(chain) + b"\0"
        rc, _, err = run([LZHSFX, "t", write("rec.lzh", data)])
        # Fault: reads outside the header buffer, an endless walk, or a name overflow.
        c.check(sane(rc) and rc in (0, 1), f"{why}: rc={rc} {err.strip()[:100]}")
        rc, _, _ = run([LZHSFX, "l", "rec.lzh"])
        c.check(sane(rc), f"{why}: l rc={rc}")
    for size in (0x0003, 0x0010, 25):
        rc, _, err = run([LZHSFX, "t", write("small.lzh", raw_header(b"", size_override=size))])
        c.check(sane(rc) and rc == 1, f"header size {size} below the fixed part: rc={rc}")
    long_name = L.member("d" * 200 + "/" + "f" * 200, b"x", "0")
    rc, _, _ = run([LZHSFX, "x", write("long.lzh", L.archive(long_name)), "-C", "outlong"])
    c.check(sane(rc), f"a 401-byte member name: rc={rc}")

    # Broken Huffman tables: an incomplete code-length code (lengths 1, -, 2).
    w = L.BitWriter()
    w.put(16, 1)                      # one symbol in the block
    w.put(5, 3)                       # three code-length lengths follow
    for v in (1, 0, 2):
        w.put(3, v)                   # weighted sum 3/4: not a complete code
    w.put(2, 0)                       # no zero run after the third entry
    w.put(9, 0); w.put(9, 65)         # literal code: single symbol 'A'
    w.put(4, 0); w.put(4, 0)          # offset code: single symbol 0
    body = w.finish() + b"\0" * 4
    bad_table = L.member("t.txt", b"A", "5", body=body)
    rc, _, err = run([LZHSFX, "t", write("table.lzh", L.archive(bad_table))])
    # Fault: an incomplete code accepted, or the wrong message.
    c.check(rc == 1 and GLOSS_TABLE in err, f"incomplete code-length code: rc={rc} {err.strip()}")
    rc, _, err = run([LZHSFX, "x", "table.lzh", "-C", "outtable"])
    c.check(rc == 1 and not os.path.exists("outtable/t.txt"), "x removes the file of a bad table")

    # Random bodies under valid headers: whatever the bits, no crash or hang.
    for method in "4567":
        for trial in range(12):
            body = bytes(rnd.getrandbits(8) for _ in range(rnd.choice((3, 40, 700))))
            m = L.member(f"r{trial}.bin", b"\0" * rnd.choice((1, 5000, 70000)), method, body=body)
            rc, _, err = run([LZHSFX, "t", write("rand.lzh", L.archive(m))])
            c.check(sane(rc) and rc == 1, f"random -lh{method}- body {trial}: rc={rc} {err.strip()[:80]}")
        out = f"outrand{method}"
        rc, _, _ = run([LZHSFX, "x", "rand.lzh", "-C", out])
        c.check(sane(rc) and not os.listdir(out), f"x leaves nothing of a random -lh{method}- body")

    # Wrong sizes and CRCs, with consistent headers.
    a = originals["a.txt"]
    cases = {
        "data CRC off by one": L.member("a.txt", a, "5", crc=L.crc16(a) ^ 1),
        "original size too large": L.member("a.txt", a, "5", orig_size=len(a) + 1000),
        "original size too small": L.member("a.txt", a, "5", orig_size=len(a) - 1000),
        "stored size too large": L.member("a.txt", a, "0", orig_size=len(a) + 1000),
        "stored compressed size huge": L.member("a.txt", a, "0", body=a[:100], orig_size=0xFFFFFFF0),
    }
    first = L.member("ok.txt", b"fine\n", "5")
    for why, m in cases.items():
        path = write("sizes.lzh", L.archive(first, m))
        rc, _, err = run([LZHSFX, "t", path])
        c.check(sane(rc) and rc == 1 and any(k in err for k in KNOWN), f"t, {why}: rc={rc} {err.strip()[:100]}")
        out = "outsizes"
        rc, _, err = run([LZHSFX, "x", path, "-C", out])
        # Fault: the bad member kept on disk, or the good one before it lost.
        c.check(sane(rc) and rc == 1 and not os.path.exists(f"{out}/a.txt"),
                f"x, {why}: rc={rc}, partial file left: {os.path.exists(f'{out}/a.txt')}")
        c.check(os.path.exists(f"{out}/ok.txt"), f"x, {why}: the member before it stays")
        shutil.rmtree(out, ignore_errors=True)
    rc, _, err = run([LZHSFX, "t", write("crc.lzh", L.archive(cases["data CRC off by one"]))])
    c.check(GLOSS_CRC in err and "CRC エラー" in err, "the CRC message is shown with its gloss")
    c.done()


main()
