#!/usr/bin/env python3
"""Runs the built tool on a table of command lines, each in a fresh working
folder, and compares its standard output byte for byte, its standard error and
its exit status with the table's.

usage: cli_test.py [--crlf] [--no-posix] [--no-large] [--change-library LIB] -- COMMAND...

COMMAND runs the tool (behind an emulator, for a cross build). --crlf expects
every newline as CR LF, as a Windows build writes them in text mode;
--no-posix leaves out the cases that need Linux (/proc, /dev, strace, sh);
--no-large the one that reads a 2 GiB image, which proves nothing under qemu;
LIB, loaded into the tool, changes a file between its two readings: the
cases that need it are left out without it.
"""
import argparse
import hashlib
import os
import random
import shutil
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
# The sample with byte C8 + 3 gone wrong, and its one report.
COPY = SAMPLE[:203] + b"\x5a" + SAMPLE[204:]
WRONG_BYTE = "000040C8: listing D5 (line 2), image 8C, offset C8, bytes E2 6D F8 5A 91 29 7E 93\n"
SAMPLE_LINES = SAMPLE_OUT.splitlines(keepends=True)
TYPED = SAMPLE_OUT.replace(" \n", "\n").replace(" ", " \t  ").lower()  # as people type it
ALL_MATCH = "all 37 rows match, 4 bytes after the last row unchecked\n"
PATTERN = bytes(i % 251 for i in range(1 << 20))  # no row like the one 128 KiB on
# A 4 KiB image at 4000 and its listing, 32 lines of 16 values, to make slips in.
IMAGE = b"".join(hashlib.sha256(bytes([i])).digest() for i in range(128))
VALUES = ["%02X" % (-(a // 256 % 256 + a % 256 + sum(IMAGE[a - 0x4000:a - 0x3FF8])) % 256)
          for a in range(0x4000, 0x5000, 8)]
LINES = [" ".join(VALUES[k:k + 16]) + " \n" for k in range(0, 512, 16)]
# Its first half, then fill, as an EPROM holds a program, and that listing.
FILLED = IMAGE[:0x800] + b"\xff" * 0x800
FILLED_OUT = "".join(LINES[:16]) + "".join(
    " ".join("%02X" % (-(a // 256 % 256 + a % 256 + 8 * 0xFF) % 256) for a in range(b, b + 128, 8)) + " \n"
    for b in range(0x4800, 0x5000, 128))


class Prefix(NamedTuple):
    """Standard output that holds some but not all of the lines that the
    same run prints untroubled, then `tail`: what a run that fails part way
    must print."""
    tail: str


class Tail(NamedTuple):
    """Standard output of `lines` lines, ending in `text`."""
    text: str
    lines: int


class After(NamedTuple):
    """Standard output that ends in `tail`, whatever comes before it, but
    no verdict of a check."""
    tail: str


class Case(NamedTuple):
    name: str
    args: list
    image: Union[bytes, int, None] = None  # an int: a sparse file of that size
    out: Union[str, Prefix, Tail, After, None] = ""  # None: not looked at
    status: int = 0
    err: str = ""
    stdout: Optional[str] = None  # a file to write standard output to
    wrap: tuple = ()  # a command to run the tool under; {folder} is the working folder, {library} LIB
    posix: bool = False  # needs Linux's /proc, /dev or strace
    image_name: str = "image.bin"  # "folder" always exists
    large: bool = False
    listing: Optional[bytes] = None  # written to listing_name
    listing_name: str = "listing.txt"
    needs: str = ""  # the program that made the image: the case is skipped where it is missing


HELP = Tail("The manual: man rowtally; on Windows, README.txt beside rowtally.exe.\n", 30)


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


def check(name, listing, out, status=1, image=SAMPLE, start="4000", args=None,
          listing_name="listing.txt", **more):
    """`rowtally --check listing.txt 4000 image.bin`, the sample image by default."""
    args = args or ["--check", listing_name, start, "image.bin"]
    listing = listing.encode() if isinstance(listing, str) else listing
    return Case(f"check: {name}", args, image, out, status, listing=listing,
                listing_name=listing_name, **more)


def slip(name, listing, out, status=1):
    """--check of the 4 KiB image against its listing made over, 512 rows."""
    if isinstance(listing, list):
        listing = " ".join(listing) + "\n"
    tail = "all 512 rows match\n" if status == 0 else ""
    return check(name, listing, out + tail, status, image=IMAGE)


def edited(k, *values):
    """The listing's values with value k replaced by `values`."""
    return VALUES[:k] + list(values) + VALUES[k + 1:]


def lack(at, n=1, image=IMAGE):
    return image[:at] + image[at + n:]


def double(at, n=1, image=IMAGE):
    return image[:at + n] + image[at:]


def lost(name, image, out, listing="".join(LINES), options=()):
    """--check of an image with bytes left out or typed twice against the 4 KiB image's listing."""
    return Case(f"image slip: {name}", ["--check", "listing.txt", *options, "4000", "image.bin"], image,
                out, 1, listing=listing.encode())


def part(name, options, out, image=ZERO_TO_F, status=0, **more):
    """Part of a file as the image, in either mode."""
    return Case(f"part of a file: {name}", [*options, "0", "image.bin"], image, out, status, **more)


def bad_count(option, text, check=False):
    args = ["--check=listing.txt"] * check + [f"--{option}={text}", "0", "missing.bin"]
    return Case(f"refuses --{option}={text!r}{' with --check' * check}", args,
                out=f"bad {option} {text}\n", status=1 + check)


def fit(name, image, start, out, lines, options=(), listing="".join(LINES)):
    """--check of the 4 KiB image's listing against an image read from the wrong place."""
    return Case(f"fit: {name}", ["--check", "listing.txt", *options, start, "image.bin"], image,
                Tail(out, lines), 1, listing=listing.encode())


def late(option, *args, status=1, before=()):
    """One of rowtally's options after the file name, where it would go unseen."""
    return Case(f"option after the file name: {[*before, *args]}",
                [*before, "0", "image.bin", *args], ZERO_TO_F,
                f"option {option} must come before the start address\n" + USAGE, status)


def shown(name, args, out, status=1, **more):
    """A message naming an argument that holds bytes a terminal would act on."""
    return Case(f"shown safely: {name}", args, out=out, status=status, **more)


def named(name):
    return Case(f"image named {name}", ["0", name], ZERO_TO_F, "E4 9C \n", image_name=name)


def scanned(image, start):
    """What rowtally prints for `image` at `start`: a line per block touched,
    rows at multiples of 8."""
    lines = {}
    for at in range(-start % 8, len(image) - 7, 8):
        a = (start + at) % (1 << 32)
        lines.setdefault(a // 128, []).append("%02X " % (-(a % 256 + a // 256 % 256 + sum(image[at:at + 8])) % 256))
    blocks = range(start // 128, (start + len(image) + 127) // 128) if image else []
    return "".join("".join(lines.get(b % (1 << 25), [])) + "\n" for b in blocks)


def ihex(ll, address, kind, data=(), digits=None):
    """An Intel HEX record; `digits` in place of its own, and ll of its own
    making where it is None."""
    data = list(data)
    ll = len(data) if ll is None else ll
    b = [ll, address >> 8 & 0xFF, address & 0xFF, kind] + data
    text = "".join("%02X" % x for x in b) + "%02X" % (-sum(b) % 256)
    return ":" + (digits if digits is not None else text)


def srec(kind, address, data=(), count=None):
    """An S-record of type `kind`."""
    width = {0: 2, 1: 2, 2: 3, 3: 4, 5: 2, 6: 3, 7: 4, 8: 3, 9: 2}[kind]
    b = list(address.to_bytes(width, "big")) + list(data)
    b = [len(b) + 1 if count is None else count] + b
    return "S%d" % kind + "".join("%02X" % x for x in b) + "%02X" % (0xFF - sum(b) % 256)


def hex_file(image, address, per_line=16):
    """`image` at `address` as Intel HEX, with 04 records every 64 KiB."""
    lines, base = [], None
    for k in range(0, len(image), per_line):
        a = address + k
        if a >> 16 != base:
            base = a >> 16
            lines.append(ihex(2, 0, 4, [base >> 8, base & 0xFF]))
        lines.append(ihex(None, a & 0xFFFF, 0, image[k:k + per_line]))
    return "\n".join(lines + [ihex(0, 0, 1)]) + "\n"


def srec_file(image, address, per_line=32):
    kind = 2 if address + len(image) <= 1 << 24 else 3
    lines = [srec(0, 0, b"rowtally")]
    lines += [srec(kind, address + k, image[k:k + per_line]) for k in range(0, len(image), per_line)]
    return "\n".join(lines + [srec(5, len(lines) - 1), srec(9, 0)]) + "\n"


def dump_file(image, address, per_line=16, labels=True):
    return "".join(("%04X: " % ((address + k) % (1 << 32)) if labels else "") + " ".join("%02X" % b for b in image[k:k + per_line]) + "\n"
                   for k in range(0, len(image), per_line))


# Images to dump: their character columns hold '.' for itself and for bytes
# outside 20-7E, blanks at their ends, and text that looks like values.
DUMPED = b"rowtally\x00\xffv1.6\xe9\n reads dumps! \x00  \xe9\xff~ end"
REPEATED = DUMPED[:16] + bytes(48) + DUMPED[16:32]  # a row repeated: a * line
HEX_TEXT = b"A9 00 8D 20 D0 60 EA\r\n"
ROW = " ".join(["00"] * 16)
OD_BOTH = "0000000 " + ROW + " " + ROW + "\n*\n0000640\n"  # 416 or 640: 13 or 20 lines of 32


def hexes(row):
    return " ".join("%02X" % b for b in row)


def piped(case):
    """`case` with its image read through a pipe."""
    out = case.out.replace(case.image_name + ":", "/dev/stdin:") if case.status else case.out
    return case._replace(name=case.name + ", through a pipe", args=[*case.args[:-1], "/dev/stdin"], out=out,
                         wrap=("sh", "-c", f'cat {case.image_name} | "$@"', "sh"), posix=True)


def both_ways(case):
    """`case`, and the same read through a pipe: a dump's reader keeps what a
    pipe holds, and reads a file twice."""
    return [case, piped(case)]


def column(row, latin1=False):
    """`row` as characters, as dumps show them: bytes outside 20-7E as '.',
    or those from A0 on as Latin-1's, as Windows shows them."""
    return "".join(chr(b) if 0x20 <= b < 0x7F or latin1 and b >= 0xA0 else "." for b in row)


def dumped(name, text, out, status=1, start="C000", options=(), **more):
    """--format=dump of `text`; `out` a message after the file's name, or
    bytes of the image it holds."""
    if isinstance(out, str) and status:
        out = "image.txt" + out + "\n"
    return fmt(name, text, out, status, args=("--format=dump", *options, start), image_name="image.txt", **more)


GAME = (EXAMPLES / "game.bin").read_bytes()
GAME_HEX = hex_file(GAME, 0xC000)
GAME_OUT = scanned(GAME, 0xC000)
GAME_LINES = dump_file(GAME, 0xC000).splitlines(True)
XXD_GROUPS = "".join("%08x: %-39s  %s\n" % (k, " ".join(DUMPED[k + g:k + g + 2].hex() for g in range(0, 16, 2)
                                                          if k + g < len(DUMPED)), column(DUMPED[k:k + 16]))
                     for k in range(0, len(DUMPED), 16))
XXD_PLAIN = DUMPED[:30].hex() + "\n" + DUMPED[30:].hex() + "\n"
GAME_XXD = ["%08x: %s  %s\n" % (k, hexes(GAME[k:k + 16]).lower(), column(GAME[k:k + 16]))  # as xxd -g1 prints it
            for k in range(0, len(GAME), 16)]


def fmt(name, text, out, status=0, args=("--format=ihex", "0"), image_name="image.hex", **more):
    """A file of records or a dump as the image; `out` a string, or bytes
    of an image whose plain output it must be, at the start address given."""
    if isinstance(out, bytes):
        out = scanned(out, int(args[-1], 16))
    image = text.encode() if isinstance(text, str) else text
    return Case(f"format: {name}", [*args, image_name], image, out, status, image_name=image_name, **more)


def records(name, lines, out, status=1, format="ihex", start="0", options=()):
    """A file of the lines given, each a record or not; `out` a message
    after the file's name, or bytes of the image it holds."""
    text = "\n".join(lines) + "\n"
    if isinstance(out, str) and status:
        out = "image.hex" + out + "\n"
    return fmt(name, text, out, status, args=(f"--format={format}", *options, start))


def fmt_check(name, text, listing, out, status=1, args=("--format=ihex", "C000"), image_name="image.hex"):
    """--check of a file of records or a dump against `listing`."""
    return Case(f"format check: {name}", ["--check", "listing.txt", *args, image_name],
                text.encode() if isinstance(text, str) else text, out, status, image_name=image_name,
                listing=listing.encode() if isinstance(listing, str) else listing)


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
    Case("missing file", ["0", "missing.bin"], out="cannot open missing.bin\n", status=1),
    Case("directory", ["0", "folder"], out="cannot open folder\n", status=1),
    *map(named, ["прошивка.bin", "ファームウェア.bin", "εικόνα.bin", "📟 rom.bin"]),
    Case("missing file named in Japanese", ["0", "無い.bin"], out="cannot open 無い.bin\n",
         status=1),
    shown("a terminal's escape sequence", ["0", "no\x1b]0;pwned\x07name"],
          "cannot open no\\x1B]0;pwned\\x07name\n"),
    shown("C1 controls and DEL", ["0", "a\u0085b\u009b\x7f"],
          "cannot open a\\xC2\\x85b\\xC2\\x9B\\x7F\n"),
    shown("bytes of no character", ["0", b"\xff\xe2\x80z"], "cannot open \\xFF\\xE2\\x80z\n",
          posix=True),  # Windows takes arguments as UTF-16
    shown("a long name, whole", ["0", "é" * 100 + "\x1b"],
          "cannot open " + "é" * 100 + "\\x1B\n"),
    shown("a start address", ["\x1b[2J", "missing.bin"], "bad start address \\x1B[2J\n"),
    shown("an unknown option", ["--\x1b[2J", "0", "missing.bin"],
          "unknown option --\\x1B[2J\n" + USAGE),
    shown("a skip", ["--skip=\x1b", "0", "missing.bin"], "bad skip \\x1B\n"),
    shown("a length", ["--check=x", "--length=1\u009b", "0", "missing.bin"],
          "bad length 1\\xC2\\x9B\n", 2),
    shown("a name past which no skip goes", ["--skip=1", "0", "image\x07.bin"],
          "cannot skip 1 byte of image\\x07.bin\n", image=b"", image_name="image\x07.bin",
          posix=True),
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
    Case("options end at --", ["--", "0", "image.bin"], ZERO_TO_F, "E4 9C \n"),
    Case("unknown option", ["--bogus", "0", "image.bin"], ZERO_TO_F,
         "unknown option --bogus\n" + USAGE, 1),
    Case("unknown option with --check", ["--check=x", "--80", "0", "image.bin"], ZERO_TO_F,
         "unknown option --80\n" + USAGE, 2),
    late("--length", "--length=16"),
    late("--skip", "x", "--skip", "8"),
    *[Case(f"{asked} anywhere: {args}", args, ZERO_TO_F, out)
      for asked, out in (("--help", HELP), ("--version", "rowtally 1.8.0\n"))
      for args in (["0", "image.bin", asked], ["--check", "listing.txt", "0", asked, "image.bin"],
                   ["--bogus", asked, "--version", "--help"], ["--skip", asked], [asked, "zz"])],
    Case("-h alone", ["-h"], out=HELP),
    Case("-h with more: a start address", ["-h", "image.bin"], ZERO_TO_F, "bad start address -h\n", 1),
    Case("--help after -- as the file name", ["--", "0", "--help"], out="cannot open --help\n", status=1),
    Case("a file named as an option, after --", ["--", "0", "--check"], ZERO_TO_F, "E4 9C \n",
         image_name="--check"),
    Case("a file named as an option, as ./", ["0", "./--check"], ZERO_TO_F, "E4 9C \n", image_name="--check"),
    Case("an option in the file name's place", ["C000", "--check", "listing.txt", "image.bin"], ZERO_TO_F,
         "option --check must come before the start address\n" + USAGE, 2),
    Case("an option in the file name's place, no more", ["C000", "--skip=2"], ZERO_TO_F,
         "option --skip must come before the start address\n" + USAGE, 1),
    Case("a file whose name is no option of its own", ["0", "--bogus"], ZERO_TO_F, "E4 9C \n",
         image_name="--bogus"),
    late("--version", "--version=2", "--check=listing.txt", status=2),
    late("--check", "--check", "listing.txt", status=2),
    late("--length", "--length", "8", status=2, before=["--check=listing.txt"]),
    Case("later arguments that are no option of its own ignored", ["0", "image.bin", "--skipped",
         "--", "-v", "--check-all"], ZERO_TO_F, "E4 9C \n"),
    Case("--check without a listing", ["--check"], out="option --check needs a listing\n"
         + USAGE, status=2),
    Case("--version", ["--version", "0"], out="rowtally 1.8.0\n"),
    part("--skip N", ["--skip", "8"], "A4 \n"),
    part("--skip=N in hexadecimal", ["--skip=0X8"], "A4 \n"),
    part("--skip=N, the last counting", ["--skip=x", "--skip=0x08"], "A4 \n"),
    part("--length N", ["--length", "8"], "E4 \n"),
    part("--length=N, more than the file", ["--length=1000"], "E4 9C \n"),
    part("--length 0", ["--length", "0"], ""),
    part("both", ["--length=8", "--skip=000000008"], "A4 \n", bytes(range(24))),
    part("to the end", ["--skip=16"], ""),
    part("one byte past the end", ["--skip=1"], "cannot skip 1 byte of image.bin\n", b"", 1),
    part("past the end", ["--skip=17"], "cannot skip 17 bytes of image.bin\n", status=1),
    part("past the end, with --check", ["--check=listing.txt", "--skip=17"],
         "cannot skip 17 bytes of image.bin\n", status=2, listing=b""),
    part("the greatest skip", ["--skip=18446744073709551615"],
         "cannot skip 18446744073709551615 bytes of image.bin\n", status=1),
    part("a length of more than 32 bits", ["--skip=8", "--length=0x100000008"], "00 F8 \n",
         bytes(24)),
    Case("part of a file: through a pipe", ["--skip=8", "0", "/dev/stdin"], ZERO_TO_F, "A4 \n",
         wrap=("sh", "-c", 'cat image.bin | "$@"', "sh"), posix=True),
    Case("part of a file: past the end of a pipe", ["--skip=17", "0", "/dev/stdin"], ZERO_TO_F,
         "cannot skip 17 bytes of /dev/stdin\n", 1, wrap=("sh", "-c", 'cat image.bin | "$@"', "sh"),
         posix=True),
    # A 32-bit count would skip nothing here, and read 4 GiB.
    part("a skip past 4 GiB", ["--skip=0x100000000", "--length=24"], "00 F8 \n", (1 << 32) + 16,
         large=True),
    check("a report's offset counts the bytes skipped", SAMPLE_OUT, WRONG_BYTE.replace(
        "offset C8", "offset CB") + "1 of 37 rows differ, 4 bytes after the last row unchecked\n", image=b"hdr" + COPY,
          args=["--check", "listing.txt", "--skip", "3", "4000", "image.bin"]),
    bad_count("skip", "-1"), bad_count("skip", "+1"), bad_count("skip", " 1"),
    bad_count("skip", "1k"), bad_count("skip", ""), bad_count("skip", "0x"),
    bad_count("skip", "18446744073709551616"), bad_count("length", "0x1g", check=True),
    bad_count("length", "0x10000000000000000"),
    Case("--skip without a number", ["--skip"], out="option --skip needs a number\n" + USAGE,
         status=1),
    Case("--length without a number", ["--check=x", "--length"],
         out="option --length needs a number\n" + USAGE, status=2),
    Case("a bad address before a bad skip", ["--skip=x", "--length=y", "zz", "missing.bin"],
         out="bad start address zz\n", status=1),
    Case("a bad skip before a bad length", ["--skip=x", "--length=y", "0", "missing.bin"],
         out="bad skip x\n", status=1),
    fit("a .prg file's load address", b"\x00\x40" + IMAGE, "4000",
        "00004000: image has 2 extra bytes (line 1), offset 0, bytes 00 40 6E 34 0B 9C FF B3 7A 98\n"
        "listing fits with --skip=2\n1 of 512 rows differ\n", 3),
    fit("skipped in part", b"\x00\x40" + IMAGE, "4000",
        "00004000: image has 1 extra byte (line 1), offset 1, bytes 40 6E 34 0B 9C FF B3 7A 98, the "
        "extra byte is 40\nlisting fits with --skip=2\n1 of 512 rows differ\n", 3, ["--skip=1"]),
    fit("the start address forgotten", IMAGE, "0", "listing fits start address 00004000\n"
        "511 of 512 rows differ, listing has 42 extra values\n", 473),
    fit("the start address's high bits kept", IMAGE, "12340000", "listing fits start address "
        "12344000\n511 of 512 rows differ, listing has 42 extra values\n", 473),
    fit("both", bytes(16) + IMAGE, "0",
        "listing fits start address 00004000 with --skip=16\n513 of 514 rows differ\n", 514),
    fit("none", IMAGE, "4000", "bytes 53 96 6D A1 02 8C B7 31\n492 of 512 rows differ\n", 493,
        listing=LINES[0] * 32),
    Case("fit: not looked for when all match", ["--check", "listing.txt", "--length=4096", "4000",
         "image.bin"], IMAGE + IMAGE, "all 512 rows match\n", listing="".join(LINES).encode()),
    Case("--help", ["--help"], out=None),
    check("match", SAMPLE_OUT, ALL_MATCH, 0),
    check("--check=", SAMPLE_OUT, ALL_MATCH, 0, args=["--check=listing.txt", "4000", "image.bin"]),
    check("a wrong byte of the image", SAMPLE_OUT, WRONG_BYTE + "1 of 37 rows differ, 4 bytes after the last row unchecked\n", image=COPY),
    check("a wrong value", SAMPLE_OUT.replace("42", "24", 1), "00004000: listing 24 (line 1), image 42, "
          "offset 0, bytes 72 6F 77 74 61 6C 6C 79\n1 of 37 rows differ, 4 bytes after the last row unchecked\n"),
    check("case and blanks", TYPED, WRONG_BYTE + "1 of 37 rows differ, 4 bytes after the last row unchecked\n", image=COPY),
    check("CR LF", TYPED.replace("\n", "\r\n"), ALL_MATCH, 0),
    check("UTF-8 byte order mark", b"\xef\xbb\xbf" + SAMPLE_OUT.encode(), ALL_MATCH, 0),
    check("UTF-16 LE, as PowerShell 5 writes", SAMPLE_OUT.replace("\n", "\r\n").encode("utf-16"),
          WRONG_BYTE + "1 of 37 rows differ, 4 bytes after the last row unchecked\n", image=COPY),
    check("UTF-16 BE", b"\xfe\xff" + TYPED.encode("utf-16-be"), ALL_MATCH, 0),
    check("blank lines", "\n \t\n" + SAMPLE_LINES[0] + "\n\r\n" + "".join(SAMPLE_LINES[1:]) + "\n ",
          ALL_MATCH, 0),
    check("a skipped value", "".join(SAMPLE_LINES[:2]) + "47 F8 4A D3\n",
          "00004108: listing has no value for 1 row (line 3)\n1 of 37 rows differ, 4 bytes after the last row unchecked\n"),
    check("a doubled value, the image going on", SAMPLE_OUT.replace("8D ", "8D 8D", 1),
          "00004080: listing has 1 extra value (line 1)\n"
          "0 of 37 rows differ, listing has 1 extra value, 4 bytes after the last row unchecked\n"),
    check("a doubled value at the end", SAMPLE_OUT.replace("58 F8", "58 58 F8"),
          "00004110: listing has 1 extra value (line 3)\n"
          "0 of 37 rows differ, listing has 1 extra value, 4 bytes after the last row unchecked\n"),
    check("listing short", "".join(SAMPLE_LINES[:2]), WRONG_BYTE +
          "00004100: listing ends, image has 5 more rows\n6 of 37 rows differ, 4 bytes after the last row unchecked\n", image=COPY),
    check("listing long", SAMPLE_OUT + "\n00 11\n",
          "00004128: image ends, listing has 2 more values (line 5)\n"
          "0 of 37 rows differ, listing has 2 extra values, 4 bytes after the last row unchecked\n"),
    check("image cut short", SAMPLE_OUT, "00004100: image ends, listing has 5 more values (line 3)\n"
          "0 of 32 rows differ, listing has 5 extra values\n", image=SAMPLE[:256]),
    check("image cut mid-row", SAMPLE_OUT, "00004060: image ends, listing has 25 more values (lines 1-3)\n"
          "0 of 12 rows differ, listing has 25 extra values, 4 bytes after the last row unchecked\n", image=SAMPLE[:100]),
    check("a bad value after a report", SAMPLE_OUT.replace("4A", "4\x07"),
          WRONG_BYTE + "listing.txt:3: bad value 4\\x07\n", 2, image=COPY),
    check("a bad value past the image", SAMPLE_OUT + "00 11 0x\x01\n",
          "00004128: image ends, listing has 2 more values (line 4)\nlisting.txt:4: bad value 0x\\x01\n", 2),
    # Reading stops at the first bad token, however far ahead the check has read.
    check("the first bad value named", "11 22\n\x01\n\x02\n", "00000000: listing 11 (line 1), image 00, "
          "offset 0, bytes 00 00 00 00 00 00 00 00\n00000008: image ends, listing has 1 more value "
          "(line 1)\nlisting.txt:2: bad value \\x01\n", 2, image=bytes(8), start="0"),
    check("the first bad value named, good ones after it", "11 22\n\x01\n33 44", "00000000: listing 11 "
          "(line 1), image 00, offset 0, bytes 00 00 00 00 00 00 00 00\n00000008: image ends, listing "
          "has 1 more value (line 1)\nlisting.txt:2: bad value \\x01\n", 2, image=bytes(8), start="0"),
    check("an endless bad value", None, "/dev/zero:1: bad value " + "\\x00" * 64 + "...\n", 2,
          args=["--check", "/dev/zero", "0", "image.bin"], posix=True),
    check("empty image and listing", "", "all 0 rows match\n", 0, image=b""),
    check("empty image", SAMPLE_OUT, "00004000: image ends, listing has 37 more values (lines 1-3)\n"
          "0 of 0 rows differ, listing has 37 extra values\n", image=b""),
    check("empty listing", "", "00004000: listing ends, image has 37 more rows\n"
          "37 of 37 rows differ, 4 bytes after the last row unchecked\n"),
    check("wrapping at 2^32", "81 79 71 69 61 59 51 49 41 39 31 29 21 19 11 09\n01\n",
          "00000000: listing 01 (line 2), image 00, offset 80, bytes 00 00 00 00 00 00 00 00\n"
          "1 of 17 rows differ\n", image=bytes(136), start="-80"),
    slip("a mistyped value", edited(100, "00"), "00004320: listing 00 (line 1), image 04, "
         "offset 320, bytes 68 AA 2E 2E E5 DF F9 6E\n1 of 512 rows differ\n"),
    slip("a value skipped", edited(100), "00004320: listing has no value for 1 row (line 1)\n"
         "1 of 512 rows differ\n"),
    slip("a value typed twice", edited(100, "04", "04"), "00004328: listing has 1 extra value "
         "(line 1)\n0 of 512 rows differ, listing has 1 extra value\n"),
    slip("values typed twice over two lines", "\n".join(" ".join(values[k:k + 16]) for values in
         [VALUES[:120] + VALUES[100:]] for k in range(0, 532, 16)),
         "000043C0: listing has 20 extra values (lines 8-9)\n"
         "0 of 512 rows differ, listing has 20 extra values\n"),
    slip("a line skipped", "".join(LINES[:10] + LINES[11:]), "00004500: listing has no value "
         "for 16 rows (line 11)\n16 of 512 rows differ\n"),
    slip("a line typed twice", "".join(LINES[:11] + LINES[10:]), "00004580: listing has 16 extra "
         "values (line 12)\n0 of 512 rows differ, listing has 16 extra values\n"),
    slip("two lines swapped", "".join(LINES[:10] + [LINES[11], LINES[10]] + LINES[12:]),
         "00004500: listing has no value for 16 rows (line 11)\n"
         "00004600: listing has 16 extra values (line 12)\n"
         "16 of 512 rows differ, listing has 16 extra values\n"),
    slip("the last value wrong and the listing ending", edited(511, "00") + ["11"],
         "00004FF8: listing 00 (line 1), image 4C, offset FF8, bytes 53 96 6D A1 02 8C B7 31\n"
         "00005000: image ends, listing has 1 more value (line 1)\n"
         "1 of 512 rows differ, listing has 1 extra value\n"),
    slip("eight values a line", "\n".join(" ".join(VALUES[k:k + 8]) for k in range(0, 512, 8)),
         "", 0),
    slip("one value a line", "\n".join(VALUES), "", 0),
    slip("no-break spaces, from a web page", "".join(LINES).replace(" ", "\u00a0"), "", 0),
    slip("Unicode blanks and a byte order mark within", "".join(LINES).replace(
        " ", "\u2009").replace("\n", "\u3000\n\ufeff"), "", 0),
    slip("no-break spaces, saved as Windows-1252", "".join(LINES).replace(" ", "\u00a0").encode(
        "cp1252"), "", 0),
    slip("lines ending in CR alone, from a classic Mac", "".join(LINES).replace("\n", "\r"), "", 0),
    slip("address labels", "".join(f"{0x4000 + 128 * k:X}: {line}" for k, line in
                                   enumerate(LINES)).lower(), "", 0),
    slip("a form feed between pages", "".join(LINES[:16]) + "\f" + "".join(LINES[16:]), "", 0),
    slip("a line's label and values typed twice", "".join(f"{0x4000 + 128 * k:08X}: {line}" for
         k, line in enumerate(LINES[:4] + LINES[3:])), "00004200: listing has 16 extra values "
         "(line 5)\n0 of 512 rows differ, listing has 16 extra values\n"),
    slip("control bytes in a bad value", "".join(LINES[:2]) + VALUES[32] + " \x1b]0;title\x07 7F\n",
         "listing.txt:3: bad value \\x1B]0;title\\x07\n", 2),
    slip("C1 controls, DEL and no character in a bad value", f"{VALUES[0]} a\u0085\x7fb\n".encode()
         + b"\xff\xe2\x80", "listing.txt:1: bad value a\\xC2\\x85\\x7Fb\n", 2),
    slip("a bad value of no character", b"\xff\xe2\x80z",
         "listing.txt:1: bad value \\xFF\\xE2\\x80z\n", 2),
    slip("a long bad value cut before a character", "\x01" + "x" * 62 + "\u00e9yz",
         "listing.txt:1: bad value \\x01" + "x" * 62 + "...\n", 2),
    slip("a bad value ending the listing early", VALUES[:10] + ["z\x01"],
         "listing.txt:1: bad value z\\x01\n", 2),
    # Bytes of the image left out or typed twice, against the 4 KiB image's listing.
    lost("a byte left out", lack(0x323), "00004320: image lacks 1 byte (line 7), offset 320, "
         "bytes 68 AA 2E E5 DF F9 6E, the missing byte is 2E\n1 of 512 rows differ\n"),
    lost("a byte typed twice", double(0x323), "00004320: image has 1 extra byte (line 7), offset 320, "
         "bytes 68 AA 2E 2E 2E E5 DF F9 6E, the extra byte is 2E\n1 of 512 rows differ\n"),
    lost("a line of a dump left out", lack(0x500, 16), "00004500: image lacks 16 bytes (line 11), "
         "offset 500\n2 of 512 rows differ\n"),
    lost("a line of a dump typed twice", double(0x500, 16), "00004510: image has 16 extra bytes "
         "(line 11), offset 510, bytes 32 EB B1 AB CC 1C 60 1C EB 9C 4E 3C 4F AB A0 CA A5 B8 5B B9 "
         "8C 4F 1E 66\n1 of 512 rows differ\n"),
    lost("3 bytes lost by a read-out", lack(0x9A5, 3), "000049A0: image lacks 3 bytes (line 20), "
         "offset 9A0, bytes 08 F2 71 88 7C\n1 of 512 rows differ\n"),
    lost("in the first row", lack(2), "00004000: image lacks 1 byte (line 1), offset 0, bytes 6E 34 "
         "9C FF B3 7A 98, the missing byte is 0B\n1 of 512 rows differ\n"),
    # Too near the end for four rows to bear a slip out.
    lost("in the second-last row", lack(0xFF2), "00004FF0: listing FF (line 32), image 6E, offset FF0, "
         "bytes F6 BF FB 0A EE 01 57 53\n00004FF8: image ends, listing has 1 more value (line 32)\n"
         "1 of 511 rows differ, listing has 1 extra value, 7 bytes after the last row unchecked\n"),
    lost("two, the second counted from the first", double(0xA00, image=IMAGE[:0x323] + IMAGE[0x324:]),
         "00004320: image lacks 1 byte (line 7), offset 320, bytes 68 AA 2E E5 DF F9 6E, the missing "
         "byte is 2E\n00004A00: image has 1 extra byte (line 21), offset 9FF, bytes 5C 62 62 E0 91 B8 "
         "C0 56 5F, the extra byte is 62\n2 of 512 rows differ\n"),
    lost("beside a value skipped", lack(0x323), "00004320: image lacks 1 byte (line 1), offset 320, "
         "bytes 68 AA 2E E5 DF F9 6E, the missing byte is 2E\n00004370: listing has no value for 1 row "
         "(line 1)\n2 of 512 rows differ\n", listing=" ".join(edited(110)) + "\n"),
    lost("17 bytes, none claimed", lack(0x500, 17), Tail("00004FE8: image ends, listing has 63 more "
         "values (lines 29-32)\n348 of 509 rows differ, listing has 63 extra values, 7 bytes after the last row unchecked\n", 291)),
    lost("in fill, nowhere to be seen", lack(0x900, image=FILLED), "00004FF8: image ends, listing has 1 "
         "more value (line 32)\n0 of 511 rows differ, listing has 1 extra value, 7 bytes after the last row unchecked\n", listing=FILLED_OUT),
    lost("before fill", lack(0x323, image=FILLED), "00004320: image lacks 1 byte (line 7), offset 320, "
         "bytes 68 AA 2E E5 DF F9 6E, the missing byte is 2E\n1 of 512 rows differ\n", listing=FILLED_OUT),
    lost("offsets counting --skip", b"hdr" + lack(0x323), "00004320: image lacks 1 byte (line 7), "
         "offset 323, bytes 68 AA 2E E5 DF F9 6E, the missing byte is 2E\n1 of 512 rows differ\n",
         options=["--skip=3"]),
    check("listing named in Cyrillic", SAMPLE_OUT, ALL_MATCH, 0, listing_name="список.txt"),
    check("missing listing", None, "cannot open listing.txt\n", 2),
    check("missing image", SAMPLE_OUT, "cannot open image.bin\n", 2, image=None),
    check("bad address", SAMPLE_OUT, "bad start address zz\n", 2, start="zz"),
    Case("check: too few arguments", ["--check", "listing.txt", "4000"], out=USAGE, status=2),
    Case("check: listing a directory", ["--check", "folder", "0", "image.bin"], ZERO_TO_F,
         "cannot open folder\n", 2),
    Case("check: listing unreadable", ["--check", "/proc/self/mem", "0", "image.bin"], ZERO_TO_F,
         "cannot read /proc/self/mem\n", 2, posix=True),
    Case("check: image unreadable", ["--check", "image.bin", "0", "/proc/self/mem"], b"",
         "cannot read /proc/self/mem\n", 2, posix=True),
    check("full device", SAMPLE_OUT, "", 2, err=WRITE_FAILED, stdout="/dev/full", posix=True),
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
    # Images as files of records and typed dumps.
    fmt("Intel HEX, as its binary", GAME_HEX, GAME, args=("--format=ihex", "C000")),
    fmt("S-records, as their binary", srec_file(GAME, 0xC000), GAME, args=("--format", "srec", "C000")),
    fmt("a typed dump, as its binary", dump_file(GAME, 0xC000), GAME, args=("--format=dump", "C000")),
    fmt("records out of order", "\n".join(GAME_HEX.split("\n")[-3:0:-1]) + "\n" + ihex(0, 0, 1) + "\n", GAME,
        args=("--format=ihex", "C000")),
    fmt("standard input", GAME_HEX, GAME_OUT, args=("--format=ihex", "C000", "-"), posix=True,
        wrap=("sh", "-c", 'cat image.hex | "$@"', "sh")),
    fmt("records out of order through a pipe", "\n".join(GAME_HEX.split("\n")[-3:0:-1]) + "\n" +
        ihex(0, 0, 1) + "\n", GAME_OUT, args=("--format=ihex", "C000", "-"), posix=True,
        wrap=("sh", "-c", 'cat image.hex | "$@"', "sh")),
    Case("binary from standard input", ["0", "-"], ZERO_TO_F, "E4 9C \n", image_name="image.hex",
         wrap=("sh", "-c", 'cat image.hex | "$@"', "sh"), posix=True),
    Case("standard input twice", ["--check", "-", "0", "-"], out="cannot read standard input twice\n", status=2),
    Case("format: bad format", ["--format=IHEX", "zz", "missing.bin"], out="bad format IHEX\n", status=1),
    Case("format: bad format shown safely", ["--check=x", "--format=\x1b", "0", "missing.bin"],
         out="bad format \\x1B\n", status=2),
    Case("format: --skip with records", ["--check=x", "--format", "srec", "--skip=2", "zz", "missing.bin"],
         out="option --skip does not apply to --format=srec\n" + USAGE, status=2),
    Case("format: --fill with no format", ["--fill=0", "0", "missing.bin"],
         out="option --fill does not apply to --format=binary\n" + USAGE, status=1),
    Case("format: --fill with a dump", ["--format=dump", "--fill=0", "0", "missing.bin"],
         out="option --fill does not apply to --format=dump\n" + USAGE, status=1),
    Case("format: --format last", ["--format"], out="option --format needs a name\n" + USAGE, status=1),
    Case("format: --fill last", ["--check=x", "--fill"], out="option --fill needs a number\n" + USAGE, status=2),
    Case("format: a bad fill after the address", ["--format=ihex", "--fill=256", "zz", "missing.bin"],
         out="bad start address zz\n", status=1),
    *[Case(f"format: bad fill {text!r}", ["--format=ihex", "--length=x", f"--fill={text}", "0", "missing.bin"],
           out="bad length x\n" if text == "0" else "", status=1) for text in ["0"]],
    *[Case(f"format: bad fill {text!r}", ["--format=ihex", f"--fill={text}", "0", "missing.bin"],
           out=f"bad fill {text}\n", status=1) for text in ["256", "0x100", "-1", ""]],
    late("--format", "--format=ihex"),
    late("--fill", "--fill", "0", status=2, before=["--check=listing.txt"]),
    # Intel HEX: each line's faults, the first line with one named.
    *[records(name, lines, out) for name, lines, out in [
        ("a data byte mistyped", [ihex(None, 0, 0, range(8))[:9] + "F" + ihex(None, 0, 0, range(8))[10:],
                                  ihex(0, 0, 1)], ":1: bad record checksum"),
        ("no colon", [ihex(None, 0, 0, range(8))[1:]], ":1: bad record"),
        ("an odd number of digits", [ihex(0, 0, 1) + "0"], ":1: bad record"),
        ("a blank within", [ihex(0, 0, 1)[:5] + " " + ihex(0, 0, 1)[5:]], ":1: bad record"),
        ("no digit", [ihex(0, 0, 1)[:5] + "G" + ihex(0, 0, 1)[6:]], ":1: bad record"),
        ("fewer than five bytes", [":00000001"], ":1: bad record"),
        ("a length that is not the data's", [ihex(9, 0, 0, range(8)), ihex(0, 0, 1)], ":1: bad record"),
        ("a type past 05", [ihex(None, 0, 6), ihex(0, 0, 1)], ":1: bad record"),
        ("an end record with data", [ihex(None, 0, 1, [0])], ":1: bad record"),
        ("an 02 record of three bytes", [ihex(None, 0, 2, [0, 0, 0])], ":1: bad record"),
        ("an 05 record of two bytes", [ihex(None, 0, 5, [0, 0])], ":1: bad record"),
        ("both faults: a bad record", [ihex(None, 0, 0, range(8))[:-1] + "00"], ":1: bad record"),
        ("the first line with a fault", ["", ihex(None, 0, 0, range(8)), ":1", ":2"], ":3: bad record"),
        ("no end record", [ihex(None, 0, 0, range(8))], ": no end record"),
        ("written again, the first byte that was", [ihex(None, 0, 0, range(8)), ihex(None, 4, 0, range(8)),
                                                    ihex(0, 0, 1)], ":2: address 00000004 already written on line 1"),
        ("written again out of order", [ihex(None, 8, 0, range(8)), ihex(None, 0, 0, range(16)), ihex(0, 0, 1)],
         ":2: address 00000008 already written on line 1"),
        ("written again before a line's fault", [ihex(None, 8, 0, range(8)), ihex(None, 0, 0, range(16)),
                                                 ":1"], ":2: address 00000008 already written on line 1"),
        ("a line's fault before an address written again", [ihex(None, 8, 0, range(8)), ":1",
                                                           ihex(None, 0, 0, range(16))], ":2: bad record"),
    ]],
    records("no data before the start address counts", [ihex(None, 0, 0, range(8)), ihex(0, 0, 1)],
            ": no data at or after the start address", start="8"),
    *[records(name, lines, out, 0, start=start, options=options) for name, lines, out, start, options in [
        ("lower case, blanks, empty lines and CR LF", ["", " \t" + ihex(None, 0, 0, range(8)).lower() + "\t ",
                                                       "\r" + ihex(0, 0, 1)], bytes(range(8)), "0", ()),
        ("nothing read after the end record", [ihex(None, 0, 0, range(8)), ihex(0, 0, 1), "\x1a", ":zz"],
         bytes(range(8)), "0", ()),
        ("03 and 05 passed over", [ihex(4, 0, 3, [0] * 4), ihex(4, 0, 5, [0] * 4), ihex(None, 0, 0, range(8)),
                                   ihex(0, 0, 1)], bytes(range(8)), "0", ()),
        ("02: offsets wrap within 64 KiB", [ihex(2, 0, 2, [0x10, 0]), ihex(None, 0xFFFC, 0, range(1, 9)),
                                             ihex(0, 0, 1)], b"\xff" * 4 + bytes(range(1, 5)), "1FFF8", ()),
        ("02: the bytes that wrapped", [ihex(2, 0, 2, [0x10, 0]), ihex(None, 0xFFFC, 0, range(1, 9)),
                                        ihex(0, 0, 1)], bytes(range(5, 9)) + b"\xff" * 4, "10000", ("--length=8",)),
        ("04: no wrap at 64 KiB", [ihex(2, 0, 4, [0, 1]), ihex(None, 0xFFFC, 0, range(1, 9)), ihex(0, 0, 1)],
         b"\xff" * 4 + bytes(range(1, 9)) + b"\xff" * 4, "1FFF8", ("--length=16",)),
        ("neither: no wrap at 64 KiB", [ihex(None, 0xFFFC, 0, range(1, 9)), ihex(0, 0, 1)],
         b"\xff" * 4 + bytes(range(1, 9)), "FFF8", ()),
        ("wrapping at 2^32, the image stops at the top", [ihex(2, 0, 4, [0xFF, 0xFF]), ihex(None, 0xFFFC, 0,
                                                          range(1, 9)), ihex(0, 0, 1)],
         b"\xff" * 4 + bytes(range(1, 5)), "FFFFFFF8", ("--length=64",)),
        ("exactly --length bytes, FF where nothing was written", [ihex(None, 0, 0, range(8)), ihex(0, 0, 1)],
         bytes(range(8)) + b"\xff" * 8, "0", ("--length=16",)),
        ("--fill", [ihex(None, 0, 0, range(8)), ihex(0, 0, 1)], bytes(range(8)) + b"\x5a" * 8, "0",
         ("--length=16", "--fill=0x5A")),
        ("a start address with no record near it", [ihex(None, 0, 0, range(8)), ihex(0, 0, 1)], b"\xff" * 16,
         "1000", ("--length=16",)),
        ("data below the start address passed over", [ihex(None, 0, 0, range(16)), ihex(0, 0, 1)],
         bytes(range(8, 16)), "8", ()),
    ]],
    # S-records.
    *[records(name, lines, out, format="srec") for name, lines, out in [
        ("a checksum", [srec(1, 0, range(8))[:-2] + "00"], ":1: bad record checksum"),
        ("S4", ["S4030000FC"], ":1: bad record"),
        ("a lower-case s", [srec(1, 0, range(8)).lower()], ":1: bad record"),
        ("no type digit", ["SX030000FC"], ":1: bad record"),
        ("a length that is not the bytes'", [srec(1, 0, range(8), count=12)], ":1: bad record"),
        ("fewer bytes than the address", ["S10200FD"], ":1: bad record"),
        ("an end record with data", [srec(9, 0, [1])], ":1: bad record"),
        ("a count with data", [srec(5, 0, [1])], ":1: bad record"),
        ("a line lost", [srec(1, 0, range(8)), srec(5, 2)], ":2: bad record count"),
        ("a line doubled", [srec(1, 0, range(8)), srec(1, 8, range(8)), srec(1, 8, range(8)), srec(6, 2)],
         ":3: address 00000008 already written on line 2"),
    ]],
    *[records(name, lines, out, 0, format="srec", start=start) for name, lines, out, start in [
        ("S0, S3, S5 and S7", [srec(0, 0, b"hdr"), srec(3, 0x12345678, range(8)), srec(5, 1), srec(7, 0)],
         bytes(range(8)), "12345678"),
        ("S2 and S6, and no end record", [srec(2, 0x123450, range(8)), srec(6, 1)], bytes(range(8)), "123450"),
        ("nothing read after S9", [srec(1, 0, range(8)), srec(9, 0), "junk"], bytes(range(8)), "0"),
    ]],
    # Dumps, read as listings are.
    fmt("a dump's --skip counts values", dump_file(GAME, 0xC000), GAME[16:], args=("--format=dump", "--skip=16",
        "C000")),
    fmt("a dump's --length", dump_file(GAME, 0xC000), GAME[:8], args=("--format=dump", "--length=8", "C000")),
    fmt("a dump's bad value", "C000: 11 22 3G 44\n", "image.txt:1: bad value 3G\n", 1, args=("--format=dump", "0"),
        image_name="image.txt"),
    fmt("read on past a dump's last value to the next label, its line's faults too", "C000: 11 22\nC002: 3G 44\n",
        "image.txt:2: bad value 3G\n", 1, args=("--format=dump", "--length=2", "0"), image_name="image.txt"),
    fmt("a fault on the line of a dump's last value", "C000: 11 22 3G 44\n", "image.txt:1: bad value 3G\n", 1,
        args=("--format=dump", "--length=2", "0"), image_name="image.txt"),
    fmt("a dump too short to skip", "11 22\n", "cannot skip 3 bytes of image.txt\n", 2, image_name="image.txt",
        args=("--check=listing.txt", "--format=dump", "--skip=3", "0"), listing=b""),
    # Reports name the image's lines.
    fmt_check("a byte mistyped, its checksum made right", "\n".join(
        line if k != 36 else ihex(None, 0xC230, 0, bytes.fromhex(line[9:-2]) [:3] + bytes([bytes.fromhex(line[9:-2])[3] ^ 0x40])
                                  + bytes.fromhex(line[9:-2])[4:])
        for k, line in enumerate(GAME_HEX.split("\n"))), GAME_OUT,
        "0000C230: listing 2B (line 5), image 6B, image line 37, bytes E8 01 73 82 DB 72 08 70\n1 of 1024 rows differ\n"),
    fmt_check("a row on two lines", hex_file(GAME[:0x38] + bytes([GAME[0x38] ^ 1]) + GAME[0x39:], 0xC000, 12),
              GAME_OUT, "0000C038: listing 89 (line 1), image 88, image lines 6-7, bytes B5 55 45 35 98 E0 10 74\n"
              "1 of 1024 rows differ\n"),
    fmt_check("a line lost: fill", "\n".join(GAME_HEX.split("\n")[:20] + GAME_HEX.split("\n")[21:]), GAME_OUT,
              "0000C130: listing 74 (line 3), image 17, fill, bytes FF FF FF FF FF FF FF FF\n0000C138: listing 3A "
              "(line 3), image 0F, fill, bytes FF FF FF FF FF FF FF FF\n2 of 1024 rows differ\n"),
    # A dump without labels: its slips are the check's to find.
    fmt_check("a dump's byte left out", "\n".join(
        " ".join(w for i, w in enumerate(line.split(" ")) if k != 50 or i != 3)
        for k, line in enumerate(dump_file(GAME, 0xC000, labels=False).split("\n"))), GAME_OUT,
        "0000C320: image lacks 1 byte (line 7), image line 51, bytes CB 1E D0 68 9E CF 13, the missing byte is 93\n"
        "1 of 1024 rows differ\n", args=("--format=dump", "C000"), image_name="image.txt"),
    fmt_check("a dump's line left out: the next byte's line", "".join(
        line for k, line in enumerate(dump_file(GAME, 0xC000, labels=False).splitlines(True)) if k != 30), GAME_OUT,
        "0000C1E0: image lacks 16 bytes (line 4), image line 31\n2 of 1024 rows differ\n",
        args=("--format=dump", "C000"), image_name="image.txt"),
    # With labels, the dump's own check names the line first.
    fmt_check("a labelled dump's byte left out", "\n".join(
        " ".join(w for i, w in enumerate(line.split(" ")) if k != 50 or i != 4)
        for k, line in enumerate(dump_file(GAME, 0xC000).split("\n"))), GAME_OUT,
        "image.txt:51: 15 values, where the label on line 52 wants 16\n", 2, args=("--format=dump", "C000"),
        image_name="image.txt"),
    fmt_check("a labelled dump's line left out", "".join(
        line for k, line in enumerate(dump_file(GAME, 0xC000).splitlines(True)) if k != 30), GAME_OUT,
        "image.txt:30: 16 values, where the label on line 31 wants 32\n", 2, args=("--format=dump", "C000"),
        image_name="image.txt"),
    # The format forgotten.
    fmt_check("Intel HEX as a binary image", GAME_HEX, GAME_OUT,
              Tail("image looks like Intel HEX: try --format=ihex\n2816 of 2819 rows differ, 4 bytes after the last row "
                   "unchecked\n", 1024),
              args=("C000",)),
    fmt_check("S-records as a binary image", srec_file(GAME, 0xC000), GAME_OUT,
              Tail("image looks like S-records: try --format=srec\n2464 of 2470 rows differ, 1 byte after the last row "
                   "unchecked\n", 1022),
              args=("C000",)),
    fmt_check("a dump as a binary image", dump_file(GAME, 0xC000), GAME_OUT,
              Tail("image looks like a hex dump: try --format=dump\n3453 of 3456 rows differ\n", 1025),
              args=("C000",)),
    fmt_check("no look after a bad value", GAME_HEX, "11 \x01 22 33\n", "0000C000: listing 11 (line 1), image B4, offset "
              "0, bytes 3A 30 32 30 30 30 30 30\nlisting.txt:1: bad value \\x01\n", 2, args=("C000",)),
    Case("format: a read failing", ["--format=ihex", "C000", "image.bin"], GAME_HEX.encode(),
         "cannot read image.bin\n", 1, wrap=failing("read", 1), posix=True),
    # A typed listing: typos, lines of text, labels as monitors print them.
    check("a typo, a heading and a page footer", "Checksums\n" + SAMPLE_LINES[0].replace("40 ", "4O ", 1) +
          "Page 1 of 2\n" + "".join(SAMPLE_LINES[1:]), "00004028: listing 4O (line 2), image 40, offset 28, "
          "bytes AA 1F AD 1D 5A DA E5 AC\n" + WRONG_BYTE.replace("line 2", "line 4") + "2 of 37 rows differ, 4 bytes after the last row unchecked\n", image=COPY),
    check("a typo first, a value standing for it", SAMPLE_OUT.replace("42 ", "5O ", 1), "00004000: listing 5O "
          "(line 1), image 42, offset 0, bytes 72 6F 77 74 61 6C 6C 79\n1 of 37 rows differ, 4 bytes after the last row unchecked\n"),
    check("four digits first: an address", SAMPLE_OUT.replace("42 F6", "42F6", 1),
          "00004000: listing has no value for 2 rows (line 1)\n2 of 37 rows differ, 4 bytes after the last row unchecked\n"),
    check("labels with $ and a hyphen, and glued to a value", "$4000: " + SAMPLE_LINES[0] + "4080-" +
          SAMPLE_LINES[1] + "4100:" + SAMPLE_LINES[2], ALL_MATCH, 0),
    check("an address column", "".join("%X  " % a + line for a, line in zip((0x4000, 0x4080, 0x4100),
          SAMPLE_LINES)), ALL_MATCH, 0),
    check("a message saved as a listing", "cannot open smaple.bin\n", "listing.txt: no values, only text, "
          "from line 1: cannot open smaple.bin\n", 2),
    check("only text, its tab shown", "\n  4000:\n Total:\t12  \n", "listing.txt: no values, only text, "
          "from line 3: Total:\\x0912\n", 2),
    check("only labels: no values", "4000:\n4080:\n", "00004000: listing ends, image has 37 more rows\n"
          "37 of 37 rows differ, 4 bytes after the last row unchecked\n"),
    check("no whole row, bytes unchecked", "", "all 0 rows match, 5 bytes after the last row unchecked\n", 0,
          image=bytes(5), start="0"),
    check("one byte unchecked", "", "all 0 rows match, 1 byte after the last row unchecked\n", 0, image=bytes(1),
          start="0"),
    fit("a typo among the first 64 values: no fit line", IMAGE, "0", "00000EB0: listing ends, image has 42 more "
        "rows\n511 of 512 rows differ, listing has 42 extra values\n", 472, listing=" ".join(edited(3, "O4")) + "\n"),
    addr("$1000"), addr("-$80", "65 1D \n"), addr(" +$1000"),
    bad("$"), bad("0x$10"),
    fmt("a dump's heading passed over", "Program listing\nC000: 11 22 33 44 55 66 77 88\n",
        bytes([0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88]), args=("--format=dump", "C000"), image_name="image.txt"),
    fmt("text on a line of a dump's values", "C000: 11 22 xx\n", "image.txt:1: bad value xx\n", 1,
        args=("--format=dump", "C000"), image_name="image.txt"),
    fmt("text before a dump's values on its line", "Checksum 33 44\n", "image.txt:1: bad value Checksum\n", 1,
        args=("--format=dump", "C000"), image_name="image.txt"),
    fmt("text after sixteen of a dump's values", "C000: " + " ".join(["11"] * 16) + " zz\n",
        "image.txt:1: bad value zz\n", 1, args=("--format=dump", "C000"), image_name="image.txt"),
    fmt("a dump's labels of every form", "$C000: 11 22\nC002-33 44\nC004  55 66 77 88\n",
        bytes([0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88]), args=("--format=dump", "C000"), image_name="image.txt"),
    # A dump's labels hold it to itself: each step is the count of values between.
    *[case for name, text, out in [
        ("a value left out", "".join(line[:6] + line[9:] if k == 8 else line for k, line in enumerate(GAME_LINES)),
         ":9: 15 values, where the label on line 10 wants 16"),
        ("a line left out", "".join(GAME_LINES[:19] + GAME_LINES[20:]),
         ":19: 16 values, where the label on line 20 wants 32"),
        ("a value left out, labels every fourth line", "".join(
            line[9:] if k == 6 else line if k % 4 == 0 else line[6:] for k, line in enumerate(GAME_LINES)),
         ":5-8: 63 values, where the label on line 9 wants 64"),
        ("a label typed wrong", "C000: " + ROW + "\nC001: 00\n", ":1: 16 values, where the label on line 2 wants 1"),
        ("one value", "C000: 11\nC002: 22\n", ":1: 1 value, where the label on line 2 wants 2"),
        ("a step across FFFF short", "FFF0: " + ROW[3:] + "\n0000: 00\n",
         ":1: 15 values, where the label on line 2 wants 16"),
        ("labels alone, od's where none fits: octal's fault", "0000000\n0000020\n",
         ":1: 0 values, where the label on line 2 wants 16"),
        ("four digits after a labelled line: a label", "0000: 11 22\n1122\n",
         ":1: 2 values, where the label on line 2 wants 4386"),
        ("a label's fault at its line, before a bad value", "C000: 11\nC002: 22\nC004: 3G\n",
         ":1: 1 value, where the label on line 2 wants 2"),
        ("a bad value before a label's fault", "C000: 11 22\nC002: 3G\nC010: 44\n", ":2: bad value 3G"),
        ("od's offsets of a repeated row, octal and decimal alike", OD_BOTH, ": * repeats by labels that may be octal or decimal"),
        ("a * first", "*\n0010 " + ROW + "\n", ":1: * with no line of values before it"),
        ("a * after a line without a label", ROW + "\n*\n0040 " + ROW + "\n", ":2: * needs a label before and after it"),
        ("a * as od -A n writes it", " " + ROW + "\n*\n 11 22\n", ":2: * needs a label before and after it"),
        ("a * at the end", "0000: " + ROW + "\n*\n", ":2: * needs a label before and after it"),
        ("a * before values without a label", "0000: " + ROW + "\n*\n" + ROW + "\n",
         ":2: * needs a label before and after it"),
        ("a * repeating part of a line", "0000: " + ROW + "\n*\n0018\n",
         ":2: * cannot repeat 16 values to reach the label on line 3"),
        ("a * repeating nothing", "0000: " + ROW + "\n*\n0010\n",
         ":2: * cannot repeat 16 values to reach the label on line 3"),
        ("values typed without blanks", "C008: 6D132CDED6237B2E\n", ":1: bad value 6D132CDED6237B2E"),
        ("a typo after a label", "0010: 5O\n", ":1: bad value 5O"),
        ("text after a label", "C020: start of table\n", ":1: bad value start"),
        ("hexdump's 16-bit words", "".join("%07x %s\n" % (k, " ".join("%02x%02x" % (b, a) for a, b in zip(
            DUMPED[k:k + 16:2], DUMPED[k + 1:k + 16:2]))) for k in range(0, 40, 16)) + "0000028\n",
         ":1: bad value 6f72"),
        ("xxd's groups with no column", "00000000: 726f 7774 616c 6c79\n", ":1: bad value 726f"),
        ("xxd -i", "unsigned char image_bin[] = {\n" + ",\n".join(
            "  " + ", ".join("0x%02x" % b for b in DUMPED[k:k + 12]) for k in range(0, 40, 12))
         + "\n};\nunsigned int image_bin_len = 40;\n",
         ": no values, only text, from line 1: unsigned char image_bin[] = {"),
        ("a column that does not show the values", "C000: 41 42  XY\n", ":1: bad value XY"),
        ("a column one blank away that reads as values", "C000: 34 33 43\n", ":1: 43 may be values or their characters"),
        ("a column one blank away that reads as DEBUG's values", "C000: 37 39 2D 32 30 79-20\n",
         ":1: 79-20 may be values or their characters"),
        ("a line too long", "11 22\n" + "x" * 32769 + "\n", ":2: line longer than 32768 bytes"),
        ("a column's values parted by two blanks that read as values", "31 32 20 20 33 34 12  34\n",
         ":1: 12  34 may be values or their characters"),
        ("od -t x2z's words, with their characters", "000000 6f72 7477 6c61 796c  >rowtally<\n000008\n",
         ":1: bad value 6f72"),
        ("xxd -e's words, whose characters cannot tell their order",
         "00000000: 07008001 000010ff 00000000 00000000  ................\n", ":1: 07008001 may be bytes in either order"),
        # Faults among lines laid out alike, as long dumps are.
        ("a character of xxd -g1's column mistyped", "".join(
            line[:-3] + "#" + line[-2:] if k == 39 else line for k, line in enumerate(GAME_XXD)),
         ":40: bad value " + GAME_XXD[39][59:-3] + "#" + GAME_XXD[39][-2]),
        ("a value of xxd -g1 mistyped", "".join(
            line[:10] + "00" + line[12:] if k == 39 else line for k, line in enumerate(GAME_XXD)),
         ":40: bad value " + GAME_XXD[39][59:-1]),
        ("a line of xxd -g1 left out", "".join(GAME_XXD[:39] + GAME_XXD[40:]),
         ":39: 16 values, where the label on line 40 wants 32"),
        ("od -A n: a line's last values as the characters of its first", "".join(
            " %s\n" % hexes(GAME[k:k + 16]).lower() for k in range(0, 1024, 16)) + " 34 31 20 34 32 20 34 33 20 34 34 20 "
         "41 42 43 44\n", ":65: 41 42 43 44 may be values or their characters"),
    ] for case in both_ways(dumped(name, text, out))],
    *[dumped(name, text, out, 0, start, options) for name, text, out, start, options in [
        ("labels every fourth line", "".join(line if k % 4 == 0 else line[6:] for k, line in enumerate(GAME_LINES)),
         GAME, "C000", ()),
        ("a label on a line of text counting for nothing", "C000: 11 22 33 44\nC010 Total\nC004: 55 66 77 88\n",
         bytes.fromhex("1122334455667788"), "C000", ()),
        ("a step across FFFF", "FFF0: " + ROW + "\n0000: " + "11 " * 16 + "\n", bytes(16) + b"\x11" * 16, "FFF0", ()),
        ("od -v of a repeated row, octal offsets", "".join("%07o %s\n" % (k, ROW) for k in range(0, 64, 16))
         + "0000100\n", bytes(64), "0", ()),
        ("od of an empty file", "0000000\n", b"", "0", ()),
        ("a * repeating a line of 8", "0000: " + "5A " * 8 + "\n*\n0020\n", b"\x5a" * 32, "0", ()),
        ("groups whose order another line's column shows", "00000000: 0180 0007  ....\n00000004: 4142 0001  AB..\n",
         bytes.fromhex("0180000741420001"), "0", ()),
        ("a blank line first, the labels not at the start of their lines", "\n" + "".join(
            "  " + line for line in GAME_LINES), GAME, "C000", ()),
        ("a line of values as long as one with a label", "00000000 41 42 43\n44 45 46 47 48 49\n50 51 52 53 54 55\n",
         bytes.fromhex("414243444546474849505152535455"), "0", ()),
        ("a column between bars", "C000: 34 33 |43|\n", b"43", "C000", ()),
        ("a ruler before values without a label: values", "00 01 02 03 04 05 06 07\n11 22 33 44 55 66 77 88\n",
         bytes.fromhex("00010203040506071122334455667788"), "0", ()),
        ("plain hex", "726f7774616c6c79\n7274\n", b"rowtallyrt", "0", ()),
        ("a line as long as can be", "00 " * 10922 + "00\r\n" + "x" * 32768 + "\n11\n", bytes(10923) + b"\x11", "0",
         ()),
        ("nothing read past --length: a long line", "11 22\n" + "x" * 40000 + "\n", b"\x11\x22", "0",
         ("--length=2",)),
        ("od's octal offsets of a repeated row, not hexadecimal", "0000000 " + ROW + "\n*\n0000100\n", bytes(64), "0", ()),
    ]],
    # Damage at a dump's edges, where no label after it checks the line: refused at its line.
    *[case for name, text, out, options in [
        ("xxd's first label typed wrong", "O" + XXD_GROUPS[1:], ":1: bad value O0000000:", ()),
        ("xxd's last label typed wrong", XXD_GROUPS.replace("00000020:", "00000020;"), ":3: bad value 00000020;", ()),
        ("a line of xxd -p with a wrong character", XXD_PLAIN[:10] + "O" + XXD_PLAIN[11:],
         ":1: bad value " + XXD_PLAIN[:10] + "O" + XXD_PLAIN[11:60], ()),
        ("the last line of xxd -p with a wrong character", XXD_PLAIN[:-3] + "g\n",
         ":2: bad value " + XXD_PLAIN[61:-3] + "g", ()),
        ("a line of xxd -p with a stray mark", XXD_PLAIN[:10] + ";" + XXD_PLAIN[11:],
         ":1: bad value " + XXD_PLAIN[:10] + ";" + XXD_PLAIN[11:60], ()),
        ("od's first label with a letter", "00000d0 " + ROW + "\n*\n0000100\n", ":1: bad value 00000d0", ()),
        ("a heading of 32 digits: maybe 16 bytes", "MD5 d41d8cd98f00b204e9800998ecf8427e\n" + dump_file(DUMPED, 0),
         ":1: bad value MD5", ()),
        ("a blank left out, no label to check it", "01 02 03 04 05 06 07 08\n0910 11 12 13 14 15 16\n",
         ":2: bad value 0910", ()),
        ("one line, its label maybe two values", "C000 42 F6 F5 EC\n", ":1: bad value C000", ()),
        ("a value left out before --length's last, the label after it checks", "0000: " + hexes(range(16)) + "\n0010: "
         + hexes([16, 17, *range(19, 32)]) + "\n0020: " + hexes(range(32, 48)) + "\n", ":2: 15 values, where the label on line 3 wants 16",
         ("--length=24",)),
        ("read on past --length to the next label", "C000: 11 22\nC010: 33\n",
         ":1: 2 values, where the label on line 2 wants 16", ("--length=2",)),
        ("od -A x of an empty file: a label or 3 bytes", "000000\n", ":1: 000000 may be a label or values", ()),
        ("a column two blanks away that reads as values, nothing to tell", "C000: 34 33  43\n",
         ":1: 43 may be values or their characters", ()),
        ("a column whose own blank may stand for a value", "0000: 20 41 42 20 43 44  AB CD\n",
         ":1: AB CD may be values or their characters", ()),
        ("two lines whose columns may be values before one label", "C000: 34 33  43\n34 33  43\nC008: 11\n",
         ":2: 43 may be values or their characters", ()),
        ("a value lost beside a column that reads as values, after lines with columns", "".join(
            "%08x: %-47s  %s\n" % (k, hexes(row).lower(), column(row)) for k, row in
            enumerate([b"Hello, world! ok", b" ab cd "])).replace("00000001:", "00000010:").replace(" 63 ", " "),
         ":2: ab cd may be values or their characters", ()),
        ("a column that may be values, where the other lines' start elsewhere",
         "41 42 43 44 45   ABCDE\n31 32 20 33 34  12 34\n", ":2: 12 34 may be values or their characters", ()),
        ("a * repeating a line as wide as no program prints", "000000 " + " ".join(["55"] * 15) + "\n*\n0001e0\n",
         ":2: * repeats a line of 15 values, where the dump's lines hold 8, 16 or 32", ()),
        ("a * repeating a line narrower than the dump's", "0000: " + ROW + "\n0010: " + ROW + "\n0020: " + ROW[:23]
         + "\n*\n0040\n", ":4: * repeats a line of 8 values, where the dump's lines hold 16", ()),
        ("a value lost on line 60 of od's default dump", "".join(
            "%07o %s\n" % (k, " ".join("%02x" % b for b in GAME[k:k + 16][1 if k == 59 * 16 else 0:]))
            for k in range(0, 1024, 16)) + "0002000\n", ":60: 15 values, where the label on line 61 wants 16", ()),
    ] for case in both_ways(dumped(name, text, out, options=options))],
    *[case for name, text, out, start in [
        ("xxd -o past 4 GiB: labels of nine digits", "".join(
            "%08x: %s  %s\n" % (0xFFFFFFC0 + k, hexes(GAME[k:k + 16]).lower(), column(GAME[k:k + 16]))
            for k in range(0, 128, 16)), GAME[:128], "FFFFFFC0"),
        ("hexdump -C past 64 GiB: a closing offset of ten digits", "".join(
            "%010x  %-48s |%s|\n" % (0x1000000000 + k, hexes(DUMPED[k:k + 16]).lower(), column(DUMPED[k:k + 16]))
            for k in range(0, 32, 16)) + "1000000020\n", DUMPED[:32], "0"),
        ("od of 100 zero bytes: octal offsets", "0000000 " + ROW + "\n*\n0000140 00 00 00 00\n0000144\n", bytes(100), "0"),
        ("a closing offset written twice", "0000000 " + hexes(DUMPED[:16]) + "\n0000020\n0000020\n", DUMPED[:16], "0"),
        ("an address heading before xxd -o's dump", "C000\n\n" + "".join(
            "%08x: %s  %s\n" % (0xC000 + k, hexes(DUMPED[k:k + 16]).lower(), column(DUMPED[k:k + 16]))
            for k in range(0, 32, 16)), DUMPED[:32], "C000"),
        ("od of an empty file before another", "0000000\n" + "".join(
            "%07o %s\n" % (k, hexes(DUMPED[k:k + 16]).lower()) for k in range(0, 40, 16)) + "0000050\n", DUMPED, "0"),
        ("a column that may be values: the next label's step says so", "C000: 34 33  43\nC002: 11\n",
         bytes.fromhex("343311"), "C000"),
        ("values that may be a column: the next label's step says so", "C000: 34 33  43\nC003: 11\n",
         bytes.fromhex("34334311"), "C000"),
        ("a last line's column that may be values, more than the dump's lines hold", "".join(
            "%08x: %s  %s\n" % (k, hexes(row).lower(), column(row)) for k, row in enumerate([b"A" * 16, b" 41 42 43 44 45 "])
        ).replace("00000001:", "00000010:"), b"A" * 16 + b" 41 42 43 44 45 ", "0"),
        ("a column that may be values, where the other lines' start", "41 42 43 44 45  ABCDE\n31 32 20 33 34  12 34\n",
         b"ABCDE12 34", "0"),
        ("headings that stay text", "(C:$e5cf) m c000 c0ff\nDec 1984 issue\n-d 0100 017f\nListing 1: C000-C0FF\n"
         "BEEF CAFE\nTotal 1984 1985\nChecksums of game.bin\nCreated 2024-01-01\nLast accessed 2024\n"
         "Dump of 0x00400000\n*C000.C0FF\n" + dump_file(DUMPED, 0xC000), DUMPED, "C000"),
    ] for case in both_ways(dumped(name, text, out, 0, start))],
    # A line of values after one blank, as od -A n writes it after a *, following a line of text.
    *both_ways(dumped("one blank before the values, after text", "x\n " + hexes(range(16, 32)).lower() + "\n",
                      "64 1C \n", 0, "0")),
    fmt_check("od's offsets of a repeated row, octal and decimal alike", OD_BOTH, "",
              "image.txt: * repeats by labels that may be octal or decimal\n", 2,
              args=("--format=dump", "0"), image_name="image.txt"),
]

# Dumps as programs print them, made at test time: a row is skipped where its
# program is missing.
def made_by(command, image):
    """`image` as `command` dumps it, or None where the program is missing."""
    if not shutil.which(command[0]):
        return None
    with tempfile.TemporaryDirectory() as folder:
        Path(folder, "image.bin").write_bytes(image)
        return subprocess.run([*command, "image.bin"], cwd=folder, capture_output=True, check=True,
                              env={**os.environ, "LC_ALL": "C"}).stdout


XXD, XXD_G1, XXD_P, XXD_A = ["xxd"], ["xxd", "-g1"], ["xxd", "-p"], ["xxd", "-a"]
HEXDUMP_C, HEXDUMP_CV, HD = ["hexdump", "-C"], ["hexdump", "-C", "-v"], ["hd"]
OD, OD_X, OD_D, OD_N = (["od", *offsets, "-t", "x1"] for offsets in ([], ["-A", "x"], ["-A", "d"], ["-A", "n"]))
OD_XZ = ["od", "-A", "x", "-t", "x1z"]
CASES += [
    case for what, image, commands in [
        ("40 bytes", DUMPED, [XXD, XXD_G1, ["xxd", "-g16"], XXD_P, HEXDUMP_C, HD, OD, OD_XZ, OD_D, OD_N]),
        ("64 zero bytes", bytes(64), [XXD_A, XXD_P, HEXDUMP_C, HEXDUMP_CV, HD, OD_X, OD_XZ, OD_D]),
        ("a row repeated", REPEATED, [XXD_A, HEXDUMP_C, HD, OD, OD_XZ, OD_D]),
        ("hex text", HEX_TEXT, [XXD, XXD_G1, HEXDUMP_C, OD_XZ]),
        ("8 KiB, lines laid out alike", GAME, [XXD, XXD_G1, XXD_P, HEXDUMP_C, OD, OD_XZ, OD_N]),
    ] for command in commands
    for case in both_ways(Case(f"format: a dump by {' '.join(command)}, {what}", ["--format=dump", "C000", "image.txt"],
                               made_by(command, image), scanned(image, 0xC000), image_name="image.txt",
                               needs=command[0]))]


def laid_out(line, per_line=16, image=DUMPED, head="", tail=""):
    return head + "".join(line(k, image[k:k + per_line]) for k in range(0, len(image), per_line)) + tail


RULER = hexes(range(16))
PS5 = laid_out(lambda k, row: "%08X   %-47s  %s\n" % (k, hexes(row), column(row, True)),
               head=f"\n           Path: C:\\Users\\me\\image.bin\n\n           {RULER}\n\n", tail="\n\n")
# Dumps as monitors, DEBUG and Windows print them, typed here as they lay them out.
CASES += [case for name, start, text in [
    ("PowerShell 5's Format-Hex", 0, PS5),
    ("PowerShell 5's Format-Hex, saved by > as UTF-16", 0, PS5.replace("\n", "\r\n").encode("utf-16")),
    ("PowerShell 7's Format-Hex", 0, laid_out(
        lambda k, row: "%016X %-47s %s\n" % (k, hexes(row), column(row, True)),
        head="\n   Label: C:\\Users\\me\\image.bin\n\n          Offset Bytes" + " " * 43 + "Ascii\n"
             + " " * 17 + RULER + "\n          ------ " + "-" * 47 + " -----\n")),
    ("DEBUG", 0x100, laid_out(lambda k, row: "0B3C:%04X  %-47s   %s\n" % (
        0x100 + k, hexes(row[:8]) + "-" * (len(row) > 8) + hexes(row[8:]), column(row)), head="-d\n", tail="-q\n")),
    ("the VICE monitor", 0xC000, laid_out(lambda k, row: ">C:%04x  %-50s   %s\n" % (
        0xC000 + k, "  ".join(hexes(row[g:g + 4]).lower() for g in range(0, len(row), 4)), column(row)),
        head="(C:$e5cf) m c000 c027\n", tail="(C:$c028) \n")),
    ("the Apple II monitor", 0xC000, laid_out(lambda k, row: "%04X- %s\n" % (0xC000 + k, hexes(row)), 8,
                                              head="*C000.C027\n")),
    ("a C64 monitor", 0xC000, laid_out(lambda k, row: ".:%04X %s %s\n" % (0xC000 + k, hexes(row), column(row)), 8,
                                       head="m c000 c027\n")),
    ("a hex editor's export", 0, laid_out(lambda k, row: "%08X  %-47s  %s\n" % (k, hexes(row), column(row)),
                                          head=f"Offset(h) {RULER}\n\n")),
] for case in both_ways(fmt(f"a dump by {name}", text, scanned(DUMPED, start), args=("--format=dump", "%X" % start),
                            image_name="image.txt"))]

# Images that begin between rows, as a C64 program does at 0801: in each
# format, plain, and checked against their own output and with a byte of
# their first whole row wrong.
BETWEEN = bytes((37 * k + 11) % 256 for k in range(127))
FORMATS = {  # the image as a file of each format at `start`, and the lines of its bytes
    "binary": (lambda image, start: image, None),
    "ihex": (lambda image, start: hex_file(image, start), lambda o, start: 2 + o // 16),
    "srec": (lambda image, start: srec_file(image, start), lambda o, start: 2 + o // 32),
    "dump": (lambda image, start: dump_file(image, start), lambda o, start: 1 + o // 16),
}


def unchecked(start, size):
    before = min(-start % 8, size)
    after = (size - before) % 8
    rows = (size - before) // 8
    if before and after:
        return rows, f", {before} byte{'s' * (before > 1)} before the first row and {after} after the last row unchecked"
    if before:
        return rows, f", {before} byte{'s' * (before > 1)} before the first row unchecked"
    return rows, f", {after} byte{'s' * (after > 1)} after the last row unchecked" if after else ""


def between(start, size, kind, checked=None):
    """`size` bytes at `start` as `kind`, plain, or checked against its own
    output ("own") or with the first whole row's first byte wrong ("wrong")."""
    image = BETWEEN[:size]
    if kind in ("ihex", "srec"):  # records stop at the top of the address space
        image = image[:(1 << 32) - start]
    write, line_of = FORMATS[kind]
    text = write(image, start)
    text = text.encode() if isinstance(text, str) else text
    args = [f"--format={kind}", "%X" % start, "image.txt"]
    out = scanned(image, start)
    name = f"between rows: {size} bytes at {start:X} as {kind}"
    if checked is None:
        return Case(name, args, text, out, image_name="image.txt")
    rows, tail = unchecked(start, len(image))
    if checked == "own":
        return Case(name + ", checked", ["--check", "listing.txt", *args], text, f"all {rows} rows match{tail}\n",
                    listing=out.encode(), image_name="image.txt")
    head = -start % 8
    wrong = bytearray(image)
    wrong[head] ^= 0x40
    row = bytes(wrong[head:head + 8])
    address = (start + head) % (1 << 32)
    listed = out.split()[0]
    image_value = "%02X" % (-(address % 256 + address // 256 % 256 + sum(row)) % 256)
    if line_of is None:
        place = ", offset %X" % head
    else:
        first, last = line_of(head, start), line_of(head + 7, start)
        place = f", image line {first}" if first == last else f", image lines {first}-{last}"
    report = (f"{address:08X}: listing {listed} (line {1 + out[:out.index(listed)].count(chr(10))}), "
              f"image {image_value}{place}, bytes {' '.join('%02X' % b for b in row)}\n")
    wrong = write(bytes(wrong), start)
    return Case(name + ", a byte wrong", ["--check", "listing.txt", *args], wrong if kind == "binary" else wrong.encode(),
                report + f"1 of {rows} rows differ{tail}\n", 1, listing=out.encode(), image_name="image.txt")


CASES += [between(start, size, kind) for start in (0x801, 0x803, 0x807, 0x879, 0xFFFFFFFD)
          for size in (1, 7, 8, 9, 127) for kind in FORMATS]
CASES += [between(start, size, kind, "own") for start in (0x801, 0x879, 0xFFFFFFFD) for size in (1, 9, 127)
          for kind in FORMATS]
CASES += [between(start, 127, kind, "wrong") for start in (0x801, 0x803, 0x807, 0x879) for kind in FORMATS]

# A file changed between its two readings, in each format, plain and
# checked: where its line 201's first value's digits are, and its column.
CHANGED = {
    "ihex": (GAME_HEX, 9, None),
    "srec": (srec_file(GAME, 0xC000), 10, None),
    "dump": (dump_file(GAME, 0xC000), 6, None),
    "xxd": (laid_out(lambda k, row: "%08x: %-39s  %s\n" % (
        k, " ".join(row[i:i + 2].hex() for i in range(0, 16, 2)), column(row)), image=GAME), 10, 51),
    "hexdump -C": (laid_out(lambda k, row: "%08x  %-48s  |%s|\n" % (
        k, hexes(row[:8]).lower() + "  " + hexes(row[8:]).lower(), column(row)), image=GAME,
        tail="%08x\n" % len(GAME)), 10, 61),
}


def changed(kind, what, check):
    text, digits, column_at = CHANGED[kind]
    lines = text.splitlines(True)
    at, line = len("".join(lines[:200])), lines[200]
    other = lambda c: "1" if c != "1" else "2"
    how = {"a value's digit": f"{at + digits + 1}={other(line[digits + 1])}",
           "a value's digit for a letter": f"{at + digits}=G",
           # 16 apart, where a sum of the file's bytes by 16-byte pieces
           # would not see it, nor, in a record, its checksum.
           "two digits swapped": f"{at + digits + 1}={line[digits + 17]}{line[digits + 2:digits + 17]}{line[digits + 1]}",
           "a character of its column": f"{at + (column_at or 0)}={other(line[column_at or 0])}",
           "a line lost": f"{at}-{len(line)}",
           "a line added at the end": "+" + lines[1],
           "cut short": f"{len(text) - 30}-30"}[what]
    return Case(f"changed between its readings: {kind}, {what}{', --check' * check}",
                ["--check", "listing.txt"] * check + ["--format=" + kind.split()[0].replace("xxd", "dump")
                                                      .replace("hexdump", "dump"), "C000", "image.txt"],
                text.encode(), After("image.txt changed while it was read\n"), 1 + check,
                wrap=("env", "LD_PRELOAD={library}", "ROWTALLY_TEST_CHANGE=" + how), posix=True,
                image_name="image.txt", listing=GAME_OUT.encode() if check else None)


# Lines laid out alike whose line ends differ now and then, in each format:
# read as they stand, from a file and through a pipe.
def ends_mixed(text):
    lines = text.splitlines(True)
    return "".join(line.replace("\n", "\r\n" if k % 7 == 3 else "\r" if k % 11 == 5 else "\n")
                   for k, line in enumerate(lines))


CASES += [case for kind, (text, _, _) in CHANGED.items() for what, ends in (
    ("lines ending in LF, CR LF and CR", ends_mixed(text)),
    ("lines ending in CR LF, the last in LF", text.replace("\n", "\r\n")[:-2] + "\n"),
    ("lines ending in CR LF, the last in CR", text.replace("\n", "\r\n")[:-1]))
    for case in both_ways(Case(f"format: {kind}, {what}", ["--format=" + kind.split()[0].replace("xxd", "dump")
                                                           .replace("hexdump", "dump"), "C000", "image.txt"],
                               ends.encode(), GAME_OUT, image_name="image.txt"))]
CASES += [changed(kind, what, check) for kind in CHANGED
          for what in ("a value's digit", "a value's digit for a letter", "two digits swapped",
                       "a character of its column", "a line lost",
                       "a line added at the end", "cut short")
          if what != "a character of its column" or CHANGED[kind][2] for check in (False, True)]


def run(command, case, crlf, library):
    with tempfile.TemporaryDirectory() as folder:
        os.mkdir(os.path.join(folder, "folder"))
        image = Path(folder, case.image_name)
        if isinstance(case.image, int):
            with open(image, "wb") as f:
                f.truncate(case.image)
        elif case.image is not None:
            image.write_bytes(case.image)
        if case.listing is not None:
            Path(folder, case.listing_name).write_bytes(case.listing)
        sink = open(case.stdout, "wb") if case.stdout else subprocess.PIPE
        try:
            wrap = [arg.replace("{folder}", folder).replace("{library}", library or "") for arg in case.wrap]
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
    elif isinstance(case.out, After):
        if not out.endswith(text(case.out.tail)) or b" rows match" in out or b" rows differ" in out:
            faults.append(f"  stdout: expected {text(case.out.tail)!r} last and no verdict, got {out[-160:]!r}")
    elif isinstance(case.out, Tail):
        lines = out.count(b"\n")
        if not out.endswith(text(case.out.text)) or lines != case.out.lines:
            faults.append(f"  stdout: expected {case.out.lines} lines, ending "
                          f"{text(case.out.text)!r}, got {lines}, ending {out[-160:]!r}")
    elif case.out is not None and out != text(case.out):
        faults.append(f"  stdout: expected {text(case.out)!r}, got {out!r}")
    if done.stderr != text(case.err):
        faults.append(f"  stderr: expected {text(case.err)!r}, got {done.stderr!r}")
    if done.returncode != case.status:
        faults.append(f"  status: expected {case.status}, got {done.returncode}")
    return faults


def srecord_faults(command):
    """Where srecord is installed: files of records, each converted to binary by
    srec_cat, cropped and filled as rowtally takes them, give the same output
    with --format as the binary gives."""
    shuffled = GAME_HEX.split("\n")[1:-2]
    random.Random(7).shuffle(shuffled)
    segments = [ihex(2, 0, 2, [0x10, 0])] + [ihex(None, 0xFF00 + 16 * k & 0xFFFF, 0, GAME[16 * k:16 * k + 16])
                                             for k in range(32)]
    files = [  # text, format, srec_cat's name for it, start, end
        (GAME_HEX, "ihex", "-intel", 0xC000, 0xE000),
        ("\n".join(shuffled[100:] + shuffled[:50]) + "\n" + ihex(0, 0, 1) + "\n", "ihex", "-intel", 0xBF00, 0xE100),
        ("\n".join(segments + [ihex(0, 0, 1)]) + "\n", "ihex", "-intel", 0x10000, 0x20000),
        (srec_file(GAME, 0xC000, 28), "srec", "-motorola", 0xC000, 0xE008),
    ]
    faults = []
    with tempfile.TemporaryDirectory() as folder:
        for k, (text, name, kind, start, end) in enumerate(files):
            image, binary = Path(folder, f"{k}.txt"), Path(folder, f"{k}.bin")
            image.write_text(text)
            subprocess.run(["srec_cat", str(image), kind, "-crop", hex(start), hex(end), "-fill", "0xFF",
                            hex(start), hex(end), "-offset", hex(-start), "-o", str(binary), "-binary"],
                           check=True, capture_output=True)
            got = [subprocess.run([*command, *args], cwd=folder, capture_output=True, timeout=120).stdout
                   for args in ([f"--format={name}", f"--length={end - start}", "%X" % start, image.name],
                                ["%X" % start, binary.name])]
            if got[0] != got[1] or not got[0]:
                faults.append(f"FAIL srec_cat: file {k} as {name} from {start:X} to {end:X}: "
                              f"{got[0][:80]!r} against {got[1][:80]!r}")
    return faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--crlf", action="store_true")
    parser.add_argument("--no-posix", action="store_true")
    parser.add_argument("--no-large", action="store_true")
    parser.add_argument("--change-library")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    options.command[-1] = os.path.abspath(options.command[-1])  # the tool; cases run elsewhere
    if options.change_library:
        options.change_library = os.path.abspath(options.change_library)

    missing = sorted({c.needs for c in CASES if c.needs and not shutil.which(c.needs)})
    cases = [c for c in CASES
             if not (c.posix and options.no_posix or c.large and options.no_large or c.needs in missing
                     or "{library}" in " ".join(c.wrap) and not options.change_library)]
    # In parallel: under Wine, each run alone costs seconds of start-up.
    with ThreadPoolExecutor(max_workers=8) as pool:
        results = pool.map(lambda case: run(options.command, case, options.crlf, options.change_library), cases)
    failed = 0
    for case, faults in zip(cases, results):
        if faults:
            failed += 1
            print(f"FAIL {case.name}: {case.args}", *faults, sep="\n")
    print(f"{len(cases) - failed} passed, {failed} failed, {len(CASES) - len(cases)} skipped")
    if missing:
        print(f"{', '.join(missing)} not installed: the dumps they print not read")
    if shutil.which("srec_cat"):
        faults = srecord_faults(options.command)
        print(*faults, f"srec_cat: {len(faults)} files of records read otherwise", sep="\n")
        failed += len(faults)
    else:
        print("srec_cat is not installed: rowtally's records not held against srecord's")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
