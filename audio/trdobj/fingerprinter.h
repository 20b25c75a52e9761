#pragma once
// The acoustic fingerprint engine: turns PCM into frames of 32 unsigned
// 16-bit values, each describing how the energy of twelve bands is spread
// over fixed offsets within the 20 seconds after an anchor. Anchors follow
// the strongest periodicity of the loudness envelope, so frames come about
// once per detected period.
//
// A C-style handle interface: Create allocates, Destroy frees, and every
// operation but FrameCount checks the object's magic first.

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/trdobj/band_filters.h"

namespace trdobj {

constexpr uint32_t kEngineMagic = 0x54526F62;
constexpr int kFrameValues = 32;
constexpr int32_t kFrameCapacity = 1000;
// Analysis block of the loudness envelope, in samples, whatever the rate.
constexpr int32_t kBlockSamples = 441;
constexpr int32_t kMinPeriod = 36;
constexpr int32_t kMaxPeriod = 120;
// Filter settling samples in front of every measured segment.
constexpr int32_t kSettleSamples = 500;
// Marks a value whose band is not usable at the configured rate.
constexpr uint16_t kInvalidValue = 65535;

// For frame value j: the segment starts kFrameOffsets[j] hops after the
// anchor and goes through band kFrameBands[j].
extern const int32_t kFrameOffsets[kFrameValues];
extern const int32_t kFrameBands[kFrameValues];

struct CEngineInfo {
    int32_t bandCount;   // 12
    int32_t version;     // 195
    int32_t frameBytes;  // 64
};

struct CFingerprinter {
    uint32_t magic = kEngineMagic;
    int32_t sampleRate = 20000;
    int32_t channels = 1;
    int32_t bitsPerSample = 16;
    int32_t hop = 1000;  // samples in 50 ms
    int32_t blockAlign = 2;
    int32_t frameCount = 0;
    int32_t frameCapacity = kFrameCapacity;
    std::vector<uint16_t> frames;  // frameCapacity x 32
    int32_t ringWrite = 0;
    int32_t ringRead = 0;
    int32_t ringSize = 0;
    std::vector<int16_t> ring;  // mono samples; holds at most ringSize - 1
    int32_t anchors[16] = {};
    int32_t anchorCount = 0;
    FingerprintBand bands[kBandCount];
    int32_t usableBands = 0;

    // Working storage of the analysis, sized for the configured rate. Kept
    // per engine, so engines on different threads do not interfere.
    std::vector<int16_t> smoothed;       // the window, rounded up to whole blocks; tail stays 0
    std::vector<int16_t> blockEnergies;  // one per block of the window
    std::vector<int32_t> periodSums;     // (kMaxPeriod - kMinPeriod + 1) rows x kMaxPeriod phases
    std::vector<int32_t> periodCounts;
    std::vector<int16_t> bandOutput;  // hop + kSettleSamples

    // The anchor depends only on the window that starts at the read index, so a
    // repeated attempt at the same read index reuses it (-1: none yet).
    int32_t analysedRead = -1;
    int32_t analysedAnchor = 0;
};

// Stores the address of the static engine information record; 0 for null.
int32_t EngineInfo(const CEngineInfo** info);
// Allocates and configures an engine. Throws CError -41 when memory runs out.
CFingerprinter* Create(int32_t sampleRate, int32_t channels, int32_t bitsPerSample);
// Resets the engine for a format. Rates from 8000 to 69999 Hz, one or two
// channels and at most 16 bits are accepted; anything else stops the process
// with an assertion message. Throws CError -41 when memory runs out (the
// engine is then unchanged). Does nothing on an invalid engine.
void Configure(CFingerprinter* engine, int32_t sampleRate, int32_t channels, int32_t bitsPerSample);
// Takes in little-endian PCM and makes frames as enough audio arrives.
// 1 on success; 0 for an invalid engine, or when bytes were left over (a
// partial sample frame, or input the engine had no room for). Never
// allocates: all storage is sized by Configure.
int32_t Feed(CFingerprinter* engine, int32_t count, const void* bytes);
int32_t FrameCount(const CFingerprinter* engine);
// Copies frame index into 32 values; 0 when the index is out of range.
int32_t GetFrame(const CFingerprinter* engine, int32_t index, uint16_t* values);
// Releases everything and frees the object; 0 for an invalid engine.
int32_t Destroy(CFingerprinter* engine);

// Turns 32 band energies into frame values: the deviation of each from the
// mean, scaled to unit norm around 32767. False (no frame) when the energies
// are too flat or silent. Bands at or above usableBands get kInvalidValue.
bool NormaliseEnergies(const int32_t energies[kFrameValues], int32_t usableBands,
                       uint16_t values[kFrameValues]);

struct EngineDeleter {
    void operator()(CFingerprinter* engine) const { Destroy(engine); }
};
using EnginePtr = std::unique_ptr<CFingerprinter, EngineDeleter>;

}  // namespace trdobj
