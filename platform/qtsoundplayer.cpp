#include "platform/qtsoundplayer.h"

#include "platform/pcmoutput.h"
#include "platform/soundfile.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QFile>
#include <QMediaDevices>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

// The worker threads' way back to the player. A worker may outlive the player (a read from a hung network
// share never returns); it then finds `player` cleared and quietly drops its result.
struct QtSoundPlayer::Mailbox
{
    std::mutex mutex;
    QtSoundPlayer *player = nullptr;
};

namespace {

// The device is fed from this thread's event loop. A buffer of a second means a busy moment in the
// windows (a dialog opening, a large relayout) never starves it into a stutter.
constexpr qint64 deviceBufferUs = 1'000'000;

// Stopping a stream throws away whatever it still has queued, and the sink reports "idle" as soon as it has
// taken the last byte, up to a buffer's length before that byte is heard. So a finished stream is closed only
// once the whole sound has had time to play, plus this margin.
constexpr qint64 releaseMarginMs = 500;

AudioCaps capsOf(const QAudioDevice &device)
{
    AudioCaps caps;
    caps.minimumSampleRate = device.minimumSampleRate();
    caps.maximumSampleRate = device.maximumSampleRate();
    caps.minimumChannelCount = device.minimumChannelCount();
    caps.maximumChannelCount = device.maximumChannelCount();
    caps.sampleFormats = device.supportedSampleFormats();
    caps.preferred = device.preferredFormat();
    return caps;
}

// Runs on a worker thread: nothing here may touch the player.
std::optional<PcmClip> readClip(const QString &path)
{
    if (path.isEmpty()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    // Pipes and devices report size 0, so the read itself is bounded as well.
    if (file.size() > QtSoundPlayer::maximumFileSize) {
        return std::nullopt;
    }
    const QByteArray bytes = file.read(QtSoundPlayer::maximumFileSize + 1);
    if (bytes.size() > QtSoundPlayer::maximumFileSize) {
        return std::nullopt;
    }
    return decodeSound(bytes);
}

// What the worker converts for; nothing without an output device.
std::optional<AudioCaps> defaultOutputCaps()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        return std::nullopt;
    }
    return capsOf(device);
}

struct Rendered
{
    bool fallback = false;
    QByteArray pcm;
    QAudioFormat format;
};

Rendered prepareClip(const QString &path, const PcmClip &fallback, const std::optional<AudioCaps> &caps)
{
    Rendered result;
    const std::optional<PcmClip> clip = readClip(path);
    result.fallback = !clip;
    if (!caps) {
        return result;
    }
    const PcmClip &source = clip ? *clip : fallback;
    result.format = chooseOutputFormat(source, *caps);
    result.pcm = renderPcm(source, result.format, QtSoundPlayer::trailingSilenceMs);
    if (result.pcm.isEmpty() && !result.fallback) {
        // The file decoded but cannot be converted for this device (too long at its rate): chime instead.
        result.fallback = true;
        result.format = chooseOutputFormat(fallback, *caps);
        result.pcm = renderPcm(fallback, result.format, QtSoundPlayer::trailingSilenceMs);
    }
    return result;
}

} // namespace

QtSoundPlayer::QtSoundPlayer(QObject *parent)
    : QObject(parent)
    , mailbox_(std::make_shared<Mailbox>())
    , releaseTimer_(new QTimer(this))
    , giveUpTimer_(new QTimer(this))
{
    mailbox_->player = this;
    QFile fallback(QStringLiteral(":/sounds/fallback.wav"));
    std::optional<PcmClip> chime;
    if (fallback.open(QIODevice::ReadOnly)) {
        chime = decodeSound(fallback.readAll());
    }
    fallbackClip_ = std::make_shared<const PcmClip>(chime.value_or(PcmClip{}));
    releaseTimer_->setSingleShot(true);
    connect(releaseTimer_, &QTimer::timeout, this, &QtSoundPlayer::stopCurrent);
    giveUpTimer_->setSingleShot(true);
    connect(giveUpTimer_, &QTimer::timeout, this, &QtSoundPlayer::giveUpOnLatest);
}

QtSoundPlayer::~QtSoundPlayer()
{
    {
        const std::lock_guard lock(mailbox_->mutex);
        mailbox_->player = nullptr;
    }
    stopCurrent();
}

void QtSoundPlayer::prepare()
{
    if (prepared_) {
        return;
    }
    prepared_ = true;
    // The first query opens the connection to the sound server and lists its devices. The chime is made
    // ready for that device now, when a talk starts, rather than at a stage end.
    renderChimeFor(QMediaDevices::defaultAudioOutput());
}

void QtSoundPlayer::renderChimeFor(const QAudioDevice &device)
{
    if (device.isNull()) {
        return;
    }
    const QAudioFormat format = chooseOutputFormat(*fallbackClip_, capsOf(device));
    if (format != chimeFormat_) {
        chimePcm_ = renderPcm(*fallbackClip_, format, trailingSilenceMs);
        chimeFormat_ = format;
    }
}

void QtSoundPlayer::play(const QString &path)
{
    const std::uint64_t request = ++latestRequest_;
    latestPath_ = path;
    giveUpTimer_->stop();
    stopCurrent();
    prepare();

    if (joinRunningDecoder(request, path)) {
        return;
    }
    if (decoders_.size() >= static_cast<std::size_t>(maximumDecoders)) {
        playChime(request, path);
        return;
    }
    startDecoder(request, path);
}

bool QtSoundPlayer::joinRunningDecoder(std::uint64_t request, const QString &path)
{
    // A worker already on this file answers this request as well: a second one could only do the same work
    // again, or hang beside it.
    for (auto &[number, decoder] : decoders_) {
        if (decoder.path != path) {
            continue;
        }
        const qint64 age = decoder.age.elapsed();
        if (decoder.givenUp || age >= giveUpMs) {
            decoder.givenUp = true;
            playChime(request, path);
        } else {
            decoder.serves = request;
            giveUpTimer_->start(static_cast<int>(giveUpMs - age));
        }
        return true;
    }
    return false;
}

void QtSoundPlayer::startDecoder(std::uint64_t request, const QString &path)
{
    const std::uint64_t number = ++lastDecoder_;
    try {
        std::thread([mailbox = mailbox_, number, path, fallback = fallbackClip_, caps = defaultOutputCaps()] {
            const Rendered rendered = prepareClip(path, *fallback, caps);
            const std::lock_guard lock(mailbox->mutex);
            QtSoundPlayer *player = mailbox->player;
            if (player == nullptr) {
                return;
            }
            // Queued to the player's thread; if the player is destroyed first, Qt discards the call with it.
            QMetaObject::invokeMethod(
                player,
                [player, number, rendered] {
                    player->decoded(number, rendered.pcm, rendered.format, rendered.fallback);
                },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error &) {
        // No thread to be had: the chime, rather than stalling the clock to read the file here.
        playChime(request, path);
        return;
    }
    // The worker's result arrives through this thread's event loop, so it cannot find itself missing here.
    Decoder &decoder = decoders_[number];
    decoder.path = path;
    decoder.serves = request;
    decoder.age.start();
    giveUpTimer_->start(giveUpMs);
}

void QtSoundPlayer::decoded(std::uint64_t number, const QByteArray &pcm, const QAudioFormat &format, bool fallback)
{
    const auto found = decoders_.find(number);
    if (found == decoders_.end()) {
        return;
    }
    const Decoder decoder = std::move(found->second);
    decoders_.erase(found);
    if (decoder.givenUp || decoder.serves != latestRequest_) {
        return;
    }
    giveUpTimer_->stop();
    startPlayback(decoder.serves, decoder.path, fallback, pcm, format);
}

void QtSoundPlayer::giveUpOnLatest()
{
    for (auto &[number, decoder] : decoders_) {
        if (decoder.serves == latestRequest_ && !decoder.givenUp) {
            decoder.givenUp = true;
            playChime(latestRequest_, latestPath_);
            return;
        }
    }
}

void QtSoundPlayer::playChime(std::uint64_t request, const QString &path)
{
    // Here, on the player's thread, since no worker may be free; rendered again only if the device's format
    // has changed since the talk started (a few milliseconds for the short chime).
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    renderChimeFor(device);
    const QByteArray pcm = device.isNull() ? QByteArray() : chimePcm_;
    // Started from the event loop, as a decoded file is: play() never answers before it has returned.
    QMetaObject::invokeMethod(
        this, [this, request, path, pcm, format = chimeFormat_] { startPlayback(request, path, true, pcm, format); },
        Qt::QueuedConnection);
}

void QtSoundPlayer::startPlayback(std::uint64_t request, const QString &path, bool fallback, const QByteArray &pcm,
                                  const QAudioFormat &format)
{
    if (request != latestRequest_) {
        return;
    }
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (!pcm.isEmpty() && format.isValid() && !device.isNull() && device.isFormatSupported(format)) {
        auto *sink = new QAudioSink(device, format, this);
        sink->setBufferSize(format.bytesForDuration(deviceBufferUs));
        auto *buffer = new QBuffer(sink);
        buffer->setData(pcm);
        buffer->open(QIODevice::ReadOnly);
        connect(sink, &QAudioSink::stateChanged, this, [this, sink](QAudio::State state) {
            if (sink != sink_) {
                return;
            }
            if (state == QAudio::IdleState) {
                // At most a day: keeps the value an int whatever a huge file works out to.
                const qint64 waitMs = std::clamp<qint64>(soundLengthMs_ - playing_.elapsed(), 0, 86'400'000);
                releaseTimer_->start(static_cast<int>(waitMs + releaseMarginMs));
            } else if (state == QAudio::StoppedState && sink->error() != QAudio::NoError) {
                // The device went away or refused the stream; there is nothing to tell anyone.
                stopCurrent();
            }
        });
        sink_ = sink;
        soundLengthMs_ = static_cast<qint64>(pcm.size()) / format.bytesPerFrame() * 1000 / format.sampleRate();
        playing_.start();
        sink->start(buffer);
    }
    emit clipReady(path, fallback);
}

void QtSoundPlayer::stopCurrent()
{
    releaseTimer_->stop();
    QAudioSink *sink = std::exchange(sink_, nullptr);
    if (sink == nullptr) {
        return;
    }
    sink->disconnect(this);
    sink->stop();
    // Possibly inside the sink's own signal: let it finish before it goes.
    sink->deleteLater();
}
