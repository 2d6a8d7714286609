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
		l->base += l->pos;
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

// Of the n bytes at p, the first token of a line: the width of the label
// they begin with, an optional '$', 1 to 8 hexadecimal digits and a colon or
// a hyphen, whatever follows; or 0. A label of digits alone, an address
// column, is told by what follows it: column_width says.
std::size_t label_in(const unsigned char *p, std::size_t n)
{
	std::size_t at = n > 0 && p[0] == '$', k = at;
	while (k < n && k < at + 9 && tables.hex[p[k]] >= 0)
		k++;
	if (k == at || k > at + 8 || k == n || (p[k] != ':' && p[k] != '-'))
		return 0;
	return k + 1;
}

// The width of the token of an address column that the n bytes at p begin
// with, an optional '$' and 3 to 8 hexadecimal digits ending the token, or 0.
std::size_t column_in(const unsigned char *p, std::size_t n)
{
	std::size_t at = n > 0 && p[0] == '$', k = at, width;
	while (k < n && k < at + 9 && tables.hex[p[k]] >= 0)
		k++;
	if (k < at + 3 || k > at + 8 || (k < n && classify(p + k, n - k, &width) == Next::TOKEN))
		return 0;
	return k;
}

// The width of the address label at pos, the first token of a line, or 0:
// one of digits alone is a label where more tokens follow it on the line.
std::size_t label_width(Listing *l)
{
	std::size_t n = at_hand(l, 9 + 4), width = label_in(l->data + l->pos, n);
	if (width > 0 || (width = column_in(l->data + l->pos, n)) == 0)
		return width;
	// What follows the blanks after it: as far as can be held at once.
	for (std::size_t k = width, w;; k += w) {
		if (k + 4 > n && (n = at_hand(l, std::min(k + 4, sizeof l->data))) < k + 1)
			return 0;
		switch (classify(l->data + l->pos + k, n - k, &w)) {
		case Next::BLANK:
			continue;
		case Next::TOKEN:
			return width;
		default:
			return 0;
		}
	}
}

// Passes blanks, line ends and an address label; false at the end. A new
// line is a line of nothing yet.
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
			l->line_values = l->line_has_value = false;
			[[fallthrough]];
		case Next::BLANK:
			l->pos += width;
			break;
		case Next::TOKEN:
			if (!l->line_start)
				return true;
			// Until a line of values comes, the start of each line is
			// kept, for a listing that turns out to hold none.
			if (!l->seen_values && l->text_line == 0) {
				std::size_t n = at_hand(l, sizeof l->head);
				l->head_len = std::min(n, sizeof l->head);
				std::memcpy(l->head, l->data + l->pos, l->head_len);
				l->head_at = l->base + l->pos;
			}
			l->line_start = false;
			if ((width = label_width(l)) == 0)
				return true;
			l->pos += width;
			break;
		}
	}
}

enum TokenKind : unsigned char { VALUE_TOKEN, TEXT_TOKEN, GARBAGE };

// Whether the character of `width` bytes at p is one a terminal shows.
bool printable(const unsigned char *p, std::size_t width, std::size_t n)
{
	return p[0] >= 0x20 && p[0] != 0x7F &&
	       (p[0] < 0x80 || (char_width(p, n) == width && !(p[0] == 0xC2 && p[1] < 0xA0)));
}

// Reads the token at pos into *t, keeping its first bytes: a value, two
// hexadecimal digits (before a blank of Unicode, say); text, all of it
// characters a terminal shows; or garbage. Garbage is read no further than
// its message shows, and a byte more: a listing that is one endless token
// of it ends the check at once.
void read_token(Listing *l, Token *t)
{
	std::size_t width;
	bool text = true;

	// The usual token: two digits before an ASCII blank or line end.
	if (l->len - l->pos < 3)
		at_hand(l, 3);
	const unsigned char *q = l->data + l->pos;
	if (l->len - l->pos >= 3) {
		int high = tables.hex[q[0]], low = tables.hex[q[1]];
		if ((high | low) >= 0 && tables.ends_token[q[2]]) {
			t->kind = VALUE_TOKEN;
			t->value = static_cast<std::uint8_t>(high << 4 | low);
			t->len = 2;
			l->pos += 2;
			return;
		}
	}
	t->len = 0;
	while ((text || t->len <= TOKEN_SHOWN) && look(l, &width) == Next::TOKEN) {
		const unsigned char *p = l->data + l->pos;
		text = text && printable(p, width, l->len - l->pos);
		for (std::size_t i = 0; i < width; i++)
			if (t->len + i < sizeof t->bytes)
				t->bytes[t->len + i] = p[i];
		t->len += width;
		l->pos += width;
	}
	int high, low;
	if (t->len == 2 && (high = tables.hex[t->bytes[0]]) >= 0 && (low = tables.hex[t->bytes[1]]) >= 0) {
		t->kind = VALUE_TOKEN;
		t->value = static_cast<std::uint8_t>(high << 4 | low);
	} else {
		t->kind = text ? TEXT_TOKEN : GARBAGE;
	}
}

// Passes the blanks at pos, not a line end; whether a token follows them.
bool token_follows(Listing *l)
{
	// The usual: one space, then a token of ASCII.
	if (l->len - l->pos >= 2 && l->data[l->pos] == ' ' && tables.kind[l->data[l->pos + 1]] == TOKEN) {
		l->pos++;
		return true;
	}
	for (;;) {
		std::size_t width;
		switch (look(l, &width)) {
		case Next::BLANK:
			l->pos += width;
			break;
		case Next::TOKEN:
			return true;
		default:
			return false;
		}
	}
}

// Hands out token t: a value, a typo, or a bad value that ends the listing.
ListingRead hand_out(Listing *l, const Token &t, std::uint8_t *value, std::uint64_t *line)
{
	*line = l->line;
	if (t.kind == VALUE_TOKEN) {
		*value = t.value;
		return ListingRead::VALUE;
	}
	l->token = t;
	return t.kind == TEXT_TOKEN ? ListingRead::TYPO : ListingRead::BAD;
}

// Reads ahead the first tokens of a new line, up to LINE_AHEAD, to tell a
// line of values from a line of text; stops as soon as it can tell, and at
// garbage that goes on, past which nothing is read.
void read_ahead(Listing *l)
{
	std::size_t values = 0, text = 0;
	l->ahead_count = l->ahead_next = 0;
	do {
		Token &t = l->ahead[l->ahead_count++];
		read_token(l, &t);
		l->token_end = l->base + l->pos;
		values += t.kind == VALUE_TOKEN;
		text += t.kind != VALUE_TOKEN;
		if (t.kind == GARBAGE && t.len > TOKEN_SHOWN)
			break;
	} while (l->ahead_count < LINE_AHEAD && 2 * values <= LINE_AHEAD && 2 * text < LINE_AHEAD && token_follows(l));
	l->line_values = values > text;
	l->seen_values |= l->line_values;
}

// Passes the rest of a line of text, but for garbage on it, which is a bad
// value; false where there is none. The first line of text, if no line of
// values came before it, is noted with its length.
bool pass_text(Listing *l, std::uint8_t *value, std::uint64_t *line)
{
	bool first = !l->seen_values && l->text_line == 0;
	for (std::size_t k = 0; k < l->ahead_count; k++)
		if (l->ahead[k].kind == GARBAGE) {
			hand_out(l, l->ahead[k], value, line);
			return true;
		}
	l->ahead_count = l->ahead_next = 0;
	std::uint64_t end = l->token_end;
	Token t;
	while (token_follows(l)) {
		read_token(l, &t);
		if (t.kind == GARBAGE) {
			hand_out(l, t, value, line);
			return true;
		}
		end = l->base + l->pos;
	}
	if (first) {
		l->text_line = l->line;
		l->head_end = end;
	}
	return false;
}

}  // namespace

void open_listing(Listing *l, std::FILE *in, bool dump)
{
	l->file = in;
	l->utf16 = l->big_endian = false;
	l->dump = dump;
	l->line = 1;
	l->line_start = true;
	l->line_values = l->line_has_value = false;
	l->ahead_count = l->ahead_next = 0;
	l->token.len = 0;
	l->seen_values = false;
	l->text_line = 0;
	l->odd_byte = -1;
	l->surrogate = 0;
	l->pos = l->len = 0;
	l->base = 0;

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
	// The usual, on a line of values: a space, two digits and an ASCII
	// blank or line end.
	if (l->line_values && l->ahead_next == l->ahead_count && !l->dump && l->len - l->pos >= 4) {
		const unsigned char *p = l->data + l->pos;
		int high = tables.hex[p[1]], low = tables.hex[p[2]];
		if (p[0] == ' ' && (high | low) >= 0 && tables.ends_token[p[3]]) {
			*value = static_cast<std::uint8_t>(high << 4 | low);
			*line = l->line;
			l->pos += 3;
			return ListingRead::VALUE;
		}
	}
	for (;;) {
		if (l->ahead_next < l->ahead_count)
			return hand_out(l, l->ahead[l->ahead_next++], value, line);
		if (!to_token(l))
			return ListingRead::END;
		if (l->dump) {
			// A heading holds no value; a line that holds one holds
			// nothing else, and its first token of text is the fault.
			Token &t = l->ahead[0];
			read_token(l, &t);
			*line = l->line;
			if (t.kind == VALUE_TOKEN) {
				l->line_has_value = true;
				return hand_out(l, t, value, line);
			}
			l->token = t;
			if (t.kind == GARBAGE || l->line_has_value)
				return ListingRead::BAD;
			// Text before any value: the fault, if a value follows.
			while (token_follows(l)) {
				read_token(l, &t);
				if (t.kind == VALUE_TOKEN)
					return ListingRead::BAD;
				if (t.kind == GARBAGE) {
					l->token = t;
					return ListingRead::BAD;
				}
			}
			continue;
		}
		if (l->line_values) {
			Token &t = l->ahead[0];
			read_token(l, &t);
			return hand_out(l, t, value, line);
		}
		read_ahead(l);
		if (!l->line_values && pass_text(l, value, line))
			return ListingRead::BAD;
	}
}

namespace {

// Where the line that data[at] stands on begins: after the last line end.
std::size_t line_begun(const Listing *l, std::size_t at)
{
	while (at > 0 && l->data[at - 1] != '\n' && l->data[at - 1] != '\r')
		at--;
	return at;
}

}  // namespace

std::size_t take_values(Listing *l, const char *text, std::size_t count)
{
	if (l->ahead_next < l->ahead_count)
		return 0;	// tokens read ahead go first

	// Most often the listing is what rowtally printed: a line end (or a
	// line just begun), then the very text. Its first token, two digits and a blank, is no label,
	// and it is a line of values: nine of them, or all of it.
	std::size_t len = 3 * count, n = l->len - l->pos;
	if (n < len + 3)
		n = at_hand(l, len + 3);
	const unsigned char *p = l->data + l->pos;
	std::size_t end = n > 0 && p[0] == '\n' ? 1 : n > 1 && p[0] == '\r' && p[1] == '\n' ? 2 : 0;
	if ((end > 0 || l->line_start) && n >= end + len && std::memcmp(p + end, text, len) == 0 &&
	    (2 * count > LINE_AHEAD || n == end + len || p[end + len] == '\n' || p[end + len] == '\r')) {
		l->pos += end + len;
		l->line += end > 0;
		l->line_start = false;
		l->line_values = true;
		return count;
	}

	// Else value by value, with ASCII blanks and line ends between them;
	// anything else is left to next_value. Four bytes at hand see a value
	// and what ends it, or a CR LF. The values of a line not yet found a
	// line of values are taken once it is found one, with nine of them or
	// its end; else they are given back, for next_value to read the line
	// as a whole. The listing's last bytes are left to next_value too.
	// Of the line at hand, the values taken before it began; where it
	// began, while it is the line the call began on, and else what looking
	// back for its line end finds.
	std::size_t taken = 0, before = 0, start = l->pos;
	std::uint64_t line = l->line;
	if (n < 4)
		return 0;
	const unsigned char *last = l->data + l->len - 4;
	while (taken < count) {
		if (p > last) {
			// Reading on keeps what may be given back.
			std::size_t at = static_cast<std::size_t>(p - l->data);
			bool found = (l->line_values && line == l->line) || (taken - before) * 2 > LINE_AHEAD;
			std::size_t keep = found ? at : line == l->line ? start : line_begun(l, at);
			if (at - keep > sizeof l->data / 2)
				break;
			l->pos = keep;
			if (at_hand(l, at - keep + 4) < at - keep + 4)
				break;
			start = l->pos + (start >= keep ? start - keep : 0);
			p = l->data + l->pos + (at - keep);
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
			continue;
		}
		Kind kind = tables.kind[p[0]];
		if (kind == BLANK) {
			p++;
		} else if (kind == LF || kind == CR) {
			// A line of values alone: all of them count.
			p += kind == CR && p[1] == '\n' ? 2 : 1;
			line++;
			before = taken;
		} else {
			break;
		}
	}
	// A line end right after the last value settles its line.
	if (taken == count && taken > before && p <= last + 2 && (p[0] == '\n' || p[0] == '\r')) {
		p += p[0] == '\r' && p[1] == '\n' ? 2 : 1;
		line++;
		before = taken;
	}
	bool line_values = (l->line_values && line == l->line) || (taken - before) * 2 > LINE_AHEAD;
	if (!line_values && taken > before) {
		// Not yet found a line of values: its values are given back.
		p = l->data + (line == l->line ? start : line_begun(l, static_cast<std::size_t>(p - l->data)));
		taken = before;
	}
	bool line_start = (l->line_start || line != l->line) && taken == before;
	l->pos = static_cast<std::size_t>(p - l->data);
	l->line = line;
	l->line_start = line_start;
	l->line_values = line_values;
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
	l->line_values = l->line_has_value = false;
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
	l->line_has_value |= n > 0;
	return n;
}

bool values_line(const unsigned char *t, std::size_t n, std::size_t least)
{
	std::size_t values = 0, at = label_in(t, n);
	if (at == 0) {
		// An address column: digits alone, with more after them.
		std::size_t width = column_in(t, n), k = width;
		while (k < n && (t[k] == ' ' || t[k] == '\t'))
			k++;
		at = width > 0 && k > width && k < n ? k : 0;
	}
	while (at < n && (t[at] == ' ' || t[at] == '\t'))
		at++;
	while (at < n) {
		std::size_t end = at;
		while (end < n && t[end] != ' ' && t[end] != '\t')
			end++;
		if (end - at != 2 || tables.hex[t[at]] < 0 || tables.hex[t[at + 1]] < 0)
			return false;
		values++;
		for (at = end; at < n && (t[at] == ' ' || t[at] == '\t');)
			at++;
	}
	return values >= least;
}

std::size_t show_token(const Listing *l, char *to)
{
	const Token &t = l->token;
	std::size_t kept = std::min<std::uint64_t>(t.len, sizeof t.bytes);
	std::size_t cut = whole_chars(t.bytes, kept, TOKEN_SHOWN);
	char *end = put_shown(t.bytes, cut, to);
	if (cut < t.len)
		end = std::copy_n("...", 3, end);
	return static_cast<std::size_t>(end - to);
}

void write_token(const Listing *l, std::FILE *out)
{
	char shown[4 * TOKEN_SHOWN + 4];
	std::fwrite(shown, 1, show_token(l, shown), out);
}

bool only_text(const Listing *l, const char *name, std::FILE *out)
{
	if (l->seen_values || l->text_line == 0)
		return false;
	// The line, its label included, without the blanks at its ends.
	std::uint64_t length = l->head_end - l->head_at;
	std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(length, l->head_len));
	std::size_t cut = whole_chars(l->head, kept, TOKEN_SHOWN);
	char shown[4 * TOKEN_SHOWN + 4], *end = put_shown(l->head, cut, shown);
	if (cut < length)
		end = std::copy_n("...", 3, end);
	write_shown(name, out);
	std::fprintf(out, ": no values, only text, from line %llu: ", static_cast<unsigned long long>(l->text_line));
	std::fwrite(shown, 1, static_cast<std::size_t>(end - shown), out);
	std::fputc('\n', out);
	return true;
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
