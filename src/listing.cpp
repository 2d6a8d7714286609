#include "listing.h"

#include <algorithm>
#include <cstring>

// SSE2 as the scanner has it: every x86-64 and the Windows build.
#if defined(__SSE2__) && !defined(ROWTALLY_PORTABLE)
#define USE_SSE2 1
#include <emmintrin.h>
#endif

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

unsigned char *put_unit(Listing *l, unsigned char *to, unsigned unit)
{
	bool leading = unit >= 0xD800 && unit < 0xDC00, trailing = unit >= 0xDC00 && unit < 0xE000;

	if (l->surrogate != 0) {
		std::uint32_t lead = l->surrogate;
		l->surrogate = 0;
		if (trailing)
			return put_utf8(to, 0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00));
		to = put_utf8(to, REPLACEMENT);
	}
	if (leading) {
		l->surrogate = unit;
		return to;
	}
	return put_utf8(to, trailing ? REPLACEMENT : unit);
}

// Reads on as much as fits into data, in UTF-16 units.
void decode_utf16(Listing *l)
{
	unsigned char raw[8192];
	// A unit makes at most three bytes of UTF-8; a waiting surrogate and a
	// half unit at the end of the file at most three more each.
	std::size_t units = std::min(sizeof raw / 2, (sizeof l->data - l->len - 6) / 3);
	std::size_t got = 0;
	if (l->odd_byte >= 0)
		raw[got++] = static_cast<unsigned char>(l->odd_byte);
	l->odd_byte = -1;
	std::size_t want = 2 * units - got;
	std::size_t n = std::fread(raw + got, 1, want, l->file);
	l->file_ended = n < want;
	got += n;

	unsigned char *to = l->data + l->len;
	std::size_t i = 0;
	for (; i + 2 <= got; i += 2)
		to = put_unit(l, to, l->big_endian ? raw[i] << 8 | raw[i + 1] : raw[i + 1] << 8 | raw[i]);
	if (i < got)
		l->odd_byte = raw[i];
	if (l->file_ended) {
		if (l->surrogate != 0)
			to = put_utf8(to, REPLACEMENT);
		if (l->odd_byte >= 0)
			to = put_utf8(to, REPLACEMENT);
		l->surrogate = 0;
		l->odd_byte = -1;
	}
	l->len = static_cast<std::size_t>(to - l->data);
}

// How many bytes are at hand from pos, having read on if fewer than `want`
// were; fewer than `want` only at the end of the listing. `want` stays far
// below the size of data.
[[gnu::noinline]] std::size_t at_hand(Listing *l, std::size_t want)
{
	while (l->len - l->pos < want && !l->file_ended) {
		std::memmove(l->data, l->data + l->pos, l->len - l->pos);
		l->len -= l->pos;
		l->pos = 0;
		if (l->utf16) {
			decode_utf16(l);
		} else {
			std::size_t room = sizeof l->data - l->len;
			std::size_t n = std::fread(l->data + l->len, 1, room, l->file);
			l->len += n;
			l->file_ended = n < room;
		}
	}
	return l->len - l->pos;
}

// What each ASCII byte is; HIGH for every byte from 80 on.
enum Kind : unsigned char { TOKEN, BLANK, LF, CR, HIGH };

struct Tables {
	Kind kind[256];
	signed char hex[256];	// a digit's value, or -1
	unsigned char upper[256];	// a to f as A to F, the rest as they are
	bool ends_token[256];	// an ASCII blank or line end
	// After a value, how far the next one may be: past it and one ASCII
	// blank, or past it to a line end; 0 where it is no value after all.
	unsigned char step[256];
};

constexpr Tables make_tables()
{
	Tables t{};
	for (int c = 0; c < 256; c++) {
		t.kind[c] = c >= 0x80 ? HIGH : TOKEN;
		t.hex[c] = -1;
		t.upper[c] = static_cast<unsigned char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
	}
	for (int c : {' ', '\t', '\v', '\f', '\n', '\r'})
		t.ends_token[c] = true;
	for (int c : {' ', '\t', '\v', '\f'}) {
		t.kind[c] = BLANK;
		t.step[c] = 3;
	}
	t.step[int{'\n'}] = t.step[int{'\r'}] = 2;
	t.kind[int{'\n'}] = LF;
	t.kind[int{'\r'}] = CR;
	for (int d = 0; d < 16; d++) {
		t.hex[static_cast<unsigned char>("0123456789ABCDEF"[d])] = static_cast<signed char>(d);
		t.hex[static_cast<unsigned char>("0123456789abcdef"[d])] = static_cast<signed char>(d);
	}
	return t;
}

constexpr Tables tables = make_tables();

// The width of the well-formed UTF-8 character at p, of the n bytes there,
// or 0 where none begins.
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

// How many of the n bytes at t, at most `most`, make whole characters; a
// byte of no character counts as one. At least one where `most` is 4 or more.
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

// Writes the n bytes at t to `to` as a message shows them, at most 4n bytes:
// C0 and C1 controls, DEL and bytes of no character as \xHH, so that a
// name or a listing can never steer the terminal; the rest as it stands.
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

// The blanks of Unicode that web pages, PDFs and word processors put
// between values, and U+FEFF, a byte order mark where two files were joined.
bool unicode_blank(const unsigned char *p, std::size_t width)
{
	std::uint32_t c = p[0] & (0x7F >> width);
	for (std::size_t i = 1; i < width; i++)
		c = c << 6 | (p[i] & 0x3F);
	return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) || c == 0x202F ||
	       c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

enum class Next { END, BLANK, LINE_END, TOKEN };

// What the n bytes at p begin with, and its width.
Next classify(const unsigned char *p, std::size_t n, std::size_t *width)
{
	*width = 1;
	if (n == 0)
		return Next::END;
	switch (tables.kind[p[0]]) {
	case BLANK:
		return Next::BLANK;
	case LF:
		return Next::LINE_END;
	case CR:
		*width = n >= 2 && p[1] == '\n' ? 2 : 1;
		return Next::LINE_END;
	case HIGH:
		*width = char_width(p, n);
		if (*width == 0) {
			// A0 on its own is a no-break space as the one-byte code
			// pages write it.
			*width = 1;
			return p[0] == 0xA0 ? Next::BLANK : Next::TOKEN;
		}
		return unicode_blank(p, *width) ? Next::BLANK : Next::TOKEN;
	default:
		return Next::TOKEN;
	}
}

// What stands at pos; every byte of it is at hand.
Next look(Listing *l, std::size_t *width)
{
	std::size_t n = l->len - l->pos;
	if (n < 4)
		n = at_hand(l, 4);
	return classify(l->data + l->pos, n, width);
}

// The width of the address label that the n bytes at p begin with, 1 to 8
// hexadecimal digits and a colon that end a token, or 0 where there is none.
std::size_t label_in(const unsigned char *p, std::size_t n)
{
	std::size_t k = 0, width;
	while (k < n && k < 9 && tables.hex[p[k]] >= 0)
		k++;
	if (k == 0 || k > 8 || k == n || p[k] != ':')
		return 0;
	return classify(p + k + 1, n - k - 1, &width) == Next::TOKEN ? 0 : k + 1;
}

std::size_t label_width(Listing *l)
{
	std::size_t n = at_hand(l, 9 + 4);
	return label_in(l->data + l->pos, n);
}

// Passes blanks, line ends and an address label; false at the end.
bool to_token(Listing *l)
{
	for (;;) {
		std::size_t width;
		switch (look(l, &width)) {
		case Next::END:
			return false;
		case Next::LINE_END:
			l->line++;
			l->line_start = true;
			[[fallthrough]];
		case Next::BLANK:
			l->pos += width;
			break;
		case Next::TOKEN:
			if (!l->line_start || (width = label_width(l)) == 0)
				return true;
			l->pos += width;
			l->line_start = false;
			break;
		}
	}
}

// Reads the token at pos, keeping its first bytes: VALUE if it is two
// hexadecimal digits after all (before a blank of Unicode, say), else BAD.
// A bad token is read no further than its message shows, and a byte more:
// a listing that is one endless token ends the check at once.
ListingRead read_token(Listing *l, std::uint8_t *value)
{
	std::size_t width;

	l->token_len = 0;
	while (l->token_len <= TOKEN_SHOWN && look(l, &width) == Next::TOKEN) {
		for (std::size_t i = 0; i < width; i++)
			if (l->token_len + i < sizeof l->token)
				l->token[l->token_len + i] = l->data[l->pos + i];
		l->token_len += width;
		l->pos += width;
	}
	int high, low;
	if (l->token_len != 2 || (high = tables.hex[l->token[0]]) < 0 ||
	    (low = tables.hex[l->token[1]]) < 0)
		return ListingRead::BAD;
	*value = static_cast<std::uint8_t>(high << 4 | low);
	return ListingRead::VALUE;
}

}  // namespace

void open_listing(Listing *l, std::FILE *in)
{
	l->file = in;
	l->utf16 = l->big_endian = false;
	l->line = 1;
	l->line_start = true;
	l->token_len = 0;
	l->odd_byte = -1;
	l->surrogate = 0;
	l->pos = l->len = 0;

	// The byte order mark, if any; bytes that begin none are the listing's.
	unsigned char head[3];
	std::size_t got = std::fread(head, 1, 2, in);
	l->file_ended = got < 2;
	if (got == 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) {
		l->utf16 = true;
		l->big_endian = head[0] == 0xFE;
		return;
	}
	if (got == 2 && head[0] == 0xEF && head[1] == 0xBB) {
		got += std::fread(head + 2, 1, 1, in);
		l->file_ended = got < 3;
		if (got == 3 && head[2] == 0xBF)
			got = 0;
	}
	std::memcpy(l->data, head, got);
	l->len = got;
}

ListingRead next_value(Listing *l, std::uint8_t *value, std::uint64_t *line)
{
	if (!to_token(l))
		return ListingRead::END;
	*line = l->line;
	l->line_start = false;

	// The usual token, two digits and then an ASCII blank or line end, or
	// the end; to_token left at least four bytes at hand, or the end.
	const unsigned char *p = l->data + l->pos;
	std::size_t n = l->len - l->pos;
	int high = tables.hex[p[0]], low = n >= 2 ? tables.hex[p[1]] : -1;
	if (low >= 0 && high >= 0 && (n == 2 || tables.ends_token[p[2]])) {
		*value = static_cast<std::uint8_t>(high << 4 | low);
		l->pos += 2;
		return ListingRead::VALUE;
	}
	return read_token(l, value);
}

std::size_t take_values(Listing *l, const char *text, std::size_t count)
{
	// Most often the listing is what rowtally printed: a line end, then
	// the very text. Its first token, two digits and a blank, is no label.
	std::size_t len = 3 * count, n = l->len - l->pos;
	if (n < len + 2)
		n = at_hand(l, len + 2);
	const unsigned char *p = l->data + l->pos;
	std::size_t end = n > 0 && p[0] == '\n' ? 1 : n > 1 && p[0] == '\r' && p[1] == '\n' ? 2 : 0;
	if (end > 0 && n >= end + len && std::memcmp(p + end, text, len) == 0) {
		l->pos += end + len;
		l->line++;
		l->line_start = false;
		return count;
	}

	// Else value by value, with ASCII blanks and line ends between them;
	// anything else is left to next_value. Four bytes at hand see a value
	// and what ends it, or a CR LF.
	// The listing's last bytes are left to next_value too.
	std::size_t taken = 0;
	std::uint64_t line = l->line;
	bool line_start = l->line_start;
	if (n < 4)
		return 0;
	const unsigned char *last = l->data + l->len - 4;
	while (taken < count) {
		if (p > last) {
			l->pos = static_cast<std::size_t>(p - l->data);
			if (at_hand(l, 4) < 4)
				break;
			p = l->data + l->pos;
			last = l->data + l->len - 4;
		}
		const char *digits = text + 3 * taken;
		if ((std::memcmp(p, digits, 2) == 0 ||
		     (tables.upper[p[0]] == static_cast<unsigned char>(digits[0]) &&
		      tables.upper[p[1]] == static_cast<unsigned char>(digits[1]))) &&
		    tables.ends_token[p[2]]) {
			// A blank after it goes too, so that a line end comes next.
			p += p[2] == ' ' ? 3 : 2;
			taken++;
			line_start = false;
			continue;
		}
		Kind kind = tables.kind[p[0]];
		if (kind == BLANK) {
			p++;
		} else if (kind == LF || kind == CR) {
			p += kind == CR && p[1] == '\n' ? 2 : 1;
			line++;
			line_start = true;
		} else {
			break;
		}
	}
	l->pos = static_cast<std::size_t>(p - l->data);
	l->line = line;
	l->line_start = line_start;
	return taken;
}

namespace {

#if defined(USE_SSE2)
// Whether the 48 bytes at p are sixteen values, two digits and a space
// each, the last maybe a line end instead of its space; their bytes into
// `to`, which has room for 16 more. Unchecked, the tokens between the
// spaces are taken for values, as in a dump already found sound.
template <bool CHECK>
bool sixteen_values(const unsigned char *p, unsigned char *to)
{
	alignas(16) static const unsigned char blank_lanes[48] = {
		0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0,
		0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0,
		0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
	__m128i c[3], v[3], ok = _mm_set1_epi8(-1);
	for (int i = 0; i < 3; i++) {
		c[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
		__m128i letter = _mm_cmpgt_epi8(c[i], _mm_set1_epi8('9'));
		v[i] = _mm_add_epi8(_mm_and_si128(c[i], _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
		// Spaces between the values; the last one is looked at apart.
		__m128i blanks = _mm_load_si128(reinterpret_cast<const __m128i *>(blank_lanes + 16 * i));
		__m128i good = _mm_or_si128(_mm_and_si128(blanks, _mm_cmpeq_epi8(c[i], _mm_set1_epi8(' '))),
		                            _mm_andnot_si128(blanks, _mm_set1_epi8(-1)));
		if constexpr (CHECK) {
			// And digits where digits stand.
			__m128i digit = _mm_sub_epi8(c[i], _mm_set1_epi8('0'));
			__m128i low = _mm_sub_epi8(_mm_or_si128(c[i], _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
			__m128i hex = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(digit, _mm_set1_epi8(9)), _mm_set1_epi8(9)),
			                           _mm_cmpeq_epi8(_mm_max_epu8(low, _mm_set1_epi8(5)), _mm_set1_epi8(5)));
			good = _mm_and_si128(good, _mm_or_si128(blanks, hex));
		}
		ok = _mm_and_si128(ok, i < 2 ? good : _mm_or_si128(good, _mm_slli_si128(_mm_set1_epi8(-1), 15)));
	}
	if (_mm_movemask_epi8(ok) != 0xFFFF)
		return false;
	// Each lane's digit 16 times, and the next lane's digit.
	alignas(16) unsigned char bytes[48];
	for (int i = 0; i < 3; i++) {
		__m128i next = _mm_srli_si128(v[i], 1);
		if (i < 2)
			next = _mm_or_si128(next, _mm_slli_si128(v[i + 1], 15));
		__m128i high = _mm_and_si128(_mm_slli_epi16(v[i], 4), _mm_set1_epi8(static_cast<char>(0xF0)));
		_mm_store_si128(reinterpret_cast<__m128i *>(bytes + 16 * i), _mm_or_si128(high, next));
	}
	for (int k = 0; k < 16; k++)
		to[k] = bytes[3 * k];
	return true;
}
#endif

// Passes a line end and the label after it, of 1 to 8 digits, a colon
// and an ASCII blank, at pos: the usual start of a line of a dump. False,
// having passed nothing, for anything else, which to_token takes.
bool plain_line_start(Listing *l)
{
	if (l->len - l->pos < 16)
		at_hand(l, 16);
	const unsigned char *d = l->data + l->pos;
	std::size_t n = l->len - l->pos;
	if (n < 16 || (d[0] != '\n' && d[0] != '\r'))
		return false;
	std::size_t at = 1 + (d[0] == '\r' && d[1] == '\n'), k = at;
	while (k < at + 9 && tables.hex[d[k]] >= 0)
		k++;
	if (k == at || k > at + 8 || d[k] != ':' || (d[k + 1] != ' ' && d[k + 1] != '\t'))
		return false;
	l->pos += k + 2;
	l->line++;
	l->line_start = false;
	return true;
}

}  // namespace

std::size_t take_bytes(Listing *l, unsigned char *to, std::size_t most, std::uint64_t *line, bool sound)
{
	if (most == 0 || (!plain_line_start(l) && !to_token(l)))
		return 0;
	*line = l->line;
	std::size_t n = 0;
#if defined(USE_SSE2)
	// The usual line of a dump: values by sixteen, and single spaces.
	while (most - n >= 16 && (l->len - l->pos >= 48 || at_hand(l, 48) >= 48)) {
		const unsigned char *p = l->data + l->pos;
		unsigned char end = p[47];
		if ((end != ' ' && end != '\n' && end != '\r') ||
		    !(sound ? sixteen_values<false>(p, to + n) : sixteen_values<true>(p, to + n)))
			break;
		n += 16;
		l->line_start = false;
		if (end != ' ') {
			l->pos += 47;
			return n;
		}
		l->pos += 48;
	}
#else
	(void)sound;
#endif

	// Four bytes at hand see a value and what ends it; the listing's last
	// bytes are left to next_value. In locals, as a store to `to` could be
	// to any field of *l.
	const unsigned char *d = l->data;
	std::size_t pos = l->pos, len = l->len;
	while (n < most) {
		if (len - pos < 4) {
			l->pos = pos;
			if (at_hand(l, 4) < 4)
				break;
			pos = l->pos;
			len = l->len;
		}
		int high = tables.hex[d[pos]], low = tables.hex[d[pos + 1]];
		unsigned step = tables.step[d[pos + 2]];
		if ((high | low) < 0 || step == 0)
			break;
		to[n++] = static_cast<unsigned char>(high << 4 | low);
		// One blank goes with the value; anything more, and a line end,
		// end the values taken here.
		pos += step;
	}
	l->pos = pos;
	l->line_start &= n == 0;
	return n;
}

bool values_line(const unsigned char *t, std::size_t n, std::size_t least)
{
	std::size_t values = 0, at = 0;
	for (bool first = true; at < n; first = false) {
		std::size_t end = at;
		while (end < n && t[end] != ' ' && t[end] != '\t')
			end++;
		std::size_t width = end - at;
		bool value = width == 2 && tables.hex[t[at]] >= 0 && tables.hex[t[at + 1]] >= 0;
		if (!value && !(first && label_in(t + at, n - at) == width))
			return false;
		values += value;
		for (at = end; at < n && (t[at] == ' ' || t[at] == '\t');)
			at++;
	}
	return values >= least;
}

void write_token(const Listing *l, std::FILE *out)
{
	const unsigned char *t = l->token;
	std::size_t kept = l->token_len < sizeof l->token ? l->token_len : sizeof l->token;
	std::size_t cut = whole_chars(t, kept, TOKEN_SHOWN);
	char shown[4 * TOKEN_SHOWN + 4];
	char *to = put_shown(t, cut, shown);
	if (cut < l->token_len)
		to = std::copy_n("...", 3, to);
	std::fwrite(shown, 1, static_cast<std::size_t>(to - shown), out);
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
