#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "audio/mpeg_info.h"
#include "support/temp_dir.h"

namespace {

std::string Bytes(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// MPEG-1 Layer III, 128 kbit/s, 44100 Hz, joint stereo: 417 bytes per frame.
const std::string kHeader128 = Bytes({
    0xFF,  // sync
    0xFB,  // sync, MPEG-1, Layer III, no CRC
    0x90,  // bitrate index 9, sample-rate index 0, no padding, private 0
    0x64,  // joint stereo, mode extension 2, not copyrighted, original, no emphasis
});
// The same stream at 64 kbit/s: 208 bytes per frame.
const std::string kHeader64 = Bytes({
    0xFF,  // sync
    0xFB,  // sync, MPEG-1, Layer III, no CRC
    0x50,  // bitrate index 5, sample-rate index 0, no padding
    0x64,  // joint stereo, mode extension 2, original
});
// 32 kbit/s at 48000 Hz: 96 bytes per frame; another stream than the above.
const std::string kHeader48k = Bytes({
    0xFF,  // sync
    0xFB,  // sync, MPEG-1, Layer III, no CRC
    0x14,  // bitrate index 1, sample-rate index 1
    0x64,  // joint stereo, mode extension 2, original
});

// A frame: its header, then zeros (which hold no sync) up to its length.
std::string Frame(const std::string& header, size_t length) { return header + std::string(length - 4, '\0'); }

std::string Frames(const std::string& header, size_t length, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += Frame(header, length);
    return out;
}

std::string Id3v1() { return "TAG" + std::string(125, 'x'); }

// ID3v2 header with the given size bytes, then that many filler bytes.
std::string Id3v2(uint8_t s2, size_t filler) {
    return Bytes({'I', 'D', '3',
                  0x03, 0x00,  // version 2.3.0
                  0x00,        // flags
                  0x00, 0x00, s2, 0x00}) +  // size bytes
           std::string(filler, 'p');
}

TEST(MpegInfo, DecodesHeaderWordFields) {
    struct Case {
        uint32_t word;
        int32_t sync, versionId, layerBits, protection, bitrateIndex, bitrate, sampleRateIndex, padding,
            privateBit, mode, modeExtension, copyright, original, emphasis, versionNumber, layerNumber;
    } cases[] = {
        {0xFFFB9064, 0x7FF, 3, 1, 1, 9, 128, 0, 0, 0, 1, 2, 0, 1, 0, 1, 3},
        {0xFFFB9264, 0x7FF, 3, 1, 1, 9, 128, 0, 1, 0, 1, 2, 0, 1, 0, 1, 3},
        {0xFFFB9164, 0x7FF, 3, 1, 1, 9, 128, 0, 0, 1, 1, 2, 0, 1, 0, 1, 3},
        // MPEG-2 Layer II has no bitrate column.
        {0xFFF59064, 0x7FF, 2, 2, 1, 9, 0, 0, 0, 0, 1, 2, 0, 1, 0, 2, 2},
        // MPEG-2 Layer III, 8 kbit/s, copyright, emphasis 3.
        {0xFFF318CB, 0x7FF, 2, 1, 1, 1, 8, 2, 0, 0, 3, 0, 1, 0, 3, 2, 3},
        // MPEG-1 Layer I and II at index 14.
        {0xFFFFE000, 0x7FF, 3, 3, 1, 14, 448, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1},
        {0xFFFDE000, 0x7FF, 3, 2, 1, 14, 384, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2},
        // MPEG-2 Layer I; MPEG-2.5 Layer III (no column); reserved layer.
        {0xFFF7D000, 0x7FF, 2, 3, 1, 13, 224, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1},
        {0xFFE3D000, 0x7FF, 0, 1, 1, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3},
        {0xFFF9D000, 0x7FF, 3, 0, 1, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0},
        // Index 15 has no bitrate in any column.
        {0xFFFBF000, 0x7FF, 3, 1, 1, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word);
        CMpegInfo info;
        info.DecodeHeader(c.word);
        EXPECT_EQ(info.Sync(), c.sync);
        EXPECT_EQ(info.VersionId(), c.versionId);
        EXPECT_EQ(info.LayerBits(), c.layerBits);
        EXPECT_EQ(info.Protection(), c.protection);
        EXPECT_EQ(info.BitrateIndex(), c.bitrateIndex);
        EXPECT_EQ(info.Bitrate(), c.bitrate);
        EXPECT_EQ(info.SampleRateIndex(), c.sampleRateIndex);
        EXPECT_EQ(info.Padding(), c.padding);
        EXPECT_EQ(info.PrivateBit(), c.privateBit);
        EXPECT_EQ(info.ChannelMode(), c.mode);
        EXPECT_EQ(info.ModeExtension(), c.modeExtension);
        EXPECT_EQ(info.Copyright(), c.copyright);
        EXPECT_EQ(info.Original(), c.original);
        EXPECT_EQ(info.Emphasis(), c.emphasis);
        EXPECT_EQ(info.VersionNumber(), c.versionNumber);
        EXPECT_EQ(info.LayerNumber(), c.layerNumber);
    }
}

TEST(MpegInfo, DisplayNames) {
    EXPECT_STREQ(ChannelModeName(1), "Joint Stereo");
    EXPECT_STREQ(ChannelModeName(3), "Single Channel");
    EXPECT_STREQ(ChannelModeName(4), "n/a");
    EXPECT_STREQ(EmphasisName(0), "None");
    EXPECT_STREQ(EmphasisName(1), "50/15 ms");
    EXPECT_STREQ(EmphasisName(3), "CCIT J.17\n");
    EXPECT_STREQ(EmphasisName(-1), "n/a");
    EXPECT_STREQ(LayerName(0), "n/a");
    char text[32];
    FormatMpegFormat(text, sizeof text, 1, 3);
    EXPECT_STREQ(text, "MPEG 1, Layer III");
    FormatMpegFormat(text, sizeof text, 2, 1);
    EXPECT_STREQ(text, "MPEG 2, Layer I");
    FormatBitrate(text, sizeof text, 128);
    EXPECT_STREQ(text, "128 kbps");
}

TEST(MpegFrameHeader, FrameLengthsAndRejections) {
    struct Case {
        const char* what;
        std::string header;
        uint32_t length;  // 0 = rejected
        int32_t version;
    } cases[] = {
        {"MPEG-1 128k 44.1k", kHeader128, 417, 1},
        {"with padding", Bytes({0xFF, 0xFB, 0x92, 0x64}), 418, 1},
        {"MPEG-1 320k 48k", Bytes({0xFF, 0xFB, 0xE4, 0x64}), 960, 1},
        {"MPEG-1 32k 32k", Bytes({0xFF, 0xFB, 0x18, 0x64}), 144, 1},
        {"MPEG-2 160k 22.05k", Bytes({0xFF, 0xF3, 0xE0, 0xC4}), 522, 0},
        {"MPEG-2.5 8k 8k", Bytes({0xFF, 0xE3, 0x18, 0xC4}), 72, 2},
        // Reserved sample-rate index: 50000 Hz, 72000 * 8 / 50000 = 11 bytes.
        {"MPEG-2 8k at index 3", Bytes({0xFF, 0xF3, 0x1C, 0xC4}), 0, 0},
        {"free format", Bytes({0xFF, 0xFB, 0x00, 0x64}), 0, 1},
        {"bitrate index 15", Bytes({0xFF, 0xFB, 0xF0, 0x64}), 0, 1},
        {"Layer II", Bytes({0xFF, 0xFD, 0x90, 0x64}), 0, 1},
        {"Layer I", Bytes({0xFF, 0xFF, 0x90, 0x64}), 0, 1},
        {"short sync", Bytes({0xFF, 0xDB, 0x90, 0x64}), 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MpegFrameHeader header{};
        const uint32_t length = ReadFrameHeader(reinterpret_cast<const uint8_t*>(c.header.data()), &header);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(header.sync, c.length ? 0xFFE : 0);
        EXPECT_EQ(header.version, c.version);
    }
    EXPECT_EQ(ScanSampleRate(0, 3), 50000);
    EXPECT_EQ(ScanSampleRate(2, 2), 8000);
    EXPECT_EQ(ScanBitrate(1, 14), 320);
    EXPECT_EQ(ScanBitrate(2, 14), 160);
}

struct FileCase {
    const char* what;
    std::string bytes;
    int32_t audioStart, id3v1Size, length, sampleRate, bitrate;
    uint32_t headerWord;
};

TEST(MpegInfo, AnalysesFiles) {
    // 4,000,000 bytes of 417-byte frames: 9592 frames, 250 seconds.
    std::string cbr = Frames(kHeader128, 417, 4000000 / 417 + 1).substr(0, 4000000);
    // A sync inside the ID3v2 tag is skipped; the scan starts behind the tag.
    std::string tagged = Id3v2(0x10, 2048);
    tagged.replace(100, 4, kHeader64);
    tagged += Frames(kHeader128, 417, 40) + Id3v1();
    // Three frames, then a different stream: no run of four there, so the
    // scan starts at the second stream; 100 frames of 96 bytes at 4,000 bytes
    // a second give 2.4 s (counted from offset 0 they would give 2.7 s).
    const std::string shortRun = Frames(kHeader128, 417, 3) + Frames(kHeader48k, 96, 100);
    // The last sample place decides the bitrate of a variable stream.
    const std::string variable = Frames(kHeader128, 417, 2000) + Frames(kHeader64, 208, 2000);
    const int64_t variableFrames = static_cast<int64_t>(variable.size()) / 208;
    const int32_t variableSeconds = static_cast<int32_t>(
        static_cast<double>(static_cast<float>(208 * variableFrames) / 8000.0f) + 0.5);
    const FileCase cases[] = {
        {"CBR from offset 0", cbr, 0, 0, 250, 44100, 128, 0xFFFB9064},
        {"ID3v2 and ID3v1", tagged, 2058, 128, 1, 44100, 128, 0xFFFB9064},
        {"run needs four frames", shortRun, 0, 0, 2, 48000, 128, 0xFFFB9064},
        {"variable bitrate", variable, 0, 0, variableSeconds, 44100, 128, 0xFFFB9064},
        {"junk before the sync", Bytes({0x00, 0xFF, 0x12, 0xFF, 0xDF, 0x7F}) + Frames(kHeader128, 417, 8), 6, 0, 0,
         44100, 128, 0xFFFB9064},
        {"sync without a run", Bytes({0x00, 0xFF, 0xE1, 0x23, 0x45}) + std::string(2000, 'a'), 1, 0, 0, 22050, 0,
         0xFFE12345},
        {"sync at the very end", std::string(200, 'a') + Bytes({0xFF, 0xFB}), 200, 0, 0, 22050, 0, 0xFFFB0000},
        // Without a sync the header stays 0; asking for the length still
        // runs the frame scan, which finds no run: rate 22050.
        {"no sync", std::string(300, 'a') + Bytes({0xFF, 0x1F, 0x00, 0xFF}), 0, 0, 0, 22050, 0, 0},
        {"short file with TAG", "TAG" + std::string(50, 'x'), 0, 0, 0, 22050, 0, 0},
        {"empty file", "", 0, 0, 0, 22050, 0, 0},
        {"truncated ID3v2 header", Bytes({'I', 'D', '3', 3, 0, 0, 0}), 0, 0, 0, 22050, 0, 0},
    };
    CTempDir dir;
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.Write("f.mp3", c.bytes);
        CMpegInfo info;
        info.Analyse(path.c_str());
        EXPECT_EQ(info.FileLength(), static_cast<int32_t>(c.bytes.size()));
        EXPECT_EQ(info.AudioStart(), c.audioStart);
        EXPECT_EQ(info.Id3v1Size(), c.id3v1Size);
        EXPECT_EQ(info.HeaderWord(), c.headerWord);
        EXPECT_EQ(info.Bitrate(), c.bitrate);
        EXPECT_EQ(info.LengthSeconds(), c.length);
        EXPECT_EQ(info.SampleRate(), c.sampleRate);
    }
}

TEST(MpegInfo, UnreadablePathsLeaveEverythingZero) {
    CTempDir dir;
    const std::string tooLong(5000, 'a');
    for (const char* path : {"", "/nonexistent/file.mp3", tooLong.c_str()}) {
        CMpegInfo info;
        info.Analyse(path);
        EXPECT_EQ(info.FileLength(), 0);
        EXPECT_EQ(info.HeaderWord(), 0u);
        EXPECT_EQ(info.LengthSeconds(), 0);
        EXPECT_EQ(info.SampleRate(), 0);
    }
}

TEST(MpegInfo, LongPathsAreNotCut) {
    // Music libraries have long paths: one of 1,100 bytes is analysed as it is.
    CTempDir dir;
    std::string folder = dir.path();
    while (folder.size() < 1000) {
        folder += "/" + std::string(200, 'd');
        std::filesystem::create_directory(folder);
    }
    const std::string path = folder + "/" + std::string(1100 - folder.size() - 1, 'f');
    std::ofstream(path, std::ios::binary) << Frames(kHeader128, 417, 100);
    CMpegInfo info;
    info.Analyse(path.c_str());
    EXPECT_STREQ(info.Path(), path.c_str());
    EXPECT_EQ(info.SampleRate(), 44100);
    EXPECT_EQ(info.LengthSeconds(), 3);
}

TEST(MpegInfo, LengthIsMeasuredAgainWhileItIsZero) {
    CTempDir dir;
    const std::string path = dir.Write("grow.mp3", Frame(kHeader128, 417));
    CMpegInfo info;
    info.Analyse(path.c_str());
    EXPECT_EQ(info.LengthSeconds(), 0);
    EXPECT_EQ(info.SampleRate(), 22050);
    dir.Write("grow.mp3", Frames(kHeader128, 417, 400));
    EXPECT_EQ(info.SampleRate(), 22050);  // a known rate is not measured again
    EXPECT_EQ(info.LengthSeconds(), 10);
    EXPECT_EQ(info.SampleRate(), 44100);
}

TEST(MpegInfo, FilesOfTwoGibibytesAndMore) {
    // A sparse 3 GiB file: a 128 kbit/s run at the start, 64 kbit/s runs at
    // the sample places behind it (the last one decides the length), holes
    // in between.
    CTempDir dir;
    const std::string path = dir.File("big.mp3");
    const int64_t size = int64_t{3} << 30;
    {
        std::ofstream out(path, std::ios::binary);
        for (int k = 0; k < 4; ++k) {
            const std::string run = k == 0 ? Frames(kHeader128, 417, 5) : Frames(kHeader64, 208, 5);
            out.seekp(k * (size / 4 + 1));
            out.write(run.data(), static_cast<std::streamsize>(run.size()));
        }
    }
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    CMpegInfo info;
    info.Analyse(path.c_str());
    EXPECT_EQ(info.FileLength(), INT32_MAX);
    EXPECT_EQ(info.AudioStart(), 0);
    const double expected = static_cast<double>(size / 208 * 208) / 8000.0;
    EXPECT_NEAR(info.LengthSeconds(), expected, 1.0);
    EXPECT_EQ(info.SampleRate(), 44100);
}

TEST(MpegInfo, Fixtures) {
    struct Case {
        const char* file;
        int32_t length, sampleRate, bitrate, versionNumber;
    } cases[] = {
        {"short_44k_stereo_cbr128.mp3", 3, 44100, 128, 1},
        {"short_48k_stereo_cbr64.mp3", 3, 48000, 64, 1},
        {"short_22k_mono_cbr32.mp3", 3, 22050, 32, 2},
        {"song_44k_stereo_4min.mp3", 240, 44100, 32, 1},
        {"song_22k_mono_3min.mp3", 180, 22050, 8, 2},
        {"song_8k_mono_75s.mp3", 75, 8000, 0, 0},  // MPEG-2.5 has no bitrate column
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CMpegInfo info;
        info.Analyse(FixtureFile(c.file).c_str());
        EXPECT_EQ(info.AudioStart(), 0);
        EXPECT_EQ(info.LengthSeconds(), c.length);
        EXPECT_EQ(info.SampleRate(), c.sampleRate);
        EXPECT_EQ(info.Bitrate(), c.bitrate);
        EXPECT_EQ(info.VersionNumber(), c.versionNumber);
        EXPECT_EQ(info.LayerNumber(), 3);
    }
}

// Every corpus file, including damaged and non-audio ones, must be analysed
// without crashing or reading out of bounds (the sanitizer build checks the
// latter); well-formed Layer III files must get a plausible length and rate.
TEST(MpegInfo, CorpusFiles) {
    struct Expected {
        const char* file;
        double seconds;  // decoded duration
        int32_t sampleRate;
    } wellFormed[] = {
        {"minimp3__l3-compl.bit", 5.18, 48000},
        {"minimp3__l3-nonstandard-sin1k0db_lame_vbrtag.bit", 8.23, 44100},
        {"mutagen__apev2-lyricsv2.mp3", 1.89, 44100},
        {"mutagen__audacious-trailing-id32-id31.mp3", 3.72, 44100},
        {"mutagen__silence-44-s-mpeg2.mp3", 3.68, 24000},
        {"mutagen__silence-44-s-mpeg25.mp3", 3.68, 12000},
        {"mutagen__silence-44-s-v1.mp3", 3.72, 44100},
        {"mutagen__silence-44-s.mp3", 3.72, 44100},
        {"mutagen__xing.mp3", 2.05, 44100},
        {"taglib__ape-id3v2.mp3", 2.05, 44100},
    };
    int analysed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusFile("mp3"))) {
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        CMpegInfo info;
        info.Analyse(path.c_str());
        ++analysed;
        EXPECT_EQ(info.FileLength(), static_cast<int32_t>(entry.file_size()));
        EXPECT_GE(info.AudioStart(), 0);
        EXPECT_LT(info.AudioStart(), std::max(info.FileLength(), 1));
        EXPECT_GE(info.LengthSeconds(), 0);
        EXPECT_LE(info.LengthSeconds(), 60);
        for (const Expected& e : wellFormed) {
            if (entry.path().filename() != e.file) continue;
            EXPECT_NEAR(info.LengthSeconds(), e.seconds, 1.0);
            EXPECT_EQ(info.SampleRate(), e.sampleRate);
        }
    }
    EXPECT_GE(analysed, 40);
}

}  // namespace
