#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "app/app.h"
#include "foundation/desktop.h"
#include "identify/http_test_support.h"
#include "support/fake_http_server.h"
#include "support/fake_shell.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "tar_bytes.h"

namespace {

class CFakeDesktop : public IDesktop {
public:
    bool NetworkAvailable() override { return network; }
    bool OpenUrl(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
    void RevealFile(const std::string& path) override { revealed.push_back(path); }

    bool network = true;
    std::vector<std::string> opened;
    std::vector<std::string> revealed;
};

// Answers the folder chooser like a user and records what the window showed.
class CFakeUpdaterWindow : public IUpdaterWindow {
public:
    int32_t ChooseFolder(const std::string& message, const std::string& clientKey, std::string& chosen) override {
        chooserMessages.push_back(message + "|" + clientKey);
        chosen = folder;
        return choice;
    }
    void Prepare(const std::string& title, const std::string& notes, const std::string& help) override {
        prepared.push_back(title + "|" + notes + "|" + help);
    }
    void SetSize(int32_t width, int32_t height) override { sizes.push_back({width, height}); }
    void SetText(const std::string& control, const std::string& text) override { texts[control] = text; }
    void SetProgress(int64_t, int64_t maximum, int64_t value) override { progress = {maximum, value}; }
    void RunModal() override { ++modalRuns; }
    void EndModal() override { ++modalEnds; }

    std::string folder;
    int32_t choice = 0;
    std::vector<std::string> chooserMessages;
    std::vector<std::string> prepared;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    std::map<std::string, std::string> texts;
    std::pair<int64_t, int64_t> progress;
    int modalRuns = 0;
    int modalEnds = 0;
};

std::string Plist(const std::string& version, const std::string& url = "", const std::string& day = "0") {
    std::string body = "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>\n"
                       "<key>productVersion</key><string>" + version + "</string>\n"
                       "<key>productReleaseNotes</key><string>Fixes &quot;everything&quot;</string>\n"
                       "<key>productFileSize</key><string>1,234</string>\n"
                       "<key>fileReleaseDateD</key><integer>" + day + "</integer>\n"
                       "<key>fileReleaseDateM</key><integer>6</integer>\n"
                       "<key>fileReleaseDateY</key><integer>2026</integer>\n";
    if (!url.empty()) body += "<key>productDownloadURL</key><string>" + url + "</string>\n";
    return body + "</dict></plist>\n";
}

class VersionCheck : public HttpTest {
protected:
    void SetUp() override {
        HttpTest::SetUp();
        SetDesktop(&desktop);
        TestClock().SetWallTime(kLaunch);
        app = std::make_unique<CApp>(shell, CAppPaths{dir.File("p"), dir.File("c")});
        app->updaterWindow = &window;
        env = std::make_unique<CScopedEnv>("MELODEX_VERSION_URL", server.Url("/version.plist").c_str());
    }
    void TearDown() override {
        app.reset();
        SetDesktop(nullptr);
    }

    // Ticks until the check in flight has ended.
    void TickToEnd() {
        for (int waited = 0; waited < 10000 && app->versionCheckState == 1; waited += 2) {
            app->Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_NE(app->versionCheckState, 1);
    }

    static constexpr int64_t kLaunch = 1'800'000'000;
    CTempDir dir;
    CFakeHttpServer server;
    CFakeDesktop desktop;
    CFakeUpdaterWindow window;
    CRecordingShell shell;
    std::unique_ptr<CApp> app;
    std::unique_ptr<CScopedEnv> env;
};

TEST_F(VersionCheck, ManualCheckWithoutNetworkSaysSoAndSendsNothing) {
    desktop.network = false;
    EXPECT_TRUE(app->HandleCommand(Cmd("hUpd")));
    ASSERT_EQ(shell.questions.size(), 1u);
    EXPECT_EQ(shell.questions[0], "Can't check for a new version:\nInternet is not available|");
    EXPECT_EQ(shell.askedButtons[0], std::vector<std::string>{"Oops"});
    EXPECT_EQ(app->versionCheckState, 0);
    EXPECT_FALSE(app->versionCheck);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(VersionCheck, ManualCheckReportsTheLatestVersionOrAFailureAlike) {
    const struct {
        const char* label;
        CFakeResponse response;
    } cases[] = {
        {"same version", CFakeResponse::Plain(200, Plist(MELODEX_VERSION))},
        {"no version in the document", CFakeResponse::Plain(200, "<?xml version=\"1.0\"?><plist></plist>")},
        {"request failed", CFakeResponse::Plain(500, "down")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        server.Enqueue(c.response);
        shell.questions.clear();
        app->HandleCommand(Cmd("hUpd"));
        EXPECT_EQ(app->versionCheckState, 1);
        TickToEnd();
        EXPECT_EQ(app->versionCheckState, 2);
        ASSERT_EQ(shell.questions.size(), 1u);
        EXPECT_EQ(shell.questions[0], std::string("You're running the latest version of Melodex.|") + MELODEX_VERSION);
        EXPECT_EQ(shell.askedButtons.back(), std::vector<std::string>{"OK"});
        EXPECT_FALSE(app->versionCheck);
    }
}

TEST_F(VersionCheck, AutomaticCheckWaitsForItsConditions) {
    server.Enqueue(CFakeResponse::Plain(200, Plist(MELODEX_VERSION)));
    auto startsAt = [&](int64_t seconds, auto&& arrange) {
        app->versionCheckState = 0;
        app->prefs = CPrefs{};
        app->prefs.autoVersionCheck = 1;
        app->prefsWindowShown = app->identifying = app->adding = app->findingDuplicates = app->saving = false;
        arrange();
        TestClock().SetWallTime(kLaunch + seconds);
        app->StartVersionCheck(false);
        const bool started = app->versionCheckState == 1;
        app->versionCheck.reset();
        return started;
    };
    {
        // Checks started here are dropped at once; they must not reach the server.
        const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/v";
        CScopedEnv nowhere("MELODEX_VERSION_URL", closed.c_str());
        EXPECT_FALSE(startsAt(14, [] {}));
        EXPECT_TRUE(startsAt(15, [] {}));
        EXPECT_FALSE(startsAt(60, [&] { app->prefs.autoVersionCheck = 0; }));
        EXPECT_FALSE(startsAt(60, [&] { app->prefsWindowShown = true; }));
        EXPECT_FALSE(startsAt(60, [&] { app->identifying = true; }));
        EXPECT_FALSE(startsAt(60, [&] { app->adding = true; }));
        EXPECT_FALSE(startsAt(60, [&] { app->findingDuplicates = true; }));
        EXPECT_FALSE(startsAt(60, [&] { app->saving = true; }));
        EXPECT_FALSE(startsAt(60, [&] { app->prefs.nextVersionCheck = static_cast<int32_t>(kLaunch + 61); }));
        EXPECT_TRUE(startsAt(60, [&] { app->prefs.nextVersionCheck = static_cast<int32_t>(kLaunch + 60); }));
    }

    // One automatic check, then none within the hour.
    app->versionCheckState = 0;
    app->prefs.nextVersionCheck = 0;
    TestClock().SetWallTime(kLaunch + 100);
    app->Tick();
    EXPECT_EQ(app->prefs.nextVersionCheck, kLaunch + 100 + 3600);
    TickToEnd();
    EXPECT_EQ(app->versionCheckState, 2);
    EXPECT_TRUE(shell.questions.empty());  // an automatic check is silent about the same version
    TestClock().SetWallTime(kLaunch + 100 + 3599);
    app->Tick();
    EXPECT_EQ(app->versionCheckState, 2);
    TestClock().SetWallTime(kLaunch + 100 + 3600);
    app->Tick();
    EXPECT_EQ(app->versionCheckState, 1);
    TickToEnd();
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(VersionCheck, OffersAnOlderVersionTooAndCanStopAutomaticChecks) {
    server.Enqueue(CFakeResponse::Plain(200, Plist("0.0.1", "", "0")));
    TestClock().SetWallTime(kLaunch + 20);
    shell.answers = {1};  // "Don't check anymore"
    app->Tick();
    TickToEnd();
    EXPECT_EQ(app->versionCheckState, 3);
    ASSERT_EQ(shell.questions.size(), 1u);
    // A zero day: the message without a date.
    EXPECT_EQ(shell.questions[0], "Version 0.0.1 of Melodex is available!|Fixes \"everything\"");
    EXPECT_EQ(shell.askedButtons[0], (std::vector<std::string>{"Download Now...", "Don't check anymore", "Cancel"}));
    EXPECT_EQ(app->prefs.autoVersionCheck, 0);
    EXPECT_TRUE(window.chooserMessages.empty());
}

TEST_F(VersionCheck, DownloadNowWithoutAddressOpensTheHomePage) {
    server.Enqueue(CFakeResponse::Plain(200, Plist("99.0", "", "5")));
    CScopedEnv home("MELODEX_HOME_PAGE", "http://home.example/");
    app->HandleCommand(Cmd("hUpd"));
    TickToEnd();
    ASSERT_EQ(shell.questions.size(), 1u);
    EXPECT_EQ(shell.questions[0],
              "Version 99.0 of Melodex\nwas released on Friday, June 5, 2026.|Fixes \"everything\"");
    EXPECT_EQ(shell.askedButtons[0], (std::vector<std::string>{"Download Now...", "Cancel"}));
    EXPECT_EQ(desktop.opened, std::vector<std::string>{"http://home.example/"});
}

TEST_F(VersionCheck, DownloadsTheUpdateIntoTheChosenFolder) {
    CFakeHttpServer files;
    const std::string archive = TarBytes({{"Melodex-99/melodex", "#!/bin/sh\n"}});
    files.Enqueue(CFakeResponse::Plain(200, archive));
    server.Enqueue(CFakeResponse::Plain(200, Plist("99.0", files.Url("/dl/Melodex-99.tar"))));
    CTempDir downloads;
    window.folder = downloads.path();
    shell.answers = {0, 0};  // "Download Now...", then "Show it in Finder"
    app->HandleCommand(Cmd("hUpd"));
    TickToEnd();

    ASSERT_EQ(window.chooserMessages, std::vector<std::string>{"Choose where to save Melodex-99.tar|MelodexUpdate"});
    ASSERT_EQ(window.prepared.size(), 1u);
    EXPECT_EQ(window.prepared[0],
              "Downloading Melodex 99.0...|Fixes \"everything\"|" + files.Url("/dl/Melodex-99.tar"));
    EXPECT_EQ(window.sizes.back(), (std::pair<int32_t, int32_t>{437, 43}));
    EXPECT_EQ(window.modalRuns, 1);
    ASSERT_TRUE(app->updater);
    for (int waited = 0; waited < 10000 && app->updater->IsOpen(); waited += 5) {
        app->updater->TimerStep();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(app->updater->IsOpen());
    EXPECT_EQ(window.texts["DOWN"], "Download Complete.");
    EXPECT_EQ(window.progress, (std::pair<int64_t, int64_t>{1, 1}));
    EXPECT_EQ(window.modalEnds, 1);
    ASSERT_EQ(shell.questions.size(), 2u);
    EXPECT_EQ(shell.questions[1], "Latest version downloaded successfully!|Run \"Melodex-99.tar\" from the Finder "
                                  "to proceed with installation.");
    EXPECT_EQ(shell.askedButtons[1], (std::vector<std::string>{"Show it in Finder", "Close"}));
    EXPECT_EQ(desktop.revealed, std::vector<std::string>{downloads.File("Melodex-99.tar")});
    EXPECT_EQ(ReadFileBytes(downloads.File("Melodex-99.tar")), archive);
    EXPECT_EQ(ReadFileBytes(downloads.File("Melodex-99/melodex")), "#!/bin/sh\n");
}

TEST_F(VersionCheck, DownloadFailuresAreReported) {
    CFakeHttpServer files;
    files.Enqueue(CFakeResponse::Raw("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\ncut short"));
    CTempDir downloads;
    window.folder = downloads.path();
    CUpdater updater(window, shell);
    ASSERT_TRUE(updater.Start("t", files.Url("/u.zip"), "", 5000));
    for (int waited = 0; waited < 10000 && updater.IsOpen(); waited += 5) {
        updater.TimerStep();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(shell.questions.size(), 1u);
    EXPECT_EQ(shell.questions[0].substr(0, shell.questions[0].find('|')),
              "Could not download an update as an error occured.");
    EXPECT_EQ(shell.askedButtons[0], std::vector<std::string>{"Sorry"});
    EXPECT_FALSE(std::filesystem::exists(downloads.File("u.zip")));

    // A dialog failure is reported the same way; cancelling says nothing.
    shell.questions.clear();
    window.choice = -34;
    EXPECT_FALSE(updater.Start("t", files.Url("/u.zip"), "", 1));
    EXPECT_EQ(shell.questions, std::vector<std::string>{"Could not download an update as an error occured.|" +
                                                        ErrorMessage(-34)});
    window.choice = IUpdaterWindow::kCancelled;
    EXPECT_FALSE(updater.Start("t", files.Url("/u.zip"), "", 1));
    EXPECT_EQ(shell.questions.size(), 1u);
}

TEST_F(VersionCheck, ClosingTheWindowCancelsTheDownload) {
    CFakeHttpServer files;
    files.Enqueue(CFakeResponse::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nsome").KeepOpen());
    CTempDir downloads;
    window.folder = downloads.path();
    CUpdater updater(window, shell);
    ASSERT_TRUE(updater.Start("t", files.Url("/u.zip"), "notes", 100000));
    updater.ToggleDetails();
    EXPECT_EQ(window.sizes.back(), (std::pair<int32_t, int32_t>{437, 113}));
    updater.ToggleNotes();
    EXPECT_EQ(window.sizes.back(), (std::pair<int32_t, int32_t>{437, 294}));
    ASSERT_TRUE(files.WaitForRequests(1));
    updater.TimerStep();
    updater.Close();
    EXPECT_FALSE(updater.IsOpen());
    EXPECT_EQ(window.modalEnds, 1);
    EXPECT_TRUE(shell.questions.empty());
    EXPECT_FALSE(std::filesystem::exists(downloads.File("u.zip")));
}

}  // namespace
