#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "foundation/errors.h"
#include "library/lyrics_frame.h"
#include "library/tags.h"
#include "support/temp_dir.h"
#include "tag_bytes.h"

using namespace tagbytes;

namespace {

std::string LastBytes(const std::string& bytes, size_t n) {
    return bytes.substr(bytes.size() - std::min(n, bytes.size()));
}

std::string Lyrics(const std::string& text, char encoding = '\0') {
    return std::string(1, encoding) + "eng" + std::string(1, '\0') + text;
}

TEST(Lyrics, ReadSetReplaceAndRemoveKeepEverythingElse) {
    CTempDir dir;
    const std::string v1 = V1("V1 title", "V1 artist", 3, 13);
    const std::string path = dir.Write(
        "song.mp3", Tag({Frame("TIT2", Latin1("Title")), Frame("USLT", Lyrics("Old words")),
                         Frame("APIC", std::string("\0image/png\0\3\0PIC", 15))}) + Audio() + v1);
    EXPECT_EQ(ReadLyrics(path), "Old words");

    const std::string words = "Line one\rLine two \xE9t\xE9";
    ASSERT_EQ(WriteLyrics(path, words), 0);
    EXPECT_EQ(ReadLyrics(path), words);
    std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(Count(bytes, "USLT"), 1u);
    EXPECT_EQ(FrameBody(bytes, "TIT2"), Latin1("Title"));
    EXPECT_EQ(Count(bytes, "image/png"), 1u);
    EXPECT_EQ(LastBytes(bytes, v1.size() + Audio().size()), Audio() + v1);

    // Clearing the text removes the frame.
    ASSERT_EQ(WriteLyrics(path, ""), 0);
    EXPECT_EQ(ReadLyrics(path), std::nullopt);
    EXPECT_FALSE(HasLyricsFrame(path));
    bytes = ReadFileBytes(path);
    EXPECT_EQ(FrameBody(bytes, "TIT2"), Latin1("Title"));
    EXPECT_EQ(LastBytes(bytes, v1.size() + Audio().size()), Audio() + v1);
}

TEST(Lyrics, UntaggedFileGetsATagAndLongTextIsCut) {
    CTempDir dir;
    const std::string path = dir.Write("plain.mp3", Audio());
    EXPECT_EQ(ReadLyrics(path), std::nullopt);
    ASSERT_EQ(WriteLyrics(path, ""), 0);  // nothing to remove: untouched
    EXPECT_EQ(ReadFileBytes(path), Audio());
    const std::string longText(kLyricsLimit + 10, 'w');
    ASSERT_EQ(WriteLyrics(path, longText), 0);
    EXPECT_EQ(ReadLyrics(path), longText.substr(0, kLyricsLimit));
    EXPECT_EQ(LastBytes(ReadFileBytes(path), Audio().size()), Audio());
}

TEST(Lyrics, UnicodeFrameReadsEmptyAndIsRewrittenAsLatin1) {
    CTempDir dir;
    const std::string path = dir.Write("u.mp3", Tag({Frame("USLT", Lyrics(Utf16("hi").substr(1), '\x01'))}) + Audio());
    EXPECT_EQ(ReadLyrics(path), "");
    ASSERT_EQ(WriteLyrics(path, "plain"), 0);
    EXPECT_EQ(ReadLyrics(path), "plain");
}

TEST(Lyrics, FailedWritesLeaveTheFile) {
    CTempDir dir;
    const std::string bytes = Tag({Frame("USLT", Lyrics("Kept"))}) + Audio();
    const std::string path = dir.Write("ro.mp3", bytes);
    chmod(path.c_str(), 0444);
    EXPECT_EQ(WriteLyrics(path, "New"), eFileReadOnly);
    EXPECT_EQ(ReadFileBytes(path), bytes);
    EXPECT_EQ(WriteLyrics(dir.File("missing.mp3"), "New"), eFileNotFound);
}

}  // namespace
