#include "audio/trdobj/fingerprinter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/errors.h"

namespace trdobj {

const int32_t kFrameOffsets[kFrameValues] = {1,   2,   3,   5,   36,  47,  58,  66,  66,  69,  77,
                                             121, 140, 145, 151, 178, 191, 205, 212, 225, 228, 234,
                                             240, 242, 265, 284, 298, 323, 329, 343, 358, 395};
const int32_t kFrameBands[kFrameValues] = {5, 4, 3, 2, 10, 7, 9, 5, 8, 11, 0, 5, 6, 2, 3, 6,
                                           9, 1, 8, 4, 7,  9, 4, 1, 0, 6,  8, 7, 10, 11, 3, 2};

namespace {

constexpr int32_t kPeriodRows = kMaxPeriod - kMinPeriod + 1;
constexpr int32_t kSmoothTaps = 20;

const CEngineInfo kEngineInfo = {kBandCount, 195, kFrameValues * 2};

[[noreturn]] void AssertionFailed(unsigned line, const char* condition) {
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", "trdobj", line, condition);
    std::fflush(stderr);
    std::abort();
}

#define TRDOBJ_ASSERT(condition) \
    do {                         \
        if (!(condition)) AssertionFailed(__LINE__, #condition); \
    } while (0)

bool IsValid(const CFingerprinter* engine) {
    return engine != nullptr && engine->magic == kEngineMagic;
}

// The anchor can lie up to 120 blocks of 441 samples into the window, and
// the settling run of a segment can start up to 500 samples before it (at
// rates below 10 kHz). A 22-second ring has room for both only from about
// 26.7 kHz up; below, a ring too short would stall on the same anchor for
// good and drop all later input, so it gets room for the window, that reach,
// the settling run and one second of input.
int32_t RingSizeFor(int32_t rate) {
    const int32_t window = rate * 20;
    const int32_t needed = window + kMaxPeriod * kBlockSamples + kSettleSamples;
    const int32_t ring = rate * 22;
    return ring < needed ? needed + rate : ring;
}

int32_t RingFill(const CFingerprinter& e) {
    return (e.ringWrite - e.ringRead + e.ringSize) % e.ringSize;
}

// Moving average over 20 samples of the window that starts at the read index;
// positions before the window's start count as 0. The window is first copied
// out of the ring and then averaged in place, keeping the last 20 raw samples
// aside, so the hot loop neither wraps nor branches.
void SmoothWindow(CFingerprinter& e, int32_t window) {
    int16_t* out = e.smoothed.data();
    const int32_t first = std::min(window, e.ringSize - e.ringRead);
    std::memcpy(out, e.ring.data() + e.ringRead, sizeof(int16_t) * first);
    std::memcpy(out + first, e.ring.data(), sizeof(int16_t) * (window - first));

    int16_t raw[32] = {};
    int32_t sum = 0;
    for (int32_t i = 0; i < window; ++i) {
        const int16_t v = out[i];
        sum += v - raw[(i - kSmoothTaps) & 31];
        raw[i & 31] = v;
        out[i] = static_cast<int16_t>(sum / kSmoothTaps);
    }
}

// Root-mean-square deviation of each block of the smoothed window; returns
// the number of blocks. The last block may reach into the zero tail.
int32_t ComputeBlockEnergies(CFingerprinter& e, int32_t window) {
    int32_t blocks = 0;
    for (int32_t start = 0; start < window; start += kBlockSamples, ++blocks) {
        const int16_t* p = e.smoothed.data() + start;
        int32_t sum = 0;
        for (int32_t k = 0; k < kBlockSamples; ++k) sum += p[k];
        const int32_t mean = sum / kBlockSamples;
        // Each square is below 2^32 and 441 of them stay far below 2^53, so
        // the integer sum is exactly what summing them as doubles in order
        // gives. 64-bit, so that a block spanning the full range cannot overflow.
        int64_t squares = 0;
        for (int32_t k = 0; k < kBlockSamples; ++k) {
            const int64_t d = p[k] - mean;
            squares += d * d;
        }
        e.blockEnergies[blocks] =
            static_cast<int16_t>(std::sqrt(static_cast<double>(squares) / kBlockSamples));
    }
    return blocks;
}

// The phase of the period (36 to 120 blocks) whose average block energy is
// highest; a later candidate must beat the best by more than 1 %.
int32_t StrongestPhase(CFingerprinter& e, int32_t blocks) {
    const int16_t* energy = e.blockEnergies.data();
    for (int32_t period = kMinPeriod; period <= kMaxPeriod; ++period) {
        int32_t* sums = e.periodSums.data() + (period - kMinPeriod) * kMaxPeriod;
        int32_t* counts = e.periodCounts.data() + (period - kMinPeriod) * kMaxPeriod;
        std::memset(sums, 0, sizeof(int32_t) * period);
        int32_t phase = 0;
        for (int32_t b = 0; b < blocks; ++b) {
            sums[phase] += energy[b];
            if (++phase == period) phase = 0;
        }
        for (phase = 0; phase < period; ++phase) {
            counts[phase] = blocks / period + (phase < blocks % period ? 1 : 0);
            if (counts[phase] != 0) sums[phase] /= counts[phase];
        }
    }
    int32_t best = 0;
    int32_t bestPhase = 0;
    for (int32_t period = kMinPeriod; period <= kMaxPeriod; ++period) {
        const int32_t* averages = e.periodSums.data() + (period - kMinPeriod) * kMaxPeriod;
        for (int32_t phase = 0; phase < period; ++phase) {
            if (averages[phase] > best) {
                bestPhase = phase;
                best = static_cast<int32_t>(averages[phase] * 1.01);
            }
        }
    }
    return bestPhase;
}

// Analyses the 20 seconds from the read index on and returns the anchor: the
// loudest smoothed sample of the first block of the strongest phase.
int32_t ChooseAnchor(CFingerprinter& e) {
    if (e.analysedRead == e.ringRead) return e.analysedAnchor;
    const int32_t window = e.sampleRate * 20;
    SmoothWindow(e, window);
    const int32_t blocks = ComputeBlockEnergies(e, window);
    const int32_t phase = StrongestPhase(e, blocks);

    const int16_t* block = e.smoothed.data() + phase * kBlockSamples;
    int32_t loudest = 0;
    int32_t position = 0;
    for (int32_t k = 0; k < kBlockSamples; ++k) {
        const int32_t magnitude = std::abs(static_cast<int32_t>(block[k]));
        if (magnitude > loudest) {
            loudest = magnitude;
            position = k;
        }
    }
    const int32_t anchor = static_cast<int32_t>(
        (static_cast<int64_t>(e.ringRead) + phase * kBlockSamples + position) % e.ringSize);
    e.anchors[0] = anchor;
    e.anchorCount = 1;
    e.analysedRead = e.ringRead;
    e.analysedAnchor = anchor;
    return anchor;
}

// Energy of one frame table segment: its band's output over hop samples,
// after kSettleSamples that only settle the filter.
int32_t SegmentEnergy(CFingerprinter& e, int32_t anchor, int32_t j) {
    const int32_t length = e.hop;
    const int32_t pre = kFrameOffsets[j] > 0 ? kSettleSamples : 0;
    // Below 10 kHz the settling run can start before ring index 0 (hop 400,
    // 500 settling samples): wrap it to a non-negative index.
    int64_t start = (static_cast<int64_t>(anchor) + static_cast<int64_t>(kFrameOffsets[j]) * length - pre) %
                    e.ringSize;
    if (start < 0) start += e.ringSize;

    FingerprintBand& band = e.bands[kFrameBands[j]];
    ResetBand(band);
    const int32_t count = length + pre;
    const int32_t first = static_cast<int32_t>(std::min<int64_t>(count, e.ringSize - start));
    int16_t* out = e.bandOutput.data();
    FilterBlock(band, first, e.ring.data() + start, out);
    if (first < count) FilterBlock(band, count - first, e.ring.data(), out + first);

    // Squares of 16-bit outputs summed over at most 3,500 samples stay below
    // 2^53: the integer sum equals the in-order double sum.
    int64_t squares = 0;
    for (int32_t i = pre; i < count; ++i) {
        const int32_t v = out[i];
        squares += v * v;
    }
    return static_cast<int32_t>(std::sqrt(static_cast<double>(squares) / length));
}

void MakeFrame(CFingerprinter& e, int32_t anchor) {
    int32_t energies[kFrameValues];
    for (int32_t j = 0; j < kFrameValues; ++j) energies[j] = SegmentEnergy(e, anchor, j);
    if (e.frameCount >= e.frameCapacity) return;
    uint16_t* frame = e.frames.data() + static_cast<size_t>(e.frameCount) * kFrameValues;
    if (NormaliseEnergies(energies, e.usableBands, frame)) ++e.frameCount;
}

// Makes frames while more than 20 seconds are held and 20 seconds follow the
// anchor; every attempt moves the read index a sixth of a second past it.
void Process(CFingerprinter& e) {
    const int32_t window = e.sampleRate * 20;
    while (RingFill(e) > window) {
        const int32_t anchor = ChooseAnchor(e);
        if ((e.ringSize + e.ringWrite - anchor) % e.ringSize < window) break;
        MakeFrame(e, anchor);
        e.ringRead = (anchor + e.sampleRate / 6) % e.ringSize;
    }
}

// Stores as many whole sample frames as the ring has room for, mixed to
// mono, then processes; returns the bytes taken in.
int32_t TakeIn(CFingerprinter& e, int32_t count, const uint8_t* bytes) {
    if (e.blockAlign <= 0 || e.bitsPerSample <= 0) return 0;
    int32_t n = count / e.blockAlign;
    // The samples just before the read index stay untouched: a segment's
    // settling run may start there.
    const int32_t room = e.ringSize - 1 - kSettleSamples - RingFill(e);
    if (n > room) n = std::max(room, 0);

    const int32_t width = (e.bitsPerSample + 7) / 8;
    const int32_t full = 1 << e.bitsPerSample;
    const double divisor = static_cast<double>(e.channels) * full;
    const uint8_t* p = bytes;
    for (int32_t i = 0; i < n; ++i) {
        int32_t sum = 0;
        for (int32_t c = 0; c < e.channels; ++c) {
            int32_t value = 0;
            for (int32_t k = 0; k < width; ++k) value |= static_cast<int32_t>(p[k]) << (8 * k);
            if ((p[width - 1] & 0x80) != 0) value -= full;
            sum += value;
            p += width;
        }
        e.ring[e.ringWrite] = static_cast<int16_t>(static_cast<int32_t>(sum / divisor * 65534.0));
        if (++e.ringWrite == e.ringSize) e.ringWrite = 0;
    }
    Process(e);
    return n * e.blockAlign;
}

}  // namespace

bool NormaliseEnergies(const int32_t energies[kFrameValues], int32_t usableBands,
                       uint16_t values[kFrameValues]) {
    double total = 0;
    for (int32_t j = 0; j < kFrameValues; ++j) total += static_cast<double>(energies[j]);
    const double mean = total * 0.03125;
    // Silence: nothing to normalise (the norm would not be a number).
    if (mean == 0) return false;

    double d[kFrameValues];
    double squares = 0;
    for (int32_t j = 0; j < kFrameValues; ++j) {
        d[j] = energies[j] / mean - 1.0;
        squares = std::fma(d[j], d[j], squares);
    }
    const double norm = std::sqrt(squares);
    if (!(norm > 0.1)) return false;

    for (int32_t j = 0; j < kFrameValues; ++j) {
        if (kFrameBands[j] >= usableBands) {
            values[j] = kInvalidValue;
            continue;
        }
        int32_t v = static_cast<int32_t>(d[j] / norm * 32767.0) + 32767;
        if (v < 0) v = 0;
        if (v > 65534) v = 65534;
        values[j] = static_cast<uint16_t>(v);
    }
    return true;
}

int32_t EngineInfo(const CEngineInfo** info) {
    if (info == nullptr) return 0;
    *info = &kEngineInfo;
    return 1;
}

CFingerprinter* Create(int32_t sampleRate, int32_t channels, int32_t bitsPerSample) {
    std::unique_ptr<CFingerprinter> engine;
    try {
        engine = std::make_unique<CFingerprinter>();
    } catch (const std::bad_alloc&) {
        throw CError{eOutOfMemory};
    }
    Configure(engine.get(), sampleRate, channels, bitsPerSample);
    return engine.release();
}

void Configure(CFingerprinter* engine, int32_t sampleRate, int32_t channels, int32_t bitsPerSample) {
    if (!IsValid(engine)) return;
    const int32_t samSec = sampleRate;
    const int32_t chanSam = channels;
    const int32_t bitsChan = bitsPerSample;
    // Checked before anything is sized from the values, so that a bad rate
    // stops here rather than in an allocation.
    TRDOBJ_ASSERT(chanSam == 1 || chanSam == 2);
    TRDOBJ_ASSERT(bitsChan <= 16);
    TRDOBJ_ASSERT(samSec < 70000 && samSec >= 8000);

    CFingerprinter& e = *engine;
    const int32_t window = sampleRate * 20;
    const int32_t blocks = (window + kBlockSamples - 1) / kBlockSamples;
    const int32_t ringSize = RingSizeFor(sampleRate);
    const int32_t hop = sampleRate / 20;
    try {
        // Everything is allocated before anything changes, so running out of
        // memory leaves the engine as it was.
        std::vector<uint16_t> frames(static_cast<size_t>(kFrameCapacity) * kFrameValues);
        std::vector<int16_t> ring(ringSize);
        std::vector<int16_t> smoothed(static_cast<size_t>(blocks) * kBlockSamples);
        std::vector<int16_t> energies(blocks);
        std::vector<int32_t> sums(kPeriodRows * kMaxPeriod);
        std::vector<int32_t> counts(kPeriodRows * kMaxPeriod);
        std::vector<int16_t> bandOutput(hop + kSettleSamples);
        // Work buffers at their final size now, so that Feed never allocates.
        std::unique_ptr<int16_t[]> work[kBandCount];
        for (auto& buffer : work) buffer = std::make_unique_for_overwrite<int16_t[]>(hop + kSettleSamples);
        for (int i = 0; i < kBandCount; ++i) {
            e.bands[i].work = std::move(work[i]);
            e.bands[i].workCapacity = hop + kSettleSamples;
        }
        e.frames = std::move(frames);
        e.ring = std::move(ring);
        e.smoothed = std::move(smoothed);
        e.blockEnergies = std::move(energies);
        e.periodSums = std::move(sums);
        e.periodCounts = std::move(counts);
        e.bandOutput = std::move(bandOutput);
    } catch (const std::bad_alloc&) {
        throw CError{eOutOfMemory};
    }

    e.sampleRate = sampleRate;
    e.channels = channels;
    e.bitsPerSample = bitsPerSample;
    e.frameCapacity = kFrameCapacity;
    e.hop = hop;
    e.blockAlign = channels * ((bitsPerSample + 7) / 8);
    e.frameCount = 0;
    e.ringWrite = 0;
    e.ringRead = 0;
    e.anchorCount = 0;
    e.ringSize = ringSize;
    e.analysedRead = -1;
    e.usableBands = BuildBank(e.bands, sampleRate);
}

int32_t Feed(CFingerprinter* engine, int32_t count, const void* bytes) {
    if (!IsValid(engine)) return 0;
    if (count <= 0) return 1;
    if (bytes == nullptr) return 0;
    CFingerprinter& e = *engine;
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    while (e.frameCount < e.frameCapacity) {
        const int32_t taken = TakeIn(e, count, p);
        if (taken == 0) return 0;
        p += taken;
        count -= taken;
        if (count == 0) return 1;
    }
    // Enough frames: further input is ignored.
    return 1;
}

int32_t FrameCount(const CFingerprinter* engine) {
    return engine != nullptr ? engine->frameCount : 0;
}

int32_t GetFrame(const CFingerprinter* engine, int32_t index, uint16_t* values) {
    if (!IsValid(engine) || values == nullptr) return 0;
    if (index < 0 || index >= engine->frameCount) return 0;
    std::memcpy(values, engine->frames.data() + static_cast<size_t>(index) * kFrameValues,
                sizeof(uint16_t) * kFrameValues);
    return 1;
}

int32_t Destroy(CFingerprinter* engine) {
    if (!IsValid(engine)) return 0;
    engine->magic = 0;
    delete engine;  // allocated by Create, which hands ownership to the caller
    return 1;
}

}  // namespace trdobj
