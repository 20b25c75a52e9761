#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "foundation/text.h"
#include "support/fake_shell.h"
#include "support/temp_dir.h"

namespace {

struct AppFixture : ::testing::Test {
    CTempDir dir;
    CRecordingShell shell;
    CApp app{shell, {dir.File("Melodex.prefs"), dir.File("Melodex.cache")}};

    CSong& AddSong(bool identified = false) {
        auto song = std::make_unique<CSong>();
        song->identified = identified;
        return app.songs.Append(std::move(song));
    }
    void SetAccount(const char* name, const char* password, int32_t left) {
        CopyBounded(app.prefs.userName, sizeof app.prefs.userName, name);
        CopyBounded(app.prefs.password, sizeof app.prefs.password, password);
        app.prefs.identificationsLeft = left;
    }
};

TEST_F(AppFixture, IdentifyButtonFollowsSelectionAccountAndQuota) {
    struct Case {
        std::vector<bool> selectedIdentified;  // one entry per selected song
        int32_t left;
        const char* title;
        bool enabled;
    };
    const Case cases[] = {
        {{false, true, true}, 10, "ID Song", true},
        {{true, true, true}, 10, "ID Songs", false},
        {{false, false, true}, 10, "ID 2 Songs", true},
        {{}, 10, "ID All", true},
        {{false}, 0, "ID Songs", false},
        {{}, -1, "ID Songs", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        CTempDir caseDir;
        CRecordingShell caseShell;
        CApp fresh{caseShell, {caseDir.File("p"), caseDir.File("c")}};
        CopyBounded(fresh.prefs.userName, sizeof fresh.prefs.userName, "user");
        CopyBounded(fresh.prefs.password, sizeof fresh.prefs.password, "pw");
        fresh.prefs.identificationsLeft = c.left;
        fresh.songs.Append(std::make_unique<CSong>());
        std::vector<CSong*> selected;
        for (bool identified : c.selectedIdentified) {
            CSong& song = fresh.songs.Append(std::make_unique<CSong>());
            song.identified = identified;
            selected.push_back(&song);
        }
        fresh.SetSelection(selected);
        fresh.UpdateControls();
        EXPECT_EQ(caseShell.controls.idenTitle, c.title);
        EXPECT_EQ(caseShell.controls.idenEnabled, c.enabled);
        EXPECT_EQ(caseShell.controls.idetEnabled, c.enabled);
    }
}

TEST_F(AppFixture, IdentifyingAndLongOperationsDisableTheOtherCommands) {
    SetAccount("user", "pw", 5);
    CSong& a = AddSong();
    AddSong();
    a.modified = true;
    app.SetSelection({&a});

    app.UpdateControls();
    CControlState idle = shell.controls;
    EXPECT_TRUE(idle.delbEnabled && idle.renbEnabled && idle.grouEnabled && idle.savaEnabled);
    EXPECT_TRUE(idle.modifiedMark);
    EXPECT_FALSE(idle.statVisible || idle.idesVisible);

    app.identifying = true;
    app.UpdateControls();
    const CControlState& busy = shell.controls;
    EXPECT_EQ(busy.idenTitle, "Stop ID");
    EXPECT_TRUE(busy.idenEnabled && busy.idesVisible && busy.idesEnabled && busy.statVisible &&
                busy.progVisible && busy.cursVisible);
    EXPECT_FALSE(busy.idetVisible || busy.afilEnabled || busy.delbEnabled || busy.savaEnabled);
    EXPECT_TRUE(busy.modifiedMark);

    app.identifying = false;
    app.saving = true;
    app.UpdateControls();
    const CControlState& saving = shell.controls;
    EXPECT_FALSE(saving.idenEnabled || saving.idetEnabled || saving.afilEnabled || saving.delbEnabled);
    // Titles are not recomputed while another operation runs.
    EXPECT_EQ(saving.idenTitle, "Stop ID");
}

TEST_F(AppFixture, StatusLineCountsSongs) {
    CSong& a = AddSong(true);
    AddSong(true);
    AddSong();
    a.matches.Append(EmptyTagValues());
    app.UpdateControls();
    EXPECT_EQ(shell.controls.statusLine, "Id complete: 3 songs, 2 processed, 1 identified");
    app.identifying = true;
    app.UpdateControls();
    EXPECT_EQ(shell.controls.statusLine, "Id in progress: 3 songs, 2 processed, 1 identified");
}

TEST_F(AppFixture, QuitSequence) {
    struct Case {
        const char* name;
        bool identifying;
        int modified;
        std::vector<int> answers;
        size_t questions;
        bool terminated;
        bool stillIdentifying;
        bool quitAfterSave;
    };
    const Case cases[] = {
        {"cancel while identifying", true, 0, {1}, 1, false, true, false},
        {"quit while identifying, nothing modified", true, 0, {0}, 1, true, false, false},
        {"nothing modified", false, 0, {}, 0, true, false, false},
        {"sheet save", false, 2, {0}, 1, false, false, true},
        {"sheet don't save", false, 1, {1}, 1, true, false, false},
        {"sheet cancel", false, 1, {2}, 1, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir caseDir;
        CRecordingShell caseShell;
        CApp fresh{caseShell, {caseDir.File("p"), caseDir.File("c")}};
        for (int i = 0; i < 3; ++i) fresh.songs.Append(std::make_unique<CSong>()).modified = i < c.modified;
        fresh.identifying = c.identifying;
        caseShell.answers.assign(c.answers.begin(), c.answers.end());
        EXPECT_TRUE(fresh.HandleCommand(Cmd("quit")));
        EXPECT_EQ(caseShell.questions.size(), c.questions);
        EXPECT_EQ(fresh.TerminateRequested(), c.terminated);
        // The preferences are saved exactly when the process is to end.
        EXPECT_EQ(std::filesystem::exists(caseDir.File("p")), c.terminated);
        EXPECT_EQ(fresh.identifying, c.stillIdentifying);
        EXPECT_EQ(fresh.quitAfterSave, c.quitAfterSave);
        EXPECT_FALSE(fresh.quitSheetShown && c.answers == std::vector<int>{2});
    }
}

TEST_F(AppFixture, QuitSheetTexts) {
    for (int modified : {1, 2}) {
        CTempDir caseDir;
        CRecordingShell caseShell;
        CApp fresh{caseShell, {caseDir.File("p"), caseDir.File("c")}};
        for (int i = 0; i < modified; ++i) fresh.songs.Append(std::make_unique<CSong>()).modified = true;
        caseShell.answers = {2};
        fresh.RequestQuit();
        ASSERT_EQ(caseShell.questions.size(), 1u);
        EXPECT_EQ(caseShell.questions[0],
                  modified == 1 ? "You have made changes to one song.\nSave those changes before quitting?|"
                                : "You have made changes to 2 songs.\nSave those changes before quitting?|");
        EXPECT_EQ(caseShell.askedButtons[0], (std::vector<std::string>{"Save", "Don't Save", "Cancel"}));
    }
}

}  // namespace
