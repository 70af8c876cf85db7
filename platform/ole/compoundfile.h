// A reader of compound files (structured storage): the container of the
// binary word-processor, spreadsheet and presentation documents, in which
// a file holds a small file system of named streams. Only reading, and only
// what the office-document viewer asks: the names of the root storage's
// streams and the first bytes of one of them.
//
// Every number read from the file is checked before it is used: sector
// numbers against the file's size, chains against loops, the directory
// against a cap on its entries. A file that fails a check is damaged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TCompoundFile {
public:
    // Reads up to n bytes at a position; answers the bytes read.
    using TReadAt = std::function<std::size_t(std::uint64_t pos, void* buffer, std::size_t n)>;

    // The compound file's signature, the first eight bytes of every one.
    static bool HasSignature(const std::uint8_t* bytes, std::size_t size);

    // Reads the header, the allocation table's index and the directory;
    // nullopt when the file is no compound file or is damaged.
    static std::optional<TCompoundFile> Open(TReadAt read, std::uint64_t fileSize);

    // The names of the streams and storages directly in the root storage.
    std::vector<std::string> RootNames() const;
    bool HasRootEntry(const std::string& name) const;
    // The first bytes (at most n) of a stream of the root storage; nullopt
    // when there is no such stream or its chain of sectors is damaged.
    std::optional<std::string> ReadRootStream(const std::string& name, std::size_t n) const;

private:
    struct Entry {
        std::string name;  // ASCII names only; other characters as '?'
        std::uint8_t type = 0;
        std::uint32_t left = 0, right = 0, child = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };
    TCompoundFile() = default;
    bool ReadHeader();
    bool ReadDirectory();
    bool CollectRoot();
    std::optional<std::uint32_t> NextSector(std::uint32_t sector) const;
    std::optional<std::uint32_t> NextMiniSector(std::uint32_t sector) const;
    // The sector at a place (counted from 0) of a chain.
    std::optional<std::uint32_t> ChainSectorAt(std::uint32_t start, std::uint64_t index) const;
    std::optional<std::string> ReadChain(std::uint32_t start, std::size_t n) const;
    std::optional<std::string> ReadMiniChain(std::uint32_t start, std::size_t n) const;
    bool ReadSectorBytes(std::uint32_t sector, std::uint32_t offset, void* buffer, std::size_t n) const;
    std::uint64_t SectorCount() const;

    TReadAt m_read;
    std::uint64_t m_fileSize = 0;
    std::uint32_t m_sectorShift = 9;
    std::uint32_t m_miniSectorShift = 6;
    std::uint32_t m_miniCutoff = 4096;
    std::uint32_t m_firstDirectory = 0;
    std::uint32_t m_firstMiniFat = 0;
    std::uint32_t m_miniFatSectors = 0;
    std::vector<std::uint32_t> m_fatSectors;  // where each sector of the allocation table lies
    std::vector<Entry> m_entries;
    std::vector<std::uint32_t> m_root;        // indexes of the root's children
};

// What the office-document viewer learns from a document's first bytes and,
// for a compound file, from its streams.
enum class TOfficeFileKind {
    Convertible,      // a document the converter may read
    PasswordLocked,   // encrypted: it opens only with its password
    Damaged,          // a compound file that does not hold together, or bytes of no document
};

TOfficeFileKind ClassifyOfficeFile(TCompoundFile::TReadAt read, std::uint64_t fileSize);
