// rowtally: prints a one-byte checksum of every whole 8-byte row of a binary
// image, one line per 128-byte block of the address space, so that a wrong
// row can be found by comparing against recorded checksums.
#include <cstdint>
#include <cstdio>
#include <sys/stat.h>

#include "address.h"
#include "scan.h"

// fopen accepts a directory on POSIX systems and only its reads fail; a
// directory is no image, so it is refused like any file that will not open.
static bool is_directory(std::FILE *f)
{
	struct stat st;

	return fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

static int tally_file(const char *name, std::uint32_t start)
{
	std::FILE *in = std::fopen(name, "rb");

	if (in != nullptr && is_directory(in)) {
		std::fclose(in);
		in = nullptr;
	}
	if (in == nullptr) {
		std::printf("cannot open %s\n", name);
		return 1;
	}

	int status = 0;
	scan_image(in, start, stdout);
	if (std::ferror(in)) {
		std::printf("cannot read %s\n", name);
		status = 1;
	}
	std::fclose(in);
	return status;
}

// Output goes through stdout's buffer; only a flush tells whether all of it
// arrived. Standard output itself has failed, so the complaint goes elsewhere.
static int check_output(int status)
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
		std::fputs("rowtally: cannot write standard output\n", stderr);
		return 1;
	}
	return status;
}

int main(int argc, char *argv[])
{
	std::uint32_t start = 0;
	int status = 1;

	if (argc < 3)
		std::fputs("usage: rowtally start-address file-name\n", stdout);
	else if (!parse_address(argv[1], &start))
		std::printf("bad start address %s\n", argv[1]);
	else if (start % ROW_SIZE != 0)
		std::printf("start address %s is not a multiple of 8\n", argv[1]);
	else
		status = tally_file(argv[2], start);
	return check_output(status);
}
