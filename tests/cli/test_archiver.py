# lzhsfx as an everyday archiver: a adds to an archive (replacing members
# of the same name, keeping the rest byte for byte, a self-extracting file
# keeping its program and settings), d deletes, neither ever turns a file
# into something else or half-writes it; create and a never pack their own
# output; names too long for an extractor are refused on both sides; every
# archive we write reads in bsdtar, files at the root included.
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("archiver")


def read(path):
    """The file's bytes, None when there is none."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def names(path):
    return [n.decode("cp932") for n, _, _ in L.read_members(archive_part(path))]


def archive_part(path):
    """The archive inside a plain .lzh or a self-extracting file."""
    data = read(path) or b""
    return data[L.read_config(data)["archiveOffset"]:] if data[:2] == b"MZ" else data


def tree(root, files):
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, name)) or ".", exist_ok=True)
        write(os.path.join(root, name), data)


def adding():
    # Fault: a replaces the archive (15 members become 1), drops or re-packs
    # the members it keeps, or keeps a stale copy of a replaced one.
    files = {f"src/m{i:02}.txt": f"member {i}\n".encode() * (i + 1) for i in range(15)}
    tree(".", files)
    rc, _, err = run([LZHSFX, "a", "add.lzh", "src"])
    before = L.read_members(read("add.lzh") or b"")
    write("src/m03.txt", b"replaced\n")
    write("new.txt", b"added\n")
    rc, _, err = run([LZHSFX, "a", "add.lzh", "src/m03.txt", "new.txt"])
    after = L.read_members(read("add.lzh") or b"")
    c.check(rc == 0 and len(after) == len(before) + 1, f"a adds one member to 16 ({len(after)}) {err}")
    kept = [m for m in before if m[0] != b"src/m03.txt"]
    c.check(after[:len(kept)] == kept, "the kept members come first, byte for byte as they were")
    c.check([m[0] for m in after[len(kept):]] == [b"src/m03.txt", b"new.txt"], "the new ones follow")
    rc, _, _ = run([LZHSFX, "x", "add.lzh", "-C", "addout"])
    c.check(rc == 0 and read("addout/src/m03.txt") == b"replaced\n" and read("addout/src/m07.txt") ==
            files["src/m07.txt"], "x gives the replaced member's new data and the others' old")
    rc, out, _ = run(["lhasa", "t", "add.lzh"])
    c.check(rc == 0, "lhasa accepts the changed archive")

    # a and d leave alone what they cannot safely change.
    unchanged = {
        "not an archive": (b"just some notes\n", []),
        "a damaged archive": (L.archive(L.member("a.txt", b"a"), L.member("b.txt", b"b"))[:-8], []),
        "a signed self-extracting file": (L.stub_sfx(L.archive(L.member("a.txt", b"a"))) + b"SIG" * 100, []),
    }
    for why, (data, _) in unchanged.items():
        write("keep.bin", data)
        for args in (["a", "keep.bin", "new.txt"], ["d", "keep.bin", "a.txt"]):
            rc, _, err = run([LZHSFX] + args)
            # Fault: the file replaced by a bare archive, or changed in place.
            c.check(rc == 1 and read("keep.bin") == data and "left as it is" in err,
                    f"{args[0]} on {why}: refused, file unchanged (rc={rc}) {err.strip()[-90:]}")
    c.check(not [f for f in os.listdir(".") if f.startswith("keep.bin.")], "no temporary file is left")


def self_extracting():
    # Fault: a on setup.exe writes a bare archive named .exe, moves the
    # archive, or loses the stub's configuration.
    stub = write("stub.exe", L.fake_stub())
    tree(".", {"app/readme.txt": b"read me\n", "app/bin/tool.dat": bytes(range(256)) * 40})
    rc, out, err = run([LZHSFX, "create", "setup.exe", "app", "--stub", stub, "--title", "Setup",
                        "--run", "app\\bin\\tool.dat"])
    original = read("setup.exe")
    config = L.read_config(original)
    offset = config["archiveOffset"]
    assert rc == 0, err
    write("extra.txt", b"extra\n")
    rc, _, err = run([LZHSFX, "a", "setup.exe", "extra.txt"])
    changed = read("setup.exe")
    c.check(rc == 0 and changed[:offset] == original[:offset], f"a keeps the stub and its settings ({rc}) {err}")
    c.check(L.read_config(changed) == config, "the configuration block is unchanged")
    c.check(names("setup.exe") == ["app/", "app/bin/", "app/bin/tool.dat", "app/readme.txt", "extra.txt"],
            f"the archive behind it gains the member: {names('setup.exe')}")
    rc, out, _ = run([LZHSFX, "info", "setup.exe"])
    c.check(rc == 0 and "Setup" in out and "5 members" in out, "info still sees a sound self-extracting file")
    rc, out, err = run([LZHSFX, "d", "setup.exe", "app/bin"])
    c.check(rc == 0 and names("setup.exe") == ["app/", "app/readme.txt", "extra.txt"] and
            "app/bin/tool.dat" in out, f"d of a folder deletes it and its contents: {names('setup.exe')}")
    c.check((read("setup.exe") or b"")[:offset] == original[:offset], "d keeps the stub too")
    rc, _, err = run([LZHSFX, "d", "setup.exe", "no/such.txt", "extra.txt"])
    c.check(rc == 1 and "no/such.txt" in err and "extra.txt" in names("setup.exe"),
            "d with a name that matches nothing changes nothing")


def own_output():
    # Fault: the second create of dist/setup.exe packs the first one.
    stub = write("stub4.exe", L.fake_stub())
    tree(".", {"dist/data.txt": b"data\n"})
    for _ in range(2):
        rc, out, err = run([LZHSFX, "create", "dist/setup.exe", "dist", "--stub", stub])
    c.check(rc == 0 and names("dist/setup.exe") == ["dist/", "dist/data.txt"],
            f"create leaves its own output out: {names('dist/setup.exe')} {err}")
    rc, _, _ = run([LZHSFX, "a", "dist/setup.exe", "dist"])
    c.check(rc == 0 and names("dist/setup.exe") == ["dist/", "dist/data.txt"], "so does a on it")


def long_names():
    # Fault: a stores a name an extractor must cut; x writes such a member
    # under the cut name.
    deep = "d" * 200 + "/" + "f" * 70 + ".txt"
    tree(".", {deep: b"deep\n"})
    rc, _, err = run([LZHSFX, "a", "long.lzh", deep])
    c.check(rc == 2 and "f" * 70 in err and "259" in err and not os.path.exists("long.lzh"),
            f"a refuses a 275-byte name, naming it: rc={rc} {err.strip()[:80]}")
    stub = write("stub2.exe", L.fake_stub())
    rc, _, err = run([LZHSFX, "create", "long.exe", deep, "--stub", stub])
    c.check(rc != 0 and "259" in err and not os.path.exists("long.exe"), "create refuses it too")
    arc = write("longx.lzh", L.archive(L.member(deep.encode(), b"deep\n"), L.member("ok.txt", b"ok\n")))
    rc, _, err = run([LZHSFX, "x", arc, "-C", "longout"])
    written = sorted(os.path.join(d, f) for d, _, fs in os.walk("longout") for f in fs)
    c.check(rc == 1 and "refusing member" in err and written == ["longout/ok.txt"],
            f"x refuses the long member and extracts the rest: rc={rc} {written}")
    rc, out, _ = run([LZHSFX, "l", arc])
    c.check("[name cut]" in out, "l marks the cut name")


def root_files_read_everywhere():
    # Fault: an empty directory-name record, which bsdtar refuses.
    os.makedirs("rootdir")
    write("rootdir/top.txt", b"top\n")
    rc, _, _ = run([LZHSFX, "a", os.path.abspath("root.lzh"), "top.txt"], cwd="rootdir")
    stub = write("stub3.exe", L.fake_stub())
    rc2, _, err = run([LZHSFX, "create", os.path.abspath("root.exe"), ".", "--stub", os.path.abspath(stub)],
                      cwd="rootdir")
    write("root-inner.lzh", archive_part("root.exe"))
    for arc in ("root.lzh", "root-inner.lzh"):
        p = subprocess.run(["bsdtar", "-tf", arc], capture_output=True, timeout=30)
        c.check(rc == 0 and rc2 == 0 and p.returncode == 0 and b"top.txt" in p.stdout,
                f"bsdtar reads {arc}: {p.stderr.decode()[:80]}")


def as_nobody(cmd):
    """Runs cmd as the user nobody (the tests run as root, who may write anything)."""
    return run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + cmd)


def small_faults():
    os.chmod(".", 0o711)  # nobody passes through to the folders below
    os.makedirs("nothing")
    os.mkfifo("nothing/fifo")
    write("kept.lzh", L.archive(L.member("k.txt", b"k\n")))
    # Fault: a with nothing to pack (a special file skipped, an empty folder
    # given as ".") writes an empty archive, or changes one.
    for arc, given, cwd in (("none.lzh", "nothing/fifo", "."), ("kept.lzh", "nothing/fifo", "."),
                            ("../none.lzh", ".", "empty")):
        os.makedirs("empty", exist_ok=True)
        before = read(os.path.join(cwd, arc))
        rc, _, err = run([LZHSFX, "a", arc, given], cwd=cwd)
        c.check(rc == 2 and read(os.path.join(cwd, arc)) == before and "nothing to pack" in err,
                f"a {arc} {given} with nothing to pack: exit 2, nothing written ({rc}) {err.strip()}")
    # Fault: a path that became a folder keeps its old file member beside it.
    write("thing", b"a file\n")
    run([LZHSFX, "a", "turned.lzh", "thing"])
    os.unlink("thing")
    tree(".", {"thing/in.txt": b"in\n"})
    rc, _, err = run([LZHSFX, "a", "turned.lzh", "thing"])
    c.check(rc == 0 and names("turned.lzh") == ["thing/", "thing/in.txt"],
            f"a replaces a file member by the folder it became: {names('turned.lzh')} {err}")
    # Fault: a replaces an archive its user may not write (the folder allows
    # a new file), or gives a changed archive other permissions.
    os.makedirs("shared")
    os.chmod("shared", 0o777)
    write("shared/new.txt", b"new\n")
    for mode, code in ((0o444, 2), (0o604, 0)):
        arc = f"shared/m{mode:o}.lzh"
        write(arc, L.archive(L.member("k.txt", b"k\n")))
        os.chown(arc, 65534, 65534)
        os.chmod(arc, mode)
        before = read(arc)
        rc, _, err = as_nobody([LZHSFX, "a", arc, "shared/new.txt"])
        c.check(rc == code and (read(arc) == before) == (code != 0) and os.stat(arc).st_mode & 0o7777 == mode,
                f"a on a {mode:o} archive as its owner: exit {code}, mode kept ({rc}) {err.strip()}")
    # Fault: a 255-byte archive name leaves no room for the temporary one.
    longest = "a" * 251 + ".lzh"
    stub = write("stub5.exe", L.fake_stub())
    for cmd in (["a", longest, "shared/new.txt"], ["d", longest, "shared/new.txt"],
                ["create", "e" * 251 + ".exe", "shared/new.txt", "--stub", stub]):
        rc, _, err = run([LZHSFX] + cmd)
        c.check(rc == 0, f"{cmd[0]} writes a 255-byte archive name ({rc}) {err.strip()}")


def main():
    # A group that breaks half-way (the old a turning setup.exe into a bare
    # archive, say) is one more failure; the others still run.
    L.run_groups(c, "lzhsfx-archiver-", (adding, self_extracting, own_output, long_names, root_files_read_everywhere,
                                         small_faults))

main()
