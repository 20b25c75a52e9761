#include "foundation/platform_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(PlatformPaths, FoldersFollowTheEnvironment) {
    CTempDir dir;
    CScopedEnv home("HOME", dir.File("home").c_str());
    {
        CScopedEnv config("XDG_CONFIG_HOME", nullptr);
        CScopedEnv data("XDG_DATA_HOME", "relative/is/ignored");
        EXPECT_EQ(ConfigHome(), dir.File("home/.config"));
        EXPECT_EQ(LibraryFolder(), dir.File("home/.local/share"));
        EXPECT_EQ(TrashFolder(), dir.File("home/.local/share/Trash"));
        EXPECT_EQ(MusicFolder(), dir.File("home/Music"));
        EXPECT_EQ(PreferencesFolder(), dir.File("home/.config/Melodex"));
    }
    CScopedEnv config("XDG_CONFIG_HOME", dir.File("config").c_str());
    CScopedEnv data("XDG_DATA_HOME", dir.File("data").c_str());
    EXPECT_EQ(LibraryFolder(), dir.File("data"));
    EXPECT_EQ(TrashFolder(), dir.File("data/Trash"));
    const std::string prefs = PreferencesFolder();
    EXPECT_EQ(prefs, dir.File("config/Melodex"));
    struct stat info {};
    ASSERT_EQ(stat(prefs.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(PlatformPaths, MusicFolderFromUserDirs) {
    CTempDir dir;
    CScopedEnv home("HOME", "/home/u");
    CScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
    const struct {
        const char* file;
        const char* music;
    } cases[] = {
        {"# comment\nXDG_MUSIC_DIR=\"$HOME/Musik\"\n", "/home/u/Musik"},
        {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_MUSIC_DIR=\"/srv/My \\\"Tunes\\\"/\"\n", "/srv/My \"Tunes\""},
        {"XDG_MUSIC_DIR=\"$HOME/\"\n", "/home/u/Music"},
        {"XDG_MUSIC_DIR=\"relative\"\n", "/home/u/Music"},
        {"XDG_VIDEOS_DIR=\"$HOME/Videos\"\n", "/home/u/Music"},
    };
    for (const auto& c : cases) {
        dir.Write("user-dirs.dirs", c.file);
        EXPECT_EQ(MusicFolder(), c.music) << c.file;
    }
}
