#include "archive/zadfilelist.h"

#include "rtl/sysutils.h"

#include <algorithm>

TFileObject::TFileObject(std::string name, std::string folder, std::int32_t size, std::int32_t sizeHigh,
                         std::int32_t attributes, std::int32_t date)
    : Name(std::move(name)), Folder(std::move(folder)), Size(size), SizeHigh(sizeHigh), Attributes(attributes), Date(date)
{
}

std::int64_t TFileObject::FullSize() const
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(SizeHigh)) << 32 |
                                     static_cast<std::uint32_t>(Size));
}

namespace {

std::string ExtensionOf(const std::string& name)
{
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

template <class T> int Sign(T a, T b) { return a < b ? -1 : (a > b ? 1 : 0); }

}  // namespace

int TFilesList::Compare(const TFileObject& a, const TFileObject& b) const
{
    auto text = [&](const std::string& x, const std::string& y) {
        const int c = CaseSensitive ? x.compare(y) : AnsiLowerCase(x).compare(AnsiLowerCase(y));
        return Sign(c, 0);
    };
    switch (m_sort) {
    case soByName: return text(a.Name, b.Name);
    case soByPath: return text(a.Folder, b.Folder);
    case soByType: return text(ExtensionOf(a.Name), ExtensionOf(b.Name));
    // A file of 3 GB has its low word's top bit set: only the whole size
    // orders it after small files.
    case soBySize: return Sign(a.FullSize(), b.FullSize());
    // DOS date-times order as unsigned numbers (years from 2044 on set the
    // top bit).
    case soByTime: return Sign(static_cast<std::uint32_t>(a.Date), static_cast<std::uint32_t>(b.Date));
    case soUnsort: break;
    }
    return 0;
}

bool TFilesList::Find(const TFileObject& item, int& index) const
{
    int low = 0, high = Count() - 1;
    bool found = false;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int c = Compare(*m_items[static_cast<std::size_t>(mid)], item);
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (c == 0)
                found = true;
        }
    }
    index = low;
    return found;
}

int TFilesList::Add(std::unique_ptr<TFileObject> item)
{
    if (m_sort == soUnsort) {
        m_items.push_back(std::move(item));
        return Count() - 1;
    }
    int index = 0;
    Find(*item, index);
    m_items.insert(m_items.begin() + index, std::move(item));
    return index;
}

void TFilesList::DeleteItem(int index)
{
    if (index < 0 || index >= Count())
        return;
    m_items.erase(m_items.begin() + index);
}

void TFilesList::ClearList()
{
    m_items.clear();
    m_items.shrink_to_fit();
}

void TFilesList::Sort()
{
    if (m_items.empty() || m_sort == soUnsort)
        return;
    std::stable_sort(m_items.begin(), m_items.end(),
                     [this](const auto& a, const auto& b) { return Compare(*a, *b) < 0; });
}

void TFilesList::SetSortOptions(TzadSortOptions value)
{
    if (value == m_sort)
        return;
    m_sort = value;
    Sort();
}
