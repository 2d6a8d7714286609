#include "records.h"

#include <algorithm>
#include <cstring>

#include "hexdigits.h"
#include "replay.h"
#include "shown.h"
#include "source.h"

namespace {

// The longest text of a record: Intel HEX's colon, its length, address and
// type, 255 data bytes and the checksum. An S-record's is shorter.
constexpr std::size_t MOST_TEXT = 1 + 2 * (5 + 255);
// What decode_hex may read past the digits, and write past the bytes.
constexpr std::size_t SLACK = 64;
constexpr std::size_t READ_SIZE = 65536;

struct Reader {
	Source source;
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

enum class RecordGot { RECORD, END, BAD, BAD_CHECKSUM };

constexpr const HexTable &hex = hex_table;


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

#if defined(USE_SSE2)
// What the digits' check adds up, 16 digits at a time: which are digits,
// and the sums of all their values and of the high ones'.
struct DigitSums {
	__m128i ok, all, highs;
};

// The 16 characters at t, or the first `last` of them with '0' for the
// rest, into `sums`.
inline void check_sixteen(const unsigned char *t, std::size_t last, DigitSums *sums)
{
	static const unsigned char ones[32] = {
		0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
	const __m128i zero = _mm_setzero_si128();
	__m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t));
	if (last < 16) {
		__m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ones + 16 - last));
		c = _mm_or_si128(_mm_and_si128(m, c), _mm_andnot_si128(m, _mm_set1_epi8('0')));
	}
	__m128i v = digit_values<true>(c, &sums->ok);
	sums->all = _mm_add_epi64(sums->all, _mm_sad_epu8(v, zero));
	sums->highs = _mm_add_epi64(sums->highs, _mm_sad_epu8(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), zero));
}

// V of them, the last holding the last of the `digits`: straight through,
// which the usual records are.
template <int V>
inline void check_vectors(const unsigned char *t, std::size_t digits, DigitSums *sums)
{
	for (int i = 0; i < V - 1; i++)
		check_sixteen(t + 16 * i, 16, sums);
	check_sixteen(t + 16 * (V - 1), digits - 16 * (V - 1), sums);
}
#endif

// Whether the `digits` characters at t, an even number of them, are all
// hexadecimal digits, and the sum of the bytes they make into *sum: how a
// line is found sound. V, where not 0, is the number of 16 digits they
// take, the last maybe in part. Reads up to 15 bytes past them.
template <int V>
[[gnu::always_inline]] inline bool check_digits(const unsigned char *t, std::size_t digits, unsigned *sum)
{
#if defined(USE_SSE2)
	// The bytes' sum is 16 times their high digits' plus their low ones':
	// 15 times the high ones' plus all of them.
	DigitSums sums{_mm_set1_epi8(-1), _mm_setzero_si128(), _mm_setzero_si128()};
	if constexpr (V > 0) {
		check_vectors<V>(t, digits, &sums);
	} else {
		for (std::size_t k = 0; k < digits; k += 16)
			check_sixteen(t + k, std::min<std::size_t>(digits - k, 16), &sums);
	}
	__m128i all = _mm_add_epi64(sums.all, _mm_srli_si128(sums.all, 8));
	__m128i highs = _mm_add_epi64(sums.highs, _mm_srli_si128(sums.highs, 8));
	*sum = static_cast<unsigned>(15 * _mm_cvtsi128_si32(highs) + _mm_cvtsi128_si32(all));
	return _mm_movemask_epi8(sums.ok) == 0xFFFF;
#else
	unsigned char bytes[MOST_TEXT / 2 + 1];
	return decode_hex<true>(t, digits / 2, bytes, sum);
#endif
}

// What the n bytes at t, a line with the blanks at its ends taken off, hold
// as a record of `format`; SLACK bytes after them may be read.
template <bool CHECK>
RecordGot parse(const unsigned char *t, std::size_t n, RecordFormat format, Record *r)
{
	bool ihex = format == RecordFormat::IHEX;
	std::size_t lead = ihex ? 1 : 2;	// ":", or "S" and the type
	if (n < lead || n > MOST_TEXT || (n - lead) % 2 != 0)
		return RecordGot::BAD;
	if (ihex ? t[0] != ':' : t[0] != 'S' || t[1] < '0' || t[1] > '9')
		return RecordGot::BAD;
	std::size_t count = (n - lead) / 2;
	unsigned sum;
	if (!decode_hex<CHECK>(t + lead, count, r->bytes, &sum))
		return RecordGot::BAD;
	const unsigned char *b = r->bytes;
	if (ihex) {
		// The length each type must have; 256 where any will do.
		static const unsigned length_of[6] = {256, 0, 2, 4, 2, 4};
		if (count < 5 || b[0] != count - 5 || b[3] > 5 || (length_of[b[3]] != 256 && b[0] != length_of[b[3]]))
			return RecordGot::BAD;
		if (sum % 256 != 0)
			return RecordGot::BAD_CHECKSUM;
		r->type = b[3];
		r->address = static_cast<std::uint32_t>(b[1] << 8 | b[2]);
		r->data = b + 4;
		r->count = b[0];
		return RecordGot::RECORD;
	}
	// The bytes of each type's address; none for S4, which is no type.
	static const unsigned char address_of[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
	unsigned type = static_cast<unsigned>(t[1] - '0');
	std::size_t a = address_of[type];
	if (a == 0 || count < a + 2 || b[0] != count - 1 || (type >= 5 && count != a + 2))
		return RecordGot::BAD;
	if (sum % 256 != 0xFF)
		return RecordGot::BAD_CHECKSUM;
	r->type = type;
	r->address = 0;
	for (std::size_t k = 1; k <= a; k++)
		r->address = r->address << 8 | b[k];
	r->data = b + 1 + a;
	r->count = count - a - 2;
	return RecordGot::RECORD;
}

void refill(Reader *rd)
{
	std::memmove(rd->data, rd->data + rd->pos, rd->len - rd->pos);
	rd->len -= rd->pos;
	rd->pos = 0;
	std::size_t want = READ_SIZE - rd->len;
	std::size_t got = read_source(&rd->source, rd->data + rd->len, want);
	rd->len += got;
	rd->file_ended = got < want;
}

void start_reader(Reader *rd, std::FILE *in, RecordFormat format, std::FILE *copy)
{
	// All of it touched now, so that memory is the same for any file.
	std::memset(rd, 0, sizeof *rd);
	open_source(&rd->source, in, true, copy);
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
RecordGot next_record(Reader *rd, Record *r)
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
				RecordGot got = parse<CHECK>(p, text, rd->format, r);
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
			return RecordGot::END;
		if (is_line_end(c)) {
			end_line(rd);
			continue;
		}
		unsigned char text[MOST_TEXT + SLACK] = {};
		std::size_t len = 0;
		for (; (c = peek(rd)) >= 0 && !is_blank(c) && !is_line_end(c); rd->pos++) {
			if (len == MOST_TEXT)
				return RecordGot::BAD;	// longer than any record
			text[len++] = static_cast<unsigned char>(c);
		}
		while (is_blank(c = peek(rd)))
			rd->pos++;
		if (c >= 0 && !is_line_end(c))
			return RecordGot::BAD;	// a blank within the record
		RecordGot got = parse<CHECK>(text, len, rd->format, r);
		end_line(rd);
		return got;
	}
}

// What the records have set so far, as they are read in order.
struct RecordWalk {
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
std::size_t walk_record(const Record *r, RecordFormat format, RecordWalk *w, Piece pieces[2])
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

// Whether the pieces written so far rose, each at or after the end of all
// before it, so that none can have written an address twice; and that end.
struct Written {
	bool rising;
	std::uint64_t end;
};

// What the file holds at or after the start address.
struct Extent {
	bool any;
	std::uint64_t end;	// just past the highest address written
	bool rising;
};

// What a reading over the usual lines keeps as it goes: in locals, for a
// store through a byte pointer could be to any field of a struct. The lines
// alike that the last ones read are those from alike_line on, each `text`
// characters with its data of `count` bytes at data_at, from address
// alike_at; the first of them with a line end of `ends` characters, as the
// second reading takes them all as a rule (0 for a CR alone, which is rare:
// such lines are read in full again).
struct Usual {
	const unsigned char *data;
	std::size_t len, pos, records;
	std::uint64_t line, next;
	std::uint32_t base;
	bool segmented;
	std::uint64_t alike_line, alike_at;
	std::size_t text, count, data_at, ends;
	unsigned char type;
};

// Notes the lines alike read last as a stretch, for the second reading to
// take their data where it stands.
template <RecordFormat F>
void note_usual(const Usual &s, Stretches *stretches)
{
	constexpr bool ihex = F == RecordFormat::IHEX;
	std::uint64_t lines = s.line + s.records - s.alike_line;
	if (lines == 0 || s.ends == 0)
		return;
	Plan plan{};
	plan.ends = static_cast<std::uint8_t>(s.ends);
	plan.len = static_cast<std::uint16_t>(s.text);
	plan.count = static_cast<std::uint16_t>(s.count);
	plan.lead = ihex ? 1 : 2;
	plan.mark[0] = ihex ? ':' : 'S';
	plan.mark[1] = ihex ? 0 : s.type;
	plan.check = OwnCheck::SUM;
	plan.sum = ihex ? 0 : 0xFF;
	plan.digits_at = plan.lead;
	plan.digits = static_cast<std::uint16_t>(s.text - plan.lead);
	plan.skip = static_cast<std::uint16_t>((s.data_at - plan.lead) / 2);
	note_stretch(stretches, s.alike_line, lines, s.alike_at, plan);
}

// Notes the lines alike read so far, and begins those of the line at p.
template <RecordFormat F>
[[gnu::noinline]] void begin_alike(Usual &s, const unsigned char *p, std::size_t text, std::size_t count,
                                   std::size_t data_at, std::uint64_t at, Stretches *stretches)
{
	note_usual<F>(s, stretches);
	s.alike_line = s.line + s.records;
	s.alike_at = at;
	s.text = text;
	s.count = count;
	s.data_at = data_at;
	s.type = F == RecordFormat::IHEX ? 0 : p[1];
	s.ends = p[text] == '\n' ? 1 : p[text + 1] == '\n' ? 2 : 0;
}

// Reads on over the usual lines of a regular file whose digits take V
// times 16 (any number, where V is 0): each a sound data record alone
// whose bytes go on where the last one's ended.
template <RecordFormat F, int V>
[[gnu::always_inline]] inline void usual_lines(Usual &s, Stretches *stretches)
{
	constexpr bool ihex = F == RecordFormat::IHEX;
	constexpr std::size_t lead = ihex ? 1 : 2;
	while (s.len - s.pos >= MOST_TEXT + 2) {
		const unsigned char *p = s.data + s.pos;
		if (ihex ? p[0] != ':' : p[0] != 'S' || p[1] < '1' || p[1] > '3')
			break;
		int high = hex.value[p[lead]], low = hex.value[p[lead + 1]];
		if ((high | low) < 0)
			break;	// no length: nothing past the line may be looked at
		std::size_t length = static_cast<std::size_t>(high << 4 | low);
		std::size_t text = ihex ? 11 + 2 * length : 4 + 2 * length;
		unsigned char end = p[text];
		unsigned sum;
		if ((V > 0 && (text - lead + 15) / 16 != V) || (end != '\n' && end != '\r') ||
		    !check_digits<V>(p + lead, text - lead, &sum))
			break;
		// Extent to be digits, the address and type are read as they stand.
		std::uint64_t at = 0;
		std::size_t count;
		if constexpr (ihex) {
			std::uint32_t offset = byte_at(p + 3) << 8 | byte_at(p + 5);
			// Type 00: its two digits loaded as one.
			static const unsigned char data_type[2] = {'0', '0'};
			if (sum % 256 != 0 || two_at(p + 7) != two_at(data_type) || length == 0 ||
			    (s.segmented && offset + length > 0x10000))
				break;
			at = (s.base + offset) & 0xFFFFFFFFu;
			count = length;
		} else {
			std::size_t a = static_cast<std::size_t>(p[1] - '0') + 1;
			if (sum % 256 != 0xFF || length <= a + 1)
				break;
			// Two to four bytes of address, S1 to S3.
			at = byte_at(p + 4) << 8 | byte_at(p + 6);
			if (a > 2)
				at = at << 8 | byte_at(p + 8);
			if (a > 3)
				at = at << 8 | byte_at(p + 10);
			count = length - a - 1;
		}
		if (at != s.next || at + count > 1ull << 32)
			break;
		std::size_t data_at = ihex ? 9 : 4 + 2 * (length - count - 1);
		if (text != s.text || count != s.count || data_at != s.data_at || (!ihex && p[1] != s.type))
			begin_alike<F>(s, p, text, count, data_at, at, stretches);
		s.next += count;
		s.records++;
		s.pos += text + 1 + (end == '\r' && p[text + 1] == '\n');
	}
}

// Reads on over the usual lines of a regular file: each a sound data
// record alone whose bytes go on where the last one's ended, above all
// written so far. Stops before any other line, which the general reading
// takes, and takes in what it read at once.
template <RecordFormat F>
void usual_records(Reader *rd, RecordWalk *w, Written *written, Extent *found, std::uint32_t start,
                   Stretches *stretches)
{
	if (!written->rising)
		return;
	constexpr std::size_t lead = F == RecordFormat::IHEX ? 1 : 2;
	std::uint64_t from = written->end;
	Usual s{rd->data, rd->len, rd->pos, 0, rd->line, from, w->base, w->segmented, rd->line, 0, 0, 0, 0, 0, 0};
	for (std::size_t before = SIZE_MAX; s.pos != before && s.len - s.pos >= MOST_TEXT + 2;) {
		// Lines of one length, as a rule, each in as many 16 digits.
		before = s.pos;
		std::size_t length = byte_at(s.data + s.pos + lead);
		switch ((2 * length + (F == RecordFormat::IHEX ? 10 : 2) + 15) / 16) {
		case 1: usual_lines<F, 1>(s, stretches); break;
		case 2: usual_lines<F, 2>(s, stretches); break;
		case 3: usual_lines<F, 3>(s, stretches); break;
		case 4: usual_lines<F, 4>(s, stretches); break;
		case 5: usual_lines<F, 5>(s, stretches); break;
		default: usual_lines<F, 0>(s, stretches); break;
		}
	}
	note_usual<F>(s, stretches);
	rd->pos = s.pos;
	rd->line += s.records;
	w->data_records += F == RecordFormat::IHEX ? 0 : s.records;
	written->end = s.next;
	if (s.next > start && s.next > from) {
		found->any = true;
		found->end = std::max(found->end, s.next);
	}
}

void write_named(std::FILE *out, const char *name, const char *what)
{
	write_shown(name, out);
	std::fputs(what, out);
}

// The first fault of a file of records, if any, and its line.
enum class RecordFault { NONE, BAD, CHECKSUM, COUNT, NO_END, READ };

struct Checked {
	RecordFault fault;
	std::uint64_t line;
};

// Reads the records from where `rd` is and finds their lines sound up to
// the first fault, keeping their data in `stored` where it is given. What
// they hold at or after `start` into *found; whether an address may have
// been written twice there, it says as not rising.
Checked check_records(Reader *rd, std::uint32_t start, Stored *stored, Stretches *stretches, Extent *found)
{
	static Record r;
	RecordFormat format = rd->format;
	RecordWalk w{};
	Written written{true, 0};

	*found = Extent{};
	for (;;) {
		if (rd->len - rd->pos < MOST_TEXT + 2 && !rd->file_ended)
			refill(rd);
		// Bytes kept are kept record by record.
		if (stored == nullptr) {
			if (format == RecordFormat::IHEX)
				usual_records<RecordFormat::IHEX>(rd, &w, &written, found, start, stretches);
			else
				usual_records<RecordFormat::SREC>(rd, &w, &written, found, start, stretches);
			if (rd->len - rd->pos < MOST_TEXT + 2 && !rd->file_ended)
				refill(rd);
		}
		RecordGot got = next_record<true>(rd, &r);
		if (got == RecordGot::END)
			break;
		found->rising = written.rising;
		if (got != RecordGot::RECORD)
			return {got == RecordGot::BAD ? RecordFault::BAD : RecordFault::CHECKSUM, r.line};
		if (format == RecordFormat::SREC && (r.type == 5 || r.type == 6) && r.address != w.data_records)
			return {RecordFault::COUNT, r.line};	// a line lost or doubled
		Piece pieces[2];
		std::size_t k = walk_record(&r, format, &w, pieces);
		for (std::size_t i = 0; i < k; i++) {
			const Piece &p = pieces[i];
			written.rising &= k == 1 && p.at >= written.end;
			written.end = p.at + p.n;
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
	found->rising = written.rising;
	if (std::ferror(rd->source.file))
		return {RecordFault::READ, 0};
	if (format == RecordFormat::IHEX && !w.ended)
		return {RecordFault::NO_END, 0};
	return {RecordFault::NONE, 0};
}

// How many bytes of segment s stand on lines before `before`.
std::uint64_t written_before(const Segment &s, std::uint64_t before)
{
	if (s.line >= before)
		return 0;
	std::uint64_t lines = before - s.line;
	return lines >= (s.length + s.per_line - 1) / s.per_line ? s.length : lines * s.per_line;
}

// Whether the lines before `before` wrote an address twice; the segments
// are in order of offset.
bool written_twice(const Stored *stored, std::uint64_t before)
{
	std::uint64_t end = 0;
	bool any = false;
	for (std::size_t k = 0; k < stored->count; k++) {
		const Segment &s = stored->segments[k];
		std::uint64_t n = written_before(s, before);
		if (n == 0)
			continue;
		if (any && s.offset < end)
			return true;
		end = std::max(end, s.offset + n);
		any = true;
	}
	return false;
}

// Of the lines kept before `before`, the first that writes an address that
// an earlier line wrote, into *line; that address, the first in its
// record's own order, into *address; and the line that wrote it into
// *first. False where there is none. The segments are in order of offset.
bool find_written_twice(const Stored *stored, std::uint64_t before, std::uint64_t *line,
                        std::uint64_t *address, std::uint64_t *first)
{
	std::uint64_t last = 0;
	for (std::size_t k = 0; k < stored->count; k++) {
		const Segment &s = stored->segments[k];
		last = std::max(last, s.line + (s.length - 1) / s.per_line);
	}
	before = std::min(before, last + 1);
	if (!written_twice(stored, before))
		return false;
	// The fewest lines that write an address twice.
	std::uint64_t low = 1, high = before;
	while (low < high) {
		std::uint64_t mid = low + (high - low) / 2;
		if (written_twice(stored, mid))
			high = mid;
		else
			low = mid + 1;
	}
	std::uint64_t b = low - 1;
	// Its record's pieces, in the order they were kept, which is its own.
	Piece pieces[2];
	std::uint64_t kept_at[2];
	std::size_t count = 0;
	for (std::size_t k = 0; k < stored->count && count < 2; k++) {
		const Segment &s = stored->segments[k];
		std::uint64_t from = (b - s.line) * s.per_line;
		if (b < s.line || from >= s.length)
			continue;
		pieces[count] = {s.offset + from, std::min<std::uint64_t>(s.length - from, s.per_line), 0};
		kept_at[count++] = s.data + from;
	}
	if (count == 2 && kept_at[1] < kept_at[0])
		std::swap(pieces[0], pieces[1]);
	for (std::size_t i = 0; i < count; i++) {
		const Piece &p = pieces[i];
		bool found = false;
		for (std::size_t k = 0; k < stored->count; k++) {
			const Segment &s = stored->segments[k];
			std::uint64_t n = written_before(s, b);
			if (n == 0 || s.offset >= p.at + p.n || s.offset + n <= p.at)
				continue;
			std::uint64_t at = std::max(s.offset, p.at);
			if (!found || at < *address) {
				*address = at;
				*first = s.line + (at - s.offset) / s.per_line;
			}
			found = true;
		}
		if (found) {
			*line = b;
			return true;
		}
	}
	return false;
}

// A file read a second time, its records in rising order: each record's
// bytes are handed out as it comes, fill before them.
struct Stream {
	Reader reader;
	Stretches stretches;
	RecordWalk walk;
	Record record;
	const unsigned char *data;	// the record's bytes still to hand out,
	std::uint64_t at, left;		// from address `at`, `left` of them
	bool records_ended;
	std::uint8_t fill;
	Source first;	// the first reading's, to hold the second to
};

// The next record's bytes at or after image->offset, or that none come.
void next_data(Image *image, Stream *s)
{
	RecordFormat format = s->reader.format;
	while (!s->records_ended) {
		RecordGot got = next_record<true>(&s->reader, &s->record);
		if (got != RecordGot::RECORD) {
			// A fault now is a file that changed since it was found sound.
			image->failed |= got != RecordGot::END;
			image->changed |= got != RecordGot::END;
			s->records_ended = true;
			return;
		}
		Piece pieces[2];
		std::size_t k = walk_record(&s->record, format, &s->walk, pieces);
		s->records_ended = s->walk.ended;
		if (k == 0)
			continue;
		if (k > 1) {
			image->failed = image->changed = true;	// a file found rising has no such record
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

// Hands out the data of the lines from the reader's on that the first
// reading noted as a stretch, where they go on where the image is, straight
// into `to`: read where they stand, each held to its checksum. Their number.
std::size_t replay_records(Image *image, Stream *s, unsigned char *to, std::size_t room)
{
	Reader *rd = &s->reader;
	const Stretch *stretch = stretch_at(&s->stretches, rd->line, image->offset);
	if (stretch == nullptr)
		return 0;
	const Plan &plan = s->stretches.plans[stretch->plan];
	Replay r{};
	r.to = to;
	r.room = room;
	r.line = rd->line;
	for (;;) {
		if (rd->len - rd->pos < plan.len + 2u && !rd->file_ended)
			refill(rd);
		r.text = rd->data + rd->pos;
		r.have = rd->len - rd->pos;
		r.ended = rd->file_ended;
		r.taken = 0;
		std::uint64_t lines = replay(&s->stretches, *stretch, image, &r);
		rd->pos += r.taken;
		if (lines == 0 || r.changed)
			break;
	}
	s->walk.data_records += r.line - rd->line;
	rd->line = r.line;
	image->failed |= r.changed;
	image->changed |= r.changed;
	return r.got;
}

std::size_t read_stream(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep, bool *ended)
{
	Stream *s = static_cast<Stream *>(image->reader);
	std::size_t n = 0;

	keep_lines(image, keep);
	while (n < room && image->left > 0 && !image->failed) {
		if (s->left == 0 && !s->records_ended) {
			std::size_t got = replay_records(image, s, to + n, room - n);
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
	if (*ended)
		end_reading(image, &s->first, &s->reader.source);
	return n;
}

}  // namespace

bool open_records(Image *image, std::FILE *in, const char *name, RecordFormat format,
                  std::uint32_t start, std::uint64_t length, std::uint8_t fill, std::FILE *out)
{
	static Stream stream;
	static Stored stored;
	std::uint64_t at;
	std::FILE *copy;
	Extent found;

	if (!keep_source(in, name, &copy, &at, out))
		return false;
	clear_stored(&stored);
	start_reader(&stream.reader, in, format, copy);
	clear_stretches(&stream.stretches);
	Checked checked = check_records(&stream.reader, start, nullptr, &stream.stretches, &found);
	// A file found sound is read on to its end, so that all of it is held
	// to what the second reading reads; a pipe's copy needs no more.
	bool whole = checked.fault == RecordFault::NONE || checked.fault == RecordFault::NO_END;
	if (whole && copy == nullptr)
		read_source_through(&stream.reader.source);
	stream.first = stream.reader.source;
	std::FILE *again = nullptr;
	if (checked.fault != RecordFault::READ && (whole || !found.rising) &&
	    (again = read_again(in, copy, at, name, out)) == nullptr)
		return false;
	if (!found.rising && checked.fault != RecordFault::READ) {
		// Out of order, and maybe written twice: the bytes are kept, to
		// be handed out sorted.
		start_reader(&stream.reader, again, format, nullptr);
		Checked second = check_records(&stream.reader, start, &stored, &stream.stretches, &found);
		if (whole)
			read_source_through(&stream.reader.source);
		if (second.fault != RecordFault::READ &&
		    (second.fault != checked.fault || second.line != checked.line ||
		     (whole && !same_source(&stream.first, &stream.reader.source)))) {
			write_named(out, name, " changed while it was read\n");
			return false;
		}
		checked = second;
	}
	if (checked.fault == RecordFault::READ) {
		std::fputs("cannot read ", out);
		write_named(out, name, "\n");
		return false;
	}
	if (stored.full) {
		std::fputs("out of memory for ", out);
		write_named(out, name, "\n");
		return false;
	}
	sort_stored(&stored);
	// An address written twice is the fault of its line, which may come
	// before a line's own.
	std::uint64_t line = 0, address = 0, first = 0;
	bool line_fault = checked.fault != RecordFault::NONE && checked.fault != RecordFault::NO_END;
	if (!found.rising && find_written_twice(&stored, line_fault ? checked.line : UINT64_MAX, &line, &address, &first)) {
		write_shown(name, out);
		std::fprintf(out, ":%llu: address %08X already written on line %llu\n",
		             static_cast<unsigned long long>(line), static_cast<unsigned>(address),
		             static_cast<unsigned long long>(first));
		return false;
	}
	static const char *const faults[] = {"", "bad record", "bad record checksum", "bad record count"};
	if (line_fault) {
		write_shown(name, out);
		std::fprintf(out, ":%llu: %s\n", static_cast<unsigned long long>(checked.line),
		             faults[static_cast<int>(checked.fault)]);
		return false;
	}
	if (checked.fault == RecordFault::NO_END) {
		write_named(out, name, ": no end record\n");
		return false;
	}
	if (length == WHOLE_FILE && !found.any) {
		write_named(out, name, ": no data at or after the start address\n");
		return false;
	}
	std::uint64_t top = (1ull << 32) - start;
	std::uint64_t bytes = length == WHOLE_FILE ? found.end - start : std::min(length, top);

	*image = Image{};
	image->file = again;
	image->placed = true;
	start_lines(image, start);
	if (found.rising) {
		start_reader(&stream.reader, again, format, nullptr);
		stream.walk = RecordWalk{};
		stream.left = 0;
		stream.records_ended = false;
		stream.fill = fill;
		image->read = read_stream;
		image->reader = &stream;
		image->left = bytes;
		return true;
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
	return parse<true>(copy, n, format, &r) == RecordGot::RECORD &&
	       !(format == RecordFormat::SREC && (r.type == 5 || r.type == 6) && r.address != 0);
}
