// A file of text as its readers read it: a regular file twice, first to find
// it sound and then for its values, or a pipe once, its bytes kept in a
// temporary file as they are read, which is then read as the file would be.
// Each reading sums every byte it reads, on to the file's end, so that the
// second can tell whether it read what the first did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

inline constexpr std::size_t SUM_BLOCK = 128;

struct Source {
	std::FILE *file;
	std::FILE *copy;	// where a pipe's bytes are kept, or null
	bool summed;		// whether the bytes read are summed
	std::uint64_t size;	// bytes read so far
	// The sums take SUM_BLOCK bytes at a time; those of the last still to
	// come wait in `block`.
	std::size_t waiting;
	unsigned char block[SUM_BLOCK];
	std::uint32_t sums[4], sums_of_sums[4];
};

// Readies `source` to read `in` from its current position; its bytes summed
// where `summed`, and written to `copy` where that is not null.
void open_source(Source *source, std::FILE *in, bool summed, std::FILE *copy);

// fread's count of up to n bytes read into `to`, each summed and copied as
// open_source was asked.
std::size_t read_source(Source *source, void *to, std::size_t n);

// Reads on to the end of the file, only to sum it.
void read_source_through(Source *source);

// Whether two readings read the same bytes, by their sums.
bool same_source(const Source *a, const Source *b);

// Whether a read of the file failed, or a write of its copy.
bool source_failed(const Source *source);

// An unnamed temporary file, open to write and read back, gone when the run
// ends however it ends; null where none can be made.
std::FILE *temporary_file();
