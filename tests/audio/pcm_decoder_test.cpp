#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/pcm_decoder.h"
#include "foundation/errors.h"
#include "support/temp_dir.h"

namespace {

// The 8 kHz fixture is 1,044 frames of exactly 72 bytes (1,000 bytes a
// second at 8 kbit/s), 576 samples each, so cutting it at a frame boundary
// sets its playing time precisely.
constexpr size_t k8kFrameBytes = 72;
constexpr int32_t k8kFramePcm = 576 * 2;

std::string Fixture8k() { return ReadFileBytes(FixtureFile("song_8k_mono_75s.mp3")); }

std::string Id3v2(size_t filler) {
    const std::string header("ID3\x03\x00\x00\x00\x00\x10\x00", 10);  // size bytes 00 00 10 00: 2,048
    return header + std::string(filler, '\0');
}

std::string Id3v1() { return "TAG" + std::string(125, 'x'); }

std::vector<int16_t> Samples(const CPcmDecoder& decoder) {
    std::vector<int16_t> samples(static_cast<size_t>(decoder.PcmBytes()) / 2);
    const uint8_t* bytes = decoder.PcmData();
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return samples;
}

TEST(PcmDecoder, ConvertsMadSamples) {
    struct Case {
        int32_t mad;
        int16_t pcm;
    } cases[] = {
        {1 << 28, 32767},     {-(1 << 28), -32768}, {4096, 1},          {4095, 0},
        {0, 0},               {-4096, 0},           {-4097, -1},        {8192 + 4095, 1},
        {(1 << 28) - 1, 32767}, {INT32_MAX, 32767}, {INT32_MIN, -32768}, {12345 << 13, 12345},
    };
    for (const Case& c : cases) EXPECT_EQ(ConvertMadSample(c.mad), c.pcm) << c.mad;
}

TEST(PcmDecoder, DecodesUpToTheLimit) {
    struct Case {
        const char* file;
        int32_t bytes, rate, channels;
    } cases[] = {
        // 240 s of stereo: stops at exactly 160 s.
        {"song_44k_stereo_4min.mp3", 28224000, 44100, 2},
        // Decoded whole: 6,893 frames of 576 samples, less the last frame,
        // which libmad keeps back because nothing follows it in the block.
        {"song_22k_mono_3min.mp3", 6892 * 1152, 22050, 1},
        {"song_8k_mono_75s.mp3", 1043 * k8kFramePcm, 8000, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CPcmDecoder decoder;
        ASSERT_TRUE(decoder.DecodeFile(FixtureFile(c.file).c_str(), CPcmDecoder::kTokenByteLimit));
        EXPECT_EQ(decoder.PcmBytes(), c.bytes);
        EXPECT_EQ(decoder.DecodedRate(), c.rate);
        EXPECT_EQ(decoder.DecodedChannels(), c.channels);
    }
}

TEST(PcmDecoder, ProducesLittleEndianInterleavedAudio) {
    // The fixture's song peaks near -1 dBFS, is dominated by low frequencies
    // at 44.1 kHz (neighbouring samples are close) and has equal channels.
    // Wrong byte order or scaling would give noise or a tiny signal.
    CPcmDecoder decoder;
    ASSERT_TRUE(decoder.DecodeFile(FixtureFile("song_44k_stereo_4min.mp3").c_str(), 4000000));
    const std::vector<int16_t> samples = Samples(decoder);
    int peak = 0;
    double level = 0, step = 0, sides = 0;
    for (size_t i = 2; i < samples.size(); i += 2) {
        peak = std::max(peak, std::abs(samples[i]));
        level += std::abs(samples[i]);
        step += std::abs(samples[i] - samples[i - 2]);
        sides += std::abs(samples[i] - samples[i + 1]);
    }
    EXPECT_GT(peak, 20000);
    EXPECT_LT(step, level * 0.5);
    EXPECT_LT(sides, level * 0.01);
}

TEST(PcmDecoder, RefusesShortUnreadableAndUndecodableFiles) {
    const std::string song = Fixture8k();
    // Frames of a reserved sample rate: the stream info measures them
    // (50,000 Hz, 46 bytes at 32 kbit/s), libmad decodes none of them.
    std::string reserved;
    for (int i = 0; i < 7000; ++i) reserved += std::string("\xFF\xF3\x4C\xC4", 4) + std::string(42, '\0');

    CTempDir dir;
    struct Case {
        const char* what;
        std::string path;
    } cases[] = {
        {"missing", dir.File("missing.mp3")},
        {"empty", dir.Write("empty.mp3", "")},
        {"not audio", dir.Write("text.mp3", std::string(200000, 'x'))},
        {"3 seconds", FixtureFile("short_44k_stereo_cbr128.mp3")},
        {"69 seconds", dir.Write("69.mp3", song.substr(0, 965 * k8kFrameBytes))},
        {"no decodable frame", dir.Write("reserved.mp3", reserved)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPcmDecoder decoder;
        EXPECT_FALSE(decoder.DecodeFile(c.path.c_str(), CPcmDecoder::kTokenByteLimit));
        EXPECT_EQ(decoder.PcmBytes(), 0);
        EXPECT_EQ(decoder.DecodedRate(), 0);
        EXPECT_EQ(decoder.DecodedChannels(), 0);
    }

    CPcmDecoder decoder;
    ASSERT_TRUE(decoder.DecodeFile(dir.Write("70.mp3", song.substr(0, 966 * k8kFrameBytes)).c_str(),
                                   CPcmDecoder::kTokenByteLimit));
    EXPECT_EQ(decoder.PcmBytes(), 965 * k8kFramePcm);
}

TEST(PcmDecoder, HandsOnlyTheAudioBetweenTheTags) {
    const std::string song = Fixture8k();
    CTempDir dir;
    const std::string tagged = Id3v2(2048) + song + Id3v1();
    CPcmDecoder plain, withTags;
    ASSERT_TRUE(plain.DecodeFile(dir.Write("plain.mp3", song).c_str(), CPcmDecoder::kTokenByteLimit));
    ASSERT_TRUE(withTags.DecodeFile(dir.Write("tagged.mp3", tagged).c_str(), CPcmDecoder::kTokenByteLimit));
    EXPECT_EQ(withTags.InputSize(), static_cast<int32_t>(tagged.size()) - 2058 - 128);
    ASSERT_EQ(withTags.PcmBytes(), plain.PcmBytes());
    EXPECT_EQ(memcmp(withTags.PcmData(), plain.PcmData(), static_cast<size_t>(plain.PcmBytes())), 0);
}

TEST(PcmDecoder, CapsTheInputAtSevenTenthsOfTheLimit) {
    // 24 MB of silent 320 kbit/s frames (600 s). The cap is taken in single
    // precision: for 8 s of stereo (1,411,200 bytes) that is 987,840, where
    // double precision would give 987,839.
    std::string frames;
    const std::string frame = std::string("\xFF\xFB\xE0\x64", 4) + std::string(1044 - 4, '\0');
    while (frames.size() < 24000000) frames += frame;
    CTempDir dir;
    const std::string path = dir.Write("long.mp3", frames);
    struct Case {
        int32_t limit, input;
    } cases[] = {
        {CPcmDecoder::kTokenByteLimit, 19756800},
        {1411200, 987840},
    };
    for (const Case& c : cases) {
        CPcmDecoder decoder;
        ASSERT_TRUE(decoder.DecodeFile(path.c_str(), c.limit));
        EXPECT_EQ(decoder.InputSize(), c.input);
        EXPECT_EQ(decoder.PcmBytes(), c.limit);
    }
}

TEST(PcmDecoder, SkipsDamagedFrames) {
    std::string song = Fixture8k();
    // Overwrite 50 frames in the middle with junk that looks like syncs.
    for (size_t i = 30000; i < 30000 + 50 * k8kFrameBytes; ++i) song[i] = (i % 3 == 0) ? '\xFF' : '\xE7';
    CTempDir dir;
    CPcmDecoder decoder;
    ASSERT_TRUE(decoder.DecodeFile(dir.Write("damaged.mp3", song).c_str(), CPcmDecoder::kTokenByteLimit));
    EXPECT_GE(decoder.PcmBytes(), (1043 - 60) * k8kFramePcm);
    EXPECT_LE(decoder.PcmBytes(), 1043 * k8kFramePcm);
}

TEST(PcmDecoder, ReadsPcmFromThePosition) {
    CPcmDecoder decoder;
    ASSERT_TRUE(decoder.DecodeFile(FixtureFile("song_8k_mono_75s.mp3").c_str(), CPcmDecoder::kTokenByteLimit));
    const int32_t total = decoder.PcmBytes();
    std::vector<uint8_t> piece(16000);
    decoder.SetReadPosition(40 * 16000);
    EXPECT_EQ(decoder.ReadPcm(16000, piece.data()), 16000);
    EXPECT_EQ(memcmp(piece.data(), decoder.PcmData() + 40 * 16000, 16000), 0);
    EXPECT_EQ(decoder.ReadPcm(16000, piece.data()), 16000);
    EXPECT_EQ(memcmp(piece.data(), decoder.PcmData() + 41 * 16000, 16000), 0);
    // Past the end only what is there is copied.
    decoder.SetReadPosition(total - 10);
    EXPECT_EQ(decoder.ReadPcm(16000, piece.data()), 10);
    EXPECT_EQ(decoder.ReadPcm(16000, piece.data()), 0);
    decoder.SetReadPosition(total + 5);
    EXPECT_EQ(decoder.ReadPcm(4, piece.data()), 0);
}

}  // namespace
