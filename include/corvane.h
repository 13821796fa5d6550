/* libcorvane: static Huffman compression of whole files, in the ".lx"
 * format of the corvane program (format/FORMAT.md), as a C library.
 *
 * Every function keeps its state in the call: any number of threads may
 * call any of them at once, on different buffers, readers and writers. No
 * function keeps anything between calls, prints, or ends the process; each
 * reports through its result. Usable from C99 and C++.
 */
#ifndef CORVANE_H
#define CORVANE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(CORVANE_STATIC)
#if defined(CORVANE_BUILDING_SHARED)
#define CORVANE_API __declspec(dllexport)
#else
#define CORVANE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define CORVANE_API __attribute__((visibility("default")))
#else
#define CORVANE_API
#endif

/* The outcome of a call. The texts are those the corvane program prints. */
typedef enum corvane_result {
    CORVANE_OK = 0,
    CORVANE_ONE_OR_NO_CHARACTER = 1, /* "only one character OR no character." */
    CORVANE_WRONG_FILE = 2,          /* "wrong compressed file." */
    CORVANE_WRONG_TREE = 3,          /* "wrong tree." */
    CORVANE_WRONG_CODE_LIST = 4,     /* "wrong tree find list." */
    CORVANE_INPUT_TOO_LARGE = 5,     /* "input too large." */
    CORVANE_READ_ERROR = 6,          /* "Read error." */
    CORVANE_WRITE_ERROR = 7,         /* "Write error." */
    CORVANE_OUT_OF_MEMORY = 8,       /* "out of memory." */
    CORVANE_SOURCE_CHANGED = 9,      /* the input differs between the two passes of a compression */
    CORVANE_DESTINATION_TOO_SMALL = 10,
    CORVANE_BIT_QUEUE_FAILURE = 11 /* the bit-by-bit reference coder's queue over- or underflowed */
} corvane_result;

/* A fixed text for every result; never null. */
CORVANE_API const char* corvane_result_text(corvane_result result);

/* The library's version, "major.minor". */
CORVANE_API const char* corvane_version(void);

/* The most bytes the compressed file of `size` input bytes can take; 0 when
 * that does not fit a size_t. */
CORVANE_API size_t corvane_compress_bound(size_t size);

/* Compresses in_size bytes into out. After a refusal *out_size is 0 and the
 * contents of out are unspecified; a destination too small for the whole
 * file gives CORVANE_DESTINATION_TOO_SMALL. */
CORVANE_API corvane_result corvane_compress(const void* in, size_t in_size, void* out, size_t out_capacity,
                                            size_t* out_size);

/* The length of the original data, from the header and the table alone. */
CORVANE_API corvane_result corvane_decompressed_size(const void* in, size_t in_size, uint64_t* size);

/* Extracts a compressed file, with the program's checks (stored total,
 * per-value counts). After a refusal *out_size is 0 and the contents of out
 * are unspecified. */
CORVANE_API corvane_result corvane_decompress(const void* in, size_t in_size, void* out, size_t out_capacity,
                                              size_t* out_size);

/* A source of bytes: `read` gives up to `size` bytes and returns how many,
 * 0 at the end, a negative number on error; `rewind` starts the source again
 * from its first byte and returns 0 on success (compression reads its input
 * twice; extraction never rewinds, and it may be null there). */
typedef struct corvane_reader {
    void* context;
    ptrdiff_t (*read)(void* context, void* buffer, size_t size);
    int (*rewind)(void* context);
} corvane_reader;

/* A sink of bytes: `write` takes all `size` bytes and returns 0, or
 * anything else on error. */
typedef struct corvane_writer {
    void* context;
    int (*write)(void* context, const void* buffer, size_t size);
} corvane_writer;

/* Files of any size in bounded memory. A read or write error gives its
 * result and ends the call; what was handed to the writer before a refusal
 * stays handed. */
CORVANE_API corvane_result corvane_compress_stream(const corvane_reader* in, const corvane_writer* out);
CORVANE_API corvane_result corvane_decompress_stream(const corvane_reader* in, const corvane_writer* out);

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_H */
