#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "foundation/clock.h"
#include "support/fake_shell.h"
#include "support/temp_dir.h"

namespace {

struct AddingFixture : ::testing::Test {
    CManualClock clock;
    CTempDir dir;
    CRecordingShell shell;
    std::unique_ptr<CApp> app;

    void SetUp() override {
        SetClock(&clock);
        app = std::make_unique<CApp>(shell, CAppPaths{dir.File("Melodex.prefs"), dir.File("Melodex.cache")});
    }
    void TearDown() override {
        app.reset();
        SetClock(nullptr);
    }

    std::string Song(const std::string& name) {
        return dir.Write("music/" + name, ReadFileBytes(FixtureFile("short_48k_stereo_cbr64.mp3")));
    }
    // Ticks every 0.1 s of the manual clock until the run has ended.
    void TickUntilAdded() {
        for (int i = 0; i < 60000 && app->adding; ++i) {
            clock.Advance(0.1);
            app->Tick();
            if (app->adding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_FALSE(app->adding);
    }
};

TEST_F(AddingFixture, RunShowsProgressThenAdoptsSelectsAndOpensTheDrawer) {
    Song("b.mp3");
    Song("a.mp3");
    Song("c.mp3");
    // Hold the worker on its first counted file so the sheet's timer can be watched.
    std::atomic<bool> release{false};
    app->addOperation = std::make_unique<CAddOperation>();
    app->addOperation->onStep = [&release](CAddOperation&) {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    app->sortColumn = ESongColumn::FileName;
    app->sortDescending = true;

    ASSERT_TRUE(app->AddChosenItems({dir.File("music"), dir.File("nothing-here")}));
    EXPECT_TRUE(app->adding);
    // Refused while a run is in progress.
    EXPECT_FALSE(app->AddItems({MakeFileRef(dir.File("music/a.mp3").c_str())}));
    for (int i = 0; i < 60000 && app->addOperation->Total() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    clock.Advance(0.5);
    app->Tick();
    EXPECT_TRUE(shell.progressTexts.empty());
    EXPECT_FALSE(shell.progressShown);
    clock.Advance(0.5);
    app->Tick();
    EXPECT_EQ(shell.progressTexts, (std::vector<std::string>{"Counting songs... 1 found so far"}));
    EXPECT_TRUE(shell.progressShown);
    EXPECT_EQ(shell.progressTitles, (std::vector<std::string>{"AddProgress"}));

    release = true;
    TickUntilAdded();
    EXPECT_FALSE(shell.progressShown);
    EXPECT_FALSE(app->addDone);
    EXPECT_FALSE(app->showAddSheet);
    ASSERT_EQ(app->songs.Count(), 3);
    // The top row with file names sorted in decreasing order.
    ASSERT_EQ(app->selection.size(), 1u);
    EXPECT_STREQ(app->selection[0]->FileName(), "c.mp3");
    EXPECT_TRUE(app->drawerOpen);
    EXPECT_TRUE(app->listDirty);
}

TEST_F(AddingFixture, RefusedWhileAnotherOperationRuns) {
    const std::string a = Song("a.mp3");
    app->saving = true;
    EXPECT_FALSE(app->AddItems({MakeFileRef(a.c_str())}));
    EXPECT_FALSE(app->ImportPlaylist(std::make_unique<CItunesLibrary>(), 0, false));
    EXPECT_FALSE(app->adding);
    app->saving = false;
    // Identification may overlap adding.
    app->identifying = true;
    EXPECT_TRUE(app->AddItems({MakeFileRef(a.c_str())}));
    TickUntilAdded();
    EXPECT_EQ(app->songs.Count(), 1);
}

TEST_F(AddingFixture, SelectionAndIdentificationAfterTheRun) {
    struct Case {
        const char* name;
        bool identifyAfterAdd;
        bool haveSelection;
        bool expectSelectionChange;
        bool expectDrawer;
    } cases[] = {
        {"plain", false, false, true, true},
        {"handed over by the companion script", true, false, false, true},
        {"a row already selected", false, true, false, false},
    };
    const std::string first = Song("first.mp3");
    const std::string second = Song("second.mp3");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app = std::make_unique<CApp>(shell, CAppPaths{dir.File("p"), dir.File("c")});
        CSong* selected = nullptr;
        if (c.haveSelection) {
            ASSERT_TRUE(app->AddItems({MakeFileRef(first.c_str())}));
            TickUntilAdded();
            selected = &*app->songs.begin();
            app->SetSelection({selected});
            app->drawerOpen = false;
        }
        app->identifyAfterAdd = c.identifyAfterAdd;
        ASSERT_TRUE(app->AddItems({MakeFileRef(second.c_str())}));
        TickUntilAdded();
        EXPECT_FALSE(app->identifyAfterAdd);
        EXPECT_EQ(app->drawerOpen, c.expectDrawer);
        if (c.expectSelectionChange) {
            ASSERT_EQ(app->selection.size(), 1u);
            EXPECT_EQ(app->selection[0]->fileRef.path, second);
        } else if (c.haveSelection) {
            EXPECT_EQ(app->selection, std::vector<CSong*>{selected});
        } else {
            EXPECT_TRUE(app->selection.empty());
        }
    }
}

}  // namespace
