#pragma once

#include <QObject>

class QScrollBar;
class QWidget;

// A small vertical scroll bar used as a spin control, with the range given as its top and bottom values.
// The top may lie above or below the bottom; in the dialog it lies above, so the upper arrow raises the
// value. Arrows, trough clicks and keys move by 1.
//
// changed() is raised only when the value really changes, and synchronously: setting the value from the
// program raises it before setValue() returns, just like a user's click. The handlers of the options dialog
// rely on that to carry seconds into minutes and back.
class SpinBar final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SpinBar)

public:
    // Creates the scroll bar as a child of `container`, named `name`, with top = bottom = value = 0.
    SpinBar(QWidget *container, const QString &name);

    // The widget, for placing, focus and tests.
    QScrollBar *bar() const { return bar_; }

    int top() const { return top_; }
    int bottom() const { return bottom_; }
    int value() const { return value_; }

    // Each may move the value into the new range, which raises changed().
    void setTop(int top);
    void setBottom(int bottom);
    // Clamps into the range.
    void setValue(int value);

    // True when `v` lies between bottom and top inclusive, whichever is larger.
    bool contains(double v) const;

Q_SIGNALS:
    void changed(int value);

private:
    int lowest() const;
    int highest() const;
    bool upsideDown() const { return top_ > bottom_; }
    void applyRange();
    void syncBar();
    void onBarValueChanged(int barValue);

    QScrollBar *bar_;
    int top_ = 0;
    int bottom_ = 0;
    int value_ = 0;
    bool syncing_ = false;
};
