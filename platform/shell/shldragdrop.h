// Shell items in drag and drop: the data object of dragged items (the
// "Shell IDList Array" block and CF_HDROP, which other programs read as
// text/uri-list), the drop source of a drag begun with a mouse button, and
// the effects that dragged items allow.
//
// The "Shell IDList Array" block (all values little-endian 32-bit):
//   0           count n of items
//   4           n + 1 offsets from the start of the block: the parent
//               folder's absolute list, then each item's relative list
//   4 * (n + 2) the lists, each with its 2-byte terminator, packed in order
#pragma once

#include "ole/ole2.h"
#include "ole/oleobj.h"
#include "shlobj.h"

#include <string>
#include <vector>

// The number of the "Shell IDList Array" format.
CLIPFORMAT ShellIdListFormat();

// A new block holding the parent's absolute list (null: the desktop, the
// empty list) and the items' relative lists; E_OUTOFMEMORY when it cannot
// be had.
HRESULT BuildIdListArrayGlobal(LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items, HGLOBAL* out);

// The same block built one list at a time, the parent first and then the
// items in order, so that a caller walking many items reads each list once
// (copied while it is at hand). The count need not be known at the start,
// only a bound for it; the block grows as lists come.
class TIdListArrayBuilder {
public:
    // maxCount: at most that many items; bytesHint: the expected bytes of
    // all the items' lists (0 if unknown).
    TIdListArrayBuilder(LPCITEMIDLIST parent, std::size_t maxCount, std::size_t bytesHint = 0);
    ~TIdListArrayBuilder();
    TIdListArrayBuilder(const TIdListArrayBuilder&) = delete;
    TIdListArrayBuilder& operator=(const TIdListArrayBuilder&) = delete;
    void Add(LPCITEMIDLIST item);
    // The number of items added so far.
    std::size_t Count() const { return m_placed > 0 ? m_placed - 1 : 0; }
    // The block for the caller to own; null when memory ran short or more
    // items came than announced.
    HGLOBAL TakeBlock();
    // List k of a block this builder made (0 the parent, 1 to n the items),
    // pointing into the block.
    static LPCITEMIDLIST ListOf(HGLOBAL block, std::size_t k);

private:
    void Place(LPCITEMIDLIST list);
    HGLOBAL m_block = nullptr;
    std::size_t m_maxCount = 0;
    std::size_t m_placed = 0;  // lists placed, the parent's included
    std::size_t m_used = 0;
    bool m_failed = false;
};

// A new CF_HDROP block of the full paths, sized from them.
HRESULT BuildHDropGlobal(const std::vector<std::string>& paths, HGLOBAL* out);

// The lists of a "Shell IDList Array" block, pointing into it. False for a
// block whose count, offsets or lists do not lie inside it.
struct ShellIdListArray {
    LPCITEMIDLIST parent = nullptr;
    std::vector<LPCITEMIDLIST> items;
};
bool ReadIdListArray(const BYTE* block, std::size_t size, ShellIdListArray& out);

// The effects (copy 1, move 2, link 4) that every dragged shell item of the
// object allows; 7 when it holds no sound "Shell IDList Array" block. Throws
// EOleSysError when the items' folder cannot be had or asked.
DWORD GetDataObjectEffects(IDataObject* data);

// The data object of dragged shell items: the parent's absolute list, the
// items' relative lists and their full paths (empty for a virtual item).
// The blocks are built once, so later changes to the items do not alter a
// running drag. Formats offered: "Shell IDList Array", then CF_HDROP (only
// when every item has a path).
class TShellDataObject : public TDataObjectBase {
public:
    TShellDataObject(LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items,
                     const std::vector<std::string>& paths);
    // The same with the paths packed already (taken first, so that an
    // empty path list stays unambiguous); paths that do not name every
    // item leave CF_HDROP out.
    TShellDataObject(TDropNames&& paths, LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items);
    // The same from a "Shell IDList Array" block of the items (owned from
    // now on; null leaves that format out).
    TShellDataObject(TDropNames&& paths, HGLOBAL idListArray);
    ~TShellDataObject() override;
    HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT QueryGetData(const FORMATETC* format) override;

protected:
    IEnumFORMATETC* NewFormatEnumerator() override;

private:
    HGLOBAL BlockOf(CLIPFORMAT format) const;
    HGLOBAL m_idList = nullptr;
    HGLOBAL m_hdrop = nullptr;
    std::vector<FORMATETC> m_formats;
};

// The drop source of a drag begun with one mouse button (0 left, 1 right,
// 2 middle): Esc or another button cancels, releasing the button drops.
class TShellDropSource : public TComObject<IDropSource> {
public:
    explicit TShellDropSource(int button);
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT QueryContinueDrag(BOOL escapePressed, DWORD keyState) override;
    HRESULT GiveFeedback(DWORD effect) override;

private:
    DWORD m_button;
};
