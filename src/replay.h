// The second reading of a file of text, where the first found lines laid
// out alike one after another: stretches of them, noted by the first
// reading in one form whatever the format, each line's values taken where
// they stand and the line held to its own check, no line read in full
// again. Every line in no stretch goes through its format's own reader in
// both readings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hexdigits.h"
#include "image.h"

// How each line of a stretch is held to what the first reading found: the
// bytes its digits make add up, modulo 256, to `sum` (a record's checksum);
// its characters from column_at show its values (a dump's column); or its
// values' digits are digits, and no more.
enum class OwnCheck : unsigned char { DIGITS, SUM, COLUMN };

// The most values a line of a dump laid out alike holds.
inline constexpr std::size_t PLACES_MOST = 80;

// How the lines of a stretch are laid out: `len` characters each, the
// first `lead` of them `mark`, and a line end of `ends` characters as a
// rule, 1 for LF and 2 for CR LF (a line that ends otherwise is left to its
// format's own reader). Their `count` values are either bytes `skip` on of
// those that the `digits` digits from digits_at make, in a row, held to
// their sum (a record's data, after its length, address and type); or,
// where `digits` is 0, each two digits at its own place, value_at[k].
// `own` is what the format's reader makes of such lines, for the lines
// after them.
struct Plan {
	std::uint16_t len, count;
	std::uint8_t ends;
	std::uint8_t own;
	std::uint8_t lead;
	unsigned char mark[2];
	OwnCheck check;
	std::uint8_t sum;
	std::uint16_t digits_at, digits, skip;
	std::uint16_t column_at;
	std::uint8_t value_at[PLACES_MOST];
};

// `lines` lines laid out by plans[plan], one after another from `line` on,
// whose values go on one after another in the image from `at`.
struct Stretch {
	std::uint64_t line, lines, at;
	std::size_t plan;
};

// Room for a stretch each 64 KiB of Intel HEX, whose 04 records part
// them, up to 1 GiB; lines of a few plans, as files of records and dumps
// as programs print them have.
inline constexpr std::size_t STRETCHES_MOST = 16384, PLANS_MOST = 64;

// What a first reading noted, as many as there is room for: the lines of
// those it could not note are read in full again. `next` is the first that
// the second reading has not passed.
struct Stretches {
	Stretch list[STRETCHES_MOST];
	std::size_t count, next;
	Plan plans[PLANS_MOST];
	std::size_t plan_count;
};

// Empties `s` for a new first reading.
void clear_stretches(Stretches *s);

// Notes `lines` lines from `line` on, laid out by `plan`, whose values go
// in the image from `at` on; joined to the stretch before where they go on
// from it by the same plan.
void note_stretch(Stretches *s, std::uint64_t line, std::uint64_t lines, std::uint64_t at, const Plan &plan);

// The stretch that `line` is in, passing those before it, where the line's
// values go at `offset` of the image; null where none is.
const Stretch *stretch_at(Stretches *s, std::uint64_t line, std::uint64_t offset);

// What a replay of a stretch works on: the text at hand, `have` bytes from
// `text` on (and TEXT_SLACK past them that can be read), all the rest of
// the file where `ended`; the next line, which the stretch holds; and
// where its values go, into `to`, which has `room` bytes from `got` on,
// and the image's runs of lines.
struct Replay {
	const unsigned char *text;
	std::size_t have;
	bool ended;
	std::size_t taken;	// the bytes of text read
	std::uint64_t line;
	unsigned char *to;
	std::size_t room, got;
	bool changed;		// a line was not as the first reading found it
};

// Takes the lines of `stretch` from r->line on that stand whole in the text
// at hand, while their values fit in the room, the image and its runs of
// lines; stops at one that fails its check, setting r->changed. How many
// lines it took.
std::uint64_t replay(const Stretches *s, const Stretch &stretch, Image *image, Replay *r);

// Whether the `count` characters at c show the values at `bytes` as a dump's
// column does: each itself from 20 to 7E, else '.'.
inline bool column_shows(const unsigned char *bytes, std::size_t count, const unsigned char *c)
{
	std::size_t k = 0;
#if defined(USE_SSE2)
	// Sixteen at a time, the usual line's all in one.
	auto sixteen = [&](std::size_t at) {
		__m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + at));
		__m128i shown = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
		__m128i as = _mm_or_si128(_mm_and_si128(shown, v), _mm_andnot_si128(shown, _mm_set1_epi8('.')));
		__m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + at));
		return _mm_movemask_epi8(_mm_cmpeq_epi8(as, got)) == 0xFFFF;
	};
	if (count == 16)
		return sixteen(0);
	for (; k + 16 <= count; k += 16)
		if (!sixteen(k))
			return false;
#endif
	for (; k < count; k++)
		if (c[k] != (bytes[k] >= 0x20 && bytes[k] <= 0x7E ? bytes[k] : '.'))
			return false;
	return true;
}
