#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/text.h"
#include "library/tags.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> CorpusMp3s() {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusFile("mp3")))
        if (entry.is_regular_file()) paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool SameValues(const CTagValues& a, const CTagValues& b) {
    return std::string(a.title) == b.title && std::string(a.album) == b.album &&
           std::string(a.artist) == b.artist && std::string(a.genre) == b.genre &&
           std::string(a.comment) == b.comment && std::string(a.year) == b.year &&
           std::string(a.copyright) == b.copyright && std::string(a.url) == b.url && a.track == b.track &&
           a.disc == b.disc;
}

}  // namespace

// Every real-world file reads without crashing, also from two threads at once
// (the add worker reads while the main thread may read lyrics state).
TEST(TagsCorpus, EveryFileReads) {
    const std::vector<std::string> paths = CorpusMp3s();
    ASSERT_GT(paths.size(), 30u);
    std::vector<CFileTags> first(paths.size()), second(paths.size());
    std::thread other([&] {
        for (size_t i = 0; i < paths.size(); ++i) second[i] = ReadTags(paths[i]);
    });
    for (size_t i = 0; i < paths.size(); ++i) first[i] = ReadTags(paths[i]);
    other.join();
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_TRUE(SameValues(first[i].values, second[i].values)) << paths[i];
        HasLyricsFrame(paths[i]);
    }
}

// Saving any real-world file either stores values that read back, or fails
// and leaves the file byte for byte as it was.
TEST(TagsCorpus, EveryFileSavesOrStaysUntouched) {
    CTempDir dir;
    int saved = 0;
    for (const std::string& source : CorpusMp3s()) {
        const std::string original = ReadFileBytes(source);
        const std::string path = dir.Write("copy.mp3", original);
        CTagValues values = ReadTags(path).values;
        CopyBounded(values.title, sizeof values.title, "Saved title");
        values.track = 12;
        const int32_t code = WriteTags(path, values, EMarker::Set);
        if (code == 0) {
            ++saved;
            const CFileTags read = ReadTags(path);
            EXPECT_TRUE(read.marked) << source;
            EXPECT_STREQ(read.values.title, "Saved title") << source;
            EXPECT_EQ(read.values.track, 12) << source;
        } else {
            EXPECT_EQ(ReadFileBytes(path), original) << source << " code " << code;
        }
    }
    EXPECT_GT(saved, 20);
}
