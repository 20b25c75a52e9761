#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstring>
#include <string>

#include "library/genre_table.h"
#include "library/tags.h"
#include "support/temp_dir.h"
#include "tag_bytes.h"

using namespace tagbytes;

TEST(ReadTags, MapsEveryFrameAndCutsAtTheReadLimits) {
    CTempDir dir;
    const std::string title120(120, 'T');
    const std::string path = dir.Write(
        "all.mp3",
        Tag({Frame("TIT2", Latin1(title120)), Frame("TALB", Latin1("Album")),
             Frame("TPE1", Latin1("Art\xE9st")),  // Latin-1 byte moves unchanged
             Frame("TYER", Latin1("19999")), Frame("TCON", Latin1(std::string(60, 'g'))),
             Frame("COMM", Comment(std::string(300, 'c'))), Frame("TCOP", Latin1(std::string(80, 'p'))),
             Frame("WXXX", UserUrl(std::string(80, 'u'))), Frame("TPOS", Latin1("2")),
             Frame("TRCK", Latin1("07/12")), Frame("TXXX", UserText("melodex", "any"))}) +
            Audio());

    const CFileTags tags = ReadTags(path);
    EXPECT_EQ(std::string(tags.values.title), title120.substr(0, 95));
    EXPECT_STREQ(tags.values.album, "Album");
    EXPECT_STREQ(tags.values.artist, "Art\xE9st");
    EXPECT_STREQ(tags.values.year, "1999");
    EXPECT_EQ(std::string(tags.values.genre), std::string(47, 'g'));
    EXPECT_EQ(std::string(tags.values.comment), std::string(255, 'c'));
    EXPECT_EQ(std::string(tags.values.copyright), std::string(63, 'p'));
    EXPECT_EQ(std::string(tags.values.url), std::string(63, 'u'));
    EXPECT_EQ(tags.values.disc, 2);
    EXPECT_EQ(tags.values.track, 7);
    EXPECT_TRUE(tags.marked);
}

TEST(ReadTags, UnicodeFramesReadEmptyAndTheFirstFrameOfAnIdentifierCounts) {
    struct Case {
        const char* name;
        std::string file;
        const char* title;
        int32_t track, disc;
        bool marked;
    } cases[] = {
        {"UTF-16 TRCK next to a Latin-1 TPOS",
         Tag({Frame("TRCK", Utf16("5")), Frame("TPOS", Latin1("2")), Frame("TIT2", Utf16("Uni"))}) + Audio(), "",
         0, 2, false},
        // The frames between the two TXXX make a cursor-relative search land
        // on the second one.
        {"capitalised marker first",
         Tag({Frame("TXXX", UserText("Melodex")), Frame("TIT2", Latin1("One")), Frame("TIT2", Latin1("Two")),
              Frame("TXXX", UserText("melodex"))}) +
             Audio(),
         "One", 0, 0, false},
        {"marker with description", Tag({Frame("TXXX", UserText("melodex", "Tagger"))}) + Audio(), "", 0, 0, true},
        {"marker text with a suffix", Tag({Frame("TXXX", UserText("melodex2"))}) + Audio(), "", 0, 0, false},
        {"ID3v1 under an ID3v2 tag fills missing frames",
         Tag({Frame("TIT2", Latin1("Two"))}) + Audio() + V1("One", "V1 Artist", 4, 13), "Two", 4, 0, false},
        {"no tag", Audio(), "", 0, 0, false},
    };
    CTempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.Write("case.mp3", c.file);
        const CFileTags tags = ReadTags(path);
        EXPECT_STREQ(tags.values.title, c.title) << c.name;
        EXPECT_EQ(tags.values.track, c.track) << c.name;
        EXPECT_EQ(tags.values.disc, c.disc) << c.name;
        EXPECT_EQ(tags.marked, c.marked) << c.name;
    }
}

TEST(ReadTags, Id3v1OnlyFileReadsThroughTheMergedView) {
    const CFileTags tags = ReadTags(CorpusFile("mp3/mutagen__silence-44-s-v1.mp3"));
    EXPECT_STREQ(tags.values.title, "Silence");
    EXPECT_STREQ(tags.values.artist, "piman");
    EXPECT_STREQ(tags.values.album, "Quod Libet Test Data");
    EXPECT_STREQ(tags.values.year, "2004");
    EXPECT_STREQ(tags.values.genre, "(50)");  // the number is shown as the library renders it
    EXPECT_EQ(tags.values.track, 2);
    EXPECT_FALSE(tags.marked);
}

TEST(ReadTags, UnreadableFilesGiveEmptyValues) {
    CTempDir dir;
    const std::string paths[] = {
        dir.File("missing.mp3"),
        dir.path(),
        dir.Write("empty.mp3", ""),
        dir.File("fifo.mp3"),  // made below: the library must not wait for a writer
        dir.Write("truncated.mp3", Tag({Frame("TIT2", Latin1("Cut"))}).substr(0, 14)),
        // The library would inflate this frame past its buffer.
        CorpusFile("mp3/taglib__compressed_id3_frame_invalid.mp3"),
        dir.Write("compressed.mp3", Tag({Frame("TIT2", Latin1("Ok")),
                                         Frame("APIC", BigEndian32(4000) + std::string(64, 'x'), 3, 0x0080)}) +
                                        Audio()),
    };
    ASSERT_EQ(mkfifo(dir.File("fifo.mp3").c_str(), 0644), 0);
    for (const std::string& path : paths) {
        const CFileTags tags = ReadTags(path);
        EXPECT_STREQ(tags.values.title, "") << path;
        EXPECT_EQ(tags.values.track, 0) << path;
        EXPECT_FALSE(tags.marked) << path;
    }
}

TEST(ParseTagNumber, ReadsLeadingDecimalNumber) {
    struct Case {
        const char* text;
        int32_t value;
    } cases[] = {
        {"5/12", 5},    {"07", 7},           {"", 0},           {"abc", 0},         {"  -3x", -3},
        {"\t+4", 4},    {"- 4", 0},          {"2147483647", INT32_MAX},             {"99999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},          {"-99999999999", INT32_MIN},           {"1e3", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseTagNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(HasLyricsFrame, FindsUsltInAnyTagVersion) {
    CTempDir dir;
    const std::string lyrics = dir.Write(
        "lyrics.mp3", Tag({Frame("USLT", std::string("\0eng\0Words", 10))}) + Audio());
    EXPECT_TRUE(HasLyricsFrame(lyrics));
    EXPECT_TRUE(HasLyricsFrame(CorpusFile("mp3/taglib__itunes10.mp3")));  // version 2.2 ULT
    EXPECT_FALSE(HasLyricsFrame(FixtureFile("short_22k_mono_cbr32.mp3")));
    EXPECT_FALSE(HasLyricsFrame(dir.File("missing.mp3")));
}

TEST(GenreName, HoldsTheFixedTextsAndRejectsOtherNumbers) {
    struct Case {
        int32_t number;
        const char* name;
    } cases[] = {
        {0, "Blues"},         {17, "Rock"},           {40, "AlternRock"},
        {67, "Psychadelic"},  {78, "Rock & Roll"},    {79, "Hard Rock"},
        {80, "Folk"},         {85, "Bebob"},          {123, "A capella"},
        {127, "Drum & Bass"}, {132, "Britpop"},       {136, "Christian Gangsta Rap"},
        {140, "Contemporary Christian"},              {141, "Christian Rock "},
        {146, "JPop"},        {147, "Synthpop"},      {-1, ""},
        {148, ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(GenreName(c.number), c.name) << c.number;
    for (int32_t n = 0; n < kGenreCount; ++n) EXPECT_GT(std::strlen(GenreName(n)), 0u) << n;
}
