// The numbers on the command line: the start address, and the counts of
// bytes to skip and to read.
#pragma once

#include <cstdint>

// The value of a hexadecimal digit of either case, or -1.
int hex_value(char c);

// Reads optional white space, an optional sign, an optional 0x, 0X or $ and then
// hexadecimal digits; whatever follows them is ignored. A minus negates modulo
// 2^32. Returns false, leaving *address alone, when no digit stands where one
// is needed or the value needs more than 32 bits.
bool parse_address(const char *text, std::uint32_t *address);

// Reads decimal digits, or 0x or 0X and hexadecimal digits of either case,
// and nothing else: no sign, blank or suffix. Returns false, leaving *count
// alone, for anything else or a value of more than 64 bits.
bool parse_count(const char *text, std::uint64_t *count);
