#include "foundation/desktop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

TEST(DesktopTest, FileUriEncodesEverythingThatCouldEndAQuotedArgument) {
    EXPECT_EQ(FileUri("/home/me/My Music/50%/it's \"x\".mp3"),
              "file:///home/me/My%20Music/50%25/it%27s%20%22x%22.mp3");
    EXPECT_EQ(FileUri("/caf\xc3\xa9/a-b_c.~"), "file:///caf%C3%A9/a-b_c.~");
}

TEST(DesktopTest, LaunchStartsAProgramWithoutWaitingAndReportsAMissingOne) {
    CTempDir dir;
    const std::string marker = dir.File("ran");
    EXPECT_TRUE(Desktop().Launch({"touch", marker}));
    for (int i = 0; i < 500 && !std::filesystem::exists(marker); ++i) usleep(10000);
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_FALSE(Desktop().Launch({"melodex-no-such-program"}));
    EXPECT_FALSE(Desktop().Launch({}));
}

}  // namespace
