// The scanner on any image at any row address, against what must hold of its
// output: the plain per-row checksums laid out one line per block touched,
// each value making its row and address bytes add up to 0 modulo 256.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "scan.h"

// The block loop at its plainest: one row_checksum and one printf per row.
static std::string plain_scan(const std::uint8_t *image, std::size_t size, std::uint32_t address)
{
	std::string text;
	std::size_t at = 0;
	while (at < size) {
		std::size_t want = BLOCK_SIZE - address % BLOCK_SIZE;
		std::size_t got = size - at < want ? size - at : want;
		for (std::size_t row = 0; row < got / ROW_SIZE; row++) {
			char value[4];
			std::snprintf(value, sizeof value, "%02X ",
			              row_checksum(address, image + at + row * ROW_SIZE));
			text += value;
			address += ROW_SIZE;
		}
		text += '\n';
		at += got;
		if (got < want)
			break;
	}
	return text;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	if (size < 4)
		return 0;
	std::uint32_t start = (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
	                       std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24) &
	                      ~std::uint32_t{ROW_SIZE - 1};
	const std::uint8_t *image = data + 4;
	std::size_t image_size = size - 4;

	std::FILE *in = std::tmpfile();
	std::FILE *out = std::tmpfile();
	if (in == nullptr || out == nullptr)
		std::abort();
	std::fwrite(image, 1, image_size, in);
	std::rewind(in);
	scan_image(in, start, out);
	std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
	std::rewind(out);
	if (std::fread(text.data(), 1, text.size(), out) != text.size() || std::ferror(in))
		std::abort();
	std::fclose(in);
	std::fclose(out);

	// The same bytes as the plain loop.
	if (text != plain_scan(image, image_size, start))
		std::abort();

	// One line per block the image touches, each of at most sixteen "XX ".
	std::size_t blocks =
		image_size == 0 ? 0 : (start % BLOCK_SIZE + image_size + BLOCK_SIZE - 1) / BLOCK_SIZE;
	std::size_t lines = 0, at = 0, in_line = 0;
	std::uint32_t address = start;
	for (std::size_t i = 0; i < text.size(); i++) {
		if (text[i] == '\n') {
			lines++;
			in_line = 0;
			continue;
		}
		if (i + 2 >= text.size() || !std::strchr("0123456789ABCDEF", text[i]) ||
		    !std::strchr("0123456789ABCDEF", text[i + 1]) || text[i + 2] != ' ' ||
		    ++in_line > ROWS_PER_BLOCK)
			std::abort();
		unsigned sum = static_cast<unsigned>(std::stoul(text.substr(i, 2), nullptr, 16));
		sum += (address & 0xFF) + (address >> 8 & 0xFF);
		for (std::size_t b = 0; b < ROW_SIZE; b++)
			sum += image[at + b];
		if (sum % 256 != 0)
			std::abort();
		address += ROW_SIZE;
		at += ROW_SIZE;
		i += 2;
	}
	if (lines != blocks || at != image_size / ROW_SIZE * ROW_SIZE)
		std::abort();
	return 0;
}
