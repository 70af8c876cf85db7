// The combo boxes of the shell controls: a combo box with close-up and
// selection-end events that hands each item's data to a deletion hook, and
// an image combo that draws its entries itself, each with an image, an
// overlay and an indent.
#pragma once

#include "vcl/combobox.h"

#include <functional>
#include <string>

class TPTCustomImageCombo;

using TPTDeleteComboItemEvent = std::function<void(TObject* sender, void* item)>;

class TPTCustomCombobox : public TCustomComboBox {
public:
    using TCustomComboBox::TCustomComboBox;

    TPTDeleteComboItemEvent OnDeleteItem;
    TNotifyEvent OnCloseUp;
    TNotifyEvent OnSelEndCancel;
    TNotifyEvent OnSelEndOk;

    void WndProc(TMessage& message) override;

protected:
    // An item with data is going: fires OnDeleteItem.
    virtual void DeleteItem(void* item);
    virtual void CloseUp();
    virtual void SelEndCancel();
    virtual void SelEndOk();
};

class TPTCombobox : public TPTCustomCombobox {
public:
    using TPTCustomCombobox::TPTCustomCombobox;
};

// One entry of an image combo. Changing what it shows repaints the combo.
class TPTImageComboItem {
public:
    TPTImageComboItem(TPTCustomImageCombo* owner, int index) : m_owner(owner), m_index(index) {}

    TPTCustomImageCombo* Owner() const { return m_owner; }
    // The entry's position in the combo's items.
    int Index() const { return m_index; }
    int Indent() const { return m_indent; }
    void SetIndent(int indent);
    // -1: still to be found.
    int ImageIndex() const { return m_imageIndex; }
    void SetImageIndex(int index);
    // -1: none.
    int OverlayIndex() const { return m_overlayIndex; }
    void SetOverlayIndex(int index);
    // Empty: still to be found.
    const std::string& Caption() const { return m_caption; }
    void SetCaption(const std::string& caption);
    // What a descendant combo keeps with the entry (not owned here).
    void* Data = nullptr;

private:
    void Changed();
    TPTCustomImageCombo* m_owner;
    int m_index;
    int m_indent = 0;
    int m_imageIndex = -1;
    int m_overlayIndex = -1;
    std::string m_caption;
};

using TPTDeleteImageComboItemEvent = std::function<void(TObject* sender, TPTImageComboItem* item)>;
using TPTImageComboGetItemDataEvent = std::function<void(TObject* sender, TPTImageComboItem* item)>;

class TPTCustomImageCombo : public TPTCustomCombobox {
public:
    explicit TPTCustomImageCombo(TComponent* owner);
    ~TPTCustomImageCombo() override;

    // Appends an entry (its position stored in it).
    virtual TPTImageComboItem* AddItem(const std::string& caption, int imageIndex, int indent);
    TPTImageComboItem* GetImageComboItem(int index) const;
    int IndentPixels() const { return m_indentPixels; }
    void SetIndentPixels(int pixels);
    // An image list (not owned); its images are drawn beside the captions.
    void* ImageList() const { return m_imageList; }
    void SetImageList(void* list);
    bool AutoSizeHeight() const { return m_autoSizeHeight; }
    void SetAutoSizeHeight(bool on);

    TPTDeleteImageComboItemEvent OnDeleteItem;
    TPTImageComboGetItemDataEvent OnGetItemData;

protected:
    // Fills what an entry still lacks before it is drawn: fires OnGetItemData.
    virtual void GetItemData(TPTImageComboItem* item);
    void DrawItem(int index, const TRect& rect, UINT state) override;
    // Fires OnDeleteItem with the entry, then frees it.
    void DeleteItem(void* item) override;
    // The item height from the font (plus 2) and the images, when
    // AutoSizeHeight is on.
    virtual void AutoSize();
    void FontChanged() override;

private:
    int m_indentPixels = 12;
    bool m_autoSizeHeight = true;
    bool m_sizing = false;
    void* m_imageList = nullptr;
};

class TPTImageCombo : public TPTCustomImageCombo {
public:
    using TPTCustomImageCombo::TPTCustomImageCombo;
};
