// The sortable list of found files a folder scan fills: one TFileObject per
// file or folder, kept in the list's sort order as they are added.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum TzadSortOptions { soUnsort, soByName, soByType, soBySize, soByTime, soByPath };

class TFileObject {
public:
    TFileObject(std::string name, std::string folder, std::int32_t size, std::int32_t sizeHigh, std::int32_t attributes,
                std::int32_t date);
    virtual ~TFileObject() = default;

    std::string Name;    // empty for a folder
    std::string Folder;  // with its trailing '/'
    std::int32_t Size;   // the low 32 bits of the size
    std::int32_t SizeHigh;
    std::int32_t Attributes;
    std::int32_t Date;  // local DOS date (high word) and time (low word)

    std::int64_t FullSize() const;
};

// The operations every file list offers.
class TBaseFilesList {
public:
    virtual ~TBaseFilesList() = default;
    // Takes the item over; returns its index.
    virtual int Add(std::unique_ptr<TFileObject> item) = 0;
    virtual void DeleteItem(int index) = 0;
    virtual void ClearList() = 0;
    virtual void Sort() = 0;
};

class TFilesList : public TBaseFilesList {
public:
    // Sorted lists insert in order (before items that compare equal);
    // unsorted ones append.
    int Add(std::unique_ptr<TFileObject> item) override;
    // Indexes outside the list are ignored.
    void DeleteItem(int index) override;
    void ClearList() override;
    void Sort() override;

    // Negative, 0 or positive by the sort order. Names, folders and
    // extensions compare without regard to case unless CaseSensitive is
    // set; sizes as full 64-bit values and times in date order.
    virtual int Compare(const TFileObject& a, const TFileObject& b) const;
    // Binary search for the first item that does not compare below item;
    // true when it compares equal.
    virtual bool Find(const TFileObject& item, int& index) const;
    // Stores the order and re-sorts when it changed.
    void SetSortOptions(TzadSortOptions value);
    TzadSortOptions SortOptions() const { return m_sort; }

    int Count() const { return static_cast<int>(m_items.size()); }
    const TFileObject& Items(int index) const { return *m_items.at(static_cast<std::size_t>(index)); }

    bool CaseSensitive = false;

private:
    TzadSortOptions m_sort = soUnsort;
    std::vector<std::unique_ptr<TFileObject>> m_items;
};
