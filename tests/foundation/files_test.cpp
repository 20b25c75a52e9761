#include "foundation/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "support/error_code.h"
#include "support/temp_dir.h"
#include "support/without_root_override.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

void Write(const std::string& path, const std::string& bytes, EFileMode mode = EFileMode::Shared) {
    WriteWholeFile(path.c_str(), bytes.data(), bytes.size(), mode);
}

// A path of exactly length bytes below folder, through nested folders.
std::string DeepPath(const std::string& folder, size_t length) {
    std::string path = folder;
    while (path.size() + 1 + 200 + 1 + 100 < length) path += "/" + std::string(200, 'd');
    return path + "/" + std::string(length - path.size() - 1, 'f');
}

}  // namespace

TEST(Files, WholeFileWriteReplacesAtomicallyAndReadsBack) {
    CTempDir dir;
    const std::string path = dir.File("prefs");
    Write(path, "first");
    EXPECT_EQ(ReadFileBytes(path), "first");
    EXPECT_EQ(ModeOf(path), 0666 & ~[] { mode_t m = umask(0); umask(m); return m; }());

    chmod(path.c_str(), 0640);
    Write(path, std::string("second\0x", 8));
    EXPECT_EQ(ModeOf(path), 0640u) << "a replaced file keeps its permissions";
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"prefs"}) << "no temporary file is left";

    CFileBlock block = ReadWholeFile(path.c_str());
    ASSERT_EQ(block.length, 8u);
    EXPECT_EQ(std::string(block.data.get(), 8), std::string("second\0x", 8));
    EXPECT_EQ(block.data[8], '\0');

    // Account data is private whatever the file had before.
    Write(path, "secret", EFileMode::Private);
    EXPECT_EQ(ModeOf(path), 0600u);
    Write(dir.File("new-secret"), "secret", EFileMode::Private);
    EXPECT_EQ(ModeOf(dir.File("new-secret")), 0600u);
}

TEST(Files, WholeFileWriteFailuresLeaveTheOldFile) {
    CTempDir dir;
    const std::string path = dir.File("cache");
    Write(path, "keep me");
    EXPECT_NE(ErrorCodeOf([&] { WriteWholeFile(path.c_str(), "", 0); }), 0) << "an empty block fails";
    EXPECT_EQ(ReadFileBytes(path), "keep me");
    EXPECT_EQ(ErrorCodeOf([&] { Write(dir.File("no/such/folder"), "x"); }), eFileNotFound);

    {
        CWithoutRootOverride asUser;
        chmod(path.c_str(), 0444);
        EXPECT_EQ(ErrorCodeOf([&] { Write(path, "changed"); }), EACCES);
        EXPECT_EQ(ReadFileBytes(path), "keep me");
    }
}

TEST(Files, WholeFileWriteFollowsSymbolicLinks) {
    CTempDir dir;
    const std::string real = dir.File("real");
    const std::string link = dir.File("link");
    Write(real, "old");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    Write(link, "new");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(real), "new");
}

TEST(Files, ReadWholeFileFailures) {
    CTempDir dir;
    EXPECT_EQ(ErrorCodeOf([&] { ReadWholeFile(dir.File("missing").c_str()); }), eFileNotFound);
    EXPECT_EQ(ErrorCodeOf([&] { ReadWholeFile(dir.Write("empty", "").c_str()); }), eUnspecified);
}

TEST(Files, PathsUpToTheLimitWorkAndLongerOnesAreNeverShortened) {
    CTempDir dir;
    const std::string longest = DeepPath(dir.path(), kMaxPathLength);
    ASSERT_EQ(longest.size(), kMaxPathLength);
    const std::string folder = longest.substr(0, longest.rfind('/'));
    ASSERT_TRUE(MakeDirectories(folder.c_str()));
    Write(longest, "deep");
    EXPECT_TRUE(FileExists(longest.c_str()));
    EXPECT_EQ(FileSize(longest.c_str()), 4);
    EXPECT_EQ(ReadWholeFile(longest.c_str()).length, 4u);

    const std::string tooLong = longest + "g";  // its first 4,095 bytes name the file above
    const std::vector<std::pair<const char*, std::function<void()>>> throwing = {
        {"WriteWholeFile", [&] { Write(tooLong, "x"); }},
        {"ReadWholeFile", [&] { ReadWholeFile(tooLong.c_str()); }},
        {"OpenFile", [&] { OpenFile(tooLong.c_str(), "wb"); }},
        {"DeleteFile", [&] { DeleteFile(tooLong.c_str(), EDeleteMode::Remove); }},
        {"Trash", [&] { DeleteFile(tooLong.c_str(), EDeleteMode::MoveToTrash); }},
    };
    for (const auto& [what, action] : throwing) EXPECT_EQ(ErrorCodeOf(action), ENAMETOOLONG) << what;
    EXPECT_FALSE(FileExists(tooLong.c_str()));
    EXPECT_EQ(FileSize(tooLong.c_str()), 0);
    EXPECT_FALSE(MakeDirectories(tooLong.c_str()));
    EXPECT_EQ(ReadFileBytes(longest), "deep") << "the shortened path was not touched";
}

TEST(Files, ExistsAndSize) {
    CTempDir dir;
    const std::string file = dir.Write("song.mp3", "12345");
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_FALSE(FileExists(dir.File("missing").c_str()));
    EXPECT_EQ(FileSize(file.c_str()), 5);
    EXPECT_EQ(FileSize(dir.File("missing").c_str()), 0);

    // Sizes of 4 GiB and more are reported whole.
    const std::string big = dir.File("big");
    const int64_t size = (int64_t{5} << 30) + 3;
    ASSERT_EQ(truncate(dir.Write("big", "").c_str(), size), 0);
    EXPECT_EQ(FileSize(big.c_str()), size);
    CStreamPtr stream(OpenFile(big.c_str(), "rb"));
    EXPECT_EQ(StreamLength(stream.get()), size);
}

TEST(Files, MakeDirectories) {
    CTempDir dir;
    const std::string nested = dir.File("a/b/c");
    EXPECT_TRUE(MakeDirectories(nested.c_str()));
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_TRUE(MakeDirectories((nested + "/").c_str()));

    const auto before = fs::last_write_time(dir.File("a/b"));
    EXPECT_TRUE(MakeDirectories(nested.c_str())) << "all folders exist";
    EXPECT_EQ(fs::last_write_time(dir.File("a/b")), before);

    EXPECT_TRUE(MakeDirectories(dir.File("private").c_str(), 0700));
    EXPECT_EQ(ModeOf(dir.File("private")), 0700u);

    dir.Write("file", "x");
    EXPECT_FALSE(MakeDirectories(dir.File("file").c_str())) << "a file is not a folder";
    EXPECT_FALSE(MakeDirectories(dir.File("file/sub").c_str()));
    EXPECT_TRUE(MakeDirectories(""));
}

TEST(Files, ExtensionAndLastComponent) {
    const struct {
        const char* path;
        const char* extension;
        const char* last;
    } cases[] = {
        {"/music/song.mp3", ".mp3", "song.mp3"},
        {"/music/live.at.home.MP3", ".MP3", "live.at.home.MP3"},
        {"/music/README", "", "README"},
        {"song", "", "song"},
        {"C:\\music\\x.mp3", ".mp3", "x.mp3"},
        {"/music/", "", ""},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(FileExtension(c.path), c.extension) << c.path;
        EXPECT_STREQ(LastPathComponent(c.path), c.last) << c.path;
    }
}

TEST(Files, Streams) {
    CTempDir dir;
    std::string bytes(300, 'x');
    bytes.replace(172, 3, "TAG");
    const std::string path = dir.Write("song.mp3", bytes);
    EXPECT_EQ(ErrorCodeOf([&] { OpenFile(dir.File("missing").c_str(), "rb"); }), eFileNotFound);

    CStreamPtr stream(OpenFile(path.c_str(), "r+b"));
    SeekStream(stream.get(), 10);
    EXPECT_EQ(StreamLength(stream.get()), 300);
    EXPECT_EQ(ftello(stream.get()), 10) << "the position is kept";
    SeekStream(stream.get(), -128);
    char tag[3];
    ReadAll(stream.get(), tag, 3);
    EXPECT_EQ(std::string(tag, 3), "TAG");
    ReadAll(stream.get(), tag, 0);
    SeekStream(stream.get(), 0);
    WriteAll(stream.get(), "ID3", 3);
    SeekStream(stream.get(), 298);
    EXPECT_EQ(ErrorCodeOf([&] { ReadAll(stream.get(), tag, 3); }), eUnspecified) << "reading past the end";
    CloseStream(stream.release());
    EXPECT_EQ(ReadFileBytes(path).substr(0, 4), "ID3x");
}

TEST(Files, DeleteRemovesAndReportsRawErrno) {
    CTempDir dir;
    const std::string path = dir.Write("gone", "x");
    DeleteFile(path.c_str(), EDeleteMode::Remove);
    EXPECT_FALSE(FileExists(path.c_str()));
    EXPECT_EQ(ErrorCodeOf([&] { DeleteFile(path.c_str(), EDeleteMode::Remove); }), ENOENT);
}
