#!/usr/bin/env python3
# The stub under Wine on three Windows locales: ANSI code page 1252
# (en_US), 936 (zh_CN) and 932 (ja_JP). The stub keeps its texts in CP932
# and converts them itself at every system call, so each locale must give
# the same result: Japanese member names (with trail bytes 0x5C) created
# under the right names, the dialog, message box and chooser showing their
# Japanese texts, and a folder whose name has no CP932 form refused instead
# of being turned into another path. Then the main dialog at 96 and 144 DPI.
# Screenshots stay in the output folder.
import os
import shutil
import subprocess
import sys
from xml.etree import ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
from lzhtool import archive, member  # noqa: E402
from wineharness import (run_suite_main, ID_BROWSE, ID_CANCEL, ID_DEST_EDIT, ID_OK, ID_YES,  # noqa: E402
                         Failure, SuiteBase, check)

RUN_SECONDS = 60
# Each locale with the ANSI code page Wine gives its programs.
LOCALES = [("en_US.UTF-8", 1252), ("zh_CN.UTF-8", 936), ("ja_JP.UTF-8", 932)]
ID_PROMPT = 103
ID_CHOOSER_DIR = 1088

# Exit codes of the stub (see test_stub.py): 1 once an extraction ran from
# OK, 0 after Cancel in the idle dialog.
EXIT_AFTER_RUN = 1
EXIT_IDLE_CANCEL = 0

TITLE = "テスト書庫"
PROMPT = "解凍先フォルダ:"
MESSAGE = "使用許諾に同意しますか？\nはいを押すと解凍します。\n"
CHOOSER_TITLE = "ﾃﾞｨﾚｸﾄﾘの参照"
BAD_DIRECTORY = "ﾃﾞｨﾚｸﾄﾘ名が正しくありません"
OPEN_ERROR = "オープンエラー"
# Member names: a half-width katakana folder, kanji, and names whose
# second CP932 byte is 0x5C, the backslash, which a byte-wise path split
# would cut. Each is stored by a different method.
FILES = {"ﾃｽﾄ/日本語.txt": ("日本語のテキストです。\r\n".encode("cp932") * 40, "5"),
         "表.txt": (b"table\r\n" * 300, "7"),
         "ソフト/能力.bin": (bytes(range(256)) * 8, "0")}
TRAIL_5C = ["表", "ソ", "能"]
# Folders: one with a Japanese name, one whose name has no CP932 form.
JAPANESE_DIR = "解凍先"
NO_CP932_DIR = "한국어"


# What the manifest names: every system from Vista to 11 by its published
# compatibility identifier, and common controls 6 by its full identity.
SUPPORTED_OS = {"Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                "7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                   "version": "6.0.0.0", "processorArchitecture": "*",
                   "publicKeyToken": "6595b64144ccf1df"}


# The premises the cases rest on, checked here rather than assumed.
for ch in TRAIL_5C:
    check(ch.encode("cp932")[1] == 0x5C, f"{ch} has no trail byte 0x5C in CP932")
try:
    NO_CP932_DIR.encode("cp932")
    raise Failure(f"{NO_CP932_DIR} has a CP932 form")
except UnicodeEncodeError:
    pass


class Suite(SuiteBase):
    def sfx(self, work, with_message=False):
        """The archive of FILES (written by the tests' own writer, names in
        CP932) as a self-extracting file with the Japanese title and prompt,
        and the message when asked for."""
        lzh = os.path.join(work, "names.lzh")
        with open(lzh, "wb") as f:
            f.write(archive(*[member(name, data, method) for name, (data, method) in FILES.items()]))
        exe = os.path.join(work, "names.exe")
        options = ["--title", TITLE, "--prompt", PROMPT]
        if with_message:
            text = os.path.join(work, "message.txt")
            with open(text, "w", encoding="utf-8") as f:
                f.write(MESSAGE)
            options += ["--message", text]
        r = subprocess.run([self.lzhsfx, "create", exe, "--stub", self.s.stub, "--from-lzh", lzh,
                            *options], capture_output=True, timeout=120)
        check(r.returncode == 0, "lzhsfx create: " + r.stderr.decode("utf-8", "replace"))
        return exe

    def extracted(self, dest):
        """Relative names (UTF-8, as Linux sees them) and contents under dest."""
        found = {}
        for root, _, names in os.walk(dest):
            for n in names:
                path = os.path.join(root, n)
                with open(path, "rb") as f:
                    found[os.path.relpath(path, dest)] = f.read()
        return found

    def check_names(self, dest):
        got = self.extracted(dest)
        check(set(got) == set(FILES), f"extracted {sorted(got)}, expected {sorted(FILES)}")
        for name, (data, _) in FILES.items():
            check(got[name] == data, f"{name} differs from the original")

    def everything_under(self, work):
        return sorted(os.path.relpath(os.path.join(r, n), work)
                      for r, ds, fs in os.walk(work) for n in ds + fs)

    # ---- the cases, run once per locale -------------------------------------
    # Would catch: the harness not switching Wine's code page, so that the
    # other cases would prove nothing about other locales.
    def case_code_page(self, lang, acp):
        got = self.s.code_pages()[0]
        check(got == acp, f"{lang}: Wine's ANSI code page is {got}, expected {acp}")

    # Would catch: names converted with the system's code page instead of
    # 932 (mojibake on Linux), a path split inside a character whose second
    # byte is 0x5C, a Japanese destination on the command line not reaching
    # the stub intact, or wrong bytes.
    def case_auto_names(self, lang, acp):
        work = self.work_dir(f"{lang}-auto")
        exe = self.sfx(work)
        dest = os.path.join(work, JAPANESE_DIR)
        code = self.s.finish(self.s.start_program(exe, ["-n", self.s.windows_path(dest)]),
                             RUN_SECONDS)
        check(code == EXIT_AFTER_RUN, f"exit code {code}")
        self.check_names(dest)

    # Would catch: the message, the caption, the prompt, the destination
    # field or the chooser shown as mojibake; the chooser's folder not
    # coming back as the destination; OK not extracting there.
    def case_dialog_texts(self, lang, acp):
        work = self.work_dir(f"{lang}-dialog")
        exe = self.sfx(work, with_message=True)
        start = os.path.join(work, JAPANESE_DIR)
        os.makedirs(start)
        proposed = os.path.join(work, "未使用")
        p = self.s.start_program(exe, ["-n-", self.s.windows_path(proposed)], cwd=start)
        box = self.s.wait_window("message", process=p)
        check(box.caption == TITLE, f"message caption {box.caption!r}")
        check("使用許諾に同意しますか" in box.text(), f"message text {box.text()!r}")
        self.s.screenshot(f"message-{lang}.png")
        self.s.click(box, ID_YES)
        dialog = self.s.wait_window("main", process=p)
        check(dialog.caption == TITLE, f"dialog caption {dialog.caption!r}")
        check(dialog.controls[ID_PROMPT].text == PROMPT, f"prompt {dialog.controls[ID_PROMPT].text!r}")
        shown = dialog.controls[ID_DEST_EDIT].text
        check(shown == self.s.windows_path(proposed), f"destination field shows {shown!r}")
        self.s.screenshot(f"main-dialog-{lang}.png")
        self.s.click(dialog, ID_BROWSE)
        chooser = self.s.wait_window("chooser", process=p)
        check(chooser.caption == CHOOSER_TITLE, f"chooser caption {chooser.caption!r}")
        self.s.screenshot(f"chooser-{lang}.png")
        self.s.click(chooser, ID_OK)
        self.s.wait_gone(chooser)
        dialog = self.s.wait_window("main", process=p)
        shown = dialog.controls[ID_DEST_EDIT].text
        check(shown == self.s.windows_path(start), f"chosen folder shows as {shown!r}")
        self.s.click(dialog, ID_OK)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_AFTER_RUN, f"exit code {code}")
        self.check_names(start)
        check(not os.path.exists(proposed), "the proposed folder was created")

    # Would catch: a chosen folder whose name has no CP932 form taken with
    # '?' (or a look-alike) in its place, instead of the invalid-directory
    # warning with the chooser left open.
    def case_chooser_refuses(self, lang, acp):
        work = self.work_dir(f"{lang}-refuse")
        exe = self.sfx(work)
        start = os.path.join(work, NO_CP932_DIR)
        os.makedirs(start)
        proposed = os.path.join(work, JAPANESE_DIR)
        p = self.s.start_program(exe, ["-n-", self.s.windows_path(proposed)], cwd=start)
        dialog = self.s.wait_window("main", process=p)
        self.s.click(dialog, ID_BROWSE)
        chooser = self.s.wait_window("chooser", process=p)
        self.s.click(chooser, ID_OK)
        box = self.s.wait_window("message", process=p, text=BAD_DIRECTORY)
        check(box.caption == TITLE, f"warning caption {box.caption!r}")
        self.s.screenshot(f"chooser-refuses-{lang}.png")
        self.s.click(box, ID_OK)
        self.s.wait_gone(box)
        chooser = self.s.wait_window("chooser", process=p)
        self.s.click(chooser, ID_CANCEL)
        self.s.wait_gone(chooser)
        dialog = self.s.wait_window("main", process=p)
        shown = dialog.controls[ID_DEST_EDIT].text
        check(shown == self.s.windows_path(proposed), f"destination changed to {shown!r}")
        self.s.click(dialog, ID_CANCEL)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_IDLE_CANCEL, f"exit code {code}")
        left = self.everything_under(work)
        check(left == sorted(["names.exe", "names.lzh", NO_CP932_DIR]), f"written: {left}")

    # Would catch: a destination on the command line whose name has no CP932
    # form mapped to another folder (its character turned into '?' and then
    # '_', or dropped) and written to, instead of the invalid-directory
    # warning that -n cannot get past.
    def case_command_line_refuses(self, lang, acp):
        work = self.work_dir(f"{lang}-cmdline")
        exe = self.sfx(work)
        dest = os.path.join(work, NO_CP932_DIR, "out")
        p = self.s.start_program(exe, ["-n", self.s.windows_path(dest)])
        box = self.s.wait_window("message", process=p, text=BAD_DIRECTORY)
        self.s.click(box, ID_OK)
        self.s.wait_gone(box)
        self.s.click(self.s.wait_window("main", process=p), ID_CANCEL)
        code = self.s.finish(p, RUN_SECONDS)
        check(code == EXIT_IDLE_CANCEL, f"exit code {code}")
        left = self.everything_under(work)
        check(left == ["names.exe", "names.lzh"], f"written: {left}")

    # Would catch: the program failing to open itself when its own path has
    # a character with no CP932 form (a user folder named in another
    # script), which the short form of the path must get around.
    def case_program_in_foreign_folder(self, lang, acp):
        work = self.work_dir(f"{lang}-foreign")
        exe = self.sfx(work)
        inside = os.path.join(work, NO_CP932_DIR)
        os.makedirs(inside)
        moved = shutil.move(exe, os.path.join(inside, "names.exe"))
        dest = os.path.join(work, "out")
        code = self.s.finish(self.s.start_program(moved, ["-n", self.s.windows_path(dest)]),
                             RUN_SECONDS)
        check(code == EXIT_AFTER_RUN, f"exit code {code}")
        self.check_names(dest)

    # ---- the manifest and the main dialog at two screen densities -------------
    # Would catch: a manifest that loses or misspells what it asks for (a
    # supported system, the DPI awareness, common controls 6 with its exact
    # identity), each written out here by hand; a manifest the XML parser
    # rejects.
    def case_manifest(self):
        with open(self.s.stub, "rb") as f:
            image = f.read()
        start, end = image.find(b"<?xml"), image.find(b"</assembly>")
        check(start >= 0 and end > start, "no manifest in the stub")
        root = ElementTree.fromstring(image[start:end + len(b"</assembly>")])
        ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
              "c": "urn:schemas-microsoft-com:compatibility.v1",
              "ws": "http://schemas.microsoft.com/SMI/2005/WindowsSettings"}
        supported = {e.get("Id") for e in root.findall("c:compatibility/c:application/c:supportedOS", ns)}
        check(supported == set(SUPPORTED_OS.values()),
              f"supported systems missing: {sorted(k for k, v in SUPPORTED_OS.items() if v not in supported)}")
        aware = root.find("v3:application/v3:windowsSettings/ws:dpiAware", ns)
        check(aware is not None and aware.text == "true", "the manifest asks for no DPI awareness")
        level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
        check(level is not None and level.get("level") == "asInvoker", "execution level")
        ids = [e.attrib for e in root.findall("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)]
        check(ids == [COMMON_CONTROLS], f"dependencies {ids}")

    # Would catch: a dialog that does not grow with the screen's DPI, and
    # leaves the screenshots to look at. (Wine draws every program at the
    # screen's DPI, aware or not, so the awareness itself shows only in the
    # manifest.) The templates' bitmap font comes in steps, so the growth
    # from 96 to 144 DPI is near 1.5 but not exactly.
    def case_dpi(self):
        work = self.work_dir("dpi")
        exe = self.sfx(work)
        widths = {}
        try:
            for dpi in (96, 144):
                self.s.set_dpi(dpi)
                p = self.s.start_program(exe, ["-n-", self.s.windows_path(os.path.join(work, "out"))])
                dialog = self.s.wait_window("main", process=p)
                widths[dpi] = dialog.rect[2] - dialog.rect[0]
                self.s.screenshot(f"main-dialog-{dpi}dpi.png")
                self.s.click(dialog, ID_CANCEL)
                code = self.s.finish(p, RUN_SECONDS)
                check(code == EXIT_IDLE_CANCEL, f"{dpi} DPI: exit code {code}")
        finally:
            self.s.set_dpi(96)
        ratio = widths[144] / widths[96]
        print(f"  dialog width {widths[96]} px at 96 DPI, {widths[144]} px at 144 DPI")
        check(1.2 <= ratio <= 1.7, f"the dialog grew {ratio:.2f} times from 96 to 144 DPI")

    # ---- running -------------------------------------------------------------
    def run_all(self, only=None):
        once = ("case_manifest", "case_dpi")
        cases = [(n[5:], getattr(self, n)) for n in Suite.__dict__
                 if n.startswith("case_") and n not in once]
        for lang, acp in LOCALES:
            self.s.lang = lang
            for name, case in cases:
                if not only or name in only:
                    self.attempt(f"{name} [{lang}]", case, lang, acp)
        self.s.lang = "ja_JP.UTF-8"
        for name in once:
            if not only or name[5:] in only:
                self.attempt(name[5:], getattr(self, name))
        return self.counts()



if __name__ == "__main__":
    sys.exit(run_suite_main(Suite, ()))
