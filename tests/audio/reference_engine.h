#pragma once
// The fingerprint engine written out plainly over a whole stream of mono
// samples instead of a ring: prefix sums for the moving average, % for the
// periods, a stream index for every segment (samples before the stream's
// start are 0). Tests compare the engine and the token against it.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/trdobj/fingerprinter.h"

using Frame = std::vector<uint16_t>;

struct ReferenceFrame {
    Frame values;
    int64_t anchor;  // stream positions
    int64_t read;    // where the analysis that chose the anchor started
};

class ReferenceEngine {
public:
    ReferenceEngine(int32_t rate, std::vector<int16_t> mono) : rate_(rate), x_(std::move(mono)) {
        trdobj::BuildBank(bank_, rate);
    }

    // Frames in order, at most maxFrames of them.
    std::vector<ReferenceFrame> Frames(size_t maxFrames = 1000) {
        std::vector<ReferenceFrame> frames;
        const int64_t window = rate_ * 20;
        const int64_t total = static_cast<int64_t>(x_.size());
        int64_t read = 0;
        while (total - read > window && frames.size() < maxFrames) {
            const int64_t anchor = Anchor(read);
            if (total - anchor < window) break;
            int32_t energies[trdobj::kFrameValues];
            for (int j = 0; j < trdobj::kFrameValues; ++j) energies[j] = Energy(anchor, j);
            Frame frame(trdobj::kFrameValues);
            if (trdobj::NormaliseEnergies(energies, 12, frame.data())) frames.push_back({frame, anchor, read});
            read = anchor + rate_ / 6;
        }
        return frames;
    }

    std::vector<Frame> FrameValues() {
        std::vector<Frame> values;
        for (ReferenceFrame& f : Frames()) values.push_back(f.values);
        return values;
    }

private:
    int64_t Anchor(int64_t read) const {
        const int64_t window = rate_ * 20;
        std::vector<int64_t> prefix(window + 1, 0);
        for (int64_t i = 0; i < window; ++i) prefix[i + 1] = prefix[i] + x_[read + i];
        const int64_t blocks = (window + 440) / 441;
        std::vector<int32_t> smooth(blocks * 441, 0);
        for (int64_t i = 0; i < window; ++i)
            smooth[i] = static_cast<int32_t>((prefix[i + 1] - prefix[std::max<int64_t>(0, i - 19)]) / 20);

        std::vector<int32_t> energy(blocks);
        for (int64_t b = 0; b < blocks; ++b) {
            int32_t sum = 0;
            for (int k = 0; k < 441; ++k) sum += smooth[b * 441 + k];
            const int32_t mean = sum / 441;
            double s = 0;
            for (int k = 0; k < 441; ++k) s += static_cast<double>(smooth[b * 441 + k] - mean) * (smooth[b * 441 + k] - mean);
            energy[b] = static_cast<int32_t>(std::sqrt(s / 441.0));
        }

        int32_t best = 0, bestPhase = 0;
        for (int period = 36; period <= 120; ++period) {
            for (int phase = 0; phase < period; ++phase) {
                int64_t sum = 0, count = 0;
                for (int64_t b = phase; b < blocks; b += period) sum += energy[b], ++count;
                const int32_t average = count ? static_cast<int32_t>(sum / count) : 0;
                if (average > best) bestPhase = phase, best = static_cast<int32_t>(average * 1.01);
            }
        }
        int64_t position = 0;
        for (int k = 0; k < 441; ++k)
            if (std::abs(smooth[bestPhase * 441 + k]) > std::abs(smooth[bestPhase * 441 + position])) position = k;
        return read + bestPhase * 441 + position;
    }

    int32_t Energy(int64_t anchor, int j) {
        const int32_t hop = rate_ / 20;
        const int64_t start = anchor + static_cast<int64_t>(trdobj::kFrameOffsets[j]) * hop - 500;
        std::vector<int16_t> in(hop + 500), out(hop + 500);
        for (int i = 0; i < hop + 500; ++i) in[i] = start + i >= 0 ? x_[start + i] : 0;
        trdobj::FingerprintBand& band = bank_[trdobj::kFrameBands[j]];
        trdobj::ResetBand(band);
        trdobj::FilterBlock(band, hop + 500, in.data(), out.data());
        double s = 0;
        for (int i = 500; i < hop + 500; ++i) s += static_cast<double>(out[i]) * out[i];
        return static_cast<int32_t>(std::sqrt(s / hop));
    }

    int32_t rate_;
    std::vector<int16_t> x_;
    trdobj::FingerprintBand bank_[trdobj::kBandCount];
};

