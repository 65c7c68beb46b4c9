# Hostile member names on the host: climbing and %WinDir%/%SystemDir% names
# are refused with a message and nothing is written for them; rooted and
# drive-prefixed names lose that prefix, with a note, and land inside the
# destination; --allow-unsafe-paths lets them all through as they are (the
# Windows folders then come from LZHSFX_WINDIR / LZHSFX_SYSTEMDIR); a
# symlink planted in the destination is never followed.
import atexit
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("unsafe")



def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-unsafe-")
    atexit.register(shutil.rmtree, tmp, True)
    os.chdir(tmp)
    os.makedirs("work")
    # A rooted name points into this test's own directory, so even a faulty
    # build cannot write anywhere else.
    rooted = os.path.join(tmp, "rooted.txt")
    hostile = {
        rooted: "rooted.txt",
        "../up.txt": "work/up.txt",
        "a/../../up2.txt": "work/up2.txt",
        "C:x.txt": None,
        "%WinDir%/win.txt": None,
        "%sYsTeMdIr%/sys.txt": None,
    }
    members = [L.member("ok.txt", b"safe\n", "5")]
    members += [L.member(name, b"evil\n", "0") for name in hostile]
    # The same with '\' separators, also aimed inside this test's directory.
    back = tmp.replace("/", "\\") + "\\back.txt"
    members.append(L.member(back, b"evil\n", "0"))
    members.append(L.member("after.txt", b"still here\n", "0"))
    arc = write("hostile.lzh", L.archive(*members))

    rc, out, err = run([LZHSFX, "x", arc, "-C", "work/dest"])
    # Fault: a hostile run reported as success.
    c.check(rc == 1, f"refusals make the exit code 1 (got {rc})")
    # Rooted and drive-prefixed names: (stored name, prefix removed, where it lands).
    inside = [(rooted, "/", rooted[1:]), ("C:x.txt", "C:", "x.txt"),
              (back.replace("\\", "/"), "/", back.replace("\\", "/")[1:])]
    for name in hostile:
        refused = f"lzhsfx: refusing member '{name}': it would be written outside the destination " \
                  f"(use --allow-unsafe-paths)" in err
        # Fault: a climbing member written, or refused silently; a rooted one refused.
        c.check(refused == (name not in (rooted, "C:x.txt")), f"refusal message for {name}")
    for name, prefix, lands in inside:
        # Fault: a rooted member written where it points, or moved without a word.
        c.check(f"lzhsfx: note: '{name}': leading '{prefix}' removed, extracting inside the "
                f"destination" in err, f"note names {name}")
        c.check(os.path.isfile(os.path.join("work/dest", lands)), f"{name} lands at dest/{lands}")
    c.check(not os.path.exists(rooted) and not os.path.exists("work/up.txt")
            and not os.path.exists("work/up2.txt") and not os.path.exists("back.txt"),
            "nothing lands outside the destination")
    written = sorted(os.path.relpath(os.path.join(d, f), "work/dest")
                     for d, _, fs in os.walk("work/dest") for f in fs)
    expected = sorted(["after.txt", "ok.txt"] + [lands for _, _, lands in inside])
    c.check(written == expected, f"only the safe members are written: {written}")

    # With the option, everything lands where the stub would put it.
    env = {"LZHSFX_WINDIR": os.path.join(tmp, "win"), "LZHSFX_SYSTEMDIR": os.path.join(tmp, "sys")}
    os.makedirs("win")
    os.makedirs("sys")
    rc, out, err = run([LZHSFX, "x", arc, "-C", "work/dest2", "--allow-unsafe-paths"], env=env)
    c.check("refusing" not in err, "--allow-unsafe-paths refuses nothing")
    c.check(os.path.exists("win/win.txt"), "%WinDir% maps to LZHSFX_WINDIR")
    c.check(os.path.exists("sys/sys.txt"), "%SystemDir% (any case) maps to LZHSFX_SYSTEMDIR")
    c.check(os.path.exists("work/up.txt") and os.path.exists("work/up2.txt"), "'..' names climb when allowed")
    c.check(os.path.exists(rooted) and os.path.exists("back.txt"),
            "rooted names ('/' or '\\') are written where they point when allowed")

    # A symlink planted in the destination, pointing outside, as a directory
    # and as the file itself.
    os.makedirs("outside")
    write("outside/target.txt", b"precious\n")
    os.makedirs("work/dest3")
    os.symlink(os.path.join(tmp, "outside"), "work/dest3/link")
    os.symlink(os.path.join(tmp, "outside/target.txt"), "work/dest3/victim.txt")
    trap = write("trap.lzh", L.archive(L.member("link/pwned.txt", b"evil\n", "0"),
                                       L.member("victim.txt", b"evil\n", "0")))
    rc, out, err = run([LZHSFX, "x", trap, "-C", "work/dest3", "--overwrite=always"])
    # Fault: writing through a symlink out of the destination.
    c.check(not os.path.exists("outside/pwned.txt"), "a symlinked directory is not followed")
    with open("outside/target.txt", "rb") as f:
        c.check(f.read() == b"precious\n", "a symlinked file is not written through")
    c.check(rc != 0, f"the blocked member makes the run fail (rc={rc})")
    c.done()


main()
