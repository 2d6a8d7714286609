#!/usr/bin/env python3
"""Benchmarks rowtally against the cost of reading alone (dd) and against
cksum and md5sum, and checks it against its targets.

usage: bench.py [--count] [--baseline OLD_ROWTALLY] ROWTALLY [WORK_DIR]

Makes random images in WORK_DIR (default /tmp/rowtally-bench) once, with their
listings as rowtally prints them, the same values eight a line, and listings
of unrelated values, and then:
- counts rowtally's instructions per byte of a 16 MiB image under callgrind,
  start-up included, plain, checked against its listing and against the
  eight-a-line one, and of the image with a byte left out every 64 KiB
  against its listing: repeatable whatever else the machine is doing;
- times five runs of each command on a 512 MiB image, alternating, output to
  /dev/null, and prints the medians and rowtally's ratio to each;
- times rowtally against cksum on a 4 KiB image (start-up cost);
- times the check of a 128 MiB image against the plain run, likewise, and
  against a listing of unrelated values, every row reported, beside
  OLD_ROWTALLY (an earlier version) where it is given;
- times the search for a fit: a check of a 4 KiB image whose first value
  is wrong, which looks for a start address or skip that fits and finds
  none, against the same with a later value wrong, which does not look;
- reads rowtally's peak memory on a 128 MiB and a 4 KiB image, plain,
  checked, checked against unrelated values, and with a byte left out
  every 64 KiB (/usr/bin/time, Debian's time);
- counts instructions per image byte of the 16 MiB image as Intel HEX of
  16-byte records (as objcopy -O ihex writes), as S-records of 32 bytes (as
  srec_cat writes) and of 16 (as objcopy -O srec writes), as a dump of 16
  values a line with labels, as typed, and as xxd and hexdump -C print it,
  plain and checked against its listing, and reads peak memory of each on
  16 MiB and 4 KiB, and of the Intel HEX with its records out of order; and
  of the Intel HEX and xxd's dump through a pipe, its instructions within 2
  a byte of the file's and its memory flat.
Exits 1 if a target is missed. --count does the first only: a check that
does not depend on the machine's load, for CI.
"""
import os
import random
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

MAX_INSTRUCTIONS_PER_BYTE = 2.0
MAX_CHECK_INSTRUCTIONS_PER_BYTE = 3.0
MAX_EIGHT_A_LINE_INSTRUCTIONS_PER_BYTE = 6.0
MAX_LACKING_INSTRUCTIONS_MORE_PER_BYTE = 0.5  # than the check against its own listing
MAX_CHECK_RATIO_TO_PLAIN = 3.0
MAX_UNRELATED_RATIO_TO_BASELINE = 2.0
MAX_FIT_SEARCH_MS = 50
MAX_RATIO_TO_DD = 4.0
MAX_RATIO_TO_CKSUM_SMALL = 1.0
MAX_MEMORY_DIFFERENCE_KIB = 64
# Images from files of text: the goals, and what CI holds them to, 1.25 times
# the figures reached, or the goal where that is less.
FORMAT_GOALS = {"ihex": 12.0, "srec": 12.0, "srec16": 12.0, "dump": 40.0, "xxd": 40.0, "hexdump": 40.0}
FORMAT_LIMITS = {"ihex": 21.0, "srec": 16.5, "srec16": 22.0, "dump": 40.0, "xxd": 40.0, "hexdump": 40.0}
FORMAT_OPTIONS = {"ihex": "--format=ihex", "srec": "--format=srec", "srec16": "--format=srec", "dump": "--format=dump",
                  "xxd": "--format=dump", "hexdump": "--format=dump"}
MAX_FORMAT_MEMORY_DIFFERENCE_KIB = 256
# Through a pipe, whose bytes go to a temporary file for the second reading:
# at most this many instructions a byte more than the file.
MAX_PIPE_INSTRUCTIONS_MORE_PER_BYTE = 2.0
MAX_OUT_OF_ORDER_MEMORY_RATIO = 3.0  # to the image's data


def image(path, size):
    if not path.exists() or path.stat().st_size != size:
        with open(path, "wb") as f:
            left = size
            while left:
                f.write(os.urandom(min(left, 1 << 20)))
                left -= min(left, 1 << 20)
    return str(path)


def listing(tool, image_path):
    """The image's own listing, beside it."""
    path = Path(image_path).with_suffix(".txt")
    if not path.exists() or path.stat().st_mtime < Path(image_path).stat().st_mtime:
        with open(path, "wb") as f:
            subprocess.run([tool, "0", image_path], stdout=f, check=True)
    return str(path)


def eight_a_line(listing_path):
    """The same values, eight a line and no blank at the ends, as typed."""
    path = Path(listing_path).with_suffix(".8.txt")
    if not path.exists() or path.stat().st_mtime < Path(listing_path).stat().st_mtime:
        values = Path(listing_path).read_text().split()
        path.write_text("".join(" ".join(values[k:k + 8]) + "\n" for k in range(0, len(values), 8)))
    return str(path)


def lacking(image_path):
    """The image with one byte left out every 64 KiB, to check against its
    own listing as it was: a slip of the image found and read past each time."""
    path = Path(image_path).with_suffix(".lacking.bin")
    if not path.exists() or path.stat().st_mtime < Path(image_path).stat().st_mtime:
        data = Path(image_path).read_bytes()
        path.write_bytes(b"".join(data[k:k + (1 << 16) - 1] for k in range(0, len(data), 1 << 16)))
    return str(path)


def unrelated(image_path):
    """Random values, as many as the image has rows: every one is reported."""
    path = Path(image_path).with_suffix(".unrelated.txt")
    if not path.exists() or path.stat().st_mtime < Path(image_path).stat().st_mtime:
        rows = Path(image_path).stat().st_size // 8
        with open(path, "w") as f:
            for k in range(0, rows, 16):
                f.write(" ".join("%02X" % b for b in os.urandom(min(16, rows - k))) + " \n")
    return str(path)


def text_of(image_path, kind, shuffled=False):
    """The image as a file of text: Intel HEX, S-records or a dump."""
    suffix = {"ihex": ".hex", "srec": ".srec", "srec16": ".16.srec", "dump": ".dump", "xxd": ".xxd",
              "hexdump": ".hd"}[kind] + \
        (".shuffled" if shuffled else "")
    path = Path(image_path).with_suffix(suffix)
    if path.exists() and path.stat().st_mtime >= Path(image_path).stat().st_mtime:
        return str(path)
    data = Path(image_path).read_bytes()
    lines = []
    if kind == "ihex":
        for k in range(0, len(data), 16):
            if k % 65536 == 0:
                b = bytes([2, 0, 0, 4, k >> 24, k >> 16 & 0xFF])
                lines.append(":%s%02X" % (b.hex().upper(), -sum(b) % 256))
            b = bytes([16, k >> 8 & 0xFF, k & 0xFF, 0]) + data[k:k + 16]
            lines.append(":%s%02X" % (b.hex().upper(), -sum(b) % 256))
        if shuffled:
            # Each 64 KiB with its 04 record, the stretches in another order.
            pieces = [lines[k:k + 4097] for k in range(0, len(lines), 4097)]
            random.Random(1).shuffle(pieces)
            lines = [line for piece in pieces for line in piece]
        lines.append(":00000001FF")
    elif kind in ("srec", "srec16"):  # as srec_cat writes them, and objcopy -O srec
        per = 32 if kind == "srec" else 16
        for k in range(0, len(data), per):
            b = bytes([per + 4]) + k.to_bytes(3, "big") + data[k:k + per]
            lines.append("S2%s%02X" % (b.hex().upper(), 0xFF - sum(b) % 256))
    elif kind == "dump":
        lines = ["%06X: %s" % (k, " ".join("%02X" % b for b in data[k:k + 16])) for k in range(0, len(data), 16)]
    else:  # as xxd and hexdump -C print it, each byte of its column as itself or '.'
        for k in range(0, len(data), 16):
            row = data[k:k + 16]
            shown = "".join(chr(b) if 0x20 <= b <= 0x7E else "." for b in row)
            if kind == "xxd":
                groups = " ".join(row[i:i + 2].hex() for i in range(0, len(row), 2))
                lines.append("%08x: %-39s  %s" % (k, groups, shown))
            else:
                values = " ".join("%02x" % b for b in row[:8]) + "  " + " ".join("%02x" % b for b in row[8:])
                lines.append("%08x  %-48s  |%s|" % (k, values, shown))
        if kind == "hexdump":
            lines.append("%08x" % len(data))
    path.write_text("\n".join(lines) + "\n")
    return str(path)


def run(command, ok=(0,)):
    """Seconds of one run, output discarded; its status must be in `ok`."""
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if done.returncode not in ok:
        raise SystemExit(f"{command}: status {done.returncode}")
    return time.perf_counter() - start


def piped(path):
    """`path`'s bytes through a pipe, for a command's standard input."""
    return subprocess.Popen(["cat", path], stdout=subprocess.PIPE).stdout


def peak_memory(command, stdin=None):
    """Peak resident memory in KiB, by GNU time: this process's own would
    count for a child started from it."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdin=stdin, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    return int(done.stderr.split()[-1])


def medians(commands, runs, ok=(0,)):
    """Median seconds of each command, run alternately."""
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            times[name].append(run(command, ok))
    return {name: statistics.median(t) for name, t in times.items()}


def instructions(command, ok=(0,), stdin=None):
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"]
                          + command, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode not in ok:
        raise SystemExit(f"{command}: status {done.returncode}")
    return int(re.search(r"Collected : (\d+)", done.stderr).group(1))


def main():
    args = sys.argv[1:]
    count_only = args[:1] == ["--count"]
    args = args[count_only:]
    baseline = None
    if args[:1] == ["--baseline"]:
        baseline, args = os.path.abspath(args[1]), args[2:]
    tool = os.path.abspath(args[0])
    work = Path(args[1] if len(args) > 1 else "/tmp/rowtally-bench")
    work.mkdir(parents=True, exist_ok=True)
    mid = image(work / "16MiB.bin", 16 << 20)
    missed = []

    def target(ok, text):
        print(f"  {'met' if ok else 'MISSED'}: {text}")
        if not ok:
            missed.append(text)

    for name, command, most in (
            ("", [tool, "0", mid], MAX_INSTRUCTIONS_PER_BYTE),
            (", --check", [tool, "--check", listing(tool, mid), "0", mid],
             MAX_CHECK_INSTRUCTIONS_PER_BYTE),
            (", --check eight values a line", [tool, "--check", eight_a_line(listing(tool, mid)),
                                               "0", mid], MAX_EIGHT_A_LINE_INSTRUCTIONS_PER_BYTE)):
        per_byte = instructions(command) / (16 << 20)
        print(f"instructions per byte, 16 MiB image under callgrind{name}: {per_byte:.2f}")
        target(per_byte <= most, f"at most {most}")
        if name == ", --check":
            own = per_byte
    # Status 1: each of the 256 slips is reported.
    per_byte = instructions([tool, "--check", listing(tool, mid), "0", lacking(mid)], ok=(1,)) / (16 << 20)
    print(f"instructions per byte, the same with a byte left out every 64 KiB: {per_byte:.2f}")
    target(per_byte <= own + MAX_LACKING_INSTRUCTIONS_MORE_PER_BYTE,
           f"within {MAX_LACKING_INSTRUCTIONS_MORE_PER_BYTE} of its own listing's")
    for kind in FORMAT_GOALS:
        for name, command in (("", [tool, FORMAT_OPTIONS[kind], "0", text_of(mid, kind)]),
                              (", --check", [tool, "--check", listing(tool, mid), FORMAT_OPTIONS[kind], "0",
                                             text_of(mid, kind)])):
            per_byte = instructions(command) / (16 << 20)
            print(f"instructions per image byte, 16 MiB image as {kind}{name}: {per_byte:.2f} "
                  f"(the goal {FORMAT_GOALS[kind]})")
            target(per_byte <= FORMAT_LIMITS[kind], f"at most {FORMAT_LIMITS[kind]}")
            if name == "":
                file_per_byte = per_byte
        if kind in ("ihex", "xxd"):
            per_byte = instructions([tool, FORMAT_OPTIONS[kind], "0", "-"], stdin=piped(text_of(mid, kind))) / (16 << 20)
            print(f"instructions per image byte, 16 MiB image as {kind} through a pipe: {per_byte:.2f}")
            target(per_byte <= file_per_byte + MAX_PIPE_INSTRUCTIONS_MORE_PER_BYTE,
                   f"within {MAX_PIPE_INSTRUCTIONS_MORE_PER_BYTE} of the file's")
    if count_only:
        return 1 if missed else 0

    big = image(work / "512MiB.bin", 512 << 20)
    small = image(work / "4KiB.bin", 4 << 10)

    run(["cat", big])  # into the page cache
    big_times = medians({
        "rowtally": [tool, "0", big],
        "dd": ["dd", f"if={big}", "of=/dev/null", "bs=128k"],
        "cksum": ["cksum", big],
        "md5sum": ["md5sum", big],
    }, 5)
    print("512 MiB image, median of 5 runs:")
    for name, seconds in big_times.items():
        ratio = big_times["rowtally"] / seconds
        print(f"  {name:8} {seconds:8.3f} s   rowtally takes {ratio:5.2f}x as long")
    ratio = big_times["rowtally"] / big_times["dd"]
    target(ratio <= MAX_RATIO_TO_DD, f"within {MAX_RATIO_TO_DD}x of dd")

    checked = image(work / "128MiB.bin", 128 << 20)
    check_times = medians({"plain": [tool, "0", checked],
                           "check": [tool, "--check", listing(tool, checked), "0", checked]}, 5)
    ratio = check_times["check"] / check_times["plain"]
    print(f"128 MiB image, median of 5 runs: plain {check_times['plain']:.3f} s, "
          f"--check {check_times['check']:.3f} s, ratio {ratio:.2f}")
    target(ratio <= MAX_CHECK_RATIO_TO_PLAIN, f"--check within {MAX_CHECK_RATIO_TO_PLAIN}x of plain")

    # Status 1: every row differs.
    odd = [tool, "--check", unrelated(checked), "0", checked]
    if baseline:
        odd_times = medians({"new": odd, "old": [baseline, *odd[1:]]}, 3, ok=(1,))
        ratio = odd_times["new"] / odd_times["old"]
        print(f"128 MiB image against unrelated values, median of 3 runs: {odd_times['new']:.2f} s, "
              f"{os.path.basename(baseline)} given as the baseline {odd_times['old']:.2f} s, "
              f"ratio {ratio:.2f}")
        target(ratio <= MAX_UNRELATED_RATIO_TO_BASELINE,
               f"within {MAX_UNRELATED_RATIO_TO_BASELINE}x of the baseline")
    else:
        print(f"128 MiB image against unrelated values, median of 3 runs: "
              f"{medians({'new': odd}, 3, ok=(1,))['new']:.2f} s (no --baseline to compare)")

    small_times = medians({"rowtally": [tool, "0", small], "cksum": ["cksum", small]}, 101)
    ratio = small_times["rowtally"] / small_times["cksum"]
    print(f"4 KiB image, median of 101 runs: rowtally {small_times['rowtally'] * 1e3:.2f} ms, "
          f"cksum {small_times['cksum'] * 1e3:.2f} ms, ratio {ratio:.2f}")
    target(ratio <= MAX_RATIO_TO_CKSUM_SMALL, "no slower than cksum")

    values = Path(listing(tool, small)).read_text().split()
    wrong = {}
    for name, k in (("search", 0), ("no search", 100)):
        changed = values[:k] + ["%02X" % (int(values[k], 16) ^ 0xFF)] + values[k + 1:]
        wrong[name] = work / f"4KiB.wrong-{k}.txt"
        wrong[name].write_text(" ".join(changed) + "\n")
    fit_times = medians({name: [tool, "--check", str(path), "0", small]
                         for name, path in wrong.items()}, 101, ok=(1,))
    search_ms = (fit_times["search"] - fit_times["no search"]) * 1e3
    print(f"4 KiB image, median of 101 runs: the first value wrong (a search for a fit) "
          f"{fit_times['search'] * 1e3:.2f} ms, a later one {fit_times['no search'] * 1e3:.2f} ms: "
          f"the search {search_ms:.2f} ms")
    target(search_ms <= MAX_FIT_SEARCH_MS, f"the search within {MAX_FIT_SEARCH_MS} ms")

    # Shared libraries and address-space layout make a run's peak vary by
    # some 100 KiB from run to run, of any program: compare medians.
    for name, command in (("", lambda path: [tool, "0", path]),
                          (", --check", lambda path: [tool, "--check", listing(tool, path), "0", path]),
                          (", --check, unrelated values",
                           lambda path: [tool, "--check", unrelated(path), "0", path]),
                          (", --check, a byte left out every 64 KiB",
                           lambda path: [tool, "--check", listing(tool, path), "0", lacking(path)])):
        peaks = {checked: [], small: []}
        for _ in range(11):
            for path in peaks:
                peaks[path].append(peak_memory(command(path)))
        big_kib, small_kib = (statistics.median(peaks[path]) for path in (checked, small))
        print(f"peak memory{name}, median of 11 runs: {big_kib} KiB on 128 MiB, "
              f"{small_kib} KiB on 4 KiB")
        target(abs(big_kib - small_kib) <= MAX_MEMORY_DIFFERENCE_KIB,
               f"the same within {MAX_MEMORY_DIFFERENCE_KIB} KiB")

    for kind in FORMAT_GOALS:
        peaks = {path: statistics.median(peak_memory([tool, FORMAT_OPTIONS[kind], "0", text_of(path, kind)])
                                         for _ in range(11)) for path in (mid, small)}
        print(f"peak memory as {kind}, median of 11 runs: {peaks[mid]} KiB on 16 MiB, {peaks[small]} KiB on 4 KiB")
        target(abs(peaks[mid] - peaks[small]) <= MAX_FORMAT_MEMORY_DIFFERENCE_KIB,
               f"the same within {MAX_FORMAT_MEMORY_DIFFERENCE_KIB} KiB")
        if kind in ("ihex", "xxd"):
            peaks = {path: statistics.median(peak_memory([tool, FORMAT_OPTIONS[kind], "0", "-"],
                                                         stdin=piped(text_of(path, kind)))
                                             for _ in range(11)) for path in (mid, small)}
            print(f"peak memory as {kind} through a pipe, median of 11 runs: {peaks[mid]} KiB on 16 MiB, "
                  f"{peaks[small]} KiB on 4 KiB")
            target(abs(peaks[mid] - peaks[small]) <= MAX_FORMAT_MEMORY_DIFFERENCE_KIB,
                   f"the same within {MAX_FORMAT_MEMORY_DIFFERENCE_KIB} KiB")
    shuffled = statistics.median(peak_memory([tool, "--format=ihex", "0", text_of(mid, "ihex", True)])
                                 for _ in range(5))
    baseline = statistics.median(peak_memory([tool, "--format=ihex", "0", text_of(small, "ihex")]) for _ in range(5))
    ratio = (shuffled - baseline) / (16 << 10)
    print(f"peak memory as ihex out of order: {shuffled} KiB on 16 MiB, {ratio:.2f} times the data more than on 4 KiB")
    target(ratio <= MAX_OUT_OF_ORDER_MEMORY_RATIO, f"at most {MAX_OUT_OF_ORDER_MEMORY_RATIO} times the data")

    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
