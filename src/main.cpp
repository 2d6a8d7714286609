// rowtally: prints a one-byte checksum of every whole 8-byte row of a binary
// image, one line per 128-byte block of the address space, so that a wrong
// row can be found by comparing against recorded checksums; or makes that
// comparison itself against a listing of them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "address.h"
#include "check.h"
#include "dump.h"
#include "image.h"
#include "records.h"
#include "scan.h"
#include "shown.h"

static const char usage[] = "usage: rowtally start-address file-name\n";

static const char help[] =
	"usage: rowtally [OPTION]... start-address file-name\n"
	"       rowtally --check listing [OPTION]... start-address file-name\n"
	"\n"
	"Prints a one-byte checksum of every whole 8-byte row of the image in\n"
	"file-name, whose first byte belongs at the hexadecimal start-address, one\n"
	"line per 128-byte block of the address space. A name - is standard input.\n"
	"\n"
	"  --check=listing  compare the checksums with listing, a text of them as\n"
	"                   rowtally prints them, typed, copied or saved, and\n"
	"                   report each slip: a value wrong, missing or extra\n"
	"  --format=NAME    what file-name holds: binary, the image byte for byte\n"
	"                   (the default); ihex, Intel HEX records; srec,\n"
	"                   Motorola S-records; dump, a hex dump, typed or as\n"
	"                   xxd, hexdump -C, od or a monitor prints it\n"
	"  --skip=N         the image begins after the file's first N bytes (of a\n"
	"                   dump, values); not for ihex and srec\n"
	"  --length=N       the image is at most N bytes from there (ihex and\n"
	"                   srec: exactly N bytes from the start address)\n"
	"  --fill=N         ihex and srec: the value of bytes that no record\n"
	"                   writes, 0 to 255 (FF, as an erased EPROM reads)\n"
	"                   (N in decimal, or in hexadecimal after 0x)\n"
	"  --help           print this help\n"
	"  --version        print the version\n"
	"  --               end the options\n"
	"\n"
	"Exit status: 0 on success, 1 on failure; with --check, 0 when every row\n"
	"matches, 1 when any row differs or the listing has values that no row has,\n"
	"2 on failure.\n"
	"\n"
	"The manual: man rowtally; on Windows, README.txt beside rowtally.exe.\n";

// Writes a message that shows a name or an argument, which may hold any
// bytes: those that could steer the terminal are shown escaped.
static void say(const char *before, const char *name, const char *after)
{
	std::fputs(before, stdout);
	write_shown(name, stdout);
	std::fputs(after, stdout);
}

// The same, for a command line that is wrong as a whole: the usage follows.
static void misuse(const char *before, const char *name, const char *after)
{
	say(before, name, after);
	std::fputs(usage, stdout);
}

// The formats of an image file, as --format names them.
enum class Format { BINARY, IHEX, SREC, DUMP };
static const char *const format_names[] = {"binary", "ihex", "srec", "dump"};

static bool parse_format(const char *text, Format *format)
{
	for (int k = 0; k < 4; k++)
		if (std::strcmp(text, format_names[k]) == 0) {
			*format = static_cast<Format>(k);
			return true;
		}
	return false;
}

// A byte's value, written as a count is.
static bool parse_fill(const char *text, std::uint8_t *fill)
{
	std::uint64_t n;
	if (!parse_count(text, &n) || n > 0xFF)
		return false;
	*fill = static_cast<std::uint8_t>(n);
	return true;
}

// fopen accepts a directory on POSIX systems and only its reads fail; a
// directory is no image, so it is refused like any file that will not open.
// "-" is standard input, read as bytes on Windows too.
static std::FILE *open_file(const char *name)
{
	std::FILE *f = stdin;
	if (std::strcmp(name, "-") != 0)
		f = std::fopen(name, "rb");
#if defined(_WIN32)
	else
		_setmode(_fileno(stdin), _O_BINARY);
#endif

	if (f != nullptr && is_directory(f)) {
		std::fclose(f);
		f = nullptr;
	}
	if (f == nullptr)
		say("cannot open ", name, "\n");
	return f;
}

// Passes over the first `n` bytes of `f`, just opened: by seeking over what
// a file is known to hold, and reading the rest, as a pipe needs. False,
// with its message, where the file ends sooner or a read fails.
static bool skip_bytes(std::FILE *f, const char *name, std::uint64_t n)
{
	std::uint64_t left = n, size, at;
	if (n > 0 && regular_size(f, &size) && tell_file(f, &at) && size > at) {
		std::uint64_t known = std::min(n, size - at);
		if (seek_file(f, at + known))
			left -= known;
	}

	static unsigned char passed[65536];
	while (left > 0) {
		std::size_t want = left < sizeof passed ? static_cast<std::size_t>(left) : sizeof passed;
		std::size_t got = std::fread(passed, 1, want, f);
		left -= got;
		if (got == want)
			continue;
		if (std::ferror(f))
			say("cannot read ", name, "\n");
		else
			cannot_skip(n, name, stdout);
		return false;
	}
	return true;
}

// Closes `f`, which was read from; a failed read, or a file that changed
// between its two readings, leaves its message after the output and makes
// the run a failure.
static int close_read(std::FILE *f, bool failed, bool changed, const char *name, int status, int failure)
{
	if (changed && !std::ferror(f)) {
		write_shown(name, stdout);
		std::fputs(" changed while it was read\n", stdout);
		status = failure;
	} else if (failed || std::ferror(f)) {
		say("cannot read ", name, "\n");
		status = failure;
	}
	std::fclose(f);
	return status;
}

// What the command line says of the image.
struct Options {
	Format format;
	std::uint32_t start;
	std::uint64_t skip, length;
	std::uint8_t fill;
};

// Readies `image` to read the image in `in`, named `name`: the file of text
// read through and found sound first, before anything is printed. False,
// with its message, where it is not.
static bool open_image(Image *image, std::FILE *in, const char *name, const Options &o)
{
	switch (o.format) {
	case Format::BINARY:
		if (!skip_bytes(in, name, o.skip))
			return false;
		open_binary(image, in, o.skip, o.length);
		return true;
	case Format::IHEX:
	case Format::SREC:
		return open_records(image, in, name, o.format == Format::IHEX ? RecordFormat::IHEX : RecordFormat::SREC,
		                    o.start, o.length, o.fill, stdout);
	case Format::DUMP:
		return open_dump(image, in, name, o.skip, o.length, stdout);
	}
	return false;
}

static int tally_file(const char *name, const Options &o)
{
	std::FILE *in = open_file(name);
	Image image;

	if (in == nullptr)
		return 1;
	if (!open_image(&image, in, name, o)) {
		std::fclose(in);
		return 1;
	}
	scan_image(&image, o.start, stdout);
	return close_read(in, image.failed, image.changed, name, 0, 1);
}

static int check_file(const char *listing_name, const char *name, const Options &o)
{
	std::FILE *listing = open_file(listing_name), *in = nullptr;
	Image image;

	if (listing == nullptr || (in = open_file(name)) == nullptr || !open_image(&image, in, name, o)) {
		if (listing != nullptr)
			std::fclose(listing);
		if (in != nullptr)
			std::fclose(in);
		return 2;
	}
	int status = check_image(&image, o.start, listing, listing_name, stdout);
	status = close_read(listing, false, false, listing_name, status, 2);
	return close_read(in, image.failed, image.changed, name, status, 2);
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

// If argv[*i] is the option `name`, takes its value, given as "NAME=VALUE"
// or as the next argument, into *value, or sets *missing where it is the
// last argument. False for any other argument.
static bool take_option(int argc, char *argv[], int *i, const char *name, const char **value,
                        bool *missing)
{
	std::size_t len = std::strlen(name);
	const char *arg = argv[*i];

	if (std::strncmp(arg, name, len) != 0 || (arg[len] != '\0' && arg[len] != '='))
		return false;
	if (arg[len] == '=')
		*value = arg + len + 1;
	else if (*i + 1 == argc)
		*missing = true;
	else
		*value = argv[++*i];
	return true;
}

// Whether `arg` is one of rowtally's own options, with or without "=VALUE".
static bool own_option(const char *arg)
{
	for (const char *name : {"--check", "--format", "--skip", "--length", "--fill", "--help", "--version"}) {
		std::size_t len = std::strlen(name);
		if (std::strncmp(arg, name, len) == 0 && (arg[len] == '\0' || arg[len] == '='))
			return true;
	}
	return false;
}

int main(int argc, char *argv[])
{
	const char *listing = nullptr, *skip_text = nullptr, *length_text = nullptr;
	const char *format_text = nullptr, *fill_text = nullptr;
	const char *unknown = nullptr, *needs = nullptr;
	bool checking = false, missing = false, ended = false;
	int i = 1;

	// Long options only, before the start address: "-80" is an address.
	// The last of each counts.
	for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i++) {
		const char *arg = argv[i];
		if (arg[2] == '\0') {
			ended = true;
			i++;
			break;
		}
		if (take_option(argc, argv, &i, "--check", &listing, &missing)) {
			checking = true;
			needs = missing ? "option --check needs a listing" : needs;
		} else if (take_option(argc, argv, &i, "--format", &format_text, &missing)) {
			needs = missing ? "option --format needs a name" : needs;
		} else if (take_option(argc, argv, &i, "--skip", &skip_text, &missing)) {
			needs = missing ? "option --skip needs a number" : needs;
		} else if (take_option(argc, argv, &i, "--length", &length_text, &missing)) {
			needs = missing ? "option --length needs a number" : needs;
		} else if (take_option(argc, argv, &i, "--fill", &fill_text, &missing)) {
			needs = missing ? "option --fill needs a number" : needs;
		} else if (std::strcmp(arg, "--help") != 0 && std::strcmp(arg, "--version") != 0 && unknown == nullptr) {
			unknown = arg;
		}
	}
	// Whoever asks for help or the version wants nothing else, wherever on
	// the line they ask; but after "--" the start address and the file name
	// are never options.
	const char *asked = argc == 2 && std::strcmp(argv[1], "-h") == 0 ? "--help" : nullptr;
	for (int k = 1; k < argc && asked == nullptr; k++)
		if ((std::strcmp(argv[k], "--help") == 0 || std::strcmp(argv[k], "--version") == 0) &&
		    !(ended && (k == i || k == i + 1)))
			asked = argv[k];
	// Arguments after the file name are ignored, but an option there would
	// be dropped unseen: a script that meant to check would take the values
	// printed for success; one in the file name's place would be taken for
	// a file. The first such option is refused.
	const char *late = nullptr;
	for (int k = ended ? i + 2 : i + 1; k < argc; k++) {
		if (!own_option(argv[k]))
			continue;
		late = late != nullptr ? late : argv[k];
		checking |= std::strncmp(argv[k], "--check", 7) == 0;
	}
	// With --check, status 1 says that rows differ; every failure is 2.
	int failure = checking ? 2 : 1;
	int status = failure;
	Options o{Format::BINARY, 0, 0, WHOLE_FILE, 0xFF};
	bool known = format_text == nullptr || parse_format(format_text, &o.format);
	// The bytes of records have their addresses, so none are skipped; the
	// other formats have no bytes that nothing writes.
	bool placed = o.format == Format::IHEX || o.format == Format::SREC;
	const char *stray = placed && skip_text != nullptr ? "--skip"
	                    : !placed && fill_text != nullptr ? "--fill" : nullptr;

	if (asked != nullptr)
		status = std::fputs(asked[2] == 'h' ? help : "rowtally " ROWTALLY_VERSION "\n", stdout) < 0;
	else if (unknown != nullptr)
		misuse("unknown option ", unknown, "\n");
	else if (needs != nullptr)
		std::printf("%s\n%s", needs, usage);
	else if (argc - i < 2)
		std::fputs(usage, stdout);
	else if (late != nullptr)
		std::printf("option %.*s must come before the start address\n%s",
		            static_cast<int>(std::strcspn(late, "=")), late, usage);
	else if (!known)
		say("bad format ", format_text, "\n");
	else if (stray != nullptr)
		std::printf("option %s does not apply to --format=%s\n%s", stray,
		            format_names[static_cast<int>(o.format)], usage);
	else if (!parse_address(argv[i], &o.start))
		say("bad start address ", argv[i], "\n");
	else if (skip_text != nullptr && !parse_count(skip_text, &o.skip))
		say("bad skip ", skip_text, "\n");
	else if (length_text != nullptr && !parse_count(length_text, &o.length))
		say("bad length ", length_text, "\n");
	else if (fill_text != nullptr && !parse_fill(fill_text, &o.fill))
		say("bad fill ", fill_text, "\n");
	else if (listing != nullptr && std::strcmp(listing, "-") == 0 && std::strcmp(argv[i + 1], "-") == 0)
		std::fputs("cannot read standard input twice\n", stdout);
	else if (listing != nullptr)
		status = check_file(listing, argv[i + 1], o);
	else
		status = tally_file(argv[i + 1], o);
	return check_output(status, failure);
}
