// The sealer's cryptographic primitives on OpenSSL: the one file of the
// sealer that includes it.
#include "sealer_crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

struct GcmDecryption {
    EVP_CIPHER_CTX* context = nullptr;
};

namespace {

// EVP update calls take an int length.
constexpr std::size_t CipherStep = 1u << 30;

struct ContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

bool Update(EVP_CIPHER_CTX* context, bool encrypt, const unsigned char* in, unsigned char* out,
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

bool AddAssociated(EVP_CIPHER_CTX* context, bool encrypt, const unsigned char* associated, std::size_t size) {
    if (size == 0) return true;
    if (size > INT_MAX) return false;
    int written = 0;
    const int length = static_cast<int>(size);
    return (encrypt ? EVP_EncryptUpdate(context, nullptr, &written, associated, length)
                    : EVP_DecryptUpdate(context, nullptr, &written, associated, length)) == 1;
}

bool Start(EVP_CIPHER_CTX* context, bool encrypt, const SealKey& key, const unsigned char* nonce,
           const unsigned char* associated, std::size_t associatedSize) {
    const int ok = encrypt ? EVP_EncryptInit_ex(context, EVP_aes_256_gcm(), nullptr, key.bytes, nonce)
                           : EVP_DecryptInit_ex(context, EVP_aes_256_gcm(), nullptr, key.bytes, nonce);
    return ok == 1 && AddAssociated(context, encrypt, associated, associatedSize);
}

bool CheckTag(EVP_CIPHER_CTX* context, const unsigned char* tag) {
    unsigned char nothing[16];
    int finalBytes = 0;
    return EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, GcmTagSize, const_cast<unsigned char*>(tag)) ==
               1 &&
           EVP_DecryptFinal_ex(context, nothing, &finalBytes) == 1;
}

}  // namespace

SealKey::~SealKey() { WipeSecret(bytes, sizeof bytes); }

void WipeSecret(void* bytes, std::size_t size) {
    if (size != 0) OPENSSL_cleanse(bytes, size);
}

bool RandomBytes(unsigned char* out, std::size_t size) {
    return size <= INT_MAX && RAND_bytes(out, static_cast<int>(size)) == 1;
}

bool DeriveKey(const std::string& passphrase, const unsigned char* salt, std::uint64_t n, std::uint32_t r,
               std::uint32_t p, std::uint64_t maxMemory, SealKey& key) {
    return EVP_PBE_scrypt(passphrase.data(), passphrase.size(), salt, SealSaltSize, n, r, p, maxMemory,
                          key.bytes, sizeof key.bytes) == 1;
}

bool GcmSeal(const SealKey& key, const unsigned char* nonce, const unsigned char* associated,
             std::size_t associatedSize, const unsigned char* in, std::size_t size, unsigned char* out,
             unsigned char* tag) {
    Context context(EVP_CIPHER_CTX_new());
    int finalBytes = 0;
    return context != nullptr && Start(context.get(), true, key, nonce, associated, associatedSize) &&
           Update(context.get(), true, in, out, size) &&
           EVP_EncryptFinal_ex(context.get(), out + size, &finalBytes) == 1 &&
           EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, GcmTagSize, tag) == 1;
}

bool GcmOpen(const SealKey& key, const unsigned char* nonce, const unsigned char* associated,
             std::size_t associatedSize, const unsigned char* in, std::size_t size, unsigned char* out,
             const unsigned char* tag) {
    Context context(EVP_CIPHER_CTX_new());
    const bool authentic = context != nullptr &&
                           Start(context.get(), false, key, nonce, associated, associatedSize) &&
                           Update(context.get(), false, in, out, size) && CheckTag(context.get(), tag);
    if (!authentic && size != 0) std::memset(out, 0, size);
    return authentic;
}

bool IncrementalGcmAvailable() { return true; }

GcmDecryption* StartGcmDecryption(const SealKey& key, const unsigned char* nonce,
                                  const unsigned char* associated, std::size_t associatedSize) {
    auto* decryption = new GcmDecryption{EVP_CIPHER_CTX_new()};
    if (decryption->context == nullptr ||
        !Start(decryption->context, false, key, nonce, associated, associatedSize))
        AbandonGcmDecryption(decryption);
    return decryption;
}

bool GcmDecryptPiece(GcmDecryption*& decryption, const unsigned char* in, unsigned char* out,
                     std::size_t size) {
    if (decryption != nullptr && Update(decryption->context, false, in, out, size)) return true;
    AbandonGcmDecryption(decryption);
    return false;
}

bool FinishGcmDecryption(GcmDecryption*& decryption, const unsigned char* tag) {
    const bool authentic = decryption != nullptr && CheckTag(decryption->context, tag);
    AbandonGcmDecryption(decryption);
    return authentic;
}

void AbandonGcmDecryption(GcmDecryption*& decryption) {
    if (decryption == nullptr) return;
    EVP_CIPHER_CTX_free(decryption->context);
    delete decryption;
    decryption = nullptr;
}
