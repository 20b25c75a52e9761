#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "audio/trdobj/band_filters.h"

using namespace trdobj;

namespace {

// Peak output amplitude of a band for a full-length sine, after settling.
double SineResponse(FingerprintBand& band, double frequency, int32_t rate) {
    const int count = rate / 2;
    std::vector<int16_t> in(count), out(count);
    for (int i = 0; i < count; ++i)
        in[i] = static_cast<int16_t>(std::lround(10000.0 * std::sin(2 * std::numbers::pi * frequency * i / rate)));
    ResetBand(band);
    FilterBlock(band, count, in.data(), out.data());
    int peak = 0;
    for (int i = count / 2; i < count; ++i) peak = std::max(peak, std::abs(static_cast<int>(out[i])));
    return peak / 10000.0;
}

}  // namespace

TEST(BandFilters, EdgesAreLogSpacedFrom400To3600) {
    const double expected[] = {400,     480.37,  576.90,  692.82,  832.03,  999.22, 1200,
                               1441.12, 1730.70, 2078.46, 2496.10, 2997.66, 3600};
    for (int i = 0; i <= 12; ++i) EXPECT_NEAR(BandEdge(i), expected[i], 0.01) << i;
}

TEST(BandFilters, Band0CoefficientsAt44100) {
    FingerprintBand bank[kBandCount];
    EXPECT_EQ(BuildBank(bank, 44100), 12);
    const FingerprintBand& band = bank[0];
    EXPECT_EQ(band.kind, kBandPass);

    const double hpA[] = {0.920000, -3.680000, 5.520000, -3.680000, 0.920000};
    const double hpB[] = {0, 3.833093, -5.513423, 3.526891, -0.846583};
    const double lpA[] = {5.81556e-7, 2.32622e-6, 3.48933e-6, 2.32622e-6, 5.81556e-7};
    const double lpB[] = {0, 3.883720, -5.660509, 3.669442, -0.892663};
    EXPECT_EQ(band.highPass.n, 5);
    EXPECT_EQ(band.lowPass.n, 5);
    for (int i = 0; i < 5; ++i) {
        // Six significant digits.
        EXPECT_NEAR(band.highPass.a[i], hpA[i], 1e-6 * std::abs(hpA[i])) << i;
        EXPECT_NEAR(band.highPass.b[i], hpB[i], 5e-7) << i;
        EXPECT_NEAR(band.lowPass.a[i], lpA[i], 1e-6 * lpA[i]) << i;
        EXPECT_NEAR(band.lowPass.b[i], lpB[i], 5e-7) << i;
    }
    for (int i = 5; i < 22; ++i) {
        EXPECT_EQ(band.highPass.a[i], 0.0);
        EXPECT_EQ(band.lowPass.b[i], 0.0);
    }
    EXPECT_EQ(band.highPass.position, 5);
}

TEST(BandFilters, HighPassHasNoResponseAtZeroFrequency) {
    for (int32_t rate : {8000, 22050, 44100, 48000}) {
        FingerprintBand bank[kBandCount];
        BuildBank(bank, rate);
        for (int i = 0; i < kBandCount; ++i) {
            double sum = 0;
            for (double a : bank[i].highPass.a) sum += a;
            EXPECT_NEAR(sum, 0.0, 1e-12) << rate << " band " << i;
        }
    }
}

TEST(BandFilters, UsableBandCount) {
    struct Case {
        int32_t rate;
        int32_t usable;
    } cases[] = {{44100, 12}, {8000, 12}, {7200, 12}, {7199, 11}, {4000, 8}, {100, 1}};
    for (const Case& c : cases) {
        FingerprintBand bank[kBandCount];
        EXPECT_EQ(BuildBank(bank, c.rate), c.usable) << c.rate;
    }
}

// Physical check of the design: the cutoffs are the -3 dB points of each
// filter, so a sine at a band's geometric centre passes at about 0.79 (near
// the Nyquist frequency a little more); a sine three times lower or higher is
// suppressed.
TEST(BandFilters, BandsPassTheirOwnFrequenciesOnly) {
    for (int32_t rate : {8000, 44100, 48000}) {
        FingerprintBand bank[kBandCount];
        BuildBank(bank, rate);
        for (int i = 0; i < kBandCount; ++i) {
            const double centre = std::sqrt(BandEdge(i) * BandEdge(i + 1));
            const double pass = SineResponse(bank[i], centre, rate);
            EXPECT_GT(pass, 0.77) << rate << " band " << i;
            EXPECT_LT(pass, 1.02) << rate << " band " << i;
            EXPECT_LT(SineResponse(bank[i], centre / 3, rate), 0.05) << rate << " band " << i;
            if (centre * 3 < rate / 2.0) {
                EXPECT_LT(SineResponse(bank[i], centre * 3, rate), 0.05) << rate << " band " << i;
            }
        }
    }
}

TEST(BandFilters, FilterSampleTruncatesAndBlockWrapsTo16Bits) {
    // A pass-through filter: a[0] = gain, nothing else.
    RecursiveFilter pass;
    pass.n = 1;
    struct Case {
        double gain;
        int32_t input;
        int32_t sample;
        int16_t stored;
    } cases[] = {
        {1.0, 40000, 40000, -25536},       {-0.7, 1, 0, 0},      {0.7, -1, 0, 0},
        {2.5, -3, -7, -7},                 {1e6, 30000, INT32_MAX, -1},
        {-1e6, 30000, INT32_MIN, 0},
    };
    for (const Case& c : cases) {
        pass.a[0] = c.gain;
        ResetFilter(pass);
        EXPECT_EQ(FilterSample(pass, c.input), c.sample) << c.gain << " x " << c.input;
    }

    FingerprintBand band;
    band.kind = kBandPass;
    band.highPass = pass;
    band.lowPass = pass;
    band.highPass.a[0] = 40000.0 / 3;
    band.lowPass.a[0] = 1.0;
    const int16_t in = 3;
    int16_t out = 0;
    EXPECT_EQ(FilterBlock(band, 1, &in, &out), 1);
    EXPECT_EQ(out, -25536);
}

TEST(BandFilters, FilterStateCarriesAcrossBlocksAndHistoryWraps) {
    FingerprintBand bank[kBandCount];
    BuildBank(bank, 44100);
    FingerprintBand& band = bank[3];
    const int count = 2705;
    std::vector<int16_t> in(count), whole(count), split(count);
    uint32_t seed = 12345;
    for (int16_t& s : in) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<int16_t>(seed >> 16);
    }
    FilterBlock(band, count, in.data(), whole.data());
    EXPECT_EQ(band.workCapacity, count);

    // Split at a point that is not a multiple of the history length.
    ResetBand(band);
    FilterBlock(band, 1000, in.data(), split.data());
    FilterBlock(band, count - 1000, in.data() + 1000, split.data() + 1000);
    EXPECT_EQ(split, whole);
    EXPECT_EQ(band.workCapacity, count);  // the smaller blocks reused the buffer

    // Against a direct evaluation over the whole stretch with plain indexing.
    const RecursiveFilter& hp = band.highPass;
    std::vector<double> x(in.begin(), in.end()), y(count, 0.0);
    std::vector<int16_t> mid(count);
    for (int i = 0; i < count; ++i) {
        double v = hp.a[0] * x[i];
        for (int k = 1; k < hp.n; ++k)
            if (i - k >= 0) v = v + std::fma(hp.a[k], x[i - k], hp.b[k] * y[i - k]);
        y[i] = v;
        mid[i] = static_cast<int16_t>(static_cast<int32_t>(v));
    }
    ResetBand(band);
    std::vector<int16_t> hpOnly(count);
    for (int i = 0; i < count; ++i) hpOnly[i] = static_cast<int16_t>(FilterSample(band.highPass, in[i]));
    EXPECT_EQ(hpOnly, mid);
}
