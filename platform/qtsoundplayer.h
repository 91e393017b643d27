#pragma once

#include "platform/soundfile.h"
#include "platform/soundplayer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

class QAudioFormat;
class QAudioSink;
class QTimer;

// Plays sound files through Qt Multimedia without ever holding up the event loop: play() only hands the
// request to a short-lived worker thread, which reads and decodes the file (libsndfile) and converts it for
// the output device; the main thread then starts the device on a finished buffer. Files are decoded here rather than
// handed to QSoundEffect, which cuts off the last tenth of a second or so of every sound.
class QtSoundPlayer final : public QObject, public SoundPlayer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtSoundPlayer)

public:
    explicit QtSoundPlayer(QObject *parent = nullptr);
    ~QtSoundPlayer() override;

    // Returns at once. Stops whatever is playing; the newest request always wins, and a request overtaken
    // before its file was decoded is dropped. A path that names no playable sound file (empty, missing,
    // unreadable, in no format libsndfile decodes, or larger than maximumFileSize) plays the built-in chime
    // instead. Without an output device nothing is heard and nothing is reported.
    void play(const QString &path) override;

    // Connects to the sound system now rather than at the first play(), so that the first stage end is not
    // the moment that pays for it. The clock calls it when a talk starts.
    void prepare() override;

    // Larger files are not read at all: a wave file of this size already lasts about two minutes at CD
    // quality, far more than any stage-end signal needs.
    static constexpr std::int64_t maximumFileSize = 20LL * 1024 * 1024;

    // Silence appended to every sound, so that a back end that stops the stream as its source runs dry
    // drops silence rather than the end of the sound.
    static constexpr int trailingSilenceMs = 250;

signals:
    // The newest request has been decoded; `fallback` is true when the built-in chime stands in for the
    // file. Emitted on the player's thread whether or not an output device exists.
    void clipReady(const QString &path, bool fallback);

private:
    struct Mailbox;

    void startPlayback(std::uint64_t request, const QString &path, bool fallback, const QByteArray &pcm,
                       const QAudioFormat &format);
    void stopCurrent();
    void releaseSink();

    std::shared_ptr<Mailbox> mailbox_;
    std::shared_ptr<const PcmClip> fallbackClip_;
    std::uint64_t latestRequest_ = 0;
    bool prepared_ = false;
    QAudioSink *sink_ = nullptr;
    QElapsedTimer playing_;    // since the current sink started
    qint64 soundLengthMs_ = 0; // of the current sink's buffer, trailing silence included
    QTimer *releaseTimer_ = nullptr;
};
