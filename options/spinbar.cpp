#include "options/spinbar.h"

#include <QScrollBar>

#include <algorithm>
#include <limits>

// Qt's scroll bars keep their minimum at the top and insist on minimum <= maximum. When our top value is
// the larger one, the bar runs on the negated value: its minimum -top sits at the top, and the upper arrow,
// which lowers the bar's value, raises ours.

SpinBar::SpinBar(QWidget *container, const QString &name)
    : QObject(container)
    , bar_(new QScrollBar(Qt::Vertical, container))
{
    setObjectName(name);
    bar_->setObjectName(name);
    bar_->setSingleStep(1);
    bar_->setPageStep(1);
    bar_->setFocusPolicy(Qt::StrongFocus);
    applyRange();
    connect(bar_, &QScrollBar::valueChanged, this, &SpinBar::onBarValueChanged);
}

int SpinBar::lowest() const
{
    return std::min(top_, bottom_);
}

int SpinBar::highest() const
{
    return std::max(top_, bottom_);
}

bool SpinBar::contains(double v) const
{
    return v >= lowest() && v <= highest();
}

namespace {

// The bar may run on the negated value, and the negation of the lowest int does not exist.
int negatable(int v)
{
    return std::max(v, -std::numeric_limits<int>::max());
}

} // namespace

void SpinBar::setTop(int top)
{
    top_ = negatable(top);
    applyRange();
}

void SpinBar::setBottom(int bottom)
{
    bottom_ = negatable(bottom);
    applyRange();
}

void SpinBar::setValue(int value)
{
    value = std::clamp(value, lowest(), highest());
    if (value == value_) {
        return;
    }
    value_ = value;
    syncBar();
    Q_EMIT changed(value_);
}

void SpinBar::applyRange()
{
    const int clamped = std::clamp(value_, lowest(), highest());
    const bool moved = clamped != value_;
    value_ = clamped;
    syncBar();
    if (moved) {
        Q_EMIT changed(value_);
    }
}

void SpinBar::syncBar()
{
    syncing_ = true;
    if (upsideDown()) {
        bar_->setRange(-top_, -bottom_);
        bar_->setValue(-value_);
    } else {
        bar_->setRange(top_, bottom_);
        bar_->setValue(value_);
    }
    syncing_ = false;
}

void SpinBar::onBarValueChanged(int barValue)
{
    if (syncing_) {
        return;
    }
    const int value = upsideDown() ? -barValue : barValue;
    if (value == value_) {
        return;
    }
    value_ = value;
    Q_EMIT changed(value_);
}
