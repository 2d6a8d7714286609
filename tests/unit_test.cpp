#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "address.h"
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
	scan_image(in, start, out);
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
		unsigned sum = (c.address & 0xFF) + (c.address >> 8 & 0xFF) + c.expected;
		for (unsigned char b : c.row)
			sum += b;
		EXPECT_EQ(sum % 256, 0u) << std::hex << "address " << c.address;
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
		{"-FFFFFFFF", 1},
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
		"x10", "100000000", "-100000000", "0x123456789", "FFFFFFFF0",
	};
	for (const char *text : texts) {
		std::uint32_t address = 0xDEADBEEF;
		EXPECT_FALSE(parse_address(text, &address)) << '"' << text << '"';
		EXPECT_EQ(address, 0xDEADBEEFu) << '"' << text << '"';
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
	};
	for (const Case &c : cases)
		EXPECT_EQ(scan(c.image, c.start), c.expected) << c.what;
}

// Every value against row_checksum of its own row, for images that start and
// end anywhere in a block, and across the wrap at 2^32.
TEST(ScanImage, EveryValueIsItsRowsChecksum)
{
	Bytes image(1000);
	for (std::size_t i = 0; i < image.size(); i++)
		image[i] = static_cast<unsigned char>(i * 7 + i / 251);
	for (std::uint32_t start : {0x0u, 0x8u, 0x78u, 0x1230u, 0xFFFFFE08u}) {
		for (std::size_t size : {1000, 999, 121, 120, 8}) {
			Bytes part(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
			std::string text = scan(part, start);
			std::uint32_t address = start;
			std::size_t at = 0;
			for (std::size_t i = 0; i + 3 <= text.size(); i++) {
				if (text[i] == '\n')
					continue;
				unsigned value = static_cast<unsigned>(std::stoul(text.substr(i, 2), nullptr, 16));
				EXPECT_EQ(value, row_checksum(address, part.data() + at))
					<< std::hex << "start " << start << " address " << address;
				address += 8;
				at += 8;
				i += 2;
			}
			EXPECT_EQ(at, size / 8 * 8) << std::hex << "start " << start;
		}
	}
}

}  // namespace
