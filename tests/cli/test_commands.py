# lzhsfx l/t/x behaviour on hand-built archives: -lh4- and -lhd- members
# (jlha cannot write -lh4-), self-extractor files, the message member,
# the overwrite policies, read-only members, usage and exit codes.
import atexit
import os
import random
import shutil
import stat
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("commands")
rnd = random.Random(11)



def read(path):
    with open(path, "rb") as f:
        return f.read()


def text_data(n):
    words = [b"window", b"wrap", b"match", b"\n", b" ", b"literal"]
    out = bytearray()
    while len(out) < n:
        out += rnd.choice(words)
    return bytes(out[:n])


def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-commands-")
    atexit.register(shutil.rmtree, tmp, True)
    os.chdir(tmp)

    # --- -lh4- and -lhd-: data that crosses the 4 KiB window many times, so
    # matches wrap around it; a distance near the window's end; directory
    # entries with and without contents.
    far = bytes(rnd.getrandbits(8) for _ in range(4000))
    data_wrap = text_data(40000)
    data_far = far + b"xyz" * 10 + far[:200]     # a match 4030 bytes back
    members = [
        ("d1/", None, "d"),
        ("d1/d2/", None, "d"),
        ("d1/d2/wrap.txt", data_wrap, "4"),
        ("far.bin", data_far, "4"),
        ("tiny.txt", b"ab", "4"),
        ("zero.txt", b"", "0"),
        ("lonely/", None, "d"),
    ]
    arc = write("lh4.lzh", L.archive(*[L.member(n, d or b"", m) for n, d, m in members]))
    # The hand-built archive must be valid for an independent reader first.
    rc, _, _ = run(["lhasa", "t", arc])
    c.check(rc == 0, "lhasa accepts the hand-built -lh4- archive")
    rc, out, err = run([LZHSFX, "x", arc, "-C", "out4"])
    # Fault: -lh4- window size or wrap-around wrong; directories not created.
    c.check(rc == 0, f"x -lh4- archive exits 0 ({rc}) {err}")
    c.check(read("out4/d1/d2/wrap.txt") == data_wrap if os.path.exists("out4/d1/d2/wrap.txt") else False,
            "-lh4- data crossing the window extracts exactly")
    c.check(os.path.exists("out4/far.bin") and read("out4/far.bin") == data_far,
            "-lh4- match reaching nearly a full window back")
    c.check(os.path.isdir("out4/lonely") and os.path.isdir("out4/d1/d2"), "-lhd- entries make directories")
    c.check(os.path.exists("out4/zero.txt") and read("out4/zero.txt") == b"", "empty stored member")
    # Fault: member names not printed as they start.
    c.check("d1/d2/wrap.txt" in out and "far.bin" in out, "x prints member paths")
    c.check(os.stat("out4/far.bin").st_mtime == L.DEFAULT_TIME, "mtime from the header (UTC)")
    rc, out, _ = run([LZHSFX, "l", arc])
    c.check(rc == 0 and " -lh4- " in out and " -lhd- " in out, "l shows -lh4- and -lhd-")
    c.check(f"{L.crc16(data_wrap):04X} d1/d2/wrap.txt" in out, "l shows the data CRC beside the name")
    c.check("2023-11-14 22:13:20" in out, "l shows the time stamp in UTC")

    # --- read-only member: attribute record with an osId that carries it.
    ro = write("ro.lzh", L.archive(L.member("ro.txt", b"locked\n", "5", os_id=b"W", attr_record=0x01),
                                   L.member("unix.txt", b"free\n", "5", os_id=b"U", attr_record=0x01)))
    rc, _, err = run([LZHSFX, "x", ro, "-C", "outro"])
    mode = os.stat("outro/ro.txt").st_mode if os.path.exists("outro/ro.txt") else 0o777
    # Fault: attributes not restored (x must set restoreAttributes).
    c.check(rc == 0 and not mode & stat.S_IWUSR, f"read-only member comes out read-only ({oct(mode)})")
    c.check(os.path.exists("outro/unix.txt") and os.stat("outro/unix.txt").st_mode & stat.S_IWUSR,
            "attribute record of a Unix member is ignored")

    # --- self-extractor files
    payload = L.archive(L.member("inside.txt", b"from the sfx\n", "5"))
    sfx = write("setup.exe", L.stub_sfx(payload, title=b"Demo", command=b"setup.exe /q"))
    rc, out, _ = run([LZHSFX, "l", sfx])
    # Fault: the archive offset of the configuration block ignored.
    c.check(rc == 0 and "inside.txt" in out, "l finds the archive inside an SFX")
    rc, _, _ = run([LZHSFX, "t", sfx])
    c.check(rc == 0, "t on an SFX")
    rc, out, err = run([LZHSFX, "x", sfx, "-C", "outsfx"])
    c.check(rc == 0 and read("outsfx/inside.txt") == b"from the sfx\n", "x on an SFX")
    # Fault: the archive's command started, or silently dropped without a word.
    c.check("setup.exe /q" in err and "not run" in err, "x notes the command it did not run")
    c.check(not os.path.exists("outsfx/setup.exe"), "nothing but the member is written")
    rc, _, err = run([LZHSFX, "l", write("short.exe", b"MZ" + b"\0" * 600)])
    c.check(rc == 1 and "not an LZH archive or self-extracting file" in err,
            "a program too short for the config block is refused")
    bare = bytearray(L.stub_sfx(b""))
    bare[512:516] = b"\0\0\0\0"  # archiveOffset 0: the stub as built, nothing attached
    rc, _, err = run([LZHSFX, "t", write("bare.exe", bytes(bare))])
    c.check(rc == 1 and "no archive" in err, "a bare stub (archive offset 0) is reported")
    rc, _, err = run([LZHSFX, "l", write("beyond.exe", L.stub_sfx(payload, offset=2048)[:2000])])
    c.check(rc == 1 and "beyond the end" in err, "an archive offset past the end is reported")

    # --- message member "!" (of a self-extracting file: elsewhere "!" is a file)
    question = "続けますか？\r\nContinue?".encode("cp932")
    msg = write("msg.exe", L.stub_sfx(L.archive(L.member("!", question, "5"), L.member("m.txt", b"m\n", "0"))))
    rc, out, err = run([LZHSFX, "x", msg, "-C", "outmsg_no"])
    # Fault: question skipped without a terminal, or a decline reported as success.
    c.check(rc == 1 and "続けますか？" in out and "-y" in err, f"no terminal: message shown, taken as No ({rc})")
    c.check(not os.path.exists("outmsg_no/m.txt"), "declined: nothing extracted")
    rc, out, err = run([LZHSFX, "x", msg, "-y", "-C", "outmsg_yes"])
    c.check(rc == 0 and os.path.exists("outmsg_yes/m.txt"), "-y answers the message")
    c.check(not os.path.exists("outmsg_yes/!"), "the message member is never written as a file")
    late = write("late.exe", L.stub_sfx(L.archive(L.member("m.txt", b"m\n", "0"), L.member("!", question, "0"))))
    rc, out, err = run([LZHSFX, "x", late, "-C", "outlate"])
    c.check(rc == 0 and "続けますか" not in out and not os.path.exists("outlate/!"),
            "a message member that is not first asks nothing and is skipped")
    rc, _, _ = run([LZHSFX, "t", msg])
    c.check(rc == 0, "t checks an archive with a message member")

    # --- overwrite policies
    ow = write("ow.lzh", L.archive(L.member("a.txt", b"new a\n", "5"), L.member("b.txt", b"new b\n", "0")))
    def prepare(d):
        os.makedirs(d, exist_ok=True)
        write(f"{d}/a.txt", b"old a\n")
    prepare("ow_ask")
    rc, out, err = run([LZHSFX, "x", ow, "-C", "ow_ask"])
    # Fault: existing files replaced without being asked, or a stop reported as success.
    c.check(rc == 1 and read("ow_ask/a.txt") == b"old a\n" and "--overwrite" in err,
            f"ask without a terminal stops and keeps the file ({rc})")
    c.check(not os.path.exists("ow_ask/b.txt"), "ask without a terminal: cancel stops the run")
    prepare("ow_never")
    rc, _, _ = run([LZHSFX, "x", ow, "-C", "ow_never", "--overwrite=never"])
    c.check(rc == 0 and read("ow_never/a.txt") == b"old a\n" and read("ow_never/b.txt") == b"new b\n",
            "--overwrite=never keeps the file and goes on")
    prepare("ow_always")
    rc, _, _ = run([LZHSFX, "x", ow, "-C", "ow_always", "--overwrite=always"])
    c.check(rc == 0 and read("ow_always/a.txt") == b"new a\n", "--overwrite=always replaces")
    prepare("ow_bare")
    rc, _, _ = run([LZHSFX, "x", ow, "-C", "ow_bare", "--overwrite"])
    # Fault: --overwrite alone meaning something else in x than in create.
    c.check(rc == 0 and read("ow_bare/a.txt") == b"new a\n", "--overwrite alone replaces")
    lf = write("lf.lzh", L.archive(L.member("l\nf.txt", b"new\n", "0")))
    os.makedirs("ow_lf")
    write("ow_lf/l\nf.txt", b"old\n")
    rc, out = L.run_tty([LZHSFX, "x", lf, "-C", "ow_lf"], b"n\n")
    # Fault: a line break in a path forging a line of the overwrite question.
    c.check("l\\x0af.txt\" 上書きしますか？ [y]es" in out, f"the question escapes the path: {out!r}")
    prepare("ow_yes")
    rc, _, _ = run([LZHSFX, "x", ow, "-C", "ow_yes", "-y"])
    c.check(rc == 0 and read("ow_yes/a.txt") == b"new a\n", "-y answers the overwrite question")
    prepare("ow_stdin")
    rc, _, _ = run([LZHSFX, "x", ow, "-C", "ow_stdin"], stdin=open(write("answers", b"n\n"), "rb"))
    c.check(rc == 1 and read("ow_stdin/a.txt") == b"old a\n", "piped answers are not taken for a terminal")
    # Fault: terminal answers ignored or mapped to the wrong action.
    for answer, code, content in ((b"y\n", 0, b"new a\n"), (b"n\n", 0, b"old a\n"), (b"c\n", 1, b"old a\n")):
        d = "ow_tty_" + answer[:1].decode()
        prepare(d)
        rc, out = L.run_tty([LZHSFX, "x", ow, "-C", d], answer)
        c.check(rc == code and read(f"{d}/a.txt") == content and "[y]es/[n]o/[c]ancel?" in out,
                f"terminal answer {answer!r}: rc={rc}")
        c.check((code == 0) == os.path.exists(f"{d}/b.txt"), f"terminal answer {answer!r}: next member")
    for answer, code in ((b"y\n", 0), (b"n\n", 1)):
        d = "msg_tty_" + answer[:1].decode()
        rc, out = L.run_tty([LZHSFX, "x", msg, "-C", d], answer)
        c.check(rc == code and (code == 0) == os.path.exists(f"{d}/m.txt") and "続けますか" in out,
                f"message question answered {answer!r} on a terminal: rc={rc}")
    rc, _, _ = run([LZHSFX, "x", ro, "-C", "outro", "--overwrite=always"])
    c.check(rc == 0 and read("outro/ro.txt") == b"locked\n", "a read-only file is replaced on request")

    # --- usage and exit codes
    for args, code, why in [
        ([], 2, "no command"),
        (["l"], 2, "no archive"),
        (["x", arc, "--bogus"], 2, "unknown option"),
        (["x", arc, "--overwrite=maybe"], 2, "bad overwrite value"),
        (["x", arc, "-C"], 2, "-C without a directory"),
        (["t", "does-not-exist.lzh"], 2, "missing file"),
        (["l", tmp], 2, "a directory instead of a file"),
        (["t", arc, "--names=latin1"], 2, "an unknown --names value"),
    ]:
        rc, _, _ = run([LZHSFX] + args)
        # Fault: usage errors reported as success or as a bad archive.
        c.check(rc == code, f"{why}: exit {code}, got {rc}")
    rc, out, _ = run([LZHSFX, "--help"])
    c.check(rc == 0 and "Exit codes" in out, "--help exits 0 with the exit codes")
    rc, out, _ = run([LZHSFX, "x", "--help"])
    for word in ("-C DIR", "-y", "--overwrite=ask", "--overwrite=always", "--overwrite=never",
                 "--allow-unsafe-paths", "Exit codes"):
        c.check(rc == 0 and word in out, f"x --help describes {word}")
    for cmd in ("l", "t"):
        rc, out, _ = run([LZHSFX, cmd, "--help"])
        c.check(rc == 0 and "Exit codes" in out, f"{cmd} --help")
    rc, out, err = run([LZHSFX, "l", write("empty.lzh", b"")])
    c.check(rc == 1 and "'empty.lzh': not an LZH archive or self-extracting file" in err,
            "an empty file is no archive")
    rc, out, _ = run([LZHSFX, "t", write("end.lzh", b"\0\0")])
    c.check(rc == 0, "a zero length field ends the archive")
    c.done()


main()
