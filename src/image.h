// The image as the scanner and the check read it, whatever the format of its
// file: its bytes in order from the start address, and where each one stands
// in that file: at an offset of a binary file, or on a line of a file of text
// (a dump, or records), or on none (fill between records).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Bytes from `offset` on, up to the next run's offset, stand on `line`: 0
// for fill, which stands on no line.
struct LineRun {
	std::uint64_t offset, line;
};

// How many runs a reader of text keeps: those of the bytes the scanner may
// hand out again, and of one read more.
inline constexpr std::size_t LINE_RUNS = 16384;

struct Image {
	// Reads up to `room` of the image's next bytes into `to`: fewer only
	// where the image ends, which sets *ended, or where there is no room
	// for their lines. The lines of the bytes from offset `keep` on stay
	// known; those before it may be forgotten.
	std::size_t (*read)(Image *image, unsigned char *to, std::size_t room, std::uint64_t keep,
	                    bool *ended);
	void *reader;		// the reader's own state
	std::FILE *file;
	bool failed;		// a read failed, or the file changed between two reads of it
	bool changed;		// the file changed: its second reading read other bytes
	bool has_lines;		// the bytes stand on lines of text, not at offsets
	bool placed;		// each byte has its own address in the file
	std::uint64_t offset;	// of the next byte: a count of bytes, or of a dump's values
	std::uint64_t left;	// bytes that may still come
	// For a file of text, the lines of the bytes handed out lately, by offset.
	LineRun *runs;
	std::size_t run_count;
};

// An image length that sets no limit: the image ends with its file.
inline constexpr std::uint64_t WHOLE_FILE = UINT64_MAX;

// Readies `image` to read at most `length` bytes of the binary file `in` from
// its current position, `offset` in the file.
void open_binary(Image *image, std::FILE *in, std::uint64_t offset, std::uint64_t length);

// Whether a read of the image failed; ferror alone cannot tell for a file
// of text, read twice.
bool image_failed(const Image *image);

// The least and the greatest line that the `n` bytes from `offset` stand on,
// of an image with lines; 0 for both where all of them are fill. The bytes
// must be among those the scanner may hand out again.
void image_lines(const Image *image, std::uint64_t offset, std::size_t n, std::uint64_t *least,
                 std::uint64_t *greatest);

// For the readers of text: makes `image` keep its lines in the runs the
// readers share, none yet, the next byte at `offset`.
void start_lines(Image *image, std::uint64_t offset);

// Forgets the lines of the bytes before `keep`.
void keep_lines(Image *image, std::uint64_t keep);

// The bytes from image->offset on stand on `line`; false where a new run is
// needed and there is no room for it.
inline bool at_line(Image *image, std::uint64_t line)
{
	if (image->run_count > 0 && image->runs[image->run_count - 1].line == line)
		return true;
	if (image->run_count == LINE_RUNS)
		return false;
	image->runs[image->run_count++] = {image->offset, line};
	return true;
}

// Bytes kept in memory with their lines, for an image whose records come
// out of order. Each segment is bytes in a row of the image: its byte k
// stands on line + k / per_line, and is data[k].
struct Segment {
	std::uint64_t offset, data, line, length, per_line;
};

struct Stored {
	Segment *segments;
	std::size_t count, room;
	unsigned char *data;
	std::uint64_t size, data_room;
	bool full;		// memory ran out: not all of it is kept
	std::size_t next;	// the segment being handed out
	std::uint8_t fill;
};

// Empties `stored`, keeping the memory it has.
void clear_stored(Stored *stored);

// Keeps the `n` bytes at `bytes`, which stand on `line`, at `offset` of the
// image; sets stored->full where there is no memory for them.
void store(Stored *stored, std::uint64_t offset, const unsigned char *bytes, std::size_t n,
           std::uint64_t line);

// Puts the segments in order of offset.
void sort_stored(Stored *stored);

// Readies `image` to hand out `size` bytes of what `stored` holds, sorted, in
// order of offset, with `fill` where it holds none. The segments must not
// overlap.
void open_stored(Image *image, Stored *stored, std::uint64_t size, std::uint8_t fill);

// Writes "cannot skip N bytes of NAME": the file holds fewer than N.
void cannot_skip(std::uint64_t n, const char *name, std::FILE *out);

struct Source;

// Readies the file of text `in`, named `name`, to be read twice: a regular
// file from where it is now, *at, and *copy null; a pipe from its start, its
// bytes kept in *copy as the first reading reads them. False, with its
// message, where no temporary file can be made.
bool keep_source(std::FILE *in, const char *name, std::FILE **copy, std::uint64_t *at, std::FILE *out);

// The file for the second reading, where the first began: `in` sought back
// to `at`, or the pipe's copy. Null, with its message, where it cannot be.
std::FILE *read_again(std::FILE *in, std::FILE *copy, std::uint64_t at, const char *name, std::FILE *out);

// Where the second reading has handed out the whole image, or failed: the
// rest of the file read, to hold all of it to the first reading's bytes; the
// image failed and changed where it is not the same.
void end_reading(Image *image, const Source *first, Source *second);

// Files read as they stand or read twice: 64-bit sizes and positions on
// every platform, as Windows' C runtime has them under other names.
bool is_directory(std::FILE *f);
// The size of `f` if it is a regular file, which can be read again.
bool regular_size(std::FILE *f, std::uint64_t *size);
bool tell_file(std::FILE *f, std::uint64_t *at);
bool seek_file(std::FILE *f, std::uint64_t at);
