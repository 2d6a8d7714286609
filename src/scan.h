// The block scanner: one checksum line per 128-byte block of the address space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr std::size_t BLOCK_SIZE = 128;
inline constexpr std::size_t ROW_SIZE = 8;
inline constexpr std::size_t ROWS_PER_BLOCK = BLOCK_SIZE / ROW_SIZE;

// The byte that makes the row's eight bytes and the low two bytes of its
// address add up to 0 modulo 256.
std::uint8_t row_checksum(std::uint32_t address, const unsigned char *row);

// Reads `in` from its current position to its end, the first byte belonging
// at `start`, a multiple of ROW_SIZE, and writes one line of "%02X " values
// per block touched to `out`. Stops at the first short read; the caller tells
// the end of the file from a read error with ferror(in), and checks `out`.
void scan_image(std::FILE *in, std::uint32_t start, std::FILE *out);
