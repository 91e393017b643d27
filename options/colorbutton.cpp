#include "options/colorbutton.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

ColorButton::ColorButton(QWidget *parent)
    : QPushButton(parent)
{}

void ColorButton::setFaceColor(const QColor &colour)
{
    if (colour == faceColor_) {
        return;
    }
    faceColor_ = colour;
    update();
}

void ColorButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    // The colour fills the face inside the bevel; the focus frame goes on top so it stays visible on any
    // colour.
    QRect face = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    if (face.width() < 4 || face.height() < 4) {
        face = rect().adjusted(2, 2, -2, -2);
    }
    painter.fillRect(face, faceColor_);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(face.adjusted(0, 0, -1, -1));

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        focus.backgroundColor = faceColor_;
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
