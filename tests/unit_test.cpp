#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "address.h"
#include "check.h"
#include "dump.h"
#include "fit.h"
#include "listing.h"
#include "records.h"
#include "scan.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes counting(unsigned from, unsigned to)
{
	Bytes b;
	for (unsigned v = from; v <= to; v++)
		b.push_back(static_cast<unsigned char>(v));
	return b;
}

std::FILE *stream_of(const std::string &bytes)
{
	std::FILE *f = std::tmpfile();
	EXPECT_NE(f, nullptr);
	if (f != nullptr) {
		std::fwrite(bytes.data(), 1, bytes.size(), f);
		std::rewind(f);
	}
	return f;
}

// Runs the scanner over real streams, as the tool does.
std::string scan(const Bytes &image, std::uint32_t start)
{
	std::FILE *in = std::tmpfile();
	std::FILE *out = std::tmpfile();
	EXPECT_NE(in, nullptr);
	EXPECT_NE(out, nullptr);
	if (in == nullptr || out == nullptr)
		return "";
	std::fwrite(image.data(), 1, image.size(), in);
	std::rewind(in);
	Image source;
	open_binary(&source, in, 0, WHOLE_FILE);
	scan_image(&source, start, out);
	EXPECT_FALSE(std::ferror(in));
	std::rewind(out);
	std::string text;
	for (int c; (c = std::fgetc(out)) != EOF;)
		text += static_cast<char>(c);
	std::fclose(in);
	std::fclose(out);
	return text;
}

TEST(RowChecksum, AddressBytesAndDataSumToZero)
{
	struct Case {
		std::uint32_t address;
		Bytes row;
		unsigned expected;
	} cases[] = {
		{0x0000, Bytes(8, 0), 0x00},
		{0x0000, counting(0, 7), 0xE4},
		{0x1008, counting(8, 15), 0x8C},
		{0xFFF8, counting(1, 8), 0xE5},
		{0x10000, counting(1, 8), 0xDC},	// bits 16 and up do not count
		{0xFFFFFFF8, Bytes(8, 0xFF), 0x11},
		{0x1234, Bytes(8, 0x80), 0xBA},		// carries well past one byte
	};
	for (const Case &c : cases) {
		EXPECT_EQ(row_checksum(c.address, c.row.data()), c.expected)
			<< std::hex << "address " << c.address;
		// The property itself, of what the function gives, not of the table.
		unsigned sum = (c.address & 0xFF) + (c.address >> 8 & 0xFF) + row_checksum(c.address, c.row.data());
		for (unsigned char b : c.row)
			sum += b;
		EXPECT_EQ(sum % 256, 0u) << std::hex << "address " << c.address;
		// The value names a byte left out, or typed twice, wherever it was.
		for (std::size_t k = 0; k < ROW_SIZE; k++) {
			Bytes lacking = c.row, doubled = c.row;
			lacking.erase(lacking.begin() + static_cast<std::ptrdiff_t>(k));
			doubled.insert(doubled.begin() + static_cast<std::ptrdiff_t>(k), c.row[k]);
			EXPECT_EQ(missing_byte(c.address, lacking.data(), static_cast<std::uint8_t>(c.expected)), c.row[k])
				<< std::hex << "address " << c.address << ", byte " << k;
			EXPECT_EQ(extra_byte(c.address, doubled.data(), static_cast<std::uint8_t>(c.expected)), c.row[k])
				<< std::hex << "address " << c.address << ", byte " << k;
		}
	}
}

TEST(ParseAddress, AcceptsTheHexadecimalForms)
{
	struct Case {
		const char *text;
		std::uint32_t expected;
	} cases[] = {
		{"1000", 0x1000}, {"0x1000", 0x1000}, {"0X1000", 0x1000},
		{"  1000", 0x1000}, {"\t\n\v\f\r 1000", 0x1000}, {"+1000", 0x1000},
		{"1000zz", 0x1000}, {"1000 2000", 0x1000}, {"abCDef", 0xABCDEF},
		{"0", 0}, {"-0", 0}, {"0x0", 0}, {"00x10", 0},
		{"000000001000", 0x1000}, {"0x0000000FFFFFFFF", 0xFFFFFFFF},
		{"FFFFFFFF", 0xFFFFFFFF}, {"-80", 0xFFFFFF80}, {"-0x80", 0xFFFFFF80},
		{"-FFFFFFFF", 1}, {"$C000", 0xC000}, {"-$80", 0xFFFFFF80}, {" +$1000", 0x1000}, {"$0x10", 0},
	};
	for (const Case &c : cases) {
		std::uint32_t address = 0xDEADBEEF;
		EXPECT_TRUE(parse_address(c.text, &address)) << '"' << c.text << '"';
		EXPECT_EQ(address, c.expected) << '"' << c.text << '"';
	}
}

TEST(ParseAddress, RefusesTextsWithoutDigitsOrBeyond32Bits)
{
	const char *texts[] = {
		"", "zz", "   ", "0x", "0X", "0xg", "+", "-", "- 80", "+-80",
		"x10", "100000000", "-100000000", "0x123456789", "FFFFFFFF0", "$", "0x$10", "$-80",
	};
	for (const char *text : texts) {
		std::uint32_t address = 0xDEADBEEF;
		EXPECT_FALSE(parse_address(text, &address)) << '"' << text << '"';
		EXPECT_EQ(address, 0xDEADBEEFu) << '"' << text << '"';
	}
}

TEST(ParseCount, DecimalOrHexadecimalAndNothingElse)
{
	struct Case {
		const char *text;
		bool ok;
		std::uint64_t expected;
	} cases[] = {
		{"0", true, 0}, {"512", true, 512}, {"0010", true, 10}, {"0x200", true, 0x200},
		{"0XfF", true, 0xFF}, {"18446744073709551615", true, UINT64_MAX},
		{"0xFFFFFFFFFFFFFFFF", true, UINT64_MAX}, {"0x00000000000000001", true, 1},
		{"", false, 0}, {"0x", false, 0}, {"-1", false, 0}, {"+1", false, 0}, {" 1", false, 0},
		{"1 ", false, 0}, {"1k", false, 0}, {"1a", false, 0}, {"x10", false, 0}, {"0x1g", false, 0},
		{"18446744073709551616", false, 0}, {"0x10000000000000000", false, 0},
	};
	for (const Case &c : cases) {
		std::uint64_t count = 7;
		EXPECT_EQ(parse_count(c.text, &count), c.ok) << '"' << c.text << '"';
		EXPECT_EQ(count, c.ok ? c.expected : 7) << '"' << c.text << '"';
	}
}

TEST(ScanImage, OneLinePerBlockTouched)
{
	const std::string full = "00 F8 F0 E8 E0 D8 D0 C8 C0 B8 B0 A8 A0 98 90 88 \n";
	struct Case {
		const char *what;
		Bytes image;
		std::uint32_t start;
		std::string expected;
	} cases[] = {
		{"empty image", {}, 0, ""},
		{"two rows", counting(0, 15), 0, "E4 9C \n"},
		{"two rows higher up", counting(0, 15), 0x1000, "D4 8C \n"},
		{"no whole row", Bytes(5), 0, "\n"},
		{"one whole block", Bytes(128), 0, full},
		{"a piece past the block", Bytes(130), 0, full + "\n"},
		{"a row past the block", Bytes(136), 0, full + "80 \n"},
		{"rows past a piece", Bytes(20), 0x78, "88 \n80 \n"},
		{"start inside a block", Bytes(200), 0x40,
		 "C0 B8 B0 A8 A0 98 90 88 \n"
		 "80 78 70 68 60 58 50 48 40 38 30 28 20 18 10 08 \nFF \n"},
		{"across 2^31", Bytes(32), 0x7FFFFFF0, "11 09 \n00 F8 \n"},
		{"wrapping at 2^32", Bytes(136), 0xFFFFFF80,
		 "81 79 71 69 61 59 51 49 41 39 31 29 21 19 11 09 \n00 \n"},
		{"between rows: no value for the bytes before the first", Bytes(9), 0x7F, "\n80 \n"},
		{"between rows, no whole row, two blocks touched", Bytes(10), 0x7D, "\n\n"},
	};
	for (const Case &c : cases)
		EXPECT_EQ(scan(c.image, c.start), c.expected) << c.what;
}

// Every value against its own row's bytes and address, summed here and not
// by row_checksum, which the portable scanner itself calls: for images that
// start and end anywhere in a block, between rows too, and across the wrap
// at 2^32.
TEST(ScanImage, EveryValueIsItsRowsChecksum)
{
	Bytes image(1000);
	for (std::size_t i = 0; i < image.size(); i++)
		image[i] = static_cast<unsigned char>(i * 7 + i / 251);
	for (std::uint32_t start : {0x0u, 0x8u, 0x78u, 0x1230u, 0xFFFFFE08u, 0x801u, 0x87Fu, 0xFFFFFFFDu}) {
		for (std::size_t size : {1000, 999, 121, 120, 8}) {
			Bytes part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
			std::string text = scan(part, start);
			std::size_t head = (0u - start) % 8, at = head;
			std::uint32_t address = start + static_cast<std::uint32_t>(head);
			for (std::size_t i = 0; i + 3 <= text.size(); i++) {
				if (text[i] == '\n')
					continue;
				unsigned sum = static_cast<unsigned>(std::stoul(text.substr(i, 2), nullptr, 16));
				sum += (address & 0xFF) + (address >> 8 & 0xFF);
				for (std::size_t b = 0; b < 8; b++)
					sum += part[at + b];
				EXPECT_EQ(sum % 256, 0u) << std::hex << "start " << start << " address " << address;
				address += 8;
				at += 8;
				i += 2;
			}
			EXPECT_EQ(at, head + (size - head) / 8 * 8) << std::hex << "start " << start;
		}
	}
}

// A listing's values as next_value gives them, "LINE:VALUE " each, a typo
// as "LINE:?TOKEN ", and "bad LINE TOKEN" at a bad value, TOKEN as
// write_token shows it. Where `taken` is given, it is first offered to
// take_values until the listing has fewer of its values next, each time as
// "+COUNT", then "|".
std::string read_listing(const std::string &bytes, const char *taken = nullptr)
{
	static Listing listing;	// too large for some stacks
	std::FILE *f = stream_of(bytes);
	std::FILE *out = std::tmpfile();
	if (f == nullptr || out == nullptr)
		return "";
	open_listing(&listing, f);
	std::string text;
	for (std::size_t count = taken ? std::strlen(taken) / 3 : 0, got = count; got == count && count > 0;) {
		got = take_values(&listing, taken, count);
		text += '+';	// piece by piece: g++ 12 takes "text" + string for an overlapping copy
		text += std::to_string(got);
	}
	text += taken ? "|" : "";
	std::uint8_t value;
	std::uint64_t line;
	char shown[8];
	for (ListingRead read; (read = next_value(&listing, &value, &line)) != ListingRead::END;) {
		if (read != ListingRead::VALUE) {
			char shown[4 * TOKEN_SHOWN + 4];
			std::string token(shown, show_token(&listing, shown));
			if (read == ListingRead::TYPO) {
				text += std::to_string(line) + ":?" + token + " ";
				continue;
			}
			text += "bad " + std::to_string(line) + " " + token;
			break;
		}
		std::snprintf(shown, sizeof shown, ":%02X ", value);
		text += std::to_string(line) + shown;
	}
	std::fclose(f);
	std::fclose(out);
	return text;
}

std::string utf16le(const std::string &ascii)
{
	std::string text = "\xFF\xFE";
	for (char c : ascii)
		text += std::string{c, '\0'};
	return text;
}

std::string repeat(const std::string &text, int n)
{
	std::string all;
	while (n-- > 0)
		all += text;
	return all;
}

TEST(Listing, ReadsWhatPeopleWrite)
{
	std::string wide_line = repeat("0a ", 30000);	// longer than what the reader holds at once
	std::string x64(64, 'x');
	struct Case {
		std::string listing, expected;
		const char *taken = nullptr;
	} cases[] = {
		{"", ""},
		{"9b 47 \n", "1:9B 1:47 "},
		{"9B\t \t47\v00\f01", "1:9B 1:47 1:00 1:01 "},
		{"\xEF\xBB\xBF\n \t\r\n9b\r\n\n47\n\n", "3:9B 5:47 "},
		{"\r\r\n\n\r9b\r47 \r", "5:9B 6:47 "},	// CR alone, as old Macs end lines
		{wide_line + "\n01\n", repeat("1:0A ", 30000) + "2:01 "},
		{utf16le(std::string("9b 47\r\n\r\n") + wide_line), std::string("1:9B 1:47 ") + repeat("3:0A ", 30000)},
		{std::string("\xFE\xFF\0" "9\0B", 6), "1:9B "},
		// Blanks of Unicode, a byte order mark within, and A0 on its own.
		{"9b\xC2\xA0" "47\xE1\x9A\x80" "00\xE2\x80\x8B" "01\xE2\x80\xAF" "02\xE2\x81\x9F" "03"
		 "\xE3\x80\x80" "04\xEF\xBB\xBF" "05\xE2\x80\x80" "06\xA0" "07",
		 "1:9B 1:47 1:00 1:01 1:02 1:03 1:04 1:05 1:06 1:07 "},
		{std::string("\xFF\xFE" "9\0b\0\xA0\0" "4\0" "7\0", 12), "1:9B 1:47 "},
		{"\xEF\xBB\xBF\xEF\xBB\xBF" "9b", "1:9B "},
		{"9b\xE2\x80\x8C 47 00", "1:?9b\xE2\x80\x8C 1:47 1:00 "},	// U+200C is no blank
		{"\xE2\xA0" "47", "bad 1 \\xE2"},		// A0 within no character
		// Labels, the first token of a line only: digits and a colon or a
		// hyphen, what follows them the next token; digits alone where
		// more tokens follow.
		{"4000: 9b 47\n00004080:\t00\n1:01\rabcdef: 02", "1:9B 1:47 2:00 3:01 4:02 "},
		{"$4000: 9b\n4000- 47\n$C0:00 01", "1:9B 2:47 3:00 3:01 "},
		{"C000  9b 47\n$0C000 00\nC000", "1:9B 1:47 2:00 "},
		{"42F6 9b\n9b 4000: 47", "1:9B 2:9B 2:?4000: 2:47 "},
		{"123456789: 9b 47", "1:?123456789: 1:9B 1:47 "},
		// Lines of text, passed over whole, values and all; typos on a
		// line of values, however far along it.
		{"Checksums\nPage 1 of 2\n9b 5O 47\n00 9\n00 9 11", "3:9B 3:?5O 3:47 5:00 5:?9 5:11 "},
		{"9b 47 Total: 12 34\n00", "1:9B 1:47 1:?Total: 1:12 1:34 2:00 "},
		{"Page 12 of 30\n00\nPage 12 of 30 4E", "2:00 3:?Page 3:12 3:?of 3:30 3:4E "},
		{repeat("9b ", 9) + repeat("x ", 7) + "00 zz", repeat("1:9B ", 9) + repeat("1:?x ", 7) + "1:00 1:?zz "},
		{repeat("9b ", 8) + repeat("x ", 8) + "00", ""},
		// Garbage ends the listing where it stands, on a line of either kind.
		{"9b 47 \x01 00\n11", "1:9B 1:47 bad 1 \\x01"},
		{"Page \x01 of 2\n11", "bad 1 \\x01"},
		{"9b7", ""}, {"0x9b 00\n0x9b 00 11", "2:?0x9b 2:00 2:11 "},
		{"\xEF\xBB" "9b", "bad 1 \\xEF\\xBB9b"},
		{"a\x1B]0;x\x07\x7F\xC2\x85\xC2\xA1\xFF", "bad 1 a\\x1B]0;x\\x07\\x7F\\xC2\\x85\xC2\xA1\\xFF"},
		{"\x01" + x64 + "yz", std::string("bad 1 \\x01") + std::string(63, 'x') + "..."},
		{std::string("\x01") + repeat("\xC3\xA9", 40), std::string("bad 1 \\x01") + repeat("\xC3\xA9", 31) + "..."},	// not cut within a character
		{utf16le("9b 00 ") + "\xE9", "1:9B 1:00 1:?\xEF\xBF\xBD "},			// half a unit
		{utf16le("9b 00 ") + std::string("\xE9\0", 2), "1:9B 1:00 1:?\xC3\xA9 "},	// é
		{utf16le("") + "\x3D\xD8\xDF\xDC", ""},	// a surrogate pair: text alone on its line
		{utf16le("00 11 ") + std::string("\x3D\xD8" "0", 4), "1:00 1:11 1:?\xEF\xBF\xBD" "0 "},	// a lone leading surrogate
		{utf16le("00 11 ") + "\xDF\xDC", "1:00 1:11 1:?\xEF\xBF\xBD "},		// a lone trailing one
		// Values taken as far as they match, whatever the case and blanks.
		{"9B 47 \n9B 47 \r\n9b\t47\n9B 48", "+2+2+2+0|4:9B 4:48 ", "9B 47 "},
		{"\n\n9B\n47\n00", "+2+0|5:00 ", "9B 47 "},
		{"4000: 9B 47", "+0|1:9B 1:47 ", "9B 47 "},
		{"9B\xC2\xA0" "47 ", "+0|1:9B 1:47 ", "9B 47 "},
		{"9B\n47: 00", "+1|2:00 ", "9B 47 "},
		{"9B\x10" "7 ", "+0|bad 1 9B\\x107", "9B 07 "},
		// Taken only as lines of values: nine values, or a line ended.
		{"9B 47 Checksums of the first page\n00", "+0|2:00 ", "9B 47 "},
		{"9B 47 5O\n", "+0|1:9B 1:47 1:?5O ", "9B 47 "},
		{repeat("9B ", 9) + "Page", "+9+0|1:?Page ", "9B 9B 9B 9B 9B 9B 9B 9B 9B "},
	};
	for (const Case &c : cases)
		EXPECT_EQ(read_listing(c.listing, c.taken), c.expected) << '"' << c.listing.substr(0, 80) << '"';
}

}  // namespace

namespace {

// The line report_fit writes for the image's first values at another place.
std::string fit_line(const Bytes &image, std::uint32_t start, std::uint64_t skip,
                     std::size_t listed_at, std::uint32_t listed_start)
{
	std::uint8_t listed[FIT_ROWS];
	for (std::size_t k = 0; k < FIT_ROWS; k++)
		listed[k] = listed_at + 8 * k + 8 <= image.size()
			? row_checksum(listed_start + static_cast<std::uint32_t>(8 * k), image.data() + listed_at + 8 * k)
			: 0;
	std::FILE *out = std::tmpfile();
	if (out == nullptr)
		return "no tmpfile";
	report_fit(image.data(), std::min(image.size(), FIT_BYTES), start, skip, listed, out);
	std::rewind(out);
	std::string text;
	for (int c; (c = std::fgetc(out)) != EOF;)
		text += static_cast<char>(c);
	std::fclose(out);
	return text;
}

TEST(Fit, NamesTheFirstSkipOrStartAddressThatFits)
{
	Bytes image(2000);	// no stretch of it like another
	std::uint32_t x = 2463534242;
	for (unsigned char &byte : image) {
		x ^= x << 13, x ^= x >> 17, x ^= x << 5;
		byte = static_cast<unsigned char>(x >> 24);
	}
	struct Case {
		const char *what;
		std::uint32_t start;
		std::uint64_t skip;
		std::size_t listed_at;	// where the listing's rows begin in the image
		std::uint32_t listed_start;
		std::string expected;
	} cases[] = {
		{"fits as it is", 0x4000, 0, 0, 0x4000, ""},
		{"a header", 0x4000, 0, 2, 0x4000, "listing fits with --skip=2\n"},
		{"a header, part skipped", 0x4000, 5, 16, 0x4000, "listing fits with --skip=21\n"},
		{"the most skipped", 0x4000, 0, 1024, 0x4000, "listing fits with --skip=1024\n"},
		{"too far", 0x4000, 0, 1025, 0x4000, ""},
		{"another address", 0x0, 0, 0, 0xC000, "listing fits start address 0000C000\n"},
		{"its high bits kept", 0xABCD0000, 0, 0, 0xFFF8, "listing fits start address ABCDFFF8\n"},
		{"no higher bits asked for", 0x0, 0, 0, 0x1234C000, "listing fits start address 0000C000\n"},
		{"both", 0x0, 3, 16, 0x8000, "listing fits start address 00008000 with --skip=19\n"},
	};
	for (const Case &c : cases)
		EXPECT_EQ(fit_line(image, c.start, c.skip, c.listed_at, c.listed_start), c.expected) << c.what;
}

}  // namespace

namespace {

// What a reader makes of the file `in`, readied by `open(image, in, out)`,
// which writes its message to `out`: that message, or its image's bytes in
// hexadecimal, each run of them with the line it stands on, as "LINE:HH..".
template <class Open>
std::string image_of(std::FILE *in, Open open)
{
	std::FILE *out = std::tmpfile();
	Image image;
	std::string text;
	if (out == nullptr)
		return "no tmpfile";
	if (open(&image, in, out)) {
		static unsigned char bytes[SCAN_READ];
		bool ended = false;
		std::uint64_t last = UINT64_MAX;
		while (!ended) {
			std::uint64_t at = image.offset;
			std::size_t n = image.read(&image, bytes, sizeof bytes, at, &ended);
			for (std::size_t k = 0; k < n; k++) {
				std::uint64_t line, same;
				image_lines(&image, at + k, 1, &line, &same);
				char shown[32];
				if (line != last)
					std::snprintf(shown, sizeof shown, " %llu:%02X", static_cast<unsigned long long>(line), bytes[k]);
				else
					std::snprintf(shown, sizeof shown, "%02X", bytes[k]);
				text += shown;
				last = line;
			}
		}
		if (image_failed(&image))
			text += " failed";
	}
	std::rewind(out);
	for (int c; (c = std::fgetc(out)) != EOF;)
		text += static_cast<char>(c);
	std::fclose(out);
	return text;
}

// Expects `expected` of `text` read from a file, which the readers of text
// read twice, and from a stream that cannot be read twice, whose bytes they
// keep.
template <class Open>
void expect_read(const std::string &text, const std::string &expected, Open open)
{
	std::FILE *f = stream_of(text);
	if (f == nullptr)
		return;
	EXPECT_EQ(image_of(f, open), expected) << text;
	std::fclose(f);
#if !defined(_WIN32)
	std::FILE *kept = fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
	if (kept == nullptr)
		return;
	EXPECT_EQ(image_of(kept, open), expected) << "kept: " << text;
	std::fclose(kept);
#endif
}

TEST(Records, TheSameFromAFileReadTwiceAndFromAStreamKept)
{
	struct Case {
		RecordFormat format;
		std::string text;
		std::uint32_t start;
		std::uint64_t length;
		std::string expected;
	} cases[] = {
		{RecordFormat::IHEX, ":0400000001020304F2\n:00000001FF\n", 0, WHOLE_FILE, " 1:01020304"},
		{RecordFormat::IHEX, ":0400000001020304F2\n:00000001FF\n", 0, 6, " 1:01020304 0:EEEE"},
		// Out of order, a gap between, the lines each byte came from.
		{RecordFormat::IHEX, ":02000400AABB95\n:0400000001020304F2\n:00000001FF\n", 0, WHOLE_FILE,
		 " 2:01020304 1:AABB"},
		{RecordFormat::IHEX, ":02000600AABB93\r\n\r\n:0100000001FE\r:00000001FF", 0, 10,
		 " 3:01 0:EEEEEEEEEE 1:AABB 0:EEEE"},
		{RecordFormat::IHEX, "\xEF\xBB\xBF :0100000001FE\t\n:00000001FF\n", 0, WHOLE_FILE, " 1:01"},
		{RecordFormat::IHEX, ":0400000001020304F3\n", 0, WHOLE_FILE, "f:1: bad record checksum\n"},
		{RecordFormat::IHEX, ":0400000001020304F2\n:02000200AABB97\n:00000001FF\n", 0, WHOLE_FILE,
		 "f:2: address 00000002 already written on line 1\n"},
		{RecordFormat::IHEX, ":0400000001020304F2\n", 0, WHOLE_FILE, "f: no end record\n"},
		{RecordFormat::SREC, "S107000001020304EE\nS5030001FB\n", 2, WHOLE_FILE, " 1:0304"},
		{RecordFormat::SREC, "S107000001020304EE\nS5030002FA\n", 0, WHOLE_FILE, "f:2: bad record count\n"},
		{RecordFormat::SREC, "S107000001020304EF\n", 0, WHOLE_FILE, "f:1: bad record checksum\n"},
		{RecordFormat::SREC, "S107000001020304EE\n", 8, WHOLE_FILE, "f: no data at or after the start address\n"},
	};
	for (const Case &c : cases)
		expect_read(c.text, c.expected, [&c](Image *image, std::FILE *in, std::FILE *out) {
			return open_records(image, in, "f", c.format, c.start, c.length, 0xEE, out);
		});
}

// `text` as PowerShell 5's > writes it: UTF-16 LE after a byte order mark.
std::string utf16(const std::string &text)
{
	std::string wide = "\xFF\xFE";
	for (char c : text)
		wide += std::string{c, '\0'};
	return wide;
}

TEST(Dump, TheSameFromAFileReadTwiceAndFromAStreamKept)
{
	// A row of eight repeated by a * to the next label: bytes 8 to 31
	// stand on the * line.
	const std::string repeated = "0000: 11 22 33 44 55 66 77 88\n*\n0020: 99\n";
	struct Case {
		std::string text;
		std::uint64_t skip, length;
		std::string expected;
	} cases[] = {
		{utf16("C000: 11 22\r\nC002: 33  3\r\n"), 0, WHOLE_FILE, " 1:1122 2:33"},
		{repeated, 0, WHOLE_FILE, " 1:1122334455667788 2:112233445566778811223344556677881122334455667788 3:99"},
		{repeated, 4, 24, " 1:55667788 2:1122334455667788112233445566778811223344"},
		{repeated, 10, 12, " 2:334455667788112233445566"},
		{repeated, 30, WHOLE_FILE, " 2:7788 3:99"},
		{"           00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n\n00000000   41 42 43  ABC\n", 0, WHOLE_FILE,
		 " 3:414243"},
		{"0000: 11 22 33 44 55 66 77 88\n*\n0014\n", 0, WHOLE_FILE,
		 "f:2: * cannot repeat 8 values to reach the label on line 3\n"},
		{"C000: 11\nC002: 22\n", 0, WHOLE_FILE, "f:1: 1 value, where the label on line 2 wants 2\n"},
		{repeated, 34, WHOLE_FILE, "cannot skip 34 bytes of f\n"},
	};
	for (const Case &c : cases)
		expect_read(c.text, c.expected, [&c](Image *image, std::FILE *in, std::FILE *out) {
			return open_dump(image, in, "f", c.skip, c.length, out);
		});
}

TEST(Records, AFirstLineThatIsOneSoundRecord)
{
	struct Case {
		const char *text;
		bool ihex, srec;
	} cases[] = {
		{":00000001FF", true, false}, {":00000001ff", true, false}, {":00000001FE", false, false},
		{":0000000", false, false}, {"S9030000FC", false, true}, {"S5030000FC", false, true},
		{"S5030001FB", false, false}, {"S4030000FC", false, false}, {"00 11 22", false, false},
	};
	for (const Case &c : cases) {
		const unsigned char *t = reinterpret_cast<const unsigned char *>(c.text);
		EXPECT_EQ(sound_record(t, std::strlen(c.text), RecordFormat::IHEX), c.ihex) << c.text;
		EXPECT_EQ(sound_record(t, std::strlen(c.text), RecordFormat::SREC), c.srec) << c.text;
	}
}

}  // namespace
