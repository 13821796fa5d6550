#include "sealed_format.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned char Magic[4] = {'C', 'V', 'S', 'L'};
constexpr std::uint8_t FormatVersion = 1;
constexpr std::size_t SaltOffset = 8;
constexpr std::size_t SaltSize = 16;
constexpr std::size_t NonceOffset = SaltOffset + SaltSize;
constexpr std::size_t NonceSize = 12;
constexpr std::size_t KeySize = 32;
// scrypt needs about 128 * r * (N + p) bytes; a file asking for more is refused.
constexpr std::uint64_t MaxKdfMemory = 320ull << 20;
constexpr std::uint8_t MaxParallelism = 16;
// EVP update calls take an int length.
constexpr std::size_t CipherStep = 1u << 30;

using Key = std::array<unsigned char, KeySize>;

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// Wipes the key when it goes out of scope.
struct KeyGuard {
    Key& key;
    ~KeyGuard() { OPENSSL_cleanse(key.data(), key.size()); }
};

KdfParams ReadKdfParams(const unsigned char* header) { return KdfParams{header[5], header[6], header[7]}; }

bool KdfParamsAcceptable(const KdfParams& kdf) {
    if (kdf.log2N < 1 || kdf.log2N > 40 || kdf.r < 1 || kdf.p < 1 || kdf.p > MaxParallelism) return false;
    const std::uint64_t n = std::uint64_t{1} << kdf.log2N;
    return 128ull * kdf.r * (n + kdf.p + 2) <= MaxKdfMemory && n * kdf.r * kdf.p <= MaxKdfWork;
}

bool DeriveKey(const std::string& passphrase, const unsigned char* salt, const KdfParams& kdf, Key& key) {
    return EVP_PBE_scrypt(passphrase.data(), passphrase.size(), salt, SaltSize, std::uint64_t{1} << kdf.log2N,
                          kdf.r, kdf.p, MaxKdfMemory + (1u << 20), key.data(), key.size()) == 1;
}

void WriteHeader(const KdfParams& kdf, unsigned char* header) {
    std::memcpy(header, Magic, sizeof Magic);
    header[4] = FormatVersion;
    header[5] = kdf.log2N;
    header[6] = kdf.r;
    header[7] = kdf.p;
}

// Runs the cipher over `size` bytes from `in` to `out` (which may be equal).
bool CipherUpdate(EVP_CIPHER_CTX* context, bool encrypt, const unsigned char* in, unsigned char* out,
                  std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const int step = static_cast<int>(std::min(CipherStep, size - done));
        int written = 0;
        const int ok = encrypt ? EVP_EncryptUpdate(context, out + done, &written, in + done, step)
                               : EVP_DecryptUpdate(context, out + done, &written, in + done, step);
        if (ok != 1 || written != step) return false;
        done += static_cast<std::size_t>(step);
    }
    return true;
}

bool AddAssociatedData(EVP_CIPHER_CTX* context, bool encrypt, const unsigned char* header) {
    int written = 0;
    const int size = static_cast<int>(SealHeaderSize);
    return (encrypt ? EVP_EncryptUpdate(context, nullptr, &written, header, size)
                    : EVP_DecryptUpdate(context, nullptr, &written, header, size)) == 1;
}

bool EncryptBody(const Key& key, const unsigned char* header, const Bytes& plain, unsigned char* out,
                 unsigned char* tag) {
    CipherContext context(EVP_CIPHER_CTX_new());
    int finalBytes = 0;
    return context != nullptr &&
           EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, key.data(), header + NonceOffset) ==
               1 &&
           AddAssociatedData(context.get(), true, header) &&
           CipherUpdate(context.get(), true, plain.data(), out, plain.size()) &&
           EVP_EncryptFinal_ex(context.get(), out + plain.size(), &finalBytes) == 1 &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, SealTagSize, tag) == 1;
}

}  // namespace

bool SealBytes(const Bytes& plain, const std::string& passphrase, const KdfParams& kdf, Bytes& sealed,
               std::string& reason) {
    if (!KdfParamsAcceptable(kdf)) {
        reason = "unsupported key-derivation parameters";
        return false;
    }
    sealed.assign(SealHeaderSize + plain.size() + SealTagSize, 0);
    unsigned char* header = sealed.data();
    WriteHeader(kdf, header);
    if (RAND_bytes(header + SaltOffset, SaltSize + NonceSize) != 1) {
        reason = "no random numbers available";
        return false;
    }
    Key key{};
    KeyGuard guard{key};
    if (!DeriveKey(passphrase, header + SaltOffset, kdf, key)) {
        reason = "key derivation failed";
        return false;
    }
    unsigned char* body = header + SealHeaderSize;
    if (!EncryptBody(key, header, plain, body, body + plain.size())) {
        reason = "encryption failed";
        return false;
    }
    return true;
}

bool CheckSealedHeader(const unsigned char* header, std::uint64_t fileSize, std::string& reason) {
    if (fileSize < SealHeaderSize + SealTagSize || std::memcmp(header, Magic, sizeof Magic) != 0) {
        reason = "not a sealed file";
        return false;
    }
    if (header[4] != FormatVersion) {
        char version[8];
        std::snprintf(version, sizeof version, "%u", static_cast<unsigned>(header[4]));
        reason = std::string("unsupported sealed-file version ") + version;
        return false;
    }
    if (!KdfParamsAcceptable(ReadKdfParams(header))) {
        reason = "unsupported key-derivation parameters";
        return false;
    }
    return true;
}

bool CheckSealedHeader(const Bytes& sealed, std::string& reason) {
    const unsigned char empty[SealHeaderSize] = {};
    return CheckSealedHeader(sealed.size() >= SealHeaderSize ? sealed.data() : empty, sealed.size(), reason);
}

bool StartUnsealing(Unsealing& unsealing, const unsigned char* header, const std::string& passphrase,
                    std::string& reason) {
    Key key{};
    KeyGuard guard{key};
    if (!DeriveKey(passphrase, header + SaltOffset, ReadKdfParams(header), key)) {
        reason = "key derivation failed";
        return false;
    }
    unsealing.cipher = EVP_CIPHER_CTX_new();
    if (unsealing.cipher != nullptr &&
        EVP_DecryptInit_ex(unsealing.cipher, EVP_aes_256_gcm(), nullptr, key.data(), header + NonceOffset) ==
            1 &&
        AddAssociatedData(unsealing.cipher, false, header))
        return true;
    AbandonUnsealing(unsealing);
    reason = "decryption failed";
    return false;
}

bool UnsealBlock(Unsealing& unsealing, const unsigned char* in, unsigned char* out, std::size_t size) {
    if (CipherUpdate(unsealing.cipher, false, in, out, size)) return true;
    AbandonUnsealing(unsealing);
    return false;
}

bool FinishUnsealing(Unsealing& unsealing, const unsigned char* tag, std::string& reason) {
    unsigned char nothing[16];
    int finalBytes = 0;
    const bool authentic = EVP_CIPHER_CTX_ctrl(unsealing.cipher, EVP_CTRL_GCM_SET_TAG, SealTagSize,
                                               const_cast<unsigned char*>(tag)) == 1 &&
                           EVP_DecryptFinal_ex(unsealing.cipher, nothing, &finalBytes) == 1;
    AbandonUnsealing(unsealing);
    if (!authentic) reason = "wrong passphrase or damaged file";
    return authentic;
}

void AbandonUnsealing(Unsealing& unsealing) {
    EVP_CIPHER_CTX_free(unsealing.cipher);
    unsealing.cipher = nullptr;
}

bool UnsealBytes(Bytes& data, const std::string& passphrase, std::string& reason) {
    if (!CheckSealedHeader(data, reason)) {
        data.clear();
        return false;
    }
    const std::size_t bodySize = data.size() - SealHeaderSize - SealTagSize;
    unsigned char* body = data.data() + SealHeaderSize;
    Unsealing unsealing;
    if (!StartUnsealing(unsealing, data.data(), passphrase, reason) ||
        !UnsealBlock(unsealing, body, body, bodySize) ||
        !FinishUnsealing(unsealing, body + bodySize, reason)) {
        if (reason.empty()) reason = "wrong passphrase or damaged file";
        data.clear();
        return false;
    }
    data.erase(data.begin(), data.begin() + SealHeaderSize);
    data.resize(bodySize);
    return true;
}
