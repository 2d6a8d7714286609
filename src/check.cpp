#include "check.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "address.h"

namespace {

char *put_utf8(char *to, std::uint32_t c)
{
	if (c < 0x80) {
		*to++ = static_cast<char>(c);
	} else if (c < 0x800) {
		*to++ = static_cast<char>(0xC0 | c >> 6);
		*to++ = static_cast<char>(0x80 | (c & 0x3F));
	} else if (c < 0x10000) {
		*to++ = static_cast<char>(0xE0 | c >> 12);
		*to++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
		*to++ = static_cast<char>(0x80 | (c & 0x3F));
	} else {
		*to++ = static_cast<char>(0xF0 | c >> 18);
		*to++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
		*to++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
		*to++ = static_cast<char>(0x80 | (c & 0x3F));
	}
	return to;
}

constexpr std::uint32_t REPLACEMENT = 0xFFFD;	// for what stands for no character

char *put_unit(Listing *l, char *to, unsigned unit)
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

	char *to = l->data + l->len;
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
std::size_t at_hand(Listing *l, std::size_t want)
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

// What stands at pos: a blank, the end of the line (or of the listing), or
// a character of a token. A CR is a line end only before an LF.
enum class Next { BLANK, LINE_END, TOKEN };

Next look(Listing *l, std::size_t *width)
{
	std::size_t n = at_hand(l, 2);
	const char *p = l->data + l->pos;
	*width = 1;
	if (n == 0) {
		*width = 0;
		return Next::LINE_END;
	}
	if (*p == ' ' || *p == '\t')
		return Next::BLANK;
	if (*p == '\n')
		return Next::LINE_END;
	if (*p == '\r' && n >= 2 && p[1] == '\n') {
		*width = 2;
		return Next::LINE_END;
	}
	return Next::TOKEN;
}

// Reads the token at pos, keeping what a message shows of it: true, with its
// value stored and counted, if it is two hexadecimal digits.
bool read_token(Listing *l, std::uint8_t values[ROWS_PER_BLOCK], std::uint64_t *count)
{
	std::size_t width;

	l->token_len = 0;
	while (look(l, &width) == Next::TOKEN) {
		if (l->token_len < sizeof l->token)
			l->token[l->token_len++] = l->data[l->pos];
		l->pos++;
	}
	int high, low;
	if (l->token_len == 2 && (high = hex_value(l->token[0])) >= 0 &&
	    (low = hex_value(l->token[1])) >= 0) {
		if (*count < ROWS_PER_BLOCK)
			values[*count] = static_cast<std::uint8_t>(high << 4 | low);
		++*count;
		return true;
	}
	// A long token is shown cut, and not within a character.
	l->token_cut = l->token_len > TOKEN_SHOWN;
	if (l->token_cut) {
		l->token_len = TOKEN_SHOWN;
		while (l->token_len > 0 && (l->token[l->token_len] & 0xC0) == 0x80)
			l->token_len--;
	}
	return false;
}

const char *plural(std::uint64_t n)
{
	return n == 1 ? "" : "s";
}

// Reports each whole row of the scan's block whose value the listing's line
// does not hold, `listed` holding the first of its `count` values; returns
// how many it reported.
std::uint64_t compare_line(const Scan *scan, const std::uint8_t listed[ROWS_PER_BLOCK],
                           std::uint64_t count, std::FILE *out)
{
	std::uint64_t differ = 0;

	for (std::size_t k = 0; k < scan->count; k++) {
		std::size_t row = scan->first + k;
		std::uint32_t address = scan->base + static_cast<std::uint32_t>(row * ROW_SIZE);
		unsigned value = scan->values[row];
		if (k < count && listed[k] == value)
			continue;
		differ++;
		if (k >= count) {
			std::fprintf(out, "%08" PRIX32 ": listing has no value, image %02X\n", address, value);
			continue;
		}
		const unsigned char *b = scan->block + row * ROW_SIZE;
		std::fprintf(out, "%08" PRIX32 ": listing %02X, image %02X, offset %llX, bytes "
		             "%02X %02X %02X %02X %02X %02X %02X %02X\n", address, listed[k], value,
		             static_cast<unsigned long long>(scan->offset + k * ROW_SIZE),
		             b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
	}
	return differ;
}

int bad_value(const Listing *l, const char *name, std::FILE *out)
{
	std::fprintf(out, "%s:%llu: bad value ", name, static_cast<unsigned long long>(l->line));
	std::fwrite(l->token, 1, l->token_len, out);
	std::fputs(l->token_cut ? "...\n" : "\n", out);
	return 2;
}

}  // namespace

void open_listing(Listing *l, std::FILE *in)
{
	l->file = in;
	l->utf16 = l->big_endian = false;
	l->line = 0;
	l->token_len = 0;
	l->token_cut = false;
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

bool take_line(Listing *l, const char *text, std::size_t len)
{
	std::size_t n = at_hand(l, len + 2);
	const char *end = l->data + l->pos + len;

	if (n < len || std::memcmp(l->data + l->pos, text, len) != 0)
		return false;
	if (n == len)	// the listing's last line, without a line end
		l->pos += len;
	else if (end[0] == '\n')
		l->pos += len + 1;
	else if (end[0] == '\r' && n >= len + 2 && end[1] == '\n')
		l->pos += len + 2;
	else
		return false;
	l->line++;
	return true;
}

LineRead read_values(Listing *l, std::uint8_t values[ROWS_PER_BLOCK], std::uint64_t *count)
{
	while (at_hand(l, 1) > 0) {
		l->line++;
		*count = 0;
		for (;;) {
			std::size_t width;
			Next next = look(l, &width);
			if (next == Next::TOKEN) {
				if (!read_token(l, values, count))
					return LineRead::BAD;
				continue;
			}
			l->pos += width;
			if (next == Next::LINE_END)
				break;
		}
		if (*count > 0)
			return LineRead::VALUES;
	}
	return LineRead::END;
}

int check_image(std::FILE *image, std::uint32_t start, std::FILE *listing_file,
                const char *listing_name, std::FILE *out)
{
	Scan scan{};
	Listing listing{};
	std::uint8_t listed[ROWS_PER_BLOCK];
	std::uint64_t count, rows = 0, differ = 0;
	// Values of the listing's line beyond the image's line: reported at the
	// next line of the image, or as values past its end if it has none.
	std::uint64_t extra = 0, extra_line = 0;
	std::uint32_t extra_at = 0;
	bool more_listed = false;	// the listing has values the image has no row for
	// Where the listing ran out, if it did, and the image's rows before it.
	bool listing_ended = false;
	std::uint32_t ended_at = 0;
	std::uint64_t rows_listed = 0;

	open_listing(&listing, listing_file);
	start_scan(&scan, image, start);
	while (next_block(&scan)) {
		if (scan.count == 0)	// a piece of a row takes part in nothing
			continue;
		rows += scan.count;
		if (listing_ended)
			continue;
		if (extra > 0) {
			std::fprintf(out, "%08" PRIX32 ": listing has %llu more value%s on line %llu\n",
			             extra_at, static_cast<unsigned long long>(extra), plural(extra),
			             static_cast<unsigned long long>(extra_line));
			more_listed = true;
			extra = 0;
		}
		char line[3 * ROWS_PER_BLOCK + 1];
		format_values(scan.values, line);
		if (take_line(&listing, line + 3 * scan.first, 3 * scan.count))
			continue;
		LineRead read = read_values(&listing, listed, &count);
		if (std::ferror(listing_file))
			return 2;
		if (read == LineRead::BAD)
			return bad_value(&listing, listing_name, out);
		if (read == LineRead::END) {
			listing_ended = true;
			ended_at = scan.base + static_cast<std::uint32_t>(scan.first * ROW_SIZE);
			rows_listed = rows - scan.count;
			continue;
		}
		differ += compare_line(&scan, listed, count, out);
		if (count > scan.count) {
			extra = count - scan.count;
			extra_line = listing.line;
			extra_at = scan.address;
		}
	}
	if (std::ferror(image) || std::ferror(listing_file))
		return 2;

	if (listing_ended) {
		std::uint64_t left = rows - rows_listed;
		std::fprintf(out, "%08" PRIX32 ": listing ends, image has %llu more row%s\n", ended_at,
		             static_cast<unsigned long long>(left), plural(left));
		differ += left;
	} else {
		LineRead read;
		while ((read = read_values(&listing, listed, &count)) == LineRead::VALUES)
			extra += count;
		if (std::ferror(listing_file))
			return 2;
		if (read == LineRead::BAD)
			return bad_value(&listing, listing_name, out);
		if (extra > 0) {
			std::fprintf(out, "%08" PRIX32 ": image ends, listing has %llu more value%s\n",
			             scan.address, static_cast<unsigned long long>(extra), plural(extra));
			more_listed = true;
		}
	}
	if (differ == 0 && !more_listed) {
		std::fprintf(out, "all %llu rows match\n", static_cast<unsigned long long>(rows));
		return 0;
	}
	std::fprintf(out, "%llu of %llu rows differ\n", static_cast<unsigned long long>(differ),
	             static_cast<unsigned long long>(rows));
	return 1;
}
