#pragma once

#include "mainwindow/labellayout.h"
#include "platform/units.h"

#include <QFont>
#include <QLabel>

// Puts a label where a layout in twips says, `shiftUp` pixels higher when the label's parent starts that
// far below the client area's top (under a toolbar).
inline void placeLabel(QLabel *label, const LabelBox &box, int shiftUp = 0)
{
    label->setGeometry(Units::toPixels(box.left), Units::toPixels(box.top) - shiftUp, Units::toPixels(box.width),
                       Units::toPixels(box.height));
}

// Sets the label's font size only when it changes: a new font makes the label measure its text again.
inline void setLabelPoints(QLabel *label, float points)
{
    QFont f = label->font();
    if (f.pointSizeF() != points) {
        f.setPointSizeF(points);
        label->setFont(f);
    }
}
