// Main and pop-up menus. Items form a tree of components; each change
// rebuilds the Qt menu that shows the changed level.
#pragma once

#include "rtl/classes.h"

#include <string>
#include <vector>

class QMenu;
class QMenuBar;
class QAction;
class QWidget;

using TShortCut = int;  // a Qt key sequence value, 0 for none
TShortCut ShortCut(const std::string& text);  // "Ctrl+O"

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner);
    ~TMenuItem() override;

    const std::string& Caption() const { return m_caption; }
    void SetCaption(const std::string& caption);
    bool IsLine() const { return m_caption == "-"; }
    bool Checked() const { return m_checked; }
    void SetChecked(bool checked);
    bool RadioItem() const { return m_radio; }
    void SetRadioItem(bool radio);
    int GroupIndex = 0;
    bool AutoCheck = false;
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    TShortCut ShortCutKey() const { return m_shortCut; }
    void SetShortCut(TShortCut key);
    std::string Hint;

    int Count() const { return static_cast<int>(m_items.size()); }
    TMenuItem* Items(int index) const;
    TMenuItem* Parent() const { return m_parentItem; }
    int MenuIndex() const;
    void Add(TMenuItem* item);
    // Inserts at the index (0..Count); raises EMenuError outside.
    void Insert(int index, TMenuItem* item);
    // Removes and frees the item at the index.
    void Delete(int index);
    void Remove(TMenuItem* item);
    void Clear();
    TMenuItem* Find(const std::string& caption) const;

    // Fires OnClick (checking auto-check items first), as a user's click does.
    void Click();
    TNotifyEvent OnClick;

    QAction* Action() const { return m_action; }
    // The menu of this item's children (created on first use).
    QMenu* SubMenu();

    // Where the items of a top-level item go instead of a sub-menu.
    void AttachToMenuBar(QMenuBar* bar);
    void AttachToMenu(QMenu* menu);

private:
    void Changed();
    void RebuildChildren();
    void SyncAction();

    std::string m_caption;
    bool m_checked = false;
    bool m_radio = false;
    bool m_enabled = true;
    bool m_visible = true;
    TShortCut m_shortCut = 0;
    std::vector<TMenuItem*> m_items;
    TMenuItem* m_parentItem = nullptr;
    QAction* m_action = nullptr;
    QMenu* m_subMenu = nullptr;
    QMenuBar* m_bar = nullptr;
    QMenu* m_rootMenu = nullptr;
};

VISTREL_DECLARE_EXCEPTION(EMenuError, Exception)

class TMenu : public TComponent {
public:
    explicit TMenu(TComponent* owner);
    ~TMenu() override;
    TMenuItem* Items() const { return m_items; }

protected:
    TMenuItem* m_items;
};

class TMainMenu : public TMenu {
public:
    explicit TMainMenu(TComponent* owner);
    ~TMainMenu() override;
    QMenuBar* MenuBar() const { return m_bar; }

private:
    QMenuBar* m_bar;
};

class TPopupMenu : public TMenu {
public:
    explicit TPopupMenu(TComponent* owner);
    ~TPopupMenu() override;
    void Popup(int screenX, int screenY);
    TNotifyEvent OnPopup;
    QMenu* Menu() const { return m_menu; }
    // A right click on a control whose menu this is pops it up by itself;
    // off, the control leaves the request to its other handling.
    bool AutoPopup = true;
    // The control the menu was last popped up for by a right click.
    TComponentLink<TComponent> PopupComponent{this};

private:
    QMenu* m_menu;
};

// Creates an item with a caption and handler, as form descriptions do.
TMenuItem* NewItem(TComponent* owner, const std::string& caption, TNotifyEvent onClick = {},
    const std::string& name = "");
