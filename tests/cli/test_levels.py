# The host tool on the LZH files people have: header levels 0 to 3 and the
# methods before -lh4-, end to end. Archives are made at test time by jlha
# (levels 0, 1 and 2 with CP932 names), by jlha's Java library through
# tests/peers/JlhaPack.java (every method it writes, at every level; -lh2-
# and -lh3- only jlha writes and reads besides lzhsfx) and by
# lzhtool (Unix owners and modes at every level, LArc streams that reach
# into -lz5-'s prefilled window, -lh3- streams with the fixed position code
# jlha never writes); lzhsfx's extraction is compared with the source files
# and with lhasa's (jlha's for -lh3-, 7z's where it reads the archive), and
# its listing's times with the times lhasa gives the files.
import datetime
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zoneinfo

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write_tree  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
PEERS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "peers")
JA_ENV = {"LC_ALL": "ja_JP.UTF-8", "LANG": "ja_JP.UTF-8", "TZ": "UTC"}
UTC = {"TZ": "UTC"}
JLHA_JAR = "/usr/share/java/jlha.jar"
BASE_TIME = 1600000000

c = Checker("levels")


def make_tree(root):
    rnd = random.Random(5)
    words = [b"alpha ", b"beta ", b"gamma\n", b"delta ", b"0123456789"]
    text = b"".join(rnd.choice(words) for _ in range(30000))
    files = {
        "text.txt": text,
        "mixed.bin": bytes(rnd.getrandbits(8) if rnd.random() < 0.3 else (i * 7) & 255
                           for i in range(70000)),
        "run.bin": b"r" * 50000,
        "one.bin": b"\x01",
        "日本語/ファイル.txt": "日本語の内容\n".encode("utf-8") * 40,
    }
    write_tree(root, files, BASE_TIME)
    return files


def tree_files(root, cp932_names=False):
    """Relative path -> bytes. lhasa writes names as stored (CP932), lzhsfx
    and 7z in UTF-8: with cp932_names the names are read back as CP932."""
    out = {}
    for dirpath, _, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, root)
            if cp932_names:
                rel = os.fsencode(rel).decode("cp932")
            with open(path, "rb") as f:
                out[rel] = f.read()
    return out


def extract(tool, archive, dest):
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    if tool == "lzhsfx":
        cmd = [LZHSFX, "x", archive, "-C", dest, "-y"]
    elif tool == "lhasa":
        cmd = ["lhasa", "-xq", archive]
    else:
        cmd = ["7z", "x", "-y", "-o" + dest, archive]
    return run(cmd, cwd=dest, env=JA_ENV, timeout=60)[0]


def same_as(label, dest, expected):
    got = tree_files(dest)
    c.check(got == expected, f"{label}: extracted files match "
            f"(missing {sorted(set(expected) - set(got))}, extra {sorted(set(got) - set(expected))}, "
            f"differing {sorted(k for k in expected if k in got and got[k] != expected[k])})")


# -lh3-'s fixed code of a position's upper six bits: lengths 2 to 9.
LH3_FIXED = [2] + [4] * 2 + [5] * 3 + [6] * 7 + [7] * 18 + [8] * 47 + [9] * 50


def lh3_stream(data, fixed):
    """An -lh3- member's data in one block: greedy matches, the literal and
    length code (symbol 285 and 8 bits for the longer matches), the position
    code fixed or sent."""
    symbols = []
    for t in L.find_tokens(data, 13):
        if t[0] == "L":
            symbols.append((t[1], None, None))
        else:
            s = 256 + t[1] - 3
            symbols.append((min(s, 285), s - 285 if s >= 285 else None, t[2] - 1))
    freq, pfreq = [0] * 286, [0] * 128
    for s, _, p in symbols:
        freq[s] += 1
        if p is not None:
            pfreq[p >> 6] += 1
    lens = L.huffman_lengths(freq)
    codes = L.canonical_codes(lens)
    plens = LH3_FIXED if fixed else L.huffman_lengths(pfreq)
    pcodes = L.canonical_codes(plens)
    w = L.BitWriter()
    w.put(16, len(symbols))
    for length in lens:
        w.put(1, 1 if length else 0)
        if length:
            w.put(4, length - 1)
    w.put(1, 0 if fixed else 1)
    if not fixed:
        for length in plens:
            w.put(4, length)
    for s, extra, p in symbols:
        w.put(lens[s], codes[s])
        if extra is not None:
            w.put(8, extra)
        if p is not None:
            w.put(plens[p >> 6], pcodes[p >> 6])
            w.put(6, p & 63)
    return w.finish()


def lh3_single(byte, count):
    """A block of one literal symbol: three lengths of 1 announce it."""
    w = L.BitWriter()
    w.put(16, count)
    for _ in range(3):
        w.put(1, 1)
        w.put(4, 0)
    w.put(9, byte[0])
    w.put(1, 0)
    return w.finish()


def listed_methods(archive):
    rc, out, _ = run([LZHSFX, "l", archive], env=UTC)
    rows = [line.split() for line in out.splitlines()]
    return rc, [r[3] for r in rows if len(r) >= 8 and r[0].isdigit() and r[3].startswith("-")]


def read_back(tag, lzh, method, count, out, files):
    """lzhsfx t, l and x on an archive of count members packed with method
    by jlha; out receives the extraction, which must hold files."""
    c.check(run([LZHSFX, "t", lzh], timeout=60)[0] == 0, f"{tag}: lzhsfx t passes")
    rc, listed = listed_methods(lzh)
    # jlha stores what does not shrink (the single byte) as -lh0-.
    c.check(rc == 0 and len(listed) == count and method in listed and
            set(listed) <= {method, "-lh0-"}, f"{tag}: l lists {method}: {listed}")
    c.check(extract("lzhsfx", lzh, out) == 0, f"{tag}: lzhsfx x succeeds")
    same_as(tag, out, files)
    return out


def main():
    work = tempfile.mkdtemp(prefix="lzhsfx-levels-")
    try:
        src = os.path.join(work, "src")
        files = make_tree(src)
        names = sorted(files)

        # ---- jlha's command: levels 0, 1 and 2, CP932 names ----------------
        for level in (0, 1, 2):
            for opt, method in (("o5", "-lh5-"), ("z", "-lh0-")):
                tag = f"jlha c{level}{opt}"
                lzh = os.path.join(work, f"jlha{level}{opt}.lzh")
                rc = run(["jlha", f"c{level}{opt}q", lzh] + names, cwd=src, env=JA_ENV, timeout=60)[0]
                if not c.check(rc == 0 and os.path.exists(lzh), f"{tag}: jlha made the archive"):
                    continue
                with open(lzh, "rb") as f:
                    c.check(f.read(21)[20] == level, f"{tag}: jlha wrote level {level}")
                out = read_back(tag, lzh, method, len(names), os.path.join(work, "out"), files)
                peer = os.path.join(work, "peer")
                c.check(extract("7z", lzh, peer) == 0, f"{tag}: 7z extracts")
                seven = tree_files(peer)
                c.check(sorted(seven.values()) == sorted(files.values()), f"{tag}: 7z's contents agree")

        # ---- jlha's Java library: every method at every level ---------------
        classes = os.path.join(work, "classes")
        os.makedirs(classes)
        rc, _, err = run(["javac", "-d", classes, "-cp", JLHA_JAR,
                          os.path.join(PEERS, "JlhaPack.java")], timeout=120)
        if c.check(rc == 0, f"javac compiles JlhaPack ({err.strip()[:200]})"):
            # jlha writes -lz4- members as -lh0-; lzhtool writes -lz4- below.
            methods = ["-lh0-", "-lh1-", "-lh2-", "-lh3-", "-lh5-", "-lz5-", "-lzs-"]
            archives = []
            listing = os.path.join(work, "list.txt")
            with open(listing, "w") as f:
                for method in methods:
                    for level in range(4):
                        lzh = os.path.join(work, f"java{method}{level}.lzh")
                        archives.append((method, level, lzh))
                        f.write("\t".join([lzh, method, str(level)] + names) + "\n")
            rc = run(["java", "-cp", JLHA_JAR + ":" + classes, "JlhaPack", listing], cwd=src,
                     env=JA_ENV, timeout=300)[0]
            c.check(rc == 0, "JlhaPack packed every archive")
            for method, level, lzh in archives:
                tag = f"java {method} level {level}"
                if not c.check(os.path.exists(lzh), f"{tag}: archive made"):
                    continue
                out = read_back(tag, lzh, method, len(names), os.path.join(work, "out"), files)
                # lhasa reads all of these but -lh2- and -lh3-.
                if method not in ("-lh2-", "-lh3-"):
                    peer = os.path.join(work, "peer")
                    c.check(extract("lhasa", lzh, peer) == 0, f"{tag}: lhasa extracts")
                    c.check(tree_files(peer, True) == tree_files(out), f"{tag}: lhasa's extraction agrees")

        # ---- Unix owners, modes and times at every level; -lz4- ------------
        unix = L.archive(
            L.level_member(0, "u/zero.sh", b"zero\n", unix0=(0o100751, 11, 22), mtime=BASE_TIME),
            L.level_member(1, "u/stored.txt", b"LArc's stored method\n", method=b"-lz4-",
                           mtime=BASE_TIME),
            L.level_member(1, "u/サブ/one.txt", b"one\n", mtime=BASE_TIME,
                           records=L.unix_records(mode=0o100640, uid=33, gid=44, user=b"usr",
                                                  group=b"grp", mtime=BASE_TIME + 2)),
            L.member("u/two.txt", b"two\n", os_id=b"U",
                     extra_records=L.unix_records(mode=0o100600, uid=55, gid=66,
                                                  mtime=BASE_TIME + 4)),
            L.level_member(3, "u/three.txt", b"three\n", mtime=BASE_TIME + 6,
                           records=L.unix_records(mode=0o100755, uid=77, gid=88)),
            L.level_member(0, "dos.txt", b"dos\n", mtime=BASE_TIME + 8),
            L.level_member(1, "dos1.txt", b"dos one\n", os_id=b"M", mtime=BASE_TIME + 10))
        lzh = L.write(os.path.join(work, "unix.lzh"), unix)
        c.check(run([LZHSFX, "t", lzh])[0] == 0, "unix: lzhsfx t passes")
        out, peer = os.path.join(work, "out"), os.path.join(work, "peer")
        c.check(extract("lzhsfx", lzh, out) == 0, "unix: lzhsfx x succeeds")
        c.check(extract("lhasa", lzh, peer) == 0, "unix: lhasa extracts")
        c.check(tree_files(out) == tree_files(peer, True), "unix: the extractions agree")
        # The times l shows are the ones lhasa gives the files.
        rc, listing, _ = run([LZHSFX, "l", lzh], env=UTC)
        shown = {}
        for line in listing.splitlines():
            parts = line.split(None, 6)
            if len(parts) == 7 and parts[0].isdigit() and parts[3].startswith("-"):
                shown[parts[6].split(" ", 1)[1]] = parts[4] + " " + parts[5].split()[0]
        for rel, stored in zip(tree_files(peer, True), tree_files(peer)):
            mtime = int(os.stat(os.path.join(peer, stored)).st_mtime)
            expected = subprocess.run(["date", "-u", "-d", f"@{mtime}", "+%Y-%m-%d %H:%M:%S"],
                                      capture_output=True, text=True).stdout.strip()
            c.check(shown.get(rel) == expected, f"unix: l shows {rel} at {expected} as lhasa sets it "
                    f"({shown.get(rel)})")

        # ---- directory entries at every level, against lhasa ----------------
        dirs = L.archive(L.level_member(0, "d0/", method=b"-lhd-"),
                         L.level_member(1, "d1/deeper/", method=b"-lhd-"),
                         L.member("d2/", method="d"),
                         L.level_member(3, "d3/", method=b"-lhd-"),
                         L.level_member(1, "d1/deeper/f.txt", b"in a directory\n"))
        lzh = L.write(os.path.join(work, "dirs.lzh"), dirs)
        c.check(extract("lzhsfx", lzh, out) == 0, "directories: lzhsfx x succeeds")
        c.check(extract("lhasa", lzh, peer) == 0, "directories: lhasa extracts")
        made = sorted(os.path.relpath(os.path.join(d, n), out) for d, ns, _ in os.walk(out) for n in ns)
        c.check(made == ["d0", "d1", "d1/deeper", "d2", "d3"], f"directories: all made ({made})")
        c.check(tree_files(out) == tree_files(peer), "directories: the extractions agree")

        # ---- -lz5-'s prefilled window, against lhasa ------------------------------
        # Matches at window positions inside the fixed pattern the window
        # starts with: the runs of each byte value, the rising and falling
        # values, the zeros, the spaces; then literals; then a match into
        # what was just written.
        pairs = [(0x41 * 13, 13), (0x7F * 13 + 5, 10), (3328 + 0x30, 10), (3584 + 3, 12),
                 (3840 + 100, 18), (3968 + 10, 8), (4090, 6)]
        items = [("m", p, n) for p, n in pairs] + [("l", b) for b in b"LArc"] + [("m", 4078, 8)]
        stream, produced = bytearray(), 0
        for start in range(0, len(items), 8):
            group = items[start:start + 8]
            flags = sum(1 << i for i, item in enumerate(group) if item[0] == "l")
            stream.append(flags)
            for item in group:
                if item[0] == "l":
                    stream.append(item[1])
                    produced += 1
                else:
                    _, pos, length = item
                    stream += bytes([pos & 0xFF, ((pos >> 4) & 0xF0) | (length - 3)])
                    produced += length
        # The CRC is unknown until lhasa has decoded it; write it, decode
        # with lhasa (which writes the file whatever the CRC), then store it.
        body = bytes(stream)
        tmp = L.write(os.path.join(work, "lz5.lzh"),
                      L.archive(L.member("pre.bin", b"\0" * produced, method=b"-lz5-", body=body)))
        shutil.rmtree(peer, ignore_errors=True)
        os.makedirs(peer)
        run(["lhasa", "-xq", tmp], cwd=peer, timeout=30)
        with open(os.path.join(peer, "pre.bin"), "rb") as f:
            decoded = f.read()
        c.check(len(decoded) == produced, f"lz5 window: lhasa decoded {len(decoded)} of {produced} bytes")
        c.check(decoded != b"\0" * produced, "lz5 window: lhasa's output is the pattern, not zeros")
        L.write(tmp, L.archive(L.member("pre.bin", decoded, method=b"-lz5-", body=body)))
        c.check(extract("lzhsfx", tmp, out) == 0, "lz5 window: lzhsfx decodes lhasa's bytes, CRC and all")
        c.check(tree_files(out) == {"pre.bin": decoded}, "lz5 window: same bytes as lhasa")

        # ---- -lh3- streams written here, against jlha ------------------------
        # jlha's Java library sends every -lh3- block's position code; these
        # use the fixed one, a sent one, and a block of a single symbol.
        text = files["text.txt"][:40000]
        for tag, body, data in (("fixed position code", lh3_stream(text, True), text),
                                ("sent position code", lh3_stream(text, False), text),
                                ("single symbol", lh3_single(b"q", 300), b"q" * 300)):
            lzh = L.write(os.path.join(work, "lh3.lzh"),
                          L.archive(L.member("x.bin", data, method=b"-lh3-", body=body)))
            for tool in ("jlha", "lzhsfx"):
                dest = os.path.join(work, tool)
                shutil.rmtree(dest, ignore_errors=True)
                os.makedirs(dest)
                cmd = ["jlha", "xq", lzh] if tool == "jlha" else [LZHSFX, "x", lzh, "-y"]
                rc = run(cmd, cwd=dest, timeout=60)[0]
                c.check(rc == 0 and tree_files(dest) == {"x.bin": data}, f"-lh3- {tag}: {tool} decodes it")

        # ---- methods the host does not decode ------------------------------
        mixed = L.archive(L.member("a.txt", b"first\n"),
                          L.level_member(1, "old.bin", b"x" * 10, method=b"-lh9-", body=b"\x12" * 7),
                          L.member("lk.bin", b"y", method=b"-lk7-", body=b"\x34" * 5),
                          L.level_member(0, "b.txt", b"last\n"))
        lzh = L.write(os.path.join(work, "unsupported.lzh"), mixed)
        rc, _, err = run([LZHSFX, "t", lzh])
        c.check(rc == 1, "unsupported: t fails")
        c.check("unsupported method -lh9-" in err and "old.bin" in err, f"unsupported: names -lh9- ({err})")
        c.check("unsupported method -lk7-" in err and "lk.bin" in err, "unsupported: names -lk7-")
        rc, methods = listed_methods(lzh)
        c.check(rc == 0 and methods == ["-lh0-", "-lh9-", "-lk7-", "-lh0-"], f"unsupported: l lists {methods}")
        extract("lzhsfx", lzh, out)
        c.check(tree_files(out) == {"a.txt": b"first\n", "b.txt": b"last\n"},
                "unsupported: the other members are extracted, nothing else")

        # ---- what x restores beyond the data ------------------------------
        # Unix permissions at every level, narrowed by the umask as bsdtar
        # narrows them, set-user-id and set-group-id never; an older level's
        # local time read as this machine's local time.
        stamp = 1592224496  # 2020-06-15 12:34:56 UTC
        cases = [(1, 0o640, 0o022, 0o640), (2, 0o4755, 0o022, 0o755), (3, 0o2444, 0o022, 0o444),
                 (2, 0o666, 0o077, 0o600)]
        for level, stored, umask, expected in cases:
            recs = L.unix_records(mode=stored)
            m = (L.member("perm.txt", b"p\n", os_id=b"U", extra_records=recs) if level == 2 else
                 L.level_member(level, "perm.txt", b"p\n", records=recs))
            lzh = L.write(os.path.join(work, f"perm{level}{umask}.lzh"), L.archive(m))
            dest = os.path.join(work, f"perm{level}{umask}")
            os.makedirs(dest)
            rc = run(["sh", "-c", f'umask {umask:o} && exec "$0" x "$1" -C "$2" -q', LZHSFX, lzh, dest], env=UTC)[0]
            mode = os.stat(os.path.join(dest, "perm.txt")).st_mode & 0o7777 if rc == 0 else None
            c.check(mode == expected, f"level {level}: mode {oct(stored)} under umask {umask:o} restored as "
                    f"{oct(expected)} ({mode and oct(mode)})")
        # Faults: a folder's stored mode never applied, or applied before its
        # contents (a read-only folder would refuse them); its time lost.
        folders = L.archive(L.member("locked/", method="d", os_id=b"U", mtime=stamp + 1,
                                     extra_records=L.unix_records(mode=0o40500)),
                            L.member("locked/in.txt", b"in\n", os_id=b"U"),
                            L.member("private/", method="d", os_id=b"U", mtime=stamp + 3,
                                     extra_records=L.unix_records(mode=0o40700)))
        lzh = L.write(os.path.join(work, "folders.lzh"), folders)
        dest = os.path.join(work, "folders")
        rc, _, err = run([LZHSFX, "x", lzh, "-C", dest])
        got = {d: (os.stat(os.path.join(dest, d)).st_mode & 0o7777, os.stat(os.path.join(dest, d)).st_mtime)
               for d in ("locked", "private") if os.path.isdir(os.path.join(dest, d))}
        c.check(rc == 0 and os.path.isfile(os.path.join(dest, "locked/in.txt")) and
                got == {"locked": (0o500, stamp + 1), "private": (0o700, stamp + 3)},
                f"folders get their modes and times after their contents: {got} {err}")
        # Faults: a Unix time through a two-second DOS time (odd seconds
        # lost, times before 1980 moved to 1980), DOS dates past early 2106
        # read as that moment.
        times = [("an odd second", 2, stamp + 1), ("the last 32-bit second, in 2106", 2, 0xFFFFFFFF),
                 ("1975", 2, 157766400), ("the last DOS second, in 2107", 0, 4354819198)]
        for what, level, when in times:
            m = (L.member("t.txt", b"t\n", os_id=b"U", mtime=when) if level == 2 else
                 L.level_member(level, "t.txt", b"t\n", mtime=when))
            lzh = L.write(os.path.join(work, "time.lzh"), L.archive(m))
            dest = os.path.join(work, f"time{when}")
            rc = run([LZHSFX, "x", lzh, "-C", dest, "-q"], env=UTC)[0]
            got = os.stat(os.path.join(dest, "t.txt")).st_mtime if rc == 0 else None
            c.check(got == when, f"level {level}, {what}: restored as {when} ({got})")
        for zone in ("Asia/Tokyo", "America/New_York"):
            env = {"TZ": zone}
            # The writer stores the fields of its mtime's UTC reading; shifted
            # by the zone's offset, they read as the zone's local time.
            offset = datetime.datetime.fromtimestamp(stamp, zoneinfo.ZoneInfo(zone)).utcoffset()
            local = L.level_member(1, "when.txt", b"w", mtime=stamp + int(offset.total_seconds()))
            lzh = L.write(os.path.join(work, "when.lzh"), L.archive(local))
            dest = os.path.join(work, "when-" + zone.replace("/", "-"))
            os.makedirs(dest)
            rc = run([LZHSFX, "x", lzh, "-C", dest, "-q"], env=env)[0]
            got = os.stat(os.path.join(dest, "when.txt")).st_mtime if rc == 0 else None
            c.check(got == stamp, f"level 1 in {zone}: local time restored as {stamp} ({got})")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    c.done()


main()
