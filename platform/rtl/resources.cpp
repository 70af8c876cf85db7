#include "rtl/resources.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

namespace {

struct Key {
    HINSTANCE module;
    int type;
    std::string name;  // upper case
    bool operator<(const Key& o) const { return std::tie(module, type, name) < std::tie(o.module, o.type, o.name); }
};

struct Block {
    const void* data;
    std::size_t size;
};

std::mutex g_lock;
std::map<Key, Block>& Table()
{
    static std::map<Key, Block> table;
    return table;
}

std::string Upper(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    return name;
}

}  // namespace

HINSTANCE MainInstance()
{
    static char anchor;
    return &anchor;
}

void RegisterResource(HINSTANCE module, const std::string& name, int type, const void* data, std::size_t size)
{
    std::lock_guard<std::mutex> lock(g_lock);
    Table()[Key{module, type, Upper(name)}] = Block{data, size};
}

TResourceStream::TResourceStream(HINSTANCE instance, const std::string& name, int type)
{
    std::lock_guard<std::mutex> lock(g_lock);
    const auto it = Table().find(Key{instance, type, Upper(name)});
    if (it == Table().end())
        throw EResNotFound("Resource " + name + " not found");
    m_data = static_cast<const std::uint8_t*>(it->second.data);
    m_size = static_cast<std::int64_t>(it->second.size);
}

std::int64_t TResourceStream::Read(void* buffer, std::int64_t count)
{
    const std::int64_t n = std::clamp<std::int64_t>(m_size - m_position, 0, std::max<std::int64_t>(count, 0));
    if (n > 0)
        std::memcpy(buffer, m_data + m_position, static_cast<std::size_t>(n));
    m_position += n;
    return n;
}

std::int64_t TResourceStream::Write(const void*, std::int64_t)
{
    throw EStreamError("Can't write to a read-only resource stream");
}

std::int64_t TResourceStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    const std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? m_position : m_size;
    m_position = std::max<std::int64_t>(0, base + offset);
    return m_position;
}
