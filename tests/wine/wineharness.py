# Runs the stub under Wine on a private X server: picks the 32-bit stub when
# this machine can execute the 32-bit Wine loader and the 64-bit twin
# otherwise, boots a fresh prefix, finds dialogs and their buttons through a
# small Win32 helper, and clicks them with the X mouse (key events do not
# reliably reach Wine windows). Every wait is bounded.
import glob
import os
import shutil
import signal
import subprocess
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
I386_LOADERS = ["/usr/lib/wine/wine", "/usr/lib/i386-linux-gnu/wine/wine"]
WINE64_LOADERS = ["/usr/lib/wine/wine64", "/usr/lib/x86_64-linux-gnu/wine/wine64"]
WINESERVERS = ["/usr/lib/wine/wineserver", "/usr/lib/wine/wineserver64"]
SCREEN = "1024x768x24"
BOOT_SECONDS = 240
POLL_SECONDS = 0.5
LIST_SECONDS = 8
SETTLE_SECONDS = 1.5

# Control identifiers of the dialogs and message boxes.
ID_OK, ID_CANCEL, ID_YES, ID_NO = 1, 2, 6, 7
ID_DEST_EDIT, ID_BROWSE = 100, 104
ID_STATUS_PATH, ID_STATUS_PERCENT = 101, 102
ID_MESSAGE_TEXT = 0xFFFF
ID_DIR_LIST, ID_DRIVE_LIST = 1121, 1137


class HarnessError(Exception):
    pass


class Failure(Exception):
    """A case's check that did not hold."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def first_existing(paths):
    for p in paths:
        if os.path.exists(p):
            return p
    return None


def can_run_32bit():
    """True when the i386 Wine loader actually executes here (some sandbox
    kernels refuse 32-bit ELF binaries)."""
    loader = first_existing(I386_LOADERS)
    if not loader:
        return False
    try:
        return subprocess.run([loader, "--version"], capture_output=True,
                              timeout=20).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


class Control:
    def __init__(self, ident, rect, visible, enabled, text):
        self.id, self.rect, self.visible, self.enabled, self.text = ident, rect, visible, enabled, text

    def center(self):
        left, top, right, bottom = self.rect
        return (left + right) // 2, (top + bottom) // 2


class Window:
    def __init__(self, handle, rect, pid, caption):
        self.handle, self.rect, self.pid, self.caption = handle, rect, pid, caption
        self.controls = {}

    def has(self, *ids):
        return all(i in self.controls for i in ids)

    def kind(self):
        if self.has(ID_DEST_EDIT, ID_BROWSE):
            return "main"
        if self.has(ID_DIR_LIST, ID_DRIVE_LIST):
            return "chooser"
        if self.has(ID_MESSAGE_TEXT):
            return "message"
        return "other"

    def text(self):
        c = self.controls.get(ID_MESSAGE_TEXT)
        return c.text if c else ""


class Session:
    def __init__(self, out_dir, stub32, stub64, log=print, lang="ja_JP.UTF-8"):
        self.lang = lang
        self.out = os.path.abspath(out_dir)
        self.stub32 = os.path.abspath(stub32) if stub32 else None
        self.stub64 = os.path.abspath(stub64) if stub64 else None
        self.log = log
        self.xvfb = None
        self.display = None
        self.bits = None

    # ---- set-up ---------------------------------------------------------
    def choose(self):
        """Returns (bits, stub) or raises HarnessError saying why not."""
        if can_run_32bit() and shutil.which("wine"):
            if self.stub32 and os.path.exists(self.stub32):
                self.bits, self.stub, self.wine = 32, self.stub32, shutil.which("wine")
                self.compiler = "i686-w64-mingw32-gcc"
                return
            self.log(f"wine harness: 32-bit Wine works, but {self.stub32} is not built")
        else:
            self.log("wine harness: this machine cannot execute the 32-bit Wine loader")
        wine64 = shutil.which("wine64") or first_existing(WINE64_LOADERS)
        if not wine64:
            raise HarnessError("no 64-bit Wine loader (install wine64)")
        if not (self.stub64 and os.path.exists(self.stub64)):
            raise HarnessError(f"the 64-bit twin {self.stub64} is not built")
        self.bits, self.stub, self.wine = 64, self.stub64, wine64
        self.compiler = "x86_64-w64-mingw32-gcc"

    def start(self):
        self.choose()
        self.log(f"wine harness: running the {self.bits}-bit stub {self.stub} with {self.wine}")
        if not shutil.which(self.compiler):
            raise HarnessError(f"{self.compiler} is missing (it builds the test helpers)")
        for tool in ("Xvfb", "xdotool", "import"):
            if not shutil.which(tool):
                raise HarnessError(f"{tool} is missing")
        os.makedirs(self.out, exist_ok=True)
        for old in os.listdir(self.out):
            if old.endswith(".png") or old == "wine.log":
                os.unlink(os.path.join(self.out, old))
        self.build_helpers()
        self.start_display()
        self.prefix = os.path.join(self.out, "prefix")
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.wineserver = shutil.which("wineserver") or first_existing(WINESERVERS)
        started = time.monotonic()
        try:
            boot = subprocess.run([self.wine, "wineboot", "-i"], env=self.env(),
                                  capture_output=True, timeout=BOOT_SECONDS)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"wineboot did not finish in {BOOT_SECONDS} s")
        if boot.returncode != 0:
            raise HarnessError("wineboot failed: " + boot.stderr.decode("utf-8", "replace")[-400:])
        # The first program after the boot also starts the desktop process;
        # let that happen before any test waits for a window.
        self.windows()
        self.log(f"wine harness: prefix ready in {time.monotonic() - started:.0f} s")

    def build_helpers(self):
        self.helpers = os.path.join(self.out, "helpers")
        os.makedirs(self.helpers, exist_ok=True)
        jobs = [("wininfo.exe", ["wininfo.c"], []),
                ("plantprobe.exe", ["plantprobe.c"], ["-lversion", "-lcomctl32"]),
                ("codepage.exe", ["codepage.c"], []),
                ("plainui.exe", ["plainui.c"], ["-mwindows", "-lgdi32"]),
                ("command.exe", ["command.c"], ["-municode", "-s", "-Wl,--subsystem,windows"]),
                ("exitcode.exe", ["exitcode.c"], []),
                ("planted.dll", ["planted.c"], ["-shared"])]
        for target, sources, extra in jobs:
            cmd = [self.compiler, "-O2", "-o", os.path.join(self.helpers, target),
                   *[os.path.join(HERE, "helpers", s) for s in sources], *extra]
            r = subprocess.run(cmd, capture_output=True, timeout=120)
            if r.returncode != 0:
                raise HarnessError(f"building {target} failed: {r.stderr.decode()[-400:]}")

    def start_display(self):
        for n in range(90 + os.getpid() % 50, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                break
        self.display = f":{n}"
        self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", SCREEN, "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not os.path.exists(f"/tmp/.X11-unix/X{n}"):
            if time.monotonic() > deadline or self.xvfb.poll() is not None:
                raise HarnessError("Xvfb did not start")
            time.sleep(0.1)

    def stop(self):
        if getattr(self, "wineserver", None) and getattr(self, "prefix", None):
            subprocess.run([self.wineserver, "-k"], env=self.env(), capture_output=True, timeout=30)
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.send_signal(signal.SIGTERM)
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()

    def env(self, overrides=None):
        env = dict(os.environ)
        env.update({"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "DISPLAY": self.display,
                    # Wine takes the ANSI code page of its programs from
                    # the locale: 932 for ja_JP, 1252 for en_US, 936 for zh_CN.
                    "LANG": self.lang, "LC_ALL": self.lang,
                    # No Mono or Gecko installer prompts in a fresh prefix.
                    "WINEDLLOVERRIDES": "mscoree,mshtml=" + (";" + overrides if overrides else "")})
        return env

    def kill_wine(self):
        """Ends every process of this prefix (ours alone)."""
        subprocess.run([self.wineserver, "-k"], env=self.env(), capture_output=True, timeout=30)

    # ---- running programs -------------------------------------------------
    @staticmethod
    def windows_path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def unix_path(self, path):
        """The host path of a Windows path on drive C: (the prefix) or Z: (/)."""
        drive, rest = path[:2].upper(), path[2:].replace("\\", "/")
        if drive == "Z:":
            return rest
        if drive == "C:":
            return os.path.join(self.prefix, "drive_c") + rest
        raise HarnessError(f"no host path for {path!r}")

    def temp_dir(self):
        """The Windows user's temporary directory (C:\\users\\NAME\\Temp)."""
        found = [d for d in glob.glob(os.path.join(self.prefix, "drive_c", "users", "*", "Temp"))
                 if os.path.basename(os.path.dirname(d)) != "Public"]
        if len(found) != 1:
            raise HarnessError(f"no single user temporary directory in the prefix: {found}")
        return found[0]

    def start_program(self, exe, args=(), cwd=None, overrides=None, whole_code=False):
        """With whole_code the program runs under exitcode.exe, so that
        finish() can report exit codes above 255 (Wine gives a Unix parent
        only their low byte)."""
        runner = [os.path.join(self.helpers, "exitcode.exe")] if whole_code else []
        with open(os.path.join(self.out, "wine.log"), "ab") as log:
            process = subprocess.Popen([self.wine, *runner, exe, *args],
                                       cwd=cwd or os.path.dirname(exe), env=self.env(overrides),
                                       stdout=subprocess.PIPE if whole_code else log, stderr=log)
        process.whole_code = whole_code
        # A window lister started in the same instant as the program can
        # stall inside Wine; give the program a moment to come up first.
        time.sleep(SETTLE_SECONDS)
        return process

    def finish(self, process, seconds):
        """The exit code, or HarnessError after killing the prefix's processes."""
        try:
            code = process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            self.kill_wine()
            process.wait(timeout=30)
            raise HarnessError(f"the program did not end within {seconds} s")
        if not getattr(process, "whole_code", False):
            return code
        printed = process.stdout.read().decode("ascii", "replace").split()
        if code != 0 or len(printed) != 1:
            raise HarnessError(f"exitcode.exe could not run the program (code {code}, {printed})")
        return int(printed[0])

    def windows(self, any_class=False):
        """The visible dialog windows (every visible top-level window with
        any_class) with their controls."""
        try:
            r = subprocess.run([self.wine, os.path.join(self.helpers, "wininfo.exe"),
                                *(["any"] if any_class else [])],
                               env=self.env(), capture_output=True, timeout=LIST_SECONDS)
        except subprocess.TimeoutExpired:
            self.log("wine harness: listing the windows timed out; trying again")
            return []
        out, current = [], None
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            f = line.split("\t")
            if f[0] == "W" and len(f) >= 8:
                current = Window(int(f[1]), tuple(map(int, f[2:6])), int(f[6]), f[7])
                out.append(current)
            elif f[0] == "C" and len(f) >= 9 and current:
                current.controls[int(f[1])] = Control(int(f[1]), tuple(map(int, f[2:6])),
                                                      f[6] == "1", f[7] == "1", f[8])
        return out

    def wait_window(self, kind, seconds=30, process=None, text=None):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            for w in self.windows():
                if w.kind() == kind and (text is None or text in w.text()):
                    time.sleep(0.3)  # let it finish painting
                    return w
            if process is not None and process.poll() is not None:
                raise HarnessError(f"the program ended (code {process.returncode}) "
                                   f"before a {kind} window showed")
            time.sleep(POLL_SECONDS)
        raise HarnessError(f"no {kind} window{' with ' + repr(text) if text else ''} "
                           f"within {seconds} s")

    def wait_gone(self, window, seconds=15):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if all(w.handle != window.handle for w in self.windows()):
                return
            time.sleep(POLL_SECONDS)
        raise HarnessError(f"the {window.kind()} window stayed open")

    def close(self, window):
        """Asks the window to close, as its close box would."""
        r = subprocess.run([self.wine, os.path.join(self.helpers, "wininfo.exe"), "close",
                            str(window.handle)], env=self.env(), capture_output=True,
                           timeout=LIST_SECONDS)
        if r.returncode != 0:
            raise HarnessError(f"closing the {window.kind()} window failed")

    def click(self, window, ident):
        control = window.controls.get(ident)
        if control is None:
            raise HarnessError(f"the {window.kind()} window has no control {ident}")
        x, y = control.center()
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"],
                       env=self.env(), check=True, timeout=20)

    def code_pages(self):
        """(ANSI, OEM) code pages of a program started now, from the helper."""
        r = subprocess.run([self.wine, os.path.join(self.helpers, "codepage.exe")],
                           env=self.env(), capture_output=True, timeout=30)
        fields = r.stdout.decode("ascii", "replace").split()
        if r.returncode != 0 or len(fields) != 2:
            raise HarnessError(f"codepage.exe answered {r.stdout!r} (code {r.returncode})")
        return int(fields[0]), int(fields[1])

    def set_dpi(self, dpi):
        """The screen's DPI for programs started from now on; Wine reads it
        from the user's desktop settings when a program starts."""
        r = subprocess.run([self.wine, "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels",
                            "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                           env=self.env(), capture_output=True, timeout=60)
        if r.returncode != 0:
            raise HarnessError(f"setting LogPixels to {dpi} failed: {r.stderr[-300:]!r}")

    def screenshot(self, name):
        path = os.path.join(self.out, name)
        subprocess.run(["import", "-window", "root", path], env=self.env(), check=True, timeout=30)
        return path


class SuiteBase:
    """What every Wine suite shares: a work folder per case, and running a
    case so that a failure is recorded (with a screenshot of the screen as
    it was) and Wine is cleared away before the next case."""

    def __init__(self, session, lzhsfx, out):
        self.s, self.lzhsfx, self.out = session, lzhsfx, out
        self.results = []

    def work_dir(self, name):
        path = os.path.join(self.out, "cases", name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def attempt(self, name, case, *args):
        started = time.monotonic()
        try:
            case(*args)
            self.results.append((name, None))
            print(f"PASS {name} ({time.monotonic() - started:.1f} s)", flush=True)
        except (Failure, HarnessError, subprocess.SubprocessError, OSError, KeyError) as e:
            self.results.append((name, str(e)))
            print(f"FAIL {name}: {e}", flush=True)
            if not isinstance(e, Failure):
                traceback.print_exc()
            try:
                self.s.screenshot(f"failed-{name}.png")
            except Exception:
                pass
            self.s.kill_wine()

    def counts(self):
        """(passed, failed) so far."""
        failed = sum(1 for _, e in self.results if e)
        return len(self.results) - failed, failed


def run_suite_main(make_suite, tools=()):
    """The command line every Wine suite takes (--lzhsfx, --stub32, --stub64,
    --out, --only): starts a session, runs make_suite(session, lzhsfx, out)'s
    cases and prints the closing count. 77 (skipped) when lzhsfx is not
    built, a tool in tools is missing or Wine cannot run the stub here."""
    import argparse
    skipped = 77
    ap = argparse.ArgumentParser()
    ap.add_argument("--lzhsfx", required=True)
    ap.add_argument("--stub32", required=True)
    ap.add_argument("--stub64", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--only", nargs="*")
    a = ap.parse_args()
    if not os.path.exists(a.lzhsfx):
        print(f"SKIP: {a.lzhsfx} is not built")
        return skipped
    for tool in tools:
        if not shutil.which(tool):
            print(f"SKIP: {tool} is missing")
            return skipped
    session = Session(a.out, a.stub32, a.stub64)
    try:
        try:
            session.start()
        except HarnessError as e:
            print(f"SKIP: Wine cannot run the stub here: {e}")
            return skipped
        suite = make_suite(session, os.path.abspath(a.lzhsfx), os.path.abspath(a.out))
        passed, failed = suite.run_all(a.only)
    finally:
        session.stop()
    print(f"screenshots and logs: {os.path.abspath(a.out)}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0
