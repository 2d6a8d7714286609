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
  game.hex            game.bin as Intel HEX, 16 bytes a record, as objcopy writes it
  game.srec           game.bin as S-records, 32 bytes a record, as srec_cat writes them
  typed.txt           game.bin as a hex dump typed in, a label on each line, the line of
                      C130 left out after line 19
  typed-bare.txt      the same without labels, the byte at C323 left out on line 51
  game.xxd            game.bin as xxd prints it at C000 (xxd -o 0xC000)
  typed-sample.txt    sample.bin's listing as typed from a page: a heading, labels, a page
                      footer, and 4O typed for 40
  hello.prg           a Commodore 64 program that loads at 0801: a BASIC line, 10 SYS 2061,
                      and machine code that prints a few lines of text
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


def intel_hex(image, address):
    records = []
    for k in range(0, len(image), 16):
        data = image[k:k + 16]
        b = bytes([len(data), (address + k) >> 8 & 0xFF, (address + k) & 0xFF, 0]) + data
        records.append(":%s%02X" % (b.hex().upper(), -sum(b) % 256))
    return ("\n".join(records + [":00000001FF"]) + "\n").encode()


def s_records(image, address):
    def record(kind, b):
        b = bytes([len(b) + 1]) + b
        return "S%d%s%02X" % (kind, b.hex().upper(), 0xFF - sum(b) % 256)
    records = [record(0, b"\0\0game")]
    records += [record(1, (address + k).to_bytes(2, "big") + image[k:k + 32]) for k in range(0, len(image), 32)]
    records += [record(5, (len(records) - 1).to_bytes(2, "big")), record(9, bytes(2))]
    return ("\n".join(records) + "\n").encode()


def typed_dump(image, address, lost_line=None, lost_byte=None, labels=True):
    """The dump as typed from a magazine: a label, 16 values a line, and the
    line of the byte at offset `lost_line` or the byte at `lost_byte` left
    out."""
    lines = []
    for k in range(0, len(image), 16):
        values = ["%02X" % b for b in image[k:k + 16]]
        if lost_byte is not None and k <= lost_byte < k + 16:
            del values[lost_byte - k]
        if lost_line is None or not k <= lost_line < k + 16:
            lines.append(("%04X: " % (address + k) if labels else "") + " ".join(values) + "\n")
    return "".join(lines).encode()


def xxd(image, address):
    """The image as xxd prints it: groups of two bytes, and each byte as its
    character, or '.'."""
    lines = []
    for k in range(0, len(image), 16):
        row = image[k:k + 16]
        groups = " ".join(row[i:i + 2].hex() for i in range(0, len(row), 2))
        shown = "".join(chr(b) if 0x20 <= b <= 0x7E else "." for b in row)
        lines.append("%08x: %-39s  %s\n" % (address + k, groups, shown))
    return "".join(lines).encode()


def c64_program():
    """A C64 .prg: its load address, 0801, then a BASIC line that starts the
    machine code after it, which prints the text that follows it."""
    basic = bytes([0x0B, 0x08, 0x0A, 0x00, 0x9E]) + b"2061" + bytes([0, 0, 0])
    code = bytes([
        0xA2, 0x00,        # 080D  LDX #0
        0xBD, 0x1B, 0x08,  # 080F  LDA 081B,X
        0xF0, 0x06,        # 0812  BEQ 081A
        0x20, 0xD2, 0xFF,  # 0814  JSR FFD2 (CHROUT)
        0xE8,              # 0817  INX
        0xD0, 0xF5,        # 0818  BNE 080F
        0x60,              # 081A  RTS
    ])
    text = (b"ROWTALLY PRINTS A CHECKSUM OF EVERY ROW\r"
            b"OF EIGHT BYTES, SO THAT THE ONE ROW THAT\r"
            b"WAS TYPED WRONG CAN BE FOUND BY COMPARING\r"
            b"THEM WITH THE CHECKSUMS PRINTED BESIDE\r"
            b"THE LISTING. THIS PROGRAM LOADS AT 0801,\r"
            b"BETWEEN ROWS: ITS FIRST SEVEN BYTES ARE\r"
            b"NO WHOLE ROW AND GET NO CHECKSUM.\r\0")
    return b"\x01\x08" + basic + code + text


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
        "game.hex": intel_hex(game, 0xC000),
        "game.srec": s_records(game, 0xC000),
        "typed.txt": typed_dump(game, 0xC000, lost_line=0x130),
        "typed-bare.txt": typed_dump(game, 0xC000, lost_byte=0x323, labels=False),
        "game.xxd": xxd(game, 0xC000),
        "hello.prg": c64_program(),
        "typed-sample.txt": b"Checksums of sample.bin\n"
                            b"4000: 42 F6 F5 EC 97 4O 93 84 17 B1 10 5A 13 1C B9 8D\n"
                            b"4080: 9B 47 52 DE 71 EF 98 0D 58 D5 49 DB 08 B7 2C 04\n"
                            b"                                     Page 1 of 2\n"
                            b"4100: 47 58 F8 4A D3\n",
    }
    for name, data in files.items():
        (HERE / name).write_bytes(data)


if __name__ == "__main__":
    main()
