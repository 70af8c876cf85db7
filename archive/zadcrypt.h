// The traditional ZIP stream cipher (PKWARE's three 32-bit keys) with the
// library's two key sets: the data keys, which code entry data, and the
// header keys, which code the library's own encrypted ZIP headers, names and
// comments. Each set has a starting triple, from which every use starts
// again, and a working triple that the cipher advances. The triples are
// module-wide: one archive operation runs at a time in the process.
#pragma once

#include "rtl/classes.h"

#include <cstdint>
#include <string>

struct TSeedKeyRecord {
    std::uint32_t Key0 = 0;
    std::uint32_t Key1 = 0;
    std::uint32_t Key2 = 0;
    bool operator==(const TSeedKeyRecord&) const = default;
};

constexpr TSeedKeyRecord DEFAULT_DATA_KEYS{0x12345678u, 0x23456789u, 0x34567890u};
constexpr TSeedKeyRecord DEFAULT_HEAD_KEYS{418207395u, 47120936u, 730154862u};
constexpr TSeedKeyRecord DUMMY_KEYS{0, 0, 0};

extern TSeedKeyRecord StartingDataKeys;
extern TSeedKeyRecord WorkingDataKeys;
extern TSeedKeyRecord StartingHeadKeys;
extern TSeedKeyRecord WorkingHeadKeys;

// The password-identification block: the signature 42 48 05 07 and the data
// keys reached after the last password was fed in (refreshed by vKey).
extern std::uint8_t PasswordIdBlock[16];
void vKey();

// One key update of the chosen working triple (header true: header keys).
void update_keys(bool header, std::uint8_t plain);
// Restarts the data keys from StartingDataKeys and feeds the password in; 0.
int seed_keys(const std::string& password);
// The next key byte of the working data keys (the keys do not move).
std::uint8_t zadDecryptByte();
std::uint8_t KeyByte(bool header);
void zadDecodeBuf(bool header, void* buf, std::size_t count);
void zadEncodeBuf(bool header, void* buf, std::size_t count);
void zadDecodeByte(std::uint8_t& b);
std::uint8_t zadEncodeByte(std::uint8_t b);
// A new 12-byte encryption header for an entry with this CRC; leaves the data
// keys ready to encrypt the entry.
std::string zadEncryptHead(const std::string& password, int unused, std::uint32_t crc);
// header: 24 bytes; bytes 12..23 hold the 12 encrypted header bytes as read.
// Decrypts them into bytes 0..11 and checks the last against the CRC's (or,
// with a data descriptor, the DOS time's) high byte. The keys stand ready for
// the entry's data afterwards.
bool decrypt_pw(std::uint8_t* header, std::uint16_t flags, std::uint32_t crc, std::int32_t dosDateTime,
                const std::string& password);

enum TSeedKeyType { skDataKeys, skHeaderKeys };

// A published key triple of one set.
class TSeedKeys : public TObject {
public:
    explicit TSeedKeys(TSeedKeyType keyType);
    TSeedKeyType KeyType() const { return m_keyType; }
    void SetKeys(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2);
    // Each text converted as a decimal integer (EConvertError when it is none).
    void SetKeys(const std::string& k0, const std::string& k1, const std::string& k2);
    void SetDefaultKeys();
    std::uint32_t GetDefaultKeyValue(int index) const;
    std::uint32_t GetKeyValue(int index) const;
    void SetKeyValue(int index, std::uint32_t value);
    std::uint32_t Key0() const { return GetKeyValue(0); }
    std::uint32_t Key1() const { return GetKeyValue(1); }
    std::uint32_t Key2() const { return GetKeyValue(2); }
    void SetKey0(std::uint32_t v) { SetKeyValue(0, v); }
    void SetKey1(std::uint32_t v) { SetKeyValue(1, v); }
    void SetKey2(std::uint32_t v) { SetKeyValue(2, v); }

private:
    TSeedKeyRecord& Working() const;
    TSeedKeyRecord& Starting() const;
    TSeedKeyType m_keyType;
};
