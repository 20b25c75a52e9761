// Renaming by pattern through the front end.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "foundation/files.h"

namespace {

TEST(CliRename, RenamesFromTheTagsWithoutReplacingFiles) {
    CCliSandbox box;
    const std::string a = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    const std::string b = box.CopyFixture("short_22k_mono_cbr32.mp3", "b.mp3");
    const std::string untagged = box.CopyFixture("short_48k_stereo_cbr64.mp3", "c.mp3");
    box.Json({"write-tags", a, "--artist", "\xc3\x89nergy", "--title", "One"});
    box.Json({"write-tags", b, "--artist", "\xc3\x89nergy", "--title", "One"});

    const CJson dry = box.Json({"rename", "--dry-run", a});
    EXPECT_EQ(dry[0]["newName"].text, "\xc3\x89nergy - One.mp3");
    EXPECT_TRUE(dry[0]["renamedTo"].IsNull());
    EXPECT_TRUE(FileExists(a.c_str()));

    const CJson out = box.Json({"rename", a, b, untagged});
    ASSERT_EQ(out.size(), 3u);
    // Names from tags become UTF-8 file names; a taken name is numbered.
    EXPECT_EQ(out[0]["renamedTo"].text, box.Dir().File("\xc3\x89nergy - One.mp3"));
    EXPECT_EQ(out[1]["renamedTo"].text, box.Dir().File("\xc3\x89nergy - One (2).mp3"));
    EXPECT_TRUE(out[2]["newName"].IsNull());
    EXPECT_TRUE(out[2]["renamedTo"].IsNull());
    EXPECT_TRUE(FileExists(untagged.c_str()));
    EXPECT_FALSE(FileExists(a.c_str()));

    // --pattern is for this run only.
    const CJson custom = box.Json({"rename", "--dry-run", "--pattern", "%title", out[0]["renamedTo"].text});
    EXPECT_EQ(custom[0]["newName"].text, "One.mp3");
    EXPECT_EQ(box.Json({"prefs", "show"})["renamePattern"].text, "%artist - %title");
}

TEST(CliRename, AFileThatCannotBeRenamedIsReportedAndTheOthersGoOn) {
    CCliSandbox box;
    const std::string locked = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    const std::string free = box.CopyFixture("short_22k_mono_cbr32.mp3", "b.mp3");
    box.Json({"write-tags", locked, "--title", "Locked"});
    box.Json({"write-tags", free, "--title", "Free"});
    ::chmod(locked.c_str(), 0444);
    const CJson out = box.Json({"rename", "--pattern", "%title", locked, free}, 1);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(out[0]["renamedTo"].IsNull());
    EXPECT_EQ(out[1]["renamedTo"].text, box.Dir().File("Free.mp3"));
    EXPECT_TRUE(FileExists(locked.c_str()));
}

}  // namespace
