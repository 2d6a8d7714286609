// Hexadecimal digits to values and back, one at a time and, with SSE2,
// sixteen at a time: what the scanner, the readers of records and of dumps
// share.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>

// SSE2 wherever the compiler has it, which is every x86-64 and the Windows
// build; the portable code elsewhere, and where ROWTALLY_PORTABLE asks for it
// so that the tests can check it too.
#if defined(__SSE2__) && !defined(ROWTALLY_PORTABLE)
#define USE_SSE2 1
#include <emmintrin.h>
#endif

struct HexTable {
	signed char value[256];	// a digit's value, or -1
	unsigned char nibble[256];	// the same, 0 for what is no digit
};

constexpr HexTable make_hex_table()
{
	HexTable h{};
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

inline constexpr HexTable hex_table = make_hex_table();

// The byte that two digits at p make, of text found sound.
inline unsigned byte_at(const unsigned char *p)
{
	return static_cast<unsigned>(hex_table.nibble[p[0]] << 4 | hex_table.nibble[p[1]]);
}

#if defined(USE_SSE2)
// The values of 16 hexadecimal digits of either case; where CHECK, *ok
// loses the lanes that hold no digit. Unchecked, digits found sound cost
// four instructions for sixteen.
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

// The upper-case digits of 16 values from 0 to 15: '0' + d, or 7 more
// from A on.
inline __m128i digit_chars(__m128i d)
{
	return _mm_add_epi8(_mm_add_epi8(d, _mm_set1_epi8('0')),
	                    _mm_and_si128(_mm_cmpgt_epi8(d, _mm_set1_epi8(9)), _mm_set1_epi8(7)));
}
#endif

// The byte that two digits make, for the two characters loaded as one
// 16-bit number, in the machine's order, or NO_PAIR: one load for a value.
inline constexpr unsigned NO_PAIR = 0x100;
extern std::uint16_t pair_values[65536];
// The same, as a dump's character column shows the byte: itself from 20 to
// 7E, else '.'.
extern std::uint16_t pair_shown[65536];

// Makes both, before the first use.
void make_pair_values();

inline unsigned two_at(const unsigned char *p)
{
	std::uint16_t two;
	std::memcpy(&two, p, 2);
	return two;
}

inline unsigned pair_at(const unsigned char *p)
{
	return pair_values[two_at(p)];
}

// The `count` values whose two digits each stand at t + at[k], into
// `bytes`; what it returns has NO_PAIR set where one is no digit.
inline unsigned values_at(const unsigned char *t, const std::uint8_t *at, std::size_t count, unsigned char *bytes)
{
	unsigned bad = 0;
	std::size_t k = 0;
	for (; k + 4 <= count; k += 4) {
		unsigned v0 = pair_at(t + at[k]), v1 = pair_at(t + at[k + 1]), v2 = pair_at(t + at[k + 2]),
		         v3 = pair_at(t + at[k + 3]);
		bad |= v0 | v1 | v2 | v3;
		bytes[k] = static_cast<unsigned char>(v0);
		bytes[k + 1] = static_cast<unsigned char>(v1);
		bytes[k + 2] = static_cast<unsigned char>(v2);
		bytes[k + 3] = static_cast<unsigned char>(v3);
	}
	for (; k < count; k++) {
		unsigned v = pair_at(t + at[k]);
		bad |= v;
		bytes[k] = static_cast<unsigned char>(v);
	}
	return bad;
}
