#include "scan.h"

#include <algorithm>
#include <cstring>

#include "hexdigits.h"

namespace {

// The checksums of all sixteen rows of the block at `base`, a multiple of
// 128. Within such a block bits 8 to 15 of the address stay the same and
// bits 0 to 7 are those of the base plus 8 per row, without a carry.
void block_checksums(const unsigned char *block, std::uint32_t base,
                     std::uint8_t values[ROWS_PER_BLOCK])
{
#if defined(USE_SSE2)
	// psadbw against zero adds up each 8-byte half of 16 bytes into its
	// 64-bit lane: two row sums at once, each below 2^11. Two rounds of
	// packing gather them as 16-bit lanes, of which the low bytes count.
	const __m128i zero = _mm_setzero_si128();
	const __m128i *rows = reinterpret_cast<const __m128i *>(block);
	__m128i sums[8], halves[2];
	for (int i = 0; i < 8; i++)
		sums[i] = _mm_sad_epu8(_mm_loadu_si128(rows + i), zero);
	for (int i = 0; i < 2; i++)
		halves[i] = _mm_and_si128(
			_mm_packs_epi32(_mm_packs_epi32(sums[4 * i], sums[4 * i + 1]),
			                _mm_packs_epi32(sums[4 * i + 2], sums[4 * i + 3])),
			_mm_set1_epi16(0xFF));
	__m128i address_bytes = _mm_add_epi8(
		_mm_set1_epi8(static_cast<char>((base & 0xFF) + (base >> 8 & 0xFF))),
		_mm_setr_epi8(0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96, 104, 112, 120));
	__m128i total = _mm_add_epi8(_mm_packus_epi16(halves[0], halves[1]), address_bytes);
	_mm_storeu_si128(reinterpret_cast<__m128i *>(values), _mm_sub_epi8(zero, total));
#else
	for (std::size_t row = 0; row < ROWS_PER_BLOCK; row++)
		values[row] = row_checksum(static_cast<std::uint32_t>(base + row * ROW_SIZE),
		                           block + row * ROW_SIZE);
#endif
}

}  // namespace

void format_values(const std::uint8_t values[ROWS_PER_BLOCK], char *line)
{
	// Each value goes in with one four-byte store, "XX  ", whose last byte
	// the next value overwrites.
	char words[ROWS_PER_BLOCK][4];
#if defined(USE_SSE2)
	// Digit d is '0' + d, or 7 more from A on; the digits are paired up,
	// then each pair with two blanks.
	__m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(values));
	__m128i nibble = _mm_set1_epi8(0x0F);
	__m128i digits[2] = {_mm_and_si128(_mm_srli_epi16(v, 4), nibble), _mm_and_si128(v, nibble)};
	for (__m128i &d : digits)
		d = digit_chars(d);
	__m128i pairs[2] = {_mm_unpacklo_epi8(digits[0], digits[1]),
	                    _mm_unpackhi_epi8(digits[0], digits[1])};
	__m128i blanks = _mm_set1_epi8(' ');
	__m128i *out = reinterpret_cast<__m128i *>(words);
	for (int i = 0; i < 2; i++) {
		_mm_storeu_si128(out + 2 * i, _mm_unpacklo_epi16(pairs[i], blanks));
		_mm_storeu_si128(out + 2 * i + 1, _mm_unpackhi_epi16(pairs[i], blanks));
	}
#else
	static const char digits[] = "0123456789ABCDEF";
	for (std::size_t row = 0; row < ROWS_PER_BLOCK; row++) {
		words[row][0] = digits[values[row] >> 4];
		words[row][1] = digits[values[row] & 0xF];
		words[row][2] = words[row][3] = ' ';
	}
#endif
	for (std::size_t row = 0; row < ROWS_PER_BLOCK; row++)
		std::memcpy(line + 3 * row, words[row], 4);
}

namespace {

struct Output {
	std::FILE *file;
	std::size_t len;
	char data[65536];
};

// Up to `want` bytes of the image, fewer only at its end or on a read error.
std::size_t read_block(Scan *scan, unsigned char *to, std::size_t want)
{
	std::size_t got = 0;

	// The usual case, a whole block at hand, as one fixed-size copy.
	if (want == BLOCK_SIZE && scan->len - scan->pos >= BLOCK_SIZE) {
		std::memcpy(to, scan->data + scan->pos, BLOCK_SIZE);
		scan->pos += BLOCK_SIZE;
		return BLOCK_SIZE;
	}
	while (got < want) {
		if (scan->pos == scan->len) {
			if (scan->image_ended)
				break;
			std::memmove(scan->data, scan->data + scan->len - SCAN_REWIND, SCAN_REWIND);
			Image *image = scan->image;
			// The bytes kept to hand out again keep their lines.
			std::uint64_t keep = image->offset - std::min<std::uint64_t>(image->offset, SCAN_REWIND);
			std::size_t n = image->read(image, scan->data + SCAN_REWIND, SCAN_READ, keep,
			                            &scan->image_ended);
			scan->pos = SCAN_REWIND;
			scan->len = SCAN_REWIND + n;
			continue;
		}
		std::size_t n = std::min(want - got, scan->len - scan->pos);
		std::memcpy(to + got, scan->data + scan->pos, n);
		scan->pos += n;
		got += n;
	}
	return got;
}

void flush_output(Output *output)
{
	std::fwrite(output->data, 1, output->len, output->file);
	output->len = 0;
}

void write_line(Output *output, const char *line, std::size_t len)
{
	if (sizeof output->data - output->len < len)
		flush_output(output);
	std::memcpy(output->data + output->len, line, len);
	output->len += len;
}

}  // namespace

std::uint8_t row_checksum(std::uint32_t address, const unsigned char *row)
{
	unsigned sum = (address & 0xFF) + (address >> 8 & 0xFF);

	for (std::size_t i = 0; i < ROW_SIZE; i++)
		sum += row[i];
	return static_cast<std::uint8_t>(0u - sum);
}

void start_scan(Scan *scan, Image *image, std::uint32_t start)
{
	scan->image = image;
	scan->address = start;
	scan->ended = false;
	// The first whole row begins at the next multiple of ROW_SIZE.
	scan->offset = image->offset + (0u - start) % ROW_SIZE;
	scan->count = scan->bytes = scan->before = 0;
	scan->pos = scan->len = SCAN_REWIND;
	scan->image_ended = false;
}

void rewind_scan(Scan *scan, std::size_t n, std::uint32_t address, std::uint64_t offset)
{
	scan->pos -= n;
	scan->address = address;
	scan->offset = offset;
	scan->count = 0;
	scan->ended = false;
}

bool next_block(Scan *scan)
{
	if (scan->ended)
		return false;
	std::size_t off = scan->address % BLOCK_SIZE;
	std::size_t want = BLOCK_SIZE - off;
	std::size_t got = read_block(scan, scan->block + off, want);
	scan->offset += scan->count * ROW_SIZE;
	scan->ended = got < want;
	if (got == 0)
		return false;
	// All sixteen rows cost less than picking out the whole ones.
	scan->base = scan->address - static_cast<std::uint32_t>(off);
	scan->first = off / ROW_SIZE;
	// Only what the read left alone needs clearing; a whole block, the
	// usual case, needs none. A block that begins between rows is never
	// whole: it is the first, and the bytes before its first whole row get
	// no value, as a piece after the last gets none.
	if (got != BLOCK_SIZE) {
		std::memset(scan->block, 0, off);
		std::memset(scan->block + off + got, 0, want - got);
		if (off % ROW_SIZE != 0) {
			std::size_t head = ROW_SIZE - off % ROW_SIZE;
			scan->before = std::min(got, head);
			scan->first++;
			scan->address += static_cast<std::uint32_t>(head);
			got -= scan->before;
		}
	}
	block_checksums(scan->block, scan->base, scan->values);
	scan->count = got / ROW_SIZE;
	scan->bytes = got;
	scan->address += static_cast<std::uint32_t>(scan->count * ROW_SIZE);
	return true;
}

void scan_image(Image *image, std::uint32_t start, std::FILE *out)
{
	Scan scan{};	// cleared, so that its pages count the same for any image
	Output output{out, 0, {}};

	start_scan(&scan, image, start);
	while (next_block(&scan)) {
		char line[ROWS_PER_BLOCK * 3 + 1];	// "XX " per row, then the newline
		format_values(scan.values, line);
		line[3 * (scan.first + scan.count)] = '\n';
		write_line(&output, line + 3 * scan.first, 3 * scan.count + 1);
	}
	flush_output(&output);
}
