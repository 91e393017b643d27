#include "platform/pcmoutput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

QAudioFormat chooseOutputFormat(const PcmClip &clip, const AudioCaps &caps)
{
    QAudioFormat format;
    const bool rateFits = clip.sampleRate >= caps.minimumSampleRate && clip.sampleRate <= caps.maximumSampleRate;
    const bool channelsFit = clip.channels >= caps.minimumChannelCount && clip.channels <= caps.maximumChannelCount;
    format.setSampleRate(rateFits ? clip.sampleRate : caps.preferred.sampleRate());
    format.setChannelCount(channelsFit ? clip.channels : caps.preferred.channelCount());

    format.setSampleFormat(caps.preferred.sampleFormat());
    for (const auto candidate : {QAudioFormat::Int16, QAudioFormat::Float, QAudioFormat::Int32, QAudioFormat::UInt8}) {
        if (caps.sampleFormats.contains(candidate)) {
            format.setSampleFormat(candidate);
            break;
        }
    }
    return format;
}

namespace {

void writeSample(char *out, float value, QAudioFormat::SampleFormat format)
{
    const double v = std::clamp(static_cast<double>(value), -1.0, 1.0);
    switch (format) {
    case QAudioFormat::UInt8: {
        const auto s = static_cast<std::uint8_t>(std::lround(v * 127.0) + 128);
        std::memcpy(out, &s, sizeof s);
        break;
    }
    case QAudioFormat::Int16: {
        const auto s = static_cast<std::int16_t>(std::lround(v * 32767.0));
        std::memcpy(out, &s, sizeof s);
        break;
    }
    case QAudioFormat::Int32: {
        const auto s = static_cast<std::int32_t>(std::llround(v * 2147483647.0));
        std::memcpy(out, &s, sizeof s);
        break;
    }
    default: {
        const auto s = static_cast<float>(v);
        std::memcpy(out, &s, sizeof s);
        break;
    }
    }
}

// Output channel `outChannel` of `outChannels`, taken from one frame of the clip: mono is spread to every
// output channel, several channels are averaged into mono, and otherwise channels pass by position with
// silence on any the clip does not have.
float mixedSample(const PcmClip &clip, std::int64_t frame, int outChannel, int outChannels)
{
    const float *f = clip.samples.data() + frame * clip.channels;
    if (outChannels == 1 && clip.channels > 1) {
        float sum = 0.0f;
        for (int c = 0; c < clip.channels; ++c) {
            sum += f[c];
        }
        return sum / static_cast<float>(clip.channels);
    }
    if (clip.channels == 1) {
        return f[0];
    }
    return outChannel < clip.channels ? f[outChannel] : 0.0f;
}

} // namespace

QByteArray renderPcm(const PcmClip &clip, const QAudioFormat &format, int trailingSilenceMs)
{
    const int outRate = format.sampleRate();
    const int outChannels = format.channelCount();
    const int sampleBytes = format.bytesPerSample();
    const std::int64_t inFrames = clip.frames();
    if (outRate < 1 || outChannels < 1 || sampleBytes < 1 || clip.sampleRate < 1 || inFrames < 1 ||
        trailingSilenceMs < 0) {
        return {};
    }

    // Sizes in 64 bits and checked before allocating: an odd rate pairing must not turn a small clip into an
    // allocation that stalls or exhausts the machine.
    const std::int64_t soundFrames = (inFrames * outRate + clip.sampleRate - 1) / clip.sampleRate;
    const std::int64_t silenceFrames = static_cast<std::int64_t>(outRate) * trailingSilenceMs / 1000;
    if (soundFrames + silenceFrames > maximumRenderedBytes) {
        return {};
    }
    const std::int64_t frameBytes = static_cast<std::int64_t>(outChannels) * sampleBytes;
    const std::int64_t totalBytes = (soundFrames + silenceFrames) * frameBytes;
    if (totalBytes > maximumRenderedBytes) {
        return {};
    }

    QByteArray out(static_cast<qsizetype>(totalBytes), Qt::Uninitialized);
    char *p = out.data();
    const double step = static_cast<double>(clip.sampleRate) / outRate;
    for (std::int64_t i = 0; i < soundFrames; ++i) {
        const double at = static_cast<double>(i) * step;
        const auto left = std::min(static_cast<std::int64_t>(at), inFrames - 1);
        const std::int64_t right = std::min(left + 1, inFrames - 1);
        const auto weight = static_cast<float>(at - static_cast<double>(left));
        for (int c = 0; c < outChannels; ++c) {
            const float a = mixedSample(clip, left, c, outChannels);
            const float b = right == left ? a : mixedSample(clip, right, c, outChannels);
            writeSample(p, a + (b - a) * weight, format.sampleFormat());
            p += sampleBytes;
        }
    }
    for (std::int64_t i = 0; i < silenceFrames * outChannels; ++i) {
        writeSample(p, 0.0f, format.sampleFormat());
        p += sampleBytes;
    }
    return out;
}
