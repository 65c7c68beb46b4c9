# The help, the manual page and the bash completion against the program's own
# description of its commands: every option a command's --help lists (the
# help is made from the same description the parser reads) must have its
# words there, stand in the command's synopsis and in OPTIONS of
# docs/lzhsfx.1, and be offered, with its values, by the completion for
# that command, which offers nothing else. Also the one form of usage errors.
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lzhtool import Checker, run  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
MANUAL = os.path.join(SRC, "docs", "lzhsfx.1")
COMPLETION = os.path.join(SRC, "scripts", "lzhsfx-completion.bash")
c = Checker("help")

# [-q]  [-C DIR]  [-m lh0|lh5]  [--names=auto|cp932]  [--overwrite[=ask|always]]
TOKEN = re.compile(r"\[(-[-\w]+)(?:( )([^\]\[]+)|=([^\]\[]+)|\[=([^\]]+)\])?\]")


def options_of(help_text):
    """The options the usage line names: (name, kind, values)."""
    usage = help_text.split("\n\n", 1)[0]
    found = []
    for m in TOKEN.finditer(usage):
        name, space, separate, joined, optional = m.groups()
        if separate is not None:
            kind, values = "separate", separate
        elif joined is not None:
            kind, values = "joined", joined
        elif optional is not None:
            kind, values = "optional", optional
        else:
            kind, values = "none", ""
        choices = values.split("|") if "|" in values else []
        found.append((name, kind, choices))
    return found


def manual_sections():
    with open(MANUAL, encoding="utf-8") as f:
        text = f.read().replace("\\-", "-").replace("\\fI", "").replace("\\fR", "").replace("\\fP", "")
    sections = dict(re.findall(r"^\.SH (\S+)\n(.*?)(?=^\.SH |\Z)", text, re.M | re.S))
    synopsis = {}
    for block in sections["SYNOPSIS"].split(".br\n"):
        m = re.match(r"\.B lzhsfx (\w+)", block.strip())
        if m:
            synopsis[m.group(1)] = block
    return synopsis, sections["OPTIONS"]


def completion(words):
    line = " ".join(f'"{w}"' for w in words)
    p = subprocess.run(["bash", "-c", f'source "{COMPLETION}"; COMP_WORDS=({line}); '
                        f'COMP_CWORD={len(words) - 1}; _lzhsfx; printf "%s\\n" "${{COMPREPLY[@]}}"'],
                       capture_output=True, timeout=30)
    return set(p.stdout.decode().split())


def main():
    rc, main_help, _ = run([LZHSFX, "--help"])
    commands = re.findall(r"^  (\w+) ", main_help, re.M)
    c.check(rc == 0 and len(commands) >= 9, f"the main help lists the commands: {commands}")
    synopsis, options_section = manual_sections()
    for cmd in commands:
        rc, help_text, _ = run([LZHSFX, cmd, "--help"])
        options = options_of(help_text)
        # Fault: help made wider than a terminal.
        c.check(rc == 0 and all(len(l) <= 80 for l in help_text.splitlines()), f"{cmd} --help fits 80 columns")
        expected = {"--help"}
        for name, kind, choices in options:
            # Fault: an option added without its description.
            entry = re.search(rf"^  {re.escape(name)}(?:[ =\[]\S+)?( {{2,}}\S|\n {{4,}}\S)",
                              help_text, re.M)
            c.check(entry is not None, f"{cmd} --help describes {name}")
            # Fault: an option added without its manual entry.
            c.check(cmd in synopsis and re.search(rf"{re.escape(name)}(?![-\w])", synopsis[cmd]),
                    f"the manual's synopsis of {cmd} names {name}")
            c.check(re.search(rf"^\.B\w* {re.escape(name)}(?![-\w])", options_section, re.M),
                    f"the manual's OPTIONS describe {name}")
            if kind in ("none", "separate", "optional"):
                expected.add(name)
            if kind in ("joined", "optional"):
                expected |= {f"{name}={v}" for v in choices}
            if kind == "separate" and choices:
                # Fault: the values of an option not completed after it.
                c.check(completion(["lzhsfx", cmd, "arc", name, ""]) == set(choices),
                        f"completion offers the values of {cmd} {name}")
        # Fault: an option added without its completion, or one left behind.
        offered = completion(["lzhsfx", cmd, "-"])
        c.check(offered == expected, f"completion of {cmd} options: missing {sorted(expected - offered)}, "
                                     f"extra {sorted(offered - expected)}")
        # Fault: a command whose usage errors take another form.
        rc, _, err = run([LZHSFX, cmd, "--no-such-option"])
        c.check(rc == 2 and err.startswith(f"lzhsfx {cmd}: unknown option '--no-such-option'\n")
                and f'"lzhsfx {cmd} --help"' in err, f"{cmd}: the one form of a usage error: {err!r}")
    c.check(completion(["lzhsfx", ""]) >= set(commands), "completion offers every command")
    c.done()


main()
