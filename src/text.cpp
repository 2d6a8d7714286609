#include "text.h"

#include <algorithm>
#include <cstring>

#include "shown.h"

namespace {

unsigned char *put_utf8(unsigned char *to, std::uint32_t c)
{
	if (c < 0x80) {
		*to++ = static_cast<unsigned char>(c);
	} else if (c < 0x800) {
		*to++ = static_cast<unsigned char>(0xC0 | c >> 6);
		*to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
	} else if (c < 0x10000) {
		*to++ = static_cast<unsigned char>(0xE0 | c >> 12);
		*to++ = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
		*to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
	} else {
		*to++ = static_cast<unsigned char>(0xF0 | c >> 18);
		*to++ = static_cast<unsigned char>(0x80 | (c >> 12 & 0x3F));
		*to++ = static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F));
		*to++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
	}
	return to;
}

constexpr std::uint32_t REPLACEMENT = 0xFFFD;	// for what stands for no character

unsigned char *put_unit(Text *t, unsigned char *to, unsigned unit)
{
	bool leading = unit >= 0xD800 && unit < 0xDC00, trailing = unit >= 0xDC00 && unit < 0xE000;

	if (t->surrogate != 0) {
		std::uint32_t lead = t->surrogate;
		t->surrogate = 0;
		if (trailing)
			return put_utf8(to, 0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00));
		to = put_utf8(to, REPLACEMENT);
	}
	if (leading) {
		t->surrogate = unit;
		return to;
	}
	return put_utf8(to, trailing ? REPLACEMENT : unit);
}

// Reads on as much as fits into data, in UTF-16 units.
void decode_utf16(Text *t)
{
	unsigned char raw[8192];
	// A unit makes at most three bytes of UTF-8; a waiting surrogate and a
	// half unit at the end of the file at most three more each.
	std::size_t units = std::min(sizeof raw / 2, (TEXT_HELD - t->len - 6) / 3);
	std::size_t got = 0;
	if (t->odd_byte >= 0)
		raw[got++] = static_cast<unsigned char>(t->odd_byte);
	t->odd_byte = -1;
	std::size_t want = 2 * units - got;
	std::size_t n = read_source(&t->source, raw + got, want);
	t->file_ended = n < want;
	got += n;

	unsigned char *to = t->data + t->len;
	std::size_t i = 0;
	for (; i + 2 <= got; i += 2)
		to = put_unit(t, to, t->big_endian ? raw[i] << 8 | raw[i + 1] : raw[i + 1] << 8 | raw[i]);
	if (i < got)
		t->odd_byte = raw[i];
	if (t->file_ended) {
		if (t->surrogate != 0)
			to = put_utf8(to, REPLACEMENT);
		if (t->odd_byte >= 0)
			to = put_utf8(to, REPLACEMENT);
		t->surrogate = 0;
		t->odd_byte = -1;
	}
	t->len = static_cast<std::size_t>(to - t->data);
}

}  // namespace

void open_text(Text *t, std::FILE *in, bool summed, std::FILE *copy)
{
	open_source(&t->source, in, summed, copy);
	t->utf16 = t->big_endian = false;
	t->odd_byte = -1;
	t->surrogate = 0;
	t->pos = t->len = 0;
	t->base = 0;

	// The byte order mark, if any; bytes that begin none are the text's.
	unsigned char head[3];
	std::size_t got = read_source(&t->source, head, 2);
	t->file_ended = got < 2;
	if (got == 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) {
		t->utf16 = true;
		t->big_endian = head[0] == 0xFE;
		return;
	}
	if (got == 2 && head[0] == 0xEF && head[1] == 0xBB) {
		got += read_source(&t->source, head + 2, 1);
		t->file_ended = got < 3;
		if (got == 3 && head[2] == 0xBF)
			got = 0;
	}
	std::memcpy(t->data, head, got);
	t->len = got;
}

[[gnu::noinline]] std::size_t text_at_hand(Text *t, std::size_t want)
{
	while (t->len - t->pos < want && !t->file_ended) {
		std::memmove(t->data, t->data + t->pos, t->len - t->pos);
		t->len -= t->pos;
		t->base += t->pos;
		t->pos = 0;
		if (t->utf16) {
			decode_utf16(t);
		} else {
			std::size_t room = TEXT_HELD - t->len;
			std::size_t n = read_source(&t->source, t->data + t->len, room);
			t->len += n;
			t->file_ended = n < room;
		}
	}
	return t->len - t->pos;
}

std::size_t blank_width(const unsigned char *p, std::size_t n)
{
	if (n == 0)
		return 0;
	if (p[0] < 0x80)
		return p[0] == ' ' || p[0] == '\t' || p[0] == '\v' || p[0] == '\f';
	std::size_t width = char_width(p, n);
	if (width == 0)
		return p[0] == 0xA0;
	std::uint32_t c = p[0] & (0x7F >> width);
	for (std::size_t i = 1; i < width; i++)
		c = c << 6 | (p[i] & 0x3F);
	bool blank = c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x202F || c == 0x205F ||
	             c == 0x3000 || c == 0xFEFF;
	return blank ? width : 0;
}
