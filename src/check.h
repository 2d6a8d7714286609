// Checking an image against a listing of its row checksums, as rowtally
// prints them or as people type, save or copy them.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image.h"

// Compares the row checksums of `image`, from its next byte, which belongs
// at `start`, with the values of the listing in `listing`, named
// `listing_name`, taken as one stream in step with the image's rows: where
// the two part, finds the way back into step that the next values confirm,
// and writes one line to `out` for each slip, then the verdict. Where the
// image is a stream of bytes whose place in the address space only its start
// gives, bytes of it left out or typed twice are slips too, and where no
// row is where the listing has it, a line that names the start address or
// skip that would make it fit comes before the verdict; where it is a binary
// file that holds what looks like text of another format, a line says so.
// Returns 0 when every row matches, 1 when anything differs, and 2 when the
// listing holds a bad value (written as a message) or when a read failed:
// then nothing more is written, and ferror or image_failed tells which file
// failed.
int check_image(Image *image, std::uint32_t start, std::FILE *listing, const char *listing_name,
                std::FILE *out);

// The byte that the seven `bytes` of the row at `address` lack for the row to
// have the checksum `value`: a byte of the image left out.
std::uint8_t missing_byte(std::uint32_t address, const unsigned char *bytes, std::uint8_t value);

// The byte that, taken out of the nine `bytes` of the row at `address`,
// leaves the row with the checksum `value`: a byte of the image typed twice.
std::uint8_t extra_byte(std::uint32_t address, const unsigned char *bytes, std::uint8_t value);
