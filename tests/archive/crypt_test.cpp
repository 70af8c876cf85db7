// The traditional ZIP cipher against archives encrypted by zip with the
// password "secret", the key sets, and the library's coded ZIP headers.
#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zadheaders.h"
#include "archive/zadstreams.h"
#include "lister_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct LocalEntry {
    TLocal h;
    std::string header12;  // the encryption header as stored
    std::string data;      // the encrypted data after it
};

LocalEntry FirstEntry(const std::string& zip)
{
    LocalEntry e;
    e.h = TLocal::Parse(reinterpret_cast<const std::uint8_t*>(zip.data()));
    const size_t at = TLocal::kSize + e.h.NameLength + e.h.ExtraLength;
    e.header12 = zip.substr(at, 12);
    e.data = zip.substr(at + 12, e.h.PackedSize - 12);
    return e;
}

}  // namespace

TEST(TraditionalCipher, DecryptsWhatZipEncrypted)
{
    const LocalEntry e = FirstEntry(ReadFixture("encrypted-stored.zip"));
    ASSERT_TRUE(e.h.Flags & 1);
    std::uint8_t header[24] = {};
    std::memcpy(header + 12, e.header12.data(), 12);
    ASSERT_TRUE(decrypt_pw(header, e.h.Flags, e.h.Crc, static_cast<std::int32_t>(e.h.DosDateTime), "secret"));
    std::string plain = e.data;
    zadDecodeBuf(false, plain.data(), plain.size());
    EXPECT_EQ(plain, "Hello, archive!\n");
    EXPECT_EQ(Crc32_buf(plain.data(), plain.size(), CRC_MASK) ^ CRC_MASK, e.h.Crc);
    // The encrypted copy stays in bytes 12..23, so another password can be tried.
    EXPECT_FALSE(decrypt_pw(header, e.h.Flags, e.h.Crc, static_cast<std::int32_t>(e.h.DosDateTime), "Secret"));
    EXPECT_TRUE(decrypt_pw(header, e.h.Flags, e.h.Crc, static_cast<std::int32_t>(e.h.DosDateTime), "secret"));
    EXPECT_FALSE(decrypt_pw(header, e.h.Flags, e.h.Crc, 0, ""));
}

TEST(TraditionalCipher, DeflatedEntryPasswordCheck)
{
    const LocalEntry e = FirstEntry(ReadFixture("encrypted.zip"));
    std::uint8_t header[24] = {};
    std::memcpy(header + 12, e.header12.data(), 12);
    EXPECT_TRUE(decrypt_pw(header, e.h.Flags, e.h.Crc, static_cast<std::int32_t>(e.h.DosDateTime), "secret"));
}

TEST(TraditionalCipher, DataDescriptorEntriesCheckTheTime)
{
    const std::string crcCheck = zadEncryptHead("pw", 0, 0xAB000000u);
    std::uint8_t header[24] = {};
    std::memcpy(header + 12, crcCheck.data(), 12);
    EXPECT_TRUE(decrypt_pw(header, 0, 0xAB000000u, 0, "pw"));
    // With flag bit 3 the check byte is the DOS time's high byte, even with a CRC stored.
    EXPECT_FALSE(decrypt_pw(header, 0x0008, 0xAB000000u, 0x00001200, "pw"));
    EXPECT_TRUE(decrypt_pw(header, 0x0008, 0x12345678u, 0x0000AB00, "pw"));
}

TEST(TraditionalCipher, HeaderWrittenByTheLibraryRoundTrips)
{
    const std::string head = zadEncryptHead("pass", 0, 0x11223344u);
    std::string data = "payload";
    zadEncodeBuf(false, data.data(), data.size());
    std::uint8_t header[24] = {};
    std::memcpy(header + 12, head.data(), 12);
    ASSERT_TRUE(decrypt_pw(header, 0, 0x11223344u, 0, "pass"));
    zadDecodeBuf(false, data.data(), data.size());
    EXPECT_EQ(data, "payload");
}

TEST(SeedKeys, KeySetsAndTheirDefaults)
{
    seed_keys("");
    EXPECT_EQ(WorkingDataKeys, StartingDataKeys);
    EXPECT_EQ(StartingDataKeys, DEFAULT_DATA_KEYS);
    // A long password feeds every character.
    seed_keys(std::string(299, 'x'));
    const TSeedKeyRecord k299 = WorkingDataKeys;
    seed_keys(std::string(300, 'x'));
    EXPECT_NE(WorkingDataKeys, k299);
    StartingHeadKeys = TSeedKeyRecord{1, 2, 3};
    {
        TSeedKeys data(skDataKeys);
        EXPECT_EQ(StartingHeadKeys, (TSeedKeyRecord{1, 2, 3}));  // data keys leave the header set alone
        TSeedKeys head(skHeaderKeys);
        EXPECT_EQ(StartingHeadKeys, DEFAULT_HEAD_KEYS);
        EXPECT_EQ(WorkingHeadKeys, DEFAULT_HEAD_KEYS);
        head.SetKey1(77);
        EXPECT_EQ(WorkingHeadKeys.Key1, 77u);
        EXPECT_EQ(StartingHeadKeys.Key1, DEFAULT_HEAD_KEYS.Key1);
        std::uint8_t buf[TCentral::kSize] = {0x50, 0x4C, 0x01, 0x02};
        DecodeHeader(buf, htCentral);  // restarts from the starting triple
        head.SetKeys("5", "6", "7");
        EXPECT_EQ(StartingHeadKeys, (TSeedKeyRecord{5, 6, 7}));
        EXPECT_THROW(head.SetKeys("5", "x", "7"), EConvertError);
        EXPECT_EQ(head.GetDefaultKeyValue(2), 730154862u);
        head.SetDefaultKeys();
    }
    EXPECT_EQ(StartingHeadKeys, DEFAULT_HEAD_KEYS);
}

TEST(ZipSignatures, VariantsAndDefaults)
{
    bool enc = true;
    EXPECT_EQ(VerSig(0x04034D50, htLocal, enc), htLocal);
    EXPECT_FALSE(enc);
    EXPECT_EQ(VerSig(0x02014E50, htCentral, enc), htCentral);
    EXPECT_TRUE(enc);
    EXPECT_EQ(VerSig(0x06055C50, htEnding, enc), htEnding);
    EXPECT_TRUE(enc);
    EXPECT_EQ(VerSig(0x04034F50, htLocal, enc), htNone);
    EXPECT_EQ(VerSig(0x04034B50, htCentral, enc), htNone);
    EXPECT_EQ(DefSig(htEnding, true), 0x06054B50u);
    EXPECT_EQ(DefSig(htLocal, true), 0x04034C50u);
    EXPECT_TRUE(IsHeaderEncrypted(0x02014E50));
    EXPECT_FALSE(IsZipCompatible(0x04034D50));
    EXPECT_TRUE(is64BitEndingHdr(0x06055B50));
}

TEST(ZipExtraFields, Zip64HighWordsAndAes)
{
    // 0x0000123456789ABC: the header field gets 0x56789ABC, the high word 0x1234.
    const std::uint8_t zip64[] = {0x01, 0x00, 0x08, 0x00, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00};
    std::uint32_t packed = 100, unpacked = 0xFFFFFFFF;
    TCentral64Hdr h;
    TAesHeader aes;
    std::vector<std::uint8_t> strong;
    ParseExtraField(zip64, sizeof zip64, htLocal, {&packed, &unpacked, nullptr}, h, aes, strong);
    EXPECT_EQ(unpacked, 0x56789ABCu);
    EXPECT_EQ(h.HighUnpacked, 0x1234);
    EXPECT_EQ(packed, 100u);  // not 0xFFFFFFFF: only the uncompressed size was there
    const std::uint8_t aesField[] = {0x01, 0x99, 0x07, 0x00, 0x02, 0x00, 'A', 'E', 0x03, 0x08, 0x00};
    ParseExtraField(aesField, sizeof aesField, htCentral, {}, h, aes, strong);
    EXPECT_EQ(aes.Id, 0x9901);
    EXPECT_EQ(aes.Strength, 3);
    EXPECT_EQ(aes.Method, 8);
    const std::uint8_t shortAes[] = {0x01, 0x99, 0x03, 0x00, 0x02, 0x00, 'A'};
    ParseExtraField(shortAes, sizeof shortAes, htCentral, {}, h, aes, strong);
    EXPECT_EQ(aes.Id, 0);  // too small to be the record
}

TEST(CodedHeaders, ListerReadsTheLibrarysEncryptedHeaders)
{
    // A stored archive whose central header and name are coded with the
    // header keys ("PL" signature).
    std::string zip = ReadFixture("stored.zip");
    size_t cd = zip.find(std::string("PK\x01\x02", 4));
    while (cd != std::string::npos) {
        auto* p = reinterpret_cast<std::uint8_t*>(&zip[cd]);
        const TCentral c = TCentral::Parse(p);
        p[1] = 0x4C;
        EncodeHeader(p, htCentral);
        EncodeFilename(p + TCentral::kSize, c.NameLength);
        cd = zip.find(std::string("PK\x01\x02", 4), cd + TCentral::kSize);
    }
    TempDir dir;
    dir.Write("coded.zip", zip);
    const Listing l = ListFile(dir.Path("coded.zip"));
    EXPECT_TRUE(l.result);
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_EQ(l.entries[0].name, "hello.txt");
    EXPECT_EQ(l.entries[1].name, "docs/notes.txt");
    EXPECT_EQ(l.entries[1].unpacked, 23);
}

TEST(TraditionalCipher, BufferAndStreamWrappers)
{
    const std::string plain = "wrapped data";
    std::string enc(plain.size() + 12, '\0');
    const std::uint32_t crc = EncryptBuffer(plain.data(), enc.data(), static_cast<std::int32_t>(plain.size()), "k", true);
    EXPECT_EQ(crc, Crc32_buf(plain.data(), plain.size(), CRC_MASK) ^ CRC_MASK);
    EXPECT_EQ(EncryptBuffer(plain.data(), enc.data(), 4, "", true), 0xFFFFFFFFu);
    TMemoryStream32 in, out;
    in.WriteBuffer(enc.data(), static_cast<std::int64_t>(enc.size()));
    in.SetPosition(0);
    EXPECT_TRUE(zadDecryptStreamCRC(&in, &out, "k", crc));
    EXPECT_EQ(std::string(static_cast<char*>(out.Memory()), static_cast<size_t>(out.Size())), plain);
}

TEST(ZipExtraFields, ReadFromAStreamIntoTheComponentsHeader)
{
    TZipCommon c;
    c.Central.UnpackedSize = 0xFFFFFFFF;
    c.Central.PackedSize = 0xFFFFFFFF;
    c.Central.RelativeOffset = 7;
    const std::uint8_t field[] = {0x01, 0x00, 0x10, 0x00, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    TMemoryStream32 m;
    m.WriteBuffer(field, sizeof field);
    m.SetPosition(0);
    TCentral64Hdr h;
    EXPECT_TRUE(c.ReadExtraFieldHeader(&m, sizeof field, h, htCentral));
    EXPECT_EQ(c.Central.UnpackedSize, 1u);
    EXPECT_EQ(h.HighUnpacked, 2);
    EXPECT_EQ(c.Central.PackedSize, 2u);
    EXPECT_EQ(h.HighPacked, 3);
    EXPECT_EQ(c.Central.RelativeOffset, 7u);  // not 0xFFFFFFFF: no offset in the field
    m.SetPosition(0);
    EXPECT_FALSE(c.ReadExtraFieldHeader(&m, 200, h, htCentral));  // the stream ends first
}
