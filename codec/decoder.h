#pragma once
#include <cstdint>

#include "codec/encoder.h"

// Decodes the payload from SourceStream into DataSink, or onto the console in
// display mode, walking the tree from TreeRoot. Produces exactly
// storedTotal bytes or stops with "wrong compressed file.".
void DecodePayload(std::int32_t chunkSize = ChunkSize);
