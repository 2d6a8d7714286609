#!/usr/bin/env python3
"""Makes the example files that the README's examples run on, in the folder
this script is in. They are made once and kept with the sources; the bytes
come from SHA-256, so each run makes the same files.

  game.bin            an 8 KiB program that belongs at C000
  sums.txt            its listing, as rowtally prints it
  game.prg            the program behind a Commodore 64 load address (2 bytes)
  game.nes            the program behind an iNES header (16 bytes)
  readout.bin         a 32 KiB EPROM read out: the program, then erased bytes
  rom.bin             a 4 KiB image that belongs at 4000
  rom.txt             its listing, as rowtally prints it
  rom-lacks-byte.bin  rom.bin with the byte at offset 323 left out
  rom-lacks-line.bin  rom.bin with the 16 bytes at offset 500 left out
"""
import hashlib
from pathlib import Path

HERE = Path(__file__).resolve().parent


def listing(image, start):
    """The image's row checksums as rowtally prints them: a line for each
    128-byte block of the address space, each value followed by a blank."""
    lines = {}
    for offset in range(0, len(image) - 7, 8):
        address = start + offset
        total = (address >> 8 & 0xFF) + (address & 0xFF) + sum(image[offset:offset + 8])
        lines.setdefault(address // 128, []).append("%02X " % (-total % 256))
    return "".join("".join(values) + "\n" for values in lines.values()).encode()


def main():
    game = b"".join(hashlib.sha256(b"game %d" % k).digest() for k in range(256))
    rom = b"".join(hashlib.sha256(bytes([k])).digest() for k in range(128))
    files = {
        "game.bin": game,
        "sums.txt": listing(game, 0xC000),
        "game.prg": b"\x00\xc0" + game,
        "game.nes": b"NES\x1a" + bytes(12) + game,
        "readout.bin": game + b"\xff" * (32768 - len(game)),
        "rom.bin": rom,
        "rom.txt": listing(rom, 0x4000),
        "rom-lacks-byte.bin": rom[:0x323] + rom[0x324:],
        "rom-lacks-line.bin": rom[:0x500] + rom[0x510:],
    }
    for name, data in files.items():
        (HERE / name).write_bytes(data)


if __name__ == "__main__":
    main()
