// Wave decoding, conversion for the output device, the player's promise never to hold up the clock, and the
// default sounds that ship beside the program.

#include "platform/pcmoutput.h"
#include "platform/qtsoundplayer.h"
#include "platform/soundfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void putU16(QByteArray &out, std::uint32_t v)
{
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}

void putU32(QByteArray &out, std::uint32_t v)
{
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}

QByteArray chunk(const char *id, const QByteArray &body, std::optional<std::uint32_t> declaredSize = std::nullopt)
{
    QByteArray out(id, 4);
    putU32(out, declaredSize.value_or(static_cast<std::uint32_t>(body.size())));
    out.append(body);
    if (body.size() % 2 != 0) {
        out.append('\0');
    }
    return out;
}

QByteArray fmtBody(int tag, int channels, std::uint32_t rate, int bits)
{
    QByteArray out;
    putU16(out, static_cast<std::uint32_t>(tag));
    putU16(out, static_cast<std::uint32_t>(channels));
    putU32(out, rate);
    putU32(out, rate * static_cast<std::uint32_t>(channels * bits / 8));
    putU16(out, static_cast<std::uint32_t>(channels * bits / 8));
    putU16(out, static_cast<std::uint32_t>(bits));
    return out;
}

// The extensible wrapper around an ordinary tag; `guidTail` false spoils the fixed part of the GUID.
QByteArray extensibleFmtBody(int innerTag, int channels, std::uint32_t rate, int bits, bool guidTail = true)
{
    QByteArray out = fmtBody(0xFFFE, channels, rate, bits);
    putU16(out, 22);
    putU16(out, static_cast<std::uint32_t>(bits));
    putU32(out, channels == 1 ? 0x4 : 0x3);
    putU16(out, static_cast<std::uint32_t>(innerTag));
    const unsigned char tail[14] = {
        0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, static_cast<unsigned char>(guidTail ? 0x71 : 0x72)};
    out.append(reinterpret_cast<const char *>(tail), sizeof tail);
    return out;
}

QByteArray riff(const QByteArray &chunks)
{
    QByteArray out("RIFF");
    putU32(out, static_cast<std::uint32_t>(4 + chunks.size()));
    out.append("WAVE");
    out.append(chunks);
    return out;
}

QByteArray int16Samples(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values) {
        putU16(out, static_cast<std::uint32_t>(static_cast<std::uint16_t>(static_cast<std::int16_t>(v))));
    }
    return out;
}

QByteArray floatSamples(std::initializer_list<float> values)
{
    QByteArray out;
    for (const float v : values) {
        std::uint32_t raw = 0;
        std::memcpy(&raw, &v, sizeof raw);
        putU32(out, raw);
    }
    return out;
}

QByteArray simpleWave(const QByteArray &samples, int channels = 1, int bits = 16, std::uint32_t rate = 8000)
{
    return riff(chunk("fmt ", fmtBody(1, channels, rate, bits)) + chunk("data", samples));
}

QString defaultSoundPath(const QString &name)
{
    return QString::fromUtf8(KESTRIM_BINARY_DIR) + QLatin1Char('/') + name;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Counts bell strokes: a stroke is a sharp rise of the short-term peak level over what it was 30 ms before,
// above a tenth of the loudest peak; rises within 150 ms of one another belong to the same stroke.
int countOnsets(const PcmClip &clip)
{
    const std::int64_t window = clip.sampleRate / 100;
    std::vector<float> peaks;
    for (std::int64_t start = 0; start + window <= clip.frames(); start += window) {
        float peak = 0.0f;
        for (std::int64_t i = start; i < start + window; ++i) {
            peak = std::max(peak, std::abs(clip.samples[static_cast<std::size_t>(i * clip.channels)]));
        }
        peaks.push_back(peak);
    }
    const float loudest = *std::max_element(peaks.begin(), peaks.end());
    int onsets = 0;
    std::size_t lastOnset = 0;
    for (std::size_t w = 0; w < peaks.size(); ++w) {
        const float before = w >= 3 ? peaks[w - 3] : 0.0f;
        if (peaks[w] > 0.1f * loudest && peaks[w] > 1.6f * before && (onsets == 0 || w - lastOnset > 15)) {
            ++onsets;
            lastOnset = w;
        }
    }
    return onsets;
}

AudioCaps pulseLikeCaps()
{
    AudioCaps caps;
    caps.minimumSampleRate = 1;
    caps.maximumSampleRate = 192000;
    caps.minimumChannelCount = 1;
    caps.maximumChannelCount = 8;
    caps.sampleFormats = {QAudioFormat::UInt8, QAudioFormat::Int16, QAudioFormat::Int32, QAudioFormat::Float};
    caps.preferred.setSampleRate(48000);
    caps.preferred.setChannelCount(2);
    caps.preferred.setSampleFormat(QAudioFormat::Float);
    return caps;
}

QAudioFormat makeFormat(int rate, int channels, QAudioFormat::SampleFormat sampleFormat)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(channels);
    format.setSampleFormat(sampleFormat);
    return format;
}

// The clip as another program would have saved it: written by libsndfile in `format` at `rate`.
QByteArray encoded(const PcmClip &clip, int format, int rate)
{
    const QByteArray pcm = renderPcm(clip, makeFormat(rate, clip.channels, QAudioFormat::Float), 0);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("encoded"));
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = clip.channels;
    info.format = format;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr) {
        return {};
    }
    sf_writef_float(file, reinterpret_cast<const float *>(pcm.constData()), pcm.size() / 4 / clip.channels);
    sf_close(file);
    return readAll(path);
}

// Threads of this process: each worker the player starts is one.
int threadCount()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

class TestSound final : public QObject
{
    Q_OBJECT

private slots:
    void decodeSound_acceptsValidFiles_data();
    void decodeSound_acceptsValidFiles();
    void decodeSound_rejectsBrokenFiles_data();
    void decodeSound_rejectsBrokenFiles();
    void decodeSound_everyPrefixIsSafe();
    void decodeSound_randomCorruptionIsSafe();

    void chooseOutputFormat_keepsClipFormatWhereDeviceAllows_data();
    void chooseOutputFormat_keepsClipFormatWhereDeviceAllows();
    void renderPcm_convertsAndPads_data();
    void renderPcm_convertsAndPads();
    void renderPcm_resamplesAlongTheWave();
    void renderPcm_refusesUnusableRequests();

    void defaultSounds_shipBesideProgram_data();
    void defaultSounds_shipBesideProgram();
    void fallbackChime_isBuiltIn();

    void play_returnsAtOnce_data();
    void play_returnsAtOnce();
    void play_newRequestReplacesPending();
    void play_readThatNeverEnds_blocksNothing();
    void play_playerDestroyedWhileDecoding_dropsResult();
};

void TestSound::decodeSound_acceptsValidFiles_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QList<float>>("expected");

    QTest::newRow("16-bit mono") << simpleWave(int16Samples({0, 16384, -32768, 32767})) << 8000 << 1
                                 << QList<float>{0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f};
    QTest::newRow("8-bit is unsigned around 128") << simpleWave(QByteArray("\x80\x00\xff\xc0", 4), 1, 8) << 8000 << 1
                                                  << QList<float>{0.0f, -1.0f, 127.0f / 128.0f, 0.5f};
    QTest::newRow("16-bit stereo keeps interleaving") << simpleWave(int16Samples({16384, -16384, 8192, -8192}), 2)
                                                      << 8000 << 2 << QList<float>{0.5f, -0.5f, 0.25f, -0.25f};
    QTest::newRow("24-bit sign extends") << simpleWave(QByteArray("\x00\x00\x80\xff\xff\x7f\x00\x00\x40", 9), 1, 24)
                                         << 8000 << 1 << QList<float>{-1.0f, 8388607.0f / 8388608.0f, 0.5f};
    QTest::newRow("32-bit integer") << simpleWave(QByteArray("\x00\x00\x00\x80\x00\x00\x00\x40", 8), 1, 32) << 8000 << 1
                                    << QList<float>{-1.0f, 0.5f};
    QTest::newRow("float clamps and silences NaN")
        << riff(chunk("fmt ", fmtBody(3, 1, 44100, 32)) +
                chunk("data", floatSamples({0.25f, 2.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()})))
        << 44100 << 1 << QList<float>{0.25f, 1.0f, -1.0f, 0.0f};
    {
        QByteArray doubles;
        for (const double v : {0.75, -0.125}) {
            std::uint64_t raw = 0;
            std::memcpy(&raw, &v, sizeof raw);
            putU32(doubles, static_cast<std::uint32_t>(raw));
            putU32(doubles, static_cast<std::uint32_t>(raw >> 32));
        }
        QTest::newRow("64-bit float") << riff(chunk("fmt ", fmtBody(3, 1, 22050, 64)) + chunk("data", doubles)) << 22050
                                      << 1 << QList<float>{0.75f, -0.125f};
    }
    QTest::newRow("extensible 16-bit") << riff(chunk("fmt ", extensibleFmtBody(1, 1, 48000, 16)) +
                                               chunk("data", int16Samples({8192})))
                                       << 48000 << 1 << QList<float>{0.25f};
    QTest::newRow("unknown chunks before and between, odd sizes padded")
        << riff(chunk("LIST", QByteArray("abc")) + chunk("fmt ", fmtBody(1, 1, 8000, 16)) +
                chunk("junk", QByteArray("x")) + chunk("data", int16Samples({-16384})))
        << 8000 << 1 << QList<float>{-0.5f};
    {
        // A format chunk with cbSize (18 bytes) and one with trailing extension bytes of odd length.
        QByteArray fmt18 = fmtBody(1, 1, 8000, 16);
        putU16(fmt18, 0);
        QByteArray fmt19 = fmt18;
        fmt19.append('\x01');
        QTest::newRow("format chunk of 18 bytes")
            << riff(chunk("fmt ", fmt18) + chunk("data", int16Samples({16384}))) << 8000 << 1 << QList<float>{0.5f};
        QTest::newRow("format chunk of odd length")
            << riff(chunk("fmt ", fmt19) + chunk("data", int16Samples({16384}))) << 8000 << 1 << QList<float>{0.5f};
    }
    QTest::newRow("12-bit samples in 16-bit containers")
        << riff(chunk("fmt ", fmtBody(1, 1, 8000, 12)) + chunk("data", int16Samples({16384}))) << 8000 << 1
        << QList<float>{0.5f};
    QTest::newRow("data size past end keeps the whole frames present")
        << riff(chunk("fmt ", fmtBody(1, 2, 8000, 16)) + chunk("data", int16Samples({16384, 8192, -8192}), 0xFFFFFFFFu))
        << 8000 << 2 << QList<float>{0.5f, 0.25f};
    QTest::newRow("partial last frame dropped")
        << simpleWave(int16Samples({16384, 8192, 4096}), 2) << 8000 << 2 << QList<float>{0.5f, 0.25f};
    QTest::newRow("wrong RIFF size ignored") << [] {
        QByteArray file = simpleWave(int16Samples({16384}));
        file[4] = '\x02';
        file[5] = file[6] = file[7] = '\0';
        return file;
    }() << 8000 << 1 << QList<float>{0.5f};
}

void TestSound::decodeSound_acceptsValidFiles()
{
    QFETCH(QByteArray, file);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QList<float>, expected);

    const std::optional<PcmClip> clip = decodeSound(file);
    QVERIFY(clip.has_value());
    QCOMPARE(clip->sampleRate, rate);
    QCOMPARE(clip->channels, channels);
    QCOMPARE(clip->samples.size(), static_cast<std::size_t>(expected.size()));
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QVERIFY2(std::abs(clip->samples[static_cast<std::size_t>(i)] - expected[i]) < 1e-6f,
                 qPrintable(QStringLiteral("sample %1: %2, expected %3")
                                .arg(i)
                                .arg(clip->samples[static_cast<std::size_t>(i)])
                                .arg(expected[i])));
    }
}

void TestSound::decodeSound_rejectsBrokenFiles_data()
{
    QTest::addColumn<QByteArray>("file");

    const QByteArray one = int16Samples({1000});
    const QByteArray valid = simpleWave(one);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("shorter than the header") << valid.left(11);
    QTest::newRow("header only") << valid.left(12);
    QTest::newRow("wrong RIFF magic") << QByteArray("RIFX") + valid.mid(4);
    QTest::newRow("wrong WAVE magic") << valid.left(8) + QByteArray("AVI ") + valid.mid(12);
    QTest::newRow("text file") << QByteArray("This is not a sound at all, just words.\n");
    QTest::newRow("no format chunk") << riff(chunk("data", one));
    QTest::newRow("no data chunk") << riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)));
    QTest::newRow("format chunk truncated") << riff(chunk("fmt ", fmtBody(1, 1, 8000, 16))).left(30);
    QTest::newRow("format chunk too short")
        << riff(chunk("fmt ", fmtBody(1, 1, 8000, 16).left(14)) + chunk("data", one));
    QTest::newRow("zero channels") << riff(chunk("fmt ", fmtBody(1, 0, 8000, 16)) + chunk("data", one));
    QTest::newRow("33 channels") << riff(chunk("fmt ", fmtBody(1, 33, 8000, 16)) +
                                         chunk("data", QByteArray(66 * 4, '\0')));
    QTest::newRow("zero rate") << riff(chunk("fmt ", fmtBody(1, 1, 0, 16)) + chunk("data", one));
    QTest::newRow("absurd rate") << riff(chunk("fmt ", fmtBody(1, 1, 0xFFFFFFFFu, 16)) + chunk("data", one));
    // libsndfile, like the format's definition, wants the format before the data.
    QTest::newRow("format after data") << riff(chunk("data", one) + chunk("fmt ", fmtBody(1, 1, 8000, 16)));
    QTest::newRow("zero bits") << riff(chunk("fmt ", fmtBody(1, 1, 8000, 0)) + chunk("data", one));
    QTest::newRow("compressed (ADPCM)") << riff(chunk("fmt ", fmtBody(2, 1, 8000, 4)) + chunk("data", one));
    QTest::newRow("16-bit float") << riff(chunk("fmt ", fmtBody(3, 1, 8000, 16)) + chunk("data", one));
    QTest::newRow("extensible with a foreign GUID")
        << riff(chunk("fmt ", extensibleFmtBody(1, 1, 8000, 16, false)) + chunk("data", one));
    QTest::newRow("extensible too short")
        << riff(chunk("fmt ", extensibleFmtBody(1, 1, 8000, 16).left(24)) + chunk("data", one));
    QTest::newRow("absurd chunk size hides the rest") << riff(
        chunk("LIST", QByteArray("abcd"), 0xFFFFFFF0u) + chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", one));
    QTest::newRow("empty data") << riff(chunk("fmt ", fmtBody(1, 1, 8000, 16)) + chunk("data", QByteArray()));
    QTest::newRow("less than one frame") << simpleWave(QByteArray("\x01\x02\x03", 3), 2);
}

void TestSound::decodeSound_rejectsBrokenFiles()
{
    QFETCH(QByteArray, file);
    QVERIFY(!decodeSound(file).has_value());
}

// A file cut short anywhere either fails or gives the whole frames up to the cut: never garbage.
void TestSound::decodeSound_everyPrefixIsSafe()
{
    QByteArray samples;
    for (int i = 0; i < 40; ++i) {
        samples += int16Samples({i * 100, -i * 100});
    }
    const QByteArray file =
        riff(chunk("LIST", QByteArray("info!")) + chunk("fmt ", fmtBody(1, 2, 8000, 16)) + chunk("data", samples));
    const qsizetype dataStart = file.size() - samples.size();
    for (qsizetype cut = 0; cut <= file.size(); ++cut) {
        const std::optional<PcmClip> clip = decodeSound(QByteArrayView(file.constData(), cut));
        const qsizetype wholeFrames = cut > dataStart ? (cut - dataStart) / 4 : 0;
        QCOMPARE(clip.has_value(), wholeFrames > 0);
        if (clip) {
            QCOMPARE(clip->frames(), static_cast<std::int64_t>(wholeFrames));
            const std::int64_t last = clip->frames() - 1;
            QCOMPARE(clip->samples[static_cast<std::size_t>(last * 2)], static_cast<float>(last * 100) / 32768.0f);
        }
    }
}

// Mutated headers must never make the decoder read outside the buffer (run under the sanitizer preset to
// catch that) or hand back samples outside full scale.
void TestSound::decodeSound_randomCorruptionIsSafe()
{
    QByteArray samples;
    for (int i = 0; i < 64; ++i) {
        samples += floatSamples({static_cast<float>(i) / 64.0f});
    }
    const QByteArray original = riff(chunk("fmt ", extensibleFmtBody(3, 1, 44100, 32)) +
                                     chunk("cue ", QByteArray("xyz")) + chunk("data", samples));
    QRandomGenerator random(20240611);
    int decoded = 0;
    for (int round = 0; round < 5000; ++round) {
        QByteArray file = original;
        const int flips = 1 + static_cast<int>(random.bounded(4));
        for (int f = 0; f < flips; ++f) {
            // Mostly the header, where the size and format fields are.
            const auto at = static_cast<qsizetype>(random.bounded(random.bounded(2) ? 90 : original.size()));
            file[at] = static_cast<char>(random.bounded(256));
        }
        file.truncate(static_cast<qsizetype>(random.bounded(file.size() + 1)));
        const std::optional<PcmClip> clip = decodeSound(file);
        if (!clip) {
            continue;
        }
        ++decoded;
        QVERIFY(clip->channels >= 1 && clip->channels <= 32);
        QVERIFY(clip->sampleRate >= 1000 && clip->sampleRate <= 384000);
        QCOMPARE(static_cast<std::int64_t>(clip->samples.size()), clip->frames() * clip->channels);
        QVERIFY(clip->frames() * clip->channels <= file.size());
        for (const float s : clip->samples) {
            QVERIFY(s >= -1.0f && s <= 1.0f);
        }
    }
    // The mutations must leave enough files intact for the checks above to have been exercised.
    QVERIFY(decoded > 100);
}

void TestSound::chooseOutputFormat_keepsClipFormatWhereDeviceAllows_data()
{
    QTest::addColumn<int>("clipRate");
    QTest::addColumn<int>("clipChannels");
    QTest::addColumn<int>("maxRate");
    QTest::addColumn<int>("maxChannels");
    QTest::addColumn<QList<QAudioFormat::SampleFormat>>("formats");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QAudioFormat::SampleFormat>("sampleFormat");

    const QList<QAudioFormat::SampleFormat> all{QAudioFormat::UInt8, QAudioFormat::Int16, QAudioFormat::Int32,
                                                QAudioFormat::Float};
    QTest::newRow("device takes the clip as it is")
        << 44100 << 1 << 192000 << 8 << all << 44100 << 1 << QAudioFormat::Int16;
    QTest::newRow("rate too high for device") << 96000 << 1 << 48000 << 8 << all << 48000 << 1 << QAudioFormat::Int16;
    QTest::newRow("too many channels for device")
        << 44100 << 6 << 192000 << 2 << all << 44100 << 2 << QAudioFormat::Int16;
    QTest::newRow("float-only device") << 44100 << 2 << 192000 << 8 << QList{QAudioFormat::Float} << 44100 << 2
                                       << QAudioFormat::Float;
    QTest::newRow("device lists no formats")
        << 44100 << 2 << 192000 << 8 << QList<QAudioFormat::SampleFormat>{} << 44100 << 2 << QAudioFormat::Float;
}

void TestSound::chooseOutputFormat_keepsClipFormatWhereDeviceAllows()
{
    QFETCH(int, clipRate);
    QFETCH(int, clipChannels);
    QFETCH(int, maxRate);
    QFETCH(int, maxChannels);
    QFETCH(QList<QAudioFormat::SampleFormat>, formats);

    PcmClip clip;
    clip.sampleRate = clipRate;
    clip.channels = clipChannels;
    clip.samples.assign(static_cast<std::size_t>(clipChannels), 0.0f);
    AudioCaps caps = pulseLikeCaps();
    caps.maximumSampleRate = maxRate;
    caps.maximumChannelCount = maxChannels;
    caps.sampleFormats = formats;

    const QAudioFormat format = chooseOutputFormat(clip, caps);
    QTEST(format.sampleRate(), "rate");
    QTEST(format.channelCount(), "channels");
    QTEST(format.sampleFormat(), "sampleFormat");
}

void TestSound::renderPcm_convertsAndPads_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QAudioFormat::SampleFormat>("sampleFormat");
    QTest::addColumn<int>("silenceMs");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray monoHalf = simpleWave(int16Samples({16384, -16384}));
    QTest::newRow("same format, no padding")
        << monoHalf << 8000 << 1 << QAudioFormat::Int16 << 0 << int16Samples({16384, -16384});
    QTest::newRow("padding is zero samples")
        << monoHalf << 8000 << 1 << QAudioFormat::Int16 << 1 << int16Samples({16384, -16384, 0, 0, 0, 0, 0, 0, 0, 0});
    QTest::newRow("8-bit silence is 128") << monoHalf << 8000 << 1 << QAudioFormat::UInt8 << 1
                                          << QByteArray("\xc0\x40\x80\x80\x80\x80\x80\x80\x80\x80", 10);
    QTest::newRow("mono spread to stereo")
        << monoHalf << 8000 << 2 << QAudioFormat::Int16 << 0 << int16Samples({16384, 16384, -16384, -16384});
    QTest::newRow("stereo averaged to mono") << simpleWave(int16Samples({16384, 0, -16384, -8192}), 2) << 8000 << 1
                                             << QAudioFormat::Int16 << 0 << int16Samples({8192, -12288});
    QTest::newRow("stereo on a four-channel device") << simpleWave(int16Samples({16384, -8192}), 2) << 8000 << 4
                                                     << QAudioFormat::Int16 << 0 << int16Samples({16384, -8192, 0, 0});
    QTest::newRow("float output") << monoHalf << 8000 << 1 << QAudioFormat::Float << 0 << floatSamples({0.5f, -0.5f});
    QTest::newRow("32-bit output") << simpleWave(int16Samples({16384})) << 8000 << 1 << QAudioFormat::Int32 << 0
                                   << QByteArray("\x00\x00\x00\x40", 4);
    QTest::newRow("full scale does not wrap") << simpleWave(int16Samples({-32768, 32767})) << 8000 << 1
                                              << QAudioFormat::Int16 << 0 << int16Samples({-32767, 32766});
}

void TestSound::renderPcm_convertsAndPads()
{
    QFETCH(QByteArray, file);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QAudioFormat::SampleFormat, sampleFormat);
    QFETCH(int, silenceMs);
    QFETCH(QByteArray, expected);

    const std::optional<PcmClip> clip = decodeSound(file);
    QVERIFY(clip.has_value());
    QCOMPARE(renderPcm(*clip, makeFormat(rate, channels, sampleFormat), silenceMs).toHex(' '), expected.toHex(' '));
}

// Resampling must keep the shape and the length of the sound: a cut or stretched clip would play short or
// at the wrong pitch.
void TestSound::renderPcm_resamplesAlongTheWave()
{
    PcmClip ramp;
    ramp.sampleRate = 22050;
    ramp.channels = 1;
    for (int i = 0; i < 2205; ++i) {
        ramp.samples.push_back(static_cast<float>(i) / 2205.0f);
    }

    const QByteArray up = renderPcm(ramp, makeFormat(44100, 1, QAudioFormat::Float), 0);
    QCOMPARE(up.size(), qsizetype(4410 * 4));
    const auto *upSamples = reinterpret_cast<const float *>(up.constData());
    QCOMPARE(upSamples[1000], 500.0f / 2205.0f);
    QVERIFY(std::abs(upSamples[1001] - 500.5f / 2205.0f) < 1e-6f);

    const QByteArray down = renderPcm(ramp, makeFormat(8000, 1, QAudioFormat::Float), 100);
    QCOMPARE(down.size(), qsizetype((800 + 800) * 4));
    const auto *downSamples = reinterpret_cast<const float *>(down.constData());
    QVERIFY(std::abs(downSamples[400] - (400.0f * 22050.0f / 8000.0f) / 2205.0f) < 1e-5f);
    QCOMPARE(downSamples[1599], 0.0f);
}

void TestSound::renderPcm_refusesUnusableRequests()
{
    PcmClip clip;
    clip.sampleRate = 1000;
    clip.channels = 1;
    clip.samples.assign(1000, 0.5f);

    QVERIFY(renderPcm(clip, QAudioFormat(), 0).isEmpty());
    QVERIFY(renderPcm(clip, makeFormat(0, 1, QAudioFormat::Int16), 0).isEmpty());
    QVERIFY(renderPcm(clip, makeFormat(8000, 1, QAudioFormat::Unknown), 0).isEmpty());
    QVERIFY(renderPcm(clip, makeFormat(8000, 1, QAudioFormat::Int16), -1).isEmpty());
    QVERIFY(renderPcm(PcmClip{}, makeFormat(8000, 1, QAudioFormat::Int16), 0).isEmpty());
    // One second of audio upsampled to an absurd rate would need gigabytes: refused, not attempted.
    QVERIFY(renderPcm(clip, makeFormat(1'000'000'000, 2, QAudioFormat::Float), 0).isEmpty());
    QVERIFY(renderPcm(clip, makeFormat(8000, 1, QAudioFormat::Int16), std::numeric_limits<int>::max()).isEmpty());
}

// Also re-encoded in every format a user's own sound may come in: each must decode to the same strokes.
void TestSound::defaultSounds_shipBesideProgram_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("strokes");
    QTest::addColumn<int>("encoding"); // 0: the file as shipped
    QTest::addColumn<int>("rate");
    const QString one = QStringLiteral("Sound1.wav");
    const QString two = QStringLiteral("Sound2.wav");
    const QString three = QStringLiteral("Sound3.wav");
    QTest::newRow("Sound1") << one << 1 << 0 << 44100;
    QTest::newRow("Sound2") << two << 2 << 0 << 44100;
    QTest::newRow("Sound3") << three << 3 << 0 << 44100;
    QTest::newRow("IMA ADPCM wave") << two << 2 << (SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM) << 44100;
    QTest::newRow("MS ADPCM wave") << three << 3 << (SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM) << 22050;
    QTest::newRow("mu-law wave") << two << 2 << (SF_FORMAT_WAV | SF_FORMAT_ULAW) << 8000;
    QTest::newRow("A-law wave") << three << 3 << (SF_FORMAT_WAV | SF_FORMAT_ALAW) << 8000;
    QTest::newRow("GSM 6.10 wave") << two << 2 << (SF_FORMAT_WAV | SF_FORMAT_GSM610) << 8000;
    QTest::newRow("FLAC") << three << 3 << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 44100;
    QTest::newRow("Ogg Vorbis") << two << 2 << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << 44100;
    QTest::newRow("Opus") << three << 3 << (SF_FORMAT_OGG | SF_FORMAT_OPUS) << 48000;
    QTest::newRow("MP3") << two << 2 << (SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III) << 44100;
}

void TestSound::defaultSounds_shipBesideProgram()
{
    QFETCH(QString, name);
    QFETCH(int, strokes);
    QFETCH(int, encoding);
    QFETCH(int, rate);

    QByteArray bytes = readAll(defaultSoundPath(name));
    QVERIFY2(!bytes.isEmpty(), qPrintable(defaultSoundPath(name)));
    if (encoding != 0) {
        const std::optional<PcmClip> original = decodeSound(bytes);
        QVERIFY(original.has_value());
        bytes = encoded(*original, encoding, rate);
        QVERIFY(!bytes.isEmpty());
    }
    const std::optional<PcmClip> clip = decodeSound(bytes);
    QVERIFY(clip.has_value());
    QCOMPARE(clip->sampleRate, rate);
    QCOMPARE(clip->channels, 1);
    QVERIFY2(clip->seconds() >= 1.0 && clip->seconds() <= 2.0, qPrintable(QString::number(clip->seconds())));
    QCOMPARE(countOnsets(*clip), strokes);
    // Starts and ends quietly: no click when the device opens or closes the stream.
    QVERIFY(std::abs(clip->samples.front()) < 0.01f);
    QVERIFY(std::abs(clip->samples.back()) < 0.01f);
}

void TestSound::fallbackChime_isBuiltIn()
{
    const QByteArray bytes = readAll(QStringLiteral(":/sounds/fallback.wav"));
    const std::optional<PcmClip> clip = decodeSound(bytes);
    QVERIFY(clip.has_value());
    QVERIFY(clip->seconds() > 0.2 && clip->seconds() < 1.0);
    // It must not be mistaken for a stage sound.
    for (const char *name : {"Sound1.wav", "Sound2.wav", "Sound3.wav"}) {
        QVERIFY(bytes != readAll(defaultSoundPath(QString::fromLatin1(name))));
    }
}

void TestSound::play_returnsAtOnce_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("fallback");
    QTest::addColumn<int>("plays"); // stage ends naming the file, one after the other

    static QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString garbage = dir.filePath(QStringLiteral("garbage.wav"));
    const QString huge = dir.filePath(QStringLiteral("huge.wav"));
    const QString truncated = dir.filePath(QStringLiteral("truncated.wav"));
    {
        QFile file(garbage);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, '\x5a'));
    }
    {
        // Sparse: costs no disk, but a reader that trusted it would pull 21 MB in.
        QFile file(huge);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(readAll(defaultSoundPath(QStringLiteral("Sound1.wav"))));
        QVERIFY(file.resize(QtSoundPlayer::maximumFileSize + 1024 * 1024));
    }
    {
        QFile file(truncated);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(readAll(defaultSoundPath(QStringLiteral("Sound1.wav"))).left(30));
    }

    // A named pipe without a writer: opening it waits for ever, like a file on a share that stopped answering.
    const QString stuck = dir.filePath(QStringLiteral("stuck.wav"));
    QCOMPARE(::mkfifo(QFile::encodeName(stuck).constData(), 0600), 0);

    QTest::newRow("default sound") << defaultSoundPath(QStringLiteral("Sound1.wav")) << false << 1;
    QTest::newRow("empty path") << QString() << true << 1;
    QTest::newRow("missing file") << dir.filePath(QStringLiteral("nowhere.wav")) << true << 1;
    QTest::newRow("folder") << dir.path() << true << 1;
    QTest::newRow("not a wave file") << garbage << true << 1;
    QTest::newRow("truncated header") << truncated << true << 1;
    QTest::newRow("larger than the limit") << huge << true << 1;
    QTest::newRow("device that never ends") << QStringLiteral("/dev/zero") << true << 1;
    QTest::newRow("pipe nobody writes to, 20 stage ends") << stuck << true << 20;
}

void TestSound::play_returnsAtOnce()
{
    QFETCH(QString, path);
    QFETCH(bool, fallback);
    QFETCH(int, plays);

    QtSoundPlayer player;
    player.prepare();
    QSignalSpy ready(&player, &QtSoundPlayer::clipReady);
    const int threadsBefore = threadCount();

    for (int i = 0; i < plays; ++i) {
        QElapsedTimer timer;
        timer.start();
        player.play(path);
        // Generous for a loaded two-core machine; the clock ticks every 100 ms and must not notice.
        QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));
        // Reading and decoding happen elsewhere: nothing can be ready before the event loop runs again.
        QCOMPARE(ready.size(), i);

        QVERIFY(ready.wait(5000));
        QCOMPARE(ready.size(), i + 1);
        QCOMPARE(ready.at(i).at(0).toString(), path);
        QCOMPARE(ready.at(i).at(1).toBool(), fallback);
    }
    // A file that never ends holds its worker for ever; later stage ends must not add more.
    QVERIFY2(threadCount() <= threadsBefore + QtSoundPlayer::maximumDecoders,
             qPrintable(QString::number(threadCount())));
}

void TestSound::play_newRequestReplacesPending()
{
    QtSoundPlayer player;
    QSignalSpy ready(&player, &QtSoundPlayer::clipReady);

    const QString first = QStringLiteral("/nonexistent/first.wav");
    const QString second = defaultSoundPath(QStringLiteral("Sound2.wav"));
    player.play(first);
    player.play(second);
    QVERIFY(ready.wait(5000));
    // Give the overtaken request every chance to report, wrongly, after the newer one.
    QTest::qWait(300);
    QCOMPARE(ready.size(), 1);
    QCOMPARE(ready.at(0).at(0).toString(), second);
    QCOMPARE(ready.at(0).at(1).toBool(), false);

    player.play(first);
    QVERIFY(ready.wait(5000));
    QCOMPARE(ready.size(), 2);
    QCOMPARE(ready.at(1).at(0).toString(), first);
    QCOMPARE(ready.at(1).at(1).toBool(), true);
}

// A named pipe without a writer: opening it waits for ever, like a file on a share that stopped answering.
void TestSound::play_readThatNeverEnds_blocksNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pipe = dir.filePath(QStringLiteral("stuck.wav"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);

    QtSoundPlayer player;
    QSignalSpy ready(&player, &QtSoundPlayer::clipReady);
    QElapsedTimer timer;
    timer.start();
    player.play(pipe);
    QVERIFY2(timer.elapsed() < 50, qPrintable(QString::number(timer.elapsed())));

    const QString next = defaultSoundPath(QStringLiteral("Sound1.wav"));
    player.play(next);
    QVERIFY(ready.wait(5000));
    QCOMPARE(ready.size(), 1);
    QCOMPARE(ready.at(0).at(0).toString(), next);

    // Release the stuck reader; its late result belongs to an overtaken request and must be dropped.
    const int writer = ::open(QFile::encodeName(pipe).constData(), O_WRONLY);
    QVERIFY(writer >= 0);
    ::close(writer);
    QTest::qWait(300);
    QCOMPARE(ready.size(), 1);
}

void TestSound::play_playerDestroyedWhileDecoding_dropsResult()
{
    {
        QtSoundPlayer gone;
        gone.play(defaultSoundPath(QStringLiteral("Sound3.wav")));
    }
    // A new player may well sit where the old one was. The old worker finishes meanwhile; its result must
    // vanish instead of reaching freed memory or whatever object now lives there.
    QtSoundPlayer player;
    QSignalSpy ready(&player, &QtSoundPlayer::clipReady);
    const QString missing = QStringLiteral("/nonexistent/own.wav");
    player.play(missing);
    QVERIFY(ready.wait(5000));
    QTest::qWait(300);
    QCOMPARE(ready.size(), 1);
    QCOMPARE(ready.at(0).at(0).toString(), missing);
}

QTEST_MAIN(TestSound)
#include "tst_sound.moc"
