#include "address.h"

#include <cstring>

int hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

bool parse_address(const char *text, std::uint32_t *address)
{
	const char *p = text;
	bool negative = false;

	while (*p != '\0' && std::strchr(" \t\n\v\f\r", *p) != nullptr)
		p++;
	if (*p == '+' || *p == '-')
		negative = *p++ == '-';
	if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
		p += 2;
	else if (p[0] == '$')	// as assemblers and monitors write it
		p++;
	if (hex_value(*p) < 0)
		return false;

	// Counting digits rather than testing the value keeps the sum from
	// ever overflowing; leading zeros do not count.
	while (*p == '0')
		p++;
	std::uint32_t value = 0;
	int digits = 0;
	for (int d; (d = hex_value(*p)) >= 0; p++) {
		if (++digits > 8)
			return false;
		value = value << 4 | static_cast<std::uint32_t>(d);
	}
	*address = negative ? 0u - value : value;
	return true;
}

bool parse_count(const char *text, std::uint64_t *count)
{
	unsigned base = 10;
	std::uint64_t value = 0;

	if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
		base = 16;
		text += 2;
	}
	if (*text == '\0')
		return false;
	for (; *text != '\0'; text++) {
		int d = hex_value(*text);
		if (d < 0 || static_cast<unsigned>(d) >= base || value > (UINT64_MAX - static_cast<unsigned>(d)) / base)
			return false;
		value = value * base + static_cast<unsigned>(d);
	}
	*count = value;
	return true;
}
