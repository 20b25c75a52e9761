#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app_run_support.h"
#include "identify/account.h"

namespace {

constexpr const char* kRelogin = "/cgi-bin/relogin.cgi";
constexpr const char* kIntro = "/cgi-bin/get_anon.cgi";

class AccountTest : public AppRunTest {
protected:
    bool FinishLogin() {
        return TickUntil([this] { return !app.reloginJob; });
    }
    bool FinishIntro() {
        return TickUntil([this] { return !app.introRequest; });
    }
};

TEST_F(AccountTest, LogInCheckAnswers) {
    const std::string longName(70, 'n');
    struct Case {
        const char* what;
        CFakeResponse answer;
        bool intro;
        int32_t left;
        bool serverDown;
        bool introLoginFailed;
        std::string status;
    } cases[] = {
        {"count", CFakeResponse::Plain(200, "ok\nrequests_available=42\nmore"), false, 42, false, false,
         "You have 42 identifications left."},
        {"no line feed after the digits", CFakeResponse::Plain(200, "requests_available=42"), false, -1,
         false, false, "Sorry, Log-in as " + longName.substr(0, 63) + " failed."},
        {"no marker", CFakeResponse::Plain(200, "welcome\n"), false, -1, false, false,
         "Sorry, Log-in as " + longName.substr(0, 63) + " failed."},
        {"server down", CFakeResponse::Plain(500, "down"), false, -1, true, false,
         "Sorry, Log-in as " + longName.substr(0, 63) + " failed."},
        {"introductory account kept", CFakeResponse::Plain(404, ""), true, 7, false, true,
         "Using free introductory account. 7 identifications left."},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetAccount("intro", "intropw", 7);
        app.prefs.introAccount = c.intro ? 1 : 0;
        std::filesystem::remove(dir.File("Melodex.prefs"));
        service.SetRelogin(c.answer);
        const size_t before = service.Count(kRelogin);
        StartLoginFromPrefs(app, longName.c_str(), "pw");
        ASSERT_TRUE(FinishLogin());
        const auto checks = service.Requests(kRelogin);
        ASSERT_GT(checks.size(), before);  // failed checks are retried
        EXPECT_EQ(checks.back().keys.at("u"), longName.substr(0, 63));
        EXPECT_EQ(checks.back().keys.at("p"), "pw");
        EXPECT_EQ(app.prefs.identificationsLeft, c.left);
        EXPECT_EQ(app.serverDown, c.serverDown);
        EXPECT_EQ(app.introLoginFailed, c.introLoginFailed);
        EXPECT_EQ(std::string(app.prefs.userName), c.intro ? "intro" : longName.substr(0, 63));
        EXPECT_EQ(app.prefs.introAccount, c.intro ? 1 : 0);
        EXPECT_TRUE(std::filesystem::exists(dir.File("Melodex.prefs")));
        EXPECT_EQ(shell.controls.statusLine, c.status);
    }
}

TEST_F(AccountTest, StatusWhileLoggingInAndWithoutAccount) {
    service.SetRelogin(CFakeResponse::Silent());
    StartLoginFromPrefs(app, "someone", "pw");
    app.UpdateControls();
    EXPECT_EQ(shell.controls.statusLine, "Logging in as user...");
    CancelLogin(app);
    SetAccount("", "", -1);
    app.UpdateControls();
    EXPECT_EQ(shell.controls.statusLine,
              "Welcome to Melodex! You don't have an account. Go to Preferences to create one.");
    app.prefsWindowShown = true;
    app.UpdateControls();
    EXPECT_EQ(shell.controls.statusLine, "Welcome to Melodex!");
}

TEST_F(AccountTest, IntroductoryAccountRequest) {
    const std::string padding(260, 'x');
    struct Case {
        const char* what;
        CFakeResponse answer;
        bool account;
        std::string status;
    } cases[] = {
        {"account", CFakeResponse::Plain(200, "<r><username>anon7</username><password>pw7</password></r>"), true,
         "Using free introductory account. 25 identifications left."},
        {"password beyond byte 255",
         CFakeResponse::Plain(200, "<username>anon7</username>" + padding + "<password>pw7</password>"), false,
         "Sorry, error creating free introductory account."},
        {"missing end marker", CFakeResponse::Plain(200, "<username>anon7</username><password>pw7"), false,
         "Sorry, error creating free introductory account."},
        {"request error", CFakeResponse::Plain(404, ""), false, "Sorry, error creating free introductory account."},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetAccount("", "", -1);
        app.prefs.introAccount = 0;
        service.SetIntro(c.answer);
        StartIntroRequest(app);
        EXPECT_EQ(shell.controls.statusLine, "Requesting introductory account...");
        ASSERT_TRUE(FinishIntro());
        EXPECT_EQ(app.introRequestFailed, !c.account);
        EXPECT_EQ(std::string(app.prefs.userName), c.account ? "anon7" : "");
        EXPECT_EQ(app.prefs.identificationsLeft, c.account ? 25 : -1);
        EXPECT_EQ(shell.controls.statusLine, c.status);
    }
    // Not saved until the preferences window closes or the application quits.
    EXPECT_FALSE(std::filesystem::exists(dir.File("Melodex.prefs")));
    EXPECT_EQ(service.Requests(kIntro).back().keys.at("id"), "harbormoss");
}

TEST_F(AccountTest, CancelledIntroductoryRequestIsForgotten) {
    SetAccount("", "", -1);
    service.SetIntro(CFakeResponse::Silent());
    StartIntroRequest(app);
    ASSERT_TRUE(app.introRequest);
    app.introRequestFailed = true;
    CancelIntroRequest(app);
    EXPECT_FALSE(app.introRequest);
    EXPECT_FALSE(app.introRequestFailed);
}

TEST_F(AccountTest, StartupOpensPreferencesOrChecksTheStoredAccount) {
    struct Case {
        const char* what;
        const char* name;
        int32_t left;
        uint8_t intro;
        int prefsOpened;
        bool check;
    } cases[] = {
        {"no account", "", -1, 0, 1, false},
        {"no identifications left", "user", 0, 0, 1, false},
        {"stored account", "user", 5, 0, 0, true},
        {"introductory account", "anon", 5, 1, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempDir caseDir;
        {
            CApp writer{NullShell(), {caseDir.File("p"), caseDir.File("c")}};
            CopyBounded(writer.prefs.userName, sizeof writer.prefs.userName, c.name);
            CopyBounded(writer.prefs.password, sizeof writer.prefs.password, c.name[0] ? "pw" : "");
            writer.prefs.identificationsLeft = c.left;
            writer.prefs.introAccount = c.intro;
            ASSERT_TRUE(writer.SaveSettings());
        }
        CRecordingShell caseShell;
        CApp caseApp{caseShell, {caseDir.File("p"), caseDir.File("c")}};
        const size_t before = service.Count(kRelogin);
        caseApp.Startup();
        EXPECT_EQ(caseShell.preferencesOpened, c.prefsOpened);
        EXPECT_EQ(static_cast<bool>(caseApp.reloginJob), c.check);
        if (c.check) {
            for (int i = 0; i < 5000 && caseApp.reloginJob; ++i) {
                caseApp.Tick();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            EXPECT_EQ(service.Count(kRelogin), before + 1);
            EXPECT_EQ(caseApp.prefs.identificationsLeft, 10);
        }
    }
}

TEST_F(AccountTest, FinishedCheckStartsTheRunTheCompanionScriptAskedFor) {
    AddSong("a.mp3");
    app.identifyAfterAdd = true;
    service.SetRelogin(CFakeResponse::Plain(200, "requests_available=3\n").Then("", 200));
    StartLoginFromPrefs(app, "user", "secret");
    app.Tick();
    // Still waiting for the check: the request stays.
    EXPECT_TRUE(app.identifyAfterAdd);
    ASSERT_TRUE(FinishLogin());
    EXPECT_FALSE(app.identifyAfterAdd);
    EXPECT_EQ(shell.beeps, 1);
    EXPECT_TRUE(app.identifying);
    ASSERT_TRUE(RunToEnd());
}

}  // namespace
