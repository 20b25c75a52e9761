#include "fileops/itunes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fileops_support.h"
#include "foundation/files.h"
#include "support/fake_desktop.h"
#include "support/without_root_override.h"

namespace fs = std::filesystem;

namespace {

TEST(RefreshScriptTest, DatabaseIdTakesThePlaceOfTheNumber) {
    CRecordingDesktop desktop;
    RefreshItunesTrack(57);
    EXPECT_EQ(desktop.Scripts(), std::vector<std::string>{
                                     "tell application \"iTunes\"\nrefresh (first file track of library "
                                     "playlist 1 whose database ID is 57)\nend tell\n"});
    // Linux has no script runner: the built-in desktop reports -50.
    SetDesktop(nullptr);
    std::string result = "stale";
    EXPECT_EQ(RunAppleScript("x", 1, &result), -50);
    EXPECT_EQ(result, "");
}

TEST(ParseRequestTextTest, RecordsOfPathAndIdEachEndedByCarriageReturns) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::pair<std::string, int32_t>> records;
    };
    const Case cases[] = {
        {"two records", "/a/x.mp3\r12\r/a/y.mp3\r13\r", {{"/a/x.mp3", 12}, {"/a/y.mp3", 13}}},
        {"UTF-16 with ASCII only reads the same",
         std::string("/\0a\0\r\0-\0001\0\r\0", 12), {{"/a", -1}}},
        {"empty path stops", "\r12\r/a/y.mp3\r13\r", {}},
        {"missing second CR stops", "/a/x.mp3\r12\r/a/y.mp3\r13", {{"/a/x.mp3", 12}}},
        {"an ID that is no number is 0", "/a/x.mp3\rabc\r", {{"/a/x.mp3", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::pair<std::string, int32_t>> got;
        for (const CRequestRecord& record : ParseRequestText(c.text)) got.emplace_back(record.path, record.databaseId);
        EXPECT_EQ(got, c.records);
    }
}

class RequestFileTest : public ::testing::Test, public CFileOpsFixture {
protected:
    struct SAdded {
        std::vector<std::string> paths;
        std::vector<int32_t> ids;
        int calls = 0;
    };
    SAdded Process(bool& flag) {
        SAdded added;
        ProcessRequestFile(
            [&](std::vector<CFileRef> refs, std::vector<int32_t> ids) {
                ++added.calls;
                for (const CFileRef& ref : refs) added.paths.push_back(ref.path);
                added.ids = ids;
                return true;
            },
            flag);
        return added;
    }
    std::string Request(const std::string& text) { return dir.Write("data/Trash/melodex.open", text); }
};

TEST_F(RequestFileTest, ExistingFilesAreAddedWithTheirIdsAndTheFileIsConsumed) {
    const std::string x = dir.Write("a/x.mp3", "x");
    const std::string y = dir.Write("a/y.mp3", "y");
    const std::string request = Request(x + "\r12\r" + dir.File("a/gone.mp3") + "\r14\r" + y + "\r13\r");
    bool identifyAfterAdd = false;
    const SAdded added = Process(identifyAfterAdd);
    EXPECT_EQ(added.calls, 1);
    EXPECT_EQ(added.paths, (std::vector<std::string>{x, y}));
    EXPECT_EQ(added.ids, (std::vector<int32_t>{12, 13}));
    EXPECT_TRUE(identifyAfterAdd);
    EXPECT_FALSE(fs::exists(request));
}

TEST_F(RequestFileTest, WithoutValidRecordsNothingIsAddedButTheFlagIsSet) {
    for (const char* text : {"\r12\r", ""}) {
        Request(text);
        bool identifyAfterAdd = false;
        EXPECT_EQ(Process(identifyAfterAdd).calls, 0);
        EXPECT_TRUE(identifyAfterAdd);
    }
    // No request file: the flag is cleared and nothing else happens.
    bool identifyAfterAdd = true;
    EXPECT_EQ(Process(identifyAfterAdd).calls, 0);
    EXPECT_FALSE(identifyAfterAdd);
}

TEST_F(RequestFileTest, ARequestThatCannotBeDeletedStartsNoIdentification) {
    const std::string x = dir.Write("a/x.mp3", "x");
    const std::string request = Request(x + "\r12\r");
    ASSERT_EQ(chmod(dir.File("data/Trash").c_str(), 0555), 0);
    bool identifyAfterAdd = true;
    SAdded added;
    {
        CWithoutRootOverride asUser;
        added = Process(identifyAfterAdd);
    }
    EXPECT_EQ(added.calls, 1);
    EXPECT_FALSE(identifyAfterAdd);
    EXPECT_TRUE(fs::exists(request));
}

TEST_F(RequestFileTest, ActivationAddsTheHandedOverSongsAndIdentifiesThemAfterwards) {
    std::filesystem::create_directories(dir.File("a"));
    const std::string x = dir.Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "a/x.mp3");
    const std::string y = dir.Copy(FixtureFile("short_48k_stereo_cbr64.mp3"), "a/y.mp3");
    Request(x + "\r12\r" + y + "\r13\r");
    // Without an account the identification that follows does not start, so
    // nothing here reaches for the network; the consumed flag shows it was asked for.

    // While another run is in progress the request waits for the next time.
    app.saving = true;
    app.ApplicationActivated();
    EXPECT_FALSE(app.identifyAfterAdd);
    EXPECT_TRUE(fs::exists(RequestFilePath()));
    app.saving = false;

    app.ApplicationActivated();
    EXPECT_TRUE(app.adding);
    EXPECT_TRUE(app.identifyAfterAdd);
    EXPECT_FALSE(fs::exists(RequestFilePath()));
    ASSERT_TRUE(TickUntil([&] { return !app.adding; }));
    ASSERT_EQ(app.songs.Count(), 2);
    EXPECT_EQ(app.songs.At(0)->iTunesDatabaseId, 12);
    EXPECT_EQ(app.songs.At(1)->iTunesDatabaseId, 13);
    EXPECT_FALSE(app.identifyAfterAdd);
}

class CompanionScriptTest : public ::testing::Test, public CFileOpsFixture {};

TEST_F(CompanionScriptTest, InstallQueryUninstallWithTheirMessages) {
    const std::string path = dir.File("data/nautilus/scripts/Sonaria");
    EXPECT_EQ(CompanionScriptPath(), path);
    EXPECT_FALSE(CompanionScript(ECompanionOp::Query, false, shell));

    ASSERT_TRUE(CompanionScript(ECompanionOp::Install, false, shell));
    EXPECT_EQ(ReadFileBytes(path), CompanionScriptText());
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_TRUE(CompanionScript(ECompanionOp::Query, false, shell));
    EXPECT_TRUE(CompanionScript(ECompanionOp::Install, true, shell));  // quiet: no message

    ASSERT_TRUE(CompanionScript(ECompanionOp::Uninstall, false, shell));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(CompanionScript(ECompanionOp::Uninstall, false, shell));  // gone: silent failure
    EXPECT_FALSE(CompanionScript(ECompanionOp::Query, false, shell));

    EXPECT_EQ(shell.questions,
              (std::vector<std::string>{
                  "\"Sonaria\" script was successfully installed into the iTunes.|To identify selected songs "
                  "within iTunes:\nChoose \"Sonaria\" from the Scripts menu.",
                  "\"Sonaria\" script was successfully uninstalled from iTunes.|"}));
    EXPECT_EQ(shell.askedButtons[0], std::vector<std::string>{"OK"});
}

TEST_F(CompanionScriptTest, InstallFailureIsShownUnlessQuiet) {
    dir.Write("data/nautilus", "a file where the folder should be");
    EXPECT_FALSE(CompanionScript(ECompanionOp::Install, true, shell));
    EXPECT_TRUE(shell.questions.empty());
    EXPECT_FALSE(CompanionScript(ECompanionOp::Install, false, shell));
    ASSERT_EQ(shell.questions.size(), 1u);
    EXPECT_EQ(shell.questions[0], "Could not install \"Sonaria\" script in \"Scripts\" folder.|" +
                                      dir.File("data/nautilus/scripts"));
    EXPECT_EQ(shell.askedButtons[0], std::vector<std::string>{"Oops"});
}

// The installed script, run as the file manager runs it, writes a request
// the application reads back, and starts the application.
TEST_F(CompanionScriptTest, ScriptWritesARequestTheApplicationReads) {
    ASSERT_TRUE(CompanionScript(ECompanionOp::Install, true, shell));
    dir.Write("bin/melodex", "#!/bin/sh\ntouch \"$XDG_DATA_HOME/started\"\n");
    ASSERT_EQ(chmod(dir.File("bin/melodex").c_str(), 0755), 0);
    const std::string x = dir.Write("music/x y.mp3", "x");
    const std::string z = dir.Write("music/z.mp3", "z");
    const std::string command = "cd '" + dir.File("music") + "' && PATH='" + dir.File("bin") +
                                ":/usr/bin:/bin' NAUTILUS_SCRIPT_SELECTED_FILE_PATHS='" + x + "\n" + z +
                                "\n' '" + CompanionScriptPath() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(RequestFilePath()), x + "\r-1\r" + z + "\r-1\r");

    // Arguments relative to the folder the file manager runs it in.
    const std::string withArgs = "cd '" + dir.File("music") + "' && PATH='" + dir.File("bin") + ":/usr/bin:/bin' '" +
                                 CompanionScriptPath() + "' 'x y.mp3' >/dev/null 2>&1";
    ASSERT_EQ(std::system(withArgs.c_str()), 0);
    bool identifyAfterAdd = false;
    std::vector<int32_t> ids;
    ProcessRequestFile(
        [&](std::vector<CFileRef>, std::vector<int32_t> got) {
            ids = got;
            return true;
        },
        identifyAfterAdd);
    EXPECT_EQ(ids, std::vector<int32_t>{-1});
    EXPECT_TRUE(identifyAfterAdd);
    for (int i = 0; i < 500 && !fs::exists(dir.File("data/started")); ++i) usleep(10000);
    EXPECT_TRUE(fs::exists(dir.File("data/started")));
}

}  // namespace
