#include "stdctrls.h"

#include "forms.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {
TForm* ParentForm(TControl* c)
{
    for (TControl* p = c; p; p = p->Parent())
        if (auto* f = dynamic_cast<TForm*>(p))
            return f;
    return nullptr;
}
}

namespace {

// A label that draws its accelerator as the class library's labels do:
// "&x" underlines x, "&&" is one "&". Qt's own label does that only for a
// label with a buddy, and then only where the style underlines shortcuts.
class AccelLabel : public QLabel {
public:
    bool showAccel = true;

    QSize sizeHint() const override
    {
        if (!showAccel)
            return QLabel::sizeHint();
        const QMargins m = contentsMargins();
        return fontMetrics().size(Qt::TextShowMnemonic, text()) + QSize(m.left() + m.right(), m.top() + m.bottom());
    }
    QSize minimumSizeHint() const override { return showAccel ? sizeHint() : QLabel::minimumSizeHint(); }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        if (!showAccel) {
            QLabel::paintEvent(e);
            return;
        }
        QPainter painter(this);
        const int flags = static_cast<int>(alignment()) | Qt::TextShowMnemonic | (wordWrap() ? Qt::TextWordWrap : 0);
        style()->drawItemText(&painter, contentsRect(), flags, palette(), isEnabled(), text(), foregroundRole());
    }
};

}  // namespace

TLabel::TLabel(TComponent* owner) : TControl(owner) { SetWidget(new AccelLabel()); }

void TLabel::CaptionChanged()
{
    auto* l = static_cast<QLabel*>(Widget());
    l->setText(QString::fromStdString(Caption()));
    if (l->wordWrap())
        l->resize(l->width(), std::max(l->height(), l->heightForWidth(l->width())));
    else
        l->adjustSize();
}

bool TLabel::WordWrap() const { return static_cast<QLabel*>(Widget())->wordWrap(); }

void TLabel::SetWordWrap(bool on)
{
    static_cast<QLabel*>(Widget())->setWordWrap(on);
    CaptionChanged();
}

void TLabel::SetShowAccelChar(bool on)
{
    m_showAccelChar = on;
    auto* l = static_cast<AccelLabel*>(Widget());
    l->showAccel = on;
    l->updateGeometry();
    l->update();
}

void TLabel::FontChanged()
{
    TControl::FontChanged();
    auto* l = static_cast<QLabel*>(Widget());
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, ToQColor(Font().Color()));
    l->setPalette(pal);
    if (!l->wordWrap())
        l->adjustSize();
}

namespace {
constexpr const char* kButtonProperty = "vcl.button";
}

TButton::TButton(TComponent* owner) : TWinControl(owner)
{
    auto* b = new QPushButton();
    b->setProperty(kButtonProperty, QVariant::fromValue(static_cast<void*>(this)));
    SetWidget(b);
    m_widgetClicks = true;
    QObject::connect(b, &QPushButton::clicked, [this] { RunEventHandler([this] { Click(); }); });
}

TButton* TButton::FromWidget(QWidget* widget)
{
    if (!qobject_cast<QPushButton*>(widget))
        return nullptr;
    return static_cast<TButton*>(widget->property(kButtonProperty).value<void*>());
}

void TButton::SetDefault(bool on)
{
    m_default = on;
    static_cast<QPushButton*>(Widget())->setDefault(on);
}

void TButton::Click()
{
    if (ModalResult != 0)
        if (TForm* f = ParentForm(this))
            f->SetModalResult(ModalResult);
    if (OnClick)
        OnClick(this);
}

void TButton::CaptionChanged() { static_cast<QPushButton*>(Widget())->setText(QString::fromStdString(Caption())); }

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner)
{
    auto* c = new QCheckBox();
    SetWidget(c);
    m_widgetClicks = true;
    QObject::connect(c, &QCheckBox::clicked, [this](bool) { RunEventHandler([this] { Click(); }); });
}

bool TCheckBox::Checked() const { return static_cast<QCheckBox*>(Widget())->isChecked(); }

void TCheckBox::SetChecked(bool checked) { static_cast<QCheckBox*>(Widget())->setChecked(checked); }

void TCheckBox::CaptionChanged() { static_cast<QCheckBox*>(Widget())->setText(QString::fromStdString(Caption())); }

TRadioButton::TRadioButton(TComponent* owner) : TWinControl(owner)
{
    auto* r = new QRadioButton();
    SetWidget(r);
    m_widgetClicks = true;
    QObject::connect(r, &QRadioButton::toggled, [this](bool on) {
        if (on)
            RunEventHandler([this] { Click(); });
    });
}

bool TRadioButton::Checked() const { return static_cast<QRadioButton*>(Widget())->isChecked(); }

void TRadioButton::SetChecked(bool checked) { static_cast<QRadioButton*>(Widget())->setChecked(checked); }

void TRadioButton::CaptionChanged() { static_cast<QRadioButton*>(Widget())->setText(QString::fromStdString(Caption())); }

TEdit::TEdit(TComponent* owner) : TWinControl(owner)
{
    auto* e = new QLineEdit();
    SetWidget(e);
    QObject::connect(e, &QLineEdit::textChanged, [this](const QString&) {
        if (OnChange)
            OnChange(this);
    });
}

std::string TEdit::Text() const { return static_cast<QLineEdit*>(Widget())->text().toStdString(); }

void TEdit::SetText(const std::string& text) { static_cast<QLineEdit*>(Widget())->setText(QString::fromStdString(text)); }

void TEdit::SelectAll() { static_cast<QLineEdit*>(Widget())->selectAll(); }

bool TEdit::ReadOnly() const { return static_cast<QLineEdit*>(Widget())->isReadOnly(); }

void TEdit::SetReadOnly(bool readOnly) { static_cast<QLineEdit*>(Widget())->setReadOnly(readOnly); }

TComboBox::TComboBox(TComponent* owner) : TWinControl(owner)
{
    auto* c = new QComboBox();
    SetWidget(c);
    // Only the user's choice fires OnChange, as with the system's combo box.
    QObject::connect(c, QOverload<int>::of(&QComboBox::activated), [this](int) {
        if (OnChange)
            RunEventHandler([this] { OnChange(this); });
    });
}

int TComboBox::Count() const { return static_cast<QComboBox*>(Widget())->count(); }

std::string TComboBox::Item(int index) const
{
    return static_cast<QComboBox*>(Widget())->itemText(index).toStdString();
}

void TComboBox::AddItem(const std::string& text)
{
    auto* c = static_cast<QComboBox*>(Widget());
    const int keep = c->currentIndex();
    c->addItem(QString::fromStdString(text));
    c->setCurrentIndex(keep);
}

void TComboBox::ClearItems() { static_cast<QComboBox*>(Widget())->clear(); }

int TComboBox::ItemIndex() const { return static_cast<QComboBox*>(Widget())->currentIndex(); }

void TComboBox::SetItemIndex(int index)
{
    auto* c = static_cast<QComboBox*>(Widget());
    c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
}

std::string TComboBox::Text() const { return static_cast<QComboBox*>(Widget())->currentText().toStdString(); }

TListBox::TListBox(TComponent* owner) : TWinControl(owner)
{
    auto* list = new QListWidget();
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    SetWidget(list);
    m_widgetClicks = true;
    QObject::connect(list, &QListWidget::itemClicked, [this](QListWidgetItem*) {
        RunEventHandler([this] { Click(); });
    });
    QObject::connect(list, &QListWidget::itemDoubleClicked, [this](QListWidgetItem*) {
        RunEventHandler([this] { DblClick(); });
    });
}

int TListBox::Count() const { return static_cast<QListWidget*>(Widget())->count(); }

std::string TListBox::Item(int index) const
{
    const QListWidgetItem* item = static_cast<QListWidget*>(Widget())->item(index);
    return item ? item->text().toStdString() : std::string();
}

std::int64_t TListBox::ItemValue(int index) const
{
    const QListWidgetItem* item = static_cast<QListWidget*>(Widget())->item(index);
    return item ? item->data(Qt::UserRole).toLongLong() : 0;
}

void TListBox::AddItem(const std::string& text, std::int64_t value)
{
    auto* item = new QListWidgetItem(QString::fromStdString(text));
    item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(value));
    static_cast<QListWidget*>(Widget())->addItem(item);
}

void TListBox::ClearItems() { static_cast<QListWidget*>(Widget())->clear(); }

int TListBox::ItemIndex() const { return static_cast<QListWidget*>(Widget())->currentRow(); }

void TListBox::SetItemIndex(int index)
{
    auto* list = static_cast<QListWidget*>(Widget());
    list->setCurrentRow(index >= 0 && index < list->count() ? index : -1);
}

TGroupBox::TGroupBox(TComponent* owner) : TWinControl(owner) { SetWidget(new QGroupBox()); }

void TGroupBox::CaptionChanged() { static_cast<QGroupBox*>(Widget())->setTitle(QString::fromStdString(Caption())); }

TRadioGroup::TRadioGroup(TComponent* owner) : TWinControl(owner)
{
    auto* g = new QGroupBox();
    SetWidget(g);
    m_layout = new QVBoxLayout(g);
    m_group = new QButtonGroup(g);
    QObject::connect(m_group, &QButtonGroup::idClicked, [this](int id) {
        m_index = id;
        if (OnChange)
            RunEventHandler([this] { OnChange(this); });
    });
}

void TRadioGroup::AddItem(const std::string& text)
{
    auto* b = new QRadioButton(QString::fromStdString(text));
    m_layout->addWidget(b);
    m_group->addButton(b, static_cast<int>(m_items.size()));
    m_items.push_back(text);
    SetItemIndex(m_index);
}

void TRadioGroup::SetItemPicture(int index, const TBitmap& picture)
{
    if (index < 0 || index >= Count())
        return;
    QAbstractButton* b = m_group->button(index);
    b->setIcon(QIcon(QPixmap::fromImage(picture.Image())));
    b->setIconSize(QSize(picture.Width(), picture.Height()));
}

void TRadioGroup::SetItemIndex(int index)
{
    m_index = index >= 0 && index < Count() ? index : -1;
    if (m_index >= 0) {
        m_group->button(m_index)->setChecked(true);
    } else if (QAbstractButton* checked = m_group->checkedButton()) {
        m_group->setExclusive(false);
        checked->setChecked(false);
        m_group->setExclusive(true);
    }
}

void TRadioGroup::CaptionChanged() { static_cast<QGroupBox*>(Widget())->setTitle(QString::fromStdString(Caption())); }
