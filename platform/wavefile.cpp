#include "platform/wavefile.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

enum class Encoding
{
    Integer,
    Float,
};

struct WaveFormat
{
    Encoding encoding = Encoding::Integer;
    int channels = 0;
    int sampleRate = 0;
    int bytesPerSample = 0;
};

constexpr int maximumChannels = 32;
constexpr int minimumRate = 1000;
constexpr int maximumRate = 384000;

constexpr std::uint16_t tagPcm = 0x0001;
constexpr std::uint16_t tagFloat = 0x0003;
constexpr std::uint16_t tagExtensible = 0xFFFE;

// Every caller has checked that the bytes are there; sizes are carried as 64-bit values so that adding a
// 32-bit size field to an offset can never wrap.
std::uint16_t readU16(const unsigned char *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readU32(const unsigned char *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool hasId(const unsigned char *p, const char (&id)[5])
{
    return std::memcmp(p, id, 4) == 0;
}

// The extensible wrapper names the real encoding by a GUID whose first two bytes are the classic format tag
// and whose remaining fourteen are fixed. Anything else (ambisonic or vendor formats) is not ours to play.
bool hasStandardGuidTail(const unsigned char *guid)
{
    static constexpr unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    return std::memcmp(guid + 2, tail, sizeof tail) == 0;
}

std::optional<WaveFormat> parseFormat(const unsigned char *body, std::int64_t size)
{
    if (size < 16) {
        return std::nullopt;
    }
    std::uint16_t tag = readU16(body);
    const int channels = readU16(body + 2);
    const std::uint32_t rate = readU32(body + 4);
    const int bits = readU16(body + 14);

    if (tag == tagExtensible) {
        // cbSize (2) + valid bits (2) + channel mask (4) + GUID (16) follow the classic 16 bytes.
        if (size < 40 || readU16(body + 16) < 22 || !hasStandardGuidTail(body + 24)) {
            return std::nullopt;
        }
        tag = readU16(body + 24);
    }

    WaveFormat format;
    if (tag == tagPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) {
        format.encoding = Encoding::Integer;
    } else if (tag == tagFloat && (bits == 32 || bits == 64)) {
        format.encoding = Encoding::Float;
    } else {
        return std::nullopt;
    }
    if (channels < 1 || channels > maximumChannels || rate < minimumRate || rate > maximumRate) {
        return std::nullopt;
    }
    format.channels = channels;
    format.sampleRate = static_cast<int>(rate);
    format.bytesPerSample = bits / 8;
    return format;
}

float decodeSample(const unsigned char *p, const WaveFormat &format)
{
    if (format.encoding == Encoding::Float) {
        double value = 0.0;
        if (format.bytesPerSample == 4) {
            const std::uint32_t raw = readU32(p);
            float f = 0.0f;
            std::memcpy(&f, &raw, sizeof f);
            value = f;
        } else {
            const std::uint64_t raw = readU32(p) | (static_cast<std::uint64_t>(readU32(p + 4)) << 32);
            std::memcpy(&value, &raw, sizeof value);
        }
        // Float files may legally exceed full scale and may hold NaN; neither may reach the device.
        if (std::isnan(value)) {
            return 0.0f;
        }
        return static_cast<float>(std::clamp(value, -1.0, 1.0));
    }
    switch (format.bytesPerSample) {
    case 1:
        return static_cast<float>(static_cast<int>(p[0]) - 128) / 128.0f;
    case 2:
        return static_cast<float>(static_cast<std::int16_t>(readU16(p))) / 32768.0f;
    case 3: {
        // Place the 24 bits at the top of a 32-bit word so the sign comes along, then scale back down.
        const std::uint32_t raw = (static_cast<std::uint32_t>(p[0]) << 8) | (static_cast<std::uint32_t>(p[1]) << 16) |
                                  (static_cast<std::uint32_t>(p[2]) << 24);
        return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(raw)) / 2147483648.0);
    }
    default:
        return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(readU32(p))) / 2147483648.0);
    }
}

} // namespace

std::optional<PcmClip> decodeWave(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::int64_t size = bytes.size();
    if (size < 12 || !hasId(data, "RIFF") || !hasId(data + 8, "WAVE")) {
        return std::nullopt;
    }

    // The RIFF size field is ignored: writers that were interrupted leave it wrong, and the chunk walk
    // below is bounded by the bytes actually present.
    std::optional<WaveFormat> format;
    std::int64_t dataOffset = -1;
    std::int64_t dataSize = 0;
    std::int64_t pos = 12;
    while (pos + 8 <= size) {
        const unsigned char *header = data + pos;
        const std::int64_t chunkSize = readU32(header + 4);
        const std::int64_t body = pos + 8;
        const std::int64_t available = size - body;
        if (hasId(header, "fmt ") && !format) {
            if (chunkSize > available) {
                return std::nullopt;
            }
            format = parseFormat(data + body, chunkSize);
            if (!format) {
                return std::nullopt;
            }
        } else if (hasId(header, "data") && dataOffset < 0) {
            dataOffset = body;
            dataSize = std::min(chunkSize, available);
        }
        // Chunks are padded to an even length; the pad byte is not counted in the size field.
        pos = body + chunkSize + (chunkSize & 1);
    }
    if (!format || dataOffset < 0) {
        return std::nullopt;
    }

    const std::int64_t frameBytes = static_cast<std::int64_t>(format->channels) * format->bytesPerSample;
    const std::int64_t frames = dataSize / frameBytes;
    if (frames < 1) {
        return std::nullopt;
    }

    PcmClip clip;
    clip.sampleRate = format->sampleRate;
    clip.channels = format->channels;
    clip.samples.resize(static_cast<std::size_t>(frames * format->channels));
    const unsigned char *in = data + dataOffset;
    for (float &sample : clip.samples) {
        sample = decodeSample(in, *format);
        in += format->bytesPerSample;
    }
    return clip;
}

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
