// WinZip AES encryption (AE-1 and AE-2) and its building blocks: AES
// (FIPS-197), SHA-1 (FIPS 180), HMAC-SHA1 (RFC 2104) and PBKDF2 (RFC 2898).
//
// Layout of an AES entry's data (its stored compressed size covers all of it):
//   salt            8, 12 or 16 bytes (strength 1, 2, 3)
//   verifier        2 bytes
//   encrypted data  compressed size - salt - 2 - 10
//   authentication  10 bytes: HMAC-SHA1 of the encrypted data, truncated
//
// Key material of 2 x KL + 2 bytes (KL = 16, 24, 32) comes from PBKDF2 over
// the password and the salt with 1000 iterations: the AES key, the HMAC key,
// then the 2-byte verifier. Data is encrypted in counter mode with a 64-bit
// little-endian counter in bytes 0 to 7 of the block, starting at 1.
#pragma once

#include "archive/zadstreams.h"

#include <cstddef>
#include <cstdint>
#include <string>

// ---- AES (encryption direction, which counter mode needs) ----------------------------
struct TAesContext {
    std::uint32_t rk[60] = {};
    int rounds = 0;  // 0: no usable key
};
// keyLength in bytes (16, 24, 32) or bits (128, 192, 256); any other length
// leaves a schedule with no rounds.
void _zad_aes_set_encrypt_key(const std::uint8_t* key, unsigned keyLength, TAesContext& ctx);
void _zad_aes_encrypt_block(const std::uint8_t in[16], std::uint8_t out[16], const TAesContext& ctx);

// Whether the processor's SHA and AES instructions are used where present
// (on by default; tests turn them off to check the portable code).
void SetCryptoInstructions(bool on);

// ---- SHA-1 and HMAC-SHA1 --------------------------------------------------------------------
struct sha1_ctx {
    std::uint64_t count = 0;  // bytes hashed
    std::uint32_t hash[5] = {};
    std::uint8_t wbuf[64] = {};
};
void sha1_begin(sha1_ctx& ctx);
void sha1_hash(const void* data, std::size_t len, sha1_ctx& ctx);
void sha1_end(std::uint8_t hval[20], sha1_ctx& ctx);
// One compression of the block buffer into the hash words (no padding).
void sha1_compile(sha1_ctx& ctx);

struct hmac_ctx {
    std::uint8_t key[64] = {};
    sha1_ctx ctx;
    int klen = 0;  // -1 once the inner hash has started
};
void hmac_sha1_begin(hmac_ctx& ctx);
void hmac_sha1_key(const void* key, std::size_t len, hmac_ctx& ctx);
void hmac_sha1_data(const void* data, std::size_t len, hmac_ctx& ctx);
void hmac_sha1_end(std::uint8_t* mac, std::size_t macLen, hmac_ctx& ctx);

// PBKDF2 with HMAC-SHA1.
void derive_key(const void* pwd, std::size_t pwdLen, const void* salt, std::size_t saltLen, unsigned iterations,
                std::uint8_t* key, std::size_t keyLen);

// ---- the random pool of salts and cipher headers -------------------------------------------
// 260 bytes (13 SHA-1 digests) mixed by SHA-1 compressions, filled from an
// entropy function; the program's is the operating system's random source.
constexpr int PRNG_POOL_SIZE = 260;
// Fills the buffer with up to length bytes of entropy; answers how many.
using TEntropyFunction = int (*)(std::uint8_t* buffer, unsigned length);
struct prng_ctx {
    std::uint8_t rbuf[PRNG_POOL_SIZE] = {};
    std::uint8_t obuf[PRNG_POOL_SIZE] = {};
    TEntropyFunction entropy = nullptr;
    unsigned pos = 0;
};
void prng_init(TEntropyFunction entropy, prng_ctx& ctx);
void prng_rand(std::uint8_t* data, unsigned count, prng_ctx& ctx);
void prng_end(prng_ctx& ctx);
// The operating system's random source (getrandom) as an entropy function.
int SystemEntropy(std::uint8_t* buffer, unsigned length);
// The entropy function salts and cipher headers are drawn through
// (SystemEntropy unless a test puts another in place; nullptr restores it).
void SetSaltEntropy(TEntropyFunction entropy);
// count bytes for a salt or a cipher header: a fresh pool over the entropy function.
void RandomSaltBytes(std::uint8_t* data, unsigned count);

// ---- file encryption context ------------------------------------------------------------------
constexpr int MAX_PWD_LENGTH = 128;
constexpr int PWD_VER_LENGTH = 2;
constexpr int KEYING_ITERATIONS = 1000;
constexpr int PASSWORD_TOO_LONG = -100;
inline int SALT_LENGTH(int mode) { return 4 * (mode & 3) + 4; }
inline int KEY_LENGTH(int mode) { return 8 * (mode & 3) + 8; }
inline int MAC_LENGTH(int) { return 10; }

struct fcrypt_ctx {
    std::uint8_t nonce[16] = {};
    std::uint8_t encr_bfr[16] = {};
    TAesContext encr_ctx;
    hmac_ctx auth_ctx;
    unsigned encr_pos = 0;
    unsigned pwd_len = 0;
    unsigned mode = 0;
};
// 0, or PASSWORD_TOO_LONG for a password over 128 bytes (nothing changes).
int fcrypt_init(int mode, const void* pwd, unsigned pwdLen, const std::uint8_t* salt, std::uint8_t pwdVer[2],
                fcrypt_ctx& cx);
void fcrypt_encrypt(std::uint8_t* data, std::size_t len, fcrypt_ctx& cx);
void fcrypt_decrypt(std::uint8_t* data, std::size_t len, fcrypt_ctx& cx);
// The truncated authentication code; returns its length (10).
int fcrypt_end(std::uint8_t mac[10], fcrypt_ctx& cx);

// ---- the extractor's AES object -------------------------------------------------------------
// One entry at a time: the context and the bound input stream are
// module-wide, as the extraction path's decrypt hooks reach them.
class TzadAES : public TObject {
public:
    TzadAES(TStream32* inStream, TStream32* outStream);
    ~TzadAES() override;
    // Reads the salt and the verifier from the input stream and checks the
    // password. On a mismatch the stream steps back over them so the next
    // candidate reads the same salt. headerLength gets salt + 2 (+ 10 on success).
    bool zadDecryptInit(const std::string& password, WORD mode, BYTE& headerLength);
    void zadDecryptBuf(void* buf, std::int32_t count);
    // Reads count bytes from the input stream in blocks of 32 KB, decrypts
    // them and writes them to the output stream.
    void zadDecryptStream(std::int64_t count);
    // Reads the 10-byte code that follows the data and compares it.
    bool zadDecryptEnd();
    // Whether the last zadDecryptInit refused the password for its length.
    bool PasswordTooLong() const { return m_tooLong; }

    // Writes a fresh salt (from the random pool) and the verifier to the
    // output stream and keys the context.
    void zadEncryptInit(const std::string& password, WORD mode);
    // Starts the same entry again: the output steps back over the salt and
    // verifier it wrote, and a new salt and verifier are written.
    void zadEncryptReinitialize();
    void zadEncryptBuf(void* buf, std::int32_t count);
    // Reads count bytes from the input stream in blocks of 32 KB, encrypts
    // them and writes them to the output stream.
    void zadEncryptStream(std::int64_t count);
    // Writes the 10-byte authentication code.
    void zadEncryptEnd();

private:
    bool m_tooLong = false;
    std::string m_password;
    WORD m_mode = 0;
};

// The current AES object's context (the data path decrypts through these).
void zadDecryptBuf(void* buf, std::int32_t count);
void zadEncryptBuf(void* buf, std::int32_t count);
// Rebinds the input stream of the current AES object (volume switches).
void SetAesInputStream(TStream32* stream);
