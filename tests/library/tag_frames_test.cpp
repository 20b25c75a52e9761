#include "library/tag_frames.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "support/temp_dir.h"
#include "support/without_root_override.h"
#include "tag_bytes.h"

using namespace tagbytes;

namespace {

std::vector<CTagFrame> List(const std::string& path) {
    std::vector<CTagFrame> frames;
    EXPECT_EQ(ListTagFrames(path, frames), 0) << path;
    return frames;
}

// An ID3v1 tag whose comment field holds text.
std::string V1WithComment(const std::string& comment) {
    std::string v1 = V1("V1 title", "V1 artist", 1, 13);
    v1.replace(97, comment.size(), comment);
    return v1;
}

std::string PictureBody() { return std::string("\0image/png\0\3\0PIC", 15); }

std::vector<std::string> CorpusMp3s() {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusFile("mp3")))
        if (entry.is_regular_file()) paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace

TEST(ListTagFrames, ShowsEveryFrameInTagOrderWithDescriptionAndValue) {
    const std::string longComment = std::string(kFrameValueLimit, 'c') + "XYZ";
    CTempDir dir;
    const std::string path = dir.Write(
        "song.mp3", Tag({Frame("TIT2", Latin1("Caf\xE9")), Frame("WXXX", UserUrl("http://example.invalid/a")),
                         Frame("COMM", Comment(longComment)), Frame("TPE1", Utf16("Unicode")),
                         Frame("APIC", PictureBody()), Frame("TIT2", Latin1("Second title")),
                         Frame("TXXX", UserText("melodex", "ignored description")),
                         Frame("TCMP", Latin1("1"))}) +
                        Audio());
    const std::vector<CTagFrame> expected = {
        {"TIT2", "Title/songname/content description", "Caf\xE9"},  // bytes, no conversion
        {"WXXX", "User defined URL link", "http://example.invalid/a"},
        {"COMM", "Comments", std::string(kFrameValueLimit, 'c')},    // cut at 2,047 bytes
        {"TPE1", "Lead performer(s)/Soloist(s)", ""},                // Unicode text shows nothing
        {"APIC", "Attached picture", ""},                            // no URL or text field
        {"TIT2", "Title/songname/content description", "Second title"},
        {"TXXX", "User defined text information", "melodex"},       // the text, not the description
        {"TCMP", "", ""},                                            // unknown to the library: own ID
    };
    const std::vector<CTagFrame> frames = List(path);
    ASSERT_EQ(frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(frames[i].id, expected[i].id) << i;
        EXPECT_EQ(frames[i].description, expected[i].description) << i;
        EXPECT_EQ(frames[i].value, expected[i].value) << i;
    }
}

TEST(ListTagFrames, MergesId3v1AndNamesVersion22FramesByTheirFourCharacterIds) {
    CTempDir dir;
    // ID3v1 adds what the ID3v2 tag lacks, behind the ID3v2 frames.
    const std::string merged = dir.Write(
        "merged.mp3", Tag({Frame("TIT2", Latin1("V2 title"))}) + Audio() + V1("V1 title", "V1 artist", 4, 13));
    const std::vector<CTagFrame> frames = List(merged);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0].value, "V2 title");
    EXPECT_EQ(frames[1].id, "TPE1");
    EXPECT_EQ(frames[1].value, "V1 artist");

    const std::vector<CTagFrame> v22 = List(CorpusFile("mp3/taglib__itunes10.mp3"));
    ASSERT_GT(v22.size(), 12u);
    EXPECT_EQ(v22[0].id, "TIT2");
    EXPECT_EQ(v22[0].value, "iTunes10MP3");
    EXPECT_EQ(v22[12].id, "TCP");  // unknown to the library: the file's own name
}

TEST(ListTagFrames, ReportsFilesItCannotOrMustNotParse) {
    CTempDir dir;
    const std::string compressed =
        dir.Write("c.mp3", Tag({Frame("TIT2", Latin1("T")), Frame("APIC", BigEndian32(4000) + std::string(64, 'x'), 3,
                                                                   0x0080)}) +
                               Audio());
    const struct {
        std::string path;
        int32_t code;
    } cases[] = {
        {dir.File("missing.mp3"), eFileNotFound},
        {dir.path(), eParamErr},
        {compressed, eInvalidData},
        {CorpusFile("mp3/taglib__compressed_id3_frame_invalid.mp3"), eInvalidData},
    };
    for (const auto& c : cases) {
        std::vector<CTagFrame> frames = {{"OLD", "", ""}};
        EXPECT_EQ(ListTagFrames(c.path, frames), c.code) << c.path;
        EXPECT_TRUE(frames.empty()) << c.path;
    }
    std::vector<CTagFrame> frames;
    EXPECT_EQ(ListTagFrames(dir.Write("untagged.mp3", Audio()), frames), 0);
    EXPECT_TRUE(frames.empty());
}

// Deleting frame N leaves exactly the other frames, in their order, over the
// same audio; a second frame of the same identifier is told apart by position.
// The ID3v1 tag is rewritten from the frames, and where the file had none or
// a different one, the merged view may show what it adds behind them.
TEST(DeleteTagFrame, RemovesExactlyTheChosenFrame) {
    CTempDir dir;
    const std::string handBuilt =
        Tag({Frame("TIT2", Latin1("Title")), Frame("TPE1", Latin1("First")), Frame("APIC", PictureBody()),
             Frame("TPE1", Latin1("Second")), Frame("TXXX", UserText("melodex"))}) +
        Audio();
    const struct {
        const char* name;
        std::string bytes;
        int32_t index;
        size_t addedByV1;
    } cases[] = {
        {"second of two frames with one identifier", handBuilt, 3, 0},
        {"first frame", handBuilt, 0, 0},
        {"last frame", handBuilt, 4, 0},
        {"ID3v2.3 and ID3v1 from another program", ReadFileBytes(CorpusFile("mp3/mutagen__silence-44-s.mp3")), 4, 0},
        {"picture among lyrics and URL frames",
         ReadFileBytes(CorpusFile("mp3/mp3agic__v1andv23tagswithalbumimage.mp3")), 13, 0},
        {"ID3v1 only: the rest moves into a new ID3v2 tag", ReadFileBytes(CorpusFile("mp3/mp3agic__v1tag.mp3")), 0, 0},
        {"ID3v2.2 tag rewritten as 2.3", ReadFileBytes(CorpusFile("mp3/mutagen__id3v22-test.mp3")), 2, 1},
        // Unicode frames stay.
        {"UTF-16 frames without an ID3v1 tag", ReadFileBytes(CorpusFile("mp3/mutagen__vbri.mp3")), 0, 1},
    };
    for (const auto& c : cases) {
        const std::string path = dir.Write("song.mp3", c.bytes);
        std::vector<CTagFrame> expected = List(path);
        ASSERT_LT(static_cast<size_t>(c.index), expected.size()) << c.name;
        expected.erase(expected.begin() + c.index);

        ASSERT_EQ(DeleteTagFrame(path, c.index), 0) << c.name;
        std::vector<CTagFrame> after = List(path);
        ASSERT_EQ(after.size(), expected.size() + c.addedByV1) << c.name;
        after.resize(expected.size());
        EXPECT_EQ(after, expected) << c.name;
        const std::string bytes = ReadFileBytes(path);
        EXPECT_EQ(bytes.compare(0, 4, "ID3\x03"), 0) << c.name;
        EXPECT_EQ(bytes.compare(bytes.size() - 128, 3, "TAG"), 0) << c.name;
    }
}

TEST(DeleteTagFrame, DeletingTheOnlyFrameDropsTheId3v2TagAndKeepsTheAudio) {
    CTempDir dir;
    const std::string path = dir.Write("one.mp3", Tag({Frame("TXXX", UserText("0.92"))}) + Audio());
    ASSERT_EQ(DeleteTagFrame(path, 0), 0);
    EXPECT_TRUE(List(path).empty());
    // An empty ID3v1 tag is all that is left around the audio.
    EXPECT_EQ(ReadFileBytes(path), Audio() + "TAG" + std::string(124, '\0') + char(0xFF));
}

TEST(DeleteTagFrame, RefusalsLeaveTheFileByteForByte) {
    constexpr int32_t kAnyFailure = INT32_MIN;
    CTempDir dir;
    const std::string tagged = Tag({Frame("TIT2", Latin1("Old")), Frame("TPE1", Latin1("Artist"))}) + Audio();
    const struct {
        const char* name;
        std::string bytes;  // empty: no file
        mode_t mode;
        int32_t index;
        int32_t code;
    } cases[] = {
        {"index past the last frame", tagged, 0644, 2, eParamErr},
        {"negative index", tagged, 0644, -1, eParamErr},
        {"no frames at all", Audio(), 0644, 0, eParamErr},
        {"read-only file", tagged, 0444, 0, eFileReadOnly},
        {"vanished file", "", 0644, 0, eFileNotFound},
        {"compressed frame the library would overrun",
         Tag({Frame("APIC", BigEndian32(4000) + std::string(64, 'x'), 3, 0x0080)}) + Audio(), 0644, 0, eInvalidData},
        {"version 2.4 frames the library cannot parse",
         Tag({Frame("TIT2", Latin1("Four"), 4), Frame("APIC", PictureBody(), 4)}, 4) + Audio() +
             V1("V1", "", 1, 1),
         0644, 0, eInvalidData},
        // Merging the ID3v1 comment rewrites a v2 frame: written back, the
        // file would lose that frame's own text, or get garbled UTF-16.
        {"ID3v2 comment the ID3v1 comment would overwrite",
         Tag({Frame("TIT2", Latin1("Title")), Frame("COMM", std::string("\0engID3v1 Comment\0own text", 23))}) +
             Audio() + V1WithComment("v1 text"),
         0644, 0, eInvalidData},
        {"UTF-16 comment descriptions the merge would garble",
         ReadFileBytes(CorpusFile("mp3/mp3agic__v1andv23tagswithalbumimage-utf16le.mp3")), 0644, 0, eInvalidData},
        // Unknown version 2.2 frames are rendered with garbage identifiers,
        // after which the library loses the frames behind them; caught either
        // before the update or when the copy is read back.
        {"version 2.2 frames the library would garble", ReadFileBytes(CorpusFile("mp3/taglib__itunes10.mp3")), 0644,
         0, kAnyFailure},
    };
    for (const auto& c : cases) {
        const std::string path = dir.File("f.mp3");
        std::remove(path.c_str());
        if (!c.bytes.empty()) {
            dir.Write("f.mp3", c.bytes);
            chmod(path.c_str(), c.mode);
        }
        const int32_t code = DeleteTagFrame(path, c.index);
        if (c.code == kAnyFailure) {
            EXPECT_NE(code, 0) << c.name;
        } else {
            EXPECT_EQ(code, c.code) << c.name;
        }
        if (c.bytes.empty()) {
            EXPECT_FALSE(FileExists(path.c_str())) << c.name;
        } else {
            EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.name;
            chmod(path.c_str(), 0644);
        }
    }
    EXPECT_EQ(DeleteTagFrame(dir.path(), 0), eParamErr);
}

TEST(DeleteTagFrame, LockedFolderFailsAndKeepsTheFile) {
    CTempDir dir;
    const std::string original = Tag({Frame("TIT2", Latin1("Old"))}) + Audio();
    const std::string path = dir.Write("f.mp3", original);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    int32_t code = 0;
    {
        CWithoutRootOverride asUser;
        code = DeleteTagFrame(path, 0);
    }
    chmod(dir.path().c_str(), 0755);
    EXPECT_NE(code, 0);
    EXPECT_EQ(ReadFileBytes(path), original);
}

// On any real-world file, deleting the first frame either leaves exactly the
// other frames or fails and leaves the file as it was.
TEST(DeleteTagFrame, EveryCorpusFileLosesOneFrameOrStaysUntouched) {
    CTempDir dir;
    int deleted = 0;
    for (const std::string& source : CorpusMp3s()) {
        const std::string original = ReadFileBytes(source);
        const std::string path = dir.Write("copy.mp3", original);
        std::vector<CTagFrame> before;
        if (ListTagFrames(path, before) != 0 || before.empty()) {
            EXPECT_NE(DeleteTagFrame(path, 0), 0) << source;
            EXPECT_EQ(ReadFileBytes(path), original) << source;
            continue;
        }
        const int32_t code = DeleteTagFrame(path, 0);
        if (code == 0) {
            ++deleted;
            before.erase(before.begin());
            std::vector<CTagFrame> after = List(path);
            ASSERT_GE(after.size(), before.size()) << source;
            after.resize(before.size());  // the rewritten ID3v1 tag may add its comment
            EXPECT_EQ(after, before) << source;
        } else {
            EXPECT_EQ(ReadFileBytes(path), original) << source << " code " << code;
        }
    }
    EXPECT_GT(deleted, 5);
}
