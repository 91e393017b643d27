#pragma once

#include "platform/soundfile.h"

#include <QAudioFormat>
#include <QByteArray>
#include <QList>

#include <cstdint>

// What an output device accepts, copied out of a QAudioDevice (the ranges and formats by which its
// isFormatSupported() judges, and its preferredFormat()) so that the choice of format can be made away from
// the thread that owns the device.
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

// Converts `clip` to `format` (linear resampling where the rates differ, which chooseOutputFormat lets happen
// only when the device refuses the clip's own rate; mono spread to every channel, several channels averaged
// down to mono) and appends `trailingSilenceMs` of silence. Some audio back ends stop a stream as soon as
// their source runs dry and drop what is still queued; the silence is what gets dropped instead of the end
// of the sound. Returns an empty array if the format is unusable or the result would exceed
// maximumRenderedBytes.
QByteArray renderPcm(const PcmClip &clip, const QAudioFormat &format, int trailingSilenceMs);

inline constexpr std::int64_t maximumRenderedBytes = 256LL * 1024 * 1024;
