#include "listing.h"

#include <algorithm>
#include <cstring>

#include "hexdigits.h"
#include "shown.h"

namespace {

// What each ASCII byte is; HIGH for every byte from 80 on.
enum CharKind : unsigned char { TOKEN, BLANK, LF, CR, HIGH };

struct Tables {
	CharKind kind[256];
	unsigned char upper[256];	// a to f as A to F, the rest as they are
	bool ends_token[256];	// an ASCII blank or line end
};

constexpr Tables make_tables()
{
	Tables t{};
	for (int c = 0; c < 256; c++) {
		t.kind[c] = c >= 0x80 ? HIGH : TOKEN;
		t.upper[c] = static_cast<unsigned char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
	}
	for (int c : {' ', '\t', '\v', '\f', '\n', '\r'})
		t.ends_token[c] = true;
	for (int c : {' ', '\t', '\v', '\f'})
		t.kind[c] = BLANK;
	t.kind[int{'\n'}] = LF;
	t.kind[int{'\r'}] = CR;
	return t;
}

constexpr Tables tables = make_tables();

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
		if ((*width = blank_width(p, n)) > 0)
			return Next::BLANK;
		*width = std::max<std::size_t>(char_width(p, n), 1);
		return Next::TOKEN;
	default:
		return Next::TOKEN;
	}
}

// What stands at pos; every byte of it is at hand.
Next look(Listing *l, std::size_t *width)
{
	std::size_t n = l->text.len - l->text.pos;
	if (n < 4)
		n = text_at_hand(&l->text, 4);
	return classify(l->text.data + l->text.pos, n, width);
}

// Of the n bytes at p, the first token of a line: the width of the label
// they begin with, an optional '$', 1 to 8 hexadecimal digits and a colon or
// a hyphen, whatever follows; or 0. A label of digits alone, an address
// column, is told by what follows it: column_width says.
std::size_t label_in(const unsigned char *p, std::size_t n)
{
	std::size_t at = n > 0 && p[0] == '$', k = at;
	while (k < n && k < at + 9 && hex_table.value[p[k]] >= 0)
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
	while (k < n && k < at + 9 && hex_table.value[p[k]] >= 0)
		k++;
	if (k < at + 3 || k > at + 8 || (k < n && classify(p + k, n - k, &width) == Next::TOKEN))
		return 0;
	return k;
}

// The width of the address label at pos, the first token of a line, or 0:
// one of digits alone is a label where more tokens follow it on the line.
std::size_t label_width(Listing *l)
{
	std::size_t n = text_at_hand(&l->text, 9 + 4), width = label_in(l->text.data + l->text.pos, n);
	if (width > 0 || (width = column_in(l->text.data + l->text.pos, n)) == 0)
		return width;
	// What follows the blanks after it: as far as can be held at once.
	for (std::size_t k = width, w;; k += w) {
		if (k + 4 > n && (n = text_at_hand(&l->text, std::min(k + 4, TEXT_HELD))) < k + 1)
			return 0;
		switch (classify(l->text.data + l->text.pos + k, n - k, &w)) {
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
			l->line_values = false;
			[[fallthrough]];
		case Next::BLANK:
			l->text.pos += width;
			break;
		case Next::TOKEN:
			if (!l->line_start)
				return true;
			// Until a line of values comes, the start of each line is
			// kept, for a listing that turns out to hold none.
			if (!l->seen_values && l->text_line == 0) {
				std::size_t n = text_at_hand(&l->text, sizeof l->head);
				l->head_len = std::min(n, sizeof l->head);
				std::memcpy(l->head, l->text.data + l->text.pos, l->head_len);
				l->head_at = l->text.base + l->text.pos;
			}
			l->line_start = false;
			if ((width = label_width(l)) == 0)
				return true;
			l->text.pos += width;
			break;
		}
	}
}

enum ListingToken : unsigned char { VALUE_TOKEN, TEXT_TOKEN, GARBAGE };

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
	if (l->text.len - l->text.pos < 3)
		text_at_hand(&l->text, 3);
	const unsigned char *q = l->text.data + l->text.pos;
	if (l->text.len - l->text.pos >= 3) {
		int high = hex_table.value[q[0]], low = hex_table.value[q[1]];
		if ((high | low) >= 0 && tables.ends_token[q[2]]) {
			t->kind = VALUE_TOKEN;
			t->value = static_cast<std::uint8_t>(high << 4 | low);
			t->len = 2;
			l->text.pos += 2;
			return;
		}
	}
	t->len = 0;
	while ((text || t->len <= TOKEN_SHOWN) && look(l, &width) == Next::TOKEN) {
		const unsigned char *p = l->text.data + l->text.pos;
		text = text && printable(p, width, l->text.len - l->text.pos);
		for (std::size_t i = 0; i < width; i++)
			if (t->len + i < sizeof t->bytes)
				t->bytes[t->len + i] = p[i];
		t->len += width;
		l->text.pos += width;
	}
	int high, low;
	if (t->len == 2 && (high = hex_table.value[t->bytes[0]]) >= 0 && (low = hex_table.value[t->bytes[1]]) >= 0) {
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
	if (l->text.len - l->text.pos >= 2 && l->text.data[l->text.pos] == ' ' && tables.kind[l->text.data[l->text.pos + 1]] == TOKEN) {
		l->text.pos++;
		return true;
	}
	for (;;) {
		std::size_t width;
		switch (look(l, &width)) {
		case Next::BLANK:
			l->text.pos += width;
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
		l->token_end = l->text.base + l->text.pos;
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
		end = l->text.base + l->text.pos;
	}
	if (first) {
		l->text_line = l->line;
		l->head_end = end;
	}
	return false;
}

}  // namespace

void open_listing(Listing *l, std::FILE *in)
{
	open_text(&l->text, in, false, nullptr);
	l->line = 1;
	l->line_start = true;
	l->line_values = false;
	l->ahead_count = l->ahead_next = 0;
	l->token.len = 0;
	l->seen_values = false;
	l->text_line = 0;
}

ListingRead next_value(Listing *l, std::uint8_t *value, std::uint64_t *line)
{
	// The usual, on a line of values: a space, two digits and an ASCII
	// blank or line end.
	if (l->line_values && l->ahead_next == l->ahead_count && l->text.len - l->text.pos >= 4) {
		const unsigned char *p = l->text.data + l->text.pos;
		int high = hex_table.value[p[1]], low = hex_table.value[p[2]];
		if (p[0] == ' ' && (high | low) >= 0 && tables.ends_token[p[3]]) {
			*value = static_cast<std::uint8_t>(high << 4 | low);
			*line = l->line;
			l->text.pos += 3;
			return ListingRead::VALUE;
		}
	}
	for (;;) {
		if (l->ahead_next < l->ahead_count)
			return hand_out(l, l->ahead[l->ahead_next++], value, line);
		if (!to_token(l))
			return ListingRead::END;
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
	while (at > 0 && l->text.data[at - 1] != '\n' && l->text.data[at - 1] != '\r')
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
	std::size_t len = 3 * count, n = l->text.len - l->text.pos;
	if (n < len + 3)
		n = text_at_hand(&l->text, len + 3);
	const unsigned char *p = l->text.data + l->text.pos;
	std::size_t end = n > 0 && p[0] == '\n' ? 1 : n > 1 && p[0] == '\r' && p[1] == '\n' ? 2 : 0;
	if ((end > 0 || l->line_start) && n >= end + len && std::memcmp(p + end, text, len) == 0 &&
	    (2 * count > LINE_AHEAD || n == end + len || p[end + len] == '\n' || p[end + len] == '\r')) {
		l->text.pos += end + len;
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
	std::size_t taken = 0, before = 0, start = l->text.pos;
	std::uint64_t line = l->line;
	if (n < 4)
		return 0;
	const unsigned char *last = l->text.data + l->text.len - 4;
	while (taken < count) {
		if (p > last) {
			// Reading on keeps what may be given back.
			std::size_t at = static_cast<std::size_t>(p - l->text.data);
			bool found = (l->line_values && line == l->line) || (taken - before) * 2 > LINE_AHEAD;
			std::size_t keep = found ? at : line == l->line ? start : line_begun(l, at);
			if (at - keep > TEXT_HELD / 2)
				break;
			l->text.pos = keep;
			if (text_at_hand(&l->text, at - keep + 4) < at - keep + 4)
				break;
			start = l->text.pos + (start >= keep ? start - keep : 0);
			p = l->text.data + l->text.pos + (at - keep);
			last = l->text.data + l->text.len - 4;
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
		CharKind kind = tables.kind[p[0]];
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
		p = l->text.data + (line == l->line ? start : line_begun(l, static_cast<std::size_t>(p - l->text.data)));
		taken = before;
	}
	bool line_start = (l->line_start || line != l->line) && taken == before;
	l->text.pos = static_cast<std::size_t>(p - l->text.data);
	l->line = line;
	l->line_start = line_start;
	l->line_values = line_values;
	return taken;
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
		if (end - at != 2 || hex_table.value[t[at]] < 0 || hex_table.value[t[at + 1]] < 0)
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
	return show_cut(t.bytes, std::min<std::uint64_t>(t.len, sizeof t.bytes), t.len, to);
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
	char shown[4 * TOKEN_SHOWN + 4];
	std::size_t n = show_cut(l->head, static_cast<std::size_t>(std::min<std::uint64_t>(length, l->head_len)), length,
	                         shown);
	write_shown(name, out);
	std::fprintf(out, ": no values, only text, from line %llu: ", static_cast<unsigned long long>(l->text_line));
	std::fwrite(shown, 1, n, out);
	std::fputc('\n', out);
	return true;
}
