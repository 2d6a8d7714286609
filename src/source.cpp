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

// Adds 64 bytes at p to the sums: each 4 bytes' word into its own of 16
// running sums, and each of those into a sum of its own, so that the sums
// tell where in the file a byte stood as well as what it was.
inline void sum_block(Source *s, const unsigned char *p)
{
	for (int k = 0; k < 16; k++) {
		std::uint32_t word;
		std::memcpy(&word, p + 4 * k, 4);
		s->sums[k] += word;
		s->sums_of_sums[k] += s->sums[k];
	}
}

void sum_bytes(Source *s, const unsigned char *p, std::size_t n)
{
	s->size += n;
	if (s->waiting > 0) {
		std::size_t more = std::min<std::size_t>(n, 64 - s->waiting);
		std::memcpy(s->block + s->waiting, p, more);
		s->waiting += more;
		p += more;
		n -= more;
		if (s->waiting < 64)
			return;
		sum_block(s, s->block);
		s->waiting = 0;
	}
#if defined(USE_SSE2)
	// In registers over a whole read: the loop is most of a reading's cost.
	__m128i a[4], b[4];
	for (int k = 0; k < 4; k++) {
		a[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s->sums + 4 * k));
		b[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s->sums_of_sums + 4 * k));
	}
	for (; n >= 64; p += 64, n -= 64) {
		for (int k = 0; k < 4; k++) {
			a[k] = _mm_add_epi32(a[k], _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k)));
			b[k] = _mm_add_epi32(b[k], a[k]);
		}
	}
	for (int k = 0; k < 4; k++) {
		_mm_storeu_si128(reinterpret_cast<__m128i *>(s->sums + 4 * k), a[k]);
		_mm_storeu_si128(reinterpret_cast<__m128i *>(s->sums_of_sums + 4 * k), b[k]);
	}
#else
	for (; n >= 64; p += 64, n -= 64)
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
