#include "dump.h"

#include <algorithm>
#include <cstring>

#include "listing.h"

namespace {

struct Dump {
	Listing listing;
	unsigned char passed[4096];	// values read to count them, or to skip them
};

// The next values of the dump, at most `most`, into `to`, all on *line;
// none at its end. False at a token that is no value, *line being its line.
bool next_values(Listing *l, unsigned char *to, std::size_t most, std::size_t *got, std::uint64_t *line,
                 bool sound)
{
	*got = take_bytes(l, to, most, line, sound);
	if (*got > 0 || most == 0)
		return true;
	switch (next_value(l, to, line)) {
	case ListingRead::VALUE:
		*got = 1;
		return true;
	case ListingRead::END:
		return true;
	case ListingRead::TYPO:	// no typo in a dump: text is a fault there
	case ListingRead::BAD:
		break;
	}
	return false;
}

// Reads `want` values, or as many as the dump holds, counting them into
// *count and keeping those from the `skip`th on in `stored`, if given.
bool check_dump(Dump *d, const char *name, std::uint64_t want, std::uint64_t skip, Stored *stored,
                std::uint64_t *count, std::FILE *out)
{
	std::uint64_t n = 0, line;
	std::size_t got = 1;
	while (n < want && got > 0) {
		std::size_t most = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof d->passed, want - n));
		if (!next_values(&d->listing, d->passed, most, &got, &line, false)) {
			write_shown(name, out);
			std::fprintf(out, ":%llu: bad value ", static_cast<unsigned long long>(line));
			write_token(&d->listing, out);
			std::fputc('\n', out);
			return false;
		}
		if (stored != nullptr && n + got > skip) {
			std::size_t from = static_cast<std::size_t>(n < skip ? skip - n : 0);
			store(stored, n + from, d->passed + from, got - from, line);
		}
		n += got;
	}
	if (std::ferror(d->listing.file)) {
		std::fputs("cannot read ", out);
		write_shown(name, out);
		std::fputc('\n', out);
		return false;
	}
	*count = n;
	return true;
}

std::size_t read_dump(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep, bool *ended)
{
	Dump *d = static_cast<Dump *>(image->reader);
	std::size_t n = 0;

	keep_lines(image, keep);
	// Each read takes one line's values: one run more at most.
	while (n < room && image->left > 0 && image->run_count < LINE_RUNS && !image->failed) {
		std::size_t got, most = static_cast<std::size_t>(std::min<std::uint64_t>(room - n, image->left));
		std::uint64_t line;
		if (!next_values(&d->listing, to + n, most, &got, &line, true) || got == 0) {
			image->failed = true;	// the file changed since it was found sound
			break;
		}
		at_line(image, line);
		n += got;
		image->offset += got;
		image->left -= got;
	}
	*ended = image->left == 0 || image->failed;
	return n;
}

}  // namespace

bool open_dump(Image *image, std::FILE *in, const char *name, std::uint64_t skip,
               std::uint64_t length, std::FILE *out)
{
	static Dump dump;
	static Stored stored;
	std::uint64_t size, at = 0, count;
	// A regular file is read twice; what a pipe holds is kept.
	bool twice = regular_size(in, &size) && tell_file(in, &at);
	std::uint64_t want = length > UINT64_MAX - skip ? UINT64_MAX : skip + length;

	std::memset(&dump, 0, sizeof dump);	// all of it touched, for any dump
	clear_stored(&stored);
	open_listing(&dump.listing, in, true);
	if (!check_dump(&dump, name, want, skip, twice ? nullptr : &stored, &count, out))
		return false;
	if (count < skip) {
		cannot_skip(skip, name, out);
		return false;
	}
	if (stored.full) {
		std::fputs("out of memory for ", out);
		write_shown(name, out);
		std::fputc('\n', out);
		return false;
	}

	*image = Image{};
	image->file = in;
	start_lines(image, skip);
	if (!twice) {
		open_stored(image, &stored, count - skip, 0);
		return true;
	}
	if (!seek_file(in, at)) {
		std::fputs("cannot read ", out);
		write_shown(name, out);
		std::fputc('\n', out);
		return false;
	}
	open_listing(&dump.listing, in, true);
	std::uint64_t line;
	for (std::uint64_t left = skip, got; left > 0; left -= got) {
		std::size_t most = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof dump.passed, left));
		std::size_t n;
		if (!next_values(&dump.listing, dump.passed, most, &n, &line, true) || n == 0) {
			image->failed = true;
			break;
		}
		got = n;
	}
	image->read = read_dump;
	image->reader = &dump;
	image->left = count - skip;
	return true;
}
