#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "audio/trdobj/fingerprinter.h"
#include "reference_engine.h"

using namespace trdobj;

namespace {

// Interleaved 16-bit PCM, little-endian.
struct Pcm {
    int32_t rate;
    int32_t channels;
    std::vector<int16_t> samples;

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> bytes(samples.size() * 2);
        for (size_t i = 0; i < samples.size(); ++i) {
            bytes[2 * i] = static_cast<uint8_t>(samples[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>((samples[i] >> 8) & 0xFF);
        }
        return bytes;
    }
    // The engine's mono mix.
    std::vector<int16_t> Mono() const {
        std::vector<int16_t> mono(samples.size() / channels);
        for (size_t i = 0; i < mono.size(); ++i) {
            int32_t sum = 0;
            for (int c = 0; c < channels; ++c) sum += samples[i * channels + c];
            mono[i] = static_cast<int16_t>(static_cast<int32_t>(sum / (channels * 65536.0) * 65534.0));
        }
        return mono;
    }
};

// Something with a beat: decaying tone bursts every `beat` seconds, each at
// one of a few pitches picked by a fixed-seed generator, over quiet noise.
Pcm MakeMusic(int32_t rate, int32_t channels, double seconds, double beat, uint32_t seed) {
    std::mt19937 rng(seed);
    const double pitches[] = {330, 440, 620, 880, 1250, 1760, 2500, 3300};
    Pcm pcm{rate, channels, {}};
    const int64_t frames = static_cast<int64_t>(seconds * rate);
    pcm.samples.reserve(frames * channels);
    int64_t beatIndex = -1;
    double pitch = 440;
    for (int64_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int64_t b = static_cast<int64_t>(t / beat);
        if (b != beatIndex) {
            beatIndex = b;
            pitch = pitches[rng() % 8];
        }
        const double inBeat = t - b * beat;
        const double noise = (static_cast<double>(rng() >> 16) - 32768.0) / 32768.0;
        const double s = 20000.0 * std::exp(-6.0 * inBeat) * std::sin(2 * std::numbers::pi * pitch * t) +
                         1500.0 * noise;
        pcm.samples.push_back(static_cast<int16_t>(s));
        if (channels == 2) pcm.samples.push_back(static_cast<int16_t>(0.7 * s - 800.0 * noise));
    }
    return pcm;
}

// Mono bursts at first + k * period samples: a 20-sample click of 30000
// (its end is the loudest point of the moving average), then `noise` samples
// of fixed-seed noise within +-8000; silence between bursts.
Pcm MakeBursts(int32_t rate, int64_t frames, int64_t first, int64_t period, int64_t noise) {
    std::mt19937 rng(99);
    Pcm pcm{rate, 1, std::vector<int16_t>(frames, 0)};
    for (int64_t start = first; start < frames; start += period) {
        for (int64_t i = start; i < std::min(frames, start + 20); ++i) pcm.samples[i] = 30000;
        for (int64_t i = start + 20; i < std::min(frames, start + 20 + noise); ++i)
            pcm.samples[i] = static_cast<int16_t>(static_cast<int32_t>(rng() % 16001) - 8000);
    }
    return pcm;
}

// Feeds the PCM in pieces of `piece` bytes (0: all at once); every call must
// take everything in.
EnginePtr FeedAll(const Pcm& pcm, int32_t piece) {
    EnginePtr engine(Create(pcm.rate, pcm.channels, 16));
    const std::vector<uint8_t> bytes = pcm.Bytes();
    const int32_t total = static_cast<int32_t>(bytes.size());
    if (piece <= 0) piece = total;
    for (int32_t at = 0; at < total; at += piece) {
        const int32_t n = std::min(piece, total - at);
        EXPECT_EQ(Feed(engine.get(), n, bytes.data() + at), 1) << "at byte " << at;
    }
    return engine;
}

std::vector<Frame> AllFrames(const CFingerprinter* engine) {
    std::vector<Frame> frames(FrameCount(engine), Frame(kFrameValues));
    for (int32_t i = 0; i < FrameCount(engine); ++i) EXPECT_EQ(GetFrame(engine, i, frames[i].data()), 1);
    return frames;
}

}  // namespace

TEST(Fingerprinter, ConfigureSizesForTheRate) {
    struct Case {
        int32_t rate, channels, bits;
        int32_t hop, blockAlign, ringSize;
    } cases[] = {
        {44100, 2, 16, 2205, 4, 970200},
        {48000, 2, 16, 2400, 4, 1056000},
        {32000, 1, 16, 1600, 2, 704000},
        // Below about 26.7 kHz the ring grows beyond 22 seconds (see the 8 kHz test).
        {22050, 1, 16, 1102, 2, 441000 + 52920 + 500 + 22050},
        {8000, 2, 8, 400, 2, 160000 + 52920 + 500 + 8000},
    };
    for (const Case& c : cases) {
        EnginePtr engine(Create(c.rate, c.channels, c.bits));
        ASSERT_NE(engine, nullptr);
        EXPECT_EQ(engine->magic, kEngineMagic);
        EXPECT_EQ(engine->hop, c.hop) << c.rate;
        EXPECT_EQ(engine->blockAlign, c.blockAlign) << c.rate;
        EXPECT_EQ(engine->ringSize, c.ringSize) << c.rate;
        EXPECT_EQ(engine->usableBands, 12) << c.rate;
        EXPECT_EQ(engine->frameCapacity, 1000);
        EXPECT_EQ(FrameCount(engine.get()), 0);
        // The window rounded up to whole blocks, so the last block never reads past it.
        EXPECT_EQ(engine->smoothed.size() % 441, 0u);
        EXPECT_GE(engine->smoothed.size(), static_cast<size_t>(c.rate) * 20);
        EXPECT_LT(engine->smoothed.size(), static_cast<size_t>(c.rate) * 20 + 441);
    }
    const CEngineInfo* info = nullptr;
    ASSERT_EQ(EngineInfo(&info), 1);
    EXPECT_EQ(info->bandCount, 12);
    EXPECT_EQ(info->version, 195);
    EXPECT_EQ(info->frameBytes, 64);
    EXPECT_EQ(EngineInfo(nullptr), 0);
}

TEST(FingerprinterDeathTest, ViolatedPreconditionsAbortWithAssertion) {
    struct Case {
        int32_t rate, channels, bits;
        const char* message;
    } cases[] = {
        {44100, 3, 16, "chanSam == 1 \\|\\| chanSam == 2"},
        {44100, 0, 24, "chanSam == 1 \\|\\| chanSam == 2"},  // checked first
        {44100, 2, 24, "bitsChan <= 16"},
        {70000, 2, 16, "samSec < 70000 && samSec >= 8000"},
        {7999, 1, 16, "samSec < 70000 && samSec >= 8000"},
        {-5, 1, 16, "samSec < 70000 && samSec >= 8000"},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Case& c : cases) {
        const std::string pattern = std::string("^trdobj:[0-9]+: failed assertion `") + c.message + "'\n$";
        EXPECT_DEATH(Create(c.rate, c.channels, c.bits), pattern) << c.rate << "/" << c.channels << "/" << c.bits;
    }
    // Also when an existing engine is configured again.
    EnginePtr engine(Create(44100, 2, 16));
    EXPECT_DEATH(Configure(engine.get(), 44100, 2, 17), "failed assertion `bitsChan <= 16'");
}

TEST(Fingerprinter, InvalidEngineAndOutOfRangeFrames) {
    uint16_t frame[kFrameValues];
    EXPECT_EQ(Feed(nullptr, 4, "abcd"), 0);
    EXPECT_EQ(GetFrame(nullptr, 0, frame), 0);
    EXPECT_EQ(Destroy(nullptr), 0);
    EXPECT_EQ(FrameCount(nullptr), 0);
    Configure(nullptr, 44100, 2, 16);  // does nothing

    EnginePtr engine(Create(44100, 2, 16));
    engine->magic = 0;  // as after Destroy
    EXPECT_EQ(Feed(engine.get(), 4, "abcd"), 0);
    Configure(engine.get(), 48000, 2, 16);
    EXPECT_EQ(engine->sampleRate, 44100);
    EXPECT_EQ(Destroy(engine.get()), 0);
    engine->magic = kEngineMagic;

    EXPECT_EQ(GetFrame(engine.get(), -1, frame), 0);
    EXPECT_EQ(GetFrame(engine.get(), 0, frame), 0);
    EXPECT_EQ(Feed(engine.get(), 0, nullptr), 1);
    EXPECT_EQ(Feed(engine.get(), -3, nullptr), 1);
}

TEST(Fingerprinter, FeedMixesToMonoAndTakesWholeSampleFrames) {
    struct Case {
        int32_t channels, bits;
        std::vector<uint8_t> bytes;
        int16_t mono;
    } cases[] = {
        {2, 16, {0xFF, 0x7F, 0xFF, 0x7F}, 32766},  // full-scale positive
        {2, 16, {0x00, 0x80, 0x00, 0x80}, -32767},
        {1, 16, {0xFF, 0x7F}, 32766},  // 32767 / 65536 * 65534 = 32766.00003
        {1, 16, {0x00, 0x80}, -32767},
        {2, 16, {0xE8, 0x03, 0x18, 0xFC}, 0},  // 1000 and -1000
        {2, 16, {0x64, 0x00, 0x00, 0x00}, 49},  // 100 / 131072 * 65534 = 49.99
        {2, 16, {0x9C, 0xFF, 0x00, 0x00}, -49},
        {1, 8, {0x80}, -32767},  // bit 7 set: -128
        {1, 8, {0x7F}, 32511},   // 127 / 256 * 65534 = 32511.03
    };
    for (const Case& c : cases) {
        EnginePtr engine(Create(8000, c.channels, c.bits));
        EXPECT_EQ(Feed(engine.get(), static_cast<int32_t>(c.bytes.size()), c.bytes.data()), 1);
        EXPECT_EQ(engine->ringWrite, 1);
        EXPECT_EQ(engine->ring[0], c.mono) << c.channels << "ch " << c.bits << " bits";
    }

    // Seven bytes of 16-bit stereo: one sample frame is taken, the rest is refused.
    EnginePtr engine(Create(44100, 2, 16));
    const uint8_t seven[7] = {1, 0, 1, 0, 9, 9, 9};
    EXPECT_EQ(Feed(engine.get(), 7, seven), 0);
    EXPECT_EQ(engine->ringWrite, 1);
}

TEST(Fingerprinter, NormalisesDeviationsFromTheMean) {
    struct Case {
        const char* what;
        int32_t base;   // energy of every value ...
        int32_t from;   // ... below this index,
        int32_t other;  // this one from there on
        bool made;
        uint16_t low, high;
    } cases[] = {
        {"norm 1.8856", 100, 16, 200, true, 26975, 38559},
        {"norm 0.3118", 100, 31, 132, true, 31727, 65017},
        {"norm 0.0295", 100, 31, 103, false, 0, 0},
        {"flat", 100, 0, 100, false, 0, 0},
        {"silence", 0, 0, 0, false, 0, 0},
        {"one loud value", 0, 31, 1000, true, 31727, 65017},
    };
    for (const Case& c : cases) {
        int32_t energies[kFrameValues];
        for (int j = 0; j < kFrameValues; ++j) energies[j] = j < c.from ? c.base : c.other;
        uint16_t values[kFrameValues] = {};
        ASSERT_EQ(NormaliseEnergies(energies, 12, values), c.made) << c.what;
        if (!c.made) continue;
        for (int j = 0; j < kFrameValues; ++j) EXPECT_EQ(values[j], j < c.from ? c.low : c.high) << c.what << " " << j;
    }

    // Values of a band that is not usable are marked; values 9 and 29 use band 11.
    int32_t energies[kFrameValues];
    for (int j = 0; j < kFrameValues; ++j) energies[j] = j < 16 ? 100 : 200;
    uint16_t values[kFrameValues];
    ASSERT_TRUE(NormaliseEnergies(energies, 11, values));
    EXPECT_EQ(values[9], kInvalidValue);
    EXPECT_EQ(values[29], kInvalidValue);
    EXPECT_EQ(values[0], 26975);
}

// The first frame needs more than 20 seconds: with a burst every second whose
// loudest point is sample 19, the anchor is that sample and the first frame
// comes with the 19th sample frame beyond 20 seconds.
TEST(Fingerprinter, NoFrameFromExactlyTwentySeconds) {
    const Pcm clicks = MakeBursts(44100, 44100 * 20 + 20, 0, 44100, 10000);
    const std::vector<uint8_t> bytes = clicks.Bytes();
    EnginePtr engine(Create(44100, 1, 16));
    ASSERT_EQ(Feed(engine.get(), 44100 * 20 * 2, bytes.data()), 1);
    EXPECT_EQ(FrameCount(engine.get()), 0);
    ASSERT_EQ(Feed(engine.get(), 36, bytes.data() + 44100 * 20 * 2), 1);
    EXPECT_EQ(FrameCount(engine.get()), 0);
    ASSERT_EQ(Feed(engine.get(), 2, bytes.data() + 44100 * 20 * 2 + 36), 1);
    EXPECT_EQ(FrameCount(engine.get()), 1);
    EXPECT_EQ(engine->anchors[0], 19);
}

// Once the frame table is full, further input is accepted and ignored.
TEST(Fingerprinter, IgnoresInputOnceFull) {
    const Pcm pcm = MakeMusic(8000, 1, 60, 0.6, 5);
    EnginePtr engine(Create(8000, 1, 16));
    engine->frameCapacity = 2;  // rather than feeding the audio for 1000 frames
    const std::vector<uint8_t> bytes = pcm.Bytes();
    int32_t writeWhenFull = -1;
    for (size_t at = 0; at < bytes.size(); at += 16000) {
        ASSERT_EQ(Feed(engine.get(), 16000, bytes.data() + at), 1);
        if (FrameCount(engine.get()) == 2 && writeWhenFull < 0) writeWhenFull = engine->ringWrite;
    }
    EXPECT_EQ(FrameCount(engine.get()), 2);
    EXPECT_EQ(engine->ringWrite, writeWhenFull);
}

// Every frame against the plain whole-stream computation, at the common
// rates, with the ring wrapping, pieces of different sizes, and the last
// block of the window completed with zeros (48, 22.05 and 8 kHz).
TEST(Fingerprinter, FramesMatchWholeStreamComputation) {
    struct Case {
        const char* what;
        Pcm pcm;
        int32_t piece;  // bytes per Feed, 0 = all at once
        size_t minFrames;
    } cases[] = {
        {"44.1 kHz stereo, 1 s pieces", MakeMusic(44100, 2, 45, 0.52, 1), 176400, 20},
        {"48 kHz stereo, odd pieces", MakeMusic(48000, 2, 34, 0.75, 2), 4 * 7777, 8},
        {"22.05 kHz mono, at once", MakeMusic(22050, 1, 50, 0.4, 3), 0, 12},
        {"8 kHz mono, 1 s pieces", MakeMusic(8000, 1, 75, 0.6, 4), 16000, 10},
        {"8 kHz mono, at once", MakeMusic(8000, 1, 75, 0.6, 4), 0, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EnginePtr engine = FeedAll(c.pcm, c.piece);
        const std::vector<Frame> frames = AllFrames(engine.get());
        EXPECT_GE(frames.size(), c.minFrames);
        ReferenceEngine reference(c.pcm.rate, c.pcm.Mono());
        EXPECT_EQ(frames, reference.FrameValues());

        for (const Frame& frame : frames) {
            // Deviations from the mean sum to 0 and have unit norm, up to truncation.
            int64_t sum = 0;
            double squares = 0;
            for (uint16_t v : frame) {
                EXPECT_LE(v, 65534);
                sum += v - 32767;
                squares += std::pow((v - 32767) / 32767.0, 2);
            }
            EXPECT_LE(std::abs(sum), 32);
            EXPECT_NEAR(squares, 1.0, 0.01);
        }
    }
}

// At 8 kHz a 441-sample block is 55 ms, so the anchor of a slow beat can lie
// more than 2 seconds into the window; a 22-second ring would never hold 20
// seconds behind it, and all input after the first frame would be dropped.
TEST(Fingerprinter, LowRateWithDistantAnchorsKeepsMakingFrames) {
    // A burst every 100 blocks (5.5 s): the next anchor lies about 5.3 s
    // behind each read position.
    const Pcm pcm = MakeBursts(8000, 8000 * 120, 0, 44100, 8000);
    EnginePtr engine = FeedAll(pcm, 16000);  // asserts every second is taken in
    ReferenceEngine reference(8000, pcm.Mono());
    const std::vector<Frame> expected = reference.FrameValues();
    // (120 - 20) s of look-ahead at one frame per 5.5 s.
    EXPECT_GE(expected.size(), 17u);
    EXPECT_EQ(AllFrames(engine.get()), expected);
}

// At 8 kHz the settling run of the first segment starts 100 samples before
// the anchor, which lies before ring index 0 when the anchor is near it.
TEST(Fingerprinter, SegmentBeforeRingStartWrapsToItsEnd) {
    // Exactly enough for the first frame, whose anchor is sample 69.
    const Pcm clicks = MakeBursts(8000, 8000 * 20 + 69, 50, 44100, 8000);
    EnginePtr engine = FeedAll(clicks, 0);
    ASSERT_EQ(FrameCount(engine.get()), 1);
    EXPECT_EQ(engine->anchors[0], 69);
    ReferenceEngine reference(8000, clicks.Mono());
    EXPECT_EQ(AllFrames(engine.get()), reference.FrameValues());
}

// Working storage belongs to each engine: two engines at different rates fed
// in turns make the frames each makes alone.
TEST(Fingerprinter, EnginesDoNotShareWorkingStorage) {
    const Pcm a = MakeMusic(44100, 2, 28, 0.5, 7);
    const Pcm b = MakeMusic(48000, 2, 28, 0.45, 8);
    const std::vector<Frame> aloneA = AllFrames(FeedAll(a, 176400).get());
    const std::vector<Frame> aloneB = AllFrames(FeedAll(b, 192000).get());
    ASSERT_FALSE(aloneA.empty());
    ASSERT_FALSE(aloneB.empty());

    EnginePtr ea(Create(44100, 2, 16)), eb(Create(48000, 2, 16));
    const std::vector<uint8_t> bytesA = a.Bytes(), bytesB = b.Bytes();
    for (int second = 0; second < 28; ++second) {
        EXPECT_EQ(Feed(ea.get(), 176400, bytesA.data() + second * 176400), 1);
        EXPECT_EQ(Feed(eb.get(), 192000, bytesB.data() + second * 192000), 1);
    }
    EXPECT_EQ(AllFrames(ea.get()), aloneA);
    EXPECT_EQ(AllFrames(eb.get()), aloneB);
}
