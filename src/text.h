// A file of text read as UTF-8 whatever its encoding: bytes as they stand,
// or UTF-16 with a byte order mark (what PowerShell 5's `>` and Notepad's
// "Unicode" write) turned into UTF-8; a UTF-8 byte order mark is passed
// over. The listing's reader and the dump's read through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "source.h"

// What a Text holds at a time, and the bytes past it that wide loads may
// read.
inline constexpr std::size_t TEXT_HELD = 65536;
inline constexpr std::size_t TEXT_SLACK = 16;

struct Text {
	Source source;
	bool utf16, big_endian;
	// UTF-16: a byte of a unit whose other byte is still to come, and a
	// leading surrogate waiting for its trailing one.
	int odd_byte;	// -1 for none
	unsigned surrogate;	// 0 for none
	// data[pos] to data[len - 1] are still to be read; data[0] is byte
	// `base` of the text as read.
	std::size_t pos, len;
	std::uint64_t base;
	bool file_ended;	// the last fread came back short
	unsigned char data[TEXT_HELD + TEXT_SLACK];
};

// Readies `text` to read `in` from its current position, taking its byte
// order mark; the bytes read summed and copied as open_source says.
void open_text(Text *text, std::FILE *in, bool summed, std::FILE *copy);

// How many bytes are at hand from pos, having read on if fewer than `want`
// were; fewer than `want` only at the end of the text. `want` stays well
// below the size of data.
std::size_t text_at_hand(Text *text, std::size_t want);

// The width of the blank that the n bytes at p begin with, or 0: an ASCII
// blank (space, tab, vertical tab, form feed); a blank of Unicode that web
// pages, PDFs and word processors put between values (U+00A0, U+1680,
// U+2000 to U+200B, U+202F, U+205F, U+3000) or U+FEFF, a byte order mark
// where two files were joined; or a byte A0 on its own, a no-break space
// as the one-byte code pages write it.
std::size_t blank_width(const unsigned char *p, std::size_t n);
