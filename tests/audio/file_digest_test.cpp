#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "audio/file_digest.h"
#include "support/temp_dir.h"

namespace {

std::string Id3v2(uint8_t sizeByte) {
    // Size bytes 00 00 sizeByte 00: sizeByte * 128 bytes of tag body.
    return std::string("ID3\x03\x00\x00\x00\x00", 8) + static_cast<char>(sizeByte) + '\0' +
           std::string(sizeByte * 128u, 'i');
}

std::string Id3v1(char fill) { return "TAG" + std::string(125, fill); }

constexpr const char* kZeroDigest = "00000000000000000000000000000000";

TEST(FileDigest, CoversOnlyTheAudioBetweenTheTags) {
    const std::string song = ReadFileBytes(FixtureFile("song_8k_mono_75s.mp3"));
    // md5sum of the fixture, which has no tags.
    const char* songDigest = "4bbf84fa458d5d08c006b9acf0338c4a";
    const std::string noSync(200, 'a');
    struct Case {
        const char* what;
        std::string bytes;
        const char* digest;
        int32_t seconds;
        int32_t bitrate = 0;  // MPEG-2.5 (the fixture) has no bitrate column
    } cases[] = {
        {"untagged", song, songDigest, 75},
        {"ID3v2 and ID3v1", Id3v2(16) + song + Id3v1('x'), songDigest, 75},
        {"other tags", Id3v2(40) + song + Id3v1('y'), songDigest, 75},
        {"ID3v2 only", Id3v2(1) + song, songDigest, 75},
        // Without a sync the digest starts at 0; a final TAG block is left out.
        {"no sync", noSync + Id3v1('z'), "887f30b43b2867f4a9accceee7d16e6c", 0},
        {"no sync, no TAG", noSync, "887f30b43b2867f4a9accceee7d16e6c", 0},
        // The only sync lies inside the ID3v1 tag: the region is empty.
        {"empty region", noSync + "TAG" + std::string("\xFF\xFB\x90\x64", 4) + std::string(121, 'z'),
         "d41d8cd98f00b204e9800998ecf8427e", 0, 128},
    };
    CTempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.Write("song.mp3", c.bytes);
        char digest[kDigestTextSize];
        int32_t size = -1, seconds = -1, bitrate = -1;
        DigestFile(path.c_str(), digest, &size, &seconds, &bitrate);
        EXPECT_STREQ(digest, c.digest);
        EXPECT_EQ(size, static_cast<int32_t>(c.bytes.size()));
        EXPECT_EQ(seconds, c.seconds);
        EXPECT_EQ(bitrate, c.bitrate);
    }

    char digest[kDigestTextSize];
    int32_t size, seconds, bitrate;
    DigestFile(FixtureFile("song_44k_stereo_4min.mp3").c_str(), digest, &size, &seconds, &bitrate);
    EXPECT_EQ(size, 960157);
    EXPECT_EQ(seconds, 240);
    EXPECT_EQ(bitrate, 32);
}

TEST(FileDigest, FailuresGiveZeros) {
    CTempDir dir;
    for (const std::string& path : {dir.File("missing.mp3"), dir.Write("short.mp3", std::string(127, 'a')),
                                    dir.Write("empty.mp3", ""), dir.path()}) {
        SCOPED_TRACE(path);
        char digest[kDigestTextSize];
        int32_t size = -1, seconds = -1, bitrate = -1;
        DigestFile(path.c_str(), digest, &size, &seconds, &bitrate);
        EXPECT_STREQ(digest, kZeroDigest);
        EXPECT_EQ(size, 0);
        EXPECT_EQ(seconds, 0);
        EXPECT_EQ(bitrate, 0);
    }
}

}  // namespace
