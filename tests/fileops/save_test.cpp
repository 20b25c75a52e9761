#include "fileops/save.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fileops_support.h"
#include "foundation/clock.h"
#include "library/tags.h"
#include "support/fake_desktop.h"
#include "support/without_root_override.h"

namespace {

class SaveTest : public ::testing::Test, public CFileOpsFixture {
protected:
    CRecordingDesktop desktop;

    // A real MP3 copy whose song has the given displayed title and is modified.
    CSong& Mp3(const std::string& name, const char* title = "Title") {
        std::filesystem::create_directories(dir.File("music"));
        dir.Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "music/" + name);
        auto song = std::make_unique<CSong>();
        song->fileRef = MakeFileRef(dir.File("music/" + name).c_str());
        CSong& added = app.songs.Append(std::move(song));
        CopyBounded(added.tags.title, sizeof added.tags.title, title);
        added.modified = true;
        return added;
    }
    static void Fill(CTagValues& values, const char* title, const char* artist, const char* album) {
        CopyBounded(values.title, sizeof values.title, title);
        CopyBounded(values.artist, sizeof values.artist, artist);
        CopyBounded(values.album, sizeof values.album, album);
    }
};

TEST_F(SaveTest, MarkerDecisionFollowsIdentificationAndCompleteness) {
    struct Case {
        const char* what;
        bool identified, markedBefore, withMatch, ownShown, emptyAlbum;
        bool marked;
    };
    const Case cases[] = {
        {"unidentified, complete", false, false, false, true, false, true},
        {"unidentified, empty album", false, false, false, true, true, false},
        {"identified without matches", true, false, false, true, false, false},
        {"identified without matches, marked before", true, true, false, true, false, true},
        {"identified with matches, own values shown", true, false, true, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSong& song = Mp3(std::string(c.what) + ".mp3");
        // Another program's TXXX frame comes first; a negative decision removes it.
        CTagValues seed{};
        Fill(seed, "seed", "seed", "seed");
        ASSERT_EQ(WriteTags(song.fileRef.path, seed, EMarker::Set), 0);
        Fill(song.tags, "Title", "Artist", c.emptyAlbum ? "" : "Album");
        song.identified = c.identified;
        song.markedByApp = c.markedBefore;
        if (c.withMatch) song.matches.Append(song.tags);
        song.currentMatch = c.ownShown ? -1 : 0;

        ASSERT_EQ(SaveSong(song, true, nullptr), 0);
        const CFileTags inFile = ReadTags(song.fileRef.path);
        EXPECT_EQ(inFile.marked, c.marked);
        EXPECT_EQ(song.markedByApp, c.marked);
        EXPECT_STREQ(inFile.values.album, c.emptyAlbum ? "" : "Album");
        EXPECT_FALSE(song.modified);
        EXPECT_TRUE(SameTagValues(song.savedTags, song.tags));
    }
}

TEST_F(SaveTest, SavedMatchIsShownAndSteppingBackModifiesAgain) {
    CSong& song = Mp3("m.mp3", "Own");
    CTagValues match{};
    Fill(match, "Match", "Artist", "Album");
    song.matches.Append(match);
    song.currentMatch = 0;
    song.identified = true;
    song.iTunesDatabaseId = 57;
    ASSERT_EQ(SaveSong(song, true, nullptr), 0);
    EXPECT_STREQ(ReadTags(song.fileRef.path).values.title, "Match");
    EXPECT_STREQ(song.tags.title, "Own");
    EXPECT_FALSE(song.RecomputeModified());
    song.NextMatch();  // back to the own values
    EXPECT_TRUE(song.modified);
    ASSERT_EQ(desktop.Scripts().size(), 1u);
    EXPECT_NE(desktop.Scripts()[0].find("whose database ID is 57)"), std::string::npos);
}

TEST_F(SaveTest, RunSavesModifiedSongsReportsUnwritableOnesAndKeepsTheirEdits) {
    CSong& first = Mp3("1.mp3", "One");
    CSong& locked = Mp3("2.mp3", "Two");
    CSong& notModified = Mp3("3.mp3", "Three");
    notModified.modified = false;
    CSong& last = Mp3("4.mp3", "Four");
    const CTagValues lockedSaved = locked.savedTags;
    ASSERT_EQ(chmod(locked.fileRef.path.c_str(), 0444), 0);
    {
        CWithoutRootOverride asUser;
        ASSERT_TRUE(app.HandleCommand(Cmd("SAVA")));
        EXPECT_TRUE(app.saving);
        EXPECT_FALSE(app.SaveSongs(false));  // one run at a time
        ASSERT_TRUE(TickUntil([&] { return !app.saving; }));
    }
    EXPECT_STREQ(ReadTags(first.fileRef.path).values.title, "One");
    EXPECT_STREQ(ReadTags(last.fileRef.path).values.title, "Four");
    EXPECT_STREQ(ReadTags(notModified.fileRef.path).values.title, "");
    EXPECT_FALSE(first.modified);
    EXPECT_FALSE(last.modified);
    EXPECT_TRUE(locked.modified);
    EXPECT_TRUE(SameTagValues(locked.savedTags, lockedSaved));
    ASSERT_EQ(shell.alerts.size(), 1u);
    EXPECT_EQ(shell.alerts[0], "One song could not be saved.|2.mp3: File Is Read-Only (Error# -45)");
    EXPECT_EQ(shell.refreshed, (std::vector<CSong*>{&first, &last}));
    EXPECT_FALSE(app.saveDone);
}

TEST_F(SaveTest, SaveCommandTakesOnlySelectedModifiedSongs) {
    CSong& chosen = Mp3("a.mp3", "A");
    CSong& unchosen = Mp3("b.mp3", "B");
    CSong& clean = Mp3("c.mp3", "C");
    clean.modified = false;
    app.SetSelection({&clean, &chosen});
    app.HandleCommand(Cmd("SAVE"));
    ASSERT_TRUE(TickUntil([&] { return !app.saving; }));
    EXPECT_FALSE(chosen.modified);
    EXPECT_TRUE(unchosen.modified);
    EXPECT_EQ(shell.refreshed, std::vector<CSong*>{&chosen});

    // Nothing selected: a run over no songs ends at once.
    app.SetSelection({});
    ASSERT_TRUE(app.SaveSongs(true));
    ASSERT_TRUE(TickUntil([&] { return !app.saving; }));
    EXPECT_TRUE(shell.alerts.empty());
}

TEST_F(SaveTest, StopWhileTheThirdOfTenIsSavedLeavesTheRestModified) {
    std::vector<CSong*> all;
    for (int i = 0; i < 10; ++i) all.push_back(&Mp3(std::to_string(i) + ".mp3"));
    all[2]->iTunesDatabaseId = 3;
    desktop.HoldScripts(true);  // the third song waits in its refresh
    CManualClock clock;
    SetClock(&clock);
    struct CRestoreClock {
        ~CRestoreClock() { SetClock(nullptr); }
    } restore;
    ASSERT_TRUE(app.SaveSongs(false));
    ASSERT_TRUE(TickUntil([&] { return desktop.Scripts().size() == 1; }));
    clock.Advance(1.5);
    app.Tick();
    EXPECT_TRUE(shell.progressShown);
    EXPECT_EQ(shell.progressTitles.back(), "SaveProgress");
    EXPECT_EQ(shell.progressTexts.back(), "Song 2 of 10 saved. Notifying iTunes...");
    app.StopSaving();
    desktop.HoldScripts(false);
    ASSERT_TRUE(TickUntil([&] { return !app.saving; }));
    EXPECT_FALSE(shell.progressShown);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(all[i]->modified, i >= 3) << i;
}

TEST_F(SaveTest, QuitAfterSaveEndsOnlyWhenEverySongWasSaved) {
    for (bool lockOne : {false, true}) {
        SCOPED_TRACE(lockOne ? "one file read-only" : "all writable");
        CFileOpsFixture f;
        f.dir.Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "s.mp3");
        CSong& song = f.app.songs.Append(std::make_unique<CSong>());
        song.fileRef = MakeFileRef(f.dir.File("s.mp3").c_str());
        CopyBounded(song.tags.title, sizeof song.tags.title, "Edited");
        song.modified = true;
        if (lockOne) {
            ASSERT_EQ(chmod(song.fileRef.path.c_str(), 0444), 0);
        }
        f.shell.answers = {0};  // "Save"
        CWithoutRootOverride asUser;
        f.app.RequestQuit();
        ASSERT_TRUE(f.TickUntil([&] { return !f.app.saving; }));
        EXPECT_EQ(f.app.TerminateRequested(), !lockOne);
        EXPECT_EQ(song.modified, lockOne);
        if (lockOne) {
            EXPECT_FALSE(f.app.quitAfterSave);
        }
    }
}

}  // namespace
