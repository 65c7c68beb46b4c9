# Names as stored and members reachable by the name l shows. x writes each
# name as stored (in UTF-8) whatever the file system's name limit: no short
# names, no Windows characters replaced; a name part the file system cannot
# take, or a member landing on a file this run wrote, is refused (exit 1),
# never cut or written over. d, a's replacement and the NAME patterns find
# members by their shown name in either encoding; "!" is the message member
# only in a self-extracting file. The file systems whose limit is not 255
# (vfat and exFAT 1530, eCryptfs 143) are stood in for by a preloaded
# pathconf (namelimit.cpp, the second argument).
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
SHIM = os.path.abspath(sys.argv[2])
c = Checker("stored")
LONG = "n" * 255  # the longest part ext4 takes


def fs_limit(limit):
    return {"LD_PRELOAD": SHIM, "LZHSFX_TEST_NAME_MAX": str(limit)} if limit else {}


def files_under(top):
    out = {}
    for d, _, fs in os.walk(top):
        for f in fs:
            with open(os.path.join(d, f), "rb") as h:
                out[os.path.relpath(os.path.join(d, f), top)] = h.read()
    return out


def u(name, data, level=2):
    """A member with a UTF-8 name, as Unix writers store it."""
    if level == 2:
        return L.member(name.encode(), data, "5", os_id=b"U")
    return L.level_member(level, name.encode(), data, unix0=(0o100644, 0, 0) if level == 0 else None)


def extraction():
    # (fault caught, members, file-system name limit (0: the real one),
    #  files expected, exit code, words of the refusal)
    cases = [
        ("vfat: names in 8.3 form, one of two lost", [L.member("Long File Name.txt", b"1"),
                                                      L.member("Long File Other.txt", b"2")], 1530,
         {"Long File Name.txt": b"1", "Long File Other.txt": b"2"}, 0, None),
        # The limit in bytes lets through what the file system then refuses.
        ("vfat: a name the file system refuses after all taken for an I/O failure",
         [L.member("f" * 252 + ".txt", b"long"), L.member("short.txt", b"s")], 1530,
         {"short.txt": b"s"}, 1, "File name too long"),
        ("eCryptfs: a name part longer than 143 bytes cut or turned 8.3",
         [L.member("d/" + "e" * 200 + ".txt", b"long"), L.member("short.txt", b"s")], 143,
         {"short.txt": b"s"}, 1, "this file system takes names of at most 143"),
        ("names differing after byte 255 written to one file", [L.member(LONG + "1", b"1"),
                                                                L.member(LONG + "2", b"2")], 0,
         {}, 1, "takes names of at most 255"),
        ("'?' and '*' made '_', so two names became one", [L.member("a?.txt", b"q"), L.member("a*.txt", b"s")],
         0, {"a?.txt": b"q", "a*.txt": b"s"}, 0, None),
        ("a second member of one name written over the first", [L.member("dup.txt", b"first"),
                                                                 L.member("dup.txt", b"second")], 0,
         {"dup.txt": b"first"}, 1, "an earlier member of this archive was written to"),
        ("two spellings of one path written to one file", [L.member("d/f.txt", b"first"),
                                                           L.level_member(0, "d\\\\f.txt", b"second")], 0,
         {"d/f.txt": b"first"}, 1, "an earlier member of this archive was written to"),
        # 字 ends in 0x97, which a CP932 reading takes for a lead byte, so the
        # 0xFF behind it was no separator and the name no UTF-8.
        ("a UTF-8 folder name broken at its separator", [u("字/f.txt", b"f"), u("Ā/g.txt", b"g")], 0,
         {"字/f.txt": b"f", "Ā/g.txt": b"g"}, 0, None),
    ]
    for i, (fault, members, limit, want, code, words) in enumerate(cases):
        arc = write(f"x{i}.lzh", L.archive(*members))
        rc, out, err = run([LZHSFX, "x", arc, "-C", f"out{i}", "--overwrite=always"], env=fs_limit(limit))
        got = files_under(f"out{i}")
        c.check(rc == code and got == want and (words is None or words in err),
                f"x: {fault}: rc={rc} {sorted(got)} {err.strip()[-200:]!r}")
    # The listing shows what x writes.
    rc, out, _ = run([LZHSFX, "l", "x7.lzh", "字/*"])
    c.check(rc == 0 and "字/f.txt" in out, f"l selects the UTF-8 folder by its shown name: {out!r}")


def reachable():
    # Fault: d cannot find a member with a UTF-8 name, nor take a pattern.
    arc = write("utf8.lzh", L.archive(u("Über.txt", b"old"), u("naïve/b.txt", b"b"), L.member("plain.c", b"c")))
    rc, out, err = run([LZHSFX, "d", arc, "Über.txt"])
    _, listing, _ = run([LZHSFX, "l", arc])
    c.check(rc == 0 and "Über.txt" in out and "Über.txt" not in listing and "plain.c" in listing,
            f"d deletes a member by its UTF-8 name: {rc} {err!r}")
    rc, out, err = run([LZHSFX, "d", arc, "*.txt"])
    _, listing, _ = run([LZHSFX, "l", arc])
    c.check(rc == 0 and "naïve/b.txt" in out and "plain.c" in listing and "b.txt" not in listing,
            f"d takes a pattern: {rc} {err!r}")
    # Fault: a adds a second copy of a member a Unix writer stored in UTF-8
    # (a stores the CP932 form of the name).
    arc = write("replace.lzh", L.archive(u("日本語.txt", b"old")))
    write("日本語.txt", b"new contents")
    rc, _, err = run([LZHSFX, "a", arc, "日本語.txt"])
    rc2, out, _ = run([LZHSFX, "p", arc])
    _, listing, _ = run([LZHSFX, "l", "-q", arc])
    c.check(rc == 0 and rc2 == 0 and out == "new contents" and listing.count("日本語.txt") == 1,
            f"a replaces the member stored under a UTF-8 name: {rc} {out!r} {listing!r} {err!r}")
    # Fault: "!" is taken for the message member outside a self-extracting file.
    plain = write("bang.lzh", L.archive(L.member("!", b"not a question\n"), L.member("f.txt", b"f\n")))
    rc, out, _ = run([LZHSFX, "t", plain])
    c.check(rc == 0 and "2 members tested" in out, f"t tests '!' in a plain archive: {out!r}")
    rc, out, _ = run([LZHSFX, "p", plain, "!"])
    c.check(rc == 0 and out == "not a question\n", f"p prints '!' of a plain archive: {out!r}")
    rc, _, err = run([LZHSFX, "x", plain, "-C", "bang"])
    c.check(rc == 0 and files_under("bang") == {"!": b"not a question\n", "f.txt": b"f\n"},
            f"x extracts '!' of a plain archive: {err!r}")
    sfx = write("bang.exe", L.stub_sfx(L.archive(L.member("!", b"Go on?\n"), L.member("f.txt", b"f\n"))))
    rc, out, _ = run([LZHSFX, "x", sfx, "-C", "bangsfx", "-y"])
    c.check(rc == 0 and "Go on?" in out and files_under("bangsfx") == {"f.txt": b"f\n"},
            "in a self-extracting file '!' stays the question")


L.run_groups(c, "lzhsfx-stored-", (extraction, reachable))
