#include "platform/soundfile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <sndfile.h>

namespace {

constexpr int maximumChannels = 32;
constexpr int minimumRate = 1000;
constexpr int maximumRate = 384000;
constexpr sf_count_t framesPerRead = 4096;

// libsndfile's view of the bytes: a read-only file that can be seek'd anywhere and reads nothing beyond
// its end, so no header field can make the decoder look outside the buffer.
struct MemoryFile
{
    QByteArrayView bytes;
    sf_count_t position = 0;
};

sf_count_t memoryLength(void *user)
{
    return static_cast<MemoryFile *>(user)->bytes.size();
}

sf_count_t memorySeek(sf_count_t offset, int whence, void *user)
{
    auto *file = static_cast<MemoryFile *>(user);
    const sf_count_t size = file->bytes.size();
    sf_count_t base = 0;
    if (whence == SEEK_CUR) {
        base = file->position;
    } else if (whence == SEEK_END) {
        base = size;
    } else if (whence != SEEK_SET) {
        return -1;
    }
    // Both operands are at most the buffer's size or a header field's value; refuse what would overflow.
    if ((offset > 0 && base > std::numeric_limits<sf_count_t>::max() - offset) || base + offset < 0) {
        return -1;
    }
    file->position = base + offset;
    return file->position;
}

sf_count_t memoryRead(void *out, sf_count_t count, void *user)
{
    auto *file = static_cast<MemoryFile *>(user);
    const sf_count_t size = file->bytes.size();
    if (count <= 0 || file->position >= size) {
        return 0;
    }
    const sf_count_t n = std::min(count, size - file->position);
    std::memcpy(out, file->bytes.data() + file->position, static_cast<std::size_t>(n));
    file->position += n;
    return n;
}

sf_count_t memoryWrite(const void *, sf_count_t, void *)
{
    return 0;
}

sf_count_t memoryTell(void *user)
{
    return static_cast<MemoryFile *>(user)->position;
}

struct CloseSndfile
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};

} // namespace

std::optional<PcmClip> decodeSound(QByteArrayView bytes)
{
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    MemoryFile memory{bytes};
    SF_INFO info{};
    const std::unique_ptr<SNDFILE, CloseSndfile> file(sf_open_virtual(&io, SFM_READ, &info, &memory));
    if (!file) {
        return std::nullopt;
    }
    if (info.channels < 1 || info.channels > maximumChannels || info.samplerate < minimumRate ||
        info.samplerate > maximumRate) {
        return std::nullopt;
    }

    PcmClip clip;
    clip.sampleRate = info.samplerate;
    clip.channels = info.channels;
    // The frame count in the header is only a hint (it may be absent, estimated or false): read until the
    // decoder stops, and give up as soon as the bound is passed.
    const sf_count_t blockSamples = framesPerRead * info.channels;
    for (;;) {
        const std::size_t at = clip.samples.size();
        if (static_cast<std::int64_t>(at) > maximumDecodedSamples) {
            return std::nullopt;
        }
        clip.samples.resize(at + static_cast<std::size_t>(blockSamples));
        const sf_count_t got = sf_readf_float(file.get(), clip.samples.data() + at, framesPerRead);
        clip.samples.resize(at + static_cast<std::size_t>(std::max<sf_count_t>(got, 0) * info.channels));
        if (got <= 0) {
            break;
        }
    }
    if (clip.samples.empty() || static_cast<std::int64_t>(clip.samples.size()) > maximumDecodedSamples) {
        return std::nullopt;
    }
    // Float files may legally exceed full scale and may hold NaN; neither may reach the device.
    for (float &sample : clip.samples) {
        sample = std::isnan(sample) ? 0.0f : std::clamp(sample, -1.0f, 1.0f);
    }
    return clip;
}
