#include "zadcrypt.h"

#include "zadcrc.h"
#include "archive/zadaes.h"

#include <chrono>
#include <cstring>
#include <random>
#include <stdexcept>

TSeedKeyRecord StartingDataKeys = DEFAULT_DATA_KEYS;
TSeedKeyRecord WorkingDataKeys = DEFAULT_DATA_KEYS;
TSeedKeyRecord StartingHeadKeys = DEFAULT_HEAD_KEYS;
TSeedKeyRecord WorkingHeadKeys = DEFAULT_HEAD_KEYS;
std::uint8_t PasswordIdBlock[16] = {0x42, 0x48, 0x05, 0x07};

namespace {

TSeedKeyRecord& Keys(bool header) { return header ? WorkingHeadKeys : WorkingDataKeys; }

void PutLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

void vKey()
{
    PutLe32(PasswordIdBlock + 4, WorkingDataKeys.Key0);
    PutLe32(PasswordIdBlock + 8, WorkingDataKeys.Key1);
    PutLe32(PasswordIdBlock + 12, WorkingDataKeys.Key2);
}

void update_keys(bool header, std::uint8_t c)
{
    TSeedKeyRecord& k = Keys(header);
    k.Key0 = Crc32Table[(k.Key0 ^ c) & 0xFF] ^ (k.Key0 >> 8);
    k.Key1 = (k.Key1 + (k.Key0 & 0xFF)) * 134775813u + 1;
    k.Key2 = Crc32Table[(k.Key2 ^ (k.Key1 >> 24)) & 0xFF] ^ (k.Key2 >> 8);
}

std::uint8_t KeyByte(bool header)
{
    const std::uint32_t t = (Keys(header).Key2 & 0xFFFF) | 2;
    return static_cast<std::uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

int seed_keys(const std::string& password)
{
    WorkingDataKeys = StartingDataKeys;
    for (unsigned char c : password)
        update_keys(false, c);
    vKey();
    return 0;
}

std::uint8_t zadDecryptByte() { return KeyByte(false); }

void zadDecodeBuf(bool header, void* buf, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buf);
    for (std::size_t i = 0; i < count; ++i) {
        p[i] ^= KeyByte(header);
        update_keys(header, p[i]);
    }
}

void zadEncodeBuf(bool header, void* buf, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buf);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t k = KeyByte(header);
        update_keys(header, p[i]);
        p[i] ^= k;
    }
}

void zadDecodeByte(std::uint8_t& b) { zadDecodeBuf(false, &b, 1); }

std::uint8_t zadEncodeByte(std::uint8_t b)
{
    zadEncodeBuf(false, &b, 1);
    return b;
}

std::string zadEncryptHead(const std::string& password, int, std::uint32_t crc)
{
    seed_keys(password);
    // The ten filler bytes come from the random pool of the salts: a
    // header repeated under one password would repeat the key stream.
    std::uint8_t filler[10];
    RandomSaltBytes(filler, sizeof filler);
    std::string head(12, '\0');
    for (int i = 0; i < 10; ++i)
        head[i] = static_cast<char>(zadEncodeByte(filler[i]));
    head[10] = static_cast<char>(zadEncodeByte(static_cast<std::uint8_t>((crc >> 16) & 0xFF)));
    head[11] = static_cast<char>(zadEncodeByte(static_cast<std::uint8_t>(crc >> 24)));
    return head;
}

bool decrypt_pw(std::uint8_t* header, std::uint16_t flags, std::uint32_t crc, std::int32_t dosDateTime,
                const std::string& password)
{
    if (password.empty())
        return false;
    seed_keys(password);
    for (int i = 0; i < 12; ++i) {
        header[i] = header[12 + i];
        zadDecodeByte(header[i]);
    }
    const std::uint8_t check = (flags & 0x0008) ? static_cast<std::uint8_t>((static_cast<std::uint32_t>(dosDateTime) >> 8) & 0xFF)
                                                : static_cast<std::uint8_t>(crc >> 24);
    return header[11] == check;
}

TSeedKeys::TSeedKeys(TSeedKeyType keyType) : m_keyType(keyType) { SetDefaultKeys(); }

TSeedKeyRecord& TSeedKeys::Working() const { return m_keyType == skHeaderKeys ? WorkingHeadKeys : WorkingDataKeys; }
TSeedKeyRecord& TSeedKeys::Starting() const { return m_keyType == skHeaderKeys ? StartingHeadKeys : StartingDataKeys; }

void TSeedKeys::SetKeys(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2)
{
    Starting() = TSeedKeyRecord{k0, k1, k2};
    Working() = Starting();
}

void TSeedKeys::SetKeys(const std::string& k0, const std::string& k1, const std::string& k2)
{
    auto conv = [](const std::string& s) -> std::uint32_t {
        const std::string t = Trim(s);
        if (t.empty() || t.find_first_not_of("0123456789") != std::string::npos || t.size() > 10)
            throw EConvertError("'" + s + "' is not a valid integer value");
        const unsigned long long v = std::stoull(t);
        if (v > 0xFFFFFFFFull)
            throw EConvertError("'" + s + "' is not a valid integer value");
        return static_cast<std::uint32_t>(v);
    };
    SetKeys(conv(k0), conv(k1), conv(k2));
}

void TSeedKeys::SetDefaultKeys()
{
    Starting() = m_keyType == skHeaderKeys ? DEFAULT_HEAD_KEYS : DEFAULT_DATA_KEYS;
    Working() = Starting();
}

std::uint32_t TSeedKeys::GetDefaultKeyValue(int index) const
{
    const TSeedKeyRecord& d = m_keyType == skHeaderKeys ? DEFAULT_HEAD_KEYS : DEFAULT_DATA_KEYS;
    return index == 0 ? d.Key0 : index == 1 ? d.Key1 : d.Key2;
}

std::uint32_t TSeedKeys::GetKeyValue(int index) const
{
    const TSeedKeyRecord& w = Working();
    return index == 0 ? w.Key0 : index == 1 ? w.Key1 : w.Key2;
}

void TSeedKeys::SetKeyValue(int index, std::uint32_t value)
{
    TSeedKeyRecord& w = Working();
    (index == 0 ? w.Key0 : index == 1 ? w.Key1 : w.Key2) = value;
}
