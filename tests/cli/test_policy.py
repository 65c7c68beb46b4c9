# The host's path policy, one table for all who use it: each stored name
# with the verdict worked out by hand from the rule (platform/pathpolicy.h),
# and what x, create's check and a must then do with it. x and create's
# check read the same member of the same archive; a packs a file of that
# name where the file system allows one.
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, run_groups, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("policy")

HYOU = "表".encode("cp932")  # 0x95 0x5C: the second byte is '\'
# Verdicts: inside; inside a Windows folder ("folder": x refuses it, create
# warns where the stub puts it); rooted by a separator or a drive prefix (x
# takes it off with a note, create refuses); climbs (both refuse).
# A name is stored whole in the file-name record, or as (file-name record,
# directory record) with the directory's levels ended by 0xFF as stored.
CASES = [  # stored name, writer's OS, verdict, what a does with a file of that name
    (b"a/b.txt", b"M", "inside", "packs"),
    (b"...x", b"M", "inside", "packs"),
    (b"1:x.txt", b"M", "inside", "packs"),         # a drive is a letter and a colon
    (HYOU + b"..", b"M", "inside", None),          # '\' ends the kanji: no component ".."
    (b"../up.txt", b"M", "climbs", "refuses"),
    (b"a/../../up.txt", b"M", "climbs", "refuses"),
    (b"...", b"M", "climbs", "refuses"),           # Windows drops the trailing dots
    (b"a/.. /b.txt", b"M", "climbs", "refuses"),   # ... and the trailing space
    (b"a\\..\\b.txt", b"M", "climbs", None),
    ("é/../x.txt".encode(), b"U", "climbs", None),  # UTF-8, no CP932 form: kept as UTF-8
    ("あ/../x.txt".encode(), b"U", "climbs", None),  # UTF-8 read as CP932: 0x82 '/' is no pair
    (b"/abs/x.txt", b"M", "rooted", None),
    (b"\\back.txt", b"M", "rooted", None),
    (b"C:x.txt", b"M", "rooted", "refuses"),
    (b"%WinDir%/win.txt", b"M", "folder", "packs"),
    (b"%sYsTeMdIr%/sys.txt", b"M", "folder", "packs"),
    (b"%WinDir%x.txt", b"M", "folder", "packs"),
    (b"%WinDir%/../x.txt", b"M", "climbs", None),
    ((b"evil.txt", b"a\xff..\xff"), b"M", "climbs", None),
    ((b"x" + HYOU, b"..\xff"), b"M", "climbs", None),  # a kanji's '\' next to a level's end
]


def judged_alike_by_x_and_create():
    stub = write("stub.exe", L.fake_stub())
    for i, (name, os_id, verdict, _) in enumerate(CASES):
        # The rule judges names as the walk composes them from the records.
        stored, dirname = name if isinstance(name, tuple) else (name, b"")
        member = L.member(stored, b"data\n", "0", os_id=os_id, dirname=dirname)
        arc = write(f"case{i}.lzh", L.archive(member))
        dest = f"dest{i}"
        rc, _, err = run([LZHSFX, "x", arc, "-C", dest])
        written = [os.path.join(d, f) for d, _, fs in os.walk(dest) for f in fs]
        refused = "refusing member" in err
        # Fault: a name the rule sends outside written, or a harmless one refused.
        if verdict in ("climbs", "folder"):
            c.check(rc == 1 and refused and not written, f"x refuses {name!r}: {err}")
        else:
            c.check(rc == 0 and not refused and len(written) == 1, f"x writes {name!r}: {err}")
        c.check(("removed, extracting inside" in err) == (verdict == "rooted"),
                f"x notes the root it takes off {name!r}: {err}")
        out = f"case{i}.exe"
        rc, _, err = run([LZHSFX, "create", out, "--stub", stub, "--from-lzh", arc])
        # Fault: create's check judging a name otherwise than x does.
        if verdict in ("climbs", "rooted"):
            c.check(rc == 1 and "--allow-unsafe-paths" in err and not os.path.exists(out),
                    f"create refuses {name!r}: {err}")
            # Fault: the override not letting a refused name through with a warning.
            rc, _, err = run([LZHSFX, "create", out, "--stub", stub, "--from-lzh", arc,
                              "--allow-unsafe-paths"])
            c.check(rc == 0 and "warning" in err, f"create --allow-unsafe-paths warns of {name!r}: {err}")
        else:
            c.check(rc == 0 and ("directory of the user's machine" in err or "beside the" in err)
                    == (verdict == "folder"), f"create accepts {name!r}, warning of a folder: {err}")


def packed_by_a_alike():
    for i, (name, _, verdict, packing) in enumerate(CASES):
        if packing is None:
            continue
        root = f"tree{i}"
        path = os.path.join(root, os.fsdecode(name.decode("cp932").encode()))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, b"data\n")
        rc, _, err = run([LZHSFX, "a", f"../packed{i}.lzh", name.decode("cp932")], cwd=root)
        # Fault: a stores a name that x or create's check would refuse.
        c.check((rc == 0) == (packing == "packs"), f"a {packing} {name!r} ({verdict}): {err}")


run_groups(c, "lzhsfx-policy-", [judged_alike_by_x_and_create, packed_by_a_alike])
