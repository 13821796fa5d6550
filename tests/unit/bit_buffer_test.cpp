#include "codec/bit_buffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "test_support.h"

namespace {

std::string RandomBitText(std::size_t length, std::mt19937& random) {
    std::string bits;
    for (std::size_t k = 0; k < length; ++k) bits.push_back(random() % 2 == 0 ? '0' : '1');
    return bits;
}

std::uint64_t TopAligned(const std::string& bits) {
    std::uint64_t code = 0;
    for (std::size_t k = 0; k < bits.size(); ++k) {
        if (bits[k] == '1') code |= std::uint64_t{1} << (63 - k);
    }
    return code;
}

// Writes the codes with a store after every `perStore` of them; the whole
// bytes written and the bits left over, packed as the payload would be.
std::pair<Bytes, int> Written(const std::vector<std::string>& codes, std::size_t perStore) {
    Bytes out(codes.size() * 8 + 16, 0xEE);
    BitWriter writer;
    writer.out = out.data();
    for (std::size_t k = 0; k < codes.size(); ++k) {
        PutBits(writer, TopAligned(codes[k]), static_cast<unsigned>(codes[k].size()));
        if ((k + 1) % perStore == 0 || k + 1 == codes.size()) FlushWholeBytes(writer);
    }
    out.resize(static_cast<std::size_t>(writer.out - out.data()));
    if (writer.count > 0) out.push_back(static_cast<std::uint8_t>(writer.bits >> 56));
    return {out, static_cast<int>(writer.count)};
}

TEST(BitBufferTest, WriterPacksCodesAtEveryAlignment) {
    std::mt19937 random(7);
    // Every number of pending bits, 0 to 7, before codes of every length up
    // to 57, which then fill all 64 bits at the most.
    for (unsigned pending = 0; pending < 8; ++pending) {
        for (unsigned length = 1; length <= 57; ++length) {
            const std::vector<std::string> codes = {RandomBitText(8 + pending, random),
                                                    RandomBitText(length, random), RandomBitText(3, random)};
            std::string text;
            for (const std::string& code : codes) text += code;
            ASSERT_EQ(Written(codes, 1), PackBitText(text)) << pending << " " << length;
        }
    }
    // Runs of short codes between stores, as the encoder groups them.
    for (std::size_t perStore = 1; perStore <= 4; ++perStore) {
        std::vector<std::string> codes;
        std::string text;
        for (int k = 0; k < 400; ++k) {
            codes.push_back(RandomBitText(1 + random() % (57 / perStore), random));
            text += codes.back();
        }
        EXPECT_EQ(Written(codes, perStore), PackBitText(text)) << perStore;
    }
}

TEST(BitBufferTest, ReaderGivesThePayloadBitsFromAnyPosition) {
    const Bytes payload = RandomBytes(64, 3);
    std::string text;
    for (std::size_t k = 0; k < payload.size() * 8; ++k)
        text.push_back(BitAt(payload.data(), k) == 0 ? '0' : '1');
    EXPECT_EQ(PackBitText(text).first, payload);
    for (std::uint64_t position = 0; position < 64; ++position) {
        EXPECT_EQ(PeekBits(payload.data(), position) >> 7, TopAligned(text.substr(position, 57)) >> 7)
            << position;
        BitReader reader = ReadFrom(payload.data(), position);
        EXPECT_EQ(PositionOf(reader, payload.data()), position);
        // Skips of 1 to 12 bits and a refill whenever fewer than 12 are left.
        std::uint64_t at = position;
        for (unsigned skip = 1; at + 64 < payload.size() * 8 - 16; skip = skip % 12 + 1) {
            if (reader.count < 12) Refill(reader);
            ASSERT_GE(reader.count, 12u);
            ASSERT_EQ(reader.bits >> 52, TopAligned(text.substr(at, 12)) >> 52) << position << " at " << at;
            SkipBits(reader, skip);
            at += skip;
            ASSERT_EQ(PositionOf(reader, payload.data()), at);
        }
    }
}

}  // namespace
