# lzhsfx as an everyday reader: UTF-8 names from Unix and macOS writers at
# every header level (cross-checked against 7z's listing and the names lhasa
# extracts), the --names override, members picked by name and pattern for
# l, t, x and p, p's output, the archive on standard input, the long
# listing, local and UTC times, and --version.
import atexit
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("everyday")
UTC = {"TZ": "UTC"}

# (stored name bytes, OS id, how the name must come out under auto)
NAMES = [
    ("Über/naïve café.txt".encode(), b"U", "utf-8"),   # no CP932 form: carried as UTF-8
    ("日本/ﾃｽﾄ～.txt".encode(), b"U", "utf-8"),         # has a CP932 form
    ("é".encode(), b"m", "utf-8"),                       # also valid CP932 (two kana)
    ("Ü".encode(), b"M", "utf-8"),                       # ends in a CP932 lead byte
    ("한국어.txt".encode(), b"U", "utf-8"),
    ("日本語.txt".encode("cp932"), b"M", "cp932"),
    ("ﾃｽﾄ".encode("cp932"), b"U", "cp932"),             # Unix writer, but no UTF-8
    ("ab:c.txt".encode(), b"U", "utf-8"),
]


def member_at(level, name, data, os_id):
    if level == 2:
        return L.member(name, data, "5", os_id=os_id)
    return L.level_member(level, name, data, os_id=os_id)




def files_under(top):
    out = {}
    for root, _, files in os.walk(top):
        for f in files:
            p = os.path.join(root, f)
            with open(p, "rb") as h:
                out[os.path.relpath(p, top)] = h.read()
    return out


def check_names(tmp):
    for level in (0, 1, 2, 3):
        members = [(n, b"data %d " % i + n, o, how) for i, (n, o, how) in enumerate(NAMES)]
        if level == 0:  # level 0 has no OS id of its own: Unix only by its extension
            members = [m for m in members if m[2] == b"M" or m[3] == "cp932"]
        arc = write(os.path.join(tmp, f"names{level}.lzh"),
                    L.archive(*[member_at(level, n, d, o) for n, d, o, _ in members]))
        want = {n.decode(how): d for n, d, _, how in members}
        rc, out, err = run([LZHSFX, "l", "-q", arc], env=UTC)
        c.check(rc == 0, f"level {level}: l exits 0 ({err})")
        for name in want:
            c.check(name in out, f"level {level}: l shows {name!r}")
        rc, out, err = run([LZHSFX, "t", arc])
        c.check(rc == 0 and "tested, all intact" in out, f"level {level}: t passes ({err})")
        dest = os.path.join(tmp, f"x{level}")
        rc, _, err = run([LZHSFX, "x", arc, "-C", dest])
        c.check(rc == 0, f"level {level}: x exits 0 ({err})")
        got = files_under(dest)
        # As stored: ':' is a name byte here, whatever Windows makes of it.
        c.check(got == want,
                f"level {level}: x writes every member under its name: {sorted(got)}")
        # The peers: 7z's listing and the bytes lhasa writes, for the UTF-8 names.
        if level == 2:
            p = subprocess.run(["7z", "l", "-slt", arc], capture_output=True, timeout=30)
            paths = set(re.findall(r"^Path = (.*)$", p.stdout.decode("utf-8", "replace"), re.M))
            for n, _, _, how in members:
                if how == "utf-8":
                    c.check(n.decode() in paths, f"7z agrees on {n.decode()!r}")
            peer = os.path.join(tmp, "lhasa2")
            os.mkdir(peer)
            subprocess.run(["lhasa", "xq", arc], cwd=peer, capture_output=True, timeout=30)
            for n, d, _, how in members:
                if how == "utf-8" and b":" not in n:
                    c.check(os.path.isfile(os.path.join(peer.encode(), n)),
                            f"lhasa writes {n.decode()!r} as we do")
    # --names overrides the rule both ways.
    arc = os.path.join(tmp, "names2.lzh")
    for option, name, how in [("--names=cp932", "é".encode(), "cp932"),
                              ("--names=utf-8", "日本語.txt".encode("cp932"), "cp932"),
                              ("--names=utf-8", "Über/naïve café.txt".encode(), "utf-8")]:
        rc, out, _ = run([LZHSFX, "l", "-q", option, arc], env=UTC)
        c.check(rc == 0 and name.decode(how) in out, f"{option}: {name!r} read as {how}")
    rc, _, err = run([LZHSFX, "l", "--names=latin1", arc])
    c.check(rc == 2 and "--names" in err, "an unknown --names value is a usage error")


def check_selection(tmp):
    data = {"docs/a.txt": b"A" * 300, "docs/sub/b.txt": b"B" * 10, "src/main.c": b"int main;",
            "README": b"read me\n"}
    bad = L.member("bad.bin", b"x" * 100, "0", crc=0x1234)
    arc = write(os.path.join(tmp, "sel.lzh"),
                L.archive(*[L.member(n, d, "5") for n, d in data.items()], bad))
    # (command, patterns, exit code, members it must name or write)
    CASES = [
        ("x", ["docs/*"], 0, {"docs/a.txt", "docs/sub/b.txt"}),
        ("x", ["docs"], 0, {"docs/a.txt", "docs/sub/b.txt"}),
        ("x", ["README", "src/*.c"], 0, {"README", "src/main.c"}),
        ("x", ["README", "nothing*"], 1, {"README"}),
        ("t", ["*.txt"], 0, {"docs/a.txt", "docs/sub/b.txt"}),
        ("t", ["bad.bin"], 1, {"bad.bin"}),
        ("l", ["src/*", "README"], 0, {"src/main.c", "README"}),
        ("l", ["nothing"], 1, set()),
    ]
    for i, (cmd, pats, code, names) in enumerate(CASES):
        dest = os.path.join(tmp, f"sel{i}")
        args = [LZHSFX, cmd, "-q", arc] + pats + (["-C", dest] if cmd == "x" else [])
        rc, out, err = run(args, env=UTC)
        c.check(rc == code, f"{cmd} {pats}: exit {code}, got {rc} ({err.strip()})")
        if cmd == "x":
            got = set(files_under(dest))
            c.check(got == names, f"x {pats} writes {sorted(names)}, got {sorted(got)}")
            for n in names:
                c.check(files_under(dest)[n] == data[n], f"x {pats}: {n} intact")
        else:
            listed = {n for n in list(data) + ["bad.bin"] if re.search(rf"(^| ){re.escape(n)}$", out, re.M)}
            c.check(listed == names, f"{cmd} {pats} names {sorted(names)}, got {sorted(listed)}")
        if "nothing" in " ".join(pats):
            c.check("no member matches" in err, f"{cmd} {pats}: the unmatched name is reported")

    # p: the bytes, in archive order, and nothing else on stdout.
    for pats, want in [(["README"], data["README"]),
                       (["docs/*"], data["docs/a.txt"] + data["docs/sub/b.txt"]),
                       ([], b"".join(data.values()) + b"x" * 100)]:
        p = subprocess.run([LZHSFX, "p", arc] + pats, capture_output=True, timeout=10)
        c.check(p.stdout == want, f"p {pats} writes exactly the members' bytes")
        c.check(p.returncode == (1 if not pats else 0), f"p {pats}: exit code {p.returncode}")
    with open("/dev/full", "wb") as full:
        p = subprocess.run([LZHSFX, "p", arc, "docs/a.txt"], stdout=full, stderr=subprocess.PIPE,
                           timeout=10)
    c.check(p.returncode == 2 and b"No space" in p.stderr, f"p to a full device fails: {p.stderr!r}")


def check_stdin(tmp):
    arc = L.archive(L.member("one.txt", b"1" * 50, "5"), L.member("two/2.txt", b"22", "0"))
    spool = os.path.join(tmp, "spool")
    os.mkdir(spool)
    env = {"TMPDIR": spool, "TZ": "UTC"}
    for cmd, extra, code, seen in [("l", [], 0, "two/2.txt"), ("t", [], 0, "all intact"),
                                   ("x", ["-C", os.path.join(tmp, "fromstdin")], 0, "one.txt"),
                                   ("p", ["one.txt"], 0, "1" * 50)]:
        p = subprocess.run([LZHSFX, cmd, "-"] + extra, input=arc, capture_output=True, timeout=10,
                           env=dict(os.environ, **env))
        c.check(p.returncode == code and seen in p.stdout.decode(), f"{cmd} - reads stdin ({p.stderr!r})")
        c.check(os.listdir(spool) == [], f"{cmd} -: no spool file left")
    c.check(files_under(os.path.join(tmp, "fromstdin")) == {"one.txt": b"1" * 50, "two/2.txt": b"22"},
            "x - extracts from stdin")
    # Fault: an empty standard input named by its spool's descriptor path.
    for junk in (b"not an archive at all", b""):
        p = subprocess.run([LZHSFX, "l", "-"], input=junk, capture_output=True,
                           timeout=10, env=dict(os.environ, **env))
        c.check(p.returncode == 1 and b"standard input" in p.stderr and b"/proc/" not in p.stderr,
                f"{len(junk)} bytes of junk on stdin: exit 1, named ({p.stderr!r})")


def check_listing(tmp):
    mode = 0o100640
    arc = write(os.path.join(tmp, "long.lzh"), L.archive(
        L.member("u.txt", b"unix" * 20, "5", os_id=b"U",
                 extra_records=L.unix_records(mode=mode, uid=1001, gid=50, user=b"alice", group=b"staff")),
        L.level_member(1, "dos.txt", b"dos", os_id=b"M"),
        L.level_member(3, "ids.txt", b"ids", os_id=b"U", records=L.unix_records(uid=7, gid=8))))
    for args in (["v", arc], ["l", "-v", arc]):
        rc, out, _ = run([LZHSFX] + args, env=UTC)
        rows = {line.split()[-1]: line for line in out.splitlines() if line.startswith("-l")}
        c.check(rc == 0 and set(rows) == {"u.txt", "dos.txt", "ids.txt"}, f"{args[0]}: every member")
        u = rows.get("u.txt", "")
        c.check(stat.filemode(mode) in u and "alice/staff" in u and " Unix " in u and " 2 " in u,
                f"{args[0]}: mode, owner, OS and level of u.txt: {u!r}")
        c.check("%04X" % L.crc16(b"unix" * 20) in u and "-lh5-" in u, f"{args[0]}: CRC and method")
        c.check(" MS-DOS " in rows.get("dos.txt", "") and " 1 " in rows.get("dos.txt", ""),
                f"{args[0]}: level 1, MS-DOS")
        c.check("7/8" in rows.get("ids.txt", "") and " 3 " in rows.get("ids.txt", ""),
                f"{args[0]}: numeric owner at level 3")
        # Fault: the total line's sizes under the wrong columns.
        lines = out.splitlines()
        ends = [lines[0].index(h) + len(h) for h in ("Packed", "Original")]
        sums = [sum(int(r.split()[k]) for r in rows.values()) for k in (1, 2)]
        total = lines[-1]
        c.check([total[:e].split()[-1] for e in ends] == [str(n) for n in sums],
                f"{args[0]}: totals in their columns: {total!r}")
    # Times: local by default, UTC on request, as Python's own conversion says.
    for zone in ("Asia/Tokyo", "America/New_York"):
        os.environ["TZ"] = zone
        time.tzset()
        local = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(L.DEFAULT_TIME))
        rc, out, _ = run([LZHSFX, "l", arc], env={"TZ": zone})
        c.check(local in out, f"l shows local time in {zone}: {local}")
        rc, out, _ = run([LZHSFX, "l", "--utc", arc], env={"TZ": zone})
        utc = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(L.DEFAULT_TIME))
        c.check(utc in out and local not in out and "(UTC)" in out, f"l --utc in {zone}: {utc}")


def check_version_and_help():
    src = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")
    with open(src) as f:
        version = re.search(r"project\(lzhsfx VERSION (\S+)", f.read()).group(1)
    rc, out, _ = run([LZHSFX, "--version"])
    c.check(rc == 0 and out == f"lzhsfx {version}\n", f"--version: {out!r}")
    rc, out, _ = run([LZHSFX, "--help"])
    for word in (" p ARCHIVE", " v ARCHIVE", "--names", "--version"):
        c.check(word in out, f"--help mentions {word}")
    for cmd, words in [("l", ["-v", "--utc", "--names"]), ("p", ["standard"]), ("x", ["NAME", "--names"]),
                       ("t", ["NAME", "--names"]), ("v", ["l -v"])]:
        rc, out, _ = run([LZHSFX, cmd, "--help"])
        for w in words:
            c.check(rc == 0 and w in out, f"{cmd} --help mentions {w}")


def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-everyday-")
    atexit.register(shutil.rmtree, tmp, True)
    check_names(tmp)
    check_selection(tmp)
    check_stdin(tmp)
    check_listing(tmp)
    check_version_and_help()
    c.done()


main()
