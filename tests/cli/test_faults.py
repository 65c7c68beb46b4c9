# When things go wrong lzhsfx never loses a file and never lies: an I/O
# failure names the file and the system's reason and exits 2; a damaged
# member is reported and the others are still tested or extracted; SIGINT,
# SIGTERM and SIGHUP leave no partial member and no temporary archive; a
# failed standard output is an error; a FIFO is refused without blocking;
# long commands show one overall progress line on a terminal only.
import atexit
import os
import resource
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import lzhtool as L  # noqa: E402
from lzhtool import Checker, run, write  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
c = Checker("faults")
BLOCK = L.ZEROS_BLOCK


def zeros_member(name, blocks):
    # CRC-16/ARC of zero bytes from 0 stays 0.
    return L.member(name, b"", "5", body=L.zeros_body(blocks), orig_size=1 + blocks * BLOCK, crc=0)


def leftovers(d):
    return sorted(f for _, _, fs in os.walk(d) for f in fs if f.startswith(".lzhsfx-") or ".lzh." in f
                  or ".exe." in f)


def mount_tmpfs(path, options):
    """A small file system of our own (root only); False where none can be made."""
    os.makedirs(path, exist_ok=True)
    if os.geteuid() != 0:
        return False
    ok = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path], capture_output=True).returncode == 0
    if ok:
        atexit.register(subprocess.run, ["umount", "-l", path], capture_output=True)
    return ok


def io_failures():
    big = bytes(range(256)) * 8192  # 2 MiB that does not shrink much
    arc = write("io.lzh", L.archive(L.member("big.bin", big, "0"), L.member("small.txt", b"small\n"),
                                    L.member("sub/", method="d"), L.member("sub/in.txt", b"in\n")))
    # Fault: disk full reported with exit 1, without the reason, or the
    # partial file left; the members after it not extracted.
    if mount_tmpfs("full", "size=1m"):
        limit, reason = None, "No space left on device"
    else:
        limit, reason = 1 << 20, "File too large"

    def capped():
        if limit:
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    p = subprocess.run([LZHSFX, "x", arc, "-C", "full"], capture_output=True, preexec_fn=capped, timeout=30)
    err = p.stderr.decode()
    c.check(p.returncode == 2 and "big.bin" in err and reason in err,
            f"a full disk: exit 2 naming the file and '{reason}' (rc={p.returncode}) {err.strip()[:120]}")
    c.check(not os.path.exists("full/big.bin") and not leftovers("full"), "no partial file is left")
    c.check(os.path.exists("full/small.txt") and os.path.exists("full/sub/in.txt"),
            "the members after it are still extracted")

    # Fault: a directory that cannot be made passes in silence with exit 0.
    os.makedirs("blocked")
    write("blocked/sub", b"a file where the folder goes\n")
    rc, _, err = run([LZHSFX, "x", arc, "-C", "blocked"])
    c.check(rc == 2 and "\"sub" in err and ("File exists" in err or "Not a directory" in err),
            f"a file in a folder's way: exit 2 naming it with the reason (rc={rc}) {err.strip()[:160]}")
    if mount_tmpfs("readonly", "ro,size=64k"):
        rc, _, err = run([LZHSFX, "x", write("dir.lzh", L.archive(L.member("only/", method="d"))),
                          "-C", "readonly"])
        c.check(rc == 2 and "\"only" in err and "Read-only file system" in err,
                f"a read-only destination: exit 2 naming the folder (rc={rc}) {err.strip()[:120]}")

    # Fault: output lost on a full standard output reported as success.
    for cmd in (["l", arc], ["t", arc], ["x", arc, "-C", "devfull", "--overwrite=always"]):
        with open("/dev/full", "w") as full:
            p = subprocess.run([LZHSFX] + cmd, stdout=full, stderr=subprocess.PIPE, timeout=30)
        c.check(p.returncode == 2 and b"standard output" in p.stderr,
                f"{cmd[0]} with stdout on /dev/full: exit 2 (rc={p.returncode})")
    # Faults: p goes on writing (and complaining) after its output failed;
    # a reader that closed the pipe (head) is told off for it.
    with open("/dev/full", "w") as full:
        p = subprocess.run([LZHSFX, "p", arc], stdout=full, stderr=subprocess.PIPE, timeout=30)
    c.check(p.returncode == 2 and p.stderr.count(b"write error") == 1 and b"standard output" in p.stderr,
            f"p stops at the first failed write: rc={p.returncode} {p.stderr[-200:]!r}")
    p = subprocess.Popen([LZHSFX, "p", arc], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.read(10)
    p.stdout.close()
    err = p.stderr.read()
    c.check(p.wait(timeout=30) == -signal.SIGPIPE and err == b"",
            f"p to a closed pipe ends quietly, by SIGPIPE: rc={p.returncode} {err[-200:]!r}")
    # Fault: l or t blocks forever on a FIFO nobody writes to.
    os.mkfifo("fifo.lzh")
    for cmd in ("l", "t", "info"):
        try:
            rc, _, err = run([LZHSFX, cmd, "fifo.lzh"], timeout=5)
            c.check(rc == 2 and "not a regular file" in err, f"{cmd} refuses a FIFO: rc={rc}")
        except AssertionError as e:
            c.check(False, f"{cmd} on a FIFO: {e}")


def damaged_members():
    good = {f"g{i:02}.txt": (f"good member {i}\n" * 300).encode() for i in range(10)}
    text = good["g00.txt"]
    w = L.BitWriter()
    w.put(16, 1), w.put(5, 3)
    for v in (1, 0, 2):
        w.put(3, v)  # code lengths 1, -, 2: an incomplete code
    w.put(2, 0), w.put(9, 0), w.put(9, 65), w.put(4, 0), w.put(4, 0)
    bad = {
        "crc.txt": L.member("crc.txt", text, "5", crc=L.crc16(text) ^ 1),
        "table.txt": L.member("table.txt", b"A", "5", body=w.finish() + bytes(4)),
        "short.txt": L.member("short.txt", text, "5", orig_size=len(text) + 5000),
        "random.bin": L.member("random.bin", bytes(5000), "6", body=bytes(range(7, 250))),
        "stored.txt": L.member("stored.txt", text, "0", crc=1),
    }
    order = ["g00.txt", "crc.txt", "g01.txt", "g02.txt", "table.txt", "g03.txt", "short.txt", "g04.txt",
             "g05.txt", "random.bin", "g06.txt", "g07.txt", "stored.txt", "g08.txt", "g09.txt"]
    arc = write("damaged.lzh", L.archive(*[bad[n] if n in bad else L.member(n, good[n], "5") for n in order]))
    # Fault: testing stops at the first damaged member (6 of 15 tested).
    rc, out, err = run([LZHSFX, "t", arc])
    tested = [line for line in out.splitlines() if not line.startswith("lzhsfx")]
    c.check(rc == 1 and tested == order, f"t tests all 15 members and exits 1 (rc={rc}, {len(tested)} tested)")
    c.check(all(f'"{n}"' in err for n in bad) and "5 of 15 members failed" in err,
            f"t reports each damaged member and the count: {err.strip()[-200:]}")
    rc, out, err = run([LZHSFX, "x", arc, "-C", "damaged"])
    files = sorted(os.listdir("damaged"))
    c.check(rc == 1 and files == sorted(good) and all(open(f"damaged/{n}", "rb").read() == d
                                                       for n, d in good.items()),
            f"x extracts every intact member and nothing of the damaged ones: {files}")
    # Fault: --stop-on-error goes on, or stops nowhere.
    rc, out, _ = run([LZHSFX, "t", arc, "--stop-on-error"])
    c.check(rc == 1 and [line for line in out.splitlines() if not line.startswith("lzhsfx")] == order[:2],
            "--stop-on-error stops at the first damaged member")


def writing_into(pid, watch):
    """Whether the process holds a file inside watch open (its directories
    aside): an output in the making, named or not."""
    top = os.path.abspath(watch)
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return False
    for fd in fds:
        try:
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if target.startswith(top + "/") and not os.path.isdir(target):
            return True
    return False


def interrupted(cmd, watch, after=None):
    """Runs cmd, stops it as soon as it writes a file in watch (once the file
    after exists there, when given), then sends each signal; what is left in
    watch is returned."""
    results = []
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT, signal.SIGKILL):
        shutil.rmtree(watch, ignore_errors=True)
        os.makedirs(watch)
        p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.time() + 20
        caught = False
        while time.time() < deadline and p.poll() is None:
            if (after is None or os.path.exists(os.path.join(watch, after))) and writing_into(p.pid, watch):
                p.send_signal(signal.SIGSTOP)
                caught = writing_into(p.pid, watch)
                break
            time.sleep(0.0005)
        p.send_signal(sig)
        p.send_signal(signal.SIGCONT)
        _, err = p.communicate(timeout=20)
        results.append((sig, caught, p.returncode, sorted(os.listdir(watch)), err.decode()))
    return results


def signals():
    arc = write("zeros.lzh", L.archive(L.member("first.txt", b"first\n"), zeros_member("zeros.bin", 24),
                                       L.member("last.txt", b"last\n")))
    # Fault: a signal leaves the 400 MB member half written, or (even
    # SIGKILL, which nothing can catch) a hidden temporary file.
    for sig, caught, rc, left, err in interrupted([LZHSFX, "x", os.path.abspath(arc), "-C", "sigx"], "sigx",
                                                  "first.txt"):
        name = signal.Signals(sig).name
        c.check(caught and rc == -sig and left == ["first.txt"] and (sig == signal.SIGKILL or name in err),
                f"x under {name}: ends by it, member removed (caught={caught} rc={rc} {left})")
    # Fault: an interrupted a or create leaves its temporary archive.
    os.makedirs("bigsrc", exist_ok=True)
    with open("bigsrc/zeros.bin", "wb") as f:
        f.truncate(512 << 20)
    stub = write("stub.exe", L.fake_stub())
    for what, cmd in (("a", [LZHSFX, "a", "siga/out.lzh", "bigsrc"]),
                      ("create", [LZHSFX, "create", "siga/out.exe", "bigsrc", "--stub", stub])):
        for sig, caught, rc, left, err in interrupted(cmd, "siga"):
            name = signal.Signals(sig).name
            c.check(caught and rc == -sig and left == [] and (sig == signal.SIGKILL or name in err),
                    f"{what} under {name}: ends by it, no temporary archive (caught={caught} rc={rc} {left})")
            # Fault: the progress line's erasing sent to a redirected stderr.
            c.check("\x1b" not in err and "\r" not in err, f"{what} under {name}: no control sequences in a file")


def progress():
    arc = write("progress.lzh", L.archive(zeros_member("zeros.bin", 6)))
    write("small.txt", b"small\n" * 2000)
    stub = write("stub2.exe", L.fake_stub())
    # Fault: no overall progress at all, progress where no terminal is, or
    # -q not honoured.
    for what, cmd in (("t", ["t", arc]), ("x", ["x", arc, "-C", "prog", "--overwrite=always"]),
                      ("a", ["a", "prog.lzh", "small.txt"]),
                      ("create", ["create", "prog.exe", "small.txt", "--stub", stub])):
        rc, out = L.run_tty([LZHSFX] + cmd)
        c.check(rc == 0 and " of " in out and "MB/s" in out and "left" in out,
                f"{what} on a terminal shows done of total, rate and time left: {out[-120:]!r}")
        rc, out = L.run_tty([LZHSFX] + cmd + ["-q"])
        c.check(rc == 0 and "MB/s" not in out, f"{what} -q shows no progress")
        rc, _, err = run([LZHSFX] + cmd)
        c.check(rc == 0 and "MB/s" not in err, f"{what} without a terminal shows no progress")


def main():
    # A group that breaks half-way (the old a turning setup.exe into a bare
    # archive, say) is one more failure; the others still run.
    L.run_groups(c, "lzhsfx-faults-", (io_failures, damaged_members, signals, progress))

main()
