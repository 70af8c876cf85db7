#include "archive/zadaes.h"

#include "kernel/kernel.h"

#include <algorithm>
#include <chrono>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define VISTREL_X86_CRYPTO 1
#endif
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// ---- AES tables ---------------------------------------------------------------------------

std::uint8_t XTime(std::uint8_t x) { return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

struct AesTables {
    std::uint8_t sbox[256];
    std::uint32_t te[4][256];
    AesTables()
    {
        // The S-box from the multiplicative inverse in GF(2^8) and the affine map.
        std::uint8_t p = 1, q = 1;
        do {
            p = static_cast<std::uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
            q ^= static_cast<std::uint8_t>(q << 1);
            q ^= static_cast<std::uint8_t>(q << 2);
            q ^= static_cast<std::uint8_t>(q << 4);
            if (q & 0x80)
                q ^= 0x09;
            const auto rot = [](std::uint8_t x, int s) { return static_cast<std::uint8_t>((x << s) | (x >> (8 - s))); };
            sbox[p] = static_cast<std::uint8_t>(q ^ rot(q, 1) ^ rot(q, 2) ^ rot(q, 3) ^ rot(q, 4) ^ 0x63);
        } while (p != 1);
        sbox[0] = 0x63;
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t s = sbox[i];
            const std::uint8_t s2 = XTime(s);
            const std::uint8_t s3 = static_cast<std::uint8_t>(s2 ^ s);
            // Column (2s, s, s, 3s) as a little-endian word.
            const std::uint32_t w = static_cast<std::uint32_t>(s2) | (static_cast<std::uint32_t>(s) << 8) |
                                    (static_cast<std::uint32_t>(s) << 16) | (static_cast<std::uint32_t>(s3) << 24);
            te[0][i] = w;
            te[1][i] = (w << 8) | (w >> 24);
            te[2][i] = (w << 16) | (w >> 16);
            te[3][i] = (w << 24) | (w >> 8);
        }
    }
};

const AesTables& Tables()
{
    static const AesTables t;
    return t;
}

std::uint32_t LoadLE(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void StoreLE(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
std::uint32_t LoadBE(const std::uint8_t* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
void StoreBE(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

std::uint32_t Rol(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace


// ---- processor instructions ---------------------------------------------------------------
// Where the processor has the SHA and AES instructions they do the same
// compressions and rounds as the portable code, several times faster.

#ifdef VISTREL_X86_CRYPTO
namespace {

__attribute__((target("sha,sse4.1,ssse3"))) void Sha1CompileNi(std::uint32_t state[5], const std::uint8_t* data)
{
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    const __m128i abcdSave = abcd, e0Save = e0;
    __m128i e1;
    __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)), mask);
    __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16)), mask);
    __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 32)), mask);
    __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 48)), mask);

    // Rounds 0-15 take the message words as they are.
    e0 = _mm_add_epi32(e0, m0);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    e1 = _mm_sha1nexte_epu32(e1, m1);
    e0 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 0);
    m0 = _mm_sha1msg1_epu32(m0, m1);
    e0 = _mm_sha1nexte_epu32(e0, m2);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    e1 = _mm_sha1nexte_epu32(e1, m3);
    e0 = abcd;
    m0 = _mm_sha1msg2_epu32(m0, m3);
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 0);
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);

    // Rounds 16-67: one pattern, rotating through the four message registers.
#define VISTREL_SHA1_QUAD(ea, eb, ma, mb, mc, md, f)   \
    ea = _mm_sha1nexte_epu32(ea, ma);                  \
    eb = abcd;                                         \
    mb = _mm_sha1msg2_epu32(mb, ma);                   \
    abcd = _mm_sha1rnds4_epu32(abcd, ea, f);           \
    md = _mm_sha1msg1_epu32(md, ma);                   \
    mc = _mm_xor_si128(mc, ma);
    VISTREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 0)  // 16-19
    VISTREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 1)  // 20-23
    VISTREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 1)  // 24-27
    VISTREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 1)  // 28-31
    VISTREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 1)  // 32-35
    VISTREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 1)  // 36-39
    VISTREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 2)  // 40-43
    VISTREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 2)  // 44-47
    VISTREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 2)  // 48-51
    VISTREL_SHA1_QUAD(e1, e0, m1, m2, m3, m0, 2)  // 52-55
    VISTREL_SHA1_QUAD(e0, e1, m2, m3, m0, m1, 2)  // 56-59
    VISTREL_SHA1_QUAD(e1, e0, m3, m0, m1, m2, 3)  // 60-63
    VISTREL_SHA1_QUAD(e0, e1, m0, m1, m2, m3, 3)  // 64-67
#undef VISTREL_SHA1_QUAD
    // Rounds 68-79.
    e1 = _mm_sha1nexte_epu32(e1, m1);
    e0 = abcd;
    m2 = _mm_sha1msg2_epu32(m2, m1);
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);
    m3 = _mm_xor_si128(m3, m1);
    e0 = _mm_sha1nexte_epu32(e0, m2);
    e1 = abcd;
    m3 = _mm_sha1msg2_epu32(m3, m2);
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 3);
    e1 = _mm_sha1nexte_epu32(e1, m3);
    e0 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);

    e0 = _mm_sha1nexte_epu32(e0, e0Save);
    abcd = _mm_add_epi32(abcd, abcdSave);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

__attribute__((target("aes,sse2"))) void AesEncryptNi(const std::uint8_t in[16], std::uint8_t out[16], const TAesContext& ctx)
{
    const auto* rk = reinterpret_cast<const __m128i*>(ctx.rk);
    __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), _mm_loadu_si128(rk));
    for (int r = 1; r < ctx.rounds; ++r)
        x = _mm_aesenc_si128(x, _mm_loadu_si128(rk + r));
    x = _mm_aesenclast_si128(x, _mm_loadu_si128(rk + ctx.rounds));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
}

// Counter mode over whole blocks, four at a time so that the processor
// overlaps their rounds: the counter is the 64-bit little-endian number in
// bytes 0 to 7 of the nonce, increased before each block (bytes 8 to 15 stay).
__attribute__((target("aes,sse2"))) void AesCtrBlocksNi(std::uint8_t* data, std::size_t blocks, std::uint8_t nonce[16],
                                                         const TAesContext& ctx)
{
    const auto* rk = reinterpret_cast<const __m128i*>(ctx.rk);
    std::uint64_t counter = 0, high = 0;
    std::memcpy(&counter, nonce, 8);
    std::memcpy(&high, nonce + 8, 8);
    auto block = [&](std::uint64_t c) { return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(c)); };
    auto xorInto = [](std::uint8_t* p, __m128i k) {
        auto* q = reinterpret_cast<__m128i*>(p);
        _mm_storeu_si128(q, _mm_xor_si128(_mm_loadu_si128(q), k));
    };
    for (; blocks >= 4; blocks -= 4, data += 64) {
        const __m128i k0 = _mm_loadu_si128(rk);
        __m128i x0 = _mm_xor_si128(block(counter + 1), k0), x1 = _mm_xor_si128(block(counter + 2), k0);
        __m128i x2 = _mm_xor_si128(block(counter + 3), k0), x3 = _mm_xor_si128(block(counter + 4), k0);
        counter += 4;
        for (int r = 1; r < ctx.rounds; ++r) {
            const __m128i k = _mm_loadu_si128(rk + r);
            x0 = _mm_aesenc_si128(x0, k);
            x1 = _mm_aesenc_si128(x1, k);
            x2 = _mm_aesenc_si128(x2, k);
            x3 = _mm_aesenc_si128(x3, k);
        }
        const __m128i kl = _mm_loadu_si128(rk + ctx.rounds);
        xorInto(data, _mm_aesenclast_si128(x0, kl));
        xorInto(data + 16, _mm_aesenclast_si128(x1, kl));
        xorInto(data + 32, _mm_aesenclast_si128(x2, kl));
        xorInto(data + 48, _mm_aesenclast_si128(x3, kl));
    }
    std::memcpy(nonce, &counter, 8);
}

// CPUID leaf 1: ECX bit 9 SSSE3, 19 SSE4.1, 25 AES; leaf 7: EBX bit 29 SHA.
bool Detect(const char* feature)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19), aes = c & (1u << 25);
    if (std::string(feature) == "aes")
        return aes;
    unsigned b7 = 0;
    if (!__get_cpuid_count(7, 0, &a, &b7, &c, &d))
        return false;
    return ssse3 && sse41 && (b7 & (1u << 29));
}

bool g_shaNi = Detect("sha");
bool g_aesNi = Detect("aes");

}  // namespace

void SetCryptoInstructions(bool on)
{
    g_shaNi = on && Detect("sha");
    g_aesNi = on && Detect("aes");
}
#else
void SetCryptoInstructions(bool) {}
#endif

// Words are kept little-endian (byte 0 of a column in the low byte).
void _zad_aes_set_encrypt_key(const std::uint8_t* key, unsigned keyLength, TAesContext& ctx)
{
    ctx = TAesContext{};
    if (keyLength == 128 || keyLength == 192 || keyLength == 256)
        keyLength /= 8;
    if (keyLength != 16 && keyLength != 24 && keyLength != 32)
        return;
    const AesTables& t = Tables();
    const int nk = static_cast<int>(keyLength / 4);
    ctx.rounds = nk + 6;
    const int total = 4 * (ctx.rounds + 1);
    for (int i = 0; i < nk; ++i)
        ctx.rk[i] = LoadLE(key + 4 * i);
    std::uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        std::uint32_t w = ctx.rk[i - 1];
        if (i % nk == 0) {
            w = (w >> 8) | (w << 24);  // RotWord in little-endian order
            w = static_cast<std::uint32_t>(t.sbox[w & 0xFF]) | (static_cast<std::uint32_t>(t.sbox[(w >> 8) & 0xFF]) << 8) |
                (static_cast<std::uint32_t>(t.sbox[(w >> 16) & 0xFF]) << 16) |
                (static_cast<std::uint32_t>(t.sbox[w >> 24]) << 24);
            w ^= rcon;
            rcon = XTime(rcon);
        } else if (nk > 6 && i % nk == 4) {
            w = static_cast<std::uint32_t>(t.sbox[w & 0xFF]) | (static_cast<std::uint32_t>(t.sbox[(w >> 8) & 0xFF]) << 8) |
                (static_cast<std::uint32_t>(t.sbox[(w >> 16) & 0xFF]) << 16) |
                (static_cast<std::uint32_t>(t.sbox[w >> 24]) << 24);
        }
        ctx.rk[i] = ctx.rk[i - nk] ^ w;
    }
}

void _zad_aes_encrypt_block(const std::uint8_t in[16], std::uint8_t out[16], const TAesContext& ctx)
{
    if (ctx.rounds == 0) {
        std::memcpy(out, in, 16);
        return;
    }
#ifdef VISTREL_X86_CRYPTO
    if (g_aesNi) {
        AesEncryptNi(in, out, ctx);
        return;
    }
#endif
    const AesTables& t = Tables();
    const std::uint32_t* rk = ctx.rk;
    std::uint32_t s0 = LoadLE(in) ^ rk[0], s1 = LoadLE(in + 4) ^ rk[1], s2 = LoadLE(in + 8) ^ rk[2],
                  s3 = LoadLE(in + 12) ^ rk[3];
    for (int r = 1; r < ctx.rounds; ++r) {
        rk += 4;
        const std::uint32_t t0 = t.te[0][s0 & 0xFF] ^ t.te[1][(s1 >> 8) & 0xFF] ^ t.te[2][(s2 >> 16) & 0xFF] ^ t.te[3][s3 >> 24] ^ rk[0];
        const std::uint32_t t1 = t.te[0][s1 & 0xFF] ^ t.te[1][(s2 >> 8) & 0xFF] ^ t.te[2][(s3 >> 16) & 0xFF] ^ t.te[3][s0 >> 24] ^ rk[1];
        const std::uint32_t t2 = t.te[0][s2 & 0xFF] ^ t.te[1][(s3 >> 8) & 0xFF] ^ t.te[2][(s0 >> 16) & 0xFF] ^ t.te[3][s1 >> 24] ^ rk[2];
        const std::uint32_t t3 = t.te[0][s3 & 0xFF] ^ t.te[1][(s0 >> 8) & 0xFF] ^ t.te[2][(s1 >> 16) & 0xFF] ^ t.te[3][s2 >> 24] ^ rk[3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    rk += 4;
    const auto sb = [&t](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
        return static_cast<std::uint32_t>(t.sbox[a & 0xFF]) | (static_cast<std::uint32_t>(t.sbox[(b >> 8) & 0xFF]) << 8) |
               (static_cast<std::uint32_t>(t.sbox[(c >> 16) & 0xFF]) << 16) | (static_cast<std::uint32_t>(t.sbox[d >> 24]) << 24);
    };
    StoreLE(out, sb(s0, s1, s2, s3) ^ rk[0]);
    StoreLE(out + 4, sb(s1, s2, s3, s0) ^ rk[1]);
    StoreLE(out + 8, sb(s2, s3, s0, s1) ^ rk[2]);
    StoreLE(out + 12, sb(s3, s0, s1, s2) ^ rk[3]);
}

// ---- SHA-1 ------------------------------------------------------------------------------------

void sha1_begin(sha1_ctx& ctx)
{
    ctx = sha1_ctx{};
    ctx.hash[0] = 0x67452301u;
    ctx.hash[1] = 0xEFCDAB89u;
    ctx.hash[2] = 0x98BADCFEu;
    ctx.hash[3] = 0x10325476u;
    ctx.hash[4] = 0xC3D2E1F0u;
}

void sha1_compile(sha1_ctx& ctx)
{
#ifdef VISTREL_X86_CRYPTO
    if (g_shaNi) {
        Sha1CompileNi(ctx.hash, ctx.wbuf);
        return;
    }
#endif
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = LoadBE(ctx.wbuf + 4 * i);
    for (int i = 16; i < 80; ++i)
        w[i] = Rol(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = ctx.hash[0], b = ctx.hash[1], c = ctx.hash[2], d = ctx.hash[3], e = ctx.hash[4];
    // The four rounds without a branch per step.
#define VISTREL_SHA1_STEP(f, k, i)                            \
    {                                                          \
        const std::uint32_t t = Rol(a, 5) + (f) + e + (k) + w[i]; \
        e = d;                                                 \
        d = c;                                                 \
        c = Rol(b, 30);                                        \
        b = a;                                                 \
        a = t;                                                 \
    }
    for (int i = 0; i < 20; ++i)
        VISTREL_SHA1_STEP((d ^ (b & (c ^ d))), 0x5A827999u, i)
    for (int i = 20; i < 40; ++i)
        VISTREL_SHA1_STEP((b ^ c ^ d), 0x6ED9EBA1u, i)
    for (int i = 40; i < 60; ++i)
        VISTREL_SHA1_STEP(((b & c) | (d & (b | c))), 0x8F1BBCDCu, i)
    for (int i = 60; i < 80; ++i)
        VISTREL_SHA1_STEP((b ^ c ^ d), 0xCA62C1D6u, i)
#undef VISTREL_SHA1_STEP
    ctx.hash[0] += a;
    ctx.hash[1] += b;
    ctx.hash[2] += c;
    ctx.hash[3] += d;
    ctx.hash[4] += e;
}

void sha1_hash(const void* data, std::size_t len, sha1_ctx& ctx)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::size_t pos = static_cast<std::size_t>(ctx.count & 63);
    ctx.count += len;
    while (len > 0) {
        const std::size_t n = std::min<std::size_t>(64 - pos, len);
        std::memcpy(ctx.wbuf + pos, p, n);
        pos += n;
        p += n;
        len -= n;
        if (pos == 64) {
            sha1_compile(ctx);
            pos = 0;
        }
    }
}

void sha1_end(std::uint8_t hval[20], sha1_ctx& ctx)
{
    const std::uint64_t bits = ctx.count * 8;
    std::size_t pos = static_cast<std::size_t>(ctx.count & 63);
    ctx.wbuf[pos++] = 0x80;
    if (pos > 56) {
        std::memset(ctx.wbuf + pos, 0, 64 - pos);
        sha1_compile(ctx);
        pos = 0;
    }
    std::memset(ctx.wbuf + pos, 0, 56 - pos);
    StoreBE(ctx.wbuf + 56, static_cast<std::uint32_t>(bits >> 32));
    StoreBE(ctx.wbuf + 60, static_cast<std::uint32_t>(bits));
    sha1_compile(ctx);
    for (int i = 0; i < 5; ++i)
        StoreBE(hval + 4 * i, ctx.hash[i]);
}

// ---- HMAC-SHA1 ------------------------------------------------------------------------------

void hmac_sha1_begin(hmac_ctx& ctx) { ctx = hmac_ctx{}; }

void hmac_sha1_key(const void* key, std::size_t len, hmac_ctx& ctx)
{
    if (ctx.klen == -1)
        return;
    if (ctx.klen + len > 64) {
        // A long key is replaced by its hash.
        if (ctx.klen <= 64) {
            sha1_begin(ctx.ctx);
            sha1_hash(ctx.key, static_cast<std::size_t>(ctx.klen), ctx.ctx);
        }
        sha1_hash(key, len, ctx.ctx);
    } else {
        std::memcpy(ctx.key + ctx.klen, key, len);
    }
    ctx.klen += static_cast<int>(len);
}

void hmac_sha1_data(const void* data, std::size_t len, hmac_ctx& ctx)
{
    if (ctx.klen != -1) {
        if (ctx.klen > 64) {
            sha1_end(ctx.key, ctx.ctx);
            ctx.klen = 20;
        }
        std::memset(ctx.key + ctx.klen, 0, static_cast<std::size_t>(64 - ctx.klen));
        for (auto& b : ctx.key)
            b ^= 0x36;
        sha1_begin(ctx.ctx);
        sha1_hash(ctx.key, 64, ctx.ctx);
        ctx.klen = -1;
    }
    sha1_hash(data, len, ctx.ctx);
}

void hmac_sha1_end(std::uint8_t* mac, std::size_t macLen, hmac_ctx& ctx)
{
    if (ctx.klen != -1)
        hmac_sha1_data(nullptr, 0, ctx);
    std::uint8_t inner[20];
    sha1_end(inner, ctx.ctx);
    for (auto& b : ctx.key)
        b ^= 0x36 ^ 0x5C;
    sha1_begin(ctx.ctx);
    sha1_hash(ctx.key, 64, ctx.ctx);
    sha1_hash(inner, 20, ctx.ctx);
    std::uint8_t outer[20];
    sha1_end(outer, ctx.ctx);
    std::memcpy(mac, outer, std::min<std::size_t>(macLen, 20));
}

// ---- PBKDF2 ------------------------------------------------------------------------------

void derive_key(const void* pwd, std::size_t pwdLen, const void* salt, std::size_t saltLen, unsigned iterations,
                std::uint8_t* key, std::size_t keyLen)
{
    // The inner and outer hashes start from the keyed pads; both states are
    // computed once, so each HMAC of the iteration costs two compressions.
    std::uint8_t k[64] = {};
    if (pwdLen > 64) {
        sha1_ctx h;
        sha1_begin(h);
        sha1_hash(pwd, pwdLen, h);
        sha1_end(k, h);
    } else if (pwdLen > 0) {
        std::memcpy(k, pwd, pwdLen);
    }
    std::uint8_t pad[64];
    sha1_ctx inner, outer;
    for (int i = 0; i < 64; ++i)
        pad[i] = k[i] ^ 0x36;
    sha1_begin(inner);
    sha1_hash(pad, 64, inner);
    for (int i = 0; i < 64; ++i)
        pad[i] = k[i] ^ 0x5C;
    sha1_begin(outer);
    sha1_hash(pad, 64, outer);
    auto hmac = [&](const std::uint8_t* a, std::size_t alen, const std::uint8_t* b, std::size_t blen, std::uint8_t out[20]) {
        sha1_ctx c = inner;
        sha1_hash(a, alen, c);
        if (blen)
            sha1_hash(b, blen, c);
        std::uint8_t ih[20];
        sha1_end(ih, c);
        c = outer;
        sha1_hash(ih, 20, c);
        sha1_end(out, c);
    };
    for (std::size_t block = 1, done = 0; done < keyLen; ++block) {
        std::uint8_t u[20], t[20];
        std::uint8_t be[4];
        StoreBE(be, static_cast<std::uint32_t>(block));
        hmac(static_cast<const std::uint8_t*>(salt), saltLen, be, 4, u);
        std::memcpy(t, u, 20);
        for (unsigned i = 1; i < iterations; ++i) {
            hmac(u, 20, nullptr, 0, u);
            for (int j = 0; j < 20; ++j)
                t[j] ^= u[j];
        }
        const std::size_t n = std::min<std::size_t>(20, keyLen - done);
        std::memcpy(key + done, t, n);
        done += n;
    }
}

// ---- file encryption ----------------------------------------------------------------------

int fcrypt_init(int mode, const void* pwd, unsigned pwdLen, const std::uint8_t* salt, std::uint8_t pwdVer[2],
                fcrypt_ctx& cx)
{
    if (pwdLen > MAX_PWD_LENGTH)
        return PASSWORD_TOO_LONG;
    cx.mode = static_cast<unsigned>(mode);
    cx.pwd_len = pwdLen;
    const int kl = KEY_LENGTH(mode);
    std::uint8_t kbuf[2 * 32 + PWD_VER_LENGTH];
    derive_key(pwd, pwdLen, salt, static_cast<std::size_t>(SALT_LENGTH(mode)), KEYING_ITERATIONS, kbuf,
               static_cast<std::size_t>(2 * kl + PWD_VER_LENGTH));
    cx.encr_pos = 16;
    std::memset(cx.nonce, 0, sizeof cx.nonce);
    _zad_aes_set_encrypt_key(kbuf, static_cast<unsigned>(kl), cx.encr_ctx);
    hmac_sha1_begin(cx.auth_ctx);
    hmac_sha1_key(kbuf + kl, static_cast<std::size_t>(kl), cx.auth_ctx);
    std::memcpy(pwdVer, kbuf + 2 * kl, PWD_VER_LENGTH);
    std::memset(kbuf, 0, sizeof kbuf);
    return 0;
}

namespace {

void CounterMode(std::uint8_t* data, std::size_t len, fcrypt_ctx& cx)
{
    std::size_t i = 0;
    unsigned pos = cx.encr_pos;
    // The rest of the current key block, then whole blocks at once.
    while (i < len && pos < 16)
        data[i++] ^= cx.encr_bfr[pos++];
#ifdef VISTREL_X86_CRYPTO
    if (g_aesNi && cx.encr_ctx.rounds > 0 && len - i >= 64) {
        const std::size_t blocks = (len - i) / 64 * 4;
        AesCtrBlocksNi(data + i, blocks, cx.nonce, cx.encr_ctx);
        i += blocks * 16;
    }
#endif
    while (i < len) {
        if (pos == 16) {
            for (int j = 0; j < 8 && ++cx.nonce[j] == 0; ++j) {
            }
            _zad_aes_encrypt_block(cx.nonce, cx.encr_bfr, cx.encr_ctx);
            pos = 0;
        }
        data[i++] ^= cx.encr_bfr[pos++];
    }
    cx.encr_pos = pos;
}

}  // namespace

void fcrypt_encrypt(std::uint8_t* data, std::size_t len, fcrypt_ctx& cx)
{
    CounterMode(data, len, cx);
    hmac_sha1_data(data, len, cx.auth_ctx);
}

void fcrypt_decrypt(std::uint8_t* data, std::size_t len, fcrypt_ctx& cx)
{
    hmac_sha1_data(data, len, cx.auth_ctx);
    CounterMode(data, len, cx);
}

int fcrypt_end(std::uint8_t mac[10], fcrypt_ctx& cx)
{
    hmac_sha1_end(mac, 10, cx.auth_ctx);
    return 10;
}

// ---- the random pool ----------------------------------------------------------------------

namespace {

TEntropyFunction g_saltEntropy = SystemEntropy;

// Each 20-byte piece of the pool is replaced by one SHA-1 compression whose
// hash words start as the 20 bytes before the piece (for the first piece
// the last 20) and whose block is the 64 bytes from the piece on, wrapping
// round the pool.
void prng_mix(std::uint8_t* buf)
{
    sha1_ctx c;
    for (int i = 0; i < PRNG_POOL_SIZE; i += 20) {
        std::memcpy(c.hash, buf + (i ? i : PRNG_POOL_SIZE) - 20, 20);
        for (int j = 0; j < 64; ++j)
            c.wbuf[j] = buf[(i + j) % PRNG_POOL_SIZE];
        sha1_compile(c);
        std::memcpy(buf + i, c.hash, 20);
    }
}

// The output pool takes the random pool; the random pool is refilled from
// the entropy function, folded with the complement of the old pool, and
// both are mixed.
void update_pool(prng_ctx& ctx)
{
    std::memcpy(ctx.obuf, ctx.rbuf, PRNG_POOL_SIZE);
    unsigned filled = 0;
    while (filled < PRNG_POOL_SIZE && ctx.entropy) {
        const int got = ctx.entropy(ctx.rbuf + filled, PRNG_POOL_SIZE - filled);
        if (got <= 0)
            break;
        filled += static_cast<unsigned>(std::min(got, PRNG_POOL_SIZE - static_cast<int>(filled)));
    }
    for (int i = 0; i < PRNG_POOL_SIZE; ++i)
        ctx.rbuf[i] ^= static_cast<std::uint8_t>(~ctx.obuf[i]);
    prng_mix(ctx.rbuf);
    prng_mix(ctx.obuf);
}

}  // namespace

void prng_init(TEntropyFunction entropy, prng_ctx& ctx)
{
    ctx = prng_ctx{};
    ctx.entropy = entropy;
    update_pool(ctx);
    for (int i = 0; i < 20; ++i)
        prng_mix(ctx.rbuf);
    update_pool(ctx);
    ctx.pos = 0;
}

void prng_rand(std::uint8_t* data, unsigned count, prng_ctx& ctx)
{
    while (count > 0) {
        if (ctx.pos >= PRNG_POOL_SIZE) {
            update_pool(ctx);
            ctx.pos = 0;
        }
        const unsigned take = std::min(count, PRNG_POOL_SIZE - ctx.pos);
        std::memcpy(data, ctx.obuf + ctx.pos, take);
        data += take;
        count -= take;
        ctx.pos += take;
    }
}

void prng_end(prng_ctx& ctx)
{
    // Nothing of the pool stays behind.
    volatile std::uint8_t* p = reinterpret_cast<volatile std::uint8_t*>(&ctx);
    for (std::size_t i = 0; i < sizeof ctx; ++i)
        p[i] = 0;
}

int SystemEntropy(std::uint8_t* buffer, unsigned length)
{
    return SystemRandomBytes(buffer, length) ? static_cast<int>(length) : 0;
}

void SetSaltEntropy(TEntropyFunction entropy) { g_saltEntropy = entropy ? entropy : SystemEntropy; }

void RandomSaltBytes(std::uint8_t* data, unsigned count)
{
    prng_ctx ctx;
    prng_init(g_saltEntropy, ctx);
    prng_rand(data, count, ctx);
    prng_end(ctx);
}

// ---- TzadAES ------------------------------------------------------------------------------

namespace {

TStream32* g_aesIn = nullptr;
TStream32* g_aesOut = nullptr;
fcrypt_ctx g_ctx;

}  // namespace

TzadAES::TzadAES(TStream32* inStream, TStream32* outStream)
{
    g_aesIn = inStream;
    g_aesOut = outStream;
}

TzadAES::~TzadAES()
{
    g_ctx = fcrypt_ctx{};
}

void SetAesInputStream(TStream32* stream) { g_aesIn = stream; }

bool TzadAES::zadDecryptInit(const std::string& password, WORD mode, BYTE& headerLength)
{
    headerLength = 0;
    m_tooLong = false;
    if (!g_aesIn || mode < 1 || mode > 3)
        return false;
    g_ctx = fcrypt_ctx{};
    const int saltLen = SALT_LENGTH(mode);
    std::uint8_t salt[16] = {};
    std::uint8_t stored[2] = {};
    std::uint8_t computed[2] = {};
    const std::int64_t start = g_aesIn->Position();
    const std::int32_t gotSalt = g_aesIn->Read(salt, saltLen);
    headerLength = static_cast<BYTE>(saltLen);
    if (gotSalt != saltLen)
        return false;
    if (fcrypt_init(mode, password.data(), static_cast<unsigned>(password.size()), salt, computed, g_ctx) != 0) {
        // A password over 128 bytes can never be used.
        m_tooLong = true;
        g_aesIn->Seek(start, soBeginning);
        return false;
    }
    const std::int32_t gotVer = g_aesIn->Read(stored, 2);
    headerLength = static_cast<BYTE>(headerLength + 2);
    if (gotVer == 2 && stored[0] == computed[0] && stored[1] == computed[1] && !password.empty()) {
        headerLength = static_cast<BYTE>(headerLength + MAC_LENGTH(mode));
        return true;
    }
    g_aesIn->Seek(start, soBeginning);
    return false;
}

void TzadAES::zadDecryptBuf(void* buf, std::int32_t count) { ::zadDecryptBuf(buf, count); }

bool TzadAES::zadDecryptEnd()
{
    std::uint8_t computed[10];
    fcrypt_end(computed, g_ctx);
    std::uint8_t stored[10] = {};
    const std::int32_t got = g_aesIn ? g_aesIn->Read(stored, 10) : 0;
    return got == 10 && std::memcmp(stored, computed, 10) == 0;
}

void TzadAES::zadEncryptInit(const std::string& password, WORD mode)
{
    m_password = password;
    m_mode = mode;
    g_ctx = fcrypt_ctx{};
    std::uint8_t salt[16] = {};
    RandomSaltBytes(salt, static_cast<unsigned>(SALT_LENGTH(mode)));
    std::uint8_t ver[2] = {};
    fcrypt_init(mode, password.data(), static_cast<unsigned>(password.size()), salt, ver, g_ctx);
    if (g_aesOut) {
        g_aesOut->WriteBuffer(salt, SALT_LENGTH(mode));
        g_aesOut->WriteBuffer(ver, 2);
    }
}

void TzadAES::zadEncryptReinitialize()
{
    if (g_aesOut)
        g_aesOut->Seek(-(SALT_LENGTH(m_mode) + PWD_VER_LENGTH), soCurrent);
    zadEncryptInit(m_password, m_mode);
}

void TzadAES::zadEncryptStream(std::int64_t count)
{
    std::vector<std::uint8_t> buf(32768);
    while (count > 0 && g_aesIn && g_aesOut) {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(buf.size())));
        const std::int64_t got = g_aesIn->Read(buf.data(), want);
        if (got <= 0)
            break;
        ::zadEncryptBuf(buf.data(), static_cast<std::int32_t>(got));
        g_aesOut->WriteBuffer(buf.data(), got);
        count -= want;
    }
}

void TzadAES::zadDecryptStream(std::int64_t count)
{
    std::vector<std::uint8_t> buf(32768);
    while (count > 0 && g_aesIn && g_aesOut) {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(count, static_cast<std::int64_t>(buf.size())));
        const std::int64_t got = g_aesIn->Read(buf.data(), want);
        if (got <= 0)
            break;
        ::zadDecryptBuf(buf.data(), static_cast<std::int32_t>(got));
        g_aesOut->WriteBuffer(buf.data(), got);
        count -= want;
    }
}

void TzadAES::zadEncryptBuf(void* buf, std::int32_t count) { ::zadEncryptBuf(buf, count); }

void TzadAES::zadEncryptEnd()
{
    std::uint8_t mac[10];
    fcrypt_end(mac, g_ctx);
    if (g_aesOut)
        g_aesOut->WriteBuffer(mac, 10);
}

void zadDecryptBuf(void* buf, std::int32_t count)
{
    if (count > 0)
        fcrypt_decrypt(static_cast<std::uint8_t*>(buf), static_cast<std::size_t>(count), g_ctx);
}

void zadEncryptBuf(void* buf, std::int32_t count)
{
    if (count > 0)
        fcrypt_encrypt(static_cast<std::uint8_t*>(buf), static_cast<std::size_t>(count), g_ctx);
}
