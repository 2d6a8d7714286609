// The start address on the command line.
#pragma once

#include <cstdint>

// The value of a hexadecimal digit of either case, or -1.
int hex_value(char c);

// Reads optional white space, an optional sign, an optional 0x or 0X and then
// hexadecimal digits; whatever follows them is ignored. A minus negates modulo
// 2^32. Returns false, leaving *address alone, when no digit stands where one
// is needed or the value needs more than 32 bits.
bool parse_address(const char *text, std::uint32_t *address);
