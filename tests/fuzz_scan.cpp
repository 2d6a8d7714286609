// The scanner on any image at any row address, against what must hold of its
// output: the plain per-row checksums laid out one line per block touched,
// each value making its row and address bytes add up to 0 modulo 256. Then
// the check of that image against its own output with an edit made to it,
// and of the image with bytes left out or put in against its own output as
// it was, against the comparison done plainly with everything in hand.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "dump.h"
#include "fit.h"
#include "listing.h"
#include "records.h"
#include "scan.h"

// The output at its plainest: a line for each block the image touches, and
// in it one row_checksum and one printf for each row of the block, at a
// multiple of 8, whose eight bytes are all the image's.
static std::string plain_scan(const std::uint8_t *image, std::size_t size, std::uint32_t start)
{
	std::string text;
	std::size_t blocks = size == 0 ? 0 : (start % BLOCK_SIZE + size + BLOCK_SIZE - 1) / BLOCK_SIZE;
	for (std::size_t b = 0; b < blocks; b++) {
		std::uint32_t base = start - start % BLOCK_SIZE + static_cast<std::uint32_t>(b * BLOCK_SIZE);
		for (std::uint32_t row = base, k = 0; k < ROWS_PER_BLOCK; k++, row += ROW_SIZE) {
			std::uint64_t at = row - start + (b > 0 || row >= start ? 0 : std::uint64_t{1} << 32);
			if (at + ROW_SIZE > size)
				continue;
			char value[4];
			std::snprintf(value, sizeof value, "%02X ", row_checksum(row, image + at));
			text += value;
		}
		text += '\n';
	}
	return text;
}

static std::string format(const char *form, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char *form, ...)
{
	char text[200];
	va_list args;
	va_start(args, form);
	std::vsnprintf(text, sizeof text, form, args);
	va_end(args);
	return text;
}

// A listing's value, 0x100 for a typo, shown as `typo`.
struct Value {
	unsigned value;
	std::size_t line;
	std::string typo;
};

// The code point of the well-formed UTF-8 character at text[at], and its
// width; width 0 where none begins.
static std::uint32_t plain_char(const std::string &text, std::size_t at, std::size_t *width)
{
	unsigned c = static_cast<unsigned char>(text[at]);
	std::size_t w = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
	std::uint32_t cp = w == 1 ? c : c & (0xFFu >> (w + 1));
	*width = 0;
	if (w == 0 || at + w > text.size())
		return 0;
	for (std::size_t k = 1; k < w; k++) {
		unsigned b = static_cast<unsigned char>(text[at + k]);
		if ((b & 0xC0) != 0x80)
			return 0;
		cp = cp << 6 | (b & 0x3F);
	}
	static const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
	if (cp < least[w] || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF)
		return 0;
	*width = w;
	return cp;
}

// A token as a message shows it: 64 bytes at most, cut between characters,
// then "..."; control bytes and bytes of no character as \xHH.
static std::string plain_shown(const std::string &token)
{
	std::string shown;
	std::size_t at = 0;
	while (at < token.size()) {
		std::size_t width;
		std::uint32_t cp = plain_char(token, at, &width);
		std::size_t w = std::max<std::size_t>(width, 1);
		if (at + w > TOKEN_SHOWN)
			break;
		bool escape = width == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0);
		for (std::size_t b = at; b < at + w; b++)
			shown += escape ? format("\\x%02X", static_cast<unsigned char>(token[b])) : token.substr(b, 1);
		at += w;
	}
	return shown + (at < token.size() ? "..." : "");
}

// Whether the token is all characters a terminal shows.
static bool plain_printable(const std::string &token)
{
	for (std::size_t at = 0, width; at < token.size(); at += width) {
		std::uint32_t cp = plain_char(token, at, &width);
		if (width == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0))
			return false;
	}
	return true;
}

static bool plain_hex(const std::string &t, std::size_t from, std::size_t to)
{
	return from <= to && to <= t.size() &&
	       t.substr(from, to - from).find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// The listing's values with their lines, up to its first bad token, which
// goes to *bad as a message shows it, on line *bad_line. A line is a line
// of values where, of its first 16 tokens after its label, more are values
// than text, its text tokens typos; any other line is passed over. Where
// there is no line of values but some text, the first line of text, as a
// message shows it, goes to *text_only.
static std::vector<Value> plain_values(std::string text, std::string *bad, std::size_t *bad_line,
                                       std::string *text_only = nullptr)
{
	if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
		text.erase(0, 3);
	std::vector<Value> values;
	std::string first_text;
	bool any_values_line = false;
	std::size_t line = 1;
	for (std::size_t at = 0; at <= text.size(); line++) {
		std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
		std::string whole = text.substr(at, end - at);
		at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
		// The line's tokens, split at blanks of ASCII and of Unicode.
		std::vector<std::string> tokens;
		std::string token;
		std::size_t first_at = std::string::npos, last_end = 0;
		for (std::size_t k = 0; k <= whole.size();) {
			std::size_t width = 1;
			std::uint32_t cp = k < whole.size() ? plain_char(whole, k, &width) : 0;
			bool blank = k == whole.size() || (width == 0 && whole[k] == '\xA0') ||
			             (whole[k] != '\0' && std::strchr(" \t\v\f", whole[k]) != nullptr) || cp == 0xA0 ||
			             cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F ||
			             cp == 0x3000 || cp == 0xFEFF;
			std::size_t w = std::max<std::size_t>(width, 1);
			if (!blank) {
				first_at = std::min(first_at, k);
				token += whole.substr(k, w);
				last_end = k + w;
			} else if (!token.empty()) {
				tokens.push_back(token);
				token.clear();
			}
			k += w;
		}
		if (tokens.empty())
			continue;
		// A label: '$', digits and ':' or '-', what follows the next token;
		// or '$' and 3 to 8 digits with more tokens after them.
		std::string &t0 = tokens[0];
		std::size_t d = t0.size() > 0 && t0[0] == '$';
		std::size_t digits = t0.find_first_not_of("0123456789abcdefABCDEF", d);
		if (digits != std::string::npos && digits > d && digits - d <= 8 && (t0[digits] == ':' || t0[digits] == '-')) {
			if (digits + 1 == t0.size())
				tokens.erase(tokens.begin());
			else
				t0.erase(0, digits + 1);
		} else if (digits == std::string::npos && t0.size() - d >= 3 && t0.size() - d <= 8 && tokens.size() > 1) {
			tokens.erase(tokens.begin());
		}
		if (tokens.empty())
			continue;	// a label alone
		// Its kind, from its first 16 tokens; garbage that goes on past
		// what a message shows ends the count.
		std::size_t v = 0, other = 0;
		for (std::size_t k = 0; k < tokens.size() && k < 16; k++) {
			bool value = tokens[k].size() == 2 && plain_hex(tokens[k], 0, 2);
			v += value;
			other += !value;
			if (!value && !plain_printable(tokens[k]) && tokens[k].size() > TOKEN_SHOWN)
				break;
		}
		bool of_values = v > other;
		any_values_line |= of_values;
		for (const std::string &t : tokens) {
			bool value = t.size() == 2 && plain_hex(t, 0, 2);
			if (!value && !plain_printable(t)) {
				*bad = plain_shown(t);
				*bad_line = line;
				return values;
			}
			if (of_values)
				values.push_back({value ? static_cast<unsigned>(std::stoul(t, nullptr, 16)) : 0x100u, line,
				                  value ? "" : plain_shown(t)});
		}
		if (!of_values && first_text.empty() && !any_values_line)
			first_text = format("%zu: ", line) + plain_shown(whole.substr(first_at, last_end - first_at));
		if (end == text.size())
			break;
	}
	if (text_only != nullptr && !any_values_line)
		*text_only = first_text;
	return values;
}

static std::string lines(std::size_t first, std::size_t last)
{
	return first == last ? format(" (line %zu)\n", first) : format(" (lines %zu-%zu)\n", first, last);
}

// Whether the image's rows from byte s on, at `address`, have the first
// FIT_ROWS listed values.
static bool plain_fits(const std::uint8_t *image, std::size_t size, std::size_t s,
                       std::uint32_t address, const std::vector<Value> &V)
{
	for (std::size_t k = 0; k < FIT_ROWS; k++)
		if (s + 8 * k + 8 > size ||
		    row_checksum(address + static_cast<std::uint32_t>(8 * k), image + s + 8 * k) != V[k].value)
			return false;
	return true;
}

// The fit line, found by trying every skip and address in turn.
static std::string plain_fit(const std::uint8_t *image, std::size_t size, std::uint32_t start,
                             const std::vector<Value> &V, std::uint32_t head)
{
	if (size < 8 * FIT_ROWS || plain_fits(image, size, 0, start, V))
		return "";	// no rows enough to fit, or they fit as they are
	for (std::size_t s = 1; s <= FIT_MOST_SKIPPED; s++)
		if (plain_fits(image, size, s, start, V))
			return format("listing fits with --skip=%zu\n", s);
	for (std::size_t s = 0; s <= FIT_MOST_SKIPPED && s + 8 * FIT_ROWS <= size; s++) {
		unsigned first = V[0].value;	// the first row's bytes and value, to try each x quickly
		for (std::size_t b = 0; b < 8; b++)
			first += image[s + b];
		for (std::uint32_t x = 0; x < 0x10000; x += 8)
			if ((first + (x & 0xFF) + (x >> 8)) % 256 == 0 && x != (start & 0xFFFF) &&
			    plain_fits(image, size, s, (start & ~0xFFFFu) | x, V))
				return format("listing fits start address %08X", ((start & ~0xFFFFu) | x) - head) +
				       (s > 0 ? format(" with --skip=%zu", s) : "") + "\n";
	}
	return "";
}

// The image's first line, as a record of Intel HEX (':') or an S-record
// ('S'), sound by its form and checksum: its bytes, or none.
static bool plain_record(const std::string &line, char lead, std::vector<unsigned> *b)
{
	std::size_t at = lead == ':' ? 1 : 2;
	if (line.size() < at || line[0] != lead || (lead == 'S' && (line.size() < 2 || line[1] < '0' || line[1] > '9')) ||
	    (line.size() - at) % 2 != 0 || line.find_first_not_of("0123456789abcdefABCDEF", at) != std::string::npos)
		return false;
	for (std::size_t k = at; k < line.size(); k += 2)
		b->push_back(static_cast<unsigned>(std::stoul(line.substr(k, 2), nullptr, 16)));
	unsigned sum = 0;
	for (unsigned x : *b)
		sum += x;
	return sum % 256 == (lead == ':' ? 0 : 0xFF);
}

// The line that names the format a binary image's first line is in.
static std::string plain_hint(const std::uint8_t *image, std::size_t size)
{
	std::string line(reinterpret_cast<const char *>(image), std::min<std::size_t>(size, 600));
	line = line.substr(0, line.find_first_of("\r\n"));
	if (line.compare(0, 3, "\xEF\xBB\xBF") == 0)
		line.erase(0, 3);
	line.erase(0, line.find_first_not_of(" \t") == std::string::npos ? line.size() : line.find_first_not_of(" \t"));
	line.erase(line.find_last_not_of(" \t") + 1);
	std::vector<unsigned> b;
	static const int ihex_length[6] = {-1, 0, 2, 4, 2, 4};
	if (plain_record(line, ':', &b) && b.size() >= 5 && b[0] == b.size() - 5 && b[3] <= 5 &&
	    (ihex_length[b[3]] < 0 || static_cast<int>(b[0]) == ihex_length[b[3]]))
		return "image looks like Intel HEX: try --format=ihex\n";
	static const unsigned srec_address[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
	b.clear();
	if (plain_record(line, 'S', &b)) {
		unsigned type = static_cast<unsigned>(line[1] - '0'), a = srec_address[type];
		bool count = type == 5 || type == 6, data = b.size() > a + 2;
		unsigned counted = 0;
		for (unsigned k = 1; k <= a && k < b.size(); k++)
			counted = counted << 8 | b[k];
		if (a > 0 && b.size() >= a + 2 && b[0] == b.size() - 1 && !(type >= 5 && data) && !(count && counted != 0))
			return "image looks like S-records: try --format=srec\n";
	}
	// After at most one label of the forms a listing takes, values only.
	std::vector<std::string> tokens;
	for (std::size_t at = 0; at < line.size();) {
		std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
		tokens.push_back(line.substr(at, end - at));
		at = std::min(line.find_first_not_of(" \t", end), line.size());
	}
	if (!tokens.empty()) {
		std::string &t0 = tokens[0];
		std::size_t d = t0[0] == '$', digits = t0.find_first_not_of("0123456789abcdefABCDEF", d);
		if (digits != std::string::npos && digits > d && digits - d <= 8 && (t0[digits] == ':' || t0[digits] == '-')) {
			t0.erase(0, digits + 1);
			if (t0.empty())
				tokens.erase(tokens.begin());
		} else if (digits == std::string::npos && t0.size() - d >= 3 && t0.size() - d <= 8 && tokens.size() > 1) {
			tokens.erase(tokens.begin());
		}
	}
	std::size_t values = 0;
	for (const std::string &t : tokens) {
		if (t.size() != 2 || !plain_hex(t, 0, 2))
			return "";
		values++;
	}
	return values >= 8 ? "image looks like a hex dump: try --format=dump\n" : "";
}

// The check at its plainest: the image and the listing's values in hand,
// walked in step as the rules say, each row read where the image is at.
static std::string plain_check(const std::uint8_t *image, std::size_t size, std::uint32_t start,
                               const std::string &listing, int *status)
{
	std::string bad, out, text_only;
	// The rows begin at the first multiple of 8 from the start.
	std::uint32_t head = (0u - start) % ROW_SIZE, A = start + head;
	std::size_t bad_line = 0, differ = 0, extra = 0, i = 0, j = 0, p = std::min<std::size_t>(head, size);
	std::vector<Value> V = plain_values(listing, &bad, &bad_line, &text_only);
	std::size_t P = V.size();
	auto rows = [&] { return (size - p) / ROW_SIZE; };	// left from p on
	auto R = [&](std::size_t k) {
		return row_checksum(A + static_cast<std::uint32_t>(8 * k), image + p + 8 * k);
	};
	auto fits = [&](std::size_t a, std::size_t b) {
		if (a > rows() || j + b > P)
			return false;
		std::size_t n = std::min({std::size_t{4}, rows() - a, P - j - b});
		for (std::size_t t = 0; t < n; t++)
			if (R(a + t) != V[j + b + t].value)
				return false;
		return n > 0 || (a == rows() && j + b == P);
	};
	// The image read on from byte q at address x: do its next four rows
	// have the four values from V[k] on?
	auto slip_fits = [&](std::size_t q, std::uint32_t x, std::size_t k) {
		if (q + 32 > size || k + 4 > P)
			return false;
		for (std::size_t t = 0; t < 4; t++)
			if (row_checksum(x + static_cast<std::uint32_t>(8 * t), image + q + 8 * t) != V[k + t].value)
				return false;
		return true;
	};
	while (rows() > 0 && j < P) {
		if (R(0) == V[j].value) {
			i++, j++, p += 8, A += 8;
			continue;
		}
		std::size_t a = 1, b = 1;
		bool found = fits(1, 1), slipped = false;
		for (std::size_t d = 1; d <= 64 && !found; d++) {
			if (fits(d, 0))
				a = d, b = 0, found = true;
			else if (fits(0, d))
				a = 0, b = d, found = true;
		}
		const std::uint8_t *x = image + p;
		for (std::size_t e = 1; e <= 16 && !found; e++) {
			for (int lacks = 1; lacks >= 0 && !found; lacks--) {
				std::size_t C = lacks ? (e + 7) / 8 : 1, B = lacks ? 8 * C - e : 8 + e;
				std::uint32_t next = A + static_cast<std::uint32_t>(8 * C);
				if (!slip_fits(p + B, next, j + C))
					continue;
				found = slipped = true;
				out += format("%08X: image %s %zu %sbyte%s", A, lacks ? "lacks" : "has", e,
				              lacks ? "" : "extra ", plural(e));
				out += lines(V[j].line, V[j + C - 1].line);
				out.pop_back();
				out += format(", offset %zX", p) + (B > 0 ? ", bytes" : "");
				for (std::size_t k = 0; k < B; k++)
					out += format(" %02X", x[k]);
				// The byte that, put in or taken out, makes the row's value
				// the listed one; none for a typo.
				for (unsigned byte = 0; byte < 256 && e == 1 && V[j].value < 0x100; byte++) {
					unsigned sum = (A & 0xFF) + (A >> 8 & 0xFF) + V[j].value;
					for (std::size_t k = 0; k < B; k++)
						sum += x[k];
					if ((lacks ? sum + byte : sum - byte) % 256 == 0)
						out += format(", the %s byte is %02X", lacks ? "missing" : "extra", byte);
				}
				out += "\n";
				differ += C;
				i += C, j += C, p += B, A = next;
			}
		}
		if (slipped)
			continue;
		if (a == 1 && b == 1)
			out += format("%08X: listing ", A) + (V[j].value < 0x100 ? format("%02X", V[j].value) : V[j].typo) +
			       format(" (line %zu), image %02X, offset %zX, bytes %02X %02X "
			              "%02X %02X %02X %02X %02X %02X\n", V[j].line, R(0),
			              p, x[0], x[1], x[2], x[3], x[4], x[5], x[6], x[7]);
		else if (b == 0)
			out += format("%08X: listing has no value for %zu row%s", A, a, plural(a)) +
			       lines(V[j].line, V[j].line);
		else
			out += format("%08X: listing has %zu extra value%s", A, b, plural(b)) +
			       lines(V[j].line, V[j + b - 1].line);
		differ += b == 0 || a == 1 ? a : 0;
		extra += a == 0 ? b : 0;
		i += a, j += b, p += 8 * a, A += static_cast<std::uint32_t>(8 * a);
	}
	// A listing that stops at a bad value has not ended: its rows are not
	// counted as missing, but the values before it that no row has are.
	std::size_t M = i + rows();
	if (bad.empty() && P == 0 && !text_only.empty()) {
		*status = 2;
		return "listing: no values, only text, from line " + text_only + "\n";
	}
	if (rows() > 0 && bad.empty()) {
		out += format("%08X: listing ends, image has %zu more row%s\n", A, rows(), plural(rows()));
		differ += rows();
	} else if (j < P) {
		out += format("%08X: image ends, listing has %zu more value%s", A, P - j, plural(P - j)) +
		       lines(V[j].line, V.back().line);
		extra += P - j;
	}
	if (!bad.empty()) {
		*status = 2;
		return out + format("listing:%zu: bad value ", bad_line) + bad + "\n";
	}
	*status = differ > 0 || extra > 0;
	std::size_t piece = (size - p) % ROW_SIZE, before = std::min<std::size_t>(head, size);
	std::string unchecked = before > 0 && piece > 0 ? format(", %zu byte%s before the first row and %zu after the last row unchecked", before, plural(before), piece)
	                        : before > 0 ? format(", %zu byte%s before the first row unchecked", before, plural(before))
	                        : piece > 0 ? format(", %zu byte%s after the last row unchecked", piece, plural(piece)) : "";
	if (*status == 0)
		return out + format("all %zu rows match", M) + unchecked + "\n";
	bool typo = false;
	for (std::size_t k = 0; k < FIT_ROWS && k < P; k++)
		typo |= V[k].value >= 0x100;
	// Both look at the image from its first whole row on.
	std::string fit = P >= FIT_ROWS && !typo ? plain_fit(image + before, size - before, start + head, V, head) : "";
	out += fit.empty() ? plain_hint(image + before, size - before) : fit;
	return out + format("%zu of %zu rows differ", differ, M) +
	       (extra > 0 ? format(", listing has %zu extra value%s", extra, plural(extra)) : "") + unchecked + "\n";
}

// A dump's rules at their plainest: the text split into lines and tokens,
// each line read by itself, then walked in order. Its image is runs of
// bytes, each standing on a line and repeated as often as each of the
// labels' readings (hexadecimal, octal, decimal) says; or its one message.
struct DumpRun {
	std::string bytes;
	std::size_t line;
	std::uint64_t times[3];
};

struct PlainDump {
	std::vector<DumpRun> runs;
	int reading = 0;
	std::string message;
};

// The width of the blank at text[k], or 0: ASCII blanks, the blanks of
// Unicode a listing takes, and A0 alone.
static std::size_t plain_blank(const std::string &text, std::size_t k)
{
	std::size_t width;
	std::uint32_t cp = plain_char(text, k, &width);
	if (width == 0)
		return static_cast<unsigned char>(text[k]) == 0xA0;
	bool blank = (cp == ' ' || cp == '\t' || cp == '\v' || cp == '\f') || cp == 0xA0 || cp == 0x1680 ||
	             (cp >= 0x2000 && cp <= 0x200B) || cp == 0x202F || cp == 0x205F || cp == 0x3000 || cp == 0xFEFF;
	return blank ? width : 0;
}

static bool all_hex(const std::string &t)
{
	return !t.empty() && plain_hex(t, 0, t.size());
}

enum PlainKind { P_VALUE, P_PAIR, P_GROUP, P_DIGITS, P_WORD, P_GARBAGE };

static PlainKind plain_kind(const std::string &t)
{
	if (all_hex(t))
		return t.size() == 2 ? P_VALUE : t.size() % 2 == 0 && t.size() >= 4 && t.size() <= 32 ? P_GROUP : P_DIGITS;
	if (t.size() == 5 && t[2] == '-' && plain_hex(t, 0, 2) && plain_hex(t, 3, 5))
		return P_PAIR;
	return plain_printable(t) ? P_WORD : P_GARBAGE;
}

static std::string plain_bytes(const std::string &t)
{
	std::string digits = t.size() == 5 && t[2] == '-' ? t.substr(0, 2) + t.substr(3) : t, bytes;
	for (std::size_t k = 0; k + 1 < digits.size(); k += 2)
		bytes += static_cast<char>(std::stoul(digits.substr(k, 2), nullptr, 16));
	return bytes;
}

// Whether `r` shows the values: 20 to 7E as themselves, others as '.', 80
// to FF as any character outside ASCII too; with `cut`, values of 20 may
// be missing at the end.
static bool plain_shows(const std::string &v, const std::string &r, bool cut)
{
	std::size_t i = 0, k = 0;
	for (; k < v.size() && i < r.size(); k++) {
		unsigned value = static_cast<unsigned char>(v[k]), c = static_cast<unsigned char>(r[i]);
		std::size_t width = 1;
		if (c >= 0x80) {
			plain_char(r, i, &width);
			if (value < 0x80)
				return false;
		} else if (value >= 0x20 && value <= 0x7E ? c != value : c != '.') {
			return false;
		}
		i += std::max<std::size_t>(width, 1);
	}
	if (i < r.size())
		return false;
	for (; k < v.size(); k++)
		if (!cut || v[k] != ' ')
			return false;
	return true;
}

struct PlainLine {
	char kind = 'B';	// Blank, Star, Text, Label, Values, Plain, digits aloNe, Maybe a label, Ruler, Fault
	bool labelled = false, od = false, bare = false, word = false, order_shown = false, order_unsure = false;
	std::string digits, bytes, token, text;
	// Of a line with a column: where it starts, in characters; whether it
	// may be values too, and their bytes.
	std::size_t place = SIZE_MAX;
	bool questioned = false, gapped = false;
	std::string extra;
};

// 8 characters or more, a decimal digit among them, no 0x first, all
// hexadecimal digits but one or two letters; or, 16 or more, all but one in
// eight of them: bytes typed or read wrong.
static bool plain_mistyped(const std::string &t)
{
	if (t.size() < 8 || t.compare(0, 2, "0x") == 0 || t.compare(0, 2, "0X") == 0 ||
	    t.find_first_of("0123456789") == std::string::npos)
		return false;
	std::size_t letters = 0, others = 0;
	for (std::size_t k = 0; k < t.size(); k++)
		if (!plain_hex(t, k, k + 1))
			((t[k] >= 'a' && t[k] <= 'z') || (t[k] >= 'A' && t[k] <= 'Z') ? letters : others)++;
	std::size_t wrong = letters + others;
	return wrong > 0 && ((others == 0 && letters <= 2) || (t.size() >= 16 && wrong <= t.size() / 8));
}

static PlainLine plain_dump_line(const std::string &line)
{
	PlainLine L;
	std::vector<std::size_t> at;
	std::vector<std::string> tokens;
	for (std::size_t k = 0; k < line.size();) {
		if (std::size_t w = plain_blank(line, k)) {
			k += w;
			continue;
		}
		std::size_t start = k;
		while (k < line.size() && plain_blank(line, k) == 0) {
			std::size_t w;
			plain_char(line, k, &w);
			k += std::max<std::size_t>(w, 1);
		}
		at.push_back(start);
		tokens.push_back(line.substr(start, k - start));
	}
	if (tokens.empty())
		return L;
	std::size_t end = at.back() + tokens.back().size();
	L.text = line.substr(at[0], end - at[0]);
	if (tokens.size() == 1 && tokens[0] == "*") {
		L.kind = 'S';
		return L;
	}
	// The label: one or two of > . : first; a bank and four digits; '$',
	// 1 to 8 digits and ':' or '-'; or '$' and 3 to 16 digits, more after.
	std::string &t0 = tokens[0];
	bool more = tokens.size() > 1, found = false, marked = false;
	std::size_t p = 0;
	while (p < 2 && p < t0.size() && std::strchr(">.:", t0[p]) != nullptr && t0[p] != '\0')
		p++;
	std::size_t colon = t0.find(':', p), d = p + (p < t0.size() && t0[p] == '$');
	std::size_t run = t0.find_first_not_of("0123456789abcdefABCDEF", d);
	run = (run == std::string::npos ? t0.size() : run) - d;
	std::string rest;
	if (more && colon != std::string::npos && colon > p && colon - p <= 4 && all_hex(t0.substr(p, colon - p)) &&
	    t0.size() == colon + 5 && all_hex(t0.substr(colon + 1))) {
		found = marked = true;
		L.digits = t0.substr(colon + 1);
	} else if (run >= 1 && run <= 16 && d + run < t0.size() && (t0[d + run] == ':' || t0[d + run] == '-')) {
		found = marked = true;
		L.digits = t0.substr(d, run);
		rest = t0.substr(d + run + 1);
	} else if (more && d + run == t0.size() && run >= 3 && run <= 16) {
		found = true;
		marked = t0.substr(0, p).find(':') != std::string::npos;
		L.bare = p == 0 && d == 0;
		L.od = L.bare && run == 7;
		L.digits = t0.substr(d);
	}
	if (!found && tokens.size() == 1 && all_hex(t0) && t0.size() >= 3) {
		L.kind = 'N';
		L.digits = L.token = t0;
		return L;
	}
	L.labelled = found;
	if (!found)
		L.od = false;
	std::vector<std::string> body;
	std::vector<std::size_t> body_end;
	if (!rest.empty()) {
		body.push_back(rest);
		body_end.push_back(at[0] + t0.size());
	}
	for (std::size_t k = found ? 1 : 0; k < tokens.size(); k++) {
		body.push_back(tokens[k]);
		body_end.push_back(at[k] + tokens[k].size());
	}
	// The character column: the first place from the left where the rest
	// of the line shows the values before it.
	// Also with each group's bytes reversed: where that shows the column
	// too, the line cannot tell the order of a group that is no palindrome.
	std::string values, reversed, unsure;
	bool grouped = false;
	for (std::size_t k = 0; k < body.size(); k++) {
		PlainKind kind = plain_kind(body[k]);
		if (kind != P_VALUE && kind != P_PAIR && kind != P_GROUP)
			break;
		grouped |= kind == P_GROUP;
		std::string bytes = plain_bytes(body[k]), back(bytes.rbegin(), bytes.rend());
		values += bytes;
		reversed += kind == P_GROUP ? back : bytes;
		if (kind == P_GROUP && back != bytes && unsure.empty())
			unsure = body[k];
		std::string after = line.substr(body_end[k], end - body_end[k]);
		std::size_t gap = 0, spaces = 0, g = 0;
		while (g < after.size() && plain_blank(after, g) > 0) {
			spaces = after[g] == ' ' ? spaces + 1 : 0;
			gap++;
			g += plain_blank(after, g);
		}
		std::string r = after.substr(g);
		auto shown = [&](const std::string &v, bool *delimited) {
			if (r.empty())
				return v.find_first_not_of(' ') == std::string::npos;
			std::size_t lead = std::min(v.find_first_not_of(' '), v.size());
			*delimited = r.size() >= 2 && ((r[0] == '|' && r.back() == '|') || (r[0] == '>' && r.back() == '<')) &&
			             plain_shows(v, r.substr(1, r.size() - 2), false);
			return *delimited || (lead <= spaces && lead + 1 <= gap && plain_shows(v.substr(lead), r, true));
		};
		bool delimited = false, column = shown(values, &delimited);
		if (column && !r.empty()) {
			// Where it starts: its characters before it, less the values
			// of 20 that stand in the gap; inside the bars.
			std::size_t chars = 0;
			for (std::size_t b = 0, w; b < body_end[k] + g; b += std::max<std::size_t>(w, 1), chars++)
				plain_char(line, b, &w);
			L.place = delimited ? chars + 1 : chars - std::min(values.find_first_not_of(' '), values.size());
			// A column that reads as values may be values, unless groups
			// of digits before it are bytes only beside a column.
			bool as_values = !delimited && !grouped;
			std::string more;
			for (std::size_t at = r.find_first_not_of(' '); at != std::string::npos && as_values;) {
				std::size_t e = std::min(r.find(' ', at), r.size());
				PlainKind rk = plain_kind(r.substr(at, e - at));
				as_values &= rk == P_VALUE || rk == P_PAIR;
				more += as_values ? plain_bytes(r.substr(at, e - at)) : "";
				at = r.find_first_not_of(' ', e);
			}
			if (as_values) {
				L.kind = 'V';
				L.bytes = values;
				L.questioned = true;
				L.extra = more;
				L.token = plain_shown(r);
				return L;
			}
		}
		if (column) {
			L.kind = 'V';
			L.bytes = values;
			bool ignored;
			if (!unsure.empty()) {
				L.order_unsure = shown(reversed, &ignored);
				L.order_shown = !L.order_unsure;
				L.token = plain_shown(unsure);
			}
			return L;
		}
	}
	// No column.
	// Digits alone first after the label, 8 or more, could be bytes.
	bool has_values = false, digits_first = true;
	std::size_t digits = 0;
	for (const std::string &t : body) {
		PlainKind kind = plain_kind(t);
		has_values |= kind == P_VALUE || kind == P_PAIR;
		digits_first &= kind == P_GROUP || kind == P_DIGITS;
		digits += digits_first ? t.size() : 0;
	}
	std::size_t fault = body.size();
	if (has_values) {
		std::size_t w = plain_kind(body[0]) == P_WORD;
		bool ruler = !found && body.size() - w >= 8;
		for (std::size_t k = w; k < body.size() && ruler; k++)
			ruler = plain_kind(body[k]) == P_VALUE && std::stoul(body[k], nullptr, 16) == k - w;
		if (ruler) {
			L.kind = 'R';
			L.word = w > 0;
			L.token = plain_shown(body[0]);
			for (std::size_t k = 0; k < body.size() - w; k++)
				L.bytes += static_cast<char>(k);
			return L;
		}
		fault = 0;
		while (fault < body.size() && (plain_kind(body[fault]) == P_VALUE || plain_kind(body[fault]) == P_PAIR))
			fault++;
		if (fault == body.size()) {
			L.kind = 'V';
			for (const std::string &t : body)
				L.bytes += plain_bytes(t);
			// The values after the last gap of two blanks or more.
			for (std::size_t k = body.size(); k-- > 1 && !L.gapped;) {
				std::size_t blanks = 0, from = body_end[k] - body[k].size();
				for (std::size_t i = body_end[k - 1]; i < from; i += plain_blank(line, i), blanks++) {
				}
				if (blanks >= 2) {
					L.gapped = true;
					L.token = plain_shown(line.substr(from, end - from));
				}
			}
			return L;
		}
	} else if (digits >= 8) {
		fault = 0;
	} else if (found && marked && !body.empty()) {
		fault = 0;
	} else if (found && body.empty()) {
		L.kind = 'L';
		return L;
	} else {
		// Groups of 12 digits or more after the line's first token: its
		// label typed wrong.
		std::size_t grouped = 0;
		for (std::size_t k = 1; k < tokens.size() && plain_kind(tokens[k]) == P_GROUP; k++)
			grouped += tokens[k].size();
		if (grouped >= 12) {
			L.kind = 'F';
			L.token = plain_shown(tokens[0]);
			return L;
		}
		fault = 0;
		while (fault < body.size() && plain_kind(body[fault]) != P_GARBAGE && !plain_mistyped(body[fault]))
			fault++;
		if (fault == body.size()) {
			L.kind = 'T';
			return L;
		}
	}
	L.kind = 'F';
	L.token = plain_shown(body[fault]);
	return L;
}

// The image of the dump's first `want` values, as far as the line that holds
// the last (or, where the lines read have had a label, the next label after
// it), each label held against the values since the one before.
static PlainDump plain_dump(const std::string &whole, std::uint64_t want)
{
	PlainDump D;
	std::string text = whole.compare(0, 3, "\xEF\xBB\xBF") == 0 ? whole.substr(3) : whole;
	std::vector<std::string> lines;
	for (std::size_t at = 0; at < text.size();) {
		std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
		lines.push_back(text.substr(at, end - at));
		at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
	}
	std::vector<PlainLine> parsed;
	for (const std::string &line : lines)
		parsed.push_back(plain_dump_line(line));
	static const unsigned bases[3] = {16, 8, 10};
	bool alive[3] = {true, true, true}, labelled = false;
	std::uint64_t number[3] = {}, since[3] = {}, total[3] = {};
	std::size_t label_line = 0, star = 0, ruler = 0, text_line = 0;
	char last = 'B';
	bool last_labelled = false;
	std::string last_bytes, text_seen, unsure_group;
	bool order_shown = false;
	std::size_t unsure_line = 0;
	PlainLine ruled;
	// Each reading's fault, named with its line, and where it was found.
	std::string fault_of[3];
	std::size_t fault_line_of[3] = {}, died_at[3] = {};
	// The first label while it is the only one and may be two values.
	std::size_t lone_label = 0;
	std::string lone_token;
	// The dump's width, from its first two lines of values in a row with
	// labels; the `*`s waiting for it, the first of each width.
	std::size_t width = 0, values_count = 0;
	bool values_labelled = false;
	std::vector<std::pair<std::size_t, std::size_t>> dues;
	bool past = false;
	std::size_t reached = 0;
	// Lines whose columns may be values: the one the next label tells,
	// those before any label, the last line of values where it is one of
	// these; where the other lines' columns start, and whether they differ.
	struct Question {
		std::size_t line = 0, count = 0, extra = 0, place = 0;
		std::string text, bytes;
	};
	Question asked;
	std::vector<Question> awaiting;
	std::size_t unsettled = 0, column_place = SIZE_MAX;
	bool places_differ = false;
	// The fault found, and the line it names.
	std::string fault;
	std::size_t fault_line = 0;
	auto fail = [&](std::size_t line, const std::string &what) {
		fault = format("f:%zu: ", line) + what;
		fault_line = line;
		return false;
	};
	auto star_message = [&](std::size_t line, std::size_t count) {
		return format("f:%zu: * repeats a line of %zu value%s, where the dump's lines hold ", line, count, plural(count)) +
		       (width ? format("%zu\n", width) : std::string("8, 16 or 32\n"));
	};
	auto fits = [&](std::size_t count) { return width ? count == width : count == 8 || count == 16 || count == 32; };
	auto number_in = [](const std::string &digits, unsigned base, std::uint64_t *n) {
		*n = 0;
		for (char c : digits) {
			unsigned d = static_cast<unsigned>(std::stoul(std::string(1, c), nullptr, 16));
			if (d >= base)
				return false;
			*n = *n * base + d;
		}
		return true;
	};
	auto step = [](std::uint64_t a, std::uint64_t b, unsigned base, std::size_t digits) {
		std::uint64_t m = 1;
		for (std::size_t k = 0; k < digits && m != 0; k++)
			m *= base;
		return m == 0 ? a - b : (a % m + m - b % m) % m;
	};
	auto add = [&](const std::string &bytes, std::size_t line) {
		D.runs.push_back({bytes, line, {1, 1, 1}});
		for (int r = 0; r < 3; r++)
			since[r] += bytes.size(), total[r] += bytes.size();
		last_bytes = bytes;
	};
	auto dies = [&](int r, std::size_t line, std::size_t named, const std::string &what) {
		alive[r] = false;
		fault_of[r] = what;
		fault_line_of[r] = named;
		died_at[r] = line;
	};
	auto none_left = [&] {
		if (alive[0] || alive[1] || alive[2])
			return false;
		int furthest = 0;
		for (int r = 1; r < 3; r++)
			furthest = died_at[r] > died_at[furthest] ? r : furthest;
		fault = fault_of[furthest];
		fault_line = fault_line_of[furthest];
		return true;
	};
	auto question_fault = [&](const Question &q) {
		fault = format("f:%zu: ", q.line) + q.text + " may be values or their characters\n";
		fault_line = q.line;
		return false;
	};
	// A column taken where the dump's width or the other lines' columns
	// tell; the first line they do not settle fails.
	auto questions_settled = [&] {
		auto settled = [&](const Question &q) {
			return (width && q.count + q.extra > width) ||
			       (!places_differ && column_place != SIZE_MAX && q.place == column_place);
		};
		const Question *first = asked.line && !settled(asked) ? &asked : nullptr;
		for (const Question &q : awaiting)
			if (!settled(q) && (first == nullptr || q.line < first->line)) {
				first = &q;
				break;
			}
		return first == nullptr || question_fault(*first);
	};
	auto values_seen = [&](bool with_label, std::size_t count, bool questioned) {
		unsettled = 0;
		bool pair = width == 0 && values_labelled && with_label;
		values_labelled = with_label && !questioned;
		if (pair) {
			width = values_count;
			for (auto &due : dues)
				if (due.second != width) {
					fault = star_message(due.first, due.second), fault_line = due.first;
					return false;
				}
			dues.clear();
		}
		values_count = count;
		return true;
	};
	// A line read: false at a fault.
	auto walk = [&](const PlainLine &L, std::size_t n) {
		if (L.labelled && labelled)
			lone_label = 0;
		if (L.kind == 'B')
			return true;
		if (L.kind == 'T') {
			if (text_line == 0)
				text_line = n, text_seen = plain_shown(L.text);
			return true;
		}
		if (L.kind == 'F')
			return fail(n, "bad value " + L.token + "\n");
		if (L.kind == 'M')
			return fail(n, plain_shown(L.token) + " may be a label or values\n");
		if (ruler != 0) {
			// Passed over before a line of values with a label.
			if (!(L.kind == 'V' && L.labelled)) {
				if (ruled.word)
					return fail(ruler, "bad value " + ruled.token + "\n");
				add(ruled.bytes, ruler);
				last = 'V', last_labelled = false;
				if (!values_seen(false, ruled.bytes.size(), false))
					return false;
			}
			ruler = 0;
		}
		if ((L.kind == 'V' || L.kind == 'P') && !values_seen(L.labelled, L.bytes.size(), L.questioned))
			return false;
		if (star != 0) {
			if (!L.labelled)
				return fail(star, "* needs a label before and after it\n");
			DumpRun repeat{last_bytes, star, {0, 0, 0}};
			for (int r = 0; r < 3; r++) {
				std::uint64_t x;
				if (!alive[r])
					continue;
				std::uint64_t s = number_in(L.digits, bases[r], &x) ? step(x, number[r], bases[r], L.digits.size()) : 0;
				std::uint64_t more = s - since[r];
				if (s <= since[r] || more % last_bytes.size() != 0 || total[r] > UINT64_MAX - more) {
					dies(r, n, star, format("f:%zu: * cannot repeat %zu value%s to reach the label on line %zu\n",
					                        star, last_bytes.size(), plural(last_bytes.size()), n));
					continue;
				}
				repeat.times[r] = more / last_bytes.size();
				since[r] += more, total[r] += more;
			}
			if (none_left())
				return false;
			D.runs.push_back(repeat);
			star = 0;
		}
		if (L.kind == 'S') {
			if (unsettled)
				return question_fault(asked.line == unsettled ? asked : awaiting.back());
			if (last != 'V' && last != 'P')
				return fail(n, "* with no line of values before it\n");
			if (!labelled)
				return fail(n, "* needs a label before and after it\n");
			star = n, last = 'S', last_labelled = false;
			if (width == 0) {
				bool held = false;
				for (auto &due : dues)
					held |= due.second == last_bytes.size();
				if (held)
					return true;
				if (dues.size() < 16) {
					dues.push_back({n, last_bytes.size()});
					return true;
				}
			}
			if (fits(last_bytes.size()))
				return true;
			fault = star_message(n, last_bytes.size()), fault_line = n;
			return false;
		}
		if (L.kind == 'R') {
			ruler = n, ruled = L, last = 'R', last_labelled = false;
			return true;
		}
		if (L.labelled) {
			std::uint64_t x[3];
			bool valid[3];
			for (int r = 0; r < 3; r++)
				valid[r] = number_in(L.digits, bases[r], &x[r]);
			if (!labelled) {
				// od's offsets are octal or decimal.
				labelled = true;
				alive[1] = L.od && valid[1];
				alive[2] = L.od && valid[2];
				alive[0] = !L.od;
				if (L.od && !valid[1] && !valid[2])
					return fail(n, "bad value " + plain_shown(L.digits) + "\n");
				if (L.kind == 'V' && L.bare && L.digits.size() <= 4)
					lone_label = n, lone_token = plain_shown(L.digits);
			} else {
				lone_label = 0;
			}
			if (asked.line) {
				// As the reading this label's step fits has it.
				bool as_column = false, as_values = false;
				for (int r = 0; r < 3; r++) {
					if (!alive[r] || !valid[r])
						continue;
					std::uint64_t s = step(x[r], number[r], bases[r], L.digits.size());
					as_column |= s == since[r];
					as_values |= s == since[r] + asked.extra;
				}
				Question q = asked;
				asked.line = 0;
				if (as_column && as_values)
					return question_fault(q);
				if (as_values) {
					for (DumpRun &run : D.runs)
						if (run.line == q.line && run.times[0] == 1)
							run.bytes += q.bytes;
					for (int r = 0; r < 3; r++)
						since[r] += q.extra, total[r] += q.extra;
				}
			}
			for (int r = 0; r < 3; r++) {
				if (!alive[r])
					continue;
				std::uint64_t s = valid[r] ? step(x[r], number[r], bases[r], L.digits.size()) : 0;
				if (label_line != 0 && (!valid[r] || s != since[r]))
					dies(r, n, label_line,
					     (n - 1 > label_line ? format("f:%zu-%zu: ", label_line, n - 1) : format("f:%zu: ", label_line)) +
					     format("%llu value%s, where the label on line %zu wants %llu\n",
					            static_cast<unsigned long long>(since[r]), plural(since[r]), n,
					            static_cast<unsigned long long>(s)));
				number[r] = x[r], since[r] = 0;
			}
			label_line = n;
			if (none_left())
				return false;
		}
		if (L.gapped && column_place != SIZE_MAX)
			return fail(n, L.token + " may be values or their characters\n");
		if (L.kind == 'V' && !L.questioned && L.place != SIZE_MAX) {
			places_differ |= column_place != SIZE_MAX && L.place != column_place;
			column_place = column_place == SIZE_MAX ? L.place : column_place;
		}
		if (L.questioned && !(width && L.bytes.size() + L.extra.size() > width)) {
			Question q{n, L.bytes.size(), L.extra.size(), L.place, L.token, L.extra};
			if (labelled) {
				if (asked.line) {
					asked.line = 0;
					return question_fault(q);
				}
				asked = q;
			} else {
				if (awaiting.size() == 16)
					return question_fault(q);
				awaiting.push_back(q);
			}
			unsettled = n;
		}
		order_shown |= L.order_shown;
		if (L.order_unsure && unsure_line == 0)
			unsure_line = n, unsure_group = L.token;
		if (L.kind != 'L')
			add(L.bytes, n);
		last = L.kind, last_labelled = L.labelled;
		return true;
	};
	// A token of digits alone, settled by the lines around it; `ahead`
	// whether the next line of values has a label, -1 where not asked.
	auto lone = [&](PlainLine L, int ahead) {
		std::size_t digits = L.digits.size();
		bool even = digits % 2 == 0;
		if (even && (digits >= 17 || last == 'P'))
			L.kind = 'P', L.bytes = plain_bytes(L.digits);
		else if (digits > 16)
			L.kind = 'F', L.token = plain_shown(L.digits);
		else if (last_labelled || last == 'S' || !even || ahead == 1)
			L.kind = 'L', L.labelled = L.bare = true, L.od = digits == 7;
		else if (ahead < 0)
			L.kind = 'N';
		else if (digits >= 10)
			L.kind = 'P', L.bytes = plain_bytes(L.digits);
		else
			L.kind = 'M';
		return L;
	};
	// What waits for later lines, settled: the only label where none bears
	// it out (`lone`), the `*`s, the lines whose columns may be values;
	// the first fault in line order among them and the one found.
	auto waited = [&](bool lone) {
		if (lone && lone_label < fault_line)
			fault = format("f:%zu: bad value ", lone_label) + lone_token + "\n", fault_line = lone_label;
		for (auto &due : dues)
			if (!fits(due.second) && due.first < fault_line)
				fault = star_message(due.first, due.second), fault_line = due.first;
		std::string found = fault;
		std::size_t found_line = fault_line;
		if (questions_settled() || fault_line >= found_line)
			fault = found, fault_line = found_line;
	};
	// A fault, found where the only label or a `*`'s width waits: the lines
	// from `from` on tell as far as they can; the first fault in line
	// order is named.
	auto at_fault = [&](std::size_t from) {
		bool label = false;
		for (std::size_t k = from; k < parsed.size() && ((!label && lone_label) || (width == 0 && !dues.empty())); k++) {
			const PlainLine &L = parsed[k];
			bool digits = L.kind == 'N';
			label |= digits ? L.digits.size() <= 16 : L.labelled;
			if (L.kind == 'V' || L.kind == 'P' || (digits && L.digits.size() >= 17)) {
				bool with = L.labelled && !digits;
				width = width == 0 && values_labelled && with ? values_count : width;
				values_labelled = with;
				values_count = digits ? L.digits.size() / 2 : L.bytes.size();
			}
		}
		waited(lone_label && !label);
		D.message = fault;
		return D;
	};
	std::size_t line = 0;
	for (; line < lines.size() && want > 0; line++) {
		std::size_t n = line + 1;
		PlainLine L = parsed[line];
		if (L.kind == 'N') {
			L = lone(L, -1);
			if (L.kind == 'N') {
				// The next line of values tells, other such tokens, blank
				// lines and text left out; at most 64 such tokens wait.
				std::size_t j = line, waiting = 0;
				for (; j < parsed.size() && (parsed[j].kind == 'B' || parsed[j].kind == 'T' ||
				                             (parsed[j].kind == 'N' && parsed[j].digits.size() <= 16)); j++) {
					waiting += parsed[j].kind == 'N';
					if (waiting > 64) {
						fail(n, plain_shown(L.digits) + " may be a label or values\n");
						return at_fault(j + 1);
					}
				}
				int ahead = j < parsed.size() && parsed[j].kind == 'V' && parsed[j].labelled;
				for (; line < j; line++) {
					PlainLine W = parsed[line];
					if (W.kind == 'N')
						W = lone(W, ahead);
					if (!walk(W, line + 1)) {
						if (j < parsed.size() && parsed[j].labelled)
							lone_label = 0;
						return at_fault(j);
					}
				}
				if (j == parsed.size())
					break;
				n = line + 1;
				L = parsed[line];
				if (L.kind == 'N')
					L = lone(L, -1);
			}
		}
		if (!walk(L, n))
			return at_fault(n);
		std::uint64_t least = UINT64_MAX;
		for (int r = 0; r < 3; r++)
			least = alive[r] ? std::min(least, total[r]) : least;
		if (star == 0 && ruler == 0 && (past ? label_line > reached : least >= want)) {
			if (past || !labelled)
				break;
			past = true, reached = n;
		}
	}
	if (ruler != 0) {
		if (ruled.word) {
			fail(ruler, "bad value " + ruled.token + "\n");
			return at_fault(parsed.size());
		}
		add(ruled.bytes, ruler);
		if (!values_seen(false, ruled.bytes.size(), false))
			return at_fault(parsed.size());
	}
	if (star != 0) {
		fail(star, "* needs a label before and after it\n");
		return at_fault(parsed.size());
	}
	// What waited for the end: the only label, read as values; the `*`s
	// with no width found; the order of groups no line's column showed.
	fault_line = SIZE_MAX;
	waited(lone_label != 0);
	if (!order_shown && unsure_line != 0 && unsure_line < fault_line)
		fault = format("f:%zu: ", unsure_line) + unsure_group + " may be bytes in either order\n";
	if (!fault.empty()) {
		D.message = fault;
		return D;
	}
	for (D.reading = 0; !alive[D.reading];)
		D.reading++;
	for (const DumpRun &run : D.runs)
		for (int r = 0; r < 3; r++)
			if (alive[r] && run.times[r] != run.times[D.reading])
				D.message = "f: * repeats by labels that may be octal or decimal\n";
	if (D.message.empty() && total[D.reading] == 0 && text_line != 0)
		D.message = format("f: no values, only text, from line %zu: ", text_line) + text_seen + "\n";
	return D;
}

// The image's own output with a slip made in it of the kind `edit` picks,
// at a place that `pick` picks; bytes of `image` to put in.
static std::string slip(std::string listing, unsigned edit, unsigned pick, const std::uint8_t *image,
                        std::size_t size, std::uint32_t start)
{
	std::size_t place = pick * listing.size() / 256, value = place / 3 * 3;
	std::size_t line = listing.rfind('\n', place) == std::string::npos ? 0 : listing.rfind('\n', place) + 1;
	std::size_t next = listing.find('\n', place) == std::string::npos ? listing.size()
	                                                                  : listing.find('\n', place) + 1;
	switch (edit) {
	case 0:	// as it is, or made of the image at another address or from a later byte
		if (pick % 2 == 0)
			return listing;
		return plain_scan(image + std::min<std::size_t>(size, pick / 16), size - std::min<std::size_t>(size, pick / 16),
		                  start + (pick & 2 ? 0x1238 : 0));
	case 1:	// bytes put in, of anything
		return listing.insert(place, reinterpret_cast<const char *>(image), std::min<std::size_t>(size, pick % 8));
	case 2:	// bytes taken out
		return listing.erase(place, pick % 8);
	case 3:	// a line skipped, or a heading or a page footer put in
		if (pick % 2 == 0)
			return listing.erase(line, next - line);
		return listing.insert(line, pick % 4 == 1 ? "Page 12 of 30\n" : "Checksums, part 2\n");
	case 4:	// a line typed twice
		return listing.insert(next, listing.substr(line, next - line));
	case 5: {	// a line moved down past the next
		std::string moved = listing.substr(line, next - line);
		listing.erase(line, next - line);
		std::size_t after = listing.find('\n', line);
		return listing.insert(after == std::string::npos ? listing.size() : after + 1, moved);
	}
	case 6:	// a value changed, skipped or typed twice
		if (value + 3 > listing.size() || listing[value] == '\n')
			return listing;
		if (pick % 4 == 0)
			return listing.replace(value, 2, pick % 8 ? "00" : "FF");
		if (pick % 4 == 3)	// a typo: a letter for a digit
			return listing.replace(value, 2, pick % 8 == 3 ? "5O" : "O");
		return pick % 4 == 1 ? listing.erase(value, 3) : listing.insert(value, listing.substr(value, 3));
	case 7: {	// laid out anew: a label, so many a line, other blanks and line ends
		static const char *const blanks[] = {" ", "\t", "\xC2\xA0", "\xA0", "\xE2\x80\x89", " \f", "\xEF\xBB\xBF", "  "};
		static const char *const ends[] = {"\n", "\r\n", "\r", "\n\n"};
		std::string laid, label = pick % 5 == 0 ? "4000: " : "";
		std::size_t per_line = pick % 17 + 1, k = 0;
		for (std::size_t at = 0; at + 2 < listing.size(); at++) {
			if (listing[at] == ' ' || listing[at] == '\n')
				continue;
			laid += (k % per_line == 0 ? (k > 0 ? std::string(ends[pick % 4]) : "") + label : blanks[pick / 32]) +
			        listing.substr(at, 2);
			k++;
			at++;
		}
		return laid;
	}
	default:
		return listing;
	}
}

// Stops the run, showing what differed where ROWTALLY_FUZZ_SHOW is set.
[[noreturn]] static void differs(const std::string &what, const std::string &got, const std::string &expected)
{
	if (std::getenv("ROWTALLY_FUZZ_SHOW") != nullptr)
		std::fprintf(stderr, "%s\n--- got:\n%s--- expected:\n%s", what.c_str(), got.c_str(), expected.c_str());
	std::abort();
}

static std::string contents(std::FILE *f)
{
	std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
	std::rewind(f);
	if (std::fread(text.data(), 1, text.size(), f) != text.size())
		std::abort();
	return text;
}

// All the bytes that `image` hands out, each byte's line checked against
// `line_of`, where given (0 for fill).
static std::vector<std::uint8_t> read_all(Image *image, const std::vector<std::uint64_t> *line_of)
{
	std::vector<std::uint8_t> all;
	static unsigned char bytes[SCAN_READ];
	bool ended = false;
	std::uint64_t first = image->offset;
	while (!ended) {
		std::uint64_t at = image->offset;
		std::size_t n = image->read(image, bytes, sizeof bytes, at, &ended);
		for (std::size_t k = 0; k < n && line_of != nullptr; k++) {
			std::uint64_t least, greatest;
			image_lines(image, at + k, 1, &least, &greatest);
			if (least != (*line_of)[at + k - first] || least != greatest)
				std::abort();
		}
		all.insert(all.end(), bytes, bytes + n);
		if (all.size() > (1u << 24))
			std::abort();	// more than any of these files can make
	}
	return all;
}

static void hex_bytes(std::string *text, const std::uint8_t *bytes, std::size_t n, bool lower)
{
	for (std::size_t k = 0; k < n; k++)
		*text += format(lower ? "%02x" : "%02X", bytes[k]);
}

// The image as Intel HEX or S-records, laid out as `how` picks: record
// length, order, case, line ends; read back from a file and from a stream
// that cannot be read twice, it must be the image itself, each byte on the
// line that holds it.
static void round_trip(const std::uint8_t *image, std::size_t size, std::uint32_t start, unsigned how)
{
	unsigned kind = how % 2, per = how / 3 % 32 + 1;
	bool lower = how & 0x100, backwards = how & 0x200, crlf = how & 0x400;
	std::vector<std::string> lines;
	std::vector<std::size_t> from;	// the image byte each line's data begins with
	for (std::size_t k = 0; k < size; k += per) {
		std::size_t n = std::min<std::size_t>(per, size - k);
		std::uint32_t at = start + static_cast<std::uint32_t>(k);
		std::uint8_t b[8 + 32];
		std::string line;
		if (kind == 0) {	// an 04 record before each, the address's high half
			std::uint8_t high[6] = {2, 0, 0, 4, static_cast<std::uint8_t>(at >> 24), static_cast<std::uint8_t>(at >> 16)};
			line = ":";
			hex_bytes(&line, high, 6, lower);
			line += format("%02X", static_cast<unsigned>(-(high[0] + high[3] + high[4] + high[5]) & 0xFF));
			lines.push_back(line);
			from.push_back(SIZE_MAX);
			b[0] = static_cast<std::uint8_t>(n), b[1] = static_cast<std::uint8_t>(at >> 8), b[2] = static_cast<std::uint8_t>(at), b[3] = 0;
			std::memcpy(b + 4, image + k, n);
			unsigned sum = 0;
			for (std::size_t i = 0; i < n + 4; i++)
				sum += b[i];
			b[n + 4] = static_cast<std::uint8_t>(0u - sum);
			line = ":";
			hex_bytes(&line, b, n + 5, lower);
		} else {	// S3
			b[0] = static_cast<std::uint8_t>(n + 5);
			for (int i = 0; i < 4; i++)
				b[1 + i] = static_cast<std::uint8_t>(at >> (24 - 8 * i));
			std::memcpy(b + 5, image + k, n);
			unsigned sum = 0;
			for (std::size_t i = 0; i < n + 5; i++)
				sum += b[i];
			b[n + 5] = static_cast<std::uint8_t>(0xFF - sum % 256);
			line = "S3";
			hex_bytes(&line, b, n + 6, lower);
		}
		lines.push_back(line);
		from.push_back(k);
	}
	if (backwards) {
		std::reverse(lines.begin(), lines.end());
		std::reverse(from.begin(), from.end());
		if (kind == 0)	// each 04 record before its own again
			for (std::size_t k = 0; k + 1 < lines.size(); k += 2)
				std::swap(lines[k], lines[k + 1]), std::swap(from[k], from[k + 1]);
	}
	if (kind == 0) {
		lines.push_back(":00000001FF");
		from.push_back(SIZE_MAX);
	}
	std::string text;
	std::vector<std::uint64_t> line_of(size);
	for (std::size_t k = 0; k < lines.size(); k++) {
		text += lines[k] + (crlf ? "\r\n" : "\n");
		for (std::size_t i = 0; from[k] != SIZE_MAX && i < per && from[k] + i < size; i++)
			line_of[from[k] + i] = k + 1;
	}
	for (int twice = 0; twice < 2; twice++) {
		std::FILE *in = twice ? fmemopen(text.data(), text.size(), "rb") : std::tmpfile();
		std::FILE *out = std::tmpfile();
		if (in == nullptr || out == nullptr)
			std::abort();
		if (!twice) {
			std::fwrite(text.data(), 1, text.size(), in);
			std::rewind(in);
		}
		Image read;
		bool ok = open_records(&read, in, "f", kind == 0 ? RecordFormat::IHEX : RecordFormat::SREC, start,
		                       WHOLE_FILE, 0, out);
		// An empty file of records holds no data. Records stop at the top
		// of the address space.
		std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(size, (1ull << 32) - start));
		if (ok != (size > 0) || (ok && read_all(&read, &line_of) != std::vector<std::uint8_t>(image, image + kept)))
			std::abort();
		std::fclose(in);
		std::fclose(out);
	}
}

// What a reader makes of text read from a file (twice) or from a stream
// that cannot be sought, kept in a temporary file: " LINE:HH.." for each run
// of its bytes on one line, at most DUMP_SHOWN of them, after its size; or
// its message. As a dump where `records` is null, else as records of that
// format from `start`, `length` bytes of them.
constexpr std::uint64_t DUMP_SHOWN = 65536;

static std::string text_as_read(std::string text, bool kept, std::uint64_t skip, std::uint64_t length,
                                const RecordFormat *records = nullptr, std::uint32_t start = 0)
{
	std::FILE *in = kept ? fmemopen(text.data(), text.size(), "rb") : std::tmpfile();
	std::FILE *out = std::tmpfile();
	if ((in == nullptr && !text.empty()) || out == nullptr)
		std::abort();
	if (in == nullptr)	// fmemopen of nothing
		in = std::tmpfile();
	if (!kept) {
		std::fwrite(text.data(), 1, text.size(), in);
		std::rewind(in);
	}
	Image image;
	std::string shown;
	if (records == nullptr ? open_dump(&image, in, "f", skip, length, out)
	                       : open_records(&image, in, "f", *records, start, length, 0xFF, out)) {
		shown = format("size %llu:", static_cast<unsigned long long>(image.left));
		static unsigned char bytes[SCAN_READ];
		bool ended = false;
		std::uint64_t last = UINT64_MAX, got = 0;
		while (!ended && got < DUMP_SHOWN) {
			std::uint64_t at = image.offset;
			std::size_t n = image.read(&image, bytes, sizeof bytes, at, &ended);
			for (std::size_t k = 0; k < n && got < DUMP_SHOWN; k++, got++) {
				std::uint64_t line, same;
				image_lines(&image, at + k, 1, &line, &same);
				shown += line != last ? format(" %llu:%02X", static_cast<unsigned long long>(line), bytes[k])
				                      : format("%02X", bytes[k]);
				last = line;
			}
		}
		if (image_failed(&image))
			shown += " failed";
	}
	shown += contents(out);
	std::fclose(in);
	std::fclose(out);
	return shown;
}

static std::string dump_as_stated(const PlainDump &D, std::uint64_t skip, std::uint64_t length)
{
	if (!D.message.empty())
		return D.message;
	std::uint64_t size = 0, at = 0, got = 0;
	for (const DumpRun &run : D.runs)
		size += run.bytes.size() * run.times[D.reading];
	if (size < skip)
		return format("cannot skip %llu byte%s of f\n", static_cast<unsigned long long>(skip), plural(skip));
	size = std::min(size - skip, length);
	std::string shown = format("size %llu:", static_cast<unsigned long long>(size));
	std::size_t last = SIZE_MAX;
	for (const DumpRun &run : D.runs) {
		for (std::uint64_t t = 0; t < run.times[D.reading] && got < std::min(size, DUMP_SHOWN); t++) {
			for (std::size_t k = 0; k < run.bytes.size() && got < std::min(size, DUMP_SHOWN); k++, at++) {
				if (at < skip)
					continue;
				shown += run.line != last ? format(" %zu:%02X", run.line, static_cast<unsigned char>(run.bytes[k]))
				                          : format("%02X", static_cast<unsigned char>(run.bytes[k]));
				last = run.line;
				got++;
			}
			if (at < skip && run.bytes.size() > 0) {	// whole repeats skipped at once
				std::uint64_t whole = std::min<std::uint64_t>((skip - at) / run.bytes.size(), run.times[D.reading] - t - 1);
				t += whole;
				at += whole * run.bytes.size();
			}
		}
	}
	return shown;
}

// A dump's text read from a file and from a stream kept gives the same
// image or message, and the one its rules stated plainly give.
static void dump_agrees(std::string text, std::uint64_t skip, std::uint64_t length)
{
	// UTF-16 is for the unit tests: no byte order mark of it comes first.
	while (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0)
		text.erase(0, 1);
	std::uint64_t want = length > UINT64_MAX - skip ? UINT64_MAX : skip + length;
	std::string twice = text_as_read(text, false, skip, length), kept = text_as_read(text, true, skip, length);
	std::string plain = dump_as_stated(plain_dump(text, want), skip, length);
	if (twice != kept)
		differs("dump read twice and kept:\n" + text, twice, kept);
	if (twice != plain)
		differs("dump as read and as stated:\n" + text, twice, plain);
}

// The image as a dump laid out as a program or a person writes it, as
// `how` picks: typed with a label on each line; as xxd, hexdump -C, od -A x
// -t x1z and PowerShell 5's Format-Hex print it, character column, closing
// offset and `*` for repeated lines included; with CR LF and trailing blanks
// cut. It must read as the image itself, each byte on its line, save that
// a line whose column reads as values may be refused as unsure; and the
// readings must agree. Then
// damaged as people and serial lines damage dumps, at its first, middle or
// last line of values, as `damage` picks: where a label, a column or the
// dump's width can show it, it must read as the image or be refused; else
// the readings must agree.
static void dump_round_trip(const std::uint8_t *image, std::size_t size, std::uint32_t start, unsigned how,
                            unsigned damage)
{
	unsigned layout = how % 6, per = layout == 0 ? how / 5 % 32 + 1 : layout == 1 ? 2 * (how / 5 % 16 + 1)
	                                 : layout == 5 ? 30 : 16;
	bool crlf = how & 0x400, cut = how & 0x800, lower = how & 0x1000, indent = how & 0x2000;
	std::vector<std::string> lines;
	std::vector<std::size_t> line_of(size);
	auto shown = [&](std::size_t k, std::size_t n) {
		std::string column;
		for (std::size_t i = k; i < k + n; i++)
			column += image[i] >= 0x20 && image[i] <= 0x7E ? static_cast<char>(image[i]) : '.';
		return column;
	};
	const char *hex = lower ? "%02x" : "%02X";
	if (layout == 4 && size > 0)
		lines.insert(lines.end(), {"", "           Path: C:\\image.bin", "",
		                           "           00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", ""});
	bool starred = false;
	std::vector<std::size_t> value_lines;	// their places in `lines`
	for (std::size_t k = 0; k < size; k += per) {
		std::size_t n = std::min<std::size_t>(per, size - k);
		// od and hexdump -C write `*` for lines like the one before.
		if ((layout == 2 || layout == 3) && k > 0 && n == per && std::memcmp(image + k, image + k - per, per) == 0) {
			if (!starred)
				lines.push_back("*");
			starred = true;
			line_of[k] = lines.size();
			std::fill(line_of.begin() + static_cast<std::ptrdiff_t>(k), line_of.begin() + static_cast<std::ptrdiff_t>(k + n),
			          lines.size());
			continue;
		}
		starred = false;
		std::string line, values;
		std::uint32_t at = start + static_cast<std::uint32_t>(k);
		for (std::size_t i = 0; i < n; i++) {
			if (layout == 1)
				values += (i % 2 == 0 && i > 0 ? " " : "") + format(hex, image[k + i]);
			else
				values += (i > 0 ? " " : "") + std::string(layout == 2 && i == 8 ? " " : "") + format(hex, image[k + i]);
		}
		if (layout == 0)
			line = format("%08X: ", at) + values;
		else if (layout == 1)
			line = format("%08x: ", at) + values + std::string(5 * per / 2 - 1 - values.size(), ' ') + "  " + shown(k, n);
		else if (layout == 2)
			line = format("%08x  ", at) + values + std::string(48 - values.size(), ' ') + "  |" + shown(k, n) + "|";
		else if (layout == 3)
			line = format("%06x ", at & 0xFFFFFF) + values + std::string(47 - values.size(), ' ') + "  >" + shown(k, n) + "<";
		else if (layout == 4)
			line = format("%08X   ", at) + values + std::string(47 - values.size(), ' ') + "  " + shown(k, n);
		else
			for (std::size_t i = 0; i < n; i++)	// xxd -p
				line += format(hex, image[k + i]);
		if (cut)
			line.erase(line.find_last_not_of(' ') + 1);
		if (indent && lines.empty())
			lines.push_back("");	// a blank line first, and the labels not at the start of theirs
		value_lines.push_back(lines.size());
		lines.push_back((indent && layout != 5 ? "  " : "") + line);
		std::fill(line_of.begin() + static_cast<std::ptrdiff_t>(k), line_of.begin() + static_cast<std::ptrdiff_t>(k + n),
		          lines.size());
	}
	if (layout == 2 && size > 0)
		lines.push_back(format("%08x", start + static_cast<std::uint32_t>(size)));
	if (layout == 3 && size > 0)
		lines.push_back(format("%06x", (start + static_cast<std::uint32_t>(size)) & 0xFFFFFF));
	std::string text, expected = format("size %zu:", size);
	for (const std::string &line : lines)
		text += line + (crlf ? "\r\n" : "\n");
	for (std::size_t k = 0; k < size && k < DUMP_SHOWN; k++)
		expected += k == 0 || line_of[k] != line_of[k - 1] ? format(" %zu:%02X", line_of[k], image[k]) : format("%02X", image[k]);
	dump_agrees(text, 0, WHOLE_FILE);
	std::string got = text_as_read(text, false, 0, WHOLE_FILE);
	// A typed line may be unsure, and xxd's groups may be too where no
	// line's column shows their order.
	// A column that reads as values may be refused where nothing tells.
	if (got != expected && !((layout == 0 || layout == 4) && got.find(" may be values or their characters\n") != std::string::npos) &&
	    !(layout == 1 && got.find(" may be bytes in either order\n") != std::string::npos) &&
	    !(layout == 5 && size <= 4 && got.find(" may be a label or values\n") != std::string::npos))
		differs("dump round trip:\n" + text, got, expected);

	// The damage, to the line picked; the labels stand at the start of
	// the lines, the values after the label's blanks.
	unsigned kind = damage % 8, place = damage / 8 % 3;
	if (kind == 0 || value_lines.empty())
		return;
	std::size_t v = place == 0 ? 0 : place == 1 ? value_lines.size() / 2 : value_lines.size() - 1;
	std::size_t index = value_lines[v];
	std::string &line = lines[index];
	std::size_t label = indent && layout != 5 ? 2 : 0, first = layout == 5 ? 0 : line.find_first_of(' ', label);
	first = layout == 5 ? 0 : line.find_first_not_of(' ', first);
	std::size_t blank = line.find(' ', first);
	bool after = v + 1 < value_lines.size() && layout != 5, before = v > 0 && layout != 5, shows = true;
	// A value lost or doubled beside a column that reads as values may be
	// made up by it, the line's count unchanged: no label can show that.
	std::string shown_column = shown(v * per, std::min<std::size_t>(per, size - v * per));
	bool column_values = (layout == 1 || layout == 4) && shown_column.find_first_not_of(' ') != std::string::npos;
	for (std::size_t at = shown_column.find_first_not_of(' '); at != std::string::npos && column_values;) {
		std::size_t e = std::min(shown_column.find(' ', at), shown_column.size());
		column_values = e - at == 2 && plain_hex(shown_column, at, e);
		at = shown_column.find_first_not_of(' ', e);
	}
	if (first == std::string::npos)
		return;
	if (kind == 1 && layout != 5) {
		// A label's digit typed as a letter: refused, or where xxd's groups
		// are too short to show bytes, passed over as text, which only
		// the labels around it can show.
		line[label] = 'O';
		shows = layout != 1 || (std::min<std::size_t>(per, size - v * per) >= 6) || (before && after);
	} else if (kind == 2) {
		line.erase(first, layout == 1 || layout == 5 || line.compare(first + 2, 1, " ") != 0 ? 2 : 3);	// a value lost
		shows = after && !column_values;
	} else if (kind == 3) {
		line.insert(first, line.substr(first, 2) + (layout == 1 || layout == 5 ? "" : " "));	// a value doubled
		shows = after && !column_values;
	} else if (kind == 4 && blank != std::string::npos && blank + 1 < line.size() && line[blank + 1] != ' ') {
		line.erase(blank, 1);	// a blank lost between two values
		shows = after;
	} else if (kind == 5 && blank != std::string::npos) {
		line.insert(blank, " ");	// a blank doubled
	} else if (kind == 6) {
		lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), "Listing 1: C000-C0FF");
	} else if (kind == 7 && layout == 5 && line.size() >= 8) {
		line[3] = 'O';	// plain hex with a wrong character: text where no decimal digit is left
		shows = line.find_first_of("0123456789") != std::string::npos;
	} else if (kind == 7 && (place == 0 || place == 2)) {
		lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(index));	// a line lost at an end: nothing shows it
		shows = false;
	} else {
		return;
	}
	text.clear();
	for (const std::string &l : lines)
		text += l + (crlf ? "\r\n" : "\n");
	dump_agrees(text, 0, WHOLE_FILE);
	got = text_as_read(text, false, 0, WHOLE_FILE);
	// Read as the image, line numbers aside, or refused.
	auto bytes_of = [](const std::string &read) {
		std::string bytes;
		for (std::size_t k = 0; k < read.size();) {
			std::size_t colon = read.find(':', k), space = read.find(' ', colon);
			if (colon == std::string::npos)
				break;
			bytes += read.substr(colon + 1, space == std::string::npos ? std::string::npos : space - colon - 1);
			k = space == std::string::npos ? read.size() : space;
		}
		return bytes;
	};
	if (shows && got.compare(0, 5, "size ") == 0 && bytes_of(got) != bytes_of(expected))
		differs("dump damaged:\n" + text, got, expected);
}

// Any bytes at all as a file of records of each format: a message, or an
// image that reads through, the same from a stream as from a file.
static void any_bytes(const std::uint8_t *data, std::size_t size, std::uint32_t start)
{
	std::string text(reinterpret_cast<const char *>(data), size);
	for (RecordFormat format : {RecordFormat::IHEX, RecordFormat::SREC}) {
		std::uint64_t length = size % 3 == 0 ? WHOLE_FILE : size;
		std::string twice = text_as_read(text, false, 0, length, &format, start);
		if (twice.empty())
			std::abort();	// a file refused without a word
		std::string kept = text_as_read(text, true, 0, length, &format, start);
		if (twice != kept)
			differs("records read twice and kept:\n" + text, twice, kept);
	}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	if (size < 4)
		return 0;
	// The start address's low three bits pick the edit; its top three, how
	// far it is from a multiple of 8.
	unsigned edit = data[0] % ROW_SIZE;
	std::uint32_t start = (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
	                       std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24);
	start = (start & ~std::uint32_t{ROW_SIZE - 1}) | start >> 29;
	const std::uint8_t *image = data + 4;
	std::size_t image_size = size - 4;

	std::FILE *in = std::tmpfile();
	std::FILE *out = std::tmpfile();
	if (in == nullptr || out == nullptr)
		std::abort();
	std::fwrite(image, 1, image_size, in);
	std::rewind(in);
	Image source;
	open_binary(&source, in, 0, WHOLE_FILE);
	scan_image(&source, start, out);
	std::string text = contents(out);
	if (std::ferror(in))
		std::abort();

	// The same bytes as the plain loop.
	if (text != plain_scan(image, image_size, start))
		std::abort();

	// One line per block the image touches, each of at most sixteen "XX ".
	std::size_t blocks =
		image_size == 0 ? 0 : (start % BLOCK_SIZE + image_size + BLOCK_SIZE - 1) / BLOCK_SIZE;
	std::size_t head = (0u - start) % ROW_SIZE, at = std::min(head, image_size), lines = 0, in_line = 0;
	std::uint32_t address = start + static_cast<std::uint32_t>(head);
	for (std::size_t i = 0; i < text.size(); i++) {
		if (text[i] == '\n') {
			lines++;
			in_line = 0;
			continue;
		}
		if (i + 2 >= text.size() || !std::strchr("0123456789ABCDEF", text[i]) ||
		    !std::strchr("0123456789ABCDEF", text[i + 1]) || text[i + 2] != ' ' ||
		    ++in_line > ROWS_PER_BLOCK)
			std::abort();
		unsigned sum = static_cast<unsigned>(std::stoul(text.substr(i, 2), nullptr, 16));
		sum += (address & 0xFF) + (address >> 8 & 0xFF);
		for (std::size_t b = 0; b < ROW_SIZE; b++)
			sum += image[at + b];
		if (sum % 256 != 0)
			std::abort();
		address += ROW_SIZE;
		at += ROW_SIZE;
		i += 2;
	}
	if (lines != blocks || at != std::min(head, image_size) + (image_size - std::min(head, image_size)) / ROW_SIZE * ROW_SIZE)
		std::abort();

	// The image's own output, as it is or with a slip made in it, of a kind
	// that the start address's dropped bits pick.
	std::string listing = slip(text, edit, image_size > edit ? image[edit] : 0, image, image_size, start);
	// UTF-16 is for the unit tests: no byte order mark of it comes first.
	while (listing.compare(0, 2, "\xFF\xFE") == 0 || listing.compare(0, 2, "\xFE\xFF") == 0)
		listing.erase(0, 1);
	std::FILE *listed = std::tmpfile();
	if (listed == nullptr)
		std::abort();
	std::fwrite(listing.data(), 1, listing.size(), listed);
	std::rewind(in);
	std::rewind(listed);
	std::rewind(out);
	open_binary(&source, in, 0, WHOLE_FILE);
	int status = check_image(&source, start, listed, "listing", out), expected;
	std::string report = contents(out), plain = plain_check(image, image_size, start, listing, &expected);
	if (report != plain || status != expected)
		differs("listing:\n" + listing + "\n" + format("status %d, expected %d", status, expected), report, plain);
	std::fclose(in);
	std::fclose(listed);

	// The image with bytes left out or typed twice, once or twice over,
	// against its own output as it was: 1 to 17 bytes at a place and of a
	// kind that its bytes pick.
	std::vector<std::uint8_t> slipped(image, image + image_size);
	for (std::size_t k = 0; k + 2 < image_size && k < 6; k += 3) {
		if (k > 0 && image[k] % 2 == 0)
			break;
		std::size_t at = image[k] * slipped.size() / 256, n = image[k + 1] % 17 + 1;
		n = std::min(n, slipped.size() - at);
		if (image[k + 2] % 2 == 0)
			slipped.erase(slipped.begin() + static_cast<std::ptrdiff_t>(at),
			              slipped.begin() + static_cast<std::ptrdiff_t>(at + n));
		else if (image[k + 2] % 4 == 1) {	// typed twice
			std::vector<std::uint8_t> twice(slipped.begin() + static_cast<std::ptrdiff_t>(at - std::min(at, n)),
			                                slipped.begin() + static_cast<std::ptrdiff_t>(at));
			slipped.insert(slipped.begin() + static_cast<std::ptrdiff_t>(at), twice.begin(), twice.end());
		} else
			slipped.insert(slipped.begin() + static_cast<std::ptrdiff_t>(at), n, image[k + 2]);
	}
	in = std::tmpfile();
	listed = std::tmpfile();
	if (in == nullptr || listed == nullptr)
		std::abort();
	std::fwrite(slipped.data(), 1, slipped.size(), in);
	std::fwrite(text.data(), 1, text.size(), listed);
	std::rewind(in);
	std::rewind(listed);
	std::rewind(out);
	open_binary(&source, in, 0, WHOLE_FILE);
	status = check_image(&source, start, listed, "listing", out);
	report = contents(out);
	plain = plain_check(slipped.data(), slipped.size(), start, text, &expected);
	if (report != plain || status != expected)
		differs("image slipped, listing:\n" + text + format("status %d, expected %d", status, expected), report, plain);
	std::fclose(in);
	std::fclose(out);
	std::fclose(listed);

	// The readers of other formats, on the image and on anything.
	round_trip(image, std::min<std::size_t>(image_size, 4096), start, image_size > 1 ? image[0] | image[1] << 8 : 0);
	dump_round_trip(image, std::min<std::size_t>(image_size, 4096), start, image_size > 1 ? image[0] | image[1] << 8 : 0,
	                image_size > 2 ? image[2] : 0);
	any_bytes(data, size, start);
	// The image's bytes as the text of a dump, its whole image or a part.
	std::uint64_t skip = data[1] & 1 ? data[2] % 32 : 0, length = data[1] & 2 ? data[3] % 64 : WHOLE_FILE;
	dump_agrees(std::string(reinterpret_cast<const char *>(image), image_size), skip, length);
	return 0;
}