#pragma once
// Calls of the library with the knobs of a coding run in the caller's hands,
// for the library's own benches; not part of the public API, and not
// exported from the shared library.
#include <cstddef>

#include "codec/codec_options.h"
#include "corvane.h"

// corvane_decompress with the given options (the decoder's lanes).
corvane_result DecompressWithOptions(const void* in, std::size_t in_size, void* out, std::size_t out_capacity,
                                     std::size_t* out_size, const CodecOptions& options);
