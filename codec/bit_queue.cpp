#include "codec/bit_queue.h"

namespace {

std::int32_t NextPosition(std::int32_t position, std::int32_t limit) {
    return position + 1 == limit ? 0 : position + 1;
}

}  // namespace

void Push(BitQueueRecord& queue, std::uint8_t bit) {
    if (queue.count == queue.countLimit) throw QueueOverflow;
    queue.storage[queue.writePosition] = bit != 0 ? 1 : 0;
    queue.writePosition = NextPosition(queue.writePosition, queue.writeLimit);
    ++queue.count;
}

std::uint8_t Pop(BitQueueRecord& queue) {
    if (queue.count == 0) throw QueueUnderflow;
    --queue.count;
    const std::uint8_t bit = queue.storage[queue.readPosition];
    queue.readPosition = NextPosition(queue.readPosition, queue.readLimit);
    return bit;
}

std::int32_t Count(const BitQueueRecord& queue) { return queue.count; }

std::uint8_t PackBits(BitQueueRecord& queue, int n) {
    unsigned byte = 0;
    for (int i = 0; i < n; ++i) byte |= static_cast<unsigned>(Pop(queue)) << (7 - i);
    return static_cast<std::uint8_t>(byte);
}

void UnpackBits(BitQueueRecord& queue, std::uint8_t byte, int n) {
    for (int i = 0; i < n; ++i) Push(queue, static_cast<std::uint8_t>((byte >> (7 - i)) & 1));
}
