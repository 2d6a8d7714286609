#include "source.h"

#include <algorithm>
#include <cstring>

#include "hexdigits.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

// Adds SUM_BLOCK bytes at p to the sums: each 4 bytes' word of a 16-byte
// piece into the running sum of its place among them, and after each piece
// those sums into sums of their own, so that the sums tell where in the
// file each piece stood as well as what it held.
inline void sum_block(Source *s, const unsigned char *p)
{
	for (std::size_t i = 0; i < SUM_BLOCK / 16; i++) {
		for (int k = 0; k < 4; k++) {
			std::uint32_t w;
			std::memcpy(&w, p + 16 * i + 4 * k, 4);
			s->sums[k] += w;
			s->sums_of_sums[k] += s->sums[k];
		}
	}
}

void sum_bytes(Source *s, const unsigned char *p, std::size_t n)
{
	s->size += n;
	if (s->waiting > 0) {
		std::size_t more = std::min<std::size_t>(n, SUM_BLOCK - s->waiting);
		std::memcpy(s->block + s->waiting, p, more);
		s->waiting += more;
		p += more;
		n -= more;
		if (s->waiting < SUM_BLOCK)
			return;
		sum_block(s, s->block);
		s->waiting = 0;
	}
#if defined(USE_SSE2)
	// Three instructions for 16 bytes: a reading's cost is mostly here.
	__m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s->sums));
	__m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s->sums_of_sums));
	for (; n >= SUM_BLOCK; p += SUM_BLOCK, n -= SUM_BLOCK) {
		const __m128i *v = reinterpret_cast<const __m128i *>(p);
		for (std::size_t i = 0; i < SUM_BLOCK / 16; i++) {
			a = _mm_add_epi32(a, _mm_loadu_si128(v + i));
			b = _mm_add_epi32(b, a);
		}
	}
	_mm_storeu_si128(reinterpret_cast<__m128i *>(s->sums), a);
	_mm_storeu_si128(reinterpret_cast<__m128i *>(s->sums_of_sums), b);
#else
	for (; n >= SUM_BLOCK; p += SUM_BLOCK, n -= SUM_BLOCK)
		sum_block(s, p);
#endif
	std::memcpy(s->block, p, n);
	s->waiting = n;
}

}  // namespace

void open_source(Source *s, std::FILE *in, bool summed, std::FILE *copy)
{
	std::memset(s, 0, sizeof *s);
	s->file = in;
	s->summed = summed;
	s->copy = copy;
}

std::size_t read_source(Source *s, void *to, std::size_t n)
{
	std::size_t got = std::fread(to, 1, n, s->file);
	if (s->summed)
		sum_bytes(s, static_cast<const unsigned char *>(to), got);
	if (s->copy != nullptr && got > 0)
		std::fwrite(to, 1, got, s->copy);
	return got;
}

void read_source_through(Source *s)
{
	static unsigned char passed[65536];
	while (read_source(s, passed, sizeof passed) == sizeof passed) {
	}
}

bool same_source(const Source *a, const Source *b)
{
	return a->size == b->size && std::memcmp(a->block, b->block, a->waiting) == 0 &&
	       std::memcmp(a->sums, b->sums, sizeof a->sums) == 0 &&
	       std::memcmp(a->sums_of_sums, b->sums_of_sums, sizeof a->sums_of_sums) == 0;
}

bool source_failed(const Source *s)
{
	return std::ferror(s->file) || (s->copy != nullptr && std::ferror(s->copy));
}

#if defined(_WIN32)
// The C runtime's tmpfile makes its file in the drive's root, where a user
// without rights cannot write: the user's own temporary folder instead.
std::FILE *temporary_file()
{
	wchar_t folder[MAX_PATH + 1];
	DWORD n = GetTempPathW(MAX_PATH + 1, folder);
	if (n == 0 || n > MAX_PATH - 40)
		return nullptr;
	for (unsigned attempt = 0; attempt < 16; attempt++) {
		wchar_t path[MAX_PATH + 1];
		_snwprintf(path, MAX_PATH, L"%lsrowtally-%lu-%llu-%u.tmp", folder, GetCurrentProcessId(),
		           static_cast<unsigned long long>(GetTickCount64()), attempt);
		path[MAX_PATH] = 0;
		HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
		                       FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
		if (h == INVALID_HANDLE_VALUE) {
			if (GetLastError() == ERROR_FILE_EXISTS)
				continue;
			return nullptr;
		}
		int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
		if (fd < 0) {
			CloseHandle(h);
			return nullptr;
		}
		std::FILE *f = _fdopen(fd, "w+b");
		if (f == nullptr)
			_close(fd);
		return f;
	}
	return nullptr;
}
#else
std::FILE *temporary_file()
{
	return std::tmpfile();
}
#endif
