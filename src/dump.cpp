#include "dump.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "hexdigits.h"
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
// - RULER: values 00 01 02 ... in order, 8 or more, perhaps after one word,
//   and no label: a column ruler if the next line that is neither blank nor
//   text is one of values with a label, else a line of values (and its
//   word a fault);
// - FAULT: a token that makes the line unreadable for sure;
// - UNSURE: a character column parted by one blank that may be values;
// - LONG: longer than DUMP_LINE_MOST.
enum class Kind : unsigned char { BLANK, STAR, TEXT, LABEL, VALUES, PLAIN, RULER, FAULT, UNSURE, LONG };

struct Line {
	Kind kind;
	bool labelled;
	bool od;	// a label of seven digits and no mark: od's octal or decimal offsets, maybe
	const unsigned char *digits;	// the label's number
	std::size_t ndigits;
	std::size_t count;	// the bytes of VALUES, PLAIN and RULER
	bool word;		// of a RULER
	std::size_t fault_at, fault_len;	// FAULT's token, or a RULER's word
	std::size_t text_at, text_len;	// the line without the blanks at its ends
};

struct Span {
	std::size_t at, end;
};

inline bool is_hex(unsigned char c)
{
	return hex_table.value[c] >= 0;
}

// The tokens of the n bytes at t, split at blanks, into `spans`; how many.
std::size_t tokens_of(const unsigned char *t, std::size_t n, Span *spans)
{
	std::size_t m = 0, i = 0;
	while (i < n) {
		std::size_t w = blank_width(t + i, n - i);
		if (w > 0) {
			i += w;
			continue;
		}
		std::size_t at = i;
		do
			i += t[i] < 0x80 ? 1 : std::max<std::size_t>(char_width(t + i, n - i), 1);
		while (i < n && blank_width(t + i, n - i) == 0);
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

inline unsigned byte_at(const unsigned char *p)
{
	return static_cast<unsigned>(hex_table.nibble[p[0]] << 4 | hex_table.nibble[p[1]]);
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
	bool found, marked, od;
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
		return {true, true, false, p + j + 1, 4, n};
	// An optional '$' and digits: 1 to 8 before ':' or '-', the body
	// going on with no blank after them; or 3 to 16 that are the whole
	// token, more following on the line.
	std::size_t k = i + (i < n && p[i] == '$');
	for (j = k; j < n && j - k < 17 && is_hex(p[j]);)
		j++;
	std::size_t d = j - k;
	if (d >= 1 && d <= 8 && j < n && (p[j] == ':' || p[j] == '-'))
		return {true, true, false, p + k, d, j + 1};
	if (more && j == n && d >= 3 && d <= 16)
		l = {true, colon, i == 0 && k == 0 && d == 7, p + k, d, n};
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
};

// Whether the text from `from`, where a token of values ends, is a
// character column that shows the nv values at v. A column parted by one
// blank that reads as values itself is no sure column: a typed line
// `C000: 31 32 12` may be three values or two and their characters, and
// nothing on the line tells which.
enum class Seen { NONE, COLUMN, UNSURE };

Seen column_at(Column *c, std::size_t from, const unsigned char *v, std::size_t nv)
{
	const unsigned char *t = c->t;
	std::size_t i = from, gap = 0, spaces = 0;
	for (std::size_t w; i < c->end && (w = blank_width(t + i, c->end - i)) > 0; i += w) {
		gap++;
		spaces = t[i] == ' ' ? spaces + 1 : 0;
	}
	// Nothing follows: a column of blanks only, cut at the line's end.
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
	if (chars == nv + 2 && ((r[0] == '|' && r[n - 1] == '|') || (r[0] == '>' && r[n - 1] == '<')) &&
	    shows(v, nv, r + 1, n - 2, false))
		return Seen::COLUMN;
	// Undelimited: values of 20 at its start stand in the gap, after the
	// first blank that parts it; those at its end may be cut.
	std::size_t lead = std::min(c->lead, nv);
	if (lead > spaces || lead + 1 > gap || chars > nv - lead || chars + c->trail < nv - lead ||
	    !shows(v + lead, nv - lead, r, n, true))
		return Seen::NONE;
	if (gap > 1)
		return Seen::COLUMN;
	for (std::size_t k = 0; k < n;) {
		std::size_t end = k;
		while (end < n && r[end] != ' ')
			end++;
		TokenKind kind = token_kind(r + k, end - k);
		if (kind != VALUE && kind != PAIR)
			return Seen::COLUMN;
		k = end + 1;
	}
	return Seen::UNSURE;
}

// Reads the line of the n bytes at t, line end left out, into *out and its
// bytes into `bytes`, which has room for n / 2 + 2. `after_labelled`: the
// last line before it that is neither blank nor text is one of values with
// a label, or a `*`, after which a short token of digits alone is a
// closing offset, not plain hex.
void parse_line(const unsigned char *t, std::size_t n, bool after_labelled, unsigned char *bytes, Line *out)
{
	static Span spans[DUMP_LINE_MOST / 2 + 2];
	static TokenKind kinds[DUMP_LINE_MOST / 2 + 2];
	static std::size_t chars[DUMP_LINE_MOST + 1];
	Line &L = *out;
	L = Line{};
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
		// Digits alone: xxd -p's bytes, or a closing offset.
		if (d == n0 && d % 2 == 0 && (d >= 10 || (d >= 4 && d <= 8 && !after_labelled))) {
			L.kind = Kind::PLAIN;
			L.count = token_bytes(t0, n0, GROUP, bytes);
			return;
		}
		if (d == n0 && d >= 3 && d <= 8) {
			L.kind = Kind::LABEL;
			L.labelled = true;
			L.od = d == 7;
			L.digits = t0;
			L.ndigits = d;
			return;
		}
	}
	// The body: the tokens after the label, its rest within the first one.
	Span *body = spans;
	std::size_t mb = m;
	if (label.found) {
		L.labelled = true;
		L.od = label.od;
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
	Column column{t, spans[m - 1].end, chars, false, 0, 0};
	std::size_t nv = 0;
	for (std::size_t k = 0; k < mb && (kinds[k] == VALUE || kinds[k] == PAIR || kinds[k] == GROUP); k++) {
		std::size_t got = token_bytes(t + body[k].at, body[k].end - body[k].at, kinds[k], bytes + nv);
		for (std::size_t b = nv; b < nv + got; b++) {
			column.lead += column.lead == b && bytes[b] == 0x20;
			column.trail = bytes[b] == 0x20 ? column.trail + 1 : 0;
		}
		nv += got;
		Seen found = column_at(&column, body[k].end, bytes, nv);
		if (found == Seen::COLUMN) {
			L.kind = Kind::VALUES;
			L.count = nv;
			return;
		}
		if (found == Seen::UNSURE) {
			L.kind = Kind::UNSURE;
			L.fault_at = body[k + 1].at;
			L.fault_len = column.end - L.fault_at;
			return;
		}
	}

	// No column: values alone, or a fault, or text.
	bool values = false, digits_alone = mb > 0;
	std::size_t digits = 0;
	for (std::size_t k = 0; k < mb; k++) {
		values |= kinds[k] == VALUE || kinds[k] == PAIR;
		digits_alone &= kinds[k] == GROUP || kinds[k] == DIGITS;
		digits += body[k].end - body[k].at;
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
			return;
		}
	} else if (digits_alone && digits >= 8) {
		fault = 0;	// it could hold bytes in an order nobody can tell
	} else if (label.found && label.marked && mb > 0) {
		fault = 0;	// a marked label before text: `C020: start of table`
	} else if (label.found && mb == 0) {
		L.kind = Kind::LABEL;
		return;
	} else {
		for (fault = 0; fault < mb && kinds[fault] != GARBAGE;)
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

// The next line of `text`, its line end left out: LF, CR LF or a CR alone.
enum class Got { LINE, LONG, END };

Got next_line(Text *text, const unsigned char **line, std::size_t *n)
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
			return Got::LONG;
		if (ended || (at == have && text->file_ended)) {
			if (at == 0 && have == 0)
				return Got::END;
			*line = p;
			*n = at;
			text->pos += at + (at < have) + (at + 1 < have && p[at] == '\r' && p[at + 1] == '\n');
			return Got::LINE;
		}
		have = text_at_hand(text, have + 1);
	}
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
	NONE, TOKEN, UNSURE, LONG, LABEL, STAR_NO_VALUES, STAR_NO_LABEL, STAR_REPEAT, STAR_READINGS, READ, MEMORY
};

struct Found {
	Fault fault;
	std::uint64_t line;	// of the fault; of a label's, A, the label's before
	std::uint64_t last, at;	// of a label's, B and C; of a `*`'s, C
	std::uint64_t count, wants;	// of a label's, N and M; of a `*`'s, N
	char token[4 * TOKEN_SHOWN + 4];
	std::size_t token_len;
};

// What the second reading needs of the first: where a ruler was passed
// over (times 0) and how often a `*` repeats its line, in each reading.
struct Note {
	std::uint64_t line;
	std::uint64_t times[3];
	std::size_t segment;	// of a dump kept: the `*`'s segment
};

struct Notes {
	Note *notes;
	std::size_t count, room, next;
	bool full;
};

void add_note(Notes *notes, const Note &note)
{
	if (notes->count == notes->room) {
		std::size_t room = std::max<std::size_t>(64, 2 * notes->room);
		void *p = room < SIZE_MAX / sizeof(Note) ? std::realloc(notes->notes, room * sizeof(Note)) : nullptr;
		if (p == nullptr) {
			notes->full = true;
			return;
		}
		notes->notes = static_cast<Note *>(p);
		notes->room = room;
	}
	notes->notes[notes->count++] = note;
}

// The first reading: every line found sound, in order, its labels checked.
struct Walk {
	std::uint64_t line;
	Found found;
	Found hex_fault;	// the hexadecimal reading's, reported where no reading is left
	// The labels' readings: hexadecimal, and where the first label is
	// seven digits with no mark, octal and decimal too.
	bool labelled;		// a label has been seen
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
	// The first line of text, for a dump that holds no values.
	std::uint64_t text_line;
	unsigned char text[TOKEN_SHOWN + 4];
	std::size_t text_kept, text_len;
	Notes notes;
	Stored *kept;		// for a file that cannot be read twice
};

std::size_t show_bytes(const unsigned char *t, std::size_t n, char *to)
{
	return show_cut(t, std::min<std::size_t>(n, TOKEN_SHOWN + 4), n, to);
}

void fault_at(Walk *w, Fault fault, std::uint64_t line)
{
	w->found.fault = fault;
	w->found.line = line;
}

// Values of the image, standing on `line`.
void add_bytes(Walk *w, const unsigned char *bytes, std::size_t n, std::uint64_t line)
{
	if (w->kept != nullptr)
		store(w->kept, w->total[0], bytes, n, line);
	for (int r = 0; r < 3; r++) {
		w->since[r] += n;
		w->total[r] += n;
	}
	std::memcpy(w->last_bytes, bytes, n);
	w->last_count = n;
}

// The first reading that is alive, or 3.
int first_alive(const Walk *w)
{
	int r = 0;
	while (r < 3 && !w->alive[r])
		r++;
	return r;
}

// A label on `line`, of the n digits at p: held against the values since
// the last. False where no reading is left.
bool check_label(Walk *w, const unsigned char *p, std::size_t n, bool od, std::uint64_t line)
{
	std::uint64_t number[3];
	bool valid[3];
	for (int r = 0; r < 3; r++)
		valid[r] = number_in(p, n, BASES[r], &number[r]);
	if (!w->labelled) {
		w->labelled = true;
		w->alive[OCTAL] = od && valid[OCTAL];
		w->alive[DECIMAL] = od && valid[DECIMAL];
	}
	for (int r = 0; r < 3; r++) {
		if (!w->alive[r])
			continue;
		std::uint64_t step = valid[r] ? step_of(number[r], w->number[r], BASES[r], n) : 0;
		if (w->label_line != 0 && (!valid[r] || step != w->since[r])) {
			w->alive[r] = false;
			if (r == HEX)
				w->hex_fault = {Fault::LABEL, w->label_line, line - 1, line, w->since[r], step, {}, 0};
		}
		w->number[r] = number[r];
		w->since[r] = 0;
	}
	w->label_line = line;
	if (first_alive(w) < 3)
		return true;
	w->found = w->hex_fault;
	return false;
}

// The `*` waiting, repeated to reach the label of `n` digits at p on
// `line`. False where no reading is left.
bool repeat_star(Walk *w, const unsigned char *p, std::size_t n, std::uint64_t line)
{
	Note note{w->star_line, {0, 0, 0}, 0};
	std::size_t each = w->last_count;
	for (int r = 0; r < 3; r++) {
		std::uint64_t number;
		if (!w->alive[r])
			continue;
		std::uint64_t step = number_in(p, n, BASES[r], &number) ? step_of(number, w->number[r], BASES[r], n) : 0;
		std::uint64_t more = step - w->since[r];
		if (step <= w->since[r] || more % each != 0 || w->total[r] > UINT64_MAX - more) {
			w->alive[r] = false;
			if (r == HEX)
				w->hex_fault = {Fault::STAR_REPEAT, w->star_line, 0, line, each, 0, {}, 0};
			continue;
		}
		note.times[r] = more / each;
		w->since[r] += more;
		w->total[r] += more;
	}
	w->star = false;
	int r = first_alive(w);
	if (r == 3) {
		w->found = w->hex_fault;
		return false;
	}
	if (w->kept != nullptr) {
		// Kept where the hexadecimal reading has it; the kept reading's
		// place is settled at the end.
		note.segment = w->kept->count;
		store_repeat(w->kept, w->total[HEX] - note.times[HEX] * each, w->last_bytes, each, note.times[r],
		             w->star_line);
	}
	add_note(&w->notes, note);
	return true;
}

// The ruler waiting, now that the next line that is neither blank nor text
// is known: passed over, or a line of values. False at the fault of its
// word.
bool settle_ruler(Walk *w, bool labelled_values)
{
	w->ruler = false;
	if (labelled_values) {
		add_note(&w->notes, Note{w->ruler_line, {0, 0, 0}, 0});
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
	return true;
}

// Takes the line L, of the n bytes at t, read into `bytes`. False at a
// fault, in w->found.
bool walk_line(Walk *w, const Line &L, const unsigned char *t, const unsigned char *bytes)
{
	std::uint64_t line = w->line;
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
	case Kind::UNSURE:
		fault_at(w, L.kind == Kind::FAULT ? Fault::TOKEN : Fault::UNSURE, line);
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
		return true;
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
	if (L.labelled && !check_label(w, L.digits, L.ndigits, L.od, line))
		return false;
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
	Walk walk;
	unsigned char bytes[DUMP_LINE_MOST / 2 + 2];	// of the line read last
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
};

// Reads the dump through, or as far as the line that holds value `want`,
// taking each line. False at its first fault, in d->walk.found.
bool read_through(Dump *d, std::uint64_t want)
{
	Walk *w = &d->walk;
	if (want == 0)
		return true;
	for (;;) {
		const unsigned char *t = nullptr;
		std::size_t n = 0;
		Line L{};
		w->line++;
		Got got = next_line(&d->text, &t, &n);
		if (got == Got::END)
			break;
		if (got == Got::LONG)
			L.kind = Kind::LONG;
		else
			parse_line(t, n, w->last == Kind::STAR || (w->last == Kind::VALUES && w->last_labelled), d->bytes, &L);
		if (!walk_line(w, L, t, d->bytes))
			return false;
		if (w->notes.full || (w->kept != nullptr && w->kept->full)) {
			fault_at(w, Fault::MEMORY, w->line);
			return false;
		}
		// With a length, no further than the line that holds the last
		// value, in every reading left.
		std::uint64_t least = UINT64_MAX;
		for (int r = 0; r < 3; r++)
			least = w->alive[r] ? std::min(least, w->total[r]) : least;
		if (!w->star && !w->ruler && least >= want)
			return true;
	}
	if (w->ruler && !settle_ruler(w, false))
		return false;
	if (w->star) {
		fault_at(w, Fault::STAR_NO_LABEL, w->star_line);
		return false;
	}
	return true;
}

const char *plural(std::uint64_t n)
{
	return n == 1 ? "" : "s";
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
	case Fault::STAR_READINGS:
		write_shown(name, out);
		std::fputs(": * repeats by labels that may be octal, decimal or hexadecimal\n", out);
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
bool readings_agree(const Walk *w)
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

// The kept bytes, their `*`s repeated as the kept reading has them, each
// segment after the last.
void settle_kept(Stored *kept, const Notes &notes, int reading)
{
	for (std::size_t k = 0; k < notes.count; k++) {
		const Note &note = notes.notes[k];
		if (note.times[reading] == 0)
			continue;	// a ruler passed over
		Segment &s = kept->segments[note.segment];
		s.length = s.per_line = note.times[reading] * s.period;
	}
	std::uint64_t offset = 0;
	for (std::size_t k = 0; k < kept->count; k++) {
		kept->segments[k].offset = offset;
		offset += kept->segments[k].length;
	}
}

// The second reading's bytes of its next line that holds any, or of a `*`,
// having passed those that are skipped. False where the file no longer
// reads as it did.
bool next_bytes(Dump *d)
{
	Notes &notes = d->walk.notes;
	for (;;) {
		const unsigned char *t = nullptr;
		std::size_t n = 0;
		Line L{};
		d->line++;
		if (next_line(&d->text, &t, &n) != Got::LINE)
			return false;
		parse_line(t, n, d->last == Kind::STAR || (d->last == Kind::VALUES && d->last_labelled), d->bytes, &L);
		const Note *note = notes.next < notes.count && notes.notes[notes.next].line == d->line
		                           ? &notes.notes[notes.next] : nullptr;
		switch (L.kind) {
		case Kind::BLANK:
		case Kind::TEXT:
			continue;
		case Kind::FAULT:
		case Kind::UNSURE:
		case Kind::LONG:
			return false;
		case Kind::LABEL:
			d->last = Kind::LABEL;
			d->last_labelled = true;
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

std::size_t read_dump(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep, bool *ended)
{
	Dump *d = static_cast<Dump *>(image->reader);
	std::size_t n = 0;

	keep_lines(image, keep);
	while (n < room && image->left > 0 && !image->failed) {
		if (d->at == d->count && d->repeat_left == 0) {
			if (!next_bytes(d))
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
	return n;
}

}  // namespace

bool open_dump(Image *image, std::FILE *in, const char *name, std::uint64_t skip,
               std::uint64_t length, std::FILE *out)
{
	static Dump dump;
	static Stored kept;
	Dump *d = &dump;
	Walk *w = &d->walk;
	std::uint64_t size, at = 0;
	bool twice = regular_size(in, &size) && tell_file(in, &at);
	std::uint64_t want = length > UINT64_MAX - skip ? UINT64_MAX : skip + length;

	Notes notes = w->notes;		// its memory, kept from run to run
	std::memset(d, 0, sizeof *d);	// all of it touched, for any dump
	w->notes = {notes.notes, 0, notes.room, 0, false};
	w->alive[HEX] = w->alive[OCTAL] = w->alive[DECIMAL] = true;
	w->last = Kind::BLANK;
	clear_stored(&kept);
	w->kept = twice ? nullptr : &kept;
	open_text(&d->text, in);

	bool sound = read_through(d, want);
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

	*image = Image{};
	image->file = in;
	start_lines(image, skip);
	std::uint64_t left = std::min(total - skip, length);
	if (!twice) {
		settle_kept(&kept, w->notes, r);
		open_stored(image, &kept, left, 0);
		image->left = left;
		return true;
	}
	if (!seek_file(in, at)) {
		say_fault(Found{Fault::READ, 0, 0, 0, 0, 0, {}, 0}, name, out);
		return false;
	}
	open_text(&d->text, in);
	d->reading = r;
	d->last = Kind::BLANK;
	d->skip_left = skip;
	image->read = read_dump;
	image->reader = d;
	image->left = left;
	return true;
}
