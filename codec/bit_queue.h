#pragma once
// The coding engine's bit queue: the one first-in, first-out queue of at
// most 50 bits between the byte level and the bit level. Within a byte the
// earliest bit is the most significant. Overflow and underflow are thrown as
// the bare integers 200 and 201. It knows nothing of codes or files.
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

extern BitQueueRecord BitQueue;

inline constexpr int QueueOverflow = 200;   // thrown as a bare int
inline constexpr int QueueUnderflow = 201;  // thrown as a bare int

void Push(std::uint8_t bit);
std::uint8_t Pop();
std::int32_t Count();
// Pops n bits (1..8); the first becomes bit 7.
std::uint8_t PackBits(int n);
// Pushes the n high bits of the byte, bit 7 first.
void UnpackBits(std::uint8_t byte, int n);
