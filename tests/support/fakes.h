#pragma once

// Test doubles for the platform layer, injected where the program takes its Platform.

#include "platform/choosers.h"
#include "platform/platform.h"
#include "platform/settingsstore.h"
#include "platform/soundplayer.h"
#include "platform/tickcounter.h"
#include "platform/wallclock.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

// A tick counter that moves only when the test says so.
class FakeTickCounter final : public TickCounter
{
public:
    explicit FakeTickCounter(std::int32_t start = 1000)
        : now_(start)
    {}
    std::int32_t GetTickCount() const override
    {
        ++reads;
        return now_;
    }
    void set(std::int32_t ms) { now_ = ms; }
    // Advances with 32-bit wrap-around, as the real counter does.
    void advance(std::int64_t ms)
    {
        now_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(now_) + static_cast<std::uint32_t>(ms));
    }

    // How often the counter was read, for tests of what a command or tick may cost.
    mutable int reads = 0;

private:
    std::int32_t now_;
};

// The laptop's clock, set and moved by the test: a Monday morning unless told otherwise.
class FakeWallClock final : public WallClock
{
public:
    explicit FakeWallClock(QDateTime start = QDateTime(QDate(2024, 5, 6), QTime(9, 0)))
        : now_(std::move(start))
    {}
    QDateTime now() const override { return now_; }
    void set(QDateTime now) { now_ = std::move(now); }
    void advance(qint64 seconds) { now_ = now_.addSecs(seconds); }

private:
    QDateTime now_;
};

// Records every path it is asked to play.
class FakeSoundPlayer final : public SoundPlayer
{
public:
    void play(const QString &path) override { played.append(path); }
    void prepare() override { ++prepared; }
    QStringList played;
    int prepared = 0;
};

// A settings store in memory, keyed "application/section/key".
class MapStore final : public SettingsStore
{
public:
    QString read(const QString &application, const QString &section, const QString &key,
                 const QString &defaultText) const override
    {
        ++reads;
        return values.value(path(application, section, key), defaultText);
    }
    void write(const QString &application, const QString &section, const QString &key, const QString &text) override
    {
        ++writes;
        values.insert(path(application, section, key), text);
    }
    void remove(const QString &application, const QString &section, const QString &key) override
    {
        ++removes;
        values.remove(path(application, section, key));
    }
    std::optional<QString> sync() override { return failSync; }
    QString location() const override { return QStringLiteral("memory:/Kestrim.conf"); }

    // Convenience for tests: section/key in application "Kestrim".
    void set(const QString &section, const QString &key, const QString &text)
    {
        values.insert(path(QStringLiteral("Kestrim"), section, key), text);
    }
    std::optional<QString> get(const QString &section, const QString &key) const
    {
        const QString p = path(QStringLiteral("Kestrim"), section, key);
        return values.contains(p) ? std::optional<QString>(values.value(p)) : std::nullopt;
    }

    static QString path(const QString &application, const QString &section, const QString &key)
    {
        return application + QLatin1Char('/') + section + QLatin1Char('/') + key;
    }

    QMap<QString, QString> values;
    std::optional<QString> failSync;
    mutable int reads = 0;
    int writes = 0;
    int removes = 0;
};

// Answers queued in advance: a colour, a cancel (nullopt) or a failure.
class FakeColorChooser final : public ColorChooser
{
public:
    using Answer = std::variant<std::optional<std::int32_t>, ChooserError>;
    std::optional<std::int32_t> chooseColor(QWidget *, const QString &title, std::int32_t initial) override
    {
        titles.append(title);
        initials.push_back(initial);
        if (answers.empty())
            return std::nullopt;
        Answer answer = answers.front();
        answers.pop_front();
        if (auto *error = std::get_if<ChooserError>(&answer))
            throw *error;
        return std::get<std::optional<std::int32_t>>(answer);
    }
    std::deque<Answer> answers;
    QStringList titles;
    std::vector<std::int32_t> initials;
};

class FakeFileChooser final : public FileChooser
{
public:
    using Answer = std::variant<std::optional<QString>, ChooserError>;
    std::optional<QString> chooseOpenFile(QWidget *, const FileOpenRequest &request) override { return next(request); }
    // Answered from the same queue; `saves` counts the requests that were for a file to write.
    std::optional<QString> chooseSaveFile(QWidget *, const FileSaveRequest &request) override
    {
        ++saves;
        return next(request);
    }
    std::deque<Answer> answers;
    std::vector<FileOpenRequest> requests;
    int saves = 0;

private:
    std::optional<QString> next(const FileOpenRequest &request)
    {
        requests.push_back(request);
        if (answers.empty())
            return std::nullopt;
        Answer answer = answers.front();
        answers.pop_front();
        if (auto *error = std::get_if<ChooserError>(&answer))
            throw *error;
        return std::get<std::optional<QString>>(answer);
    }
};

class FakeMessageBoxes final : public MessageBoxes
{
public:
    struct Shown
    {
        bool critical;
        QString title;
        QString text;
    };
    void information(QWidget *, const QString &title, const QString &text) override
    {
        shown.push_back({false, title, text});
    }
    void critical(QWidget *, const QString &title, const QString &text) override
    {
        shown.push_back({true, title, text});
    }
    std::vector<Shown> shown;
};

// One of each fake, bundled as the program's Platform.
struct FakePlatform
{
    MapStore store;
    FakeTickCounter ticks;
    FakeSoundPlayer sound;
    FakeColorChooser colors;
    FakeFileChooser files;
    FakeMessageBoxes messages;
    FakeWallClock wallClock;
    QString programFolder = QStringLiteral("/opt/kestrim");
    bool reportsWindowPlacement = true;

    Platform platform()
    {
        return Platform{store, ticks, sound, colors, files, messages, wallClock, programFolder, reportsWindowPlacement};
    }
};
