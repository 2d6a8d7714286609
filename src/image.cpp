#include "image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "shown.h"
#include "source.h"

namespace {

std::size_t read_binary(Image *image, unsigned char *to, std::size_t room, std::uint64_t, bool *ended)
{
	std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(room, image->left));
	std::size_t n = std::fread(to, 1, want, image->file);
	image->left -= n;
	image->offset += n;
	*ended = n < want || image->left == 0;
	return n;
}

// One image is read at a time; its lines are kept here.
LineRun line_runs[LINE_RUNS];

}  // namespace

void open_binary(Image *image, std::FILE *in, std::uint64_t offset, std::uint64_t length)
{
	*image = Image{};
	image->read = read_binary;
	image->file = in;
	image->offset = offset;
	image->left = length;
}

bool image_failed(const Image *image)
{
	return image->failed || (image->file != nullptr && std::ferror(image->file));
}

void start_lines(Image *image, std::uint64_t offset)
{
	// All of it touched now, so that memory is the same for any image.
	std::memset(line_runs, 0, sizeof line_runs);
	image->has_lines = true;
	image->runs = line_runs;
	image->run_count = 0;
	image->offset = offset;
}

void keep_lines(Image *image, std::uint64_t keep)
{
	// The run that `keep` falls in stays, and those after it.
	LineRun *runs = image->runs, *end = runs + image->run_count;
	LineRun *from = std::upper_bound(runs, end, keep, [](std::uint64_t at, const LineRun &r) {
		return at < r.offset;
	});
	if (from - runs > 1) {
		std::memmove(runs, from - 1, static_cast<std::size_t>(end - (from - 1)) * sizeof *runs);
		image->run_count = static_cast<std::size_t>(end - (from - 1));
	}
}

void image_lines(const Image *image, std::uint64_t offset, std::size_t n, std::uint64_t *least,
                 std::uint64_t *greatest)
{
	const LineRun *runs = image->runs, *end = runs + image->run_count;
	// The last run that starts at or before `offset`.
	const LineRun *run = std::upper_bound(runs, end, offset, [](std::uint64_t at, const LineRun &r) {
		return at < r.offset;
	});
	run = run == runs ? runs : run - 1;
	*least = *greatest = 0;
	for (; run != end && run->offset < offset + n; run++) {
		if (run->line == 0)
			continue;
		*least = *least == 0 ? run->line : std::min(*least, run->line);
		*greatest = std::max(*greatest, run->line);
	}
}

void clear_stored(Stored *stored)
{
	stored->count = stored->size = stored->next = 0;
	stored->full = false;
}

namespace {

// Makes room for `more` items of `size` bytes after `count` in *array,
// doubling; false where memory has run out.
bool grow(void **array, std::uint64_t *room, std::uint64_t count, std::uint64_t more, std::size_t size)
{
	if (count + more <= *room)
		return true;
	std::uint64_t want = std::max<std::uint64_t>({*room * 2, count + more, 4096});
	if (want > SIZE_MAX / size)
		return false;
	void *p = std::realloc(*array, static_cast<std::size_t>(want * size));
	if (p == nullptr)
		return false;
	*array = p;
	*room = want;
	return true;
}

}  // namespace

void store(Stored *stored, std::uint64_t offset, const unsigned char *bytes, std::size_t n,
           std::uint64_t line)
{
	std::uint64_t room = stored->room, data_room = stored->data_room;
	void *segments = stored->segments, *data = stored->data;
	if (n == 0 || stored->full)
		return;
	bool ok = grow(&data, &data_room, stored->size, n, 1);
	stored->data = static_cast<unsigned char *>(data);
	stored->data_room = data_room;
	if (!ok) {
		stored->full = true;
		return;
	}
	std::memcpy(stored->data + stored->size, bytes, n);
	stored->size += n;
	// A line that goes on where the last segment's last line ended, as
	// long, joins it: a file of even records is a few segments.
	if (stored->count > 0) {
		Segment &last = stored->segments[stored->count - 1];
		if (last.offset + last.length == offset && last.length % last.per_line == 0 &&
		    last.line + last.length / last.per_line == line && n <= last.per_line) {
			last.length += n;
			return;
		}
	}
	ok = grow(&segments, &room, stored->count, 1, sizeof(Segment));
	stored->segments = static_cast<Segment *>(segments);
	stored->room = static_cast<std::size_t>(room);
	if (!ok) {
		stored->full = true;
		return;
	}
	stored->segments[stored->count++] = {offset, stored->size - n, line, n, n};
}

void sort_stored(Stored *stored)
{
	std::sort(stored->segments, stored->segments + stored->count,
	          [](const Segment &a, const Segment &b) { return a.offset < b.offset; });
}

namespace {

std::size_t read_stored(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep, bool *ended)
{
	Stored *stored = static_cast<Stored *>(image->reader);
	std::size_t n = 0;

	keep_lines(image, keep);
	while (n < room && image->left > 0) {
		const Segment *s = stored->next < stored->count ? &stored->segments[stored->next] : nullptr;
		std::uint64_t at = image->offset;
		std::size_t piece;
		if (s != nullptr && at >= s->offset + s->length) {
			stored->next++;
			continue;
		}
		if (s == nullptr || at < s->offset) {
			// Fill up to the segment, or to the end.
			std::uint64_t until = s == nullptr ? image->left : s->offset - at;
			piece = static_cast<std::size_t>(std::min<std::uint64_t>({until, image->left, room - n}));
			if (!at_line(image, 0))
				break;
			std::memset(to + n, stored->fill, piece);
		} else {
			// The rest of the segment's line that `at` is on.
			std::uint64_t k = at - s->offset;
			std::uint64_t line_end = (k / s->per_line + 1) * s->per_line;
			piece = static_cast<std::size_t>(std::min<std::uint64_t>(
				{std::min<std::uint64_t>(line_end, s->length) - k, image->left, room - n}));
			if (!at_line(image, s->line + k / s->per_line))
				break;
			std::memcpy(to + n, stored->data + s->data + k, piece);
		}
		n += piece;
		image->offset += piece;
		image->left -= piece;
	}
	*ended = image->left == 0;
	return n;
}

}  // namespace

void open_stored(Image *image, Stored *stored, std::uint64_t size, std::uint8_t fill)
{
	stored->next = 0;
	stored->fill = fill;
	image->read = read_stored;
	image->reader = stored;
	image->left = size;
}

void cannot_skip(std::uint64_t n, const char *name, std::FILE *out)
{
	std::fprintf(out, "cannot skip %llu byte%s of ", static_cast<unsigned long long>(n), plural(n));
	write_shown(name, out);
	std::fputc('\n', out);
}

namespace {

void say_no_room(const char *name, std::FILE *out)
{
	std::fputs("cannot keep ", out);
	if (std::strcmp(name, "-") == 0)
		std::fputs("standard input", out);
	else
		write_shown(name, out);
	std::fputs(": no room for a temporary file\n", out);
}

}  // namespace

bool keep_source(std::FILE *in, const char *name, std::FILE **copy, std::uint64_t *at, std::FILE *out)
{
	// One file is read at a time: the copy of the one before is done with.
	static std::FILE *kept;
	std::uint64_t size;
	if (kept != nullptr)
		std::fclose(kept);
	kept = *copy = nullptr;
	*at = 0;
	if (regular_size(in, &size) && tell_file(in, at))
		return true;
	kept = *copy = temporary_file();
	if (*copy == nullptr)
		say_no_room(name, out);
	return *copy != nullptr;
}

std::FILE *read_again(std::FILE *in, std::FILE *copy, std::uint64_t at, const char *name, std::FILE *out)
{
	if (copy != nullptr && (std::fflush(copy) != 0 || std::ferror(copy))) {
		say_no_room(name, out);
		return nullptr;
	}
	std::FILE *again = copy != nullptr ? copy : in;
	if (!seek_file(again, copy != nullptr ? 0 : at)) {
		std::fputs("cannot read ", out);
		write_shown(name, out);
		std::fputc('\n', out);
		return nullptr;
	}
	return again;
}

void end_reading(Image *image, const Source *first, Source *second)
{
	if (!image->failed) {
		read_source_through(second);
		image->failed = !same_source(first, second);
	}
	image->changed = image->failed && !source_failed(second);
}

// The C runtime's own stat and fseek stop at 2 GiB on Windows; POSIX has
// 64-bit ones for every build.
#if defined(_WIN32)
using FileStat = struct _stati64;
static int stat_of(std::FILE *f, FileStat *st) { return _fstati64(_fileno(f), st); }
#else
using FileStat = struct stat;
static int stat_of(std::FILE *f, FileStat *st) { return fstat(fileno(f), st); }
#endif

bool is_directory(std::FILE *f)
{
	FileStat st;
	return stat_of(f, &st) == 0 && S_ISDIR(st.st_mode);
}

bool regular_size(std::FILE *f, std::uint64_t *size)
{
	FileStat st;
	if (stat_of(f, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
		return false;
	*size = static_cast<std::uint64_t>(st.st_size);
	return true;
}

bool tell_file(std::FILE *f, std::uint64_t *at)
{
#if defined(_WIN32)
	__int64 n = _ftelli64(f);
#else
	off_t n = ftello(f);
#endif
	if (n < 0)
		return false;
	*at = static_cast<std::uint64_t>(n);
	return true;
}

bool seek_file(std::FILE *f, std::uint64_t at)
{
#if defined(_WIN32)
	return _fseeki64(f, static_cast<__int64>(at), SEEK_SET) == 0;
#else
	return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}
