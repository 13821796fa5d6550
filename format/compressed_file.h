#pragma once
// The compressed file format: header byte, table length, optional skipped
// byte, stored frequency table, then the payload up to the end of the file.
// Writes and reads the header and the table (in the shortest of three
// encodings, with 1-, 2- or 4-byte counts) and refuses files whose header or
// table cannot be right. It does not touch the payload (codec/). There is no
// signature, no stored length and no checksum; the counts' total is the
// only length the reader has. Documented byte for byte in format/FORMAT.md.
//
// The header record is the caller's: the program's one instance (finalBits,
// widthCode, reservedFlag, tableMode, storedTotal) is the shell's
// (app/program_state.h).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "corvane.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

// Header state, each field as a plain number.
struct HeaderRecord {
    std::uint8_t finalBits = 0;     // 1..8 after ReadHeader
    std::uint8_t widthCode = 0;     // count width is widthCode + 1 bytes
    std::uint8_t reservedFlag = 0;  // skip one byte after the table length
    std::uint8_t tableMode = 0;     // 0 full, 1 sparse, 2 runs
    // Sum of the stored counts: the length of the original data. Set by
    // ReadHeader; the decoder produces exactly this many bytes.
    std::uint64_t storedTotal = 0;
};

enum TableModes : std::uint8_t { FullTable = 0, SparseTable = 1, RunsTable = 2 };

// The most bytes a header byte, table length and table take.
inline constexpr std::size_t LongestHeaderPart = 3 + 256 * 4;

// The largest count in the saved table.
std::uint64_t LargestCount(const SymbolTable& saved);

// Chooses width code and table mode from the saved counts into the header
// record and writes the header byte and the table length.
corvane_result WriteHeader(HeaderRecord& header, const SymbolTable& saved, int finalBitCount,
                           const corvane_writer& sink);

// Reads header and table from the source (at the file's first byte), fills
// the working table, keeps the stored counts in the saved table, sets the
// header record and builds the tree; the source is left at the first payload
// byte. A file that is too short or whose table does not fit its mode is
// CORVANE_WRONG_FILE; a read error CORVANE_READ_ERROR.
corvane_result ReadHeaderAndTable(HeaderRecord& header, SymbolTable& table, SymbolTable& saved,
                                  const corvane_reader& source);
corvane_result ReadHeader(HeaderRecord& header, SymbolTable& table, SymbolTable& saved, TreeNode*& root,
                          const corvane_reader& source);

// Length in bytes of the table of the saved counts in the given mode/width.
std::size_t TableLength(const SymbolTable& saved, int mode, int width);

// The table of the saved counts in the given encoding.
std::vector<std::uint8_t> EncodeTable(const SymbolTable& saved, int mode, int width);

// Appends the encoding of the saved counts in the header's tableMode and
// widthCode, as WriteHeader chose them.
corvane_result WriteTable(const HeaderRecord& header, const SymbolTable& saved, const corvane_writer& sink);

// Stores the counts of a table into the working table (whose counts are
// zero); CORVANE_WRONG_FILE when the table does not fit its mode.
corvane_result DecodeTable(SymbolTable& table, const std::uint8_t* bytes, std::size_t length, int mode,
                           int width);

// Copies width + 1 little-endian bytes into the low end of destination.
void ReadCount(std::uint64_t& destination, const std::uint8_t* source, int width);
