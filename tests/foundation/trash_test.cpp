#include "foundation/trash.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "support/scoped_env.h"
#include "support/error_code.h"
#include "support/temp_dir.h"
#include "support/without_root_override.h"

namespace fs = std::filesystem;

namespace {

// A home Trash below a temporary data folder, dates in UTC from a fixed clock.
class TrashTest : public ::testing::Test {
protected:
    TrashTest() : tzReset_(), data_("XDG_DATA_HOME", dir_.File("data").c_str()), tz_("TZ", "UTC") {
        tzset();
        clock_.SetWallTime(1700000000);  // 2023-11-14T22:13:20Z
        SetClock(&clock_);
    }
    ~TrashTest() override { SetClock(nullptr); }

    std::string Trash(const std::string& sub) const { return dir_.File("data/Trash/" + sub); }

    // Declared before tz_, so it runs after TZ is restored.
    struct CTzReset {
        ~CTzReset() { tzset(); }
    } tzReset_;
    CTempDir dir_;
    CScopedEnv data_;
    CScopedEnv tz_;
    CManualClock clock_;
};

int32_t TrashCode(const std::string& path) {
    return ErrorCodeOf([&] { MoveToTrash(path.c_str()); });
}

}  // namespace

TEST_F(TrashTest, MovesFileAndWritesEncodedInfo) {
    fs::create_directories(dir_.File("My Music/50%"));
    const std::string song = dir_.Write("My Music/50%/Caf\xc3\xa9 #1.mp3", "audio");
    DeleteFile(song.c_str(), EDeleteMode::MoveToTrash);

    EXPECT_FALSE(fs::exists(song));
    EXPECT_EQ(ReadFileBytes(Trash("files/Caf\xc3\xa9 #1.mp3")), "audio");
    const std::string real = fs::canonical(dir_.path()).string();
    EXPECT_EQ(ReadFileBytes(Trash("info/Caf\xc3\xa9 #1.mp3.trashinfo")),
              "[Trash Info]\nPath=" + real + "/My%20Music/50%25/Caf%C3%A9%20%231.mp3\n"
              "DeletionDate=2023-11-14T22:13:20\n");
}

TEST_F(TrashTest, NothingInTheTrashIsReplaced) {
    const std::string first = dir_.Write("a/song.mp3", "first");
    MoveToTrash(first.c_str());
    const std::string second = dir_.Write("b/song.mp3", "second");
    MoveToTrash(second.c_str());
    // A stray file without info keeps its place too.
    dir_.Write("data/Trash/files/song.3.mp3", "stray");
    const std::string third = dir_.Write("c/song.mp3", "third");
    MoveToTrash(third.c_str());

    EXPECT_EQ(ReadFileBytes(Trash("files/song.mp3")), "first");
    EXPECT_EQ(ReadFileBytes(Trash("files/song.2.mp3")), "second");
    EXPECT_EQ(ReadFileBytes(Trash("files/song.3.mp3")), "stray");
    EXPECT_EQ(ReadFileBytes(Trash("files/song.4.mp3")), "third");
    EXPECT_NE(ReadFileBytes(Trash("info/song.2.mp3.trashinfo")).find("/b/song.mp3\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(Trash("info/song.3.mp3.trashinfo")));
}

TEST_F(TrashTest, LongNamesAndLinks) {
    // The info file name must fit: the name in the Trash is cut, Path= is not.
    const std::string name = std::string(250, 'n') + ".mp3";
    const std::string song = dir_.Write(name, "long");
    MoveToTrash(song.c_str());
    const std::string kept = std::string(NAME_MAX - 10 - 4, 'n') + ".mp3";
    EXPECT_EQ(ReadFileBytes(Trash("files/" + kept)), "long");
    EXPECT_NE(ReadFileBytes(Trash("info/" + kept + ".trashinfo")).find(name + "\n"), std::string::npos);

    // A link goes to the Trash itself; its target stays.
    const std::string target = dir_.Write("target.mp3", "t");
    ASSERT_EQ(symlink(target.c_str(), dir_.File("link.mp3").c_str()), 0);
    MoveToTrash(dir_.File("link.mp3").c_str());
    EXPECT_TRUE(fs::is_symlink(Trash("files/link.mp3")));
    EXPECT_EQ(ReadFileBytes(target), "t");
}

TEST_F(TrashTest, FailuresThrowRawErrnoAndLeaveNoInfo) {
    EXPECT_EQ(TrashCode(dir_.File("missing.mp3")), ENOENT);
    {
        CWithoutRootOverride asUser;
        const std::string song = dir_.Write("locked/song.mp3", "x");
        chmod(dir_.File("locked").c_str(), 0555);
        EXPECT_EQ(TrashCode(song), EACCES);
        chmod(dir_.File("locked").c_str(), 0755);
        EXPECT_TRUE(fs::exists(song));
        EXPECT_TRUE(fs::is_empty(Trash("info")));
    }
}

// Files on another file system go to that volume's Trash, or are copied into
// the home Trash when the volume has none. Needs /dev/shm on its own device;
// a lock keeps parallel runs from sharing the volume's Trash folder.
TEST_F(TrashTest, OtherVolumes) {
    struct stat shm {}, home {};
    fs::create_directories(dir_.File("data"));
    if (stat("/dev/shm", &shm) != 0 || stat(dir_.File("data").c_str(), &home) != 0 || shm.st_dev == home.st_dev)
        GTEST_SKIP() << "no second file system";
    const int lock = open("/dev/shm/melodex-trash-test.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);

    char pattern[] = "/dev/shm/melodex-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string volume = pattern;
    const std::string uidTrash = "/dev/shm/.Trash-" + std::to_string(getuid());
    const bool hadTrash = fs::exists(uidTrash);
    const std::string name = volume.substr(9) + ".mp3";  // unique per run

    const std::string first = volume + "/" + name;
    WriteWholeFile(first.c_str(), "volume", 6);
    MoveToTrash(first.c_str());
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(ReadFileBytes(uidTrash + "/files/" + name), "volume");
    EXPECT_NE(ReadFileBytes(uidTrash + "/info/" + name + ".trashinfo").find("\nPath=" + volume.substr(9) + "/" + name + "\n"),
              std::string::npos) << "Path= is relative to the volume";
    fs::remove(uidTrash + "/files/" + name);
    fs::remove(uidTrash + "/info/" + name + ".trashinfo");

    if (!hadTrash) {
        fs::remove_all(uidTrash);
        // A volume Trash that cannot be made: copy home, then remove.
        WriteWholeFile(uidTrash.c_str(), "blocker", 7);
        const std::string second = volume + "/" + name;
        WriteWholeFile(second.c_str(), "copied", 6);
        MoveToTrash(second.c_str());
        EXPECT_FALSE(fs::exists(second));
        EXPECT_EQ(ReadFileBytes(Trash("files/" + name)), "copied");
        EXPECT_NE(ReadFileBytes(Trash("info/" + name + ".trashinfo")).find("\nPath=" + second + "\n"),
                  std::string::npos);
        fs::remove(uidTrash);
    }
    fs::remove_all(volume);
    flock(lock, LOCK_UN);
    close(lock);
}
