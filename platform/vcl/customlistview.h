// The list view with the common controls' notifications: each row that is
// painted asks the control's window procedure for a custom-draw answer
// (CN_NOTIFY with NM_CUSTOMDRAW), and the answer steers the painting (skip
// the row, another font, other text colours); the report header keeps an item
// format per column, draws HDF_SORTUP / HDF_SORTDOWN arrows itself and hands
// HDF_OWNERDRAW items to the control as WM_DRAWITEM.
#pragma once

#include "commctrl.h"
#include "comctrls.h"

#include <memory>
#include <vector>

class TCustomListView : public TListView {
public:
    explicit TCustomListView(TComponent* owner);
    ~TCustomListView() override;

    // The header's item formats (HDF_ flags), one per column.
    int HeaderItemCount() const { return ColumnCount(); }
    int GetHeaderItemFormat(int index) const;
    void SetHeaderItemFormat(int index, int format);
    TRect HeaderItemRect(int index) const;
    void InvalidateHeader();
    // The header's own height; 0 outside the report view.
    int HeaderHeight() const;

    // The row at a point of the client area; nullptr when none.
    TListItem* GetItemAt(int x, int y) const;
    // The item's icon rectangle (the whole first cell in the report view).
    TRect ItemIconRect(TListItem* item) const;
    void ScrollToTop();

    // Paints the whole control into a bitmap of its size (offscreen tests and
    // benchmarks); the custom-draw notifications run as for the screen.
    void PaintTo(TBitmap& bitmap);

    void WndProc(TMessage& message) override;

    // The system image lists the icons come from (small for the report,
    // list and small-icon views, large for the icon view); none by default.
    void* SmallImages = nullptr;
    void* LargeImages = nullptr;

protected:
    void ColumnsChanged() override;
    // The image index of an item's icon; below 0 for none.
    virtual int ItemImageIndex(TListItem* item) { return item->ImageIndex(); }

private:
    friend class CustomDrawDelegate;
    friend class CustomDrawHeader;
    friend class PaintCycleFilter;
    struct Cycle;
    std::unique_ptr<Cycle> m_cycle;
    mutable std::vector<int> m_headerFormats;
    void SyncFormats() const;
};
