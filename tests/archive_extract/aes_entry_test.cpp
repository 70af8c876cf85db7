// AES entries as the compressor side writes them: salts drawn from the
// random pool over the system's random source, the store stream's
// encryption (an archive 7z accepts), a restarted entry, and the stream
// forms of encryption and decryption.
#include "../archive/zip_writer.h"
#include "extract_support.h"

#include "archive/zadaes.h"
#include "archive/zadcrypt.h"
#include "archive/zadstreams.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

std::string Contents(TMemoryStream32& s)
{
    return std::string(static_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

void Put(TMemoryStream32& s, const std::string& text)
{
    s.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
    s.SetPosition(0);
}

// An entropy function that always gives the same bytes.
int SameEntropy(std::uint8_t* buffer, unsigned length)
{
    for (unsigned i = 0; i < length; ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return static_cast<int>(length);
}
int CountingEntropy(std::uint8_t* buffer, unsigned length)
{
    static unsigned next = 0;
    for (unsigned i = 0; i < length; ++i)
        buffer[i] = static_cast<std::uint8_t>(next++);
    return static_cast<int>(length);
}

// Salt, verifier, data and code of one AES-256 entry, encrypted by the
// store stream.
std::string StoredAesEntry(const std::string& data, const std::string& password)
{
    TMemoryStream32 src, packed;
    Put(src, data);
    TzadAES aes(&src, &packed);
    aes.zadEncryptInit(password, 3);
    zad_stream_plus plus;
    plus.Flags = 3 << 8;
    TStoreStream store(&packed, 32, plus);
    store.CopyStream(&src);
    aes.zadEncryptEnd();
    return Contents(packed);
}

// The AES field: AE-2, vendor "AE", strength 3, the real method stored.
const std::string kAesField("\x01\x99\x07\x00\x02\x00" "AE" "\x03\x00\x00", 11);

}  // namespace

TEST(AesEntry, ThePoolIsAFunctionOfItsEntropy)
{
    // Two pools over the same entropy give the same bytes, which are not
    // the entropy's; the pool refills past its 260 bytes.
    std::array<std::uint8_t, 600> a{}, b{}, raw{};
    prng_ctx x, y;
    prng_init(SameEntropy, x);
    prng_init(SameEntropy, y);
    prng_rand(a.data(), 600, x);
    prng_rand(b.data(), 600, y);
    EXPECT_EQ(a, b);
    SameEntropy(raw.data(), 600);
    EXPECT_NE(a, raw);
    EXPECT_NE(std::memcmp(a.data(), a.data() + 260, 260), 0);
    prng_end(x);
    EXPECT_TRUE(std::all_of(x.obuf, x.obuf + PRNG_POOL_SIZE, [](std::uint8_t c) { return c == 0; }));
    // Other entropy, other bytes.
    prng_ctx z;
    prng_init(CountingEntropy, z);
    prng_rand(b.data(), 600, z);
    EXPECT_NE(a, b);
    prng_end(y);
    prng_end(z);
}

TEST(AesEntry, SaltsAndCipherHeadersComeFromThePool)
{
    // Over fixed entropy two entries share their salt: the salt is the
    // pool's and nothing else's.
    SetSaltEntropy(SameEntropy);
    const std::string fixed1 = StoredAesEntry("data", "Secret1");
    const std::string fixed2 = StoredAesEntry("data", "Secret1");
    EXPECT_EQ(fixed1.substr(0, 16), fixed2.substr(0, 16));
    const std::string head1 = zadEncryptHead("Secret1", 0, 0x12345678);
    const std::string head2 = zadEncryptHead("Secret1", 0, 0x12345678);
    EXPECT_EQ(head1, head2);
    // Over the system's random source, one password gives other salts and
    // other cipher headers every time.
    SetSaltEntropy(nullptr);
    const std::string one = StoredAesEntry("data", "Secret1");
    const std::string two = StoredAesEntry("data", "Secret1");
    EXPECT_NE(one.substr(0, 16), two.substr(0, 16));
    EXPECT_NE(one.substr(16), two.substr(16));  // so the key streams differ too
    EXPECT_NE(zadEncryptHead("Secret1", 0, 0x12345678).substr(0, 10), zadEncryptHead("Secret1", 0, 0x12345678).substr(0, 10));
}

TEST(AesEntry, TheStoreStreamWritesAnEntryPeersAccept)
{
    std::string data;
    for (int i = 0; i < 5000; ++i)
        data += "line " + std::to_string(i) + " of the stored secret\n";
    zipwriter::Archive a;
    zipwriter::Entry& e = a.Add("secret.txt", data, 99);
    e.flags = 1;
    e.packed = StoredAesEntry(data, "Secret1");
    e.crcClaim = 0;  // AE-2: the code stands for the CRC
    e.extra = kAesField;
    TempDir work;
    work.Write("aes.zip", a.Build());
    if (std::system("command -v 7z > /dev/null 2>&1") == 0) {
        EXPECT_EQ(std::system(("7z t -pSecret1 '" + work.Path("aes.zip") + "' > /dev/null 2>&1").c_str()), 0);
        EXPECT_NE(std::system(("7z t -pWrong '" + work.Path("aes.zip") + "' > /dev/null 2>&1").c_str()), 0);
    }
    // And the library's own extractor reads it back.
    TempDir out;
    TUnZip z;
    ExtractLog log;
    Attach(z, log);
    Prepare(z, work.Path("aes.zip"), out.Root());
    z.Password = "Secret1";
    EXPECT_EQ(z.Extract(), 1);
    EXPECT_TRUE(TreeOf(out.Root()) == (std::map<std::string, std::string>{{"secret.txt", data}}));
}

TEST(AesEntry, ARestartedEntryKeepsOneFreshSaltAndTheStreamFormsRoundTrip)
{
    const std::string data(70000, 'q');
    TMemoryStream32 src, packed;
    Put(src, data);
    TzadAES aes(&src, &packed);
    aes.zadEncryptInit("Secret1", 1);
    const std::string firstSalt = Contents(packed).substr(0, 8);
    aes.zadEncryptReinitialize();
    ASSERT_EQ(packed.Size(), 8 + 2);
    EXPECT_NE(Contents(packed).substr(0, 8), firstSalt);
    aes.zadEncryptStream(static_cast<std::int64_t>(data.size()));  // more than one 32 KB block
    aes.zadEncryptEnd();
    ASSERT_EQ(packed.Size(), static_cast<std::int64_t>(8 + 2 + data.size() + 10));

    packed.SetPosition(0);
    TMemoryStream32 plain;
    TzadAES back(&packed, &plain);
    BYTE header = 0;
    ASSERT_TRUE(back.zadDecryptInit("Secret1", 1, header));
    back.zadDecryptStream(static_cast<std::int64_t>(data.size()));
    EXPECT_TRUE(back.zadDecryptEnd());
    EXPECT_TRUE(Contents(plain) == data);
}
