// Our payload inside item identifiers (private to the namespace backend).
//
// Every item we make has this layout after its 16-bit byte count:
//
//   offset  size  field
//   0       1     signature  0x56 ('V'), so that foreign items are refused
//   1       1     kind       ItemKind below
//   2       1     flags      ItemFlags below
//   3       1     reserved   0
//   4       8     size       file size in bytes (little-endian, 0 for folders)
//   12      8     mtime      modification time, nanoseconds since 1970 (LE, signed)
//   20      n     name       raw bytes of the name, no terminator (any byte but NUL)
//
// For kComputer the name is empty; for kDrive and kRootItem it is the absolute
// path of the mount point or folder; for kFile it is the name inside its folder.
#pragma once

#include "shlobj.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shellns {

constexpr BYTE kSignature = 0x56;
constexpr size_t kHeaderSize = 2 + 20;

enum ItemKind : BYTE {
    kComputer = 1,  // "Computer", child of the desktop
    kDrive = 2,     // a mounted file system, child of Computer
    kRootItem = 3,  // the home folder or an item of the XDG desktop folder, child of the desktop
    kFile = 4,      // a file or folder inside a file-system folder
};

enum ItemFlags : BYTE {
    kFolder = 0x01,      // a folder, or a link to one
    kLink = 0x02,        // a symbolic link
    kHidden = 0x04,      // a dot-name
    kHome = 0x08,        // the root item is the home folder
    kReadOnly = 0x10,    // the owner may not write it
    kBrokenLink = 0x20,  // a link whose target is missing
};

struct Item {
    ItemKind kind = kFile;
    BYTE flags = 0;
    std::uint64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::string_view name;
};

// Decodes one item; false for an item that is not ours or is damaged.
bool DecodeItem(const BYTE* p, Item& out);
// Appends one encoded item (without terminator) to the buffer; false when the
// name does not fit into one item.
bool EncodeItem(std::vector<BYTE>& buffer, ItemKind kind, BYTE flags, std::uint64_t size, std::int64_t mtimeNs,
                std::string_view name);
// A list allocated with the shell allocator from encoded items (adds the terminator).
LPITEMIDLIST MakeList(const std::vector<BYTE>& items);
// The items of a list, decoded; false when any item is foreign or damaged.
bool DecodeList(LPCITEMIDLIST pidl, std::vector<Item>& items);

// Fills an item from the file system (lstat, and stat for links); false when
// the entry cannot be read.
bool StatItem(int dirFd, const char* name, const std::string& fullPath, BYTE& flags, std::uint64_t& size,
              std::int64_t& mtimeNs);

} // namespace shellns
