#include "fit.h"

namespace {

// What the low byte and the byte above it of each row's address must add up
// to, modulo 256, for the rows of the image from byte s on to have the
// listed values. Kept for each s as the search slides along the image.
struct Needed {
	std::uint8_t sum[FIT_ROWS];
};

// Whether the rows, the first of them at the low 16 bits `x`, have the
// address bytes that `needed` asks for.
bool fits_at(const Needed &needed, std::uint32_t x)
{
	for (std::size_t k = 0; k < FIT_ROWS; k++) {
		std::uint32_t a = (x + 8 * k) & 0xFFFF;
		if (((a & 0xFF) + (a >> 8)) % 256 != needed.sum[k])
			return false;
	}
	return true;
}

// The lowest row address, by its low 16 bits and other than `own`, at which
// the rows fit, or -1. Only a low byte of (needed - high byte) fits the first
// row, for each high byte: at most 32 addresses to try, not 8192.
long first_fit(const Needed &needed, std::uint32_t own)
{
	for (std::uint32_t high = 0; high < 256; high++) {
		std::uint32_t low = (needed.sum[0] - high) & 0xFF;
		std::uint32_t x = high << 8 | low;
		if (low % 8 == 0 && x != own && fits_at(needed, x))
			return static_cast<long>(x);
	}
	return -1;
}

}  // namespace

bool report_fit(const unsigned char *image, std::size_t size, std::uint32_t start,
                std::uint64_t skip, const std::uint8_t listed[FIT_ROWS], std::FILE *out)
{
	constexpr std::size_t SPAN = 8 * FIT_ROWS;
	// Rows begin at multiples of 8: `head` bytes after an unaligned start.
	// Another start address keeps that distance to its first row.
	std::uint32_t head = (0u - start) % 8, row = start + head, own = row & 0xFFFF;
	Needed needed[FIT_MOST_SKIPPED + 1];

	if (size < SPAN)
		return false;
	// The most bytes skipped that leave FIT_ROWS rows.
	std::size_t last = size - SPAN < FIT_MOST_SKIPPED ? size - SPAN : FIT_MOST_SKIPPED;
	// Each row's byte sum, slid along one byte at a time.
	unsigned sums[FIT_ROWS] = {};
	for (std::size_t k = 0; k < FIT_ROWS; k++)
		for (std::size_t b = 0; b < 8; b++)
			sums[k] += image[8 * k + b];
	for (std::size_t s = 0; s <= last; s++) {
		for (std::size_t k = 0; k < FIT_ROWS; k++) {
			if (s > 0)
				sums[k] += image[s + 8 * k + 7] - image[s - 1 + 8 * k];
			needed[s].sum[k] = static_cast<std::uint8_t>(0u - listed[k] - sums[k]);
		}
	}

	if (fits_at(needed[0], own))
		return false;
	for (std::size_t s = 1; s <= last; s++) {
		if (fits_at(needed[s], own)) {
			std::fprintf(out, "listing fits with --skip=%llu\n",
			             static_cast<unsigned long long>(skip + s));
			return true;
		}
	}
	for (std::size_t s = 0; s <= last; s++) {
		long x = first_fit(needed[s], own);
		if (x < 0)
			continue;
		std::uint32_t address = ((row & ~0xFFFFu) | static_cast<std::uint32_t>(x)) - head;
		std::fprintf(out, "listing fits start address %08X", static_cast<unsigned>(address));
		if (s > 0)
			std::fprintf(out, " with --skip=%llu", static_cast<unsigned long long>(skip + s));
		std::fputc('\n', out);
		return true;
	}
	return false;
}
