// Loaded into the tool by the tests (LD_PRELOAD): at its first seek of a file
// back to the start, where the second reading of a file of text begins, it
// changes that file as ROWTALLY_TEST_CHANGE says: "AT=TEXT" writes TEXT over
// the bytes from AT on, "AT-N" takes N bytes out from AT on (a line lost, or
// the file cut short), "+TEXT" adds TEXT at the end.
// Both seeks are defined here, each under its own name, whichever the tool's
// build calls: the 64-bit file offsets that the build asks for would make
// one the other.
#undef _FILE_OFFSET_BITS
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool changed;

void change(std::FILE *f)
{
	const char *how = std::getenv("ROWTALLY_TEST_CHANGE");
	if (changed || how == nullptr)
		return;
	changed = true;
	char path[64];
	std::snprintf(path, sizeof path, "/proc/self/fd/%d", fileno(f));
	int fd = open(path, O_RDWR);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0)
		std::abort();
	char *end;
	long long at = std::strtoll(how, &end, 10), size = st.st_size;
	bool done;
	if (how[0] == '+') {
		done = pwrite(fd, how + 1, std::strlen(how + 1), size) >= 0;
	} else if (*end == '=') {
		done = pwrite(fd, end + 1, std::strlen(end + 1), at) >= 0;
	} else {
		long long n = std::strtoll(end + 1, nullptr, 10), from = at + n < size ? at + n : size;
		static char rest[1 << 20];
		ssize_t got = pread(fd, rest, sizeof rest, from);
		done = got >= 0 && pwrite(fd, rest, static_cast<std::size_t>(got), at) == got &&
		       ftruncate(fd, at + got) == 0;
	}
	if (!done)
		std::abort();
	close(fd);
}

template <typename F>
F real(const char *name)
{
	return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fseeko(std::FILE *f, off_t at, int whence)
{
	if (at == 0 && whence == SEEK_SET)
		change(f);
	return real<int (*)(std::FILE *, off_t, int)>("fseeko")(f, at, whence);
}

extern "C" int fseeko64(std::FILE *f, off64_t at, int whence)
{
	if (at == 0 && whence == SEEK_SET)
		change(f);
	return real<int (*)(std::FILE *, off64_t, int)>("fseeko64")(f, at, whence);
}
