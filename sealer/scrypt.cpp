#include "scrypt.h"

#include <new>
#include <vector>

namespace {

using Words = std::vector<std::uint32_t>;
constexpr std::size_t WordsPerBlock = 16;  // one 64-byte Salsa20 block

std::uint32_t Rotate(std::uint32_t value, int count) { return (value << count) | (value >> (32 - count)); }

void QuarterRound(std::uint32_t* x, int a, int b, int c, int d) {
    x[b] ^= Rotate(x[a] + x[d], 7);
    x[c] ^= Rotate(x[b] + x[a], 9);
    x[d] ^= Rotate(x[c] + x[b], 13);
    x[a] ^= Rotate(x[d] + x[c], 18);
}

// Salsa20/8 core: the block plus its eight rounds.
void Salsa208(std::uint32_t* block) {
    std::uint32_t x[WordsPerBlock];
    for (std::size_t k = 0; k < WordsPerBlock; ++k) x[k] = block[k];
    for (int round = 0; round < 8; round += 2) {
        QuarterRound(x, 0, 4, 8, 12);
        QuarterRound(x, 5, 9, 13, 1);
        QuarterRound(x, 10, 14, 2, 6);
        QuarterRound(x, 15, 3, 7, 11);
        QuarterRound(x, 0, 1, 2, 3);
        QuarterRound(x, 5, 6, 7, 4);
        QuarterRound(x, 10, 11, 8, 9);
        QuarterRound(x, 15, 12, 13, 14);
    }
    for (std::size_t k = 0; k < WordsPerBlock; ++k) block[k] += x[k];
}

// BlockMix over the 2r blocks of `in` into `out`: even results first, then
// odd ones.
void BlockMix(const std::uint32_t* in, std::uint32_t* out, std::uint32_t r) {
    std::uint32_t x[WordsPerBlock];
    for (std::size_t k = 0; k < WordsPerBlock; ++k) x[k] = in[(2 * r - 1) * WordsPerBlock + k];
    for (std::uint32_t i = 0; i < 2 * r; ++i) {
        for (std::size_t k = 0; k < WordsPerBlock; ++k) x[k] ^= in[i * WordsPerBlock + k];
        Salsa208(x);
        std::uint32_t* y = out + ((i % 2) * r + i / 2) * WordsPerBlock;
        for (std::size_t k = 0; k < WordsPerBlock; ++k) y[k] = x[k];
    }
}

// Overwrites what held a secret, in stores the compiler keeps.
template <class T>
void Wipe(std::vector<T>& secret) {
    volatile T* bytes = secret.data();
    for (std::size_t k = 0; k < secret.size(); ++k) bytes[k] = 0;
}

std::uint64_t Integerify(const std::uint32_t* x, std::uint32_t r) {
    const std::uint32_t* last = x + (2 * r - 1) * WordsPerBlock;
    return last[0] | static_cast<std::uint64_t>(last[1]) << 32;
}

// ROMix of one block of 128 * r bytes, in place; `v` holds n such blocks.
void RoMix(unsigned char* bytes, std::uint64_t n, std::uint32_t r, Words& v) {
    const std::size_t words = 32 * static_cast<std::size_t>(r);
    Words x(words), y(words);
    for (std::size_t k = 0; k < words; ++k)
        x[k] = bytes[4 * k] | bytes[4 * k + 1] << 8 | bytes[4 * k + 2] << 16 |
               static_cast<std::uint32_t>(bytes[4 * k + 3]) << 24;
    for (std::uint64_t i = 0; i < n; ++i) {
        std::copy(x.begin(), x.end(), v.begin() + static_cast<std::ptrdiff_t>(i * words));
        BlockMix(x.data(), y.data(), r);
        x.swap(y);
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        const std::uint32_t* chosen = v.data() + (Integerify(x.data(), r) & (n - 1)) * words;
        for (std::size_t k = 0; k < words; ++k) x[k] ^= chosen[k];
        BlockMix(x.data(), y.data(), r);
        x.swap(y);
    }
    for (std::size_t k = 0; k < words; ++k)
        for (int b = 0; b < 4; ++b) bytes[4 * k + b] = static_cast<unsigned char>(x[k] >> (8 * b));
}

}  // namespace

bool Scrypt(Pbkdf2Sha256 pbkdf2, const std::string& password, const unsigned char* salt, std::size_t saltSize,
            std::uint64_t n, std::uint32_t r, std::uint32_t p, std::uint64_t maxMemory, unsigned char* out,
            std::size_t outSize) {
    if (n < 2 || (n & (n - 1)) != 0 || r == 0 || p == 0) return false;
    const std::uint64_t blockBytes = 128 * static_cast<std::uint64_t>(r);
    if (n > maxMemory / blockBytes || p > (maxMemory - n * blockBytes) / blockBytes) return false;
    try {
        std::vector<unsigned char> blocks(static_cast<std::size_t>(p * blockBytes));
        Words v(static_cast<std::size_t>(n * blockBytes / 4));
        bool ok = pbkdf2(password, salt, saltSize, blocks.data(), blocks.size());
        for (std::uint32_t i = 0; ok && i < p; ++i) RoMix(blocks.data() + i * blockBytes, n, r, v);
        ok = ok && pbkdf2(password, blocks.data(), blocks.size(), out, outSize);
        Wipe(blocks);
        Wipe(v);
        return ok;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
