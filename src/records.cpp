#include "records.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>

#include "listing.h"

// SSE2 as the scanner has it: every x86-64 and the Windows build.
#if defined(__SSE2__) && !defined(ROWTALLY_PORTABLE)
#define USE_SSE2 1
#include <emmintrin.h>
#endif

namespace {

// The longest text of a record: Intel HEX's colon, its length, address and
// type, 255 data bytes and the checksum. An S-record's is shorter.
constexpr std::size_t MOST_TEXT = 1 + 2 * (5 + 255);
// What decode_hex may read past the digits, and write past the bytes.
constexpr std::size_t SLACK = 64;
constexpr std::size_t READ_SIZE = 65536;

struct Reader {
	std::FILE *file;
	RecordFormat format;
	std::uint64_t line;	// the line at pos, from 1
	std::size_t pos, len;
	bool file_ended;	// the last fread came back short
	unsigned char data[READ_SIZE + SLACK];
};

struct Record {
	unsigned type;
	std::uint32_t address;	// as the record gives it
	const unsigned char *data;
	std::size_t count;
	std::uint64_t line;
	unsigned char bytes[5 + 255 + SLACK];	// the record's bytes, from its length on
};

enum class Got { RECORD, END, BAD, BAD_CHECKSUM };

struct Hex {
	signed char value[256];	// a digit's value, or -1
	unsigned char nibble[256];	// the same, 0 for what is no digit
};

constexpr Hex make_hex()
{
	Hex h{};
	for (int c = 0; c < 256; c++)
		h.value[c] = -1;
	for (int d = 0; d < 16; d++) {
		for (const char *digits : {"0123456789ABCDEF", "0123456789abcdef"}) {
			h.value[static_cast<unsigned char>(digits[d])] = static_cast<signed char>(d);
			h.nibble[static_cast<unsigned char>(digits[d])] = static_cast<unsigned char>(d);
		}
	}
	return h;
}

constexpr Hex hex = make_hex();

// The byte that two digits at p make, of a file found sound.
inline unsigned byte_at(const unsigned char *p)
{
	return static_cast<unsigned>(hex.nibble[p[0]] << 4 | hex.nibble[p[1]]);
}

#if defined(USE_SSE2)
// The values of 16 hexadecimal digits of either case; where CHECK, *ok
// loses the lanes that hold no digit. Unchecked, a file found sound costs
// four instructions for sixteen digits.
template <bool CHECK>
inline __m128i digit_values(__m128i c, __m128i *ok)
{
	if constexpr (!CHECK) {
		__m128i letter = _mm_cmpgt_epi8(c, _mm_set1_epi8('9'));
		return _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)), _mm_and_si128(letter, _mm_set1_epi8(9)));
	}
	// A digit is 0 to 9 past '0'; a letter 0 to 5 past 'a' once it is
	// lower case. Which one it is, the smaller of the two values says.
	__m128i digit = _mm_sub_epi8(c, _mm_set1_epi8('0'));
	__m128i letter = _mm_sub_epi8(_mm_or_si128(c, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
	__m128i nine = _mm_set1_epi8(9), five = _mm_set1_epi8(5);
	*ok = _mm_and_si128(*ok, _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(digit, nine), nine),
	                                      _mm_cmpeq_epi8(_mm_max_epu8(letter, five), five)));
	return _mm_min_epu8(digit, _mm_add_epi8(letter, _mm_set1_epi8(10)));
}

// Each pair of digit values, the high one first, as a byte in a 16-bit lane.
inline __m128i digit_pairs(__m128i v)
{
	return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), 4), _mm_srli_epi16(v, 8));
}
#endif

// The 2n hexadecimal digits at t as n bytes at `to`, and their sum into
// *sum; false where CHECK finds one that is no digit. Reads up to 15 bytes
// past the digits and writes up to 7 past the bytes.
template <bool CHECK>
[[gnu::always_inline]] inline bool decode_hex(const unsigned char *t, std::size_t n, unsigned char *to,
                                              unsigned *sum)
{
#if defined(USE_SSE2)
	// 16 digits at a time; those past the last are taken as zeros.
	static const unsigned char ones[32] = {
		0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
	const __m128i zero = _mm_setzero_si128();
	__m128i ok = _mm_set1_epi8(-1), total = zero;
	std::size_t digits = 2 * n, k = 0;
	auto eight = [&](__m128i c) {
		__m128i bytes = _mm_packus_epi16(digit_pairs(digit_values<CHECK>(c, &ok)), zero);
		_mm_storel_epi64(reinterpret_cast<__m128i *>(to + k / 2), bytes);
		total = _mm_add_epi64(total, _mm_sad_epu8(bytes, zero));
	};
	for (; k + 16 <= digits; k += 16)
		eight(_mm_loadu_si128(reinterpret_cast<const __m128i *>(t + k)));
	if (k < digits) {
		__m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + k));
		__m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ones + 16 - (digits - k)));
		eight(_mm_or_si128(_mm_and_si128(m, c), _mm_andnot_si128(m, _mm_set1_epi8('0'))));
	}
	*sum = static_cast<unsigned>(_mm_cvtsi128_si32(total));
	return !CHECK || _mm_movemask_epi8(ok) == 0xFFFF;
#else
	int bad = 0;
	unsigned total = 0;
	for (std::size_t i = 0; i < n; i++) {
		int high = hex.value[t[2 * i]], low = hex.value[t[2 * i + 1]];
		bad |= high | low;
		to[i] = static_cast<unsigned char>((high & 0xF) << 4 | (low & 0xF));
		total += to[i];
	}
	*sum = total;
	return !CHECK || bad >= 0;
#endif
}

// What the n bytes at t, a line with the blanks at its ends taken off, hold
// as a record of `format`; SLACK bytes after them may be read.
template <bool CHECK>
Got parse(const unsigned char *t, std::size_t n, RecordFormat format, Record *r)
{
	bool ihex = format == RecordFormat::IHEX;
	std::size_t lead = ihex ? 1 : 2;	// ":", or "S" and the type
	if (n < lead || n > MOST_TEXT || (n - lead) % 2 != 0)
		return Got::BAD;
	if (ihex ? t[0] != ':' : t[0] != 'S' || t[1] < '0' || t[1] > '9')
		return Got::BAD;
	std::size_t count = (n - lead) / 2;
	unsigned sum;
	if (!decode_hex<CHECK>(t + lead, count, r->bytes, &sum))
		return Got::BAD;
	const unsigned char *b = r->bytes;
	if (ihex) {
		// The length each type must have; 256 where any will do.
		static const unsigned length_of[6] = {256, 0, 2, 4, 2, 4};
		if (count < 5 || b[0] != count - 5 || b[3] > 5 || (length_of[b[3]] != 256 && b[0] != length_of[b[3]]))
			return Got::BAD;
		if (sum % 256 != 0)
			return Got::BAD_CHECKSUM;
		r->type = b[3];
		r->address = static_cast<std::uint32_t>(b[1] << 8 | b[2]);
		r->data = b + 4;
		r->count = b[0];
		return Got::RECORD;
	}
	// The bytes of each type's address; none for S4, which is no type.
	static const unsigned char address_of[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
	unsigned type = static_cast<unsigned>(t[1] - '0');
	std::size_t a = address_of[type];
	if (a == 0 || count < a + 2 || b[0] != count - 1 || (type >= 5 && count != a + 2))
		return Got::BAD;
	if (sum % 256 != 0xFF)
		return Got::BAD_CHECKSUM;
	r->type = type;
	r->address = 0;
	for (std::size_t k = 1; k <= a; k++)
		r->address = r->address << 8 | b[k];
	r->data = b + 1 + a;
	r->count = count - a - 2;
	return Got::RECORD;
}

void refill(Reader *rd)
{
	std::memmove(rd->data, rd->data + rd->pos, rd->len - rd->pos);
	rd->len -= rd->pos;
	rd->pos = 0;
	std::size_t want = READ_SIZE - rd->len;
	std::size_t got = std::fread(rd->data + rd->len, 1, want, rd->file);
	rd->len += got;
	rd->file_ended = got < want;
}

void start_reader(Reader *rd, std::FILE *in, RecordFormat format)
{
	// All of it touched now, so that memory is the same for any file.
	std::memset(rd, 0, sizeof *rd);
	rd->file = in;
	rd->format = format;
	rd->line = 1;
	refill(rd);
	if (rd->len >= 3 && std::memcmp(rd->data, "\xEF\xBB\xBF", 3) == 0)
		rd->pos = 3;
}

// The byte at pos, or -1 at the end of the file.
int peek(Reader *rd)
{
	if (rd->pos == rd->len && !rd->file_ended)
		refill(rd);
	return rd->pos < rd->len ? rd->data[rd->pos] : -1;
}

bool is_blank(int c)
{
	return c == ' ' || c == '\t';
}

bool is_line_end(int c)
{
	return c == '\n' || c == '\r';
}

// Passes the line end at pos, if any: LF, CR LF or a CR alone.
void end_line(Reader *rd)
{
	int c = peek(rd);
	if (c == '\r' || c == '\n')
		rd->pos++;
	if (c == '\r' && peek(rd) == '\n')
		rd->pos++;
	rd->line++;
}

// The next record; END at the end of the file, or where a read failed;
// BAD or BAD_CHECKSUM for a line that holds no sound record, r->line being
// its line. Empty lines are passed over.
template <bool CHECK>
Got next_record(Reader *rd, Record *r)
{
	bool ihex = rd->format == RecordFormat::IHEX;
	std::size_t lead = ihex ? 1 : 2;
	for (;;) {
		if (rd->len - rd->pos < MOST_TEXT + 2 && !rd->file_ended)
			refill(rd);
		const unsigned char *p = rd->data + rd->pos;
		std::size_t n = rd->len - rd->pos;
		r->line = rd->line;

		// Most lines are a record and nothing else, which ends where its
		// length says.
		if (n >= lead + 2 && p[0] == (ihex ? ':' : 'S') && (ihex || (p[1] >= '0' && p[1] <= '9'))) {
			int high = hex.value[p[lead]], low = hex.value[p[lead + 1]];
			std::size_t length = static_cast<std::size_t>(high << 4 | low);
			std::size_t text = ihex ? 11 + 2 * length : 4 + 2 * length;
			if ((high | low) >= 0 && (text < n ? is_line_end(p[text]) : text == n && rd->file_ended)) {
				Got got = parse<CHECK>(p, text, rd->format, r);
				rd->pos += text;
				end_line(rd);
				return got;
			}
		}

		// Else blanks around the record, an empty line, or no record.
		int c;
		while (is_blank(c = peek(rd)))
			rd->pos++;
		if (c < 0)
			return Got::END;
		if (is_line_end(c)) {
			end_line(rd);
			continue;
		}
		unsigned char text[MOST_TEXT + SLACK] = {};
		std::size_t len = 0;
		for (; (c = peek(rd)) >= 0 && !is_blank(c) && !is_line_end(c); rd->pos++) {
			if (len == MOST_TEXT)
				return Got::BAD;	// longer than any record
			text[len++] = static_cast<unsigned char>(c);
		}
		while (is_blank(c = peek(rd)))
			rd->pos++;
		if (c >= 0 && !is_line_end(c))
			return Got::BAD;	// a blank within the record
		Got got = parse<CHECK>(text, len, rd->format, r);
		end_line(rd);
		return got;
	}
}

// What the records have set so far, as they are read in order.
struct Walk {
	std::uint32_t base;	// from Intel HEX's 02 or 04 record
	bool segmented;		// after an 02: offsets wrap within 64 KiB
	bool ended;		// an end record came
	std::uint64_t data_records;	// S1 to S3, which S5 and S6 count
};

// Bytes of a record from data[from] on, n of them, written from address `at`.
struct Piece {
	std::uint64_t at, n;
	std::size_t from;
};

// Takes in the record, and says where its data bytes go: one piece, two
// where their addresses wrap, none for a record that holds none.
std::size_t walk(const Record *r, RecordFormat format, Walk *w, Piece pieces[2])
{
	std::uint64_t at, wrap_at = 1ull << 32, wrap_to = 0;
	if (format == RecordFormat::IHEX) {
		std::uint32_t value = r->count >= 2 ? static_cast<std::uint32_t>(r->data[0] << 8 | r->data[1]) : 0;
		switch (r->type) {
		case 0:
			break;
		case 1:
			w->ended = true;
			return 0;
		case 2:
			w->base = value << 4;
			w->segmented = true;
			return 0;
		case 4:
			w->base = value << 16;
			w->segmented = false;
			return 0;
		default:	// start addresses
			return 0;
		}
		if (w->segmented) {
			at = w->base + r->address;
			wrap_at = w->base + 0x10000ull;
			wrap_to = w->base;
		} else {
			at = (w->base + r->address) & 0xFFFFFFFFu;
		}
	} else {
		w->ended = r->type >= 7;
		if (r->type < 1 || r->type > 3)
			return 0;
		w->data_records++;
		at = r->address;
	}
	if (r->count == 0)
		return 0;
	std::uint64_t first = std::min<std::uint64_t>(r->count, wrap_at - at);
	pieces[0] = {at, first, 0};
	if (first == r->count)
		return 1;
	pieces[1] = {wrap_to, r->count - first, static_cast<std::size_t>(first)};
	return 2;
}

// The addresses written so far, as stretches [begin, end) that neither
// overlap nor touch: one, as a rule, however large the file.
struct Written {
	std::map<std::uint64_t, std::uint64_t> stretches;
	std::map<std::uint64_t, std::uint64_t>::iterator last;	// the highest stretch
	bool rising;	// each piece began at or after the end of all before it
};

// Takes in the addresses from `at` to `end`; false where one of them was
// written before, the first of them into *again.
bool write(Written *w, std::uint64_t at, std::uint64_t end, std::uint64_t *again)
{
	auto &s = w->stretches;
	if (s.empty()) {
		w->last = s.emplace(at, end).first;
		return true;
	}
	if (at >= w->last->second) {
		if (at == w->last->second)
			w->last->second = end;
		else
			w->last = s.emplace_hint(s.end(), at, end);
		return true;
	}
	w->rising = false;
	auto next = s.upper_bound(at);
	if (next != s.begin() && std::prev(next)->second > at) {
		*again = at;
		return false;
	}
	if (next != s.end() && next->first < end) {
		*again = next->first;
		return false;
	}
	if (next != s.end() && next->first == end) {
		end = next->second;
		next = s.erase(next);
	}
	if (next != s.begin() && std::prev(next)->second == at)
		std::prev(next)->second = end;
	else
		s.emplace_hint(next, at, end);
	w->last = std::prev(s.end());
	return true;
}

// What the file holds at or after the start address.
struct Found {
	bool any;
	std::uint64_t end;	// just past the highest address written
	bool rising;
};

// Reads on over the usual lines of a regular file: each a sound data
// record alone whose bytes go on where the last one's ended, above all
// written so far. Stops before any other line, which the general reading
// takes, and takes in what it read at once.
template <RecordFormat F>
void plain_records(Reader *rd, Walk *w, Written *written, Found *found, std::uint32_t start)
{
	if (written->stretches.empty() || !written->rising)
		return;
	constexpr bool ihex = F == RecordFormat::IHEX;
	constexpr std::size_t lead = ihex ? 1 : 2;
	const unsigned char *d = rd->data;
	const std::size_t len = rd->len;
	const std::uint32_t base = w->base;
	const bool segmented = w->segmented;
	std::size_t pos = rd->pos, records = 0;
	std::uint64_t next = written->last->second, from = next;
	unsigned char bytes[5 + 255 + SLACK];

	while (len - pos >= MOST_TEXT + 2) {
		const unsigned char *p = d + pos;
		if (ihex ? p[0] != ':' : p[0] != 'S' || p[1] < '1' || p[1] > '3')
			break;
		int high = hex.value[p[lead]], low = hex.value[p[lead + 1]];
		std::size_t length = static_cast<std::size_t>(high << 4 | low);
		std::size_t text = ihex ? 11 + 2 * length : 4 + 2 * length;
		unsigned char end = p[text];
		unsigned sum;
		if ((high | low) < 0 || (end != '\n' && end != '\r') ||
		    !decode_hex<true>(p + lead, ihex ? length + 5 : length + 1, bytes, &sum))
			break;
		std::uint64_t at;
		std::size_t count;
		if constexpr (ihex) {
			std::uint32_t offset = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
			if (sum % 256 != 0 || bytes[3] != 0 || length == 0 || (segmented && offset + length > 0x10000))
				break;
			at = (base + offset) & 0xFFFFFFFFu;
			count = length;
		} else {
			std::size_t a = static_cast<std::size_t>(p[1] - '0') + 1;
			if (sum % 256 != 0xFF || length <= a + 1)
				break;
			at = 0;
			for (std::size_t k = 1; k <= a; k++)
				at = at << 8 | bytes[k];
			count = length - a - 1;
		}
		if (at != next || at + count > 1ull << 32)
			break;
		next += count;
		records++;
		pos += text + 1 + (end == '\r' && p[text + 1] == '\n');
	}
	rd->pos = pos;
	rd->line += records;
	w->data_records += ihex ? 0 : records;
	written->last->second = next;
	if (next > start && next > from) {
		found->any = true;
		found->end = std::max(found->end, next);
	}
}

void say(std::FILE *out, const char *name, const char *what)
{
	write_shown(name, out);
	std::fputs(what, out);
}

void fault(std::FILE *out, const char *name, std::uint64_t line, const char *what)
{
	write_shown(name, out);
	std::fprintf(out, ":%llu: %s\n", static_cast<unsigned long long>(line), what);
}

// The line that wrote `address` first, of those before `before`: from the
// bytes kept, or from the file read again from `at`. 0 where it cannot tell.
std::uint64_t first_writer(Reader *rd, std::uint64_t at, const Stored *stored, std::uint64_t address,
                           std::uint64_t before)
{
	std::uint64_t line = 0;
	if (stored != nullptr) {
		for (const Segment &s : stored->segments)
			if (address >= s.offset && address - s.offset < s.length) {
				std::uint64_t l = s.line + (address - s.offset) / s.per_line;
				line = line == 0 ? l : std::min(line, l);
			}
		return line;
	}
	if (!seek_file(rd->file, at))
		return 0;
	RecordFormat format = rd->format;
	start_reader(rd, rd->file, format);
	Walk w{};
	Record r;
	while (next_record<false>(rd, &r) == Got::RECORD && r.line < before) {
		Piece pieces[2];
		std::size_t k = walk(&r, format, &w, pieces);
		for (std::size_t i = 0; i < k; i++)
			if (address >= pieces[i].at && address - pieces[i].at < pieces[i].n)
				return r.line;
	}
	return 0;
}

// Reads the records from where `rd` is, `at` in its file, and finds them
// sound, keeping their data in `stored` where it is given; else writes the
// message of the first fault. What they hold at or after `start` into *found.
bool check_records(Reader *rd, const char *name, std::uint64_t at, std::uint32_t start, Stored *stored,
                   Found *found, std::FILE *out)
{
	static Written written;
	static Record r;
	RecordFormat format = rd->format;
	Walk w{};

	written.stretches.clear();
	written.rising = true;
	*found = Found{};
	for (;;) {
		if (rd->len - rd->pos < MOST_TEXT + 2 && !rd->file_ended)
			refill(rd);
		// Bytes kept are kept record by record.
		if (stored == nullptr) {
			if (format == RecordFormat::IHEX)
				plain_records<RecordFormat::IHEX>(rd, &w, &written, found, start);
			else
				plain_records<RecordFormat::SREC>(rd, &w, &written, found, start);
			if (rd->len - rd->pos < MOST_TEXT + 2 && !rd->file_ended)
				refill(rd);
		}
		Got got = next_record<true>(rd, &r);
		if (got == Got::END)
			break;
		if (got != Got::RECORD) {
			fault(out, name, r.line, got == Got::BAD ? "bad record" : "bad record checksum");
			return false;
		}
		if (format == RecordFormat::SREC && (r.type == 5 || r.type == 6) && r.address != w.data_records) {
			fault(out, name, r.line, "bad record count");	// a line lost or doubled
			return false;
		}
		Piece pieces[2];
		std::size_t k = walk(&r, format, &w, pieces);
		written.rising &= k < 2;
		for (std::size_t i = 0; i < k; i++) {
			const Piece &p = pieces[i];
			std::uint64_t again;
			if (!write(&written, p.at, p.at + p.n, &again)) {
				std::uint64_t line = r.line, first = first_writer(rd, at, stored, again, line);
				write_shown(name, out);
				std::fprintf(out, ":%llu: address %08X already written on line %llu\n",
				             static_cast<unsigned long long>(line), static_cast<unsigned>(again),
				             static_cast<unsigned long long>(first));
				return false;
			}
			if (p.at + p.n > start) {
				found->any = true;
				found->end = std::max(found->end, p.at + p.n);
			}
			if (stored != nullptr)
				store(stored, p.at, r.data + p.from, static_cast<std::size_t>(p.n), r.line);
		}
		if (w.ended)
			break;
	}
	if (std::ferror(rd->file)) {
		std::fputs("cannot read ", out);
		say(out, name, "\n");
		return false;
	}
	if (format == RecordFormat::IHEX && !w.ended) {
		say(out, name, ": no end record\n");
		return false;
	}
	found->rising = written.rising;
	return true;
}

// A file read a second time, its records in rising order: each record's
// bytes are handed out as it comes, fill before them.
struct Stream {
	Reader reader;
	Walk walk;
	Record record;
	const unsigned char *data;	// the record's bytes still to hand out,
	std::uint64_t at, left;		// from address `at`, `left` of them
	bool records_ended;
	std::uint8_t fill;
};

// The next record's bytes at or after image->offset, or that none come.
void next_data(Image *image, Stream *s)
{
	RecordFormat format = s->reader.format;
	while (!s->records_ended) {
		Got got = next_record<false>(&s->reader, &s->record);
		if (got != Got::RECORD) {
			// A fault now is a file that changed since it was found sound.
			image->failed |= got != Got::END;
			s->records_ended = true;
			return;
		}
		Piece pieces[2];
		std::size_t k = walk(&s->record, format, &s->walk, pieces);
		s->records_ended = s->walk.ended;
		if (k == 0)
			continue;
		if (k > 1) {
			image->failed = true;	// a file found rising has no such record
			s->records_ended = true;
			return;
		}
		std::uint64_t end = pieces[0].at + pieces[0].n;
		if (end <= image->offset)
			continue;	// below the start address
		std::uint64_t from = std::max(pieces[0].at, image->offset);
		if (from - image->offset >= image->left) {
			s->records_ended = true;	// past the image's end: nothing more
			return;
		}
		s->data = s->record.data + pieces[0].from + (from - pieces[0].at);
		s->at = from;
		s->left = end - from;
		return;
	}
}

// Hands out the bytes of the usual lines of a file found sound and rising,
// data records alone whose bytes go on where the image is, straight into
// `to`, as long as there is room for the longest; their number. Stops
// before any other line, which next_data reads.
template <RecordFormat F>
std::size_t plain_bytes(Image *image, Stream *s, unsigned char *to, std::size_t room)
{
	constexpr bool ihex = F == RecordFormat::IHEX;
	constexpr std::size_t lead = ihex ? 1 : 2;
	Reader *rd = &s->reader;
	// All in locals: a store through `to` could be to any field.
	const std::uint32_t base = s->walk.base;
	const bool segmented = s->walk.segmented;
	const std::uint64_t first = image->offset, at_end = first + image->left;
	LineRun *const runs = image->runs;
	std::size_t n = 0, run_count = image->run_count, records = 0;
	std::uint64_t line = rd->line;

	for (;;) {
		if (rd->len - rd->pos < MOST_TEXT + 2 && !rd->file_ended)
			refill(rd);
		const unsigned char *d = rd->data;
		std::size_t pos = rd->pos, len = rd->len;
		while (room - n >= 256 + 16 && run_count < LINE_RUNS && len - pos >= MOST_TEXT + 2) {
			const unsigned char *p = d + pos;
			if (ihex ? p[0] != ':' : p[0] != 'S' || p[1] < '1' || p[1] > '3')
				break;
			std::size_t length = byte_at(p + lead);
			std::size_t text = ihex ? 11 + 2 * length : 4 + 2 * length;
			unsigned char end = p[text];
			if (end != '\n' && end != '\r')
				break;
			// The address, and the bytes before the data.
			std::uint64_t at = 0;
			std::size_t head;
			if constexpr (ihex) {
				std::uint32_t offset = byte_at(p + 3) << 8 | byte_at(p + 5);
				if (byte_at(p + 7) != 0 || length == 0 || (segmented && offset + length > 0x10000))
					break;
				at = (base + offset) & 0xFFFFFFFFu;
				head = 4;
			} else {
				head = static_cast<std::size_t>(p[1] - '0') + 2;
				if (length <= head)
					break;
				for (std::size_t k = 1; k < head; k++)
					at = at << 8 | byte_at(p + 2 + 2 * k);
			}
			// LL counts the address, the data and the checksum in an S-record.
			std::size_t count = ihex ? length : length - head;
			std::uint64_t offset = first + n;
			if (at != offset || at_end - offset < count)
				break;
			unsigned sum;
			decode_hex<false>(p + lead + 2 * head, count, to + n, &sum);
			runs[run_count++] = {offset, line++};
			n += count;
			records++;
			pos += text + 1 + (end == '\r' && p[text + 1] == '\n');
		}
		bool more = rd->pos != pos && len - pos < MOST_TEXT + 2 && !rd->file_ended;
		rd->pos = pos;
		if (!more)
			break;
	}
	rd->line = line;
	s->walk.data_records += records;
	image->run_count = run_count;
	image->offset += n;
	image->left -= n;
	return n;
}

std::size_t read_stream(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep, bool *ended)
{
	Stream *s = static_cast<Stream *>(image->reader);
	std::size_t n = 0;
	bool ihex = s->reader.format == RecordFormat::IHEX;

	keep_lines(image, keep);
	while (n < room && image->left > 0 && !image->failed) {
		if (s->left == 0 && !s->records_ended) {
			std::size_t got = ihex ? plain_bytes<RecordFormat::IHEX>(image, s, to + n, room - n)
			                       : plain_bytes<RecordFormat::SREC>(image, s, to + n, room - n);
			n += got;
			if (got == 0 || room - n < 256 + 16)
				next_data(image, s);
			continue;
		}
		std::uint64_t at = image->offset;
		std::size_t piece;
		if (s->left == 0 || at < s->at) {
			std::uint64_t until = s->left == 0 ? image->left : s->at - at;
			piece = static_cast<std::size_t>(std::min<std::uint64_t>({until, image->left, room - n}));
			if (!at_line(image, 0))
				break;
			std::memset(to + n, s->fill, piece);
		} else {
			piece = static_cast<std::size_t>(std::min<std::uint64_t>({s->left, image->left, room - n}));
			if (!at_line(image, s->record.line))
				break;
			std::memcpy(to + n, s->data, piece);
			s->data += piece;
			s->at += piece;
			s->left -= piece;
		}
		n += piece;
		image->offset += piece;
		image->left -= piece;
	}
	*ended = image->left == 0 || image->failed;
	return n;
}

}  // namespace

bool open_records(Image *image, std::FILE *in, const char *name, RecordFormat format,
                  std::uint32_t start, std::uint64_t length, std::uint8_t fill, std::FILE *out)
{
	static Stream stream;
	static Stored stored;
	std::uint64_t size, at = 0;
	// A regular file is read twice; what a pipe holds is kept.
	bool twice = regular_size(in, &size) && tell_file(in, &at);
	Found found;

	clear_stored(&stored);
	start_reader(&stream.reader, in, format);
	if (!check_records(&stream.reader, name, at, start, twice ? nullptr : &stored, &found, out))
		return false;
	if (length == WHOLE_FILE && !found.any) {
		say(out, name, ": no data at or after the start address\n");
		return false;
	}
	std::uint64_t top = (1ull << 32) - start;
	std::uint64_t bytes = length == WHOLE_FILE ? found.end - start : std::min(length, top);

	*image = Image{};
	image->file = in;
	image->placed = true;
	start_lines(image, start);
	if (twice && !seek_file(in, at)) {
		std::fputs("cannot read ", out);
		say(out, name, "\n");
		return false;
	}
	if (twice && found.rising) {
		start_reader(&stream.reader, in, format);
		stream.walk = Walk{};
		stream.left = 0;
		stream.records_ended = false;
		stream.fill = fill;
		image->read = read_stream;
		image->reader = &stream;
		image->left = bytes;
		return true;
	}
	if (twice) {
		// Out of order: the bytes are kept, and handed out sorted.
		start_reader(&stream.reader, in, format);
		if (!check_records(&stream.reader, name, at, start, &stored, &found, out))
			return false;
	}
	open_stored(image, &stored, bytes, fill);
	return true;
}

bool sound_record(const unsigned char *text, std::size_t n, RecordFormat format)
{
	unsigned char copy[MOST_TEXT + SLACK] = {};
	static Record r;
	if (n > MOST_TEXT)
		return false;
	std::memcpy(copy, text, n);
	// A count as the first line counts no record before it.
	return parse<true>(copy, n, format, &r) == Got::RECORD &&
	       !(format == RecordFormat::SREC && (r.type == 5 || r.type == 6) && r.address != 0);
}
