// The block scanner: one checksum line per 128-byte block of the address space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image.h"

inline constexpr std::size_t BLOCK_SIZE = 128;
inline constexpr std::size_t ROW_SIZE = 8;
inline constexpr std::size_t ROWS_PER_BLOCK = BLOCK_SIZE / ROW_SIZE;

// The byte that makes the row's eight bytes and the low two bytes of its
// address add up to 0 modulo 256.
std::uint8_t row_checksum(std::uint32_t address, const unsigned char *row);

// What the scanner reads from the image at a time, and how many of the bytes
// it handed out last it can hand out again.
inline constexpr std::size_t SCAN_READ = 131072;
inline constexpr std::size_t SCAN_REWIND = 2048;

// A scan in progress. The image is read in large pieces and handed out one
// block at a time: a trip through stdio for every 128-byte block would cost
// more than the block's checksums.
struct Scan {
	Image *image;
	std::uint32_t address;	// of the next row (at first the start); wraps at 2^32
	bool ended;		// a block came back short: the image has ended
	// The block last handed out: its address, its bytes, zero where the
	// image does not reach, and the checksums of all its sixteen rows. Rows
	// first to first + count - 1 are the image's whole rows in it, the
	// first of them at `offset` of the image; the image's `bytes` bytes in
	// it start with that row, a piece of a row after them included.
	std::uint32_t base;
	std::uint64_t offset;
	unsigned char block[BLOCK_SIZE];
	std::uint8_t values[ROWS_PER_BLOCK];
	std::size_t first, count, bytes;
	// The image's bytes before its first whole row, where its start
	// address is not a multiple of ROW_SIZE: at most ROW_SIZE - 1.
	std::size_t before;
	// The piece of the file at hand: data[pos] to data[len - 1] are still
	// to be handed out, and the SCAN_REWIND bytes before pos are the last
	// ones handed out, for rewind_scan.
	std::size_t pos, len;
	bool image_ended;	// the image has handed out its last byte
	unsigned char data[SCAN_REWIND + SCAN_READ];
};

// Readies `scan` to read `image` from its next byte, which belongs at
// `start`: any address. Rows stay at multiples of ROW_SIZE.
void start_scan(Scan *scan, Image *image, std::uint32_t start);

// Reads the next block touched by the image; false when there is none. A
// block that comes back short ends the image, whether the file ended or a
// read failed: reading on after an error would shift every later row onto
// the wrong address. The caller tells the two apart with image_failed.
bool next_block(Scan *scan);

// Hands out the last `n` bytes handed out (at most SCAN_REWIND) once more,
// the first of them now at `address`, a multiple of ROW_SIZE, and `offset`
// in the file: the image read from another place on, as after a byte of it
// that went missing or was doubled.
void rewind_scan(Scan *scan, std::size_t n, std::uint32_t address, std::uint64_t offset);

// Writes the sixteen values as "XX " each into `line`, which has room for
// 49 characters: the last one is left undefined.
void format_values(const std::uint8_t values[ROWS_PER_BLOCK], char *line);

// Reads `image` through, its first byte belonging at `start`, and writes
// one line of "%02X " values per block touched to `out`. The caller tells
// the end of the image from a read error with image_failed, and checks
// `out`.
void scan_image(Image *image, std::uint32_t start, std::FILE *out);
