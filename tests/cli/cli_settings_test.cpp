// Stored settings and the identification cache through the front end.
#include <sys/stat.h>

#include <cstring>

#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "foundation/files.h"
#include "foundation/prefs.h"
#include "foundation/shell.h"
#include "identify/id_cache.h"

namespace {

TEST(CliPrefs, SetStoresFieldsThatShowAndTheCoreReadBack) {
    CCliSandbox box;
    const CJson set = box.Json({"prefs", "set", "userName", "J\xc3\xb6rg", "password", "pw", "requestTimeout", "3",
                                "requestRetries", "-2", "keepOriginal", "011000001", "fingerprintAlways", "1",
                                "mainWindow", "10,20,800,600", "renamePattern", "%track %title"});
    EXPECT_EQ(set["userName"].text, "J\xc3\xb6rg");
    // The floors of the preferences window.
    EXPECT_EQ(set["requestTimeout"].number, 15);
    EXPECT_EQ(set["requestRetries"].number, 0);

    CPrefs prefs;
    ASSERT_TRUE(LoadPrefs(prefs, NullShell(), (box.PrefsDir() + "/Melodex.prefs").c_str()));
    EXPECT_STREQ(prefs.userName, "J\xf6rg");  // stored as ISO-8859-1
    EXPECT_STREQ(prefs.password, "pw");
    EXPECT_STREQ(prefs.renamePattern, "%track %title");
    EXPECT_EQ(prefs.keepOriginal[1], 1);
    EXPECT_EQ(prefs.keepOriginal[3], 0);
    EXPECT_EQ(prefs.fingerprintAlways, 1);
    EXPECT_EQ(prefs.mainWindow.width, 800);

    const CJson show = box.Json({"prefs", "show"});
    EXPECT_EQ(show["userName"].text, "J\xc3\xb6rg");
    EXPECT_EQ(show["keepOriginal"].text, "011000001");
    EXPECT_EQ(show["searchScope"].text, "11111111111");
    EXPECT_EQ(show["columns"].size(), 11u);
    EXPECT_EQ(show["mainWindow"]["top"].number, 20);
    EXPECT_EQ(show["identificationsLeft"].number, -1);
    EXPECT_EQ(show.size(), 35u);
}

TEST(CliPrefs, WithoutAFileTheDefaultsShowAndNothingIsWritten) {
    CCliSandbox box;
    const CJson show = box.Json({"prefs", "show"});
    EXPECT_EQ(show["renamePattern"].text, "%artist - %title");
    EXPECT_EQ(show["requestTimeout"].number, 160);
    EXPECT_FALSE(FileExists((box.PrefsDir() + "/Melodex.prefs").c_str()));
}

TEST(CliPrefs, DefaultFolderFollowsTheConfigHome) {
    CCliSandbox box;
    const CCliResult r = box.RunRaw({"prefs", "set", "formCity", "Oslo"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FileExists((box.Home() + "/.config/Melodex/Melodex.prefs").c_str()));
}

TEST(CliPrefs, UnreadableOrDamagedPreferences) {
    {
        // A preferences "file" that cannot be read stops the command before
        // anything could replace it.
        CCliSandbox box;
        ::mkdir((box.PrefsDir() + "/Melodex.prefs").c_str(), 0700);
        const CCliResult r = box.Run({"prefs", "set", "useCache", "0"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot read the preferences file"), std::string::npos) << r.err;
        EXPECT_TRUE(box.Json({"prefs", "show"}, 1).IsNull());
    }
    {
        // A damaged file is reported; the defaults stand, as in the application.
        CCliSandbox box;
        box.Dir().Write("prefs/Melodex.prefs", "not a preferences file");
        const CCliResult r = box.Run({"prefs", "show"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("renamePattern: %artist - %title"), std::string::npos) << r.out;
    }
    {
        // --prefs-dir naming a file.
        CCliSandbox box;
        const std::string file = box.Dir().Write("plain", "x");
        const CCliResult r = box.RunRaw({"--prefs-dir", file, "prefs", "show"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("not a folder"), std::string::npos) << r.err;
    }
}

CTagValues Match(const char* title, int32_t track) {
    CTagValues values{};
    std::strcpy(values.title, title);
    std::strcpy(values.artist, "Art");
    values.track = track;
    return values;
}

TEST(CliCache, ShowListsEntriesAndClearMovesTheFileToTheTrash) {
    CCliSandbox box;
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3");
    const std::string cachePath = box.PrefsDir() + "/Melodex.cache";
    {
        CIdCache cache(cachePath);
        cache.Store(song, {Match("Caf\xe9", 3), Match("Second", 0)});
    }
    const CJson shown = box.Json({"cache", "show"});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["path"].text, song);
    EXPECT_EQ(shown[0]["fileSize"].number, FileSize(song.c_str()));
    ASSERT_EQ(shown[0]["matches"].size(), 2u);
    EXPECT_EQ(shown[0]["matches"][0]["title"].text, "Caf\xc3\xa9");
    EXPECT_EQ(shown[0]["matches"][0]["track"].number, 3);
    EXPECT_EQ(shown[0]["matches"][1]["artist"].text, "Art");
    EXPECT_EQ(shown[0]["matches"][0].size(), 10u);

    const CJson cleared = box.Json({"cache", "clear"});
    EXPECT_EQ(cleared.size(), 1u);
    EXPECT_FALSE(FileExists(cachePath.c_str()));
    EXPECT_TRUE(FileExists((box.Home() + "/.local/share/Trash/files/Melodex.cache").c_str()));
    EXPECT_EQ(box.Json({"cache", "show"}).size(), 0u);
}

}  // namespace
