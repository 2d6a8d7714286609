#include "shown.h"

#include <algorithm>
#include <cstring>

std::size_t char_width(const unsigned char *p, std::size_t n)
{
	unsigned c = p[0], low = 0x80, high = 0xBF;
	std::size_t width;

	if (c < 0x80)
		return 1;
	if (c >= 0xC2 && c <= 0xDF) {
		width = 2;
	} else if (c >= 0xE0 && c <= 0xEF) {
		width = 3;
		low = c == 0xE0 ? 0xA0 : low;	// no overlong form
		high = c == 0xED ? 0x9F : high;	// no surrogate
	} else if (c >= 0xF0 && c <= 0xF4) {
		width = 4;
		low = c == 0xF0 ? 0x90 : low;
		high = c == 0xF4 ? 0x8F : high;	// nothing past U+10FFFF
	} else {
		return 0;
	}
	if (n < width || p[1] < low || p[1] > high)
		return 0;
	for (std::size_t i = 2; i < width; i++)
		if ((p[i] & 0xC0) != 0x80)
			return 0;
	return width;
}

std::size_t whole_chars(const unsigned char *t, std::size_t n, std::size_t most)
{
	std::size_t cut = 0;
	for (std::size_t width; cut < n; cut += width) {
		width = std::max<std::size_t>(char_width(t + cut, n - cut), 1);
		if (cut + width > most)
			break;
	}
	return cut;
}

char *put_shown(const unsigned char *t, std::size_t n, char *to)
{
	for (std::size_t i = 0, width; i < n; i += width) {
		width = char_width(t + i, n - i);
		bool escape = width == 0 || t[i] < 0x20 || t[i] == 0x7F || (t[i] == 0xC2 && t[i + 1] < 0xA0);
		width = std::max<std::size_t>(width, 1);
		for (std::size_t k = i; k < i + width; k++) {
			if (escape) {
				*to++ = '\\';
				*to++ = 'x';
				*to++ = "0123456789ABCDEF"[t[k] >> 4];
				*to++ = "0123456789ABCDEF"[t[k] & 0xF];
			} else {
				*to++ = static_cast<char>(t[k]);
			}
		}
	}
	return to;
}

std::size_t show_cut(const unsigned char *t, std::size_t kept, std::uint64_t length, char *to)
{
	std::size_t cut = whole_chars(t, kept, TOKEN_SHOWN);
	char *end = put_shown(t, cut, to);
	if (cut < length)
		end = std::copy_n("...", 3, end);
	return static_cast<std::size_t>(end - to);
}

void write_shown(const char *text, std::FILE *out)
{
	const unsigned char *t = reinterpret_cast<const unsigned char *>(text);
	char shown[4 * TOKEN_SHOWN];

	// In pieces of whole characters, so that a long name is shown whole.
	for (std::size_t left = std::strlen(text), n; left > 0; t += n, left -= n) {
		n = whole_chars(t, left, TOKEN_SHOWN);
		char *to = put_shown(t, n, shown);
		std::fwrite(shown, 1, static_cast<std::size_t>(to - shown), out);
	}
}
