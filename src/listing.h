// Reading a listing of row checksums, as rowtally prints them or as people
// type, save or copy them: a stream of two-digit values, each with the line
// it stands on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// How much of a bad token a message shows; a longer one is cut there.
inline constexpr std::size_t TOKEN_SHOWN = 64;

// A listing being read, as UTF-8 whatever its encoding: bytes as they
// stand, or UTF-16 with a byte order mark (what PowerShell 5's `>` and
// Notepad's "Unicode" write) turned into UTF-8. Its fields are the
// reader's own.
struct Listing {
	std::FILE *file;
	bool utf16, big_endian;
	std::uint64_t line;	// the line being read, from 1
	bool line_start;	// no token read on it yet: one may be an address label
	// After a bad value: its first bytes, enough to cut it after at most
	// TOKEN_SHOWN of them between characters, and how many were read: all
	// of it, or more than TOKEN_SHOWN, where reading it stopped.
	unsigned char token[TOKEN_SHOWN + 4];
	std::uint64_t token_len;
	// UTF-16: a byte of a unit whose other byte is still to come, and a
	// leading surrogate waiting for its trailing one.
	int odd_byte;	// -1 for none
	unsigned surrogate;	// 0 for none
	// data[pos] to data[len - 1] are still to be read.
	std::size_t pos, len;
	bool file_ended;	// the last fread came back short
	unsigned char data[65536];
};

enum class ListingRead { VALUE, END, BAD };

// Readies `listing` to read `in` from its start, taking its byte order mark.
void open_listing(Listing *listing, std::FILE *in);

// Reads the next value and the line it stands on. END at the end of the
// listing, or at a read error, which ferror tells apart; BAD at a token
// that is no value, *line being its line: nothing after it is read.
ListingRead next_value(Listing *listing, std::uint8_t *value, std::uint64_t *line);

// Of the `count` values in `text`, "XX " each as rowtally prints them, how
// many the listing has next, in either case, with ASCII blanks and line ends
// between them; having read those. Nothing else is read: the first value
// that differs, or anything else, is left to next_value.
std::size_t take_values(Listing *listing, const char *text, std::size_t count);

// Reads the values that stand next on one line of the listing, at most
// `most` of them, into `to`, and the line into *line, having passed the
// blanks, line ends and label before them: as many as are plain, two digits
// before an ASCII blank or line end. None where the next token is not such
// a value, which is left to next_value, or at the end. `sound`, where the
// listing was read once and found to hold nothing else, spares a check.
std::size_t take_bytes(Listing *listing, unsigned char *to, std::size_t most, std::uint64_t *line,
                       bool sound);

// Whether the `n` bytes at `text`, a line with its blanks at both ends taken
// off, are after at most one address label nothing but values and ASCII
// blanks, `least` values or more.
bool values_line(const unsigned char *text, std::size_t n, std::size_t least);

// Writes the bad token that next_value found as a message shows it: at most
// TOKEN_SHOWN bytes of it, cut between characters and followed by "..." if
// it goes on, with control bytes and bytes of no character as \xHH, so that
// nothing in a listing can steer the terminal.
void write_token(const Listing *listing, std::FILE *out);

// Writes `text`, a name or an argument, whole, with its bytes shown as
// write_token shows them, so that no name can steer the terminal either.
void write_shown(const char *text, std::FILE *out);
