// The shell allocator, UTF-8/UTF-16 conversion of names, and item encoding.
#include "shlobj.h"
#include "shlpidl_p.h"

#include "rtl/unicode.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// Every block carries its size in front of it so that GetSize answers exactly.
constexpr size_t kBlockHeader = 16;

class ShellMalloc final : public IMalloc {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMalloc) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The allocator lives for the whole program; references are not counted.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    void* Alloc(SIZE_T cb) override
    {
        if (cb > SIZE_MAX - kBlockHeader)
            return nullptr;
        auto* block = static_cast<BYTE*>(std::malloc(cb + kBlockHeader));
        if (!block)
            return nullptr;
        std::memcpy(block, &cb, sizeof cb);
        return block + kBlockHeader;
    }
    void* Realloc(void* pv, SIZE_T cb) override
    {
        if (!pv)
            return nullptr;
        if (cb > SIZE_MAX - kBlockHeader)
            return nullptr;
        auto* block = static_cast<BYTE*>(std::realloc(static_cast<BYTE*>(pv) - kBlockHeader, cb + kBlockHeader));
        if (!block)
            return nullptr;
        std::memcpy(block, &cb, sizeof cb);
        return block + kBlockHeader;
    }
    void Free(void* pv) override
    {
        if (pv)
            std::free(static_cast<BYTE*>(pv) - kBlockHeader);
    }
    SIZE_T GetSize(void* pv) override
    {
        if (!pv)
            return static_cast<SIZE_T>(-1);
        SIZE_T cb;
        std::memcpy(&cb, static_cast<BYTE*>(pv) - kBlockHeader, sizeof cb);
        return cb;
    }
    int DidAlloc(void* pv) override { return pv ? -1 : 0; }
    void HeapMinimize() override {}
};

ShellMalloc g_malloc;

} // namespace

HRESULT SHGetMalloc(IMalloc** ppMalloc)
{
    if (!ppMalloc)
        return E_POINTER;
    *ppMalloc = &g_malloc;
    return S_OK;
}

void* CoTaskMemAlloc(SIZE_T cb) { return g_malloc.Alloc(cb); }
void CoTaskMemFree(void* pv) { g_malloc.Free(pv); }

// COM needs no set-up here: our objects are plain in-process classes.
HRESULT CoInitialize(void*) { return S_OK; }
void CoUninitialize() {}

std::u16string ShellUtf8ToWide(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        char32_t c = 0;
        size_t len = 0;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            c = b & 0x1F;
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            c = b & 0x0F;
            len = 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            c = b & 0x07;
            len = 4;
        }
        bool ok = len > 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not valid UTF-8.
        if (ok && ((len == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) || (len == 4 && (c < 0x10000 || c > 0x10FFFF))))
            ok = false;
        if (!ok) {
            out.push_back(static_cast<char16_t>(0xDC00 + b));
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += len;
    }
    return out;
}

std::string ShellWideToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(static_cast<char>(u - 0xDC00));  // an escaped raw byte
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string ShellWideToUtf8(LPCWSTR text)
{
    if (!text)
        return {};
    return ShellWideToUtf8(std::u16string_view(text));
}

LPWSTR ShellAllocWide(std::string_view text)
{
    const std::u16string w = ShellUtf8ToWide(text);
    auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(char16_t)));
    if (out)
        std::memcpy(out, w.c_str(), (w.size() + 1) * sizeof(char16_t));
    return out;
}

namespace shellns {

namespace {
void PutLE(BYTE* p, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}
std::uint64_t GetLE(const BYTE* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
} // namespace

bool DecodeItem(const BYTE* p, Item& out)
{
    const USHORT cb = ItemIdSize(p);
    if (cb < kHeaderSize || p[2] != kSignature || p[3] < kComputer || p[3] > kFile)
        return false;
    out.kind = static_cast<ItemKind>(p[3]);
    out.flags = p[4];
    out.size = GetLE(p + 6, 8);
    out.mtimeNs = static_cast<std::int64_t>(GetLE(p + 14, 8));
    out.name = std::string_view(reinterpret_cast<const char*>(p + kHeaderSize), cb - kHeaderSize);
    if (out.name.find('\0') != std::string_view::npos)
        return false;
    if (out.kind == kFile && (out.name.empty() || out.name.find('/') != std::string_view::npos || out.name == "." ||
                              out.name == ".."))
        return false;
    if ((out.kind == kDrive || out.kind == kRootItem) && (out.name.empty() || out.name[0] != '/'))
        return false;
    return true;
}

bool EncodeItem(std::vector<BYTE>& buffer, ItemKind kind, BYTE flags, std::uint64_t size, std::int64_t mtimeNs,
                std::string_view name)
{
    const size_t cb = kHeaderSize + name.size();
    if (cb > 0xFFFF)
        return false;
    const size_t at = buffer.size();
    buffer.resize(at + cb);
    BYTE* p = buffer.data() + at;
    PutLE(p, cb, 2);
    p[2] = kSignature;
    p[3] = kind;
    p[4] = flags;
    p[5] = 0;
    PutLE(p + 6, size, 8);
    PutLE(p + 14, static_cast<std::uint64_t>(mtimeNs), 8);
    if (!name.empty())
        std::memcpy(p + kHeaderSize, name.data(), name.size());
    return true;
}

LPITEMIDLIST MakeList(const std::vector<BYTE>& items)
{
    auto* p = static_cast<BYTE*>(CoTaskMemAlloc(items.size() + 2));
    if (!p)
        return nullptr;
    if (!items.empty())
        std::memcpy(p, items.data(), items.size());
    p[items.size()] = 0;
    p[items.size() + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(p);
}

bool DecodeList(LPCITEMIDLIST pidl, std::vector<Item>& items)
{
    items.clear();
    if (!pidl)
        return true;
    const auto* p = reinterpret_cast<const BYTE*>(pidl);
    while (USHORT cb = ItemIdSize(p)) {
        Item item;
        if (!DecodeItem(p, item))
            return false;
        items.push_back(item);
        p += cb;
    }
    return true;
}

bool StatItem(int dirFd, const char* name, const std::string& fullPath, BYTE& flags, std::uint64_t& size,
              std::int64_t& mtimeNs)
{
    struct stat st;
    const bool relative = dirFd >= 0;
    if ((relative ? ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) : ::lstat(fullPath.c_str(), &st)) != 0)
        return false;
    flags = 0;
    if (name[0] == '.')
        flags |= kHidden;
    if (S_ISLNK(st.st_mode)) {
        flags |= kLink;
        struct stat target;
        if ((relative ? ::fstatat(dirFd, name, &target, 0) : ::stat(fullPath.c_str(), &target)) == 0) {
            if (S_ISDIR(target.st_mode))
                flags |= kFolder;
            else
                size = static_cast<std::uint64_t>(target.st_size);
        } else {
            flags |= kBrokenLink;
            size = 0;
        }
    } else if (S_ISDIR(st.st_mode)) {
        flags |= kFolder;
        size = 0;
    } else {
        size = static_cast<std::uint64_t>(st.st_size);
    }
    if (!(flags & kFolder) && !(flags & kLink))
        size = static_cast<std::uint64_t>(st.st_size);
    mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    static const uid_t uid = ::geteuid();
    static const gid_t gid = ::getegid();
    if (uid != 0) {
        bool writable;
        if (st.st_uid == uid)
            writable = st.st_mode & S_IWUSR;
        else if (st.st_gid == gid)
            writable = st.st_mode & S_IWGRP;
        else
            writable = st.st_mode & S_IWOTH;
        if (!writable && !(flags & kLink))
            flags |= kReadOnly;
    }
    return true;
}

} // namespace shellns

HRESULT CoCreateInstance(REFCLSID, IUnknown*, DWORD, REFIID, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    return REGDB_E_CLASSNOTREG;
}
