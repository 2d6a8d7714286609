#include "replay.h"

#include <algorithm>
#include <cstring>

namespace {

// The bytes that the plan's digits at `digits` make, of a line that the
// first reading found sound, which may have changed since: its values into
// `to` (and up to 15 bytes past them), and whether all of them add up to
// the plan's sum. V, where not 0, is the number of 16 digits they take, the
// last maybe in part: one decoding of them all.
template <int V>
[[gnu::always_inline]] inline bool row_values(std::size_t ndigits, std::size_t skip, std::size_t count, unsigned want,
                                              const unsigned char *digits, unsigned char *to)
{
	unsigned sum = 0;
#if defined(USE_SSE2)
	if constexpr (V > 0) {
		static const unsigned char ones[32] = {
			0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
		const __m128i zero = _mm_setzero_si128();
		unsigned char bytes[8 * V + 32];	// room for the moves of 16
		__m128i total = zero;
		std::size_t last = ndigits - 16 * (V - 1);
		for (int i = 0; i < V; i++) {
			__m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(digits + 16 * i));
			if (i == V - 1) {
				__m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i *>(ones + 16 - last));
				c = _mm_or_si128(_mm_and_si128(m, c), _mm_andnot_si128(m, _mm_set1_epi8('0')));
			}
			__m128i b = _mm_packus_epi16(digit_pairs(digit_values<false>(c, nullptr)), zero);
			_mm_storel_epi64(reinterpret_cast<__m128i *>(bytes + 8 * i), b);
			total = _mm_add_epi64(total, _mm_sad_epu8(b, zero));
		}
		// The usual 16 bytes in one move, as a loop of moves would be made
		// a call to memcpy.
		_mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + skip)));
		for (std::size_t k = 16; k < count; k += 16)
			_mm_storeu_si128(reinterpret_cast<__m128i *>(to + k),
			                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + skip + k)));
		sum = static_cast<unsigned>(_mm_cvtsi128_si32(total));
		return sum % 256 == want;
	}
#endif
	for (std::size_t k = 0; 2 * k < ndigits; k++) {
		unsigned b = static_cast<unsigned>(hex_table.nibble[digits[2 * k]] << 4 | hex_table.nibble[digits[2 * k + 1]]);
		if (k >= skip && k < skip + count)
			to[k - skip] = static_cast<unsigned char>(b);
		sum += b;
	}
	return sum % 256 == want;
}

// The lines as replay takes them: V as row_values takes it, or -1 for
// values at their own places.
template <int V>
std::uint64_t replay_lines(const Plan &plan, const Stretch &stretch, Image *image, Replay *r)
{
	// All in locals: a store through `to` could be to any field.
	const std::size_t n = plan.len, count = plan.count, have = r->have;
	const std::size_t digits_at = plan.digits_at, ndigits = plan.digits, skip = plan.skip, column_at = plan.column_at;
	const unsigned want = plan.sum;
	const bool column = plan.check == OwnCheck::COLUMN;
	// The mark, and the line end, as two characters are loaded together.
	const unsigned char mask_chars[2] = {static_cast<unsigned char>(plan.lead > 0 ? 0xFF : 0),
	                                     static_cast<unsigned char>(plan.lead > 1 ? 0xFF : 0)};
	const unsigned mask = two_at(mask_chars), mark = two_at(plan.mark) & mask;
	const unsigned char end_chars[2] = {static_cast<unsigned char>(plan.ends == 2 ? '\r' : '\n'), '\n'};
	const unsigned char end_mask_chars[2] = {0xFF, static_cast<unsigned char>(plan.ends == 2 ? 0xFF : 0)};
	const unsigned end_mask = two_at(end_mask_chars), end = two_at(end_chars) & end_mask;
	const std::size_t width = n + plan.ends;
	std::uint8_t at[PLACES_MOST];
	if constexpr (V < 0)
		std::memcpy(at, plan.value_at, count);
	// A row's decoding writes up to 15 bytes past the values.
	const std::size_t room = V >= 0 ? (r->room < 16 ? 0 : r->room - 16) : r->room;
	const unsigned char *const text = r->text;
	unsigned char *const to = r->to;
	LineRun *const runs = image->runs;
	std::size_t pos = r->taken, got = r->got, run_count = image->run_count;
	std::uint64_t line = r->line;
	const std::uint64_t offset = image->offset - got;	// of to[0]
	// As many lines as stand whole in the text at hand, and as the stretch,
	// the room, the image and the runs have.
	std::size_t rest = have - pos;
	std::uint64_t here = rest / width;
	// Where the file ends before the line it had does, it changed; a last
	// line with a shorter line end than the plan's is the format's reader's.
	bool changed = r->ended && here == 0 && line < stretch.line + stretch.lines &&
	               (rest <= n || (text[pos + n] != '\n' && text[pos + n] != '\r'));
	if (count == 0 || room < got || width == n)
		here = 0;
	else
		here = std::min<std::uint64_t>({here, stretch.line + stretch.lines - line, (room - got) / count,
		                                image->left / count, LINE_RUNS - run_count});
	for (std::uint64_t k = 0; k < here; k++) {
		// The line as it was: its length, its mark and its values, held
		// to its own check.
		const unsigned char *p = text + pos;
		if ((two_at(p + n) & end_mask) != end)
			break;	// another line end, for the format's own reader
		bool sound = (two_at(p) & mask) == mark;
		if constexpr (V >= 0)
			sound = sound && row_values<V>(ndigits, skip, count, want, p + digits_at, to + got);
		else
			sound = sound && (values_at(p, at, count, to + got) & NO_PAIR) == 0 &&
			        (!column || column_shows(to + got, count, p + column_at));
		if (!sound) {
			changed = true;
			break;
		}
		runs[run_count++] = {offset + got, line++};
		got += count;
		pos += width;
	}
	std::uint64_t lines = line - r->line;
	r->taken = pos;
	r->line = line;
	r->got = got;
	r->changed = changed;
	image->left -= offset + got - image->offset;
	image->run_count = run_count;
	image->offset = offset + got;
	return lines;
}

}  // namespace

void clear_stretches(Stretches *s)
{
	// All of it touched now, so that memory is the same for any file.
	std::memset(s, 0, sizeof *s);
}

namespace {

bool same_plan(const Plan &a, const Plan &b)
{
	return a.len == b.len && a.count == b.count && a.ends == b.ends && a.own == b.own && a.lead == b.lead &&
	       std::memcmp(a.mark, b.mark, a.lead) == 0 && a.check == b.check && a.sum == b.sum &&
	       a.digits_at == b.digits_at && a.digits == b.digits && a.skip == b.skip && a.column_at == b.column_at &&
	       (a.digits > 0 || std::memcmp(a.value_at, b.value_at, a.count) == 0);
}

}  // namespace

void note_stretch(Stretches *s, std::uint64_t line, std::uint64_t lines, std::uint64_t at, const Plan &plan)
{
	std::size_t k = 0;
	while (k < s->plan_count && !same_plan(s->plans[k], plan))
		k++;
	if (s->count > 0) {
		Stretch &last = s->list[s->count - 1];
		if (last.plan == k && last.line + last.lines == line &&
		    last.at + last.lines * plan.count == at && last.lines <= UINT64_MAX - lines) {
			last.lines += lines;
			return;
		}
	}
	if (k == s->plan_count) {
		if (k == PLANS_MOST)
			return;
		s->plans[s->plan_count++] = plan;
	}
	if (s->count < STRETCHES_MOST)
		s->list[s->count++] = {line, lines, at, k};
}

const Stretch *stretch_at(Stretches *s, std::uint64_t line, std::uint64_t offset)
{
	while (s->next < s->count && s->list[s->next].line + s->list[s->next].lines <= line)
		s->next++;
	if (s->next == s->count)
		return nullptr;
	const Stretch &stretch = s->list[s->next];
	if (stretch.line > line || stretch.at + (line - stretch.line) * s->plans[stretch.plan].count != offset)
		return nullptr;
	return &stretch;
}

std::uint64_t replay(const Stretches *s, const Stretch &stretch, Image *image, Replay *r)
{
	const Plan &plan = s->plans[stretch.plan];
	if (plan.digits == 0)
		return replay_lines<-1>(plan, stretch, image, r);
	switch ((plan.digits + 15) / 16) {
	case 1: return replay_lines<1>(plan, stretch, image, r);
	case 2: return replay_lines<2>(plan, stretch, image, r);
	case 3: return replay_lines<3>(plan, stretch, image, r);
	case 4: return replay_lines<4>(plan, stretch, image, r);
	case 5: return replay_lines<5>(plan, stretch, image, r);
	default: return replay_lines<0>(plan, stretch, image, r);
	}
}
