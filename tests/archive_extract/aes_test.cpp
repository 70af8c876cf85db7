// AES, HMAC-SHA1 and PBKDF2 against their published vectors (FIPS-197
// appendix C, RFC 2202, RFC 6070), and the WinZip counter mode.
#include "archive/zadaes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Hex(const std::string& h)
{
    std::vector<std::uint8_t> v;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        v.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return v;
}

std::string ToHex(const std::uint8_t* p, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

}  // namespace

// Every vector runs through the portable code and, where the processor has
// them, through the SHA and AES instructions.
class AesBothWays : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { SetCryptoInstructions(GetParam()); }
    void TearDown() override { SetCryptoInstructions(true); }
};
INSTANTIATE_TEST_SUITE_P(Crypto, AesBothWays, ::testing::Values(false, true),
    [](const auto& info) { return info.param ? "Instructions" : "Portable"; });

TEST_P(AesBothWays, Fips197AppendixC)
{
    const auto plain = Hex("00112233445566778899aabbccddeeff");
    const struct {
        const char* key;
        const char* cipher;
    } cases[] = {
        {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& c : cases) {
        const auto key = Hex(c.key);
        TAesContext ctx;
        _zad_aes_set_encrypt_key(key.data(), static_cast<unsigned>(key.size()), ctx);
        std::uint8_t out[16];
        _zad_aes_encrypt_block(plain.data(), out, ctx);
        EXPECT_EQ(ToHex(out, 16), c.cipher) << c.key;
        // The key length may be given in bits as well.
        _zad_aes_set_encrypt_key(key.data(), static_cast<unsigned>(key.size() * 8), ctx);
        _zad_aes_encrypt_block(plain.data(), out, ctx);
        EXPECT_EQ(ToHex(out, 16), c.cipher) << c.key;
    }
    TAesContext bad;
    _zad_aes_set_encrypt_key(plain.data(), 20, bad);
    EXPECT_EQ(bad.rounds, 0);
}

TEST_P(AesBothWays, HmacSha1Rfc2202)
{
    const struct {
        std::string key, data;
        const char* mac;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
    for (const auto& c : cases) {
        hmac_ctx h;
        hmac_sha1_begin(h);
        hmac_sha1_key(c.key.data(), c.key.size(), h);
        hmac_sha1_data(c.data.data(), c.data.size(), h);
        std::uint8_t mac[20];
        hmac_sha1_end(mac, 20, h);
        EXPECT_EQ(ToHex(mac, 20), c.mac) << c.data;
    }
}

TEST_P(AesBothWays, Pbkdf2Rfc6070)
{
    const struct {
        std::string password, salt;
        unsigned iterations;
        size_t length;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, 16, "56fa6aa75548099dcc37d7f03425e0c3"},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> key(c.length);
        derive_key(c.password.data(), c.password.size(), c.salt.data(), c.salt.size(), c.iterations, key.data(), key.size());
        EXPECT_EQ(ToHex(key.data(), key.size()), c.key) << c.password << " " << c.iterations;
    }
}

TEST_P(AesBothWays, CounterModeRoundTripAndCounterBytes)
{
    const std::uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<std::uint8_t> data(256 * 16 + 7);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    const auto original = data;

    fcrypt_ctx enc, dec;
    std::uint8_t v1[2], v2[2];
    ASSERT_EQ(fcrypt_init(3, "pw", 2, salt, v1, enc), 0);
    ASSERT_EQ(fcrypt_init(3, "pw", 2, salt, v2, dec), 0);
    EXPECT_EQ(v1[0], v2[0]);
    // Uneven pieces cross block boundaries.
    fcrypt_encrypt(data.data(), 5, enc);
    fcrypt_encrypt(data.data() + 5, data.size() - 5, enc);
    EXPECT_NE(data, original);
    // After 256 blocks the counter reads 256: byte 0 is 0 and byte 1 is 1.
    EXPECT_EQ(enc.nonce[0], 1);  // 257 blocks started
    EXPECT_EQ(enc.nonce[1], 1);
    std::uint8_t mac1[10], mac2[10];
    fcrypt_end(mac1, enc);
    fcrypt_decrypt(data.data(), 100, dec);
    fcrypt_decrypt(data.data() + 100, data.size() - 100, dec);
    fcrypt_end(mac2, dec);
    EXPECT_EQ(data, original);
    EXPECT_EQ(ToHex(mac1, 10), ToHex(mac2, 10));

    // The first key-stream block encrypts counter value 1.
    fcrypt_ctx one;
    std::uint8_t v[2];
    fcrypt_init(1, "pw", 2, salt, v, one);
    std::uint8_t zero[16] = {};
    fcrypt_encrypt(zero, 16, one);
    std::uint8_t counter[16] = {1};
    std::uint8_t expect[16];
    _zad_aes_encrypt_block(counter, expect, one.encr_ctx);
    EXPECT_EQ(ToHex(zero, 16), ToHex(expect, 16));
}

TEST(Aes, CounterModeIsTheSameWithAndWithoutTheInstructions)
{
    // The instructions encrypt whole blocks four at a time; the key stream
    // must be the portable code's, whatever the pieces.
    const std::uint8_t salt[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    std::vector<std::uint8_t> streams[2];
    for (const bool on : {false, true}) {
        SetCryptoInstructions(on);
        fcrypt_ctx cx;
        std::uint8_t v[2];
        ASSERT_EQ(fcrypt_init(3, "pw", 2, salt, v, cx), 0);
        std::vector<std::uint8_t> data(1000, 0);
        size_t at = 0;
        for (const size_t piece : {3u, 64u, 200u, 1u, 500u, 232u}) {
            fcrypt_encrypt(data.data() + at, piece, cx);
            at += piece;
        }
        streams[on] = data;
    }
    SetCryptoInstructions(true);
    EXPECT_EQ(streams[0], streams[1]);
}

TEST(Aes, PasswordsOver128BytesAreRefused)
{
    const std::uint8_t salt[16] = {};
    std::uint8_t ver[2] = {0xAB, 0xCD};
    fcrypt_ctx cx;
    const std::string p128(128, 'p'), p129(129, 'p');
    EXPECT_EQ(fcrypt_init(1, p128.data(), 128, salt, ver, cx), 0);
    ver[0] = 0xAB;
    ver[1] = 0xCD;
    EXPECT_EQ(fcrypt_init(1, p129.data(), 129, salt, ver, cx), PASSWORD_TOO_LONG);
    EXPECT_EQ(ver[0], 0xAB);
    EXPECT_EQ(ver[1], 0xCD);
}
