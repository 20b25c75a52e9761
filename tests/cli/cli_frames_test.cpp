// The tag editor's frames through the front end.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "foundation/files.h"
#include "library/tag_frames.h"

namespace {

TEST(CliFrames, ListsAndDeletesFramesAsTheTagEditorDoes) {
    CCliSandbox box;
    const std::string file = box.Dir().Copy(CorpusFile("mp3/mutagen__silence-44-s.mp3"), "s.mp3");
    ::chmod(file.c_str(), 0644);
    std::vector<CTagFrame> frames;
    ASSERT_EQ(ListTagFrames(file, frames), 0);
    ASSERT_GT(frames.size(), 1u);

    const CJson listed = box.Json({"frames", file});
    ASSERT_EQ(listed.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(listed[i]["id"].text, frames[i].id);
        EXPECT_EQ(listed[i]["description"].text, frames[i].description);
        EXPECT_EQ(listed[i]["value"].text, frames[i].value);
    }

    const CJson after = box.Json({"delete-frame", file, "0"});
    ASSERT_EQ(after.size(), frames.size() - 1);
    EXPECT_EQ(after[0]["id"].text, frames[1].id);

    const CCliResult outside = box.Run({"delete-frame", file, "99"});
    EXPECT_EQ(outside.status, 2);
    EXPECT_NE(outside.err.find("no frame 99"), std::string::npos) << outside.err;
    EXPECT_EQ(box.Run({"frames", box.Dir().File("gone.mp3")}).status, 1);

    ::chmod(file.c_str(), 0444);
    const std::string before = ReadFileBytes(file);
    const CCliResult locked = box.Run({"delete-frame", file, "0"});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("the frame could not be deleted"), std::string::npos) << locked.err;
    EXPECT_EQ(ReadFileBytes(file), before);
}

}  // namespace
