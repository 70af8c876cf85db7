#include "memo.h"

#include <QPlainTextEdit>

#include <algorithm>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

// What the shared code needs of the two Qt edit widgets, which offer the
// same operations without a common base class.
struct TCustomMemo::Ops {
    virtual ~Ops() = default;
    virtual QWidget* Widget() = 0;
    virtual QTextDocument* Document() const = 0;
    virtual QTextCursor Cursor() const = 0;
    virtual void SetCursor(const QTextCursor& c) = 0;
    virtual bool ReadOnly() const = 0;
    virtual void SetReadOnly(bool on) = 0;
    virtual bool Wrap() const = 0;
    virtual void SetWrap(bool on) = 0;
    virtual void SetPlainText(const QString& text) = 0;
    virtual void Cut() = 0;
    virtual void Copy() = 0;
    virtual void Paste() = 0;
    virtual void Undo() = 0;
    virtual void SelectAll() = 0;
    virtual void EnsureCursorVisible() = 0;
};

namespace {

template <typename W> struct EditOps : TCustomMemo::Ops {
    explicit EditOps(W* w) : edit(w) {}
    QWidget* Widget() override { return edit; }
    QTextDocument* Document() const override { return edit->document(); }
    QTextCursor Cursor() const override { return edit->textCursor(); }
    void SetCursor(const QTextCursor& c) override { edit->setTextCursor(c); }
    bool ReadOnly() const override { return edit->isReadOnly(); }
    void SetReadOnly(bool on) override { edit->setReadOnly(on); }
    bool Wrap() const override { return edit->lineWrapMode() != W::NoWrap; }
    void SetWrap(bool on) override { edit->setLineWrapMode(on ? W::WidgetWidth : W::NoWrap); }
    void SetPlainText(const QString& text) override { edit->setPlainText(text); }
    void Cut() override { edit->cut(); }
    void Copy() override { edit->copy(); }
    void Paste() override { edit->paste(); }
    void Undo() override { edit->undo(); }
    void SelectAll() override { edit->selectAll(); }
    void EnsureCursorVisible() override { edit->ensureCursorVisible(); }
    W* edit;
};

} // namespace

TCustomMemo::TCustomMemo(TComponent* owner) : TWinControl(owner) {}

TCustomMemo::~TCustomMemo() = default;

void TCustomMemo::SetEdit(std::unique_ptr<Ops> ops)
{
    m_ops = std::move(ops);
    QWidget* w = m_ops->Widget();
    SetWidget(w);
    m_ops->SetWrap(true);
    QTextDocument* doc = m_ops->Document();
    QObject::connect(doc, &QTextDocument::contentsChanged, [this] {
        if (OnChange)
            OnChange(this);
    });
    auto notifySelection = [this] {
        if (OnSelectionChange)
            OnSelectionChange(this);
    };
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
        QObject::connect(plain, &QPlainTextEdit::cursorPositionChanged, notifySelection);
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        QObject::connect(rich, &QTextEdit::cursorPositionChanged, notifySelection);
}

QTextDocument* TCustomMemo::TextDocument() const { return m_ops->Document(); }

void TCustomMemo::FontChanged()
{
    TWinControl::FontChanged();
    m_ops->Document()->setDefaultFont(Font().ToQFont());
}

std::string TCustomMemo::Text() const
{
    // Joined block by block: the document's plain-text export would turn
    // no-break spaces into spaces.
    QString text;
    for (QTextBlock b = m_ops->Document()->begin(); b.isValid(); b = b.next()) {
        if (b != m_ops->Document()->begin())
            text += QChar('\n');
        text += b.text();
    }
    return text.toStdString();
}

void TCustomMemo::SetText(const std::string& text)
{
    m_ops->SetPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void TCustomMemo::Clear() { m_ops->SetPlainText(QString()); }

TStringList TCustomMemo::Lines() const
{
    // As a memo's lines: a break at the very end starts no further line.
    TStringList lines;
    lines.SetText(Text());
    return lines;
}

int TCustomMemo::LineCount() const { return Lines().Count(); }

bool TCustomMemo::Modified() const { return m_ops->Document()->isModified(); }

void TCustomMemo::SetModified(bool modified) { m_ops->Document()->setModified(modified); }

bool TCustomMemo::ReadOnly() const { return m_ops->ReadOnly(); }

void TCustomMemo::SetReadOnly(bool readOnly) { m_ops->SetReadOnly(readOnly); }

bool TCustomMemo::WordWrap() const { return m_ops->Wrap(); }

void TCustomMemo::SetWordWrap(bool wrap)
{
    if (wrap != m_ops->Wrap())
        m_ops->SetWrap(wrap);
}

int TCustomMemo::SelStart() const { return m_ops->Cursor().selectionStart(); }

int TCustomMemo::SelLength() const
{
    const QTextCursor c = m_ops->Cursor();
    return c.selectionEnd() - c.selectionStart();
}

void TCustomMemo::SetSelStart(int pos)
{
    QTextCursor c = m_ops->Cursor();
    const int last = m_ops->Document()->characterCount() - 1;
    c.setPosition(std::clamp(pos, 0, std::max(last, 0)));
    m_ops->SetCursor(c);
}

void TCustomMemo::SetSelLength(int length)
{
    QTextCursor c = m_ops->Cursor();
    const int start = c.selectionStart();
    const int last = std::max(m_ops->Document()->characterCount() - 1, 0);
    c.setPosition(start);
    c.setPosition(std::clamp(start + length, 0, last), QTextCursor::KeepAnchor);
    m_ops->SetCursor(c);
}

std::string TCustomMemo::SelText() const
{
    QString s = m_ops->Cursor().selectedText();
    s.replace(QChar::ParagraphSeparator, QChar('\n'));
    return s.toStdString();
}

void TCustomMemo::SelectAll() { m_ops->SelectAll(); }

int TCustomMemo::LineFromChar(int pos) const
{
    const QTextBlock b = m_ops->Document()->findBlock(pos);
    return b.isValid() ? b.blockNumber() : std::max(m_ops->Document()->blockCount() - 1, 0);
}

int TCustomMemo::LineIndex(int line) const
{
    const QTextBlock b = m_ops->Document()->findBlockByNumber(line);
    return b.isValid() ? b.position() : -1;
}

void TCustomMemo::ScrollCaret() { m_ops->EnsureCursorVisible(); }

void TCustomMemo::CutToClipboard() { m_ops->Cut(); }

void TCustomMemo::CopyToClipboard() { m_ops->Copy(); }

void TCustomMemo::PasteFromClipboard() { m_ops->Paste(); }

void TCustomMemo::Undo() { m_ops->Undo(); }

bool TCustomMemo::CanUndo() const { return m_ops->Document()->isUndoAvailable(); }

int TCustomMemo::FindText(const std::string& text, int start) const
{
    if (text.empty())
        return -1;
    const QTextCursor found = m_ops->Document()->find(QString::fromStdString(text), std::max(start, 0),
        QTextDocument::FindCaseSensitively);
    return found.isNull() ? -1 : found.selectionStart();
}

TMemo::TMemo(TComponent* owner) : TCustomMemo(owner)
{
    auto* edit = new QPlainTextEdit();
    edit->setUndoRedoEnabled(true);
    SetPlainEdit(edit);
}

void TCustomMemo::SetPlainEdit(QPlainTextEdit* edit) { SetEdit(std::make_unique<EditOps<QPlainTextEdit>>(edit)); }

void TCustomMemo::SetRichEdit(QTextEdit* edit) { SetEdit(std::make_unique<EditOps<QTextEdit>>(edit)); }
