// Text from outside (a file's name, an argument, a token of a listing or a
// dump) shown in a message so that nothing in it can steer the terminal:
// control bytes, C1 controls, DEL and bytes of no character as \xHH, the
// rest as it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// How much of a token a message shows; a longer one is cut there.
inline constexpr std::size_t TOKEN_SHOWN = 64;

// The width of the well-formed UTF-8 character at p, of the n bytes there,
// or 0 where none begins.
std::size_t char_width(const unsigned char *p, std::size_t n);

// How many of the n bytes at t, at most `most`, make whole characters; a
// byte of no character counts as one. At least one where `most` is 4 or more.
std::size_t whole_chars(const unsigned char *t, std::size_t n, std::size_t most);

// Writes the n bytes at t to `to` as a message shows them, at most 4n bytes.
char *put_shown(const unsigned char *t, std::size_t n, char *to);

// Writes to `to`, which has room for 4 * TOKEN_SHOWN + 3 bytes, the first
// of `length` bytes of which `kept` are at t: at most TOKEN_SHOWN of them,
// cut between characters and followed by "..." where there are more.
// Returns how many it wrote.
std::size_t show_cut(const unsigned char *t, std::size_t kept, std::uint64_t length, char *to);

// "s" after a count of things other than one, for a message.
inline const char *plural(std::uint64_t n)
{
	return n == 1 ? "" : "s";
}

// Writes `text`, a name or an argument, whole, shown as put_shown shows it.
void write_shown(const char *text, std::FILE *out);
