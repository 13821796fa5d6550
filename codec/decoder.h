#pragma once
// Decoding: the payload of a compressed file back into the original bytes.
#include <cstdint>

#include "codec/chunk_output.h"

// Decodes the payload from SourceStream, walking the tree from TreeRoot with
// the header's finalBits, and hands the decoded bytes to the sink in order.
// Produces exactly storedTotal bytes or stops with "wrong compressed file.".
// The chunk size is a parameter only so that tests can cross chunk
// boundaries cheaply.
void DecodePayload(ByteSink sink);
void DecodePayload(ByteSink sink, std::int32_t chunkSize);
