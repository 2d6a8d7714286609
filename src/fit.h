// Naming the start address or the header that makes a listing fit an image
// read from the wrong place: the values of a listing made at another
// address, or of a file that holds more than the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The rows that must match, and the most bytes more that are skipped.
inline constexpr std::size_t FIT_ROWS = 64;
inline constexpr std::size_t FIT_MOST_SKIPPED = 1024;
// What the search needs of the image: its first bytes, and of the listing
// its first FIT_ROWS values.
inline constexpr std::size_t FIT_BYTES = FIT_MOST_SKIPPED + 8 * FIT_ROWS;

// `image` holds the first `size` bytes (at most FIT_BYTES) from the first
// whole row on of an image read after skipping `skip` bytes of its file,
// whose first byte belongs at `start`, the row at the next multiple of 8;
// `listed` the listing's first FIT_ROWS values. Unless the image's
// first FIT_ROWS rows have those values, writes to `out` the one line that
// names the first way to make them: more bytes skipped, from 1 to
// FIT_MOST_SKIPPED; another start address, its low 16 bits rising (the
// higher ones change no value); or both, each skip with each address.
// Writes nothing where none does, and says whether it wrote the line.
bool report_fit(const unsigned char *image, std::size_t size, std::uint32_t start,
                std::uint64_t skip, const std::uint8_t listed[FIT_ROWS], std::FILE *out);
