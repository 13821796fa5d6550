#pragma once
// Decoding: the payload of a compressed file back into the original bytes.
//
// Two paths give the same bytes and the same verdicts: the fast one runs the
// decode kernel (codec/decode_kernel.h), alone or in lanes, and the reference one
// walks the tree one bit at a time through the bit queue, kept so that tests
// can hold the fast one against it.
#include <cstddef>
#include <cstdint>

#include "codec/chunk_output.h"
#include "codec/codec_options.h"
#include "corvane.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

// Decodes the payload from the source (standing at its first byte), walking
// the tree from root with the header's finalBits, and hands the decoded
// bytes to the sink in order. Produces exactly header.storedTotal bytes,
// each byte value exactly as often as the saved table says, or gives
// CORVANE_WRONG_FILE ("wrong compressed file.", at the latest before the
// last chunk is handed on) or CORVANE_WRONG_TREE. options.reference takes
// the reference path.
corvane_result DecodePayload(const TreeNode* root, const HeaderRecord& header, const SymbolTable& saved,
                             const corvane_reader& source, const corvane_writer& sink,
                             const CodecOptions& options);

// The same, bit by bit; every byte handed on and every result as
// DecodePayload's with the same chunk size.
corvane_result DecodePayloadReference(const TreeNode* root, const HeaderRecord& header,
                                      const SymbolTable& saved, const corvane_reader& source,
                                      const corvane_writer& sink, const CodecOptions& options);
