// The start-address conversion against the C library's strtoull, which reads
// the same grammar without the 32-bit limit.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "address.h"

static bool is_hex(char c)
{
	return c != '\0' && std::strchr("0123456789abcdefABCDEF", c) != nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	// An argument ends at its first NUL.
	std::string text(reinterpret_cast<const char *>(data), size);
	text.resize(std::strlen(text.c_str()));

	std::uint32_t address = 0;
	bool accepted = parse_address(text.c_str(), &address);

	// A '$' after the sign is what 0x is to strtoull.
	std::size_t sign = std::strspn(text.c_str(), " \t\n\v\f\r");
	sign += text[sign] == '+' || text[sign] == '-';
	if (text[sign] == '$')
		text.replace(sign, 1, "0x");
	char *end;
	errno = 0;
	unsigned long long wide = std::strtoull(text.c_str(), &end, 16);
	bool read_digits = end != text.c_str();

	const char *p = text.c_str() + std::strspn(text.c_str(), " \t\n\v\f\r");
	bool negative = *p == '-';
	p += *p == '+' || *p == '-';
	unsigned long long magnitude = negative ? 0 - wide : wide;
	bool fits = errno != ERANGE && magnitude <= 0xFFFFFFFFull;
	// strtoull reads "0x" with no digit after it as 0; that text is refused.
	bool bare_prefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && !is_hex(p[2]);

	if (accepted != (read_digits && fits && !bare_prefix))
		std::abort();
	if (accepted && address != static_cast<std::uint32_t>(wide))
		std::abort();
	return 0;
}
