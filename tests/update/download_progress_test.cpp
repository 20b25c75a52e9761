#include <gtest/gtest.h>

#include "update/updater.h"

namespace {

TEST(DownloadProgress, RemainingTime) {
    const struct {
        int64_t seconds;
        const char* text;
    } cases[] = {
        {0, "Less than a minute"},    {59, "Less than a minute"}, {60, "About one minute"},
        {119, "About one minute"},    {120, "About two minutes"}, {180, "About three minutes"},
        {239, "About three minutes"}, {240, "4 minutes"},         {300, "5 minutes"},
        {3599, "59 minutes"},         {3600, "1 hours and 0 minutes"}, {7260, "2 hours and 1 minutes"},
    };
    for (const auto& c : cases) EXPECT_EQ(RemainingTimeText(c.seconds), c.text) << c.seconds;
}

TEST(DownloadProgress, TimerTexts) {
    SDownloadProgress p = DownloadProgressTexts(false, 1536, 1263616, 2048, 3725);
    EXPECT_EQ(p.downloaded, "1.5 KB out of 1.2 MB");
    EXPECT_EQ(p.elapsed, "01:02:05");
    EXPECT_EQ(p.speed, "2.0 kilobytes per second");
    EXPECT_EQ(p.remaining, "10 minutes");  // (1263616 - 1536) / 2048 = 616 s
    EXPECT_EQ(p.progressMax, 1263616);
    EXPECT_EQ(p.progressValue, 1536);

    // No speed, or fewer than three seconds: no estimate.
    EXPECT_EQ(DownloadProgressTexts(false, 100, 1000, 0, 10).remaining, "--");
    EXPECT_EQ(DownloadProgressTexts(false, 100, 1000, 100, 2).remaining, "--");
    EXPECT_EQ(DownloadProgressTexts(false, 0, 0, 0, 0).speed, "0.0 kilobytes per second");

    p = DownloadProgressTexts(true, 5000, 1000, 100, 9);
    EXPECT_EQ(p.downloaded, "Download Complete.");
    EXPECT_EQ(p.progressMax, 1);
    EXPECT_EQ(p.progressValue, 1);
}

TEST(DownloadProgress, WindowHeightAndFileName) {
    EXPECT_EQ(UpdaterWindowHeight(false, true, true), 43);
    EXPECT_EQ(UpdaterWindowHeight(true, false, true), 95);
    EXPECT_EQ(UpdaterWindowHeight(true, true, false), 113);
    EXPECT_EQ(UpdaterWindowHeight(true, true, true), 294);
    EXPECT_EQ(DownloadFileName("http://h/a/Melodex-2.tar.gz"), "Melodex-2.tar.gz");
    EXPECT_EQ(DownloadFileName("http://h/get/M.zip?mirror=1#x"), "M.zip");
}

}  // namespace
