# Cross-checks lzhsfx against the peers on archives jlha makes at test time
# (-lh5-, -lh6-, -lh7- and stored, level-2 headers, CP932 names): extraction
# byte for byte against the source tree, lhasa and 7z; modification times;
# and the listing against lhasa's and 7z's.
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lzhtool import Checker, run, write_tree  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
JAPANESE = "日本語のファイル.txt"
BASE_TIME = 1600000000  # even, so the 2-second DOS time keeps it exactly
METHODS = {"o5": "-lh5-", "o6": "-lh6-", "o7": "-lh7-", "z": "-lh0-"}
JA_ENV = {"LC_ALL": "ja_JP.UTF-8", "LANG": "ja_JP.UTF-8"}

c = Checker("peers")


def make_tree(root):
    rnd = random.Random(7)
    words = [b"lorem", b"ipsum", b"dolor", b"sit", b"amet", b"\n", b" ", b"0123456789"]

    def mixed(n):
        # compressible but not trivial: words with random bytes sprinkled in
        out = bytearray()
        while len(out) < n:
            out += rnd.choice(words) if rnd.random() < 0.9 else bytes([rnd.getrandbits(8)])
        return bytes(out[:n])

    files = {
        "empty.bin": b"",
        "one.bin": b"\x7f",
        "repetitive.txt": b"the same line over and over again\n" * 9000,  # ~300 KB
        "random.bin": bytes(rnd.getrandbits(8) for _ in range(300000)),
        "with space.txt": b"a name with spaces\n",
        JAPANESE: "日本語の内容\n".encode("utf-8") * 50,
        "nested/deeper/deepest/leaf.txt": mixed(5000),
    }
    for size in (4095, 4096, 4097, 8191, 8192, 8193, 32768, 65536, 65537):
        files[f"sizes/s{size}.bin"] = mixed(size)
    write_tree(root, files, BASE_TIME)
    os.makedirs(os.path.join(root, "empty dir"))
    return files


def tree_files(root):
    """Relative path -> bytes for every regular file; set of directories."""
    files, dirs = {}, set()
    for dirpath, dirnames, filenames in os.walk(root):
        for d in dirnames:
            dirs.add(os.path.relpath(os.path.join(dirpath, d), root))
        for f in filenames:
            p = os.path.join(dirpath, f)
            with open(p, "rb") as fh:
                files[os.path.relpath(p, root)] = fh.read()
    return files, dirs


def lhasa_listing(path):
    """name -> (packed, size, method, crc) from 'lhasa v' (ASCII names only)."""
    rc, out, _ = run(["lhasa", "v", path])
    rows = {}
    for line in out.splitlines():
        m = re.match(r"^\S+\s+(\d+)\s+(\d+)\s+\S+\s+(-lh.-)\s+([0-9a-f]{4})\s+\w+\s+\d+\s+\S+\s+(.*)$",
                     line)
        # lhasa prints '?' for every non-ASCII byte; those names are checked via 7z.
        if m and not m.group(5).endswith("/") and "?" not in m.group(5):
            rows[m.group(5)] = (int(m.group(1)), int(m.group(2)), m.group(3), int(m.group(4), 16))
    return rows


def sevenzip_listing(path):
    """name -> (packed, size, method, crc) from '7z l -slt', names decoded as CP932."""
    p = subprocess.run(["7z", "l", "-slt", path], capture_output=True, timeout=30)
    rows, cur = {}, {}
    for raw in p.stdout.split(b"\n") + [b""]:
        raw = raw.rstrip(b"\r")
        if not raw:
            if "Path" in cur and cur.get("Folder") != "+" and "CRC" in cur:
                rows[cur["Path"]] = (int(cur["Packed Size"]), int(cur["Size"]), cur["Method"],
                                     int(cur["CRC"], 16))
            cur = {}
            continue
        if b" = " in raw:
            k, v = raw.split(b" = ", 1)
            cur[k.decode()] = v.decode("cp932", "replace")
    return rows


def our_listing(path):
    rc, out, err = run([LZHSFX, "l", path])
    rows = {}
    for line in out.splitlines():
        parts = line.split(None, 7)
        if len(parts) == 8 and parts[3].startswith("-lh") and parts[0].isdigit():
            if not parts[7].endswith("/"):
                rows[parts[7]] = (int(parts[1]), int(parts[0]), parts[3], int(parts[6], 16))
    return rc, rows, out


def main():
    with tempfile.TemporaryDirectory(prefix="lzhsfx-peers-") as tmp:
        src = os.path.join(tmp, "src")
        os.makedirs(src)
        source = make_tree(src)
        src_files, src_dirs = tree_files(src)
        entries = sorted(os.listdir(src))
        for opt, method in METHODS.items():
            arc = os.path.join(tmp, f"tree_{opt}.lzh")
            rc, _, err = run(["jlha", f"a2{opt}q", arc] + entries, cwd=src, env=JA_ENV, timeout=120)
            if not c.check(rc == 0 and os.path.exists(arc), f"jlha {opt} packs the tree: {err}"):
                continue
            with open(arc, "rb") as f:
                raw = f.read()
            # jlha must have written level-2 headers, or nothing below means anything.
            c.check(raw[20] == 2, f"{opt}: jlha wrote a level-2 header")
            c.check(JAPANESE.encode("cp932") in raw, f"{opt}: jlha stored the Japanese name as CP932")

            # Fault: a decoder or driver bug the engine's own tests share with it.
            rc, out, err = run([LZHSFX, "t", arc], timeout=60)
            c.check(rc == 0, f"{opt}: lzhsfx t passes a peer-made archive (rc={rc}) {err}")

            ours = os.path.join(tmp, f"ours_{opt}")
            rc, out, err = run([LZHSFX, "x", arc, "-C", ours], timeout=60)
            c.check(rc == 0, f"{opt}: lzhsfx x exits 0 (rc={rc}) {err}")
            got_files, got_dirs = tree_files(ours)
            # Fault: lost, extra or corrupted files; wrong name conversion.
            c.check(set(got_files) == set(src_files),
                    f"{opt}: same file names as the source: {set(got_files) ^ set(src_files)}")
            for name, data in src_files.items():
                c.check(got_files.get(name) == data, f"{opt}: {name} is byte-identical")
            # Fault: empty or nested directories not created.
            c.check(src_dirs <= got_dirs, f"{opt}: directories {src_dirs - got_dirs} missing")
            # Fault: time stamps taken as local time, or not set at all.
            for name in src_files:
                p = os.path.join(ours, name)
                if os.path.exists(p):
                    delta = os.stat(p).st_mtime - os.stat(os.path.join(src, name)).st_mtime
                    c.check(abs(delta) < 2, f"{opt}: {name} mtime off by {delta:.0f}s")
            if opt == "o5":
                # Fault: method not what the peer wrote (would make the run above meaningless).
                c.check(f" {method} " in run([LZHSFX, "l", arc])[1], f"{opt}: archive uses {method}")

            for peer, cmd in (("lhasa", ["lhasa"]), ("7z", ["7z", "x", "-y", "-bd"])):
                pdir = os.path.join(tmp, f"{peer}_{opt}")
                os.makedirs(pdir)
                if peer == "lhasa":
                    prc = subprocess.run(cmd + [f"xqfw={pdir}", arc], capture_output=True, timeout=60).returncode
                else:
                    prc = subprocess.run(cmd + [f"-o{pdir}", arc], capture_output=True, timeout=60).returncode
                peer_files, _ = tree_files(pdir)
                # Fault: output that differs from an independent decoder's.
                for name, data in peer_files.items():
                    if name in got_files:
                        c.check(got_files[name] == data, f"{opt}: {name} matches {peer}")
                ascii_names = [n for n in src_files if n.isascii()]
                c.check(prc == 0 and all(n in peer_files for n in ascii_names),
                        f"{opt}: {peer} extracted the tree too (rc={prc})")

            # Fault: listing shows wrong sizes, CRCs, methods or names.
            rc, rows, out = our_listing(arc)
            c.check(rc == 0, f"{opt}: lzhsfx l exits 0")
            for name, row in lhasa_listing(arc).items():
                c.check(rows.get(name) == row, f"{opt}: l row for {name}: ours {rows.get(name)} lhasa {row}")
            seven = sevenzip_listing(arc)
            c.check(len(seven) == len(src_files), f"{opt}: 7z lists every file")
            for name, row in seven.items():
                c.check(rows.get(name) == row, f"{opt}: l row for {name}: ours {rows.get(name)} 7z {row}")
            c.check(JAPANESE in rows, f"{opt}: the Japanese name is listed in UTF-8")
            total = [l for l in out.splitlines() if "file" in l and "director" in l]
            # Fault: totals that do not add up.
            c.check(bool(total) and total[-1].split()[0] == str(sum(len(d) for d in src_files.values())),
                    f"{opt}: total original size in the last line")
    c.done()


main()
