#pragma once
// The coding engine's encoder: the source's bytes into the payload of a
// compressed file, each byte's code in turn, packed most significant bit
// first, the last byte padded with zero bits. It writes the payload only;
// the header and table are format/'s, the files are the caller's. The
// payload's bit order is documented in format/FORMAT.md.
//
// Two paths write the same bytes: the fast one through the encode table and
// a 64-bit buffer, and the reference one, bit by bit through the bit queue,
// kept so that tests can hold the fast one against it.
#include <cstdint>

#include "codec/code_tables.h"
#include "codec/codec_options.h"
#include "corvane.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

// Encodes the source into the sink with the codes of the code list and sets
// finalBitCount to the number of code bits in the final, partly filled byte
// (0 to 7). A byte value without a code gives CORVANE_WRONG_CODE_LIST
// ("wrong tree find list."), and a source whose length or byte counts differ
// from the saved table CORVANE_SOURCE_CHANGED: it changed since it was
// counted. options.reference takes the reference path.
corvane_result EncodePayload(const CodeEntry& codeList, const SymbolTable& saved,
                             const corvane_reader& source, const corvane_writer& sink,
                             const CodecOptions& options, int& finalBitCount);

// The same, one bit at a time through the bit queue; every byte, result and
// final bit count as EncodePayload's with the same chunk size.
corvane_result EncodePayloadReference(const CodeEntry& codeList, const SymbolTable& saved,
                                      const corvane_reader& source, const corvane_writer& sink,
                                      const CodecOptions& options, int& finalBitCount);

// The number of code bits in the payload's last byte, known before encoding
// from the counts and the code lengths: Σ count × length mod 8.
int FinalBitsOf(const SymbolTable& saved, const EncodingTable& codes);
