#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class ClockSession;
class DigitPanel;
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

// The digits again, full screen on a second screen, for the speaker to read, with the message to the speaker
// under them. It observes the clock session itself. It never takes the focus from the main window; a key
// that reaches it anyway is handed to `keys`, so it acts as in the main window.
class AudienceWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AudienceWindow)

public:
    AudienceWindow(QScreen *screen, const ClockSession &session, std::function<void(QKeyEvent *)> keys,
                   QWidget *parent);

    QString screenName() const { return screenName_; }
    DigitPanel *digits() const { return digits_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Measures the configured font and lays the digits out over the whole window (no toolbar, no status bar).
    void applyFont();
    void layoutDigits();

    const ClockSession &session_;
    QString screenName_;
    std::function<void(QKeyEvent *)> keys_;
    DigitPanel *digits_ = nullptr;
    float digitAspect_ = 0, fontScale_ = 0;
};
