#include "audio/token.h"

#include <algorithm>
#include <new>
#include <vector>

#include "audio/pcm_decoder.h"
#include "audio/trdobj/fingerprinter.h"
#include "foundation/errors.h"
#include "foundation/text.h"

namespace {

constexpr int32_t kLeadInSeconds = 40;
// Time values count from 60 seconds into the song.
constexpr int32_t kTimeOrigin = 60;
constexpr int32_t kEnoughFrames = 14;
constexpr int32_t kLastTimeValue = 70;

void AppendToken(const char* path, char* destination, size_t capacity) {
    CPcmDecoder decoder;
    if (!decoder.DecodeFile(path, CPcmDecoder::kTokenByteLimit)) return;
    const int32_t rate = decoder.DecodedRate();
    const int32_t channels = decoder.DecodedChannels();
    // MPEG audio always meets the engine's preconditions; anything else would
    // stop the process there, so it gets no token instead.
    if (rate < 8000 || rate >= 70000 || (channels != 1 && channels != 2)) return;

    trdobj::EnginePtr engine(trdobj::Create(rate, channels, 16));
    const int32_t bytesPerSecond = rate * channels * 2;
    std::vector<uint8_t> piece(static_cast<size_t>(bytesPerSecond));

    const int32_t total = decoder.PcmBytes();
    const int32_t skip = kLeadInSeconds * bytesPerSecond;
    int32_t remaining = total;
    int32_t position = 0;
    if (skip < total) {
        decoder.SetReadPosition(skip);
        remaining = total - skip;
        position = skip;
    }

    int32_t emitted = 0;
    uint16_t values[trdobj::kFrameValues];
    char line[kTokenLineSize];
    while (remaining > 0) {
        const int32_t timeValue = position / bytesPerSecond - kTimeOrigin;
        const int32_t n = std::min(bytesPerSecond, remaining);
        decoder.ReadPcm(n, piece.data());
        trdobj::Feed(engine.get(), n, piece.data());  // a short last piece may leave a partial sample
        remaining -= n;
        position += n;

        const int32_t count = trdobj::FrameCount(engine.get());
        for (int32_t i = emitted; i < count; ++i) {
            if (trdobj::GetFrame(engine.get(), i, values) == 0) continue;
            FormatTokenEntry(values, timeValue, line, sizeof line);
            AppendBounded(destination, capacity, line);
        }
        emitted = count;
        if (count >= kEnoughFrames || timeValue >= kLastTimeValue) break;
    }
}

}  // namespace

void FormatTokenEntry(const uint16_t values[32], int32_t timeValue, char* line, size_t size) {
    if (size == 0) return;
    line[0] = '\0';
    char group[32];
    for (int g = 0; g < 8; ++g) {
        const uint16_t* v = values + 4 * g;
        FormatBounded(group, sizeof group, "%04X_%04X_%04X_%04X+", static_cast<unsigned>(v[0]),
                      static_cast<unsigned>(v[1]), static_cast<unsigned>(v[2]), static_cast<unsigned>(v[3]));
        AppendBounded(line, size, group);
    }
    FormatBounded(group, sizeof group, "%02X+$", static_cast<unsigned>(timeValue));
    AppendBounded(line, size, group);
}

void BuildToken(const char* path, char* destination, size_t capacity) {
    if (destination == nullptr || capacity == 0) return;
    destination[0] = '\0';
    if (path == nullptr) return;
    try {
        AppendToken(path, destination, capacity);
    } catch (const CError&) {
        // Out of memory (the PCM alone needs 28 MB) or an unreadable file: no token.
        destination[0] = '\0';
    } catch (const std::bad_alloc&) {
        destination[0] = '\0';
    }
}
