// Reading images typed in as hex dumps, from a magazine or a screen: the
// image's bytes as two-digit values, read as a listing is read, labels and
// all.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image.h"

// Reads the dump in `in`, named `name`, from its current position and finds
// it sound: its image is its values from the `skip`th on, at most `length`
// of them, and the file is read no further than the last. Then readies
// `image` to hand them out. Else writes the message that names the first
// token that is no value, that the dump holds fewer than `skip` values, or
// that a read failed, to `out`, and returns false.
bool open_dump(Image *image, std::FILE *in, const char *name, std::uint64_t skip,
               std::uint64_t length, std::FILE *out);
