#pragma once

#include <QColor>
#include <QPushButton>

// A push button without caption whose face shows a colour, for picking stage colours.
class ColorButton final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ColorButton)

public:
    explicit ColorButton(QWidget *parent);

    QColor faceColor() const { return faceColor_; }
    void setFaceColor(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor faceColor_ = Qt::black;
};
