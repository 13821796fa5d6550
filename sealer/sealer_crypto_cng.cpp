// The sealer's cryptographic primitives on Windows's own cryptography, CNG
// (bcrypt.dll): the one file of the sealer that includes it. CNG has no
// scrypt, so its mixing comes from scrypt.cpp on CNG's PBKDF2. Every GCM
// call is one-shot: chained calls (BCRYPT_AUTH_MODE_CHAIN_CALLS_FLAG) go
// wrong under Wine, so version 1 files are opened in memory instead.
#include <windows.h>

#include <bcrypt.h>

#include <climits>

#include "scrypt.h"
#include "sealer_crypto.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An algorithm provider, closed when it goes out of scope.
struct Provider {
    BCRYPT_ALG_HANDLE handle = nullptr;
    Provider(const wchar_t* algorithm, ULONG flags) {
        if (!Succeeded(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, flags))) handle = nullptr;
    }
    ~Provider() {
        if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
};

// An AES-256-GCM key object, destroyed when it goes out of scope.
struct GcmKey {
    Provider aes{BCRYPT_AES_ALGORITHM, 0};
    BCRYPT_KEY_HANDLE handle = nullptr;
    explicit GcmKey(const SealKey& key) {
        auto* mode = reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM));
        if (aes.handle == nullptr ||
            !Succeeded(
                BCryptSetProperty(aes.handle, BCRYPT_CHAINING_MODE, mode, sizeof BCRYPT_CHAIN_MODE_GCM, 0)) ||
            !Succeeded(BCryptGenerateSymmetricKey(aes.handle, &handle, nullptr, 0,
                                                  const_cast<PUCHAR>(key.bytes), sizeof key.bytes, 0)))
            handle = nullptr;
    }
    ~GcmKey() {
        if (handle != nullptr) BCryptDestroyKey(handle);
    }
    GcmKey(const GcmKey&) = delete;
    GcmKey& operator=(const GcmKey&) = delete;
};

// CNG takes no null buffer, not even an empty one.
unsigned char* Usable(const unsigned char* bytes) {
    static unsigned char none = 0;
    return const_cast<unsigned char*>(bytes != nullptr ? bytes : &none);
}

BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO ModeInfo(const unsigned char* nonce, const unsigned char* associated,
                                               std::size_t associatedSize, const unsigned char* tag) {
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = const_cast<PUCHAR>(nonce);
    info.cbNonce = GcmNonceSize;
    info.pbAuthData = associatedSize > 0 ? const_cast<PUCHAR>(associated) : nullptr;
    info.cbAuthData = static_cast<ULONG>(associatedSize);
    info.pbTag = const_cast<PUCHAR>(tag);
    info.cbTag = GcmTagSize;
    return info;
}

bool Fits(std::size_t size) { return size <= ULONG_MAX; }

bool CngPbkdf2(const std::string& password, const unsigned char* salt, std::size_t saltSize,
               unsigned char* out, std::size_t outSize) {
    Provider hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    if (hmac.handle == nullptr || !Fits(password.size()) || !Fits(saltSize) || !Fits(outSize)) return false;
    auto* passwordBytes = reinterpret_cast<PUCHAR>(const_cast<char*>(password.data()));
    return Succeeded(BCryptDeriveKeyPBKDF2(hmac.handle, passwordBytes, static_cast<ULONG>(password.size()),
                                           Usable(salt), static_cast<ULONG>(saltSize), 1, out,
                                           static_cast<ULONG>(outSize), 0));
}

}  // namespace

Pbkdf2Sha256 BackendPbkdf2Sha256() { return CngPbkdf2; }

SealKey::~SealKey() { WipeSecret(bytes, sizeof bytes); }

void WipeSecret(void* bytes, std::size_t size) { SecureZeroMemory(bytes, size); }

bool RandomBytes(unsigned char* out, std::size_t size) {
    return Fits(size) && Succeeded(BCryptGenRandom(nullptr, out, static_cast<ULONG>(size),
                                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool DeriveKey(const std::string& passphrase, const unsigned char* salt, std::uint64_t n, std::uint32_t r,
               std::uint32_t p, std::uint64_t maxMemory, SealKey& key) {
    return Scrypt(CngPbkdf2, passphrase, salt, SealSaltSize, n, r, p, maxMemory, key.bytes, sizeof key.bytes);
}

bool GcmSeal(const SealKey& key, const unsigned char* nonce, const unsigned char* associated,
             std::size_t associatedSize, const unsigned char* in, std::size_t size, unsigned char* out,
             unsigned char* tag) {
    GcmKey cipher(key);
    if (cipher.handle == nullptr || !Fits(size) || !Fits(associatedSize)) return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, associated, associatedSize, tag);
    ULONG written = 0;
    return Succeeded(BCryptEncrypt(cipher.handle, Usable(in), static_cast<ULONG>(size), &info, nullptr, 0,
                                   Usable(out), static_cast<ULONG>(size), &written, 0)) &&
           written == size;
}

// Chained GCM calls go wrong under Wine: sealed_format.cpp then opens
// version-1 bodies in memory, and never starts an incremental decryption.
bool IncrementalGcmAvailable() { return false; }

struct GcmDecryption {};

GcmDecryption* StartGcmDecryption(const SealKey&, const unsigned char*, const unsigned char*, std::size_t) {
    return nullptr;
}

bool GcmDecryptPiece(GcmDecryption*&, const unsigned char*, unsigned char*, std::size_t) { return false; }

bool FinishGcmDecryption(GcmDecryption*&, const unsigned char*) { return false; }

void AbandonGcmDecryption(GcmDecryption*& decryption) { decryption = nullptr; }

bool GcmOpen(const SealKey& key, const unsigned char* nonce, const unsigned char* associated,
             std::size_t associatedSize, const unsigned char* in, std::size_t size, unsigned char* out,
             const unsigned char* tag) {
    GcmKey cipher(key);
    bool opened = cipher.handle != nullptr && Fits(size) && Fits(associatedSize);
    if (opened) {
        BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, associated, associatedSize, tag);
        ULONG written = 0;
        opened = Succeeded(BCryptDecrypt(cipher.handle, Usable(in), static_cast<ULONG>(size), &info, nullptr,
                                         0, Usable(out), static_cast<ULONG>(size), &written, 0)) &&
                 written == size;
    }
    if (!opened && size > 0) SecureZeroMemory(out, size);
    return opened;
}
