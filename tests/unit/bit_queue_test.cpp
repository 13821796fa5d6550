#include "codec/bit_queue.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

template <typename Operation>
int FailureOf(Operation operation) {
    try {
        operation();
    } catch (int failure) {
        return failure;
    }
    return 0;
}

std::vector<int> PopAll(BitQueueRecord& queue) {
    std::vector<int> bits;
    while (Count(queue) > 0) bits.push_back(Pop(queue));
    return bits;
}

using BitQueueTest = CodingStateTest;

TEST_F(BitQueueTest, HoldsFiftyBitsAndRefusesMore) {
    ASSERT_NE(queue.storage, nullptr);
    EXPECT_EQ(FailureOf([this] { Pop(queue); }), QueueUnderflow);
    std::vector<int> pushed;
    for (int i = 0; i < 50; ++i) {
        pushed.push_back((i * 7 / 3) % 2);
        Push(queue, static_cast<std::uint8_t>(pushed.back()));
    }
    EXPECT_EQ(FailureOf([this] { Push(queue, 1); }), QueueOverflow);
    EXPECT_EQ(Count(queue), 50);
    EXPECT_EQ(PopAll(queue), pushed);
    EXPECT_EQ(FailureOf([this] { Pop(queue); }), QueueUnderflow);
    EXPECT_EQ(Count(queue), 0);
}

TEST_F(BitQueueTest, KeepsOrderWhilePositionsCycle) {
    std::vector<int> pushed;
    std::vector<int> popped;
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 37; ++i) {
            pushed.push_back((round * 31 + i * i) % 3 == 0);
            Push(queue, static_cast<std::uint8_t>(pushed.back()));
        }
        for (int i = 0; i < 37; ++i) popped.push_back(Pop(queue));
    }
    EXPECT_EQ(popped, pushed);
    EXPECT_EQ(queue.readPosition, queue.writePosition);
}

TEST_F(BitQueueTest, PacksAndUnpacksMostSignificantBitFirst) {
    for (int bit : {1, 0, 1, 1, 0, 0, 0, 1}) Push(queue, static_cast<std::uint8_t>(bit));
    EXPECT_EQ(PackBits(queue, 8), 0xB1);
    for (int bit : {1, 1, 0}) Push(queue, static_cast<std::uint8_t>(bit));
    EXPECT_EQ(PackBits(queue, 3), 0xC0);

    UnpackBits(queue, 0xB1, 8);
    EXPECT_EQ(PopAll(queue), (std::vector<int>{1, 0, 1, 1, 0, 0, 0, 1}));
    UnpackBits(queue, 0xC7, 3);
    EXPECT_EQ(PopAll(queue), (std::vector<int>{1, 1, 0}));

    for (int n = 1; n <= 8; ++n) {
        for (int byte = 0; byte < 256; ++byte) {
            UnpackBits(queue, static_cast<std::uint8_t>(byte), n);
            ASSERT_EQ(Count(queue), n);
            ASSERT_EQ(PackBits(queue, n), byte & (0xFF00 >> n) & 0xFF) << "n " << n << " byte " << byte;
        }
    }
}

}  // namespace
