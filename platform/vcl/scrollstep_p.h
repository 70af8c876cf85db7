// One line of scrolling of a view, as the system's scroll messages
// (SB_LINEUP / SB_LINEDOWN) give it: a bar without a range does not move.
#pragma once

#include <QAbstractScrollArea>
#include <QScrollBar>

// Scrolls one line left (negative) or right (positive) and one line up or
// down; true when the view moved.
inline bool ScrollAreaByLine(QAbstractScrollArea* area, int horizontal, int vertical)
{
    if (!area)
        return false;
    bool moved = false;
    auto step = [&moved](QScrollBar* bar, int direction) {
        if (!direction || !bar || bar->maximum() <= bar->minimum())
            return;
        const int before = bar->value();
        bar->triggerAction(direction < 0 ? QAbstractSlider::SliderSingleStepSub : QAbstractSlider::SliderSingleStepAdd);
        moved = moved || bar->value() != before;
    };
    step(area->horizontalScrollBar(), horizontal);
    step(area->verticalScrollBar(), vertical);
    return moved;
}
