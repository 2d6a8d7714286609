#!/usr/bin/env python3
"""Runs the built tool on a table of command lines, each in a fresh working
folder, and compares its standard output byte for byte, its standard error and
its exit status with the table's.

usage: cli_test.py [--crlf] [--no-posix] [--no-large] -- COMMAND...

COMMAND runs the tool (behind an emulator, for a cross build). --crlf expects
every newline as CR LF, as a Windows build writes them in text mode;
--no-posix leaves out the cases that need Linux (/proc, /dev, strace, sh);
--no-large the one that reads a 2 GiB image, which proves nothing under qemu.
"""
import argparse
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from typing import NamedTuple, Optional, Union

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
SAMPLE = (EXAMPLES / "sample.bin").read_bytes()
SAMPLE_OUT = (EXAMPLES / "sample.out").read_bytes().decode()

USAGE = "usage: rowtally start-address file-name\n"
WRITE_FAILED = "rowtally: cannot write standard output\n"
ZEROS_LINE = "00 F8 F0 E8 E0 D8 D0 C8 C0 B8 B0 A8 A0 98 90 88 \n"
ZERO_TO_F = bytes(range(16))
PATTERN = bytes(i % 251 for i in range(1 << 20))  # no row like the one 128 KiB on


class Prefix(NamedTuple):
    """Standard output that holds some but not all of the lines that the
    same run prints untroubled, then `tail`: what a run that fails part way
    must print."""
    tail: str


class Tail(NamedTuple):
    """Standard output of `lines` lines, the last of them `text`."""
    text: str
    lines: int


class Case(NamedTuple):
    name: str
    args: list
    image: Union[bytes, int, None] = None  # an int: a sparse file of that size
    out: Union[str, Prefix, Tail, None] = ""  # None: not looked at
    status: int = 0
    err: str = ""
    stdout: Optional[str] = None  # a file to write standard output to
    wrap: tuple = ()  # a command to run the tool under; {folder} is the working folder
    posix: bool = False  # needs Linux's /proc, /dev or strace
    image_name: str = "image.bin"  # "folder" always exists
    large: bool = False


def failing(syscall, when):
    """strace making the `when`-th read of the image, or write, fail."""
    path = ("-P", "{folder}/image.bin") if syscall == "read" else ()
    return ("strace", "-o", os.devnull, *path, "-e", f"trace={syscall}",
            "-e", f"inject={syscall}:error=EIO:when={when}")


def bad(text):
    return Case(f"refuses address {text!r}", [text, "missing.bin"],
                out=f"bad start address {text}\n", status=1)


def addr(text, out="D4 8C \n"):
    return Case(f"address {text!r}", [text, "image.bin"], ZERO_TO_F, out)


def named(name):
    return Case(f"image named {name}", ["0", name], ZERO_TO_F, "E4 9C \n", image_name=name)


CASES = [
    Case("no arguments", [], out=USAGE, status=1),
    Case("address alone", ["4000"], ZERO_TO_F, out=USAGE, status=1),
    Case("bad address alone", ["zz"], out=USAGE, status=1),
    Case("later arguments ignored", ["0", "image.bin", "x", "y"], ZERO_TO_F, "E4 9C \n"),
    addr("1000"), addr("0x1000"), addr("0X1000"), addr("  1000"), addr("1000zz"),
    addr("+1000"), addr("000000001000"),
    addr("-80", "65 1D \n"),
    bad("zz"), bad(""), bad("0x"), bad("0X"), bad("0xg"), bad("-"), bad("- 80"),
    bad("100000000"), bad("-100000000"),
    Case("unaligned address", ["4004", "image.bin"], ZERO_TO_F,
         "start address 4004 is not a multiple of 8\n", 1),
    Case("missing file", ["0", "missing.bin"], out="cannot open missing.bin\n", status=1),
    Case("directory", ["0", "folder"], out="cannot open folder\n", status=1),
    *map(named, ["прошивка.bin", "ファームウェア.bin", "εικόνα.bin", "📟 rom.bin"]),
    Case("missing file named in Japanese", ["0", "無い.bin"], out="cannot open 無い.bin\n",
         status=1),
    Case("empty file", ["0", "image.bin"], b""),
    Case("no whole row", ["0", "image.bin"], bytes(5), "\n"),
    Case("piece in a block of its own", ["0", "image.bin"], bytes(130), ZEROS_LINE + "\n"),
    Case("ends with its block", ["0", "image.bin"], bytes(128), ZEROS_LINE),
    Case("wraps at 2^32", ["-80", "image.bin"], bytes(136),
         "81 79 71 69 61 59 51 49 41 39 31 29 21 19 11 09 \n00 \n"),
    Case("sample image", ["4000", "image.bin"], SAMPLE, SAMPLE_OUT),
    # Past 2^31 bytes a 32-bit build without 64-bit file offsets cannot open it.
    Case("2 GiB image", ["0", "image.bin"], (1 << 31) + 8,
         Tail("00 \n", (1 << 31) // 128 + 1), large=True),
    Case("read failure", ["0", "/proc/self/mem"],
         out="cannot read /proc/self/mem\n", status=1, posix=True),
    Case("full device", ["0", "image.bin"], ZERO_TO_F, status=1, err=WRITE_FAILED,
         stdout="/dev/full", posix=True),
    Case("full device, long output", ["0", "image.bin"], bytes(1 << 16), status=1,
         err=WRITE_FAILED, stdout="/dev/full", posix=True),
    Case("read error part way", ["0", "image.bin"], PATTERN,
         Prefix("cannot read image.bin\n"), 1, wrap=failing("read", 2), posix=True),
    Case("write error part way", ["0", "image.bin"], PATTERN, None, 1, WRITE_FAILED,
         wrap=failing("write", 2), posix=True),
    Case("closed standard output", ["0", "image.bin"], ZERO_TO_F, None, 1, WRITE_FAILED,
         wrap=("sh", "-c", 'exec "$@" >&-', "sh"), posix=True),
]


def run(command, case, crlf):
    with tempfile.TemporaryDirectory() as folder:
        os.mkdir(os.path.join(folder, "folder"))
        image = Path(folder, case.image_name)
        if isinstance(case.image, int):
            with open(image, "wb") as f:
                f.truncate(case.image)
        elif case.image is not None:
            image.write_bytes(case.image)
        sink = open(case.stdout, "wb") if case.stdout else subprocess.PIPE
        try:
            wrap = [arg.replace("{folder}", folder) for arg in case.wrap]
            # Wine maps file names through the locale: it must be UTF-8.
            done = subprocess.run([*wrap, *command, *case.args], cwd=folder,
                                  stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.PIPE,
                                  env={**os.environ, "LC_ALL": "C.UTF-8"}, timeout=600)
        finally:
            if sink is not subprocess.PIPE:
                sink.close()
        if isinstance(case.out, Prefix):
            full = subprocess.run([*command, *case.args], cwd=folder, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=120).stdout

    def text(s):
        return s.replace("\n", "\r\n" if crlf else "\n").encode()

    faults = []
    out = done.stdout or b""
    if isinstance(case.out, Prefix):
        tail = text(case.out.tail)
        head = out[:-len(tail)]
        if not (out.endswith(tail) and head and full.startswith(head) and len(head) < len(full)
                and head.endswith(text("\n"))):
            faults.append(f"  stdout: expected some whole lines of the output, then {tail!r}, "
                          f"got {len(out)} bytes ending {out[-80:]!r}")
    elif isinstance(case.out, Tail):
        end, lines = out[out.rfind(b"\n", 0, len(out) - 1) + 1:], out.count(b"\n")
        if end != text(case.out.text) or lines != case.out.lines:
            faults.append(f"  stdout: expected {case.out.lines} lines, the last "
                          f"{text(case.out.text)!r}, got {lines}, the last {end!r}")
    elif case.out is not None and out != text(case.out):
        faults.append(f"  stdout: expected {text(case.out)!r}, got {out!r}")
    if done.stderr != text(case.err):
        faults.append(f"  stderr: expected {text(case.err)!r}, got {done.stderr!r}")
    if done.returncode != case.status:
        faults.append(f"  status: expected {case.status}, got {done.returncode}")
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--crlf", action="store_true")
    parser.add_argument("--no-posix", action="store_true")
    parser.add_argument("--no-large", action="store_true")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    options.command[-1] = os.path.abspath(options.command[-1])  # the tool; cases run elsewhere

    cases = [c for c in CASES
             if not (c.posix and options.no_posix or c.large and options.no_large)]
    # In parallel: under Wine, each run alone costs seconds of start-up.
    with ThreadPoolExecutor(max_workers=8) as pool:
        results = pool.map(lambda case: run(options.command, case, options.crlf), cases)
    failed = 0
    for case, faults in zip(cases, results):
        if faults:
            failed += 1
            print(f"FAIL {case.name}: {case.args}", *faults, sep="\n")
    print(f"{len(cases) - failed} passed, {failed} failed, {len(CASES) - len(cases)} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
