// The scanner on any image at any row address, against what must hold of its
// output: the plain per-row checksums laid out one line per block touched,
// each value making its row and address bytes add up to 0 modulo 256. Then
// the check of that image against its own output with an edit made to it,
// against the comparison done plainly with everything in hand.
#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"

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

static std::string format(const char *form, ...) __attribute__((format(printf, 1, 2)));
static std::string format(const char *form, ...)
{
	char text[200];
	va_list args;
	va_start(args, form);
	std::vsnprintf(text, sizeof text, form, args);
	va_end(args);
	return text;
}

struct Row {
	std::uint32_t address;
	std::size_t offset;
	unsigned value;
};

struct Listed {
	std::vector<unsigned> values;
	std::size_t line;
	std::string bad;	// the token shown, if the line has a bad one
};

// The listing's lines that hold values, up to and with the first bad one.
static std::vector<Listed> plain_listing(std::string text)
{
	std::vector<Listed> lines;
	if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
		text.erase(0, 3);
	for (std::size_t at = 0, number = 1; at < text.size(); number++) {
		std::size_t end = text.find('\n', at);
		std::string line = text.substr(at, end - at);
		if (end != std::string::npos && !line.empty() && line.back() == '\r')
			line.pop_back();
		at = end == std::string::npos ? text.size() : end + 1;
		Listed listed{{}, number, ""};
		for (std::size_t t = 0; t < line.size();) {
			std::size_t stop = line.find_first_of(" \t", t);
			std::string token = line.substr(t, stop - t);
			t = stop == std::string::npos ? line.size() : stop + 1;
			if (token.empty())
				continue;
			if (token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
			    std::isxdigit(static_cast<unsigned char>(token[1]))) {
				listed.values.push_back(static_cast<unsigned>(std::stoul(token, nullptr, 16)));
				continue;
			}
			std::size_t cut = token.size() > TOKEN_SHOWN ? TOKEN_SHOWN : token.size();
			while (cut < token.size() && cut > 0 && (token[cut] & 0xC0) == 0x80)
				cut--;
			listed.bad = token.substr(0, cut) + (cut < token.size() ? "..." : "");
			lines.push_back(listed);
			return lines;
		}
		if (!listed.values.empty())
			lines.push_back(listed);
	}
	return lines;
}

// The check at its plainest: the image's lines and the listing's in hand.
static std::string plain_check(const std::uint8_t *image, std::size_t size, std::uint32_t start,
                               const std::string &listing, int *status)
{
	std::vector<std::vector<Row>> image_lines;
	for (std::size_t at = 0; at < size;) {
		std::size_t want = BLOCK_SIZE - start % BLOCK_SIZE;
		std::size_t got = size - at < want ? size - at : want;
		std::vector<Row> rows;
		for (std::size_t row = 0; row < got / ROW_SIZE; row++, start += ROW_SIZE)
			rows.push_back({start, at + row * ROW_SIZE,
			                row_checksum(start, image + at + row * ROW_SIZE)});
		if (!rows.empty())
			image_lines.push_back(rows);
		at += got;
	}
	std::vector<Listed> lines = plain_listing(listing);
	std::string out;
	std::size_t next = 0, all = 0, differ = 0, extra = 0;
	bool more = false;
	for (std::size_t i = 0; i < image_lines.size(); i++) {
		const std::vector<Row> &rows = image_lines[i];
		all += rows.size();
		if (next == lines.size()) {
			std::size_t left = 0;
			for (std::size_t j = i; j < image_lines.size(); j++)
				left += image_lines[j].size();
			differ += left;
			*status = 1;
			return out + format("%08X: listing ends, image has %zu more row%s\n", rows[0].address,
			                    left, left == 1 ? "" : "s") +
			       format("%zu of %zu rows differ\n", differ, all - rows.size() + left);
		}
		const Listed &listed = lines[next++];
		if (!listed.bad.empty()) {
			*status = 2;
			return out + format("listing:%zu: bad value ", listed.line) + listed.bad + "\n";
		}
		for (std::size_t k = 0; k < rows.size(); k++) {
			const Row &r = rows[k];
			const std::uint8_t *b = image + r.offset;
			if (k >= listed.values.size())
				out += format("%08X: listing has no value, image %02X\n", r.address, r.value);
			else if (listed.values[k] != r.value)
				out += format("%08X: listing %02X, image %02X, offset %zX, bytes %02X %02X %02X "
				              "%02X %02X %02X %02X %02X\n", r.address, listed.values[k], r.value,
				              r.offset, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
			else
				continue;
			differ++;
		}
		extra = listed.values.size() > rows.size() ? listed.values.size() - rows.size() : 0;
		if (extra > 0 && i + 1 < image_lines.size()) {
			out += format("%08X: listing has %zu more value%s on line %zu\n",
			              rows.back().address + 8, extra, extra == 1 ? "" : "s", listed.line);
			more = true;
			extra = 0;
		}
	}
	for (; next < lines.size(); next++) {
		if (!lines[next].bad.empty()) {
			*status = 2;
			return out + format("listing:%zu: bad value ", lines[next].line) + lines[next].bad +
			       "\n";
		}
		extra += lines[next].values.size();
	}
	if (extra > 0)
		out += format("%08X: image ends, listing has %zu more value%s\n", start, extra,
		              extra == 1 ? "" : "s");
	*status = differ > 0 || more || extra > 0;
	return out + (*status ? format("%zu of %zu rows differ\n", differ, all)
	                      : format("all %zu rows match\n", all));
}

static std::string contents(std::FILE *f)
{
	std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
	std::rewind(f);
	if (std::fread(text.data(), 1, text.size(), f) != text.size())
		std::abort();
	return text;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	if (size < 4)
		return 0;
	unsigned edit = data[0] % ROW_SIZE;	// what the start address leaves over
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
	std::string text = contents(out);
	if (std::ferror(in))
		std::abort();

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

	// The image's own output, as it is or with the image's first bytes put
	// in or some bytes taken out at a place that its next byte picks.
	std::string listing = text;
	std::size_t place = image_size > edit ? image[edit] * listing.size() / 256 : 0;
	if (edit % 2 == 1 && image_size >= edit)
		listing.insert(place, reinterpret_cast<const char *>(image), edit);
	else
		listing.erase(place, edit);
	// UTF-16 is for the unit tests: no byte order mark of it comes first.
	while (listing.compare(0, 2, "\xFF\xFE") == 0 || listing.compare(0, 2, "\xFE\xFF") == 0)
		listing.erase(0, 1);
	std::FILE *listed = std::tmpfile();
	if (listed == nullptr)
		std::abort();
	std::fwrite(listing.data(), 1, listing.size(), listed);
	std::rewind(in);
	std::rewind(listed);
	std::rewind(out);
	int status = check_image(in, start, listed, "listing", out), expected;
	std::string report = contents(out);
	if (report != plain_check(image, image_size, start, listing, &expected) || status != expected)
		std::abort();
	std::fclose(in);
	std::fclose(out);
	std::fclose(listed);
	return 0;
}