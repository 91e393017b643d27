#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <optional>
#include <vector>

// Decoded audio: interleaved frames of `channels` samples each, every sample scaled to [-1, 1].
struct PcmClip
{
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples;

    std::int64_t frames() const { return channels > 0 ? static_cast<std::int64_t>(samples.size()) / channels : 0; }
    double seconds() const { return sampleRate > 0 ? static_cast<double>(frames()) / sampleRate : 0.0; }
};

// Decodes a RIFF/WAVE file held in memory: integer PCM of 8, 16, 24 or 32 bits, IEEE float of 32 or 64 bits,
// plain or in the extensible wrapper, any channel count from 1 to 32 and any rate from 1000 to 384000 Hz.
// Unknown chunks are skipped. A data chunk that claims more bytes than the file holds (as left by a writer
// that never finished) gives the whole frames that are present. Returns nullopt for anything else: wrong
// magic, truncated or missing format or data, unsupported encodings and files without a single whole frame.
// Never reads outside `bytes`, whatever the size fields say.
std::optional<PcmClip> decodeWave(QByteArrayView bytes);

// What an output device accepts, copied out of a QAudioDevice so that the choice of format can be made
// away from the thread that owns the device.
struct AudioCaps
{
    int minimumSampleRate = 0;
    int maximumSampleRate = 0;
    int minimumChannelCount = 0;
    int maximumChannelCount = 0;
    QList<QAudioFormat::SampleFormat> sampleFormats;
    QAudioFormat preferred;
};

// The format in which to send `clip` to a device: the clip's own rate and channel count where the device
// takes them, so the sound server rather than we does any resampling, and 16-bit samples where possible.
// Falls back to the device's preferred rate or channel count for whatever it does not take.
QAudioFormat chooseOutputFormat(const PcmClip &clip, const AudioCaps &caps);

// Converts `clip` to `format` (linear resampling, mono spread to every channel, several channels averaged
// down to mono) and appends `trailingSilenceMs` of silence. Some audio back ends stop a stream as soon as
// their source runs dry and drop what is still queued; the silence is what gets dropped instead of the end
// of the sound. Returns an empty array if the format is unusable or the result would exceed
// maximumRenderedBytes.
QByteArray renderPcm(const PcmClip &clip, const QAudioFormat &format, int trailingSilenceMs);

inline constexpr std::int64_t maximumRenderedBytes = 256LL * 1024 * 1024;
