#pragma once
// The band-pass filter bank of the fingerprint engine: twelve bands spaced
// evenly on a logarithmic scale from 400 Hz to 3600 Hz, each a 4-pole
// Chebyshev high-pass at its lower edge followed by a 4-pole Chebyshev
// low-pass at its upper edge (0.5 % passband ripple).

#include <cstdint>
#include <memory>

namespace trdobj {

constexpr int kBandCount = 12;
// Only band-pass bands (high-pass, then low-pass) are ever built.
constexpr int32_t kBandPass = 2;

struct RecursiveFilter {
    // One more than the index of the last non-zero feed-forward coefficient.
    int32_t n = 0;
    // Feed-forward a[] and feedback b[]; entries 0 to 20 are designed, b[0] is 0.
    double a[22] = {};
    double b[22] = {};
    // The histories are filled forwards and their last n entries moved to the
    // front once every 100 - n samples, so no sample needs modular indexing.
    int32_t position = 0;
    double x[100] = {};
    double y[100] = {};
};

struct FingerprintBand {
    int32_t kind = 0;
    RecursiveFilter highPass;
    RecursiveFilter lowPass;
    // High-pass output of the last block; grows to the largest block seen.
    std::unique_ptr<int16_t[]> work;
    int32_t workCapacity = 0;
};

// Band edge i (0 to 12) in Hz.
double BandEdge(int i);

// Designs the twelve bands for the rate; returns the usable band count (the
// bands whose upper edge lies at or below half the rate, at least 1).
int32_t BuildBank(FingerprintBand bank[kBandCount], int32_t sampleRate);
// Cutoffs are fractions of the sample rate; they are swapped when low > high.
void DesignBand(FingerprintBand& band, double low, double high, int32_t poles);
// Designs one filter and clears its state.
void DesignChebyshev(RecursiveFilter& filter, double cutoff, bool highPass, double ripplePercent,
                     int32_t poles);
void ResetFilter(RecursiveFilter& filter);
void ResetBand(FingerprintBand& band);
// Runs count samples through the band; outputs wrap to 16 bits. The filter
// state carries over, so consecutive blocks filter as one stretch. Returns 1.
int32_t FilterBlock(FingerprintBand& band, int32_t count, const int16_t* input, int16_t* output);
// One sample through one filter; the output is truncated toward zero and
// saturated to 32 bits.
int32_t FilterSample(RecursiveFilter& filter, int32_t input);

}  // namespace trdobj
