# make install-built with DESTDIR and PREFIX, then the installed tree as a
# user meets it: lzhsfx run from elsewhere finds its installed stub with no
# environment help (also after the tree is moved), the manual page renders,
# the completion loads, and --version names the version of the build files.
# Arguments: the lzhsfx program and the stub it should install.
import atexit
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
STUB = os.path.abspath(sys.argv[2])
SRC = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
c = Checker("install")

INSTALLED = [  # (path under DESTDIR/usr, what it is, the file it must equal)
    ("bin/lzhsfx", "the program", LZHSFX),
    ("share/lzhsfx/sfxstub.exe", "the stub", STUB),
    ("share/man/man1/lzhsfx.1", "the manual page", os.path.join(SRC, "docs/lzhsfx.1")),
    ("share/bash-completion/completions/lzhsfx", "the completion",
     os.path.join(SRC, "scripts/lzhsfx-completion.bash")),
]


def same(a, b):
    with open(a, "rb") as x, open(b, "rb") as y:
        return x.read() == y.read()


def creates_with_installed_stub(prefix, where, what):
    """create run from `where`, LZHSFX_STUB unset, must take prefix's stub."""
    env = {k: v for k, v in os.environ.items() if k != "LZHSFX_STUB"}
    write(os.path.join(where, "hello.txt"), b"hello\n")
    p = subprocess.run([os.path.join(prefix, "bin/lzhsfx"), "create", "out.exe", "hello.txt", "-q"],
                       cwd=where, env=env, capture_output=True, timeout=60)
    ok = c.check(p.returncode == 0, f"{what}: create exits 0, got {p.returncode}: {p.stderr[-300:]!r}")
    if ok:
        with open(os.path.join(where, "out.exe"), "rb") as f:
            image = f.read()
        with open(os.path.join(prefix, "share/lzhsfx/sfxstub.exe"), "rb") as f:
            stub = f.read()
        c.check(image[:0x40] == stub[:0x40], f"{what}: out.exe starts as the installed stub")
        rc, out, _ = run([os.path.join(prefix, "bin/lzhsfx"), "l", "-q", "out.exe"], cwd=where)
        c.check(rc == 0 and "hello.txt" in out, f"{what}: the new file lists its member")
    os.remove(os.path.join(where, "hello.txt"))


def main():
    tmp = tempfile.mkdtemp(prefix="lzhsfx-install-")
    atexit.register(shutil.rmtree, tmp, True)
    dest = os.path.join(tmp, "dest")
    p = subprocess.run(["make", "-s", "-f", os.path.join(SRC, "Makefile"), "install-built",
                        f"BIN_DIR={os.path.dirname(LZHSFX)}", f"STUB_EXE={STUB}",
                        f"DESTDIR={dest}", "PREFIX=/usr"],
                       cwd=tmp, capture_output=True, timeout=60)
    if not c.check(p.returncode == 0, f"make install-built: {p.stderr.decode()[-400:]}"):
        c.done()
    prefix = os.path.join(dest, "usr")
    for rel, what, origin in INSTALLED:
        path = os.path.join(prefix, rel)
        c.check(os.path.isfile(path) and same(path, origin), f"{what} installed as {rel}")
    c.check(os.access(os.path.join(prefix, "bin/lzhsfx"), os.X_OK), "the program is executable")

    elsewhere = os.path.join(tmp, "elsewhere")
    os.mkdir(elsewhere)
    creates_with_installed_stub(prefix, elsewhere, "installed")
    moved = os.path.join(tmp, "moved", "opt")
    shutil.copytree(prefix, moved, symlinks=True)
    shutil.rmtree(prefix)
    creates_with_installed_stub(moved, elsewhere, "moved tree")

    # Fault: a stub that is not there is not silently replaced.
    os.remove(os.path.join(moved, "share/lzhsfx/sfxstub.exe"))
    env = {k: v for k, v in os.environ.items() if k != "LZHSFX_STUB"}
    write(os.path.join(elsewhere, "f"), b"x")
    p = subprocess.run([os.path.join(moved, "bin/lzhsfx"), "create", "o2.exe", "f", "-q"],
                       cwd=elsewhere, env=env, capture_output=True, timeout=60)
    c.check(p.returncode == 2, f"no stub installed: create exits 2, got {p.returncode}")
    # LZHSFX_STUB still overrides.
    p = subprocess.run([os.path.join(moved, "bin/lzhsfx"), "create", "o3.exe", "f", "-q"],
                       cwd=elsewhere, env=dict(env, LZHSFX_STUB=STUB), capture_output=True, timeout=60)
    c.check(p.returncode == 0, "LZHSFX_STUB names the stub")

    page = os.path.join(moved, "share/man/man1/lzhsfx.1")
    p = subprocess.run(["man", "-l", page], capture_output=True, timeout=30,
                       env=dict(os.environ, MANPAGER="cat", PAGER="cat", MANWIDTH="80"))
    text = p.stdout.decode("utf-8", "replace")
    c.check(p.returncode == 0 and "NAME" in text and "SYNOPSIS" in text, "man -l renders the page")
    # Every command the program's help names is in the page.
    rc, helptext, _ = run([os.path.join(moved, "bin/lzhsfx"), "--help"])
    commands = re.findall(r"^  (\w+) ", helptext, re.M)
    c.check(len(commands) >= 9, f"the help lists the commands: {commands}")
    for cmd in commands:
        c.check(re.search(rf"^\s+{cmd}\b", text, re.M) is not None, f"the manual page describes {cmd}")

    script = os.path.join(moved, "share/bash-completion/completions/lzhsfx")
    p = subprocess.run(["bash", "-c", f'source "{script}"; COMP_WORDS=(lzhsfx x arc --na); '
                        'COMP_CWORD=3; _lzhsfx; printf "%s\\n" "${COMPREPLY[@]}"'],
                       capture_output=True, timeout=30)
    c.check(set(p.stdout.decode().split()) == {"--names=auto", "--names=cp932", "--names=utf-8"},
            f"completion offers the --names values: {p.stdout!r}")

    with open(os.path.join(SRC, "CMakeLists.txt")) as f:
        version = re.search(r"project\(lzhsfx VERSION (\S+)", f.read()).group(1)
    rc, out, _ = run([os.path.join(moved, "bin/lzhsfx"), "--version"])
    c.check(rc == 0 and out == f"lzhsfx {version}\n", f"--version prints 'lzhsfx {version}': {out!r}")
    c.done()


main()
