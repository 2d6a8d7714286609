// Reading images from hex dumps: typed in from a magazine, or as programs
// and monitors print them (xxd, hexdump -C, od, PowerShell's Format-Hex,
// DEBUG, C64 and Apple II monitors). Each line's label, values and character
// column are told apart, lines of text passed over, a `*` line repeated, and
// the labels held against the values between them: the dump's own check.
// What cannot be read for sure is refused at its line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image.h"

// The longest line a dump may have, line end left out.
inline constexpr std::size_t DUMP_LINE_MOST = 32768;

// Reads the dump in `in`, named `name`, from its current position and finds
// it sound: its image is its values from the `skip`th on, at most `length`
// of them, and the file is read no further than the line that holds the
// last of them. Then readies `image` to hand them out. Else writes the one
// message that names the dump's first fault, in line order, that it holds
// fewer than `skip` values, or that a read failed, to `out`, and returns
// false. A regular file is read twice; a pipe once, its bytes kept in a
// temporary file that is then read as the file would be.
bool open_dump(Image *image, std::FILE *in, const char *name, std::uint64_t skip,
               std::uint64_t length, std::FILE *out);
