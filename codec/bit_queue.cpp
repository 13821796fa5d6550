#include "codec/bit_queue.h"

// The storage is taken from the allocator while the program starts and kept
// until it ends.
BitQueueRecord BitQueue{new std::uint8_t[50]()};

namespace {

std::int32_t NextPosition(std::int32_t position, std::int32_t limit) {
    return position + 1 == limit ? 0 : position + 1;
}

}  // namespace

void Push(std::uint8_t bit) {
    if (BitQueue.count == BitQueue.countLimit) throw QueueOverflow;
    BitQueue.storage[BitQueue.writePosition] = bit != 0 ? 1 : 0;
    BitQueue.writePosition = NextPosition(BitQueue.writePosition, BitQueue.writeLimit);
    ++BitQueue.count;
}

std::uint8_t Pop() {
    if (BitQueue.count == 0) throw QueueUnderflow;
    --BitQueue.count;
    const std::uint8_t bit = BitQueue.storage[BitQueue.readPosition];
    BitQueue.readPosition = NextPosition(BitQueue.readPosition, BitQueue.readLimit);
    return bit;
}

std::int32_t Count() { return BitQueue.count; }

std::uint8_t PackBits(int n) {
    unsigned byte = 0;
    for (int i = 0; i < n; ++i) byte |= static_cast<unsigned>(Pop()) << (7 - i);
    return static_cast<std::uint8_t>(byte);
}

void UnpackBits(std::uint8_t byte, int n) {
    for (int i = 0; i < n; ++i) Push(static_cast<std::uint8_t>((byte >> (7 - i)) & 1));
}
