#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "library/tags.h"
#include "support/temp_dir.h"
#include "tag_bytes.h"

using namespace tagbytes;

namespace {

CTagValues SampleValues() {
    CTagValues v{};
    CopyBounded(v.title, sizeof v.title, "A Title");
    CopyBounded(v.album, sizeof v.album, "An Album");
    CopyBounded(v.artist, sizeof v.artist, "Caf\xE9 Artist");
    CopyBounded(v.genre, sizeof v.genre, "Synthpop");
    CopyBounded(v.comment, sizeof v.comment, "A comment");
    CopyBounded(v.year, sizeof v.year, "1984");
    CopyBounded(v.copyright, sizeof v.copyright, "A Label");
    CopyBounded(v.url, sizeof v.url, "http://example.invalid/song");
    v.track = 7;
    v.disc = 3;
    return v;
}

void ExpectSameValues(const CTagValues& a, const CTagValues& b) {
    EXPECT_STREQ(a.title, b.title);
    EXPECT_STREQ(a.album, b.album);
    EXPECT_STREQ(a.artist, b.artist);
    EXPECT_STREQ(a.genre, b.genre);
    EXPECT_STREQ(a.comment, b.comment);
    EXPECT_STREQ(a.year, b.year);
    EXPECT_STREQ(a.copyright, b.copyright);
    EXPECT_STREQ(a.url, b.url);
    EXPECT_EQ(a.track, b.track);
    EXPECT_EQ(a.disc, b.disc);
}

std::string LastBytes(const std::string& bytes, size_t n) { return bytes.substr(bytes.size() - n); }

}  // namespace

TEST(WriteTags, WritesTheTenFramesAsVersion23AndRewritesId3v1) {
    CTempDir dir;
    const std::string path = dir.Write(
        "song.mp3", Tag({Frame("TRCK", Latin1("07/12")), Frame("APIC", std::string("\0image/png\0\3\0PIC", 15)),
                         Frame("TPE2", Latin1("Band"))}) +
                        Audio() + V1("Old v1 title", "Old", 1, 13));
    const CTagValues values = SampleValues();
    ASSERT_EQ(WriteTags(path, values, EMarker::Set), 0);

    const CFileTags read = ReadTags(path);
    ExpectSameValues(read.values, values);
    EXPECT_TRUE(read.marked);

    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.compare(0, 4, "ID3\x03"), 0);
    EXPECT_EQ(FrameBody(bytes, "TIT2"), Latin1("A Title"));
    EXPECT_EQ(FrameBody(bytes, "TPE1"), Latin1("Caf\xE9 Artist"));  // bytes, no conversion
    EXPECT_EQ(FrameBody(bytes, "TRCK"), Latin1("7"));               // "%d": the total is gone
    EXPECT_EQ(FrameBody(bytes, "TPOS"), Latin1("3"));
    EXPECT_EQ(FrameBody(bytes, "TXXX"), UserText("melodex"));
    EXPECT_EQ(FrameBody(bytes, "WXXX"), UserUrl("http://example.invalid/song"));
    for (const char* id : {"TALB", "TYER", "TCON", "COMM", "TCOP"}) EXPECT_NE(FrameBody(bytes, id), "?") << id;
    // Frames it does not manage survive.
    EXPECT_EQ(FrameBody(bytes, "TPE2"), Latin1("Band"));
    EXPECT_NE(FrameBody(bytes, "APIC"), "?");
    // One ID3v1 tag, rewritten in place from the same frames, after the untouched audio.
    EXPECT_EQ(Count(bytes, "TAG"), 1u);
    const std::string v1 = LastBytes(bytes, 128);
    EXPECT_EQ(v1.substr(0, 3 + 7), "TAGA Title");
    EXPECT_EQ(v1[126], 7);  // ID3v1.1 track
    EXPECT_NE(bytes.find(Audio()), std::string::npos);
    EXPECT_EQ(bytes.size() - bytes.find(Audio()) - Audio().size(), 128u);
}

TEST(WriteTags, Id3v1OnlyFileGetsAnId3v2TagAndKeepsOneId3v1Tag) {
    CTempDir dir;
    const std::string original = ReadFileBytes(CorpusFile("mp3/mutagen__silence-44-s-v1.mp3"));
    const std::string path = dir.Write("v1.mp3", original);
    CTagValues values = ReadTags(path).values;
    ASSERT_EQ(WriteTags(path, values, EMarker::Remove), 0);

    const std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.compare(0, 3, "ID3"), 0);
    for (const char* id : {"TIT2", "TALB", "TPE1", "TYER", "TCON", "COMM", "TCOP", "WXXX", "TPOS", "TRCK"})
        EXPECT_NE(FrameBody(bytes, id), "?") << id;
    EXPECT_EQ(FrameBody(bytes, "TXXX"), "?");
    EXPECT_EQ(FrameBody(bytes, "TCON"), Latin1("(50)"));
    EXPECT_EQ(FrameBody(bytes, "TPOS"), Latin1("0"));
    // The old ID3v1 tag was overwritten, not a second one appended.
    EXPECT_EQ(bytes.size(), original.size() + bytes.find(original.substr(0, 64)));
    EXPECT_EQ(LastBytes(bytes, 128).substr(0, 10), "TAGSilence");
    EXPECT_EQ(LastBytes(bytes, 128)[127], char(50));  // genre number from "(50)"

    const CFileTags read = ReadTags(path);
    ExpectSameValues(read.values, values);
    EXPECT_FALSE(read.marked);
}

TEST(WriteTags, EmptyValuesStillWriteEveryFrame) {
    CTempDir dir;
    const std::string path = dir.Write("e.mp3", Tag({Frame("COMM", Comment("old"))}) + Audio());
    ASSERT_EQ(WriteTags(path, CTagValues{}, EMarker::Remove), 0);
    const std::string bytes = ReadFileBytes(path);
    // An empty comment leaves a COMM frame with empty text.
    EXPECT_EQ(FrameBody(bytes, "COMM"), std::string("\0eng\0", 5));
    EXPECT_EQ(FrameBody(bytes, "TIT2"), Latin1(""));
    EXPECT_EQ(FrameBody(bytes, "WXXX"), UserUrl(""));
    EXPECT_EQ(FrameBody(bytes, "TRCK"), Latin1("0"));
    EXPECT_EQ(FrameBody(bytes, "TPOS"), Latin1("0"));
    EXPECT_EQ(FrameBody(bytes, "TXXX"), "?");
}

// The marker is the first TXXX frame; TXXX frames of other programs survive
// setting and removing it.
TEST(WriteTags, MarkerComesAndGoesWithoutTouchingOtherUserTexts) {
    const std::string gain = UserText("-1.02 dB", "replaygain_track_gain");
    struct Case {
        const char* name;
        std::vector<std::string> frames;
        EMarker marker;
        std::vector<std::string> userTexts;  // TXXX bodies after the save, in order
        bool marked;
    } cases[] = {
        {"set with no TXXX", {}, EMarker::Set, {UserText("melodex")}, true},
        {"set before another program's TXXX", {Frame("TXXX", gain)}, EMarker::Set, {UserText("melodex"), gain}, true},
        {"set keeps an existing marker", {Frame("TXXX", UserText("melodex", "d")), Frame("TXXX", gain)},
         EMarker::Set, {UserText("melodex", "d"), gain}, true},
        {"capitalised text is no marker and stays",
         {Frame("TXXX", UserText("Melodex")), Frame("TXXX", gain)}, EMarker::Remove,
         {UserText("Melodex"), gain}, false},
        {"remove takes every marker frame",
         {Frame("TXXX", UserText("melodex")), Frame("TXXX", gain), Frame("TXXX", UserText("melodex", "x"))},
         EMarker::Remove, {gain}, false},
    };
    CTempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.Write("m.mp3", Tag(c.frames) + Audio());
        ASSERT_EQ(WriteTags(path, SampleValues(), c.marker), 0) << c.name;
        const std::string bytes = ReadFileBytes(path);
        std::vector<std::string> userTexts;
        for (size_t pos = bytes.find("TXXX"); pos != std::string::npos; pos = bytes.find("TXXX", pos + 1)) {
            const uint32_t size = (uint8_t(bytes[pos + 6]) << 8) | uint8_t(bytes[pos + 7]);
            userTexts.push_back(bytes.substr(pos + 10, size));
        }
        EXPECT_EQ(userTexts, c.userTexts) << c.name;
        EXPECT_EQ(ReadTags(path).marked, c.marked) << c.name;
    }
}

TEST(WriteTags, UnicodeFramesStayWhenTheirValueIsEmptyAndTurnLatin1WhenSet) {
    CTempDir dir;
    const std::string path = dir.Write(
        "u.mp3", Tag({Frame("TIT2", Utf16("Unicode title")), Frame("TPE1", Utf16("Unicode artist")),
                      Frame("TRCK", Utf16("5")), Frame("TPOS", Latin1("2"))}) +
                     Audio());
    CFileTags before = ReadTags(path);
    EXPECT_STREQ(before.values.title, "");
    EXPECT_EQ(before.values.track, 0);
    EXPECT_EQ(before.values.disc, 2);

    CTagValues values = before.values;  // an untouched song saves what it read
    CopyBounded(values.artist, sizeof values.artist, "New artist");
    ASSERT_EQ(WriteTags(path, values, EMarker::Remove), 0);

    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(FrameBody(bytes, "TIT2"), Utf16("Unicode title"));
    EXPECT_EQ(FrameBody(bytes, "TPE1"), Latin1("New artist"));
    EXPECT_EQ(FrameBody(bytes, "TRCK"), Latin1("0"));  // a number is never empty
    const CFileTags after = ReadTags(path);
    ExpectSameValues(after.values, values);
}

TEST(WriteTags, OverlongAndUnterminatedValuesAreCutToTheirCapacity) {
    CTempDir dir;
    const std::string path = dir.Write("long.mp3", Audio());
    CTagValues values = SampleValues();
    std::memset(values.title, 'x', sizeof values.title);  // no terminator
    std::memset(values.year, '2', sizeof values.year);
    ASSERT_EQ(WriteTags(path, values, EMarker::Set), 0);
    const CFileTags read = ReadTags(path);
    EXPECT_EQ(std::string(read.values.title), std::string(95, 'x'));
    EXPECT_STREQ(read.values.year, "2222");
    EXPECT_STREQ(read.values.album, "An Album");
}

TEST(WriteTags, FailuresLeaveTheFileAsItWas) {
    CTempDir dir;
    const std::string tagged = Tag({Frame("TIT2", Latin1("Old"))}) + Audio();
    struct Case {
        const char* name;
        std::string bytes;  // empty: no file
        mode_t mode;
        int32_t code;
    } cases[] = {
        {"read-only file", tagged, 0444, eFileReadOnly},
        {"vanished file", "", 0644, eFileNotFound},
        {"compressed frame the library would overrun",
         Tag({Frame("APIC", BigEndian32(4000) + std::string(64, 'x'), 3, 0x0080)}) + Audio(), 0644, eInvalidData},
        {"version 2.4 frames the library cannot parse",
         Tag({Frame("TIT2", Latin1("Four"), 4), Frame("APIC", std::string("\0image/png\0\3\0PIC", 15), 4)}, 4) +
             Audio(),
         0644, eInvalidData},
    };
    for (const Case& c : cases) {
        const std::string path = dir.File("f.mp3");
        std::remove(path.c_str());
        if (!c.bytes.empty()) {
            dir.Write("f.mp3", c.bytes);
            chmod(path.c_str(), c.mode);
        }
        EXPECT_EQ(WriteTags(path, SampleValues(), EMarker::Set), c.code) << c.name;
        if (c.bytes.empty()) {
            EXPECT_FALSE(FileExists(path.c_str())) << c.name;
        } else {
            EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.name;
            chmod(path.c_str(), 0644);
        }
    }
    EXPECT_EQ(WriteTags(dir.path(), SampleValues(), EMarker::Set), eParamErr);
}
