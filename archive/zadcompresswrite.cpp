// Writing one new entry: the header buffer and the stored name, the WinZip
// AES extra field of an AES entry, then the file's data, deflated or
// stored and encrypted as the entry asks.
#include "archive/zadcompress.h"

#include "archive/zadaes.h"
#include "archive/zadcrc.h"
#include "archive/zadcrypt.h"
#include "archive/zaddeflate.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "kernel/kernel.h"
#include "rtl/sysutils.h"

#include <algorithm>

namespace {

// A file this small is deflated in memory first and stored when that gains
// nothing.
constexpr std::int64_t kSmallFile = 256;

bool IsAes(BYTE encryption) { return encryption >= emAES2_128 && encryption <= emAES2_256; }

// Codes a block of the entry's data in place with the cipher started for
// the entry.
void EncryptBlock(BYTE encryption, void* buf, std::size_t count)
{
    if (encryption == emZIP_v2)
        zadEncodeBuf(false, buf, count);
    else if (IsAes(encryption))
        zadEncryptBuf(buf, static_cast<std::int32_t>(count));
}

// The WinZip AES extra field: vendor version 2 (AE-2), vendor "AE", the key
// strength and the method the data really has.
void AesExtraField(BYTE strength, bool stored, std::uint8_t out[TCustomCClass::AesExtraSize])
{
    const std::uint8_t field[TCustomCClass::AesExtraSize] = {0x01, 0x99, 7, 0, 2, 0, 'A', 'E', strength,
                                                             static_cast<std::uint8_t>(stored ? 0 : 8), 0};
    std::copy(std::begin(field), std::end(field), out);
}

}  // namespace

bool TCustomCClass::StoreStream(TStream32* source, TStream32* dest, BYTE encryption)
{
    std::vector<std::uint8_t> buf(kZadTransferSize);
    std::uint32_t crc = CRC_MASK;
    for (;;) {
        if (Cancel())
            return false;
        const std::int64_t n = source->Read(buf.data(), static_cast<std::int64_t>(buf.size()));
        if (n <= 0)
            break;
        crc = CrcRegisterAdd(crc, buf.data(), static_cast<std::size_t>(n));
        EncryptBlock(encryption, buf.data(), static_cast<std::size_t>(n));
        dest->WriteBuffer(buf.data(), n);
        ProcessMessages();
    }
    Crc32Val = ~crc;
    return true;
}

bool TCustomCClass::DeflateStream(TStream32* source, TStream32* dest, BYTE encryption)
{
    std::uint32_t crc = 0;
    {
        TCompressStream deflater(dest, DeflateType, maxbits());
        deflater.EncryptMethod = encryption;
        deflater.CancelRef = CancelRef;
        source->SetPosition(0);
        deflater.CopyFrom(source, 0);
        crc = ~deflater.GetCrcValue();
    }  // freeing the deflater writes the end of the deflate data
    dest->Seek(0, soEnd);
    Crc32Val = crc;
    return !Cancel();
}

bool TCustomCClass::AddFileProc(TStream32* newArchive, int index, TCompressHeaderObj& list)
{
    const std::string name = list.Name(index);
    TCompressFileInfo& info = list.FileLocationData(index);
    std::uint8_t aesExtra[AesExtraSize] = {};
    // The header buffer, the name as PackFile set it (renamed or not, OEM
    // with '/' separators) and an AES entry's extra field.
    auto writeLead = [&] {
        const std::string stored = Utf8ToOem(Filename);
        newArchive->WriteBuffer(GetHeadPtr(), m_headSize);
        newArchive->WriteBuffer(stored.data(), static_cast<std::int64_t>(stored.size()));
        if (IsAes(EntryEncryption))
            newArchive->WriteBuffer(aesExtra, AesExtraSize);
    };
    const std::int64_t headerPos = newArchive->Size();
    newArchive->SetPosition(headerPos);
    EntryEncryption = 0;
    if (IsFolderName(name)) {
        if (!StoreEmptyDirs || !isDirEmpty(name))
            return false;
        Crc32Val = 0;
        EntryStored = true;
        FillHeaderData(0, 0);
        writeLead();
        WEI(newArchive);
        RefreshHeader(index, info.Attributes, list);
        return true;
    }
    const std::string ext = AnsiUpperCase(ExtractFileExt(name));
    bool store = DeflateType == dtDeflateS ||
                 (!ext.empty() && std::find(StoreFilesOfType.begin(), StoreFilesOfType.end(), ext) != StoreFilesOfType.end());
    TFileStream32 source(name, fmOpenRead | fmShareDenyWrite);
    if (!source.Valid()) {
        RaiseErrorStr(name, "", VolumeName, E_OPENERR);
        return false;
    }
    const std::int64_t unpacked = source.Size();
    // A small file is decided before anything is written, so that the
    // method the AES field names and the cipher's start need no second go.
    std::vector<std::uint8_t> small;
    if (!store && unpacked <= kSmallFile) {
        small.resize(static_cast<std::size_t>(unpacked));
        if (unpacked > 0)
            source.ReadBuffer(small.data(), unpacked);
        std::vector<std::uint8_t> packed;
        Crc32Val = ~zadCompress_BufToBuf(small.data(), unpacked, packed, DeflateType);
        store = packed.size() >= small.size();
        if (!store)
            small = std::move(packed);
    }
    // An empty file has nothing to hide.
    EntryEncryption = unpacked > 0 ? info.EncryptMethod : 0;
    EntryStored = store;
    AesExtraField(EntryEncryption, store, aesExtra);
    writeLead();
    Write64BitFieldHdr(newArchive, info, 0);
    WEI(newArchive);
    const std::int64_t dataStart = newArchive->Size();
    if (EntryEncryption == emZIP_v2) {
        // The header's check byte is the CRC's: it is known before the data.
        if (small.empty() && unpacked > 0) {
            zad_stream_plus plus;
            Crc32Val = CalcStreamCRC32(&source, 0, plus, CancelRef) ^ CRC_MASK;
            if (Cancel())
                return false;
        }
        const std::string head = zadEncryptHead(Password, 0, Crc32Val);
        newArchive->WriteBuffer(head.data(), static_cast<std::int64_t>(head.size()));
    }
    std::unique_ptr<TzadAES> aes;
    if (IsAes(EntryEncryption)) {
        aes = std::make_unique<TzadAES>(nullptr, newArchive);
        aes->zadEncryptInit(Password, EntryEncryption);  // the salt and the verifier
    }
    if (!small.empty() || unpacked == 0) {
        EncryptBlock(EntryEncryption, small.data(), small.size());
        newArchive->WriteBuffer(small.data(), static_cast<std::int64_t>(small.size()));
    } else {
        source.SetPosition(0);
        const bool written = store ? StoreStream(&source, newArchive, EntryEncryption)
                                   : DeflateStream(&source, newArchive, EntryEncryption);
        if (!written)
            return false;
    }
    if (aes) {
        newArchive->Seek(0, soEnd);
        aes->zadEncryptEnd();  // the authentication code
        Crc32Val = 0;          // AE-2: the code stands in for the CRC
    }
    FillHeaderData(newArchive->Size() - dataStart, unpacked);
    newArchive->SetPosition(headerPos);
    writeLead();
    info.RecordSize = static_cast<WORD>(std::min<std::int64_t>(newArchive->Size() - headerPos, 0xFFFF));
    Write64BitFieldHdr(newArchive, info, 0);
    newArchive->Seek(0, soEnd);
    return true;
}
