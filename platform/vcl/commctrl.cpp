#include "commctrl.h"

#include <QFontMetrics>
#include <QPainter>

int DrawText(TCanvas& canvas, const std::string& text, TRect& rect, UINT format)
{
    const QFont font = canvas.Font().ToQFont();
    const QFontMetrics fm(font);
    const QString s = QString::fromStdString(text);
    if (format & DT_CALCRECT) {
        rect.Right = rect.Left + fm.horizontalAdvance(s);
        rect.Bottom = rect.Top + fm.height();
        return fm.height();
    }
    QPainter* painter = canvas.Painter();
    if (!painter)
        return 0;
    const QString shown = (format & DT_END_ELLIPSIS) ? fm.elidedText(s, Qt::ElideRight, std::max(0, rect.Width())) : s;
    Qt::Alignment align = (format & DT_RIGHT) ? Qt::AlignRight : (format & DT_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
    align |= (format & (DT_VCENTER | DT_SINGLELINE)) ? Qt::AlignVCenter : Qt::AlignTop;
    painter->save();
    painter->setFont(font);
    painter->setPen(ToQColor(canvas.Font().Color()));
    painter->setClipRect(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), Qt::IntersectClip);
    painter->drawText(QRect(rect.Left, rect.Top, rect.Width(), rect.Height()), static_cast<int>(align), shown);
    painter->restore();
    return fm.height();
}
