#pragma once
// The compressed file format: header byte, table length, optional skipped
// byte, stored frequency table, then the payload up to the end of the file.
// Writes and reads the header and the table (in the shortest of three
// encodings, with 1-, 2- or 4-byte counts) and refuses files whose header or
// table cannot be right. It does not touch the payload (codec/). There is no
// signature, no stored length and no checksum; the counts' total is the
// only length the reader has. Documented byte for byte in format/FORMAT.md.
#include <cstddef>
#include <cstdint>
#include <vector>

// Header state, each field as a plain number.
extern std::uint8_t finalBits;     // 1..8 after ReadHeader
extern std::uint8_t widthCode;     // count width is widthCode + 1 bytes
extern std::uint8_t reservedFlag;  // skip one byte after the table length
extern std::uint8_t tableMode;     // 0 full, 1 sparse, 2 runs

// Sum of the stored counts: the length of the original data. Set by
// ReadHeader; the decoder produces exactly this many bytes.
extern std::uint64_t storedTotal;

enum TableModes : std::uint8_t { FullTable = 0, SparseTable = 1, RunsTable = 2 };

// The largest count in SavedFrequencies.
std::uint64_t LargestCount();

// Chooses width code and table mode from SavedFrequencies and writes the
// header byte and the table length to HeaderSink.
void WriteHeader(int finalBitCount);

// Reads header and table from SourceStream, fills FrequencyTable, keeps the
// stored counts in SavedFrequencies and builds the tree; SourceStream is left
// at the first payload byte. A file that is
// too short or whose table does not fit its mode is "wrong compressed file.".
void ReadHeader();

// Length in bytes of the table of SavedFrequencies in the given mode/width.
std::size_t TableLength(int mode, int width);

// The table of SavedFrequencies in the given encoding.
std::vector<std::uint8_t> EncodeTable(int mode, int width);

// Appends the encoding of SavedFrequencies in tableMode and widthCode, as
// WriteHeader chose them, to HeaderSink.
void WriteTable();

// Stores the counts of a table into FrequencyTable (whose counts are zero).
void DecodeTable(const std::uint8_t* table, std::size_t length, int mode, int width);

// Copies width + 1 little-endian bytes into the low end of destination.
void ReadCount(std::uint64_t& destination, const std::uint8_t* source, int width);
