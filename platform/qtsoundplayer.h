#pragma once

#include "platform/soundfile.h"
#include "platform/soundplayer.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>

class QAudioDevice;
class QAudioSink;
class QTimer;

// Plays sound files through Qt Multimedia without ever holding up the event loop: play() only hands the
// request to a short-lived worker thread, which reads and decodes the file (libsndfile) and converts it for
// the output device; the main thread then starts the device on a finished buffer. Files are decoded here
// rather than handed to QSoundEffect, which cuts off the last tenth of a second or so of every sound.
//
// A read can hang for ever (a pipe nobody writes to, a share that stopped answering) and no thread can be
// made to let go of it. So at most maximumDecoders workers are alive at any time; a worker that has not
// delivered after giveUpMs is given up, its request answered with the chime, and requests for the same
// file while it is still stuck get the chime at once instead of another worker. A request that finds no
// worker free gets the chime too.
class QtSoundPlayer final : public QObject, public SoundPlayer
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QtSoundPlayer)

public:
    explicit QtSoundPlayer(QObject *parent = nullptr);
    ~QtSoundPlayer() override;

    // Returns at once. Stops whatever is playing; the newest request always wins, and a request overtaken
    // before its file was decoded is dropped. A path that names no playable sound file (empty, missing,
    // unreadable, in no format libsndfile decodes, larger than maximumFileSize, or not read within
    // giveUpMs) plays the built-in chime instead. Without an output device nothing is heard and nothing is
    // reported.
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

    // Workers alive at once: one stuck on a dead file still leaves one for every other sound.
    static constexpr int maximumDecoders = 2;

    // A stage-end signal that comes later than this no longer marks the stage end; the largest file
    // allowed is read and decoded in a fraction of it.
    static constexpr int giveUpMs = 2000;

signals:
    // The newest request has been answered; `fallback` is true when the built-in chime stands in for the
    // file. Emitted on the player's thread whether or not an output device exists.
    void clipReady(const QString &path, bool fallback);

private:
    struct Mailbox;
    struct Decoder
    {
        QString path;
        std::uint64_t serves = 0; // the request its result answers
        QElapsedTimer age;
        bool givenUp = false;
    };

    void decoded(std::uint64_t decoder, const QByteArray &pcm, const QAudioFormat &format, bool fallback);
    void giveUpOnLatest();
    // Whether a worker on `path` is already running, and so answers the request (with the chime if it is stuck).
    bool joinRunningDecoder(std::uint64_t request, const QString &path);
    void playChime(std::uint64_t request, const QString &path);
    void renderChimeFor(const QAudioDevice &device);
    void startDecoder(std::uint64_t request, const QString &path);
    void startPlayback(std::uint64_t request, const QString &path, bool fallback, const QByteArray &pcm,
                       const QAudioFormat &format);
    void stopCurrent();

    std::shared_ptr<Mailbox> mailbox_;
    std::shared_ptr<const PcmClip> fallbackClip_;
    QByteArray chimePcm_; // the chime rendered for chimeFormat_, kept for requests answered here
    QAudioFormat chimeFormat_;
    std::map<std::uint64_t, Decoder> decoders_; // workers still running, by number
    std::uint64_t lastDecoder_ = 0;
    std::uint64_t latestRequest_ = 0;
    QString latestPath_;
    bool prepared_ = false;
    QAudioSink *sink_ = nullptr;
    QElapsedTimer playing_;    // since the current sink started
    qint64 soundLengthMs_ = 0; // of the current sink's buffer, trailing silence included
    QTimer *releaseTimer_ = nullptr;
    QTimer *giveUpTimer_ = nullptr;
};
