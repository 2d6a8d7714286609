// Checking an image against a listing of its row checksums, as rowtally
// prints them or as people type, save or copy them.
#pragma once

#include <cstdint>
#include <cstdio>

// Compares the row checksums of the image in `image`, at most `length`
// bytes from its current position, `skip` bytes into the file, whose first
// byte belongs at `start`, with the values of the listing in `listing`, named
// `listing_name`, taken as one stream in step with the image's rows: where
// the two part, finds the way back into step that the next values confirm,
// and writes one line to `out` for each slip, then the verdict; where no
// row is where the listing has it, a line that names the start address or
// skip that would make it fit comes before the verdict. Returns 0
// when every row matches, 1 when anything differs, and 2 when the listing
// holds a bad value (written as a message) or when a read failed: then
// nothing more is written, and ferror tells which file failed.
int check_image(std::FILE *image, std::uint32_t start, std::uint64_t skip, std::uint64_t length,
                std::FILE *listing, const char *listing_name, std::FILE *out);

// The byte that the seven `bytes` of the row at `address` lack for the row to
// have the checksum `value`: a byte of the image left out.
std::uint8_t missing_byte(std::uint32_t address, const unsigned char *bytes, std::uint8_t value);

// The byte that, taken out of the nine `bytes` of the row at `address`,
// leaves the row with the checksum `value`: a byte of the image typed twice.
std::uint8_t extra_byte(std::uint32_t address, const unsigned char *bytes, std::uint8_t value);
