#pragma once
// The encoder's inner loop over plain arguments: bytes into packed code bits
// through a BitWriter (codec/bit_buffer.h), with a code table of 2.3 KiB.
// Codes go into the writer in groups, one store a group. A group whose codes
// together pass GroupBits (rare when the group size suits the code lengths)
// is put again from where it started, code by code, each followed by a
// store. How many codes make a group is chosen once a run from the code
// lengths and how often each occurs.
#include <cstddef>
#include <cstdint>

#include "codec/bit_buffer.h"

// Each value's code at the top of a word with zeros below it, and its
// length; a value without a code has the length NoCodeLength, too long for
// any code, so that every group holding it takes the guarded path, which
// puts nothing for it.
inline constexpr unsigned LongestWordCode = 57;
inline constexpr std::uint8_t NoCodeLength = 64;
struct CodeWords {
    std::uint64_t codes[256] = {};
    std::uint8_t lengths[256] = {};
};

// The table of the codes given (length 0: no code); every length at most
// LongestWordCode.
void MakeCodeWords(CodeWords& words, const std::uint64_t (&codes)[256], const unsigned (&lengths)[256]);

// Bits a group's codes may take together: with the at most 7 bits of an
// unfinished byte they stay below 64, so that a store needs no care for a
// full buffer.
inline constexpr unsigned GroupBits = 56;

// The group sizes the kernel offers, largest first.
inline constexpr unsigned GroupSizes[] = {16, 12, 10, 8, 7, 6, 5, 4, 3, 2, 1};

// The group size for these codes when the values occur `counts` times (by
// value): the largest whose groups rarely pass GroupBits, taking the values
// as drawn independently with those frequencies. 1 when nothing is counted.
unsigned ChooseGroupSize(const CodeWords& words, const std::uint64_t (&counts)[256]);

// Per-value counts in CountPlaces tables, one for each place in a run of
// CountPlaces bytes.
inline constexpr unsigned CountPlaces = 4;
using PlaceCounts = std::uint32_t[CountPlaces][256];

// Puts the codes of the bytes into the writer, groupSize codes (one of
// GroupSizes) between stores, and adds each byte to
// `counts` when it is given (at most 2^31 bytes between two emptyings of
// the counts). Stores 8 bytes at writer.out each time, so 8 bytes past the
// last whole byte must be writable. Returns false when a byte without a
// code came by.
bool EncodeBytes(BitWriter& writer, const std::uint8_t* bytes, std::size_t length, const CodeWords& words,
                 unsigned groupSize, PlaceCounts* counts);
