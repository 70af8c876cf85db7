// Standard controls: labels, buttons, check boxes, edits, combo boxes,
// group boxes and radio groups.
#pragma once

#include "controls.h"

#include <cstdint>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QCheckBox;
class QLineEdit;
class QComboBox;
class QGroupBox;
class QButtonGroup;
class QVBoxLayout;

// A label draws "&" before a letter as that letter underlined (the
// accelerator) and "&&" as one "&", unless ShowAccelChar is off; then it
// shows its caption as it stands (labels that show data, such as a path).
class TLabel : public TControl {
public:
    explicit TLabel(TComponent* owner);
    bool Transparent = true;
    bool ShowAccelChar() const { return m_showAccelChar; }
    void SetShowAccelChar(bool on);
    // A word-wrapped label keeps its width and grows in height to its text.
    bool WordWrap() const;
    void SetWordWrap(bool on);

protected:
    void CaptionChanged() override;
    void FontChanged() override;

private:
    bool m_showAccelChar = true;
};

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);
    int ModalResult = 0;
    bool Default() const { return m_default; }
    void SetDefault(bool on);
    bool Cancel = false;
    // Presses the button as a user's click does.
    void Click() override;
    // The button a widget shows; nullptr for any other widget.
    static TButton* FromWidget(QWidget* widget);

protected:
    void CaptionChanged() override;

private:
    bool m_default = false;
};

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TComponent* owner);
    bool Checked() const;
    void SetChecked(bool checked);

protected:
    void CaptionChanged() override;
};

// Radio buttons with one parent exclude each other. OnClick fires whenever
// the button becomes checked, by the user or by SetChecked.
class TRadioButton : public TWinControl {
public:
    explicit TRadioButton(TComponent* owner);
    bool Checked() const;
    void SetChecked(bool checked);

protected:
    void CaptionChanged() override;
};

class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* owner);
    std::string Text() const;
    void SetText(const std::string& text);
    // Selects the whole text, so typing replaces it.
    void SelectAll();
    bool ReadOnly() const;
    void SetReadOnly(bool readOnly);
    TNotifyEvent OnChange;
};

// A drop-down list (style csDropDownList): its items and the chosen index.
class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent* owner);
    int Count() const;
    std::string Item(int index) const;
    void AddItem(const std::string& text);
    void ClearItems();
    int ItemIndex() const;
    // An index outside the items leaves no selection.
    void SetItemIndex(int index);
    std::string Text() const;
    TNotifyEvent OnChange;

private:
    bool m_silent = false;
};

// A list of items, each with a text and a number; one item can be chosen.
// OnClick fires when the user chooses an item, OnDblClick on a double click.
class TListBox : public TWinControl {
public:
    explicit TListBox(TComponent* owner);
    int Count() const;
    std::string Item(int index) const;
    // The number stored with the item (0 when none was given).
    std::int64_t ItemValue(int index) const;
    void AddItem(const std::string& text, std::int64_t value = 0);
    void ClearItems();
    int ItemIndex() const;
    // An index outside the items leaves no item chosen.
    void SetItemIndex(int index);
};

class TGroupBox : public TWinControl {
public:
    explicit TGroupBox(TComponent* owner);

protected:
    void CaptionChanged() override;
};

class TRadioGroup : public TWinControl {
public:
    explicit TRadioGroup(TComponent* owner);
    void AddItem(const std::string& text);
    int Count() const { return static_cast<int>(m_items.size()); }
    int ItemIndex() const { return m_index; }
    void SetItemIndex(int index);
    // A picture shown between an item's radio circle and its text.
    void SetItemPicture(int index, const TBitmap& picture);
    TNotifyEvent OnChange;

protected:
    void CaptionChanged() override;

private:
    QButtonGroup* m_group;
    QVBoxLayout* m_layout;
    std::vector<std::string> m_items;
    int m_index = -1;
};
