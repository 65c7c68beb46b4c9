# Names are shown, never obeyed: every command that prints a name from an
# archive, the file system or the command line shows control bytes, DEL and
# line-breaking characters escaped (\xHH), so a hostile name can neither
# drive the terminal (clear it, set its title) nor forge a line of output;
# the extracted file still has its real name.
import atexit
import os
import re
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("names")

# (stored name, what its escaped form must show)
HOSTILE = [
    (b"clear\x1b[2J\x1b]0;owned\x07.txt", r"clear\x1b[2J\x1b]0;owned\x07.txt"),
    (b"forged\nlzhsfx: 0 members failed.txt", r"forged\x0alzhsfx: 0 members failed.txt"),
    (b"back\rspace\x7f.txt", r"back\x0dspace\x7f.txt"),
]
# Bytes no printed line may hold: C0 controls but the line end, DEL, and the
# UTF-8 forms of the C1 controls and of the invisible line breakers.
RAW = re.compile("[\x00-\x09\x0b-\x1f\x7f\u0080-\u009f\u2028\u2029\u202a-\u202e]")


def clean(text, what):
    bad = RAW.search(text)
    return c.check(bad is None, f"{what}: a raw control character {bad.group() if bad else ''!r} printed")


def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-names-")
    atexit.register(shutil.rmtree, tmp, True)
    os.chdir(tmp)
    arc = write("hostile.lzh", L.archive(*[L.member(n, b"data " + n, "5") for n, _ in HOSTILE],
                                         L.member("bad-crc.txt", b"x" * 100, "5", crc=1)))
    stub = write("stub.exe", L.fake_stub())
    sfx = write("hostile.exe", L.stub_sfx(L.archive(*[L.member(n, b"d") for n, _ in HOSTILE]),
                                          title=b"t\x1b[5m", command=b"run\x1b]0;x\x07.exe"))
    os.makedirs("src")
    for n, _ in HOSTILE:
        write(os.path.join("src", n.decode()), b"src\n")

    # Fault: a command prints a name raw. Every command that shows names.
    cases = [
        ("l", [LZHSFX, "l", arc], [e for _, e in HOSTILE]),
        ("t", [LZHSFX, "t", arc], [e for _, e in HOSTILE]),
        # x shows where a member lands: under its name as stored.
        ("x", [LZHSFX, "x", arc, "-C", "out"], [e for _, e in HOSTILE]),
        ("info", [LZHSFX, "info", sfx], [r"t\x1b[5m", r"run\x1b]0;x\x07.exe"] + [e for _, e in HOSTILE]),
        ("x of an sfx (its command)", [LZHSFX, "x", sfx, "-C", "outsfx"], [r"run\x1b]0;x\x07.exe"]),
        ("a (a file it cannot store)", [LZHSFX, "a", "new.lzh", "src", "missing\x1b[2J"], [r"missing\x1b[2J"]),
        ("create (same)", [LZHSFX, "create", "new.exe", "src", "missing\x1b[2J", "--stub", stub],
         [r"missing\x1b[2J"]),
        ("d (a name it does not find)", [LZHSFX, "d", arc, "gone\x1b[2J"], [r"gone\x1b[2J"]),
        ("an archive that cannot be opened", [LZHSFX, "t", "nothing\x1b[2J.lzh"], [r"nothing\x1b[2J.lzh"]),
    ]
    for what, cmd, shown in cases:
        rc, out, err = run(cmd)
        text = out + err
        if clean(text, what):
            for s in shown:
                c.check(s in text, f"{what}: shows {s}")
    # Fault: the forged line passes for lzhsfx's own output.
    rc, out, err = run([LZHSFX, "t", arc])
    c.check(not any(line.startswith("lzhsfx: 0 members") for line in (out + err).splitlines()),
            "a newline in a name cannot start a line of its own")
    rc, out, err = run([LZHSFX, "d", arc, HOSTILE[0][0].decode()])
    c.check(rc == 0 and clean(out + err, "d (what it deleted)") and HOSTILE[0][1] in out,
            "d prints the escaped name of what it deleted")

    # Fault: escaping leaks into the file system.
    made = sorted(os.listdir("out"))
    c.check(made == sorted(n.decode() for n, _ in HOSTILE), f"x writes the real names: {made}")
    c.done()


main()
