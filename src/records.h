// Reading images from files of records, as assemblers, linkers and EPROM
// programmers write them: Intel HEX and Motorola S-records, a record a line,
// each with its own checksum and the address of its data bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image.h"

enum class RecordFormat { IHEX, SREC };

// Reads the file of records `in`, named `name`, through from its current
// position and finds it sound: every line empty or one record of `format`,
// whose checksum holds, an end record where the format needs one, and no
// address written twice. Then readies `image` to hand out the memory from
// `start` on: `length` bytes, but never past the top of the address space,
// or up to the highest address written where `length` is WHOLE_FILE; bytes
// that no record writes are `fill`. Else writes the one message that names
// the file's first fault, or that a read failed, to `out`, and returns false.
bool open_records(Image *image, std::FILE *in, const char *name, RecordFormat format,
                  std::uint32_t start, std::uint64_t length, std::uint8_t fill, std::FILE *out);

// Whether the `n` bytes at `text` are one sound record of `format`, by its
// form and checksum, as the first line of a file.
bool sound_record(const unsigned char *text, std::size_t n, RecordFormat format);
