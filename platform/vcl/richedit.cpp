#include "richedit.h"

#include "rtl/sysutils.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

Qt::Alignment ToQtAlign(TRtfAlign a)
{
    switch (a) {
    case TRtfAlign::Center: return Qt::AlignHCenter;
    case TRtfAlign::Right: return Qt::AlignRight;
    case TRtfAlign::Justify: return Qt::AlignJustify;
    default: return Qt::AlignLeft;
    }
}

TRtfAlign FromQtAlign(Qt::Alignment a)
{
    if (a & Qt::AlignHCenter)
        return TRtfAlign::Center;
    if (a & Qt::AlignRight)
        return TRtfAlign::Right;
    if (a & Qt::AlignJustify)
        return TRtfAlign::Justify;
    return TRtfAlign::Left;
}

QTextCharFormat ToQtFormat(const TRtfCharFormat& f)
{
    QTextCharFormat q;
    if (!f.FontName.empty())
        q.setFontFamilies({QString::fromStdString(f.FontName)});
    q.setFontPointSize(f.HalfPoints / 2.0);
    q.setFontWeight(f.Bold ? QFont::Bold : QFont::Normal);
    q.setFontItalic(f.Italic);
    q.setFontUnderline(f.Underline);
    q.setFontStrikeOut(f.StrikeOut);
    if (f.HasColor)
        q.setForeground(QColor(static_cast<int>((f.Color >> 16) & 0xFF), static_cast<int>((f.Color >> 8) & 0xFF),
            static_cast<int>(f.Color & 0xFF)));
    // The name travels with the text so that a font the system lacks is
    // still written back under its own name.
    q.setProperty(QTextFormat::UserProperty, QString::fromStdString(f.FontName));
    q.setProperty(QTextFormat::UserProperty + 1, f.HalfPoints);
    return q;
}

TRtfCharFormat FromQtFormat(const QTextCharFormat& q)
{
    TRtfCharFormat f;
    if (q.hasProperty(QTextFormat::UserProperty))
        f.FontName = q.property(QTextFormat::UserProperty).toString().toStdString();
    else if (!q.fontFamilies().toStringList().isEmpty())
        f.FontName = q.fontFamilies().toStringList().front().toStdString();
    if (q.hasProperty(QTextFormat::UserProperty + 1) && q.fontPointSize() * 2 == q.intProperty(QTextFormat::UserProperty + 1))
        f.HalfPoints = q.intProperty(QTextFormat::UserProperty + 1);
    else if (q.fontPointSize() > 0)
        f.HalfPoints = static_cast<int>(q.fontPointSize() * 2 + 0.5);
    f.Bold = q.fontWeight() >= QFont::DemiBold;
    f.Italic = q.fontItalic();
    f.Underline = q.fontUnderline();
    f.StrikeOut = q.fontStrikeOut();
    if (q.hasProperty(QTextFormat::ForegroundBrush) && q.foreground().style() != Qt::NoBrush) {
        const QColor c = q.foreground().color();
        f.HasColor = true;
        f.Color = static_cast<std::uint32_t>(c.red() << 16 | c.green() << 8 | c.blue());
    }
    return f;
}

} // namespace

TRichEdit::TRichEdit(TComponent* owner) : TCustomMemo(owner)
{
    auto* edit = new QTextEdit();
    edit->setAcceptRichText(true);
    SetRichEdit(edit);
}

TRtfDocument TRichEdit::Document() const
{
    TRtfDocument doc;
    QTextDocument* q = TextDocument();
    for (QTextBlock b = q->begin(); b.isValid(); b = b.next()) {
        TRtfParagraph p;
        p.Align = FromQtAlign(b.blockFormat().alignment());
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            if (!frag.isValid())
                continue;
            QString text = frag.text();
            text.replace(QChar::LineSeparator, QChar('\n'));
            text.replace(QChar::Nbsp, QChar(0x00A0));
            p.Runs.push_back(TRtfRun {text.toStdString(), FromQtFormat(frag.charFormat())});
        }
        doc.Paragraphs.push_back(std::move(p));
    }
    // The document's one empty block is no paragraph.
    if (doc.Paragraphs.size() == 1 && doc.Paragraphs[0].Runs.empty())
        doc.Paragraphs.clear();
    return NormalizeRtf(doc);
}

void TRichEdit::SetDocument(const TRtfDocument& document)
{
    QTextDocument* q = TextDocument();
    q->clear();
    QTextCursor c(q);
    c.beginEditBlock();
    bool first = true;
    for (const TRtfParagraph& p : document.Paragraphs) {
        QTextBlockFormat bf;
        bf.setAlignment(ToQtAlign(p.Align));
        if (first)
            c.setBlockFormat(bf);
        else
            c.insertBlock(bf);
        first = false;
        for (const TRtfRun& r : p.Runs) {
            QString text = QString::fromUtf8(r.Text.data(), static_cast<qsizetype>(r.Text.size()));
            text.replace(QChar('\n'), QChar::LineSeparator);
            c.insertText(text, ToQtFormat(r.Format));
        }
    }
    c.endEditBlock();
    q->clearUndoRedoStacks();
    q->setModified(false);
    SetSelStart(0);
}

void TRichEdit::LoadFromFile(const std::string& fileName)
{
    const std::string data = ReadWholeFile(fileName);
    bool lossy = false;
    const TRtfDocument doc = ReadRtf(data, &lossy);
    SetDocument(doc);
    m_loadedLossy = lossy;
}

void TRichEdit::SaveToFile(const std::string& fileName) const { WriteFileAtomically(fileName, WriteRtf(Document())); }
