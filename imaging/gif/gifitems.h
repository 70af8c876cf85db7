// The items a GIF file is kept as: the base of everything that reads and
// writes itself, the owning list of items, the two kinds of colour table
// and the header with the logical screen and its global table.
#pragma once

#include "imaging/gif/gifcolormap.h"
#include "imaging/gif/gifcommon.h"
#include "rtl/classes.h"
#include "rtl/streams.h"

#include <cstdint>
#include <string>

class TGIFImage;
class TGIFHeader;
class TGIFSubImage;

class TGIFItem : public TPersistent {
public:
    explicit TGIFItem(TGIFImage* image) : m_image(image) {}
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    TGIFImage* Image() const { return m_image; }
    virtual TGIFVersion GetVersion() const { return gv87a; }
    virtual void Warning(TGIFSeverity severity, const std::string& message);
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    void LoadFromFile(const std::string& fileName);
    // The item's bytes (SaveToStream) become the file's, written whole
    // beside it and moved over it, so a failed save leaves the file as it
    // was.
    void SaveToFile(const std::string& fileName);

private:
    TGIFImage* m_image;
};

// A list that owns its items: deleting or clearing frees them, Remove
// only takes one out. Bad indices raise EListError.
class TGIFList : public TPersistent {
public:
    explicit TGIFList(TGIFImage* image) : m_image(image) {}
    ~TGIFList() override;
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;

    TGIFImage* Image() const { return m_image; }
    int Count() const { return m_items.Count(); }
    TGIFItem* Item(int index) const { return static_cast<TGIFItem*>(m_items.Get(index)); }
    void SetItem(int index, TGIFItem* item) { m_items.Put(index, item); }
    int Add(TGIFItem* item) { return m_items.Add(item); }
    void Insert(int index, TGIFItem* item) { m_items.Insert(index, item); }
    void Exchange(int a, int b) { m_items.Exchange(a, b); }
    void Move(int from, int to) { m_items.Move(from, to); }
    int IndexOf(const TGIFItem* item) const { return m_items.IndexOf(item); }
    TGIFItem* First() const { return Item(0); }
    TGIFItem* Last() const { return Item(Count() - 1); }
    int Remove(TGIFItem* item) { return m_items.Remove(item); }
    void Delete(int index);
    void Clear();

    virtual void Warning(TGIFSeverity severity, const std::string& message);
    // Every item writes itself, in order.
    virtual void SaveToStream(TStream& stream);

private:
    TGIFImage* m_image;
    TList m_items;
};

class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* header) : m_header(header) {}
    ~TGIFGlobalColorMap() override;
    void Warning(TGIFSeverity severity, const std::string& message) override;
    void BuildHistogram(TColorHistogram& histogram) override;
    void MapImages(const TColorMapping& map) override;
    bool Optimize() override;
    void Changed() override;

private:
    TGIFHeader* m_header;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* frame) : m_frame(frame) {}
    ~TGIFLocalColorMap() override;
    void Warning(TGIFSeverity severity, const std::string& message) override;
    void BuildHistogram(TColorHistogram& histogram) override;
    void MapImages(const TColorMapping& map) override;
    bool Optimize() override;
    void Changed() override;

private:
    TGIFSubImage* m_frame;
};

// Reads a colour table of count entries of red, green, blue.
void LoadColorMap(TGIFColorMap& map, TStream& stream, int count);
// Writes the entries, then black ones up to the next power of two (the size
// the table's size field can say); nothing for an empty table.
void SaveColorMap(const TGIFColorMap& map, TStream& stream);

//  Logical screen descriptor, 7 bytes after "GIF" and the version:
//  +0 width (16)  +2 height (16)  +4 packed  +5 background index  +6 aspect
//  packed: bit 7 global table, bits 6-4 colour resolution, bit 3 sorted,
//  bits 2-0 table size (2 << n entries).
struct TLogicalScreenDescriptor {
    std::uint16_t ScreenWidth = 0;
    std::uint16_t ScreenHeight = 0;
    std::uint8_t PackedFields = 0;
    std::uint8_t BackgroundColorIndex = 0;
    std::uint8_t AspectRatio = 0;
};

class TGIFHeader : public TGIFItem {
public:
    static constexpr std::uint8_t kGlobalTable = 0x80;
    static constexpr std::uint8_t kSorted = 0x08;
    static constexpr std::uint8_t kTableSize = 0x07;

    explicit TGIFHeader(TGIFImage* image);
    ~TGIFHeader() override;

    TGIFColorMap& ColorMap() { return m_colorMap; }
    TLogicalScreenDescriptor& Descriptor() { return m_descriptor; }
    const TLogicalScreenDescriptor& Descriptor() const { return m_descriptor; }
    int Width() const { return m_descriptor.ScreenWidth; }
    int Height() const { return m_descriptor.ScreenHeight; }

    void Clear();
    void Prepare();
    TGIFVersion GetVersion() const override;
    COLORREF GetBackgroundColor();
    void SetBackgroundColor(COLORREF color);
    int BackgroundColorIndex() const { return m_descriptor.BackgroundColorIndex; }
    void SetBackgroundColorIndex(int index);
    int GetBitsPerPixel() const { return m_colorMap.BitsPerPixel(); }
    int GetColorResolution() const { return m_colorMap.BitsPerPixel() - 1; }
    void Assign(const TPersistent* source) override;
    std::string ClassName() const override { return "TGIFHeader"; }

    void LoadFromStream(TStream& stream) override;
    // "GIF", the image's version, the descriptor and the global table;
    // raises "Unsupported GIF version" for an image without frames.
    void SaveToStream(TStream& stream) override;

private:
    TLogicalScreenDescriptor m_descriptor;
    TGIFGlobalColorMap m_colorMap;
};

// The ";" after the last frame; lives for one read or write.
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
};
