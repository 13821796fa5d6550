#pragma once
// The counting pass's inner loop over plain arguments: how often each byte
// value occurs in a block, added to a table indexed by byte value. It keeps
// no state and reads nothing but the block.
#include <cstddef>
#include <cstdint>

// Adds the number of times each byte value occurs in the bytes to counts.
void AddByteCounts(std::uint64_t (&counts)[256], const std::uint8_t* bytes, std::size_t length);
