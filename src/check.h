// Checking an image against a listing of its row checksums, as rowtally
// prints them or as people type or save them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "scan.h"

// How much of a bad token a message shows; a longer one is cut there.
inline constexpr std::size_t TOKEN_SHOWN = 64;

// A listing being read, as UTF-8 whatever its encoding: bytes as they
// stand, or UTF-16 with a byte order mark (what PowerShell 5's `>` and
// Notepad's "Unicode" write) turned into UTF-8.
struct Listing {
	std::FILE *file;
	bool utf16, big_endian;
	std::uint64_t line;	// the number of the line last read, from 1
	// After a bad value: the token, as much as TOKEN_SHOWN bytes of it,
	// and whether it went on.
	char token[TOKEN_SHOWN + 1];
	std::size_t token_len;
	bool token_cut;
	// UTF-16: a byte of a unit whose other byte is still to come, and a
	// leading surrogate waiting for its trailing one.
	int odd_byte;	// -1 for none
	unsigned surrogate;	// 0 for none
	// data[pos] to data[len - 1] are still to be read.
	std::size_t pos, len;
	bool file_ended;	// the last fread came back short
	char data[65536];
};

enum class LineRead { VALUES, END, BAD };

// Readies `listing` to read `in` from its start, taking its byte order mark.
void open_listing(Listing *listing, std::FILE *in);

// True, having read it, if the listing's next line is `text` followed by LF,
// CR LF or the end of the listing: what rowtally prints, the usual case.
// False, having read nothing, otherwise.
bool take_line(Listing *listing, const char *text, std::size_t len);

// Reads the next line that holds values, passing blank ones: stores the first
// ROWS_PER_BLOCK of its values and sets *count to how many it has. END at the
// end of the listing, or at a read error, which ferror tells apart; BAD at a
// token that is not two hexadecimal digits, at line listing->line.
LineRead read_values(Listing *listing, std::uint8_t values[ROWS_PER_BLOCK],
                     std::uint64_t *count);

// Compares the row checksums of the image in `image`, whose first byte
// belongs at `start`, with the listing in `listing`, named `listing_name`:
// writes a line to `out` for each row that differs, in address order, then
// the verdict. Returns 0 when every row matches, 1 when any differs, and 2
// when the listing holds a bad value (written as a message) or when a read
// failed: then nothing more is written, and ferror tells which file failed.
int check_image(std::FILE *image, std::uint32_t start, std::FILE *listing,
                const char *listing_name, std::FILE *out);
