#pragma once
// The program's compression and extraction run in memory, with the shell's
// own coding steps, for tests and fuzz targets: a refusal ends the run with
// its message instead of the process.
#include <cstdint>
#include <string>

#include "program_state.h"

struct MemoryRun {
    bool completed = false;
    std::string message;  // Fatal's message when refused
    Bytes bytes;          // the compressed file, or the decoded bytes handed on
};

// Compresses the input into a whole compressed file (header part, then
// payload), reading and writing in chunks of chunkSize bytes; with
// `reference`, through the bit-by-bit reference codec. setKnobs, when
// given, runs on the fresh state first (to set the encoder's group size).
MemoryRun CompressInMemory(const Bytes& input, std::int32_t chunkSize, bool reference = false,
                           void (*setKnobs)() = nullptr);

// Extracts the compressed file, in chunks of chunkSize bytes. A refused file
// keeps in `bytes` what was handed on before the refusal. setKnobs, when
// given, runs on the fresh state first (to set the decoder's lane knobs).
MemoryRun ExtractInMemory(const Bytes& file, std::int32_t chunkSize, bool reference = false,
                          void (*setKnobs)() = nullptr);
