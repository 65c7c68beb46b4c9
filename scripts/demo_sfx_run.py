#!/usr/bin/env python3
# Runs the demo's self-extracting file under Wine + Xvfb: once waiting in the
# dialog (screenshots of the message question and the dialog, then Cancel),
# once in automatic mode (-n) into a fresh folder. Exits 0 after the
# automatic run ended normally, 3 when Wine cannot run here (the reason is
# printed), 1 on any other failure.
import argparse
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))
from wineharness import ID_CANCEL, ID_YES, HarnessError, Session  # noqa: E402

CANNOT_RUN = 3
RUN_SECONDS = 120
EXIT_AFTER_RUN = 1  # the dialog's result once an extraction ran from OK


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe32", required=True, help="the SFX built on the 32-bit stub")
    ap.add_argument("--exe64", help="the same SFX built on the 64-bit twin")
    ap.add_argument("--stub32", required=True)
    ap.add_argument("--stub64", required=True)
    ap.add_argument("--dest", required=True)
    ap.add_argument("--shots", required=True, help="folder for dialog.png and message.png")
    ap.add_argument("--work", required=True, help="folder for the Wine prefix and log")
    a = ap.parse_args()

    session = Session(a.work, a.stub32, a.stub64)
    try:
        try:
            session.start()
        except HarnessError as e:
            print(f"Wine cannot run the stub here: {e}")
            return CANNOT_RUN
        exe = a.exe32 if session.bits == 32 else a.exe64
        if not exe or not os.path.exists(exe):
            print(f"no self-extracting file for the {session.bits}-bit stub")
            return CANNOT_RUN
        print(f"running {os.path.relpath(exe)} ({session.bits}-bit stub) under Wine")
        dest_win = session.windows_path(a.dest)

        # First run: stop in the dialog for the pictures.
        p = session.start_program(os.path.abspath(exe), ["-n-", dest_win])
        box = session.wait_window("message", process=p)
        shutil.copy(session.screenshot("message.png"), os.path.join(a.shots, "message.png"))
        session.click(box, ID_YES)
        dialog = session.wait_window("main", process=p)
        shutil.copy(session.screenshot("dialog.png"), os.path.join(a.shots, "dialog.png"))
        session.click(dialog, ID_CANCEL)
        session.finish(p, RUN_SECONDS)

        # Second run: automatic mode into the fresh folder.
        shutil.rmtree(a.dest, ignore_errors=True)
        os.makedirs(a.dest)
        started = time.monotonic()
        p = session.start_program(os.path.abspath(exe), ["-n", dest_win])
        session.click(session.wait_window("message", process=p), ID_YES)
        code = session.finish(p, RUN_SECONDS)
        print(f"automatic run ended with exit code {code} after {time.monotonic() - started:.1f} s")
        return 0 if code == EXIT_AFTER_RUN else 1
    except HarnessError as e:
        print(f"the run under Wine failed: {e}")
        return 1
    finally:
        session.stop()


if __name__ == "__main__":
    sys.exit(main())
