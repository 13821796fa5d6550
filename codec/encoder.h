#pragma once
// The coding engine's encoder: the source's bytes into the payload of a
// compressed file, each byte's code in turn, packed most significant bit
// first, the last byte padded with zero bits. It writes the payload only;
// the header and table are format/'s, the files are the shell's. The
// payload's bit order is documented in format/FORMAT.md.
//
// Two paths write the same bytes: the fast one through the encode table and
// a 64-bit buffer, and the reference one, bit by bit through the bit queue,
// kept so that tests can hold the fast one against it.
#include <cstdint>

#include "codec/code_tables.h"

// Size of every read of the source and of the output chunks.
inline constexpr std::int32_t ChunkSize = 1 << 18;

// The chunk size the entry points use when given none: ChunkSize, set lower
// only by tests and fuzz targets, so that short inputs cross chunk
// boundaries.
extern std::int32_t BulkSize;

// When set, EncodePayload and DecodePayload(sink) take the bit-by-bit
// reference path instead; set only by tests and fuzz targets, which hold the
// two paths against each other through the whole program.
extern bool UseReferenceCodec;

// When not 0, the fast encoder puts this many codes between stores (a size
// the encode kernel offers) instead of the one it chooses from the counts;
// set only by tests and fuzz targets, so that every group size meets every
// code length.
extern unsigned ForcedGroupSize;

// Index of the last byte in the output buffer; -1 when empty.
extern std::int32_t OutputIndex;

// The codes of the current run, filled from CodeList by EncodePayload.
extern EncodingTable EncodeCodes;

// Encodes SourceStream into DataSink with the codes of CodeList. Returns the
// number of code bits in the final, partly filled byte (0 to 7). A byte
// value without a code is fatal ("wrong tree find list."), and so is a
// source whose length or byte counts differ from SavedFrequencies ("Read
// error."): it changed since it was counted. The chunk size is a parameter
// only so that tests can cross chunk boundaries cheaply.
int EncodePayload(std::int32_t chunkSize = BulkSize);

// The same, one bit at a time through the bit queue; every byte, message and
// return value as EncodePayload's with the same chunk size.
int EncodePayloadReference(std::int32_t chunkSize = BulkSize);
