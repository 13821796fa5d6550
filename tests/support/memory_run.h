#pragma once
// The program's compression and extraction run in memory, with the program's
// own coding steps on records of the run's own: the header part and the
// payload written apart and joined, as the program joins its temporaries. A
// refusal ends the run with the program's message.
#include <cstdint>
#include <string>

#include "codec/codec_options.h"
#include "program_state.h"

struct MemoryRun {
    bool completed = false;
    std::string message;  // the program's message when refused
    Bytes bytes;          // the compressed file, or the decoded bytes handed on
};

// Compresses the input into a whole compressed file (header part, then
// payload), reading and writing in chunks of chunkSize bytes; with
// `reference`, through the bit-by-bit reference codec. setKnobs, when
// given, sets the options first (the encoder's group size).
MemoryRun CompressInMemory(const Bytes& input, std::int32_t chunkSize, bool reference = false,
                           void (*setKnobs)(CodecOptions&) = nullptr);

// Extracts the compressed file, in chunks of chunkSize bytes. A refused file
// keeps in `bytes` what was handed on before the refusal. setKnobs, when
// given, sets the options first (the decoder's lane knobs).
MemoryRun ExtractInMemory(const Bytes& file, std::int32_t chunkSize, bool reference = false,
                          void (*setKnobs)(CodecOptions&) = nullptr);
