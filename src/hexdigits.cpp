#include "hexdigits.h"

std::uint16_t pair_values[65536];
std::uint16_t pair_shown[65536];

void make_pair_values()
{
	// Made at the first use; a static with an initializer would need the
	// C++ runtime's guard, which the tool otherwise does without.
	static bool made;
	if (made)
		return;
	made = true;
	for (unsigned c = 0; c < 65536; c++) {
		const unsigned char chars[2] = {static_cast<unsigned char>(c >> 8), static_cast<unsigned char>(c)};
		unsigned k = two_at(chars);
		int high = hex_table.value[chars[0]], low = hex_table.value[chars[1]];
		unsigned v = static_cast<unsigned>(high << 4 | low);
		pair_values[k] = static_cast<std::uint16_t>((high | low) < 0 ? NO_PAIR : v);
		pair_shown[k] = static_cast<std::uint16_t>((high | low) < 0 ? NO_PAIR : v >= 0x20 && v <= 0x7E ? v : '.');
	}
}
