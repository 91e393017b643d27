#pragma once

#include "mainwindow/labellayout.h"

#include <QFont>
#include <QList>
#include <QPalette>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QScreen;

// A screen as the audience menu lists it.
struct ScreenEntry
{
    QString name; // as the desktop reports it, e.g. "HDMI-1"
    QSize size;   // pixels
};

// The menu text of one screen: its name first, then its size.
QString audienceEntryText(const ScreenEntry &screen);
// Index of the screen called `name` in `screens`, or nothing (also for an empty name: "Off").
std::optional<qsizetype> screenNamed(const QList<ScreenEntry> &screens, const QString &name);

// The digits again, full screen on a second screen, for the speaker to read. It never takes the focus from
// the main window; a key that reaches it anyway is handed to `keys`, so it acts as in the main window.
class AudienceWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AudienceWindow)

public:
    AudienceWindow(QScreen *screen, std::function<void(QKeyEvent *)> keys, QWidget *parent);

    QString screenName() const { return screenName_; }
    QLabel *minutes() const { return lblMin_; }
    QLabel *seconds() const { return lblSec_; }

    // Mirrors of what the main window does to its own digits.
    void setDigitFont(const QFont &font);
    void setDigitPalette(const QPalette &palette);
    void setDigitsEnabled(bool enabled);
    void setTexts(const QString &minutes, const QString &seconds);
    // Lays the digits out over the whole window with the main window's ratios (no toolbar, no status bar).
    void setRatios(float digitAspect, float secondsScale, float fontScale);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutDigits();

    QString screenName_;
    std::function<void(QKeyEvent *)> keys_;
    QLabel *lblMin_ = nullptr;
    QLabel *lblSec_ = nullptr;
    float digitAspect_ = 0, secondsScale_ = 0, fontScale_ = 0;
};
