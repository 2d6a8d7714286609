#include "check.h"

#include <algorithm>
#include <cstring>

#include "fit.h"
#include "listing.h"
#include "records.h"
#include "scan.h"

namespace {

// Where the image and the listing part, the first way back into step that
// CONFIRM values matching in a row bear out is taken (a false match among
// random values is 1 in 2^32), looking at most MOST_ADRIFT rows or values
// on: four lines skipped or typed twice at once.
constexpr std::uint64_t CONFIRM = 4;
constexpr std::uint64_t MOST_ADRIFT = 64;
// What a step looks at, and what is held of each stream: that, and a
// block's rows more. A power of two.
constexpr std::uint64_t AHEAD = MOST_ADRIFT + CONFIRM;
constexpr std::uint64_t HELD = 128;
static_assert(HELD >= AHEAD + ROWS_PER_BLOCK && (HELD & (HELD - 1)) == 0);
// Where no step fits, bytes of the image left out or typed twice, 1 to
// MOST_SLIPPED of them: a row's value then names a lost byte outright. The
// held rows, and the piece of a row after the last, go back to the scanner
// to be read from the new place.
constexpr std::size_t MOST_SLIPPED = 16;
constexpr std::size_t SLIP_BYTES = MOST_SLIPPED + ROW_SIZE + CONFIRM * ROW_SIZE;
static_assert(HELD * ROW_SIZE + ROW_SIZE <= SCAN_REWIND && SLIP_BYTES <= AHEAD * ROW_SIZE);

struct Row {
	std::uint32_t address;
	std::uint16_t value;	// as wide as a listed value, which it is compared with
	unsigned char bytes[ROW_SIZE];
	std::uint64_t offset;
};

// A value of the listing: a byte, or TYPO, a token of text in a value's
// place, which no row's value ever is.
struct Value {
	std::uint16_t value;
	std::uint64_t line;
};

constexpr std::uint16_t TYPO = 0x100;

// Rows R[0..M) of the image and values V[0..P) of the listing: rows_read
// and values_read have been read, and R[i..rows_read) and V[j..values_read)
// are held, by their index modulo HELD. M and P are known once each stream
// has ended.
struct Check {
	Scan scan;
	Listing listing;
	Image *image_in;
	std::FILE *listing_file, *out;
	Row rows[HELD];
	Value values[HELD];
	// Each typo held, as a message shows it.
	char typo_text[HELD][4 * TOKEN_SHOWN + 4];
	std::size_t typo_len[HELD];
	bool early_typo;	// among the first FIT_ROWS values: nothing can make them fit
	std::uint64_t i, j, rows_read, values_read;
	bool image_ended, listing_ended;
	bool bad;	// the listing ended at a bad value, on bad_line
	std::uint64_t bad_line;
	bool failed;	// a read failed
	// The piece of a row after the image's last whole row, once read.
	unsigned char tail[ROW_SIZE];
	std::size_t tail_len;
	std::uint64_t differ, extra;
	// For the search for a fit: the listing's first values, the image's
	// first bytes from its first whole row on, which is at `rows_from` in
	// its file after `skip` bytes passed over.
	unsigned char image[FIT_BYTES];
	std::size_t image_kept;
	std::uint64_t skip, rows_from;
	std::uint8_t listed[FIT_ROWS];
};

const Row &row(const Check *c, std::uint64_t k)
{
	return c->rows[k % HELD];
}

const Value &value(const Check *c, std::uint64_t k)
{
	return c->values[k % HELD];
}

// Keeps what the block just read holds of the image's first bytes, for the
// search for a fit, and the piece of a row after its last whole row. After
// a slip the scanner hands out bytes kept already once more.
void keep_bytes(Check *c)
{
	const Scan &s = c->scan;
	const unsigned char *bytes = s.block + s.first * ROW_SIZE;
	std::uint64_t at = s.offset - c->rows_from;
	if (c->image_kept < FIT_BYTES && at + s.bytes > c->image_kept) {
		std::size_t from = static_cast<std::size_t>(c->image_kept - at);
		std::size_t n = std::min(s.bytes - from, FIT_BYTES - c->image_kept);
		std::memcpy(c->image + c->image_kept, bytes + from, n);
		c->image_kept += n;
	}
	c->tail_len = s.bytes - s.count * ROW_SIZE;
	std::memcpy(c->tail, bytes + s.count * ROW_SIZE, c->tail_len);
}

// Reads the image's next block touched; false at its end. Inlined, as a
// call per block costs the matching path a tenth of an instruction a byte.
[[gnu::always_inline]] inline bool read_block(Check *c)
{
	if (next_block(&c->scan)) {
		// Most blocks are whole and far from the image's start.
		if (c->image_kept < FIT_BYTES || c->scan.bytes != BLOCK_SIZE || c->tail_len > 0)
			keep_bytes(c);
		return true;
	}
	c->image_ended = true;
	c->failed |= image_failed(c->image_in);
	return false;
}

void hold_rows(Check *c)
{
	const Scan &s = c->scan;
	for (std::size_t k = 0; k < s.count; k++) {
		std::size_t r = s.first + k;
		Row &to = c->rows[c->rows_read++ % HELD];
		to.address = s.base + static_cast<std::uint32_t>(r * ROW_SIZE);
		to.value = s.values[r];
		std::memcpy(to.bytes, s.block + r * ROW_SIZE, ROW_SIZE);
		to.offset = s.offset + k * ROW_SIZE;
	}
}

// Rows held from i on, having read up to `want` of them if the image has them.
std::uint64_t rows_ahead(Check *c, std::uint64_t want)
{
	while (c->rows_read - c->i < want && !c->image_ended)
		if (read_block(c))
			hold_rows(c);
	return c->rows_read - c->i;
}

// The listing's next value into `to`; false at its end, or at a bad value,
// after which nothing more is read: the first bad value is the one named.
bool read_value(Check *c, Value *to)
{
	if (c->listing_ended)
		return false;
	std::uint8_t byte;
	switch (next_value(&c->listing, &byte, &to->line)) {
	case ListingRead::VALUE:
		to->value = byte;
		return true;
	case ListingRead::TYPO:
		to->value = TYPO;
		return true;
	case ListingRead::BAD:
		c->bad = true;
		c->bad_line = to->line;
		break;
	case ListingRead::END:
		break;
	}
	// A failed read ends the listing where it failed, maybe within a token.
	c->failed |= std::ferror(c->listing_file) != 0;
	c->listing_ended = true;
	return false;
}

// Keeps what the search for a fit needs of the listing's first values,
// and a typo as its report shows it.
[[gnu::noinline]] void keep_value(Check *c, const Value &v)
{
	if (v.value == TYPO)
		c->typo_len[c->values_read % HELD] = show_token(&c->listing, c->typo_text[c->values_read % HELD]);
	if (c->values_read < FIT_ROWS) {
		c->listed[c->values_read] = static_cast<std::uint8_t>(v.value);
		c->early_typo |= v.value == TYPO;
	}
}

// Values held from j on, having read up to `want` of them if the listing has them.
std::uint64_t values_ahead(Check *c, std::uint64_t want)
{
	while (c->values_read - c->j < want && !c->listing_ended) {
		Value &v = c->values[c->values_read % HELD];
		if (!read_value(c, &v))
			break;
		if (v.value == TYPO || c->values_read < FIT_ROWS)
			keep_value(c, v);
		c->values_read++;
	}
	return c->values_read - c->j;
}

// Whether skipping a rows and b values brings the streams back into step:
// CONFIRM values on match, or as many as there are, both streams ending
// together. `rows` and `values` are those held from i and j on, all there
// are where fewer than AHEAD.
bool fits(const Check *c, std::uint64_t a, std::uint64_t b, std::uint64_t rows, std::uint64_t values)
{
	if (a > rows || b > values)
		return false;
	std::uint64_t n = std::min({CONFIRM, rows - a, values - b});
	if (n == 0)
		return rows == a && values == b;
	for (std::uint64_t t = 0; t < n; t++)
		if (row(c, c->i + a + t).value != value(c, c->j + b + t).value)
			return false;
	return true;
}


// Writes `value` in upper-case hexadecimal, in at least `width` digits.
char *put_hex(char *to, std::uint64_t value, int width)
{
	int digits = 1;
	while (digits < 16 && value >> 4 * digits != 0)
		digits++;
	digits = std::max(digits, width);
	for (int k = digits - 1; k >= 0; k--)
		*to++ = "0123456789ABCDEF"[value >> 4 * k & 0xF];
	return to;
}

char *put_decimal(char *to, std::uint64_t value)
{
	char digits[20], *d = digits;
	do
		*d++ = static_cast<char>('0' + value % 10);
	while ((value /= 10) != 0);
	while (d != digits)
		*to++ = *--d;
	return to;
}

char *put_text(char *to, const char *text)
{
	std::size_t len = std::strlen(text);
	std::memcpy(to, text, len);
	return to + len;
}

// The lines of the values a report names.
char *put_lines(char *to, std::uint64_t first_line, std::uint64_t last_line)
{
	to = put_text(to, first_line == last_line ? " (line " : " (lines ");
	to = put_decimal(to, first_line);
	if (first_line != last_line) {
		*to++ = '-';
		to = put_decimal(to, last_line);
	}
	*to++ = ')';
	return to;
}

// Where the `n` bytes of the image from `offset` on stand in its file: the
// first one's offset in a binary file; the lines that hold them in a file of
// text, leaving out fill, or fill where that is all they are.
char *put_place(char *to, const Check *c, std::uint64_t offset, std::size_t n)
{
	if (!c->image_in->has_lines)
		return put_hex(put_text(to, ", offset "), offset, 1);
	std::uint64_t least, greatest;
	image_lines(c->image_in, offset, n, &least, &greatest);
	if (least == 0)
		return put_text(to, ", fill");
	to = put_text(to, least == greatest ? ", image line " : ", image lines ");
	to = put_decimal(to, least);
	if (least != greatest) {
		*to++ = '-';
		to = put_decimal(to, greatest);
	}
	return to;
}

// Ends a report with the lines of the values it names.
void end_report(std::FILE *out, std::uint64_t first_line, std::uint64_t last_line)
{
	char text[64], *to = put_lines(text, first_line, last_line);
	*to++ = '\n';
	std::fwrite(text, 1, static_cast<std::size_t>(to - text), out);
}

// The image's bytes from R[i] on, at most `most` of them: the held rows',
// then the piece of a row after the image's last. Their number, all there
// are where fewer, into *all.
std::size_t image_bytes(const Check *c, unsigned char *to, std::size_t most, std::size_t *all)
{
	std::size_t n = 0;
	for (std::uint64_t k = c->i; k < c->rows_read && n + ROW_SIZE <= most; k++, n += ROW_SIZE)
		std::memcpy(to + n, row(c, k).bytes, ROW_SIZE);
	*all = static_cast<std::size_t>(c->rows_read - c->i) * ROW_SIZE + c->tail_len;
	if (n == *all - c->tail_len) {
		std::size_t piece = std::min(c->tail_len, most - n);
		std::memcpy(to + n, c->tail, piece);
		n += piece;
	}
	return n;
}

std::uint8_t address_sum(std::uint32_t address)
{
	return static_cast<std::uint8_t>((address & 0xFF) + (address >> 8 & 0xFF));
}

// The line that names what a binary image's first bytes look like, where
// they are the first line of a file of records or of a dump, or nullptr.
const char *format_hint(const unsigned char *image, std::size_t n)
{
	// The line: up to the first line end, at most 600 bytes, without a
	// byte order mark and blanks at its ends.
	const unsigned char *p = image;
	n = std::min<std::size_t>(n, 600);
	std::size_t end = 0;
	while (end < n && p[end] != '\n' && p[end] != '\r')
		end++;
	if (end >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
		p += 3, end -= 3;
	while (end > 0 && (p[0] == ' ' || p[0] == '\t'))
		p++, end--;
	while (end > 0 && (p[end - 1] == ' ' || p[end - 1] == '\t'))
		end--;
	if (sound_record(p, end, RecordFormat::IHEX))
		return "image looks like Intel HEX: try --format=ihex\n";
	if (sound_record(p, end, RecordFormat::SREC))
		return "image looks like S-records: try --format=srec\n";
	if (values_line(p, end, 8))
		return "image looks like a hex dump: try --format=dump\n";
	return nullptr;
}

// Tries bytes of the image left out or typed twice at R[i], the fewest
// first, a loss before a doubling; reports the first that CONFIRM rows from
// the new place bear out, and goes on from there. False where none does.
bool image_slip(Check *c, std::uint64_t values)
{
	unsigned char bytes[SLIP_BYTES];
	std::size_t all, n = image_bytes(c, bytes, SLIP_BYTES, &all);
	// Row sums from any byte on, as differences of these.
	unsigned sums[SLIP_BYTES + 1] = {};
	for (std::size_t k = 0; k < n; k++)
		sums[k + 1] = sums[k] + bytes[k];
	const Row &r = row(c, c->i);
	// The values the rows after a slip are held against, at hand.
	constexpr std::size_t WANTED = (MOST_SLIPPED + ROW_SIZE - 1) / ROW_SIZE + CONFIRM;
	std::uint16_t wanted[WANTED];
	std::uint8_t address_sums[WANTED];	// of the rows' addresses from R[i]'s on
	for (std::size_t k = 0; k < WANTED; k++) {
		wanted[k] = k < values ? value(c, c->j + k).value : TYPO;
		address_sums[k] = address_sum(r.address + static_cast<std::uint32_t>(k * ROW_SIZE));
	}

	for (std::size_t e = 1; e <= MOST_SLIPPED; e++) {
		for (bool lacks : {true, false}) {
			// The listing's next `covered` values stand for the next
			// `from` bytes; the rows go on from there.
			std::size_t covered = lacks ? (e + ROW_SIZE - 1) / ROW_SIZE : 1;
			std::size_t from = lacks ? covered * ROW_SIZE - e : ROW_SIZE + e;
			std::uint32_t address = r.address + static_cast<std::uint32_t>(covered * ROW_SIZE);
			if (n < from + CONFIRM * ROW_SIZE || values < covered + CONFIRM)
				continue;
			std::uint64_t t = 0;
			for (; t < CONFIRM; t++) {
				std::size_t at = from + t * ROW_SIZE;
				std::uint8_t sum = static_cast<std::uint8_t>(address_sums[covered + t] + sums[at + ROW_SIZE] - sums[at]);
				if (static_cast<std::uint8_t>(0u - sum) != wanted[covered + t])
					break;
			}
			if (t < CONFIRM)
				continue;

			const Value &v = value(c, c->j);
			char line[256], *to = line;
			to = put_hex(to, r.address, 8);
			to = put_text(to, lacks ? ": image lacks " : ": image has ");
			to = put_decimal(to, e);
			to = put_text(to, lacks ? " byte" : " extra byte");
			to = put_text(to, plural(e));
			to = put_lines(to, v.line, value(c, c->j + covered - 1).line);
			// Where it shows no bytes, the place is that of the next,
			// where the check goes on.
			to = put_place(to, c, r.offset, std::max<std::size_t>(from, 1));
			if (from > 0)
				to = put_text(to, ", bytes");
			for (std::size_t k = 0; k < from; k++) {
				*to++ = ' ';
				to = put_hex(to, bytes[k], 2);
			}
			// A typo names no byte.
			if (e == 1 && v.value != TYPO) {
				std::uint8_t listed = static_cast<std::uint8_t>(v.value);
				to = put_text(to, lacks ? ", the missing byte is " : ", the extra byte is ");
				to = put_hex(to, lacks ? missing_byte(r.address, bytes, listed)
				                       : extra_byte(r.address, bytes, listed), 2);
			}
			*to++ = '\n';
			std::fwrite(line, 1, static_cast<std::size_t>(to - line), c->out);

			c->differ += covered;
			c->i += covered;
			c->j += covered;
			// What was read past the new place is read again from it.
			std::uint64_t offset = r.offset + from;
			c->rows_read = c->i;
			c->tail_len = 0;
			c->image_ended = false;
			rewind_scan(&c->scan, all - from, address, offset);
			return true;
		}
	}
	return false;
}

// The streams part at R[i] and V[j]: takes the first step that fits, by the
// fewest rows or values passed over, and reports it.
void step(Check *c)
{
	std::uint64_t rows = rows_ahead(c, AHEAD), values = values_ahead(c, AHEAD);
	std::uint64_t a = 1, b = 1;

	// Every step past (1, 1) needs R[i + a] == V[j + b] first: a cheap
	// test that spares fits() for unrelated values.
	std::uint16_t row_value = row(c, c->i).value, listed = value(c, c->j).value;
	if (!fits(c, 1, 1, rows, values)) {
		bool found = false;
		for (std::uint64_t d = 1; d <= MOST_ADRIFT && !found; d++) {
			if (d < rows && row(c, c->i + d).value == listed && fits(c, d, 0, rows, values))
				a = d, b = 0, found = true;
			else if (d < values && value(c, c->j + d).value == row_value && fits(c, 0, d, rows, values))
				a = 0, b = d, found = true;
		}
		if (!found && !c->image_in->placed && image_slip(c, values))
			return;
	}
	const Row &r = row(c, c->i);
	const Value &v = value(c, c->j);
	if (a == 1 && b == 1) {
		// Unrelated values make one of these a row: no printf for them.
		char line[128 + sizeof c->typo_text[0]], *to = line;
		to = put_hex(to, r.address, 8);
		to = put_text(to, ": listing ");
		if (v.value == TYPO) {
			std::size_t k = c->j % HELD;
			to = std::copy_n(c->typo_text[k], c->typo_len[k], to);
		} else {
			to = put_hex(to, v.value, 2);
		}
		to = put_text(to, " (line ");
		to = put_decimal(to, v.line);
		to = put_text(to, "), image ");
		to = put_hex(to, r.value, 2);
		to = put_place(to, c, r.offset, ROW_SIZE);
		to = put_text(to, ", bytes");
		for (unsigned char byte : r.bytes) {
			*to++ = ' ';
			to = put_hex(to, byte, 2);
		}
		*to++ = '\n';
		std::fwrite(line, 1, static_cast<std::size_t>(to - line), c->out);
	} else if (b == 0) {
		std::fprintf(c->out, "%08X: listing has no value for %llu row%s", static_cast<unsigned>(r.address),
		             static_cast<unsigned long long>(a), plural(a));
		end_report(c->out, v.line, v.line);
	} else {
		std::fprintf(c->out, "%08X: listing has %llu extra value%s", static_cast<unsigned>(r.address),
		             static_cast<unsigned long long>(b), plural(b));
		end_report(c->out, v.line, value(c, c->j + b - 1).line);
	}
	if (b == 0 || a == 1)
		c->differ += a;
	else
		c->extra += b;
	c->i += a;
	c->j += b;
}

// Walks both streams in step, reporting each slip, until one of them ends.
void align(Check *c)
{
	for (;;) {
		// The usual case: nothing held, and the listing's next values
		// those of the next block, taken as a whole as far as they match.
		if (c->i == c->rows_read && c->j == c->values_read && !c->listing_ended) {
			if (!read_block(c))
				return;
			const Scan &s = c->scan;
			char line[3 * ROWS_PER_BLOCK + 1];
			format_values(s.values, line);
			std::size_t taken = take_values(&c->listing, line + 3 * s.first, s.count);
			for (std::size_t k = 0; k < taken && c->j + k < FIT_ROWS; k++)
				c->listed[c->j + k] = s.values[s.first + k];
			if (taken == s.count) {
				c->i = c->rows_read += taken;
				c->j = c->values_read += taken;
				continue;
			}
			hold_rows(c);
			c->i += taken;
			c->j = c->values_read += taken;
		}
		if (rows_ahead(c, 1) == 0 || values_ahead(c, 1) == 0 || c->failed)
			return;
		if (row(c, c->i).value == value(c, c->j).value) {
			c->i++;
			c->j++;
			continue;
		}
		step(c);
	}
}

}  // namespace

std::uint8_t missing_byte(std::uint32_t address, const unsigned char *bytes, std::uint8_t value)
{
	unsigned sum = address_sum(address) + value;
	for (std::size_t k = 0; k < ROW_SIZE - 1; k++)
		sum += bytes[k];
	return static_cast<std::uint8_t>(0u - sum);
}

std::uint8_t extra_byte(std::uint32_t address, const unsigned char *bytes, std::uint8_t value)
{
	unsigned sum = address_sum(address) + value;
	for (std::size_t k = 0; k < ROW_SIZE + 1; k++)
		sum += bytes[k];
	return static_cast<std::uint8_t>(sum);
}

int check_image(Image *image, std::uint32_t start, std::FILE *listing_file, const char *listing_name,
                std::FILE *out)
{
	static Check check;	// too large for some stacks
	Check *c = &check;

	std::memset(c, 0, sizeof *c);
	c->skip = image->offset;
	c->image_in = image;
	c->listing_file = listing_file;
	c->out = out;
	open_listing(&c->listing, listing_file);
	start_scan(&c->scan, image, start);
	c->rows_from = c->scan.offset;
	align(c);
	if (c->failed)
		return 2;

	if (rows_ahead(c, 1) > 0 && !c->bad) {
		// The listing ended first: the rest of the image has no values.
		std::uint32_t at = row(c, c->i).address;
		std::uint64_t left = c->rows_read - c->i;
		while (read_block(c))
			left += c->scan.count;
		if (c->failed)
			return 2;
		// A listing of text and no values is no listing of this image.
		if (c->values_read == 0 && only_text(&c->listing, listing_name, out))
			return 2;
		std::fprintf(out, "%08X: listing ends, image has %llu more row%s\n", static_cast<unsigned>(at),
		             static_cast<unsigned long long>(left), plural(left));
		c->differ += left;
		c->i += left;
	} else if (values_ahead(c, 1) > 0) {
		// The image ended first: the rest of the listing has no rows.
		std::uint64_t first_line = value(c, c->j).line;
		std::uint64_t last_line = value(c, c->values_read - 1).line;
		std::uint64_t left = c->values_read - c->j;
		Value v;
		while (read_value(c, &v)) {
			left++;
			last_line = v.line;
		}
		if (c->failed)
			return 2;
		// Where the next row would be: of an empty image, its first.
		std::uint32_t at = c->scan.address + (0u - c->scan.address) % ROW_SIZE;
		std::fprintf(out, "%08X: image ends, listing has %llu more value%s",
		             static_cast<unsigned>(at), static_cast<unsigned long long>(left),
		             plural(left));
		end_report(out, first_line, last_line);
		c->extra += left;
	}
	if (c->failed)
		return 2;
	if (c->bad) {
		write_shown(listing_name, out);
		std::fprintf(out, ":%llu: bad value ", static_cast<unsigned long long>(c->bad_line));
		write_token(&c->listing, out);
		std::fputc('\n', out);
		return 2;
	}
	if (c->values_read == 0 && only_text(&c->listing, listing_name, out))
		return 2;
	// What no row covers is said, lest a match be taken for the whole image.
	char unchecked[160] = "";
	std::size_t before = c->scan.before;
	if (before > 0 && c->tail_len > 0)
		std::snprintf(unchecked, sizeof unchecked, ", %zu byte%s before the first row and %zu after the last row unchecked",
		              before, plural(before), c->tail_len);
	else if (before > 0)
		std::snprintf(unchecked, sizeof unchecked, ", %zu byte%s before the first row unchecked", before,
		              plural(before));
	else if (c->tail_len > 0)
		std::snprintf(unchecked, sizeof unchecked, ", %zu byte%s after the last row unchecked", c->tail_len,
		              plural(c->tail_len));
	if (c->differ == 0 && c->extra == 0) {
		std::fprintf(out, "all %llu rows match%s\n", static_cast<unsigned long long>(c->i), unchecked);
		return 0;
	}
	// A binary image can only be where the listing has it, or fit it from
	// another place; its bytes may also be text of another format, taken
	// for a binary file.
	bool fitted = !image->placed && c->values_read >= FIT_ROWS && !c->early_typo &&
	              report_fit(c->image, c->image_kept, start, c->skip, c->listed, out);
	if (!fitted && !image->has_lines) {
		const char *hint = format_hint(c->image, c->image_kept);
		if (hint != nullptr)
			std::fputs(hint, out);
	}
	std::fprintf(out, "%llu of %llu rows differ", static_cast<unsigned long long>(c->differ),
	             static_cast<unsigned long long>(c->i));
	if (c->extra > 0)
		std::fprintf(out, ", listing has %llu extra value%s", static_cast<unsigned long long>(c->extra),
		             plural(c->extra));
	std::fprintf(out, "%s\n", unchecked);
	return 1;
}
