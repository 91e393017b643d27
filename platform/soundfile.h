#pragma once

#include <QByteArrayView>

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

// Decodes a sound file held in memory with libsndfile: wave files in any encoding it reads (integer and float
// PCM, IMA and MS ADPCM, µ-law, A-law, GSM 6.10), and FLAC, Ogg Vorbis, Opus, MP3, AIFF and the other
// containers it knows by their headers. Headerless data is never guessed at. Returns nullopt for a file it
// does not recognise or cannot decode, for fewer than one whole frame, for channel counts outside 1 to 32
// or rates outside 1000 to 384000 Hz, and for anything that decodes to more than maximumDecodedSamples
// (a small compressed file can stand for hours of sound). Never reads outside `bytes`.
std::optional<PcmClip> decodeSound(QByteArrayView bytes);

// Four minutes of CD-quality stereo, 80 MiB as floats: far more than any stage-end signal needs.
inline constexpr std::int64_t maximumDecodedSamples = 20LL * 1024 * 1024;
