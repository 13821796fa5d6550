#pragma once
// An independent checker of compressed files: the format's rules worked out
// here from their description (format/FORMAT.md), apart from the program's
// own reader and writer, so that the two can be held against each other.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "program_state.h"

// What a compressed file's header part says.
struct StoredTable {
    std::uint64_t counts[256] = {};
    std::uint64_t total = 0;
    std::size_t headerLength = 0;  // header byte, table length, skipped byte and table
};

// Nothing when the header or the table is not well formed.
std::optional<StoredTable> ParseStoredTable(const Bytes& file);

// Checks every byte of a file the program wrote for the input: header byte,
// table length, the shortest table by the tie order, the optimal number of
// code bits, the zero padding. Empty when right, else what differs.
std::string CheckWrittenFile(const Bytes& input, const Bytes& file);

// Checks the output of a file the program accepted: a well-formed table, and
// every byte value exactly as often as the table stores it. Empty when
// faithful, else what is wrong.
std::string CheckFaithfulDecoding(const Bytes& file, const Bytes& output);
