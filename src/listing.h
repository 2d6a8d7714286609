// Reading a listing of row checksums, as rowtally prints them or as people
// type, save or copy them: a stream of two-digit values, each with the line
// it stands on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "shown.h"
#include "text.h"

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

// A listing being read. Its fields are the reader's own.
struct Listing {
	std::uint64_t line;	// the line being read, from 1
	bool line_start;	// no token read on it yet: one may be an address label
	bool line_values;	// it is a line of values
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
	Text text;
};

// A value of the listing; a typo, a token of text on a line of values,
// which takes a value's place; the end; a token that is no text at all.
enum class ListingRead { VALUE, TYPO, END, BAD };

// Readies `listing` to read `in` from its start, taking its byte order mark.
void open_listing(Listing *listing, std::FILE *in);

// Reads the next value and the line it stands on. A line is a line of
// values where, of its first LINE_AHEAD tokens after its label, more are
// values than text; its tokens of text are TYPOs, and any other line is
// passed over whole. END at the end,
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
