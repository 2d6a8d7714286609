#include "scan.h"

#include <cstring>

std::uint8_t row_checksum(std::uint32_t address, const unsigned char *row)
{
	unsigned sum = (address & 0xFF) + (address >> 8 & 0xFF);

	for (std::size_t i = 0; i < ROW_SIZE; i++)
		sum += row[i];
	return static_cast<std::uint8_t>(0u - sum);
}

void scan_image(std::FILE *in, std::uint32_t start, std::FILE *out)
{
	static const char digits[] = "0123456789ABCDEF";
	unsigned char block[BLOCK_SIZE];
	char line[ROWS_PER_BLOCK * 3 + 1];	// "XX " per row, then the newline
	std::uint32_t address = start;		// of the next row; wraps at 2^32
	std::size_t want, got;

	do {
		std::memset(block, 0, sizeof block);
		std::size_t off = address % BLOCK_SIZE;
		want = BLOCK_SIZE - off;
		got = std::fread(block + off, 1, want, in);
		if (got == 0)
			break;

		char *p = line;
		std::size_t row = off / ROW_SIZE;
		for (std::size_t end = row + got / ROW_SIZE; row < end; row++) {
			unsigned value = row_checksum(address, block + row * ROW_SIZE);
			address += ROW_SIZE;
			*p++ = digits[value >> 4];
			*p++ = digits[value & 0xF];
			*p++ = ' ';
		}
		*p++ = '\n';
		std::fwrite(line, 1, static_cast<std::size_t>(p - line), out);
		// fread comes back short only at the end of the file or on an
		// error; reading on after an error would shift every later row
		// onto the wrong address.
	} while (got == want);
}
