// rowtally: prints a one-byte checksum of every whole 8-byte row of a binary
// image, one line per 128-byte block of the address space, so that a wrong
// row can be found by comparing against recorded checksums; or makes that
// comparison itself against a listing of them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "address.h"
#include "check.h"
#include "scan.h"

static const char usage[] = "usage: rowtally start-address file-name\n";

static const char help[] =
	"usage: rowtally start-address file-name\n"
	"       rowtally --check listing start-address file-name\n"
	"\n"
	"Prints a one-byte checksum of every whole 8-byte row of the binary image in\n"
	"file-name, whose first byte belongs at the hexadecimal start-address, one\n"
	"line per 128-byte block of the address space.\n"
	"\n"
	"  --check=listing  compare the checksums with listing, a text of them as\n"
	"                   rowtally prints them, typed, copied or saved, and\n"
	"                   report each slip: a value wrong, missing or extra\n"
	"  --help           print this help\n"
	"  --version        print the version\n"
	"  --               end the options\n"
	"\n"
	"Exit status: 0 on success, 1 on failure; with --check, 0 when every row\n"
	"matches, 1 when any row differs, 2 on failure.\n"
	"\n"
	"The manual: man rowtally; on Windows, README.txt beside rowtally.exe.\n";

// fopen accepts a directory on POSIX systems and only its reads fail; a
// directory is no image, so it is refused like any file that will not open.
static std::FILE *open_file(const char *name)
{
	std::FILE *f = std::fopen(name, "rb");
	struct stat st;

	if (f != nullptr && fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
		std::fclose(f);
		f = nullptr;
	}
	if (f == nullptr)
		std::printf("cannot open %s\n", name);
	return f;
}

// Closes `f`, which was read from; a failed read leaves its message after
// the output and makes the run a failure.
static int close_read(std::FILE *f, const char *name, int status, int failure)
{
	if (std::ferror(f)) {
		std::printf("cannot read %s\n", name);
		status = failure;
	}
	std::fclose(f);
	return status;
}

static int tally_file(const char *name, std::uint32_t start)
{
	std::FILE *in = open_file(name);

	if (in == nullptr)
		return 1;
	scan_image(in, start, stdout);
	return close_read(in, name, 0, 1);
}

static int check_file(const char *listing_name, const char *name, std::uint32_t start)
{
	std::FILE *listing = open_file(listing_name), *in = nullptr;

	if (listing == nullptr || (in = open_file(name)) == nullptr) {
		if (listing != nullptr)
			std::fclose(listing);
		return 2;
	}
	int status = check_image(in, start, listing, listing_name, stdout);
	status = close_read(listing, listing_name, status, 2);
	return close_read(in, name, status, 2);
}

// Output goes through stdout's buffer; only a flush tells whether all of it
// arrived. Standard output itself has failed, so the complaint goes elsewhere.
static int check_output(int status, int failure)
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
		std::fputs("rowtally: cannot write standard output\n", stderr);
		return failure;
	}
	return status;
}

int main(int argc, char *argv[])
{
	const char *listing = nullptr, *unknown = nullptr;
	bool wants_help = false, wants_version = false, listing_missing = false;
	int i = 1;

	// Long options only, before the start address: "-80" is an address.
	for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i++) {
		const char *arg = argv[i];
		if (arg[2] == '\0') {
			i++;
			break;
		}
		if (std::strcmp(arg, "--check") == 0) {
			listing_missing = i + 1 == argc;
			if (!listing_missing)
				listing = argv[++i];
		} else if (std::strncmp(arg, "--check=", 8) == 0) {
			listing = arg + 8;
		} else if (std::strcmp(arg, "--help") == 0) {
			wants_help = true;
		} else if (std::strcmp(arg, "--version") == 0) {
			wants_version = true;
		} else if (unknown == nullptr) {
			unknown = arg;
		}
	}
	// With --check, status 1 says that rows differ; every failure is 2.
	int failure = listing != nullptr || listing_missing ? 2 : 1;
	int status = failure;
	std::uint32_t start = 0;

	if (unknown != nullptr)
		std::printf("unknown option %s\n%s", unknown, usage);
	else if (listing_missing)
		std::printf("option --check needs a listing\n%s", usage);
	else if (wants_help || wants_version)
		status = std::fputs(wants_help ? help : "rowtally " ROWTALLY_VERSION "\n", stdout) < 0;
	else if (argc - i < 2)
		std::fputs(usage, stdout);
	else if (!parse_address(argv[i], &start))
		std::printf("bad start address %s\n", argv[i]);
	else if (start % ROW_SIZE != 0)
		std::printf("start address %s is not a multiple of 8\n", argv[i]);
	else if (listing != nullptr)
		status = check_file(listing, argv[i + 1], start);
	else
		status = tally_file(argv[i + 1], start);
	return check_output(status, failure);
}
