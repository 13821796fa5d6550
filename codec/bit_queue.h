#pragma once
// The coding engine's bit queue: a first-in, first-out queue of at most 50
// bits between the byte level and the bit level, used by the bit-by-bit
// reference coder. Within a byte the earliest bit is the most significant.
// Overflow and underflow are thrown as the bare integers 200 and 201 (the
// library turns them into CORVANE_BIT_QUEUE_FAILURE). It knows nothing of
// codes or files. The program's one queue, BitQueue, is the shell's
// (app/program_state.h); a run without one uses a queue of its own.
#include <cstdint>

struct BitQueueRecord {
    std::uint8_t* storage = nullptr;
    std::int32_t readPosition = 0;
    std::int32_t readLimit = 50;
    std::int32_t writePosition = 0;
    std::int32_t writeLimit = 50;
    std::int32_t count = 0;
    std::int32_t countLimit = 50;
};

inline constexpr int QueueOverflow = 200;   // thrown as a bare int
inline constexpr int QueueUnderflow = 201;  // thrown as a bare int

void Push(BitQueueRecord& queue, std::uint8_t bit);
std::uint8_t Pop(BitQueueRecord& queue);
std::int32_t Count(const BitQueueRecord& queue);
// Pops n bits (1..8); the first becomes bit 7.
std::uint8_t PackBits(BitQueueRecord& queue, int n);
// Pushes the n high bits of the byte, bit 7 first.
void UnpackBits(BitQueueRecord& queue, std::uint8_t byte, int n);
