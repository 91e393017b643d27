#include "options/optionslayout.h"

#include "options/colorbutton.h"
#include "options/spinbar.h"
#include "platform/units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

#include <array>
#include <limits>
#include <string_view>

namespace {

constexpr std::size_t ControlCount = std::size(OptionsControls);

constexpr bool containersComeFirst()
{
    for (std::size_t i = 0; i < ControlCount; ++i) {
        const char *container = OptionsControls[i].container;
        if (container == nullptr) {
            continue;
        }
        bool seen = false;
        for (std::size_t j = 0; j < i; ++j) {
            seen = seen || (OptionsControls[j].kind == ControlKind::Frame &&
                            std::string_view(OptionsControls[j].name) == container);
        }
        if (!seen) {
            return false;
        }
    }
    return true;
}
static_assert(containersComeFirst(), "a control names a frame that is not listed before it");

constexpr std::size_t focusCount()
{
    std::size_t count = 0;
    for (const ControlPlace &place : OptionsControls) {
        count += place.tabPlace >= 0 ? 1 : 0;
    }
    return count;
}

constexpr bool tabPlacesAreASequence()
{
    for (std::size_t wanted = 0; wanted < focusCount(); ++wanted) {
        int holders = 0;
        for (const ControlPlace &place : OptionsControls) {
            holders += place.tabPlace == static_cast<int>(wanted) ? 1 : 0;
        }
        if (holders != 1) {
            return false;
        }
    }
    return true;
}
static_assert(tabPlacesAreASequence(), "the keyboard order skips or repeats a place");

// Places `widget` at a rectangle given in twips. Both edges are converted, so neighbours that touch in
// twips touch in pixels too.
void place(QWidget *widget, const ControlPlace &at)
{
    const int x = Units::toPixels(at.left);
    const int y = Units::toPixels(at.top);
    widget->setGeometry(x, y, Units::toPixels(at.left + at.width) - x, Units::toPixels(at.top + at.height) - y);
}

template <typename Widget>
Widget *make(QWidget *container, const QString &name)
{
    auto *widget = new Widget(container);
    widget->setObjectName(name);
    return widget;
}

// The control of one row, with what its kind implies; returns the widget that is placed and takes focus.
QWidget *create(QWidget *container, const ControlPlace &row)
{
    const QString name = QLatin1String(row.name);
    const QString caption = QLatin1String(row.caption);
    switch (row.kind) {
    case ControlKind::Frame: {
        auto *frame = make<QGroupBox>(container, name);
        frame->setTitle(caption);
        return frame;
    }
    case ControlKind::Label: {
        auto *label = make<QLabel>(container, name);
        label->setText(caption);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case ControlKind::Box: {
        auto *box = make<QLineEdit>(container, name);
        box->setMaxLength(std::numeric_limits<int>::max()); // a long path must not be cut short
        box->setText(caption);
        return box;
    }
    case ControlKind::Spin:
        return (new SpinBar(container, name))->bar();
    case ControlKind::Button: {
        auto *button = make<QPushButton>(container, name);
        button->setText(caption);
        // Enter means OK wherever the focus is; a focused button is pressed with the space bar.
        button->setAutoDefault(false);
        return button;
    }
    case ControlKind::Colour: {
        auto *button = make<ColorButton>(container, name);
        button->setAutoDefault(false);
        return button;
    }
    case ControlKind::Check: {
        auto *check = make<QCheckBox>(container, name);
        check->setText(caption);
        return check;
    }
    case ControlKind::List:
        return make<QComboBox>(container, name);
    case ControlKind::Sample: {
        auto *sample = make<QLabel>(container, name);
        sample->setText(caption);
        sample->setAlignment(Qt::AlignCenter);
        sample->setAutoFillBackground(true);
        return sample;
    }
    }
    Q_UNREACHABLE();
    return nullptr;
}

} // namespace

void BuildOptionsControls(QWidget &dialog)
{
    QHash<QString, QWidget *> frames;
    std::array<QWidget *, focusCount()> keyboardOrder{};
    for (const ControlPlace &row : OptionsControls) {
        QWidget *container = row.container == nullptr ? &dialog : frames.value(QLatin1String(row.container));
        QWidget *widget = create(container, row);
        place(widget, row);
        if (row.kind == ControlKind::Frame) {
            frames.insert(QLatin1String(row.name), widget);
        }
        if (*row.toolTip != '\0') {
            widget->setToolTip(QLatin1String(row.toolTip));
        }
        if (*row.accessibleName != '\0') {
            widget->setAccessibleName(QLatin1String(row.accessibleName));
        }
        if (row.tabPlace >= 0) {
            keyboardOrder[static_cast<std::size_t>(row.tabPlace)] = widget;
        }
    }
    // Keyboard order of the original form, whatever the order of creation.
    for (std::size_t i = 1; i < keyboardOrder.size(); ++i) {
        QWidget::setTabOrder(keyboardOrder[i - 1], keyboardOrder[i]);
    }
}
