#include "dump.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "hexdigits.h"
#include "replay.h"
#include "shown.h"
#include "text.h"

namespace {

// What a line of a dump is, after blanks at its ends:
// - BLANK: nothing;
// - STAR: `*` alone, the line of values before it repeated;
// - TEXT: a heading, a footer, a prompt: no values, passed over;
// - LABEL: a label and no values (od's and hexdump's closing offset);
// - VALUES: values, maybe after a label, maybe before a character column;
// - PLAIN: one token of digits alone, xxd -p's bytes in order;
// - LONE: one token of digits alone, 3 or more, before the lines around it
//   have told whether it is plain hex, a label or neither (lone_kind);
// - MAYBE_LABEL: such a token that nothing tells: a label or values;
// - RULER: values 00 01 02 ... in order, 8 or more, perhaps after one word,
//   and no label: a column ruler if the next line that is neither blank nor
//   text is one of values with a label, else a line of values (and its
//   word a fault);
// - FAULT: a token that makes the line unreadable for sure;
// - LONG: longer than DUMP_LINE_MOST.
enum class Kind : unsigned char { BLANK, STAR, TEXT, LABEL, VALUES, PLAIN, LONE, MAYBE_LABEL, RULER, FAULT, LONG };

struct Line {
	Kind kind;
	bool labelled;
	bool od;	// a label of seven digits and no mark: od's octal or decimal offsets
	bool bare;	// a label of digits alone, no mark before or after them
	// Of VALUES: where its character column starts, in characters, or
	// NO_PLACE; and whether the column may be values too (`extra` of them,
	// in `bytes` after the line's own).
	std::size_t place;
	bool questioned;
	std::size_t extra;
	// Of VALUES without a column: where the values after the last gap of
	// two blanks or more begin, or 0.
	std::size_t gap_at;
	const unsigned char *digits;	// the label's number
	std::size_t ndigits;
	bool numbered;		// its value in hexadecimal is already known, in `number`
	std::uint64_t number;
	std::size_t count;	// the bytes of VALUES, PLAIN and RULER
	bool word;		// of a RULER
	// Of VALUES with groups of digits: their bytes reversed would show
	// another column, or the same one (the group at fault_at its first).
	bool order_shown, order_unsure;
	std::size_t fault_at, fault_len;	// FAULT's token, a RULER's word, an unsure group
	std::size_t text_at, text_len;	// the line without the blanks at its ends
};

struct Span {
	std::size_t at, end;
};

inline bool is_hex(unsigned char c)
{
	return hex_table.value[c] >= 0;
}

// blank_width, quick for ASCII.
inline std::size_t blank_at(const unsigned char *p, std::size_t n)
{
	if (p[0] < 0x80)
		return p[0] == ' ' || p[0] == '\t' || p[0] == '\v' || p[0] == '\f';
	return blank_width(p, n);
}

// The tokens of the n bytes at t, split at blanks, into `spans`; how many.
std::size_t tokens_of(const unsigned char *t, std::size_t n, Span *spans)
{
	std::size_t m = 0, i = 0;
	while (i < n) {
		std::size_t w = blank_at(t + i, n - i);
		if (w > 0) {
			i += w;
			continue;
		}
		std::size_t at = i;
		do
			i += t[i] < 0x80 ? 1 : std::max<std::size_t>(char_width(t + i, n - i), 1);
		while (i < n && blank_at(t + i, n - i) == 0);
		spans[m++] = {at, i};
	}
	return m;
}

// A token of a line's body: two digits, a value; DEBUG's two values with a
// hyphen between them; 4 to 32 digits, an even number, bytes in order where
// a character column shows them (xxd's groups); any other run of digits;
// text; and garbage, with bytes a terminal would act on or of no character.
enum TokenKind : unsigned char { VALUE, PAIR, GROUP, DIGITS, WORD, GARBAGE };

TokenKind token_kind(const unsigned char *p, std::size_t n)
{
	std::size_t d = 0;
	while (d < n && is_hex(p[d]))
		d++;
	if (d == n)
		return n == 2 ? VALUE : n % 2 == 0 && n >= 4 && n <= 32 ? GROUP : DIGITS;
	if (n == 5 && d == 2 && p[2] == '-' && is_hex(p[3]) && is_hex(p[4]))
		return PAIR;
	for (std::size_t i = 0, w; i < n; i += w) {
		w = char_width(p + i, n - i);
		if (w == 0 || p[i] < 0x20 || p[i] == 0x7F || (p[i] == 0xC2 && p[i + 1] < 0xA0))
			return GARBAGE;
	}
	return WORD;
}


// The bytes of a token of one of the first three kinds into `to`; how many.
std::size_t token_bytes(const unsigned char *p, std::size_t n, TokenKind kind, unsigned char *to)
{
	if (kind == PAIR) {
		to[0] = static_cast<unsigned char>(byte_at(p));
		to[1] = static_cast<unsigned char>(byte_at(p + 3));
		return 2;
	}
	for (std::size_t k = 0; k < n; k += 2)
		to[k / 2] = static_cast<unsigned char>(byte_at(p + k));
	return n / 2;
}

// The label that a line's first token, the n bytes at p, begins with. Its
// number is its last run of digits.
struct Label {
	bool found, marked, od, bare;
	const unsigned char *digits;
	std::size_t ndigits;
	std::size_t rest;	// where the body begins within the token: n where it is all label
};

// `more`: other tokens follow on the line.
Label label_of(const unsigned char *p, std::size_t n, bool more)
{
	Label l{};
	// One or two of '>', '.' and ':' first, as C64 monitors print them.
	std::size_t i = 0;
	while (i < 2 && i < n && (p[i] == '>' || p[i] == '.' || p[i] == ':'))
		i++;
	bool colon = std::memchr(p, ':', i) != nullptr;
	// A bank or segment of 1 to 4 digits and 4 digits: VICE's >C:c000,
	// DEBUG's 0B3C:0100.
	std::size_t j = i;
	while (j < n && j - i < 5 && is_hex(p[j]))
		j++;
	if (more && j > i && j - i <= 4 && j + 5 == n && p[j] == ':' && is_hex(p[j + 1]) && is_hex(p[j + 2]) &&
	    is_hex(p[j + 3]) && is_hex(p[j + 4]))
		return {true, true, false, false, p + j + 1, 4, n};
	// An optional '$' and digits: 1 to 16 before ':' or '-', the body
	// going on with no blank after them (xxd prints 9 past 4 GiB); or 3 to
	// 16 that are the whole token, more following on the line.
	std::size_t k = i + (i < n && p[i] == '$');
	for (j = k; j < n && j - k < 17 && is_hex(p[j]);)
		j++;
	std::size_t d = j - k;
	if (d >= 1 && d <= 16 && j < n && (p[j] == ':' || p[j] == '-'))
		return {true, true, false, false, p + k, d, j + 1};
	bool bare = i == 0 && k == 0;
	if (more && j == n && d >= 3 && d <= 16)
		l = {true, colon, bare && d == 7, bare, p + k, d, n};
	return l;
}

// Whether the `nv` values at v are shown by the n characters at r: each
// from 20 to 7E as itself, every other as '.', or from 80 to FF as any
// character outside ASCII, a byte of no character counting as one. `cut`:
// r may lack the values at the end, where those are all 20.
bool shows(const unsigned char *v, std::size_t nv, const unsigned char *r, std::size_t n, bool cut)
{
	std::size_t i = 0, k = 0;
	for (; k < nv && i < n; k++) {
		if (r[i] < 0x80) {
			if (v[k] >= 0x20 && v[k] <= 0x7E ? r[i] != v[k] : r[i] != '.')
				return false;
			i++;
		} else {
			if (v[k] < 0x80)
				return false;
			i += std::max<std::size_t>(char_width(r + i, n - i), 1);
		}
	}
	if (i < n)
		return false;
	for (; k < nv; k++)
		if (!cut || v[k] != 0x20)
			return false;
	return true;
}

// What the search for a line's character column knows of the values so far.
struct Column {
	const unsigned char *t;	// the line
	std::size_t end;	// where its last token ends
	std::size_t *chars;	// the characters from each byte on to `end`, once counted
	bool counted;
	std::size_t lead, trail;	// values of 20 at the start of the values, and at their end
	std::size_t place;	// where the column found starts, in characters from the line's start, or NO_PLACE
};

constexpr std::size_t NO_PLACE = SIZE_MAX;

// Whether the n characters at r, a character column, are all values or
// DEBUG's pairs parted by spaces: then the line may be values alone.
bool all_values(const unsigned char *r, std::size_t n)
{
	std::size_t k = 0;
	while (k < n && r[k] == ' ')
		k++;
	if (k == n)
		return false;
	while (k < n) {
		if (k + 2 > n || !is_hex(r[k]) || !is_hex(r[k + 1]))
			return false;
		k += 2;
		if (k < n && r[k] == '-') {
			if (k + 3 > n || !is_hex(r[k + 1]) || !is_hex(r[k + 2]))
				return false;
			k += 3;
		}
		if (k < n && r[k] != ' ')
			return false;
		while (k < n && r[k] == ' ')
			k++;
	}
	return true;
}

// Whether the text from `from`, where a token of values ends, is a
// character column that shows the nv values at v. A column that reads as
// values itself is no sure column: a typed line `C000: 31 32  12` may be
// three values or two and their characters, and only the lines around it
// may tell which.
enum class Seen { NONE, COLUMN, DELIMITED, UNSURE };

Seen column_at(Column *c, std::size_t from, const unsigned char *v, std::size_t nv)
{
	const unsigned char *t = c->t;
	std::size_t i = from, gap = 0, spaces = 0;
	for (std::size_t w; i < c->end && (w = blank_at(t + i, c->end - i)) > 0; i += w) {
		gap++;
		spaces = t[i] == ' ' ? spaces + 1 : 0;
	}
	// Nothing follows: a column of blanks only, cut at the line's end.
	c->place = NO_PLACE;
	if (i == c->end)
		return c->lead == nv ? Seen::COLUMN : Seen::NONE;
	if (!c->counted) {
		// The characters from each place on, counted as shows() counts
		// them: a byte that begins no well-formed character is one.
		std::size_t *chars = c->chars;
		for (std::size_t k = 0, w; k < c->end; k += w) {
			w = t[k] < 0x80 ? 1 : std::max<std::size_t>(char_width(t + k, c->end - k), 1);
			for (std::size_t b = k; b < k + w; b++)
				chars[b] = b == k;
		}
		chars[c->end] = 0;
		for (std::size_t k = c->end; k-- > 0;)
			chars[k] += chars[k + 1];
		c->counted = true;
	}
	std::size_t chars = c->chars[i];
	const unsigned char *r = t + i;
	std::size_t n = c->end - i;
	// Between '|' and '|' (hexdump -C) or '>' and '<' (od -z).
	std::size_t before = c->chars[0] - chars;
	if (chars == nv + 2 && ((r[0] == '|' && r[n - 1] == '|') || (r[0] == '>' && r[n - 1] == '<')) &&
	    shows(v, nv, r + 1, n - 2, false)) {
		c->place = before + 1;
		return Seen::DELIMITED;
	}
	// Undelimited: values of 20 at its start stand in the gap, after the
	// first blank that parts it; those at its end may be cut.
	std::size_t lead = std::min(c->lead, nv);
	if (lead > spaces || lead + 1 > gap || chars > nv - lead || chars + c->trail < nv - lead ||
	    !shows(v + lead, nv - lead, r, n, true))
		return Seen::NONE;
	c->place = before - lead;
	return all_values(r, n) ? Seen::UNSURE : Seen::COLUMN;
}

// The shape of a line of values, learned from one read in full: what
// stands where, so that the lines laid out alike after it (a program's dump,
// line after line) are read with a look at each place.
constexpr std::size_t SHAPE_MOST = 160;

struct Shape {
	std::size_t len;	// of the line; 0 where none is learned
	unsigned char line[SHAPE_MOST + TEXT_SLACK];
	unsigned char fixed[SHAPE_MOST + TEXT_SLACK];	// 0xFF where a line must be as `line`
	unsigned char kept[SHAPE_MOST + TEXT_SLACK];	// line & fixed
	unsigned char digit[SHAPE_MOST + TEXT_SLACK];	// 0xFF where it must hold a digit
	std::uint8_t value_at[SHAPE_MOST / 2];	// each value's first digit
	Line read;		// the line as parse_line read it
	std::size_t digits_at;	// of the label's number
	std::size_t column_at;	// of the values' characters, where `column`
	bool column, delimited;
	// Without a column: after each token of values but the last, the
	// values so far and the characters of the rest of the line.
	std::size_t tokens;
	std::uint8_t values_to[SHAPE_MOST / 3 + 1], chars_after[SHAPE_MOST / 3 + 1];
};

// Where parse_line found the parts of a line of values: a line to learn a
// shape from, where `learnable`.
struct Layout {
	bool learnable;
	bool groups;		// it has groups of digits beside its column
	std::uint8_t value_at[SHAPE_MOST / 2];
	std::size_t column_at;
	bool column, delimited;
	std::size_t tokens;
	std::uint8_t values_to[SHAPE_MOST / 3 + 1], chars_after[SHAPE_MOST / 3 + 1];
};

// Notes the layout of a line of values: its tokens of values body[0..k), its
// column, if any, after blanks from `from`, between delimiters or not.
void note_layout(Layout *layout, const unsigned char *t, std::size_t n, const Span *body, const TokenKind *kinds,
                 std::size_t k, Seen seen, std::size_t from, std::size_t lead)
{
	if (layout == nullptr)
		return;
	layout->learnable = false;
	if (n > SHAPE_MOST)
		return;
	std::size_t nv = 0;
	layout->tokens = k;
	layout->groups = false;
	for (std::size_t j = 0; j < k; j++) {
		std::size_t at = body[j].at, len = body[j].end - at;
		if (kinds[j] == GROUP && seen == Seen::NONE)
			return;	// digits that are bytes only beside a column
		layout->groups |= kinds[j] == GROUP;
		if (j + 1 < k) {
			std::size_t chars = 0;
			for (std::size_t b = body[j + 1].at, w; b < body[k - 1].end; b += w, chars++)
				w = t[b] < 0x80 ? 1 : std::max<std::size_t>(char_width(t + b, n - b), 1);
			layout->values_to[j] = static_cast<std::uint8_t>(nv + (kinds[j] == PAIR ? 2 : len / 2));
			layout->chars_after[j] = static_cast<std::uint8_t>(chars);
		}
		if (kinds[j] == PAIR) {
			layout->value_at[nv++] = static_cast<std::uint8_t>(at);
			layout->value_at[nv++] = static_cast<std::uint8_t>(at + 3);
		} else {
			for (std::size_t d = 0; d < len; d += 2)
				layout->value_at[nv++] = static_cast<std::uint8_t>(at + d);
		}
	}
	layout->column = seen != Seen::NONE;
	layout->delimited = seen == Seen::DELIMITED;
	if (layout->column) {
		std::size_t r = from;
		while (r < n && (t[r] == ' ' || t[r] == '\t'))
			r++;
		// The column whole, of ASCII alone, after two ASCII blanks at
		// least: parted so, it never reads as values.
		std::size_t at = seen == Seen::DELIMITED ? r + 1 : r - lead;
		if (r == n || at + nv + (seen == Seen::DELIMITED) != n || (seen == Seen::COLUMN && at < from + 2))
			return;
		for (std::size_t b = at; b < at + nv; b++)
			if (t[b] >= 0x80)
				return;
		layout->column_at = at;
	}
	layout->learnable = true;
}

// Whether the column after tokens body[0..k) of values, whose nv bytes are
// at `bytes`, would show them as well with each group's bytes reversed, as
// xxd -e and od -x print 16- and 32-bit words in the machine's order: then
// this line cannot tell their order, and the group of it that is no
// palindrome is noted as unsure in L; else, where it has such a group, it
// shows them in order.
void group_order(Line *L, const unsigned char *t, const Span *body, const TokenKind *kinds, std::size_t k,
                 const unsigned char *bytes, std::size_t nv, std::size_t end, std::size_t *chars)
{
	unsigned char reversed[DUMP_LINE_MOST / 2 + 2];
	std::size_t b = 0, unsure = k;
	for (std::size_t j = 0; j < k; j++) {
		std::size_t len = body[j].end - body[j].at, got = kinds[j] == GROUP ? len / 2 : kinds[j] == PAIR ? 2 : 1;
		for (std::size_t i = 0; i < got; i++)
			reversed[b + i] = kinds[j] == GROUP ? bytes[b + got - 1 - i] : bytes[b + i];
		if (kinds[j] == GROUP && unsure == k && std::memcmp(reversed + b, bytes + b, got) != 0)
			unsure = j;
		b += got;
	}
	if (unsure == k)
		return;	// no group whose order matters
	Column column{t, end, chars, false, 0, 0, NO_PLACE};
	for (std::size_t i = 0; i < nv; i++) {
		column.lead += column.lead == i && reversed[i] == 0x20;
		column.trail = reversed[i] == 0x20 ? column.trail + 1 : 0;
	}
	if (column_at(&column, body[k - 1].end, reversed, nv) == Seen::NONE) {
		L->order_shown = true;
		return;
	}
	L->order_unsure = true;
	L->fault_at = body[unsure].at;
	L->fault_len = body[unsure].end - body[unsure].at;
}

// Whether the token of n bytes at p could be bytes typed or read wrong: 8
// characters or more, a decimal digit among them, no 0x before them, and
// all hexadecimal digits but one or two letters (xxd -p's line with an O for
// a 0); or, of 16 characters or more, all but one in eight of any other kind
// (a `;` or a `.` among plain hex).
bool digits_but_letters(const unsigned char *p, std::size_t n)
{
	if (n < 8 || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')))
		return false;
	std::size_t letters = 0, others = 0;
	bool decimal = false;
	for (std::size_t k = 0; k < n; k++) {
		unsigned char c = p[k];
		decimal |= c >= '0' && c <= '9';
		if (!is_hex(c))
			((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ? letters : others)++;
	}
	std::size_t wrong = letters + others;
	return decimal && wrong > 0 && ((others == 0 && letters <= 2) || (n >= 16 && wrong <= n / 8));
}

// Reads the line of the n bytes at t, line end left out, into *out and its
// bytes into `bytes`, which has room for n / 2 + 2. One token of digits
// alone is left LONE, for the lines around it to settle. Where it is a line
// of values, notes its layout into *layout.
void parse_line(const unsigned char *t, std::size_t n, unsigned char *bytes, Line *out, Layout *layout)
{
	static Span spans[DUMP_LINE_MOST / 2 + 2];
	static TokenKind kinds[DUMP_LINE_MOST / 2 + 2];
	static std::size_t chars[DUMP_LINE_MOST + 1];
	Line &L = *out;
	L = Line{};
	L.place = NO_PLACE;
	std::size_t m = tokens_of(t, n, spans);
	if (m == 0) {
		L.kind = Kind::BLANK;
		return;
	}
	const unsigned char *t0 = t + spans[0].at;
	std::size_t n0 = spans[0].end - spans[0].at;
	L.text_at = spans[0].at;
	L.text_len = spans[m - 1].end - spans[0].at;
	if (m == 1 && n0 == 1 && t0[0] == '*') {
		L.kind = Kind::STAR;
		return;
	}
	Label label = label_of(t0, n0, m > 1);
	if (!label.found && m == 1) {
		std::size_t d = 0;
		while (d < n0 && is_hex(t0[d]))
			d++;
		// Digits alone: xxd -p's bytes, or a closing offset, or a heading.
		if (d == n0 && d >= 3) {
			L.kind = Kind::LONE;
			L.digits = t0;
			L.ndigits = d;
			L.fault_at = spans[0].at;
			L.fault_len = n0;
			// Only a long one is plain hex whatever the lines around it.
			if (layout != nullptr && d >= 17 && d % 2 == 0 && n <= SHAPE_MOST) {
				for (std::size_t k = 0; k < d / 2; k++)
					layout->value_at[k] = static_cast<std::uint8_t>(spans[0].at + 2 * k);
				layout->column = false;
				layout->learnable = true;
			}
			return;
		}
	}
	// The body: the tokens after the label, its rest within the first one.
	Span *body = spans;
	std::size_t mb = m;
	if (label.found) {
		L.labelled = true;
		L.od = label.od;
		L.bare = label.bare;
		L.digits = label.digits;
		L.ndigits = label.ndigits;
		if (label.rest < n0)
			spans[0].at += label.rest;
		else
			body++, mb--;
	}
	for (std::size_t k = 0; k < mb; k++)
		kinds[k] = token_kind(t + body[k].at, body[k].end - body[k].at);

	// The character column: the first place from the left, after one token
	// of values at least, where the rest of the line shows them.
	Column column{t, spans[m - 1].end, chars, false, 0, 0, NO_PLACE};
	std::size_t nv = 0;
	for (std::size_t k = 0; k < mb && (kinds[k] == VALUE || kinds[k] == PAIR || kinds[k] == GROUP); k++) {
		std::size_t got = token_bytes(t + body[k].at, body[k].end - body[k].at, kinds[k], bytes + nv);
		for (std::size_t b = nv; b < nv + got; b++) {
			column.lead += column.lead == b && bytes[b] == 0x20;
			column.trail = bytes[b] == 0x20 ? column.trail + 1 : 0;
		}
		nv += got;
		Seen found = column_at(&column, body[k].end, bytes, nv);
		if (found == Seen::NONE)
			continue;
		// A column that reads as values may be values, unless groups of
		// digits before it are bytes only beside a column.
		bool questioned = found == Seen::UNSURE;
		for (std::size_t j = 0; j <= k && questioned; j++)
			questioned = kinds[j] != GROUP;
		L.kind = Kind::VALUES;
		L.count = nv;
		L.place = column.place;
		if (questioned) {
			L.questioned = true;
			L.fault_at = body[k + 1].at;
			L.fault_len = column.end - L.fault_at;
			std::size_t all = nv;
			for (std::size_t j = k + 1; j < mb; j++)
				all += token_bytes(t + body[j].at, body[j].end - body[j].at, kinds[j], bytes + all);
			L.extra = all - nv;
			return;
		}
		group_order(&L, t, body, kinds, k + 1, bytes, nv, spans[m - 1].end, chars);
		// A column of blanks cut away is no layout to learn.
		if (k + 1 < mb)
			note_layout(layout, t, n, body, kinds, k + 1, found == Seen::UNSURE ? Seen::COLUMN : found, body[k].end,
			            column.lead);
		return;
	}

	// No column: values alone, or a fault, or text. Digits alone first
	// after the label, 8 or more, could be bytes (od -x's words, with its
	// characters after them or not), in an order nobody can tell.
	bool values = false, digits_first = true;
	std::size_t digits = 0;
	for (std::size_t k = 0; k < mb; k++) {
		values |= kinds[k] == VALUE || kinds[k] == PAIR;
		digits_first &= kinds[k] == GROUP || kinds[k] == DIGITS;
		digits += digits_first ? body[k].end - body[k].at : 0;
	}
	std::size_t fault = mb;
	if (values) {
		// A column ruler, perhaps after one word: 00 01 02 ...
		std::size_t w = kinds[0] == WORD;
		bool ruler = !label.found && mb - w >= 8;
		for (std::size_t k = w; k < mb && ruler; k++)
			ruler = kinds[k] == VALUE && byte_at(t + body[k].at) == k - w;
		if (ruler) {
			L.kind = Kind::RULER;
			L.count = mb - w;
			L.word = w > 0;
			L.fault_at = body[0].at;
			L.fault_len = body[0].end - body[0].at;
			for (std::size_t k = 0; k < L.count; k++)
				bytes[k] = static_cast<unsigned char>(k);
			return;
		}
		for (fault = 0; fault < mb && (kinds[fault] == VALUE || kinds[fault] == PAIR);)
			fault++;
		if (fault == mb) {
			nv = 0;
			for (std::size_t k = 0; k < mb; k++)
				nv += token_bytes(t + body[k].at, body[k].end - body[k].at, kinds[k], bytes + nv);
			L.kind = Kind::VALUES;
			L.count = nv;
			// Two blanks or more between values: those after the last
			// such gap may be a column, where the dump's lines have one.
			for (std::size_t k = mb; k-- > 1 && L.gap_at == 0;) {
				std::size_t blanks = 0;
				for (std::size_t i = body[k - 1].end, w; i < body[k].at; i += w, blanks++)
					w = blank_at(t + i, body[k].at - i);
				if (blanks >= 2) {
					L.gap_at = body[k].at;
					L.fault_at = body[k].at;
					L.fault_len = body[mb - 1].end - body[k].at;
				}
			}
			if (L.gap_at == 0)
				note_layout(layout, t, n, body, kinds, mb, Seen::NONE, 0, 0);
			return;
		}
	} else if (digits >= 8) {
		fault = 0;
	} else if (label.found && label.marked && mb > 0) {
		fault = 0;	// a marked label before text: `C020: start of table`
	} else if (label.found && mb == 0) {
		L.kind = Kind::LABEL;
		return;
	} else {
		// Text, unless it could hide bytes: groups of digits after its
		// first token, 12 digits or more (xxd's line with its label typed
		// wrong), or a token of digits with a letter or two among them.
		// A label found here is the line's first token, and the body
		// the tokens after it.
		std::size_t grouped = 0;
		for (std::size_t k = label.found ? 0 : 1; k < mb && kinds[k] == GROUP; k++)
			grouped += body[k].end - body[k].at;
		if (grouped >= 12) {
			L.kind = Kind::FAULT;
			L.fault_at = spans[0].at;
			L.fault_len = n0;
			return;
		}
		for (fault = 0; fault < mb && kinds[fault] != GARBAGE &&
		                !digits_but_letters(t + body[fault].at, body[fault].end - body[fault].at);)
			fault++;
		if (fault == mb) {
			L.kind = Kind::TEXT;
			return;
		}
	}
	L.kind = Kind::FAULT;
	L.fault_at = body[fault].at;
	L.fault_len = body[fault].end - body[fault].at;
}

// Learns the shape of the line L, of the n bytes at t, from its layout.
void learn_shape(Shape *shape, const Line &L, const unsigned char *t, std::size_t n, const Layout &layout)
{
	shape->len = 0;
	if (!layout.learnable)
		return;
	std::memcpy(shape->line, t, n);
	std::memset(shape->fixed, 0xFF, n);
	std::memset(shape->fixed + n, 0, sizeof shape->fixed - n);
	std::memset(shape->digit, 0, sizeof shape->digit);
	for (std::size_t k = 0; k < L.count; k++) {
		std::size_t at = layout.value_at[k];
		shape->value_at[k] = layout.value_at[k];
		shape->fixed[at] = shape->fixed[at + 1] = 0;
		shape->digit[at] = shape->digit[at + 1] = 0xFF;
	}
	shape->digits_at = L.labelled ? static_cast<std::size_t>(L.digits - t) : 0;
	if (L.labelled) {
		std::memset(shape->fixed + shape->digits_at, 0, L.ndigits);
		std::memset(shape->digit + shape->digits_at, 0xFF, L.ndigits);
	}
	shape->column = layout.column;
	shape->delimited = layout.delimited;
	shape->column_at = layout.column_at;
	shape->tokens = layout.tokens;
	std::memcpy(shape->values_to, layout.values_to, sizeof shape->values_to);
	std::memcpy(shape->chars_after, layout.chars_after, sizeof shape->chars_after);
	if (shape->column)
		std::memset(shape->fixed + shape->column_at, 0, L.count);
	for (std::size_t k = 0; k < sizeof shape->kept; k++)
		shape->kept[k] = shape->line[k] & shape->fixed[k];
	shape->read = L;
	shape->len = n;
}

// Whether the shape->len bytes at t hold what `shape` holds where it holds
// other than digits and a column. The bytes up to TEXT_SLACK past the
// line can be read.
inline bool laid_alike(const Shape *shape, const unsigned char *t)
{
	std::size_t n = shape->len;
#if defined(USE_SSE2)
	__m128i differ = _mm_setzero_si128();
	for (std::size_t i = 0; i < n; i += 16) {
		__m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + i));
		__m128i fixed = _mm_loadu_si128(reinterpret_cast<const __m128i *>(shape->fixed + i));
		__m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i *>(shape->kept + i));
		differ = _mm_or_si128(differ, _mm_xor_si128(_mm_and_si128(got, fixed), kept));
	}
	if (_mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) != 0xFFFF)
		return false;
#else
	for (std::size_t i = 0; i < n; i++)
		if ((t[i] & shape->fixed[i]) != shape->kept[i])
			return false;
#endif
	return true;
}

// The number of the label of the line of `shape` at t, its digits' sound
// or else NO_PAIR into *bad.
inline std::uint64_t label_number(const Shape *shape, const unsigned char *t, unsigned *bad)
{
	const unsigned char *d = t + shape->digits_at;
	std::size_t n = shape->read.ndigits, j = n % 2;
	std::uint64_t x = 0;
	if (j != 0) {
		*bad |= hex_table.value[d[0]] < 0 ? NO_PAIR : 0;
		x = hex_table.nibble[d[0]];
	}
	for (; j < n; j += 2) {
		unsigned v = pair_at(d + j);
		*bad |= v;
		x = x << 8 | (v & 0xFF);
	}
	return x;
}

// Reads the shape->len bytes at t as a line of `shape`, its values into
// `bytes` and its label's number into *number; false where they are not
// laid out alike, or where parse_line might read them otherwise. The bytes
// up to TEXT_SLACK past the line can be read. A label's digits are looked at
// on either reading: other characters in their place make another line.
bool read_alike(const Shape *shape, const unsigned char *t, unsigned char *bytes, std::uint64_t *number)
{
	if (!laid_alike(shape, t))
		return false;
	const Line &read = shape->read;
	std::size_t count = read.count;
	const std::uint8_t *at = shape->value_at;
	unsigned bad = values_at(t, at, count, bytes);
	std::uint64_t x = read.labelled ? label_number(shape, t, &bad) : 0;
	if (bad & NO_PAIR)
		return false;
	*number = x;
	if (shape->column) {
		// Each value as its character: itself from 20 to 7E, else '.';
		// a column that reads as values is for the full reading to weigh.
		const unsigned char *c = t + shape->column_at;
		if ((!shape->delimited && (c[0] == ' ' || pair_at(c) != NO_PAIR) && all_values(c, count)) ||
		    !column_shows(bytes, count, c))
			return false;
	} else if (read.kind == Kind::VALUES) {
		// A column could hold only where the first value that is no
		// blank is a digit's character, as the tokens after it begin,
		// and where the values so far are as many as the characters
		// after them, or as many less those of 20 that may be cut.
		std::size_t lead = 0;
		while (lead < count && bytes[lead] == 0x20)
			lead++;
		if (lead < count && is_hex(bytes[lead])) {
			for (std::size_t j = 0, trail = 0, nv = 0; j + 1 < shape->tokens; j++) {
				for (; nv < shape->values_to[j]; nv++)
					trail = bytes[nv] == 0x20 ? trail + 1 : 0;
				std::size_t own = nv - std::min(lead, nv), chars = shape->chars_after[j];
				if (chars <= own && chars + trail >= own)
					return false;
			}
		}
		// Nor may it be a ruler: 00 01 02 ...
		if (!read.labelled && count >= 8 && bytes[0] == 0 && bytes[1] == 1)
			return false;
	}
	return true;
}

// Whether the shape->len bytes at t are a line of `shape`, as read_alike
// finds it, its label's number into *number: the first reading of a file
// that is read again needs no values, only that they are sound, and those
// beside a column are held against its characters as digits. A line of
// none is read in full where a column might yet hold, or a ruler.
bool check_alike(const Shape *shape, const unsigned char *t, std::uint64_t *number)
{
	const Line &read = shape->read;
	const std::uint8_t *at = shape->value_at;
	std::size_t count = read.count;
	// Without a column, a line whose first value is a blank or a digit's
	// character, or 00 (a ruler), is read in full to tell.
	unsigned first = pair_at(t + at[0]);
	if (!shape->column && read.kind == Kind::VALUES && (first == 0x20 || first == 0 || is_hex(static_cast<unsigned char>(first)))) {
		unsigned char bytes[SHAPE_MOST / 2];
		return read_alike(shape, t, bytes, number);
	}
	if (!laid_alike(shape, t))
		return false;
	unsigned differs = 0;
	std::size_t k = 0;
	if (shape->column) {
		const unsigned char *c = t + shape->column_at;
		if (!shape->delimited && (c[0] == ' ' || pair_at(c) != NO_PAIR) && all_values(c, count))
			return false;
		for (; k + 4 <= count; k += 4)
			differs |= (pair_shown[two_at(t + at[k])] ^ c[k]) | (pair_shown[two_at(t + at[k + 1])] ^ c[k + 1]) |
			           (pair_shown[two_at(t + at[k + 2])] ^ c[k + 2]) | (pair_shown[two_at(t + at[k + 3])] ^ c[k + 3]);
		for (; k < count; k++)
			differs |= pair_shown[two_at(t + at[k])] ^ c[k];
	} else {
		for (; k + 2 <= count; k += 2)
			differs |= (pair_values[two_at(t + at[k])] | pair_values[two_at(t + at[k + 1])]) & NO_PAIR;
		if (k < count)
			differs |= pair_values[two_at(t + at[k])] & NO_PAIR;
	}
	unsigned bad = 0;
	*number = read.labelled ? label_number(shape, t, &bad) : 0;
	return differs == 0 && (bad & NO_PAIR) == 0;
}

// The line of `shape` at p, if the line at hand is one: its length with its
// line end, or 0.
inline std::size_t alike_at(Text *text, const Shape *shape)
{
	std::size_t n = shape->len, have = text->len - text->pos;
	if (n == 0)
		return 0;	// no shape learned
	if (have < n + 2)
		have = text_at_hand(text, n + 2);
	const unsigned char *p = text->data + text->pos;
	if (have >= n + 2 && p[n] == '\n')	// the usual
		return n + 1;
	// A CR last at hand may be the first half of a CR LF.
	if (n == 0 || have <= n || !(p[n] == '\n' || (p[n] == '\r' && (n + 1 < have || text->file_ended))))
		return 0;
	return n + 1 + (p[n] == '\r' && n + 1 < have && p[n + 1] == '\n');
}

// The next line of `text`, its line end left out: LF, CR LF or a CR alone.
enum class LineGot { LINE, LONG, END };

LineGot next_line(Text *text, const unsigned char **line, std::size_t *n)
{
	std::size_t have = text->len - text->pos;
	for (;;) {
		const unsigned char *p = text->data + text->pos;
		const void *lf = std::memchr(p, '\n', have);
		std::size_t at = lf != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char *>(lf) - p) : have;
		const void *cr = std::memchr(p, '\r', at);
		at = cr != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char *>(cr) - p) : at;
		// A CR last at hand may be the first half of a CR LF.
		bool ended = at < have && (p[at] == '\n' || at + 1 < have || text->file_ended);
		if (at > DUMP_LINE_MOST)
			return LineGot::LONG;
		if (ended || (at == have && text->file_ended)) {
			if (at == 0 && have == 0)
				return LineGot::END;
			*line = p;
			*n = at;
			text->pos += at + (at < have) + (at + 1 < have && p[at] == '\r' && p[at + 1] == '\n');
			return LineGot::LINE;
		}
		have = text_at_hand(text, have + 1);
	}
}

// What a token of digits alone on its line is told by: the last line
// before it that is neither blank nor text, of `last` kind and with a label
// or not; and whether the next line of values (blank and text lines, and
// other such tokens, left out) has a label: 1 yes, 0 no, -1 not known yet.
struct Around {
	Kind last;
	bool last_labelled;
	int ahead;
};

// What a token of `digits` digits alone on its line is: plain hex after
// plain hex (xxd -p's short last line) or where it is longer than any
// label; a label where a line with a label or a `*` comes before it or the
// next line of values has a label (a closing offset, a heading before a
// dump, od of an empty file); else plain hex where it is long, a label
// where its digits are odd, and refused where it could be either. LONE
// where `around` is not given, or where the lines after it must tell.
Kind lone_kind(std::size_t digits, const Around *around)
{
	bool even = digits % 2 == 0;
	if (even && (digits >= 17 || (around != nullptr && around->last == Kind::PLAIN)))
		return Kind::PLAIN;
	if (digits > 16)
		return Kind::FAULT;
	if (around == nullptr)
		return Kind::LONE;
	if (around->last_labelled || around->last == Kind::STAR || !even || around->ahead == 1)
		return Kind::LABEL;
	if (around->ahead < 0)
		return Kind::LONE;
	return digits >= 10 ? Kind::PLAIN : Kind::MAYBE_LABEL;
}

// Makes the LONE line L, of the digits at L->digits, what lone_kind says,
// its bytes into `bytes` where it is plain hex.
void settle_lone(Line *L, const Around *around, unsigned char *bytes)
{
	L->kind = lone_kind(L->ndigits, around);
	if (L->kind == Kind::PLAIN) {
		L->count = token_bytes(L->digits, L->ndigits, GROUP, bytes);
	} else if (L->kind == Kind::LABEL) {
		L->labelled = L->bare = true;
		L->od = L->ndigits == 7;
	}
}

// Reads the next line of `text` into *L and `bytes`, its bytes at *line: as
// one laid out like the last learned where it is, else in full, learning
// its shape where it has one; one with groups of digits only where their
// order is `shown` already, as the lines alike are not looked at for it. A
// token of digits alone is settled by `around`, as far as it can be.
LineGot take_line(Text *text, Shape *shape, const Around *around, bool shown, unsigned char *bytes, Line *L,
              const unsigned char **line)
{
	std::size_t n, width = alike_at(text, shape);
	std::uint64_t number;
	if (width > 0 && read_alike(shape, text->data + text->pos, bytes, &number)) {
		*line = text->data + text->pos;
		text->pos += width;
		*L = shape->read;
		L->digits = *line + shape->digits_at;
		L->numbered = true;
		L->number = number;
		return LineGot::LINE;
	}
	LineGot got = next_line(text, line, &n);
	if (got != LineGot::LINE)
		return got;
	static Layout layout;
	layout.learnable = false;
	parse_line(*line, n, bytes, L, &layout);
	if (L->kind == Kind::LONE)
		settle_lone(L, around, bytes);
	if (layout.learnable && L->kind != Kind::LONE && (shown || !layout.groups))
		learn_shape(shape, *L, *line, n, layout);
	return LineGot::LINE;
}

constexpr unsigned BASES[3] = {16, 8, 10};
enum { HEX, OCTAL, DECIMAL };

// The number of `n` digits at p in `base`; false where one is no digit of it.
bool number_in(const unsigned char *p, std::size_t n, unsigned base, std::uint64_t *number)
{
	std::uint64_t x = 0;
	for (std::size_t k = 0; k < n; k++) {
		unsigned d = static_cast<unsigned>(hex_table.value[p[k]]);
		if (d >= base)
			return false;
		x = x * base + d;
	}
	*number = x;
	return true;
}

// (a - b) modulo base to the power of n, n digits of that base.
std::uint64_t step_of(std::uint64_t a, std::uint64_t b, unsigned base, std::size_t n)
{
	if (base == 16)
		return n >= 16 ? a - b : (a - b) & ((std::uint64_t{1} << 4 * n) - 1);
	std::uint64_t m = 1;
	for (std::size_t k = 0; k < n && m != 0; k++)
		m *= base;	// 16 to the 16th wraps to 0: modulo 2^64
	if (m == 0)
		return a - b;
	a %= m;
	b %= m;
	return a >= b ? a - b : a + (m - b);
}

enum class Fault {
	NONE, TOKEN, UNSURE, ORDER, LONG, LABEL, MAYBE_LABEL, STAR_NO_VALUES, STAR_NO_LABEL, STAR_REPEAT, STAR_WIDTH,
	STAR_READINGS, READ, MEMORY
};

struct Found {
	Fault fault;
	std::uint64_t line;	// of the fault; of a label's, A, the label's before
	std::uint64_t last, at;	// of a label's, B and C; of a `*`'s, C
	std::uint64_t count, wants;	// of a label's, N and M; of a `*`'s, N (and the width, 0 where unknown)
	char token[4 * TOKEN_SHOWN + 4];
	std::size_t token_len;
};

// What the second reading needs of the first: where a ruler was passed
// over (times 0) and how often a `*` repeats its line, in each reading; and
// where a token of digits alone is a label that the next line of values
// told (`ahead`), and where a line whose column may be values is values, as
// the next label told (`values`).
struct Note {
	std::uint64_t line;
	std::uint64_t times[3];
	bool ahead, values;
};

struct Notes {
	Note *notes;
	std::size_t count, room, next;
	bool full;
};

// Adds `item` to the `count` items at *items, of room for *room, growing
// them; false where memory has run out.
template <typename T>
bool append(T **items, std::size_t *count, std::size_t *room, const T &item)
{
	if (*count == *room) {
		std::size_t more = std::max<std::size_t>(64, 2 * *room);
		void *p = more < SIZE_MAX / sizeof(T) ? std::realloc(*items, more * sizeof(T)) : nullptr;
		if (p == nullptr)
			return false;
		*items = static_cast<T *>(p);
		*room = more;
	}
	(*items)[(*count)++] = item;
	return true;
}

// Notes are kept in line order, as the second reading takes them; one
// settled after lines noted later goes back among them.
void add_note(Notes *notes, const Note &note)
{
	if (!append(&notes->notes, &notes->count, &notes->room, note)) {
		notes->full = true;
		return;
	}
	for (std::size_t k = notes->count - 1; k > 0 && notes->notes[k - 1].line > note.line; k--)
		std::swap(notes->notes[k - 1], notes->notes[k]);
}

// Lines laid out alike are noted for the second reading, which takes their
// values where they stand, only in stretches of STRETCH_LEAST lines or
// more, so that there are few.
constexpr std::size_t STRETCH_LEAST = 16;

// What the second reading makes of lines of values laid out alike after
// them: their kind, and whether they have a label.
std::uint8_t own_of(Kind kind, bool labelled)
{
	return static_cast<std::uint8_t>(static_cast<unsigned>(kind) | (labelled ? 0x80u : 0));
}

static_assert(SHAPE_MOST / 2 <= PLACES_MOST, "a shape's values have their places in a plan");

// The lines of `shape` as the second reading takes them, with line ends
// of `ends` characters as a rule.
Plan plan_of(const Shape &shape, std::size_t ends)
{
	Plan plan{};
	plan.len = static_cast<std::uint16_t>(shape.len);
	plan.ends = static_cast<std::uint8_t>(ends);
	plan.count = static_cast<std::uint16_t>(shape.read.count);
	plan.own = own_of(shape.read.kind, shape.read.labelled);
	plan.check = shape.column ? OwnCheck::COLUMN : OwnCheck::DIGITS;
	plan.column_at = static_cast<std::uint16_t>(shape.column_at);
	std::memcpy(plan.value_at, shape.value_at, shape.read.count);
	return plan;
}

// A token of digits alone waiting for the lines after it to tell what it is.
struct Waiting {
	std::uint64_t line;
	unsigned char digits[16];
	std::size_t ndigits;
};

constexpr std::size_t WAITING_MOST = 64;

// A `*` whose line's width waits for the dump's: its line, and the values
// of the line it repeats.
struct WidthDue {
	std::uint64_t line;
	std::size_t count;
};

constexpr std::size_t WIDTHS_DUE_MOST = 16;

// A line whose column may be values too: its line (0 for none), its values
// as a column and with none, where its column starts, and the column as a
// message shows it.
struct Question {
	std::uint64_t line;
	std::size_t count, extra, place;
	char text[4 * TOKEN_SHOWN + 4];
	std::size_t text_len;
};

constexpr std::size_t QUESTIONS_MOST = 16;

// The first reading: every line found sound, in order, its labels checked.
struct LineWalk {
	std::uint64_t line;
	Found found;
	// Each reading's fault, and the line where it was found: where no
	// reading is left, the one that went furthest is named.
	Found fault_of[3];
	std::uint64_t died_at[3];
	// The labels' readings: hexadecimal; or where the first label is
	// seven digits with no mark, od's, octal and decimal.
	bool labelled;		// a label has been seen
	// The first label, where it is the only one so far and 3 or 4 digits
	// alone that may be two values run together: its line, and the token as
	// a message shows it. A second label bears it out.
	std::uint64_t lone_label_line;
	char lone_label[4 * TOKEN_SHOWN + 4];
	std::size_t lone_label_len;
	// Tokens of digits alone waiting for the next line of values.
	Waiting waiting[WAITING_MOST];
	std::size_t waiting_count;
	// The dump's width: the values of its first line of values with a
	// label whose next line of values has one too; 0 until known. The last
	// line of values so far, for it; and the `*`s that wait for it.
	std::size_t width;
	bool values_labelled;
	std::size_t values_count;
	WidthDue widths_due[WIDTHS_DUE_MOST];
	std::size_t width_due_count;
	// A line whose column may be values too, taken as a column until the
	// next label tells which; those before any label, which the places of
	// the columns of the other lines tell at the end; the line of values
	// read last, where it is one of these, which no `*` may repeat; where
	// the lines with a column, none of these, start it, and whether they
	// differ.
	Question asked;
	Question awaiting[QUESTIONS_MOST];
	std::size_t awaiting_count;
	std::uint64_t unsettled;
	std::size_t column_place;
	bool places_differ;
	// The line that holds the last value wanted has been read: the reading
	// goes on to the next label, after `reached`, for it to check them.
	bool past;
	std::uint64_t reached;
	bool alive[3];
	std::uint64_t number[3];	// the last label's
	std::uint64_t since[3];	// values since it
	std::uint64_t total[3];	// values in all
	std::uint64_t label_line;
	// The last line that is neither blank nor text.
	Kind last;
	bool last_labelled;
	unsigned char last_bytes[DUMP_LINE_MOST / 2 + 2];	// of the last line of values
	std::size_t last_count;
	// A `*` waiting for the next label; a ruler for the next line.
	bool star, ruler;
	std::uint64_t star_line, ruler_line;
	std::size_t ruler_count;
	bool ruler_word;
	char ruler_token[4 * TOKEN_SHOWN + 4];
	std::size_t ruler_token_len;
	// Whether some line's column shows its groups' bytes in order; the
	// first whose column cannot tell, and its group, as a message shows it.
	bool order_shown;
	std::uint64_t unsure_line;
	char unsure_group[4 * TOKEN_SHOWN + 4];
	std::size_t unsure_len;
	// The first line of text, for a dump that holds no values.
	std::uint64_t text_line;
	unsigned char text[TOKEN_SHOWN + 4];
	std::size_t text_kept, text_len;
	Notes notes;
	Stretches stretches;
};

std::size_t show_bytes(const unsigned char *t, std::size_t n, char *to)
{
	return show_cut(t, std::min<std::size_t>(n, TOKEN_SHOWN + 4), n, to);
}

void fault_at(LineWalk *w, Fault fault, std::uint64_t line)
{
	w->found.fault = fault;
	w->found.line = line;
}

// Values of the image, standing on a line that the second reading finds
// again.
void add_bytes(LineWalk *w, const unsigned char *bytes, std::size_t n, std::uint64_t)
{
	for (int r = 0; r < 3; r++) {
		w->since[r] += n;
		w->total[r] += n;
	}
	std::memcpy(w->last_bytes, bytes, n);
	w->last_count = n;
}

// The values so far in the reading left that has fewest.
std::uint64_t least_total(const LineWalk *w)
{
	std::uint64_t least = UINT64_MAX;
	for (int r = 0; r < 3; r++)
		least = w->alive[r] ? std::min(least, w->total[r]) : least;
	return least;
}

// The first reading that is alive, or 3.
int first_alive(const LineWalk *w)
{
	int r = 0;
	while (r < 3 && !w->alive[r])
		r++;
	return r;
}

// Reading r has failed with `fault`, found on the line at hand.
void reading_fails(LineWalk *w, int r, const Found &fault)
{
	w->alive[r] = false;
	w->fault_of[r] = fault;
	w->died_at[r] = w->line;
}

// Where no reading is left: the fault of the one that went furthest, the
// first of them where they tie. False.
bool no_reading_left(LineWalk *w)
{
	int furthest = 0;
	for (int r = 1; r < 3; r++)
		furthest = w->died_at[r] > w->died_at[furthest] ? r : furthest;
	w->found = w->fault_of[furthest];
	return false;
}

// A line of values, with a label or not: the first two in a row with labels
// give the dump its width, which the `*`s waiting for it are held to. False
// at the first of those that does not fit.
bool saw_values(LineWalk *w, bool labelled, std::size_t count, bool questioned = false)
{
	w->unsettled = 0;
	bool pair = w->width == 0 && w->values_labelled && labelled;
	w->values_labelled = labelled && !questioned;	// a line that may be wider gives no width
	if (pair) {
		w->width = w->values_count;
		for (std::size_t k = 0; k < w->width_due_count; k++) {
			const WidthDue &due = w->widths_due[k];
			if (due.count != w->width) {
				w->found = {Fault::STAR_WIDTH, due.line, 0, 0, due.count, w->width, {}, 0};
				return false;
			}
		}
		w->width_due_count = 0;
	}
	w->values_count = count;
	return true;
}

// Whether a line whose column may be values too is a column by what the
// lines read so far show: more values with no column than the dump's lines
// hold, or its column where every other line's starts.
bool settled_as_column(const LineWalk *w, const Question &q)
{
	return (w->width != 0 && q.count + q.extra > w->width) ||
	       (!w->places_differ && w->column_place != NO_PLACE && q.place == w->column_place);
}

// The fault of a line whose column may be values or their characters. False.
bool question_fails(LineWalk *w, const Question &q)
{
	fault_at(w, Fault::UNSURE, q.line);
	std::memcpy(w->found.token, q.text, q.text_len);
	w->found.token_len = q.text_len;
	return false;
}

// The lines whose columns may be values too, as the lines read tell them:
// false at the first that they do not settle.
bool questions_settled(LineWalk *w)
{
	const Question *first = w->asked.line != 0 && !settled_as_column(w, w->asked) ? &w->asked : nullptr;
	for (std::size_t k = 0; k < w->awaiting_count; k++)
		if (!settled_as_column(w, w->awaiting[k]) && (first == nullptr || w->awaiting[k].line < first->line)) {
			first = &w->awaiting[k];
			break;
		}
	return first == nullptr || question_fails(w, *first);
}

// Whether a `*` may repeat a line of `count` values: one as wide as the
// dump's lines, or where their width is not known, as od, hexdump and xxd
// print them.
bool star_fits(const LineWalk *w, std::size_t count)
{
	return w->width != 0 ? count == w->width : count == 8 || count == 16 || count == 32;
}

// A `*` on `line` repeating a line of `count` values, held to the dump's
// width now or once it is known. False where it does not fit.
bool star_width(LineWalk *w, std::uint64_t line, std::size_t count)
{
	if (w->width == 0) {
		for (std::size_t k = 0; k < w->width_due_count; k++)
			if (w->widths_due[k].count == count)
				return true;	// an earlier `*` is held to it already
		if (w->width_due_count < WIDTHS_DUE_MOST) {
			w->widths_due[w->width_due_count++] = {line, count};
			return true;
		}
	}
	if (star_fits(w, count))
		return true;
	w->found = {Fault::STAR_WIDTH, line, 0, 0, count, w->width, {}, 0};
	return false;
}

// The `*`s still waiting for the dump's width once the reading ends: none
// was found, so each must repeat a line as programs print them.
bool widths_settled(LineWalk *w)
{
	for (std::size_t k = 0; k < w->width_due_count; k++) {
		const WidthDue &due = w->widths_due[k];
		if (!star_fits(w, due.count)) {
			w->found = {Fault::STAR_WIDTH, due.line, 0, 0, due.count, w->width, {}, 0};
			return false;
		}
	}
	return true;
}

// A label on `line`, of the n digits at p: held against the values since
// the last. False where no reading is left.
bool check_label(LineWalk *w, const Line &L, std::uint64_t line)
{
	std::uint64_t number[3] = {};
	bool valid[3] = {};
	std::size_t n = L.ndigits;
	for (int r = 0; r < 3; r++) {
		if (!w->alive[r])
			continue;
		if (r == HEX && L.numbered) {
			number[r] = L.number;
			valid[r] = true;
		} else {
			valid[r] = number_in(L.digits, n, BASES[r], &number[r]);
		}
	}
	if (!w->labelled) {
		// Seven digits alone are od's offsets, octal or decimal: one that
		// is neither was typed or read wrong.
		w->labelled = true;
		w->alive[OCTAL] = L.od && valid[OCTAL];
		w->alive[DECIMAL] = L.od && valid[DECIMAL];
		w->alive[HEX] = !L.od;
		if (L.od && !valid[OCTAL] && !valid[DECIMAL]) {
			fault_at(w, Fault::TOKEN, line);
			w->found.token_len = show_bytes(L.digits, n, w->found.token);
			return false;
		}
		// Three or four digits alone may be two values run together, as
		// long as no other label bears them out.
		if (L.kind == Kind::VALUES && L.bare && n <= 4) {
			w->lone_label_line = line;
			w->lone_label_len = show_bytes(L.digits, n, w->lone_label);
		}
	} else {
		w->lone_label_line = 0;
	}
	if (w->asked.line != 0) {
		// The line before whose column may be values: as the reading
		// that this label's step fits has it.
		bool column = false, values = false;
		for (int r = 0; r < 3; r++) {
			if (!w->alive[r] || !valid[r])
				continue;
			std::uint64_t step = step_of(number[r], w->number[r], BASES[r], n);
			column |= step == w->since[r];
			values |= step == w->since[r] + w->asked.extra;
		}
		Question q = w->asked;
		w->asked.line = 0;
		if (column && values)
			return question_fails(w, q);
		if (values) {
			for (int r = 0; r < 3; r++) {
				w->since[r] += q.extra;
				w->total[r] += q.extra;
			}
			add_note(&w->notes, Note{q.line, {0, 0, 0}, false, true});
		}
	}
	for (int r = 0; r < 3; r++) {
		if (!w->alive[r])
			continue;
		std::uint64_t step = valid[r] ? step_of(number[r], w->number[r], BASES[r], n) : 0;
		if (w->label_line != 0 && (!valid[r] || step != w->since[r]))
			reading_fails(w, r, {Fault::LABEL, w->label_line, line - 1, line, w->since[r], step, {}, 0});
		w->number[r] = number[r];
		w->since[r] = 0;
	}
	w->label_line = line;
	return first_alive(w) < 3 || no_reading_left(w);
}

// The `*` waiting, repeated to reach the label of `n` digits at p on
// `line`. False where no reading is left.
bool repeat_star(LineWalk *w, const unsigned char *p, std::size_t n, std::uint64_t line)
{
	Note note{w->star_line, {0, 0, 0}, false, false};
	std::size_t each = w->last_count;
	for (int r = 0; r < 3; r++) {
		std::uint64_t number;
		if (!w->alive[r])
			continue;
		std::uint64_t step = number_in(p, n, BASES[r], &number) ? step_of(number, w->number[r], BASES[r], n) : 0;
		std::uint64_t more = step - w->since[r];
		if (step <= w->since[r] || more % each != 0 || w->total[r] > UINT64_MAX - more) {
			reading_fails(w, r, {Fault::STAR_REPEAT, w->star_line, 0, line, each, 0, {}, 0});
			continue;
		}
		note.times[r] = more / each;
		w->since[r] += more;
		w->total[r] += more;
	}
	w->star = false;
	if (first_alive(w) == 3)
		return no_reading_left(w);
	add_note(&w->notes, note);
	return true;
}

// The ruler waiting, now that the next line that is neither blank nor text
// is known: passed over, or a line of values. False at the fault of its
// word.
bool settle_ruler(LineWalk *w, bool labelled_values)
{
	w->ruler = false;
	if (labelled_values) {
		add_note(&w->notes, Note{w->ruler_line, {0, 0, 0}, false, false});
		return true;
	}
	if (w->ruler_word) {
		fault_at(w, Fault::TOKEN, w->ruler_line);
		std::memcpy(w->found.token, w->ruler_token, w->ruler_token_len);
		w->found.token_len = w->ruler_token_len;
		return false;
	}
	unsigned char bytes[256];
	for (std::size_t k = 0; k < w->ruler_count; k++)
		bytes[k] = static_cast<unsigned char>(k);
	add_bytes(w, bytes, w->ruler_count, w->ruler_line);
	w->last = Kind::VALUES;
	w->last_labelled = false;
	return saw_values(w, false, w->ruler_count);
}

// Takes the line L, of the n bytes at t, read into `bytes`. False at a
// fault, in w->found.
bool walk_line(LineWalk *w, const Line &L, const unsigned char *t, const unsigned char *bytes)
{
	std::uint64_t line = w->line;
	// A label after the first bears it out, even on a line refused.
	if (L.labelled && w->labelled)
		w->lone_label_line = 0;
	switch (L.kind) {
	case Kind::BLANK:
		return true;
	case Kind::TEXT:
		if (w->text_line == 0) {
			w->text_line = line;
			w->text_len = L.text_len;
			w->text_kept = std::min(L.text_len, sizeof w->text);
			std::memcpy(w->text, t + L.text_at, w->text_kept);
		}
		return true;
	case Kind::FAULT:
	case Kind::MAYBE_LABEL:
		fault_at(w, L.kind == Kind::FAULT ? Fault::TOKEN : Fault::MAYBE_LABEL, line);
		w->found.token_len = show_bytes(t + L.fault_at, L.fault_len, w->found.token);
		return false;
	case Kind::LONG:
		fault_at(w, Fault::LONG, line);
		return false;
	default:
		break;
	}
	// A line that is neither blank nor text settles what waits for one.
	bool labelled_values = L.kind == Kind::VALUES && L.labelled;
	if (w->ruler && !settle_ruler(w, labelled_values))
		return false;
	if ((L.kind == Kind::VALUES || L.kind == Kind::PLAIN) && !saw_values(w, L.labelled, L.count, L.questioned))
		return false;
	if (w->star) {
		if (!L.labelled) {
			fault_at(w, Fault::STAR_NO_LABEL, w->star_line);
			return false;
		}
		if (!repeat_star(w, L.digits, L.ndigits, line))
			return false;
	}
	switch (L.kind) {
	case Kind::STAR:
		if (w->unsettled != 0)
			return question_fails(w, w->asked.line == w->unsettled ? w->asked : w->awaiting[w->awaiting_count - 1]);
		if (w->last != Kind::VALUES && w->last != Kind::PLAIN) {
			fault_at(w, Fault::STAR_NO_VALUES, line);
			return false;
		}
		if (!w->labelled) {
			fault_at(w, Fault::STAR_NO_LABEL, line);
			return false;
		}
		w->star = true;
		w->star_line = line;
		w->last = Kind::STAR;
		w->last_labelled = false;
		return star_width(w, line, w->last_count);
	case Kind::RULER:
		w->ruler = true;
		w->ruler_line = line;
		w->ruler_count = L.count;
		w->ruler_word = L.word;
		w->ruler_token_len = show_bytes(t + L.fault_at, L.fault_len, w->ruler_token);
		w->last = Kind::RULER;
		w->last_labelled = false;
		return true;
	default:
		break;
	}
	if (L.labelled && !check_label(w, L, line))
		return false;
	if (L.gap_at != 0 && w->column_place != NO_PLACE) {
		// A line of values with no column after lines with one, values
		// after a gap where its column would stand: a value lost or put in
		// beside a column that reads as values.
		fault_at(w, Fault::UNSURE, line);
		w->found.token_len = show_bytes(t + L.fault_at, L.fault_len, w->found.token);
		return false;
	}
	if (L.kind == Kind::VALUES && !L.questioned && L.place != NO_PLACE) {
		w->places_differ |= w->column_place != NO_PLACE && L.place != w->column_place;
		w->column_place = w->column_place == NO_PLACE ? L.place : w->column_place;
	}
	if (L.questioned && !(w->width != 0 && L.count + L.extra > w->width)) {
		// Taken as a column until the next label, or the end, tells.
		Question q{line, L.count, L.extra, L.place, {}, 0};
		q.text_len = show_bytes(t + L.fault_at, L.fault_len, q.text);
		if (w->labelled) {
			if (w->asked.line != 0) {
				w->asked.line = 0;
				return question_fails(w, q);	// one label cannot tell two
			}
			w->asked = q;
		} else {
			if (w->awaiting_count == QUESTIONS_MOST)
				return question_fails(w, q);
			w->awaiting[w->awaiting_count++] = q;
		}
		w->unsettled = line;
	}
	w->order_shown |= L.order_shown;
	if (L.order_unsure && w->unsure_line == 0) {
		w->unsure_line = line;
		w->unsure_len = show_bytes(t + L.fault_at, L.fault_len, w->unsure_group);
	}
	if (L.kind != Kind::LABEL)
		add_bytes(w, bytes, L.count, line);
	w->last = L.kind;
	w->last_labelled = L.labelled;
	return true;
}

}  // namespace

namespace {

// A dump being read: the first reading's walk, then the second's place.
struct Dump {
	Text text;
	LineWalk walk;
	unsigned char bytes[DUMP_LINE_MOST / 2 + 2];	// of the line read last
	Shape shape;		// of the lines of values read last
	// The second reading: the line read last, the bytes of it and of a
	// `*` still to hand out, and what the next line's reading depends on.
	std::uint64_t line;
	int reading;		// the one kept
	Kind last;
	bool last_labelled;
	std::size_t at, count;
	std::uint64_t repeat_left;
	std::size_t repeat_at;
	unsigned char last_bytes[DUMP_LINE_MOST / 2 + 2];	// of the last line of values
	std::size_t last_count;
	std::uint64_t skip_left;
	Source first;		// the first reading's, to hold the second to
};

// Lines laid out alike, one after another, as a program prints a dump: each
// read and walked with a look at each place, until one is not, or where
// labels may be other than hexadecimal. True where the line that holds
// value `want` was reached.
bool alike_lines(Dump *d, std::uint64_t want)
{
	LineWalk *w = &d->walk;
	const Shape &shape = d->shape;
	const Line &read = shape.read;
	std::size_t count = read.count;
	if (read.labelled && (!w->labelled || !w->alive[HEX]))
		return false;
	// Of a file read again, only the last line's values are wanted, for a
	// `*` after it: read where it still stands, before more is read.
	const unsigned char *last = nullptr;
	auto keep_last = [&] {
		if (last != nullptr)
			for (std::size_t k = 0; k < count; k++)
				w->last_bytes[k] = static_cast<unsigned char>(pair_at(last + shape.value_at[k]));
		last = nullptr;
	};
	bool reached = false;
	// Where their values go in the image as the reading first alive has it:
	// where the second reading keeps another, they are read in full.
	int alive = first_alive(w);
	std::uint64_t first = w->line + 1, at = alive < 3 ? w->total[alive] : 0;
	// The second reading takes them as ending as the first does.
	std::size_t ends = 0, width = alike_at(&d->text, &shape);
	if (width > 0)
		ends = width - shape.len == 2 ? 2 : d->text.data[d->text.pos + shape.len] == '\n' ? 1 : 0;
	// Readings other than the hexadecimal are left only before a label.
	int readings = w->alive[OCTAL] || w->alive[DECIMAL] ? 3 : 1;
	for (std::uint64_t number;;) {
		if (d->text.len - d->text.pos < shape.len + 2)
			keep_last();
		width = alike_at(&d->text, &shape);
		const unsigned char *t = d->text.data + d->text.pos;
		if (width == 0 || !check_alike(&shape, t, &number) ||
		    (read.labelled && step_of(number, w->number[HEX], 16, read.ndigits) != w->since[HEX]))
			break;
		d->text.pos += width;
		w->line++;
		if (read.labelled) {
			w->number[HEX] = number;
			w->since[HEX] = 0;
			w->label_line = w->line;
		}
		for (int r = 0; r < readings; r++) {
			w->since[r] += count;
			w->total[r] += count;
		}
		w->last_count = count;
		last = t;
		w->last = read.kind;
		w->last_labelled = read.labelled;
		if (least_total(w) >= want) {
			reached = true;
			break;
		}
	}
	keep_last();
	std::uint64_t taken = w->line + 1 - first;
	if (taken >= STRETCH_LEAST && ends > 0)
		note_stretch(&w->stretches, first, taken, at, plan_of(shape, ends));
	if (taken > 0) {
		// As many lines alike as they are: the first and the last tell
		// the width as all of them would.
		if (read.labelled)
			w->lone_label_line = 0;
		if (!saw_values(w, read.labelled, count) || (taken > 1 && !saw_values(w, read.labelled, count)))
			return false;
	}
	return reached;
}

// The first reading's fault, found where the only label so far or a `*`'s
// width waits for the lines after it: those lines are looked at, as far as
// they can tell, from `next`, the line read last where it was not walked,
// and the fault named is the first in line order. False.
bool fault_found(Dump *d, const Line *next = nullptr)
{
	LineWalk *w = &d->walk;
	if (w->lone_label_line == 0 && w->width_due_count == 0 && w->asked.line == 0 && w->awaiting_count == 0)
		return false;
	bool label = false;
	for (Line L; (!label && w->lone_label_line != 0) || (w->width == 0 && w->width_due_count != 0);) {
		const unsigned char *t;
		std::size_t n;
		if (next != nullptr) {
			L = *next;
			next = nullptr;
		} else if (next_line(&d->text, &t, &n) == LineGot::LINE) {
			parse_line(t, n, d->bytes, &L, nullptr);
		} else {
			break;
		}
		bool lone = L.kind == Kind::LONE;
		label |= lone ? L.ndigits <= 16 : L.labelled;
		if (L.kind == Kind::VALUES || L.kind == Kind::PLAIN || (lone && L.ndigits >= 17)) {
			bool labelled = L.labelled && !lone;
			w->width = w->width == 0 && w->values_labelled && labelled ? w->values_count : w->width;
			w->values_labelled = labelled && !L.questioned;
			w->values_count = lone ? L.ndigits / 2 : L.count;
		}
	}
	Found first = w->found;
	if (w->lone_label_line != 0 && !label && w->lone_label_line < first.line) {
		first = {Fault::TOKEN, w->lone_label_line, 0, 0, 0, 0, {}, 0};
		std::memcpy(first.token, w->lone_label, w->lone_label_len);
		first.token_len = w->lone_label_len;
	}
	for (std::size_t k = 0; k < w->width_due_count; k++) {
		const WidthDue &due = w->widths_due[k];
		if (!star_fits(w, due.count) && due.line < first.line)
			first = {Fault::STAR_WIDTH, due.line, 0, 0, due.count, w->width, {}, 0};
	}
	if (!questions_settled(w) && w->found.line < first.line)
		first = w->found;
	w->found = first;
	return false;
}

// The tokens of digits alone that wait, now that the next line of values
// is known to have a label or not (`ahead`): each taken as lone_kind says,
// in order. False at a fault.
bool settle_waiting(Dump *d, bool ahead)
{
	LineWalk *w = &d->walk;
	std::uint64_t line = w->line;
	std::size_t count = w->waiting_count;
	w->waiting_count = 0;
	for (std::size_t k = 0; k < count; k++) {
		const Waiting &waiting = w->waiting[k];
		Line L{};
		L.kind = Kind::LONE;
		L.digits = waiting.digits;
		L.ndigits = L.fault_len = L.text_len = waiting.ndigits;
		Around around{w->last, w->last_labelled, ahead}, behind{w->last, w->last_labelled, 0};
		unsigned char bytes[8];
		settle_lone(&L, &around, bytes);
		// The second reading knows the lines before a line, not after.
		if (L.kind == Kind::LABEL && lone_kind(L.ndigits, &behind) != Kind::LABEL)
			add_note(&w->notes, Note{waiting.line, {0, 0, 0}, true, false});
		w->line = waiting.line;
		bool sound = walk_line(w, L, waiting.digits, bytes);
		w->line = line;
		if (!sound)
			return false;
	}
	return true;
}

// A token of digits alone that the next line of values must settle. False
// where too many wait: the first may be a label or values.
bool wait_for(LineWalk *w, const Line &L)
{
	if (w->waiting_count == WAITING_MOST) {
		const Waiting &first = w->waiting[0];
		fault_at(w, Fault::MAYBE_LABEL, first.line);
		w->found.token_len = show_bytes(first.digits, first.ndigits, w->found.token);
		return false;
	}
	Waiting &waiting = w->waiting[w->waiting_count++];
	waiting.line = w->line;
	waiting.ndigits = L.ndigits;
	std::memcpy(waiting.digits, L.digits, L.ndigits);
	return true;
}

// Where no line's column showed the order of its groups' bytes, and one's
// could not tell it: false, with that line's fault.
bool order_known(LineWalk *w)
{
	if (w->order_shown || w->unsure_line == 0)
		return true;
	fault_at(w, Fault::ORDER, w->unsure_line);
	std::memcpy(w->found.token, w->unsure_group, w->unsure_len);
	w->found.token_len = w->unsure_len;
	return false;
}

// The reading has ended with its lines sound: what waited for its end is
// settled, the first fault in line order named. False at one.
bool reading_ends(LineWalk *w)
{
	Found first{};
	first.line = UINT64_MAX;
	auto earliest = [&] {
		if (w->found.line < first.line)
			first = w->found;
	};
	if (w->lone_label_line != 0) {
		// No other label bears it out: it is read as a token of values.
		fault_at(w, Fault::TOKEN, w->lone_label_line);
		std::memcpy(w->found.token, w->lone_label, w->lone_label_len);
		w->found.token_len = w->lone_label_len;
		earliest();
	}
	if (!widths_settled(w))
		earliest();
	if (!questions_settled(w))
		earliest();
	if (!order_known(w))
		earliest();
	w->found = first;
	return first.fault == Fault::NONE;
}

// Whether the reading goes on, now that the line that holds the last value
// wanted has been read: where the lines read have had a label, on to the
// next label, which checks the values before it.
bool reads_on(LineWalk *w)
{
	if (w->past || !w->labelled)
		return false;
	w->past = true;
	w->reached = w->line;
	return true;
}

// Reads the dump through, or as far as the line that holds value `want`,
// taking each line. False at its first fault, in d->walk.found.
bool read_through(Dump *d, std::uint64_t want)
{
	LineWalk *w = &d->walk;
	if (want == 0)
		return true;
	for (;;) {
		if (d->shape.len > 0 && !w->star && !w->ruler && w->waiting_count == 0 && w->asked.line == 0 && !w->past) {
			bool reached = alike_lines(d, want);
			if (w->found.fault != Fault::NONE)
				return fault_found(d);
			if (reached && !reads_on(w))
				return reading_ends(w);
		}
		const unsigned char *t = nullptr;
		Line L{};
		w->line++;
		// While tokens of digits alone wait, the next waits with them.
		Around around{w->last, w->last_labelled, -1};
		LineGot got = take_line(&d->text, &d->shape, w->waiting_count > 0 ? nullptr : &around, w->order_shown, d->bytes,
		                    &L, &t);
		if (got == LineGot::END)
			break;
		if (got == LineGot::LONG)
			L.kind = Kind::LONG;
		if (L.kind == Kind::LONE) {
			if (!wait_for(w, L))
				return fault_found(d);
			continue;
		}
		if (w->waiting_count > 0 && L.kind != Kind::BLANK && L.kind != Kind::TEXT &&
		    !settle_waiting(d, L.kind == Kind::VALUES && L.labelled)) {
			w->lone_label_line = L.labelled ? 0 : w->lone_label_line;
			return fault_found(d, &L);
		}
		if (!walk_line(w, L, t, d->bytes))
			return fault_found(d);
		if (w->notes.full) {
			fault_at(w, Fault::MEMORY, w->line);
			return false;
		}
		// With a length, no further than the line that holds the last
		// value in every reading left, or the label after it.
		if (!w->star && !w->ruler && w->waiting_count == 0 &&
		    (w->past ? w->label_line > w->reached : least_total(w) >= want) && !reads_on(w))
			return reading_ends(w);
	}
	if (w->waiting_count > 0 && !settle_waiting(d, false))
		return fault_found(d);
	if (w->ruler && !settle_ruler(w, false))
		return fault_found(d);
	if (w->star) {
		fault_at(w, Fault::STAR_NO_LABEL, w->star_line);
		return fault_found(d);
	}
	return reading_ends(w);
}


void say_fault(const Found &f, const char *name, std::FILE *out)
{
	auto at = [&](std::uint64_t line) {
		write_shown(name, out);
		std::fprintf(out, ":%llu: ", static_cast<unsigned long long>(line));
	};
	switch (f.fault) {
	case Fault::TOKEN:
		at(f.line);
		std::fputs("bad value ", out);
		std::fwrite(f.token, 1, f.token_len, out);
		std::fputc('\n', out);
		return;
	case Fault::UNSURE:
		at(f.line);
		std::fwrite(f.token, 1, f.token_len, out);
		std::fputs(" may be values or their characters\n", out);
		return;
	case Fault::MAYBE_LABEL:
		at(f.line);
		std::fwrite(f.token, 1, f.token_len, out);
		std::fputs(" may be a label or values\n", out);
		return;
	case Fault::ORDER:
		at(f.line);
		std::fwrite(f.token, 1, f.token_len, out);
		std::fputs(" may be bytes in either order\n", out);
		return;
	case Fault::LONG:
		at(f.line);
		std::fprintf(out, "line longer than %zu bytes\n", DUMP_LINE_MOST);
		return;
	case Fault::LABEL:
		write_shown(name, out);
		if (f.last > f.line)
			std::fprintf(out, ":%llu-%llu: ", static_cast<unsigned long long>(f.line),
			             static_cast<unsigned long long>(f.last));
		else
			std::fprintf(out, ":%llu: ", static_cast<unsigned long long>(f.line));
		std::fprintf(out, "%llu value%s, where the label on line %llu wants %llu\n",
		             static_cast<unsigned long long>(f.count), plural(f.count), static_cast<unsigned long long>(f.at),
		             static_cast<unsigned long long>(f.wants));
		return;
	case Fault::STAR_NO_VALUES:
		at(f.line);
		std::fputs("* with no line of values before it\n", out);
		return;
	case Fault::STAR_NO_LABEL:
		at(f.line);
		std::fputs("* needs a label before and after it\n", out);
		return;
	case Fault::STAR_REPEAT:
		at(f.line);
		std::fprintf(out, "* cannot repeat %llu value%s to reach the label on line %llu\n",
		             static_cast<unsigned long long>(f.count), plural(f.count), static_cast<unsigned long long>(f.at));
		return;
	case Fault::STAR_WIDTH:
		at(f.line);
		if (f.wants != 0)
			std::fprintf(out, "* repeats a line of %llu value%s, where the dump's lines hold %llu\n",
			             static_cast<unsigned long long>(f.count), plural(f.count),
			             static_cast<unsigned long long>(f.wants));
		else
			std::fprintf(out, "* repeats a line of %llu value%s, where the dump's lines hold 8, 16 or 32\n",
			             static_cast<unsigned long long>(f.count), plural(f.count));
		return;
	case Fault::STAR_READINGS:
		write_shown(name, out);
		std::fputs(": * repeats by labels that may be octal or decimal\n", out);
		return;
	case Fault::READ:
		std::fputs("cannot read ", out);
		write_shown(name, out);
		std::fputc('\n', out);
		return;
	case Fault::MEMORY:
		std::fputs("out of memory for ", out);
		write_shown(name, out);
		std::fputc('\n', out);
		return;
	case Fault::NONE:
		return;
	}
}

// Whether the readings kept give the same image: where more than one is
// kept (od's labels), each `*` repeats as often in all of them.
bool readings_agree(const LineWalk *w)
{
	for (std::size_t k = 0; k < w->notes.count; k++) {
		const Note &note = w->notes.notes[k];
		std::uint64_t times = 0;
		for (int r = 0; r < 3; r++) {
			if (!w->alive[r])
				continue;
			if (times != 0 && note.times[r] != times)
				return false;
			times = note.times[r];
		}
	}
	return true;
}

// The second reading's bytes of its next line that holds any, or of a `*`,
// having passed those that are skipped. False where the file no longer
// reads as it did.
bool next_bytes(Dump *d)
{
	Notes &notes = d->walk.notes;
	for (;;) {
		const unsigned char *t = nullptr;
		Line L{};
		d->line++;
		const Note *note = notes.next < notes.count && notes.notes[notes.next].line == d->line
		                           ? &notes.notes[notes.next] : nullptr;
		Around around{d->last, d->last_labelled, note != nullptr && note->ahead};
		if (take_line(&d->text, &d->shape, &around, true, d->bytes, &L, &t) != LineGot::LINE)
			return false;
		switch (L.kind) {
		case Kind::BLANK:
		case Kind::TEXT:
			continue;
		case Kind::FAULT:
		case Kind::LONG:
		case Kind::LONE:
		case Kind::MAYBE_LABEL:
			return false;
		case Kind::LABEL:
			d->last = Kind::LABEL;
			d->last_labelled = true;
			notes.next += note != nullptr && note->ahead;
			continue;
		case Kind::STAR:
			if (note == nullptr)
				return false;
			notes.next++;
			d->repeat_left = note->times[d->reading] * d->last_count;
			d->repeat_at = 0;
			d->at = d->count = 0;
			d->last = Kind::STAR;
			break;
		case Kind::RULER:
			d->last = Kind::RULER;
			d->last_labelled = false;
			if (note != nullptr) {
				notes.next++;
				continue;	// passed over
			}
			[[fallthrough]];
		default:
			// A line whose column may be values: as the first reading
			// found it, noted where it is values.
			if (L.questioned && note != nullptr && note->values) {
				notes.next++;
				L.count += L.extra;
			}
			d->at = 0;
			d->count = L.count;
			std::memcpy(d->last_bytes, d->bytes, L.count);
			d->last_count = L.count;
			if (L.kind != Kind::RULER) {
				d->last = L.kind;
				d->last_labelled = L.labelled;
			}
			break;
		}
		if (d->skip_left > 0) {
			std::size_t passed = static_cast<std::size_t>(std::min<std::uint64_t>(d->skip_left, d->count));
			d->at += passed;
			d->skip_left -= passed;
			std::uint64_t more = std::min(d->skip_left, d->repeat_left);
			d->repeat_left -= more;
			d->skip_left -= more;
			d->repeat_at = d->last_count > 0 ? static_cast<std::size_t>(more % d->last_count) : 0;
		}
		return true;
	}
}

// The second reading's lines that the first noted as a stretch, from the
// next on, their values straight into `to`, as many as fit in `room`: read
// where they stand, each held to its column or its digits. How many.
std::size_t replay_dump(Dump *d, Image *image, unsigned char *to, std::size_t room)
{
	if (d->skip_left > 0)
		return 0;
	const Stretch *stretch = stretch_at(&d->walk.stretches, d->line + 1, image->offset);
	if (stretch == nullptr)
		return 0;
	const Plan &plan = d->walk.stretches.plans[stretch->plan];
	Replay r{};
	r.to = to;
	r.room = room;
	r.line = d->line + 1;
	for (;;) {
		r.have = text_at_hand(&d->text, plan.len + 2u);
		r.text = d->text.data + d->text.pos;
		r.ended = d->text.file_ended;
		r.taken = 0;
		std::uint64_t lines = replay(&d->walk.stretches, *stretch, image, &r);
		d->text.pos += r.taken;
		if (lines == 0 || r.changed)
			break;
	}
	d->line = r.line - 1;
	image->failed |= r.changed;
	if (r.got > 0) {
		// The last line's values, for a `*` after it.
		std::memcpy(d->last_bytes, to + r.got - plan.count, plan.count);
		d->last_count = plan.count;
		d->last = static_cast<Kind>(plan.own & 0x7F);
		d->last_labelled = (plan.own & 0x80) != 0;
	}
	return r.got;
}

std::size_t read_dump(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep, bool *ended)
{
	Dump *d = static_cast<Dump *>(image->reader);
	std::size_t n = 0;

	keep_lines(image, keep);
	while (n < room && image->left > 0 && !image->failed) {
		if (d->at == d->count && d->repeat_left == 0) {
			std::size_t got = replay_dump(d, image, to + n, room - n);
			n += got;
			if (image->failed)
				break;
			if (got == 0 && !next_bytes(d))
				image->failed = true;	// the file changed since it was found sound
			continue;
		}
		if (!at_line(image, d->line))
			break;
		std::size_t most = static_cast<std::size_t>(std::min<std::uint64_t>(room - n, image->left)), piece;
		if (d->at < d->count) {
			piece = std::min(d->count - d->at, most);
			std::memcpy(to + n, d->bytes + d->at, piece);
			d->at += piece;
		} else {
			piece = static_cast<std::size_t>(std::min<std::uint64_t>({d->last_count - d->repeat_at, most, d->repeat_left}));
			std::memcpy(to + n, d->last_bytes + d->repeat_at, piece);
			d->repeat_at = (d->repeat_at + piece) % d->last_count;
			d->repeat_left -= piece;
		}
		n += piece;
		image->offset += piece;
		image->left -= piece;
	}
	*ended = image->left == 0 || image->failed;
	if (*ended)
		end_reading(image, &d->first, &d->text.source);
	return n;
}

}  // namespace

bool open_dump(Image *image, std::FILE *in, const char *name, std::uint64_t skip,
               std::uint64_t length, std::FILE *out)
{
	static Dump dump;
	make_pair_values();
	Dump *d = &dump;
	LineWalk *w = &d->walk;
	std::uint64_t at;
	std::FILE *copy;
	if (!keep_source(in, name, &copy, &at, out))
		return false;
	std::uint64_t want = length > UINT64_MAX - skip ? UINT64_MAX : skip + length;

	Notes notes = w->notes;		// their memory, kept from run to run
	std::memset(d, 0, sizeof *d);	// all of it touched, for any dump
	w->notes = {notes.notes, 0, notes.room, 0, false};
	w->alive[HEX] = w->alive[OCTAL] = w->alive[DECIMAL] = true;
	w->column_place = NO_PLACE;
	w->last = Kind::BLANK;
	open_text(&d->text, in, true, copy);

	bool sound = read_through(d, want);
	// A file found sound is read on to its end, so that all of it is held
	// to what the second reading reads; a pipe's copy needs no more.
	if (sound && copy == nullptr)
		read_source_through(&d->text.source);
	int r = first_alive(w);
	if (std::ferror(in))
		w->found.fault = Fault::READ;
	else if (sound && r < 3 && !readings_agree(w))
		w->found.fault = Fault::STAR_READINGS;
	if (w->found.fault != Fault::NONE) {
		say_fault(w->found, name, out);
		return false;
	}
	std::uint64_t total = w->total[r];
	if (total == 0 && w->text_line != 0) {
		char shown[4 * TOKEN_SHOWN + 4];
		std::size_t n = show_cut(w->text, w->text_kept, w->text_len, shown);
		write_shown(name, out);
		std::fprintf(out, ": no values, only text, from line %llu: ", static_cast<unsigned long long>(w->text_line));
		std::fwrite(shown, 1, n, out);
		std::fputc('\n', out);
		return false;
	}
	if (total < skip) {
		cannot_skip(skip, name, out);
		return false;
	}

	std::FILE *again = read_again(in, copy, at, name, out);
	if (again == nullptr)
		return false;
	*image = Image{};
	image->file = again;
	start_lines(image, skip);
	std::uint64_t left = std::min(total - skip, length);
	d->first = d->text.source;
	open_text(&d->text, again, true, nullptr);
	std::memset(&d->shape, 0, sizeof d->shape);
	d->reading = r;
	d->last = Kind::BLANK;
	d->skip_left = skip;
	image->read = read_dump;
	image->reader = d;
	image->left = left;
	return true;
}
