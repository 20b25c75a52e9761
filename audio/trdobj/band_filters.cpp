#include "audio/trdobj/band_filters.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace trdobj {

namespace {

constexpr int kHistory = 100;
constexpr int kDesignSize = 23;

int32_t SaturateToInt32(double y) {
    if (std::isnan(y)) return 0;
    if (y >= 2147483647.0) return INT32_MAX;
    if (y <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(y);
}

}  // namespace

double BandEdge(int i) {
    const double low = std::log(400.0);
    const double high = std::log(3600.0);
    return std::exp(low + i * (high - low) / 12.0);
}

int32_t BuildBank(FingerprintBand bank[kBandCount], int32_t sampleRate) {
    int32_t last = 0;
    for (int i = 0; i < kBandCount; ++i) {
        const double low = BandEdge(i) / sampleRate;
        const double high = BandEdge(i + 1) / sampleRate;
        if (high <= 0.5) last = i;
        DesignBand(bank[i], low, high, 4);
    }
    return last + 1;
}

void DesignBand(FingerprintBand& band, double low, double high, int32_t poles) {
    while (low > high) std::swap(low, high);
    band.kind = kBandPass;
    DesignChebyshev(band.highPass, low, true, 0.5, poles);
    DesignChebyshev(band.lowPass, high, false, 0.5, poles);
}

// The standard recursive Chebyshev design: s-plane poles warped for the
// ripple, bilinear transform, low-pass to low-pass or high-pass transform,
// two-pole sections cascaded.
void DesignChebyshev(RecursiveFilter& filter, double fc, bool hp, double pr, int32_t np) {
    const double pi = std::numbers::pi;
    double A[kDesignSize] = {};
    double B[kDesignSize] = {};
    A[2] = 1;
    B[2] = 1;
    for (int p = 1; p <= np / 2; ++p) {
        const double angle = pi / (2.0 * np) + (p - 1) * pi / np;
        double rp = -std::cos(angle);
        double ip = std::sin(angle);
        if (pr != 0) {
            const double es = std::sqrt(10000.0 / ((100.0 - pr) * (100.0 - pr)) - 1.0);
            const double vx = (1.0 / np) * std::log(1.0 / es + std::sqrt(1.0 / (es * es) + 1.0));
            double kx = (1.0 / np) * std::log(1.0 / es + std::sqrt(1.0 / (es * es) - 1.0));
            kx = (std::exp(kx) + std::exp(-kx)) * 0.5;
            rp = rp * ((std::exp(vx) - std::exp(-vx)) * 0.5) / kx;
            ip = ip * ((std::exp(vx) + std::exp(-vx)) * 0.5) / kx;
        }

        const double t = 2.0 * std::tan(0.5);
        const double m = rp * rp + ip * ip;
        const double d = 4.0 - 4.0 * rp * t + m * (t * t);
        const double x0 = (t * t) / d;
        const double x1 = 2.0 * (t * t) / d;
        const double x2 = x0;
        const double y1 = (8.0 - 2.0 * m * (t * t)) / d;
        const double y2 = (-4.0 - 4.0 * rp * t - m * (t * t)) / d;

        const double w = 2.0 * pi * fc;
        const double k = hp ? -std::cos(w / 2.0 + 0.5) / std::cos(w / 2.0 - 0.5)
                            : std::sin(0.5 - w / 2.0) / std::sin(w / 2.0 + 0.5);
        const double k2 = k * k;
        const double D = 1.0 + y1 * k - y2 * k2;
        const double a0 = (x0 - x1 * k + x2 * k2) / D;
        double a1 = (-2.0 * x0 * k + x1 + x1 * k2 - 2.0 * x2 * k) / D;
        const double a2 = (x0 * k2 - x1 * k + x2) / D;
        double b1 = (2.0 * k + y1 + y1 * k2 - 2.0 * y2 * k) / D;
        const double b2 = (-k2 - y1 * k + y2) / D;
        if (hp) {
            a1 = -a1;
            b1 = -b1;
        }

        double TA[kDesignSize];
        double TB[kDesignSize];
        std::memcpy(TA, A, sizeof A);
        std::memcpy(TB, B, sizeof B);
        for (int i = 2; i < kDesignSize; ++i) {
            A[i] = a0 * TA[i] + a1 * TA[i - 1] + a2 * TA[i - 2];
            B[i] = TB[i] - b1 * TB[i - 1] - b2 * TB[i - 2];
        }
    }

    B[2] = 0;
    for (int i = 0; i <= 20; ++i) {
        A[i] = A[i + 2];
        B[i] = -B[i + 2];
    }

    double sa = 0;
    double sb = 0;
    for (int i = 0; i <= 20; ++i) {
        // A high-pass is normalised at the Nyquist frequency, where odd taps flip sign.
        if (hp && (i & 1) != 0) {
            sa -= A[i];
            sb -= B[i];
        } else {
            sa += A[i];
            sb += B[i];
        }
    }
    const double gain = sa / (1.0 - sb);

    filter = RecursiveFilter{};
    filter.n = 1;
    for (int i = 0; i <= 20; ++i) {
        filter.a[i] = A[i] / gain;
        filter.b[i] = B[i];
        if (A[i] != 0) filter.n = i + 1;
    }
    ResetFilter(filter);
}

void ResetFilter(RecursiveFilter& filter) {
    std::memset(filter.x, 0, sizeof filter.x);
    std::memset(filter.y, 0, sizeof filter.y);
    filter.position = filter.n;
}

void ResetBand(FingerprintBand& band) {
    ResetFilter(band.highPass);
    ResetFilter(band.lowPass);
}

namespace {

// One step of a filter with N taps (0: the filter's own count); the output
// before truncation. A fixed N lets the compiler unroll the taps.
template <int N>
[[gnu::always_inline]] inline double Step(RecursiveFilter& f, double x) {
    const int32_t n = N > 0 ? N : f.n;
    const int32_t pos = f.position;
    f.x[pos] = x;
    double y = f.a[0] * x;
    for (int32_t k = 1; k < n; ++k) {
        // The feedback product is rounded on its own, then the feed-forward
        // product is fused onto it.
        const double feedback = f.b[k] * f.y[pos - k];
        y = y + std::fma(f.a[k], f.x[pos - k], feedback);
    }
    f.y[pos] = y;
    if (pos + 1 >= kHistory) {
        std::memmove(f.x, f.x + kHistory - n, sizeof(double) * n);
        std::memmove(f.y, f.y + kHistory - n, sizeof(double) * n);
        f.position = n;
    } else {
        f.position = pos + 1;
    }
    return y;
}

template <int N>
[[gnu::always_inline]] inline void Run(FingerprintBand& band, int32_t count, const int16_t* input,
                                       int16_t* work, int16_t* output) {
    // One loop for both filters, so that the processor overlaps their
    // dependency chains. Outputs keep their low 16 bits (two's complement
    // wrap), as stored samples always did.
    for (int32_t i = 0; i < count; ++i) {
        work[i] = static_cast<int16_t>(SaturateToInt32(Step<N>(band.highPass, input[i])));
        output[i] = static_cast<int16_t>(SaturateToInt32(Step<N>(band.lowPass, work[i])));
    }
}

using RunFunction = void (*)(FingerprintBand&, int32_t, const int16_t*, int16_t*, int16_t*);

void RunPlain(FingerprintBand& band, int32_t count, const int16_t* input, int16_t* work, int16_t* output) {
    // Every filter of the bank has 5 taps.
    if (band.highPass.n == 5 && band.lowPass.n == 5)
        Run<5>(band, count, input, work, output);
    else
        Run<0>(band, count, input, work, output);
}

// The hot loop of the engine. A fused multiply-add gives the same result with
// or without the instruction, so processors that have it run a build of the
// loop that saves the library call per tap, without changing any output.
// (Chosen at run time rather than through an ifunc, which sanitizers cannot
// resolve.)
[[gnu::target("fma")]] void RunFma(FingerprintBand& band, int32_t count, const int16_t* input, int16_t* work,
                                   int16_t* output) {
    if (band.highPass.n == 5 && band.lowPass.n == 5)
        Run<5>(band, count, input, work, output);
    else
        Run<0>(band, count, input, work, output);
}

void FilterRun(FingerprintBand& band, int32_t count, const int16_t* input, int16_t* work, int16_t* output) {
    static const RunFunction run = __builtin_cpu_supports("fma") ? RunFma : RunPlain;
    run(band, count, input, work, output);
}

}  // namespace

int32_t FilterSample(RecursiveFilter& f, int32_t input) {
    return SaturateToInt32(Step<0>(f, input));
}

int32_t FilterBlock(FingerprintBand& band, int32_t count, const int16_t* input, int16_t* output) {
    if (count <= 0) return 1;
    if (band.workCapacity < count) {
        band.work.reset();
        band.workCapacity = 0;
        band.work = std::make_unique_for_overwrite<int16_t[]>(static_cast<size_t>(count));
        band.workCapacity = count;
    }
    FilterRun(band, count, input, band.work.get(), output);
    return 1;
}

}  // namespace trdobj
