#!/usr/bin/env python3
"""Runs the examples of the README's part for users, and of the manual page,
and compares what each command prints with the lines shown under it, so that
the documents and the program cannot drift apart.

usage: readme_test.py [--crlf] [--man PAGE] README -- COMMAND...

An example is a code block, indented or fenced, whose first line starts with
"$ ": each such line is a command, the lines up to the next one its output,
standard output and standard error together. A line "..." stands for one or
more lines left out. Each example runs in a fresh folder holding a copy of
examples/, its commands one after another under sh, with a `rowtally` first
on PATH that runs COMMAND (behind an emulator, for a cross build). --crlf
takes CR LF for LF in the output, as a Windows build writes it. The manual
page's examples are its .EX blocks, roff's escapes read as the page shows
them, and each runs in a copy of examples/ itself, as they name its files.
"""
import re
import argparse
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
from functools import lru_cache
from pathlib import Path

USERS_PART_ENDS = "# Working on rowtally"


def blocks(text):
    """The README's code blocks before USERS_PART_ENDS: (first line number, lines)."""
    lines = text.split("\n")
    if USERS_PART_ENDS in lines:
        lines = lines[:lines.index(USERS_PART_ENDS)]
    found, k = [], 0
    while k < len(lines):
        if lines[k].startswith("```"):
            end = next((e for e in range(k + 1, len(lines)) if lines[e].startswith("```")),
                       len(lines))
            found.append((k + 2, lines[k + 1:end]))
            k = end + 1
        elif lines[k].startswith("    ") and (k == 0 or lines[k - 1].strip() == ""):
            end = k
            while end < len(lines) and lines[end].startswith("    "):
                end += 1
            found.append((k + 1, [line[4:] for line in lines[k:end]]))
            k = end
        else:
            k += 1
    return found


def man_blocks(text):
    """The manual page's .EX blocks: (first line number, lines as shown)."""
    escapes = {"-": "-", "&": "", "e": "\\", "\\": "\\"}
    found, lines, start = [], None, 0
    for number, line in enumerate(text.split("\n"), 1):
        if line == ".EX":
            lines, start = [], number + 1
        elif line == ".EE" and lines is not None:
            found.append((start, lines))
            lines = None
        elif lines is not None:
            lines.append(re.sub(r"\\([-&e\\])", lambda m: escapes[m.group(1)], line))
    return found


def examples(text, man=False):
    """Each example: its line number and its commands, each with the lines shown."""
    found = []
    for number, lines in (man_blocks(text) if man else blocks(text)):
        if not lines or not lines[0].startswith("$ "):
            continue
        commands = []
        for line in lines:
            if line.startswith("$ "):
                commands.append((line[2:], []))
            else:
                commands[-1][1].append(line)
        found.append((number, commands))
    return found


def matches(shown, got):
    """Whether the lines `got` are the lines `shown`, each "..." standing for
    one or more lines."""
    @lru_cache(maxsize=None)
    def match(s, g):
        if s == len(shown):
            return g == len(got)
        if shown[s] == "...":
            return any(match(s + 1, k) for k in range(g + 1, len(got) + 1))
        return g < len(got) and shown[s] == got[g] and match(s + 1, g + 1)
    return match(0, 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--crlf", action="store_true")
    parser.add_argument("--man")
    parser.add_argument("readme")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    readme = Path(options.readme).resolve()
    command = options.command
    command[-1] = os.path.abspath(command[-1])
    found = [(readme.name, False, number, commands)
             for number, commands in examples(readme.read_text(encoding="utf-8"))]
    if options.man:
        man = Path(options.man).resolve()
        found += [(man.name, True, number, commands)
                  for number, commands in examples(man.read_text(encoding="utf-8"), man=True)]

    failed = 0
    with tempfile.TemporaryDirectory() as bin_folder:
        tool = Path(bin_folder, "rowtally")
        tool.write_text("#!/bin/sh\nexec " + " ".join(map(shlex.quote, command)) + ' "$@"\n')
        tool.chmod(0o755)
        env = {**os.environ, "PATH": bin_folder + os.pathsep + os.environ.get("PATH", ""),
               "LC_ALL": "C.UTF-8"}
        for name, man, number, commands in found:
            with tempfile.TemporaryDirectory() as folder:
                shutil.copytree(readme.parent / "examples", Path(folder, "examples"))
                where = Path(folder, "examples") if man else folder
                for line, shown in commands:
                    done = subprocess.run(["sh", "-c", line], cwd=where, env=env,
                                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT, timeout=600)
                    out = done.stdout.decode("utf-8", "backslashreplace")
                    if options.crlf:
                        out = out.replace("\r\n", "\n")
                    got = out.split("\n")
                    if got[-1] == "":
                        got.pop()
                    if not matches(shown, got):
                        failed += 1
                        print(f"FAIL {name}:{number}: $ {line}", "  shown:",
                              *(f"    {s}" for s in shown), "  got:", *(f"    {g}" for g in got),
                              sep="\n")
    print(f"{len(found)} examples run, {sum(len(c) for *_, c in found)} commands, "
          f"{failed} failed")
    return 1 if failed or not found else 0


if __name__ == "__main__":
    sys.exit(main())
