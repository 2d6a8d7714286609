// Reading a listing of row checksums, as rowtally prints them or as people
// type, save or copy them: a stream of two-digit values, each with the line
// it stands on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// How much of a bad token a message shows; a longer one is cut there.
inline constexpr std::size_t TOKEN_SHOWN = 64;

// How many tokens of a line are read ahead to tell a line of values from a
// line of text.
inline constexpr std::size_t LINE_AHEAD = 16;

// A token kept: its first bytes, enough to show it cut between characters
// after TOKEN_SHOWN of them, and how many it has, or more than TOKEN_SHOWN
// where reading it stopped.
struct Token {
	unsigned char kind;	// the reader's own
	std::uint8_t value;
	std::uint64_t len;
	unsigned char bytes[TOKEN_SHOWN + 4];
};

// A listing being read, as UTF-8 whatever its encoding: bytes as they
// stand, or UTF-16 with a byte order mark (what PowerShell 5's `>` and
// Notepad's "Unicode" write) turned into UTF-8. Its fields are the
// reader's own.
struct Listing {
	std::FILE *file;
	bool utf16, big_endian;
	bool dump;		// a dump: a text token on a line with a value is a fault
	std::uint64_t line;	// the line being read, from 1
	bool line_start;	// no token read on it yet: one may be an address label
	bool line_values;	// it is a line of values
	bool line_has_value;	// of a dump: a value stands on it
	// The tokens read ahead on it, ahead[ahead_next] the next to hand out.
	Token ahead[LINE_AHEAD];
	std::size_t ahead_count, ahead_next;
	// The token last handed out that is no value: a typo, or a bad value.
	Token token;
	// Until a line of values comes: the first line of text, its first
	// bytes and its length, for a listing that holds no values at all.
	bool seen_values;
	std::uint64_t text_line;	// 0 for none yet
	unsigned char head[TOKEN_SHOWN + 4];
	std::size_t head_len;
	std::uint64_t head_at, head_end;
	std::uint64_t token_end;	// where the last token read ahead ends
	// UTF-16: a byte of a unit whose other byte is still to come, and a
	// leading surrogate waiting for its trailing one.
	int odd_byte;	// -1 for none
	unsigned surrogate;	// 0 for none
	// data[pos] to data[len - 1] are still to be read; data[0] is byte
	// `base` of the listing as read.
	std::size_t pos, len;
	std::uint64_t base;
	bool file_ended;	// the last fread came back short
	unsigned char data[65536];
};

// A value of the listing; a typo, a token of text on a line of values,
// which takes a value's place; the end; a token that is no text at all.
enum class ListingRead { VALUE, TYPO, END, BAD };

// Readies `listing` to read `in` from its start, taking its byte order mark;
// as a dump where `dump` says so.
void open_listing(Listing *listing, std::FILE *in, bool dump = false);

// Reads the next value and the line it stands on. Of a listing: a line is
// a line of values where, of its first LINE_AHEAD tokens after its label,
// more are values than text; its tokens of text are TYPOs, and any other
// line is passed over whole. Of a dump: a line with no value is passed
// over, and a token of text on a line with a value is BAD. END at the end,
// or at a read error, which ferror tells apart; BAD at a token that is no
// text at all, *line being its line: nothing after it is read. A TYPO's
// or a BAD token's text is listing->token.
ListingRead next_value(Listing *listing, std::uint8_t *value, std::uint64_t *line);

// Of the `count` values in `text`, "XX " each as rowtally prints them, how
// many the listing has next, in either case, with ASCII blanks and line ends
// between them, on lines found to be lines of values; having read those.
// Nothing else is read: the first value that differs, anything else, and
// the values of a line not yet found a line of values, are left to
// next_value.
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

// Writes the bad token or typo that next_value found as a message shows it:
// at most TOKEN_SHOWN bytes of it, cut between characters and followed by
// "..." if it goes on, with control bytes and bytes of no character as
// \xHH, so that nothing in a listing can steer the terminal.
void write_token(const Listing *listing, std::FILE *out);

// The same into `to`, which has room for 4 * TOKEN_SHOWN + 3 bytes; its length.
std::size_t show_token(const Listing *listing, char *to);

// Where the listing ended having held no line of values but some text:
// writes "NAME: no values, only text, from line L: TEXT" and says so. For a
// listing that take_values took values of, not to be asked.
bool only_text(const Listing *listing, const char *name, std::FILE *out);

// Writes `text`, a name or an argument, whole, with its bytes shown as
// write_token shows them, so that no name can steer the terminal either.
void write_shown(const char *text, std::FILE *out);
