#include "fileops/rename.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fileops/rename_session.h"
#include "fileops_support.h"
#include "support/fake_desktop.h"
#include "support/without_root_override.h"

namespace fs = std::filesystem;

namespace {

CSong SongWith(const char* artist, const char* title, int32_t track = 0) {
    CSong song;
    CopyBounded(song.tags.artist, sizeof song.tags.artist, artist);
    CopyBounded(song.tags.title, sizeof song.tags.title, title);
    song.tags.track = track;
    return song;
}

TEST(ExpandPatternTest, BuildsNamesFromDisplayedValues) {
    struct Case {
        const char* pattern;
        CSong song;
        const char* name;  // null: no name
    };
    CSong withMatch = SongWith("Own", "Own");
    withMatch.matches.Append(SongWith("Match", "Shown").tags);
    withMatch.currentMatch = 0;
    CSong disc = SongWith("A", "T");
    disc.tags.disc = 2;
    CopyBounded(disc.tags.year, sizeof disc.tags.year, "1999");
    const Case cases[] = {
        {"%artist - %title", SongWith("AC:DC", "Back"), "AC-DC - Back.mp3"},
        {"%track. %title", SongWith("", "Title", 3), "03. Title.mp3"},
        {"%track. %title", SongWith("", "Title", 0), ". Title.mp3"},
        {"%foo %title", SongWith("", "Title"), "foo Title.mp3"},
        {"%artist - %title", SongWith("", ""), nullptr},
        {"plain text", SongWith("A", "T"), nullptr},
        {"%artist - %title", SongWith("AC/DC", "Live\tLoud\x01"), "AC-DC - Live-Loud-.mp3"},
        {"  %artist - %album  ", SongWith("A", "T"), "A -.mp3"},
        {"\t%artist\t", SongWith("A", "T"), "-A-.mp3"},  // tabs become "-" before trimming
        {"%artist - %title", withMatch, "Match - Shown.mp3"},
        {"%disc-%track %year%%", disc, "02- 1999.mp3"},
        {"%titlex%artistry", SongWith("A", "T"), "TxAry.mp3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        char out[CRenameRun::kNameSize];
        EXPECT_EQ(ExpandPattern(c.song, c.pattern, out, sizeof out), c.name != nullptr);
        EXPECT_STREQ(out, c.name != nullptr ? c.name : "");
    }
    char small[8];
    EXPECT_TRUE(ExpandPattern(SongWith("Artist", "T"), "%artist", small, sizeof small));
    EXPECT_STREQ(small, "Artist.");  // every append is bounded, ".mp3" too
}

class RenameFileTest : public ::testing::Test, public CFileOpsFixture {
protected:
    CRecordingDesktop desktop;
    CRenameRun run;

    CSong& Song(const std::string& name) { return AddSong(name, "mp3 bytes"); }
    std::string Name(const CSong& song) const { return fs::path(song.fileRef.path).filename().string(); }
};

TEST_F(RenameFileTest, TakenNamesGetACounterAndNothingIsReplaced) {
    struct Case {
        const char* what;
        std::vector<std::string> taken;
        const char* request;
        const char* result;
    };
    const Case cases[] = {
        {"free name", {}, "Name.mp3", "Name.mp3"},
        {"taken once", {"Name.mp3"}, "Name.mp3", "Name (2).mp3"},
        {"taken twice", {"Name.mp3", "Name (2).mp3"}, "Name.mp3", "Name (3).mp3"},
        {"counter replaces the last extension", {"a.b.txt"}, "a.b.txt", "a.b (2).mp3"},
        {"no extension", {"Plain"}, "Plain", "Plain (2).mp3"},
        {"same name: nothing to do", {}, "song.mp3", "song.mp3"},
        {"empty name: nothing to do", {}, "", "song.mp3"},
        {"ISO-8859-1 becomes UTF-8", {}, "Caf\xe9 \xc0 la carte.mp3", "Caf\xc3\xa9 \xc3\x80 la carte.mp3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFileOpsFixture f;
        for (const std::string& name : c.taken) f.dir.Write("music/" + name, "other " + name);
        CSong& song = f.AddSong("song.mp3", "mp3 bytes");
        const ino_t inode = song.fileRef.inode;
        ASSERT_TRUE(run.RenameFile(song, c.request));
        run.ApplyRenames();
        EXPECT_EQ(song.fileRef.path, f.dir.File(std::string("music/") + c.result));
        EXPECT_EQ(song.fileRef.inode, inode);
        EXPECT_EQ(ReadFileBytes(song.fileRef.path), "mp3 bytes");
        for (const std::string& name : c.taken) EXPECT_EQ(ReadFileBytes(f.dir.File("music/" + name)), "other " + name);
    }
}

TEST_F(RenameFileTest, NameTooLongForTheFileSystemIsCutOnACharacterBeforeTheExtension) {
    CSong& song = Song("short.mp3");
    std::string request = "x";
    request += std::string(300, '\xe9');  // 601 bytes in UTF-8
    request += ".mp3";
    ASSERT_TRUE(run.RenameFile(song, request.c_str()));
    run.ApplyRenames();
    const std::string name = Name(song);
    EXPECT_LE(name.size(), 255u);
    EXPECT_GE(name.size(), 253u);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
    EXPECT_EQ(name.size() % 2, 1u) << "a two-byte character was split";  // "x" + pairs + ".mp3"
    EXPECT_TRUE(fs::exists(song.fileRef.path));
}

TEST_F(RenameFileTest, RenamedSongFromThePlayerIsRefreshedThereAndTheFileTouched) {
    CSong& fromItunes = Song("a.mp3");
    fromItunes.iTunesDatabaseId = 57;
    CSong& local = Song("b.mp3");
    const auto old = fs::last_write_time(fromItunes.fileRef.path) - std::chrono::hours(24);
    fs::last_write_time(fromItunes.fileRef.path, old);
    run.Start({}, "", true);  // only to set the preference
    run.Join();
    ASSERT_TRUE(run.RenameFile(fromItunes, "A.mp3"));
    ASSERT_TRUE(run.RenameFile(local, "B.mp3"));
    run.ApplyRenames();
    ASSERT_EQ(desktop.Scripts().size(), 1u);
    EXPECT_EQ(desktop.Scripts()[0],
              "tell application \"iTunes\"\nrefresh (first file track of library playlist 1 whose database ID is "
              "57)\nend tell\n");
    EXPECT_GT(fs::last_write_time(fromItunes.fileRef.path), old);
    EXPECT_FALSE(run.notifying.load());
}

// A user at the rename window. At each question it takes the next step: it
// may type a name or a pattern, then decides. Error alerts are answered from
// their own queue.
class CScriptedRenameWindow : public IRenameWindow {
public:
    struct Step {
        ERenameAction decision;
        std::optional<std::string> typedName = {};
        std::optional<int> preset = {};
        std::optional<std::string> typedPattern = {};  // typed, and left with the focus
    };
    struct Prompt {
        std::string current;
        std::string proposal;
    };

    void SetPresets(const std::vector<std::string>& patterns) override { presets = patterns; }
    void RunModal(CRenameSession& session) override {
        ended_ = false;
        for (int i = 0; i < 10000 && !ended_; ++i) {
            session.Timer();
            if (onTimer) onTimer(session);
            if (decisionsEnabled_ && !steps.empty()) {
                const Step step = steps.front();
                steps.erase(steps.begin());
                prompts.push_back({current_, newName_});
                if (step.preset) session.Preset(*step.preset);
                if (step.typedName) newName_ = *step.typedName;
                if (step.typedPattern) {
                    pattern_ = *step.typedPattern;
                    patternFocus_ = true;
                }
                switch (step.decision) {
                    case ERenameAction::Rename: session.Rename(); break;
                    case ERenameAction::Skip: session.Skip(); break;
                    case ERenameAction::RenameAll: session.RenameAll(); break;
                    default: session.Cancel(); break;
                }
            } else if (decisionsEnabled_) {
                session.Cancel();  // the script is over: close the window
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_TRUE(ended_) << "the run did not end";
    }
    void EndModal() override { ended_ = true; }
    void Close() override { ++closed; }
    void SetLayout(ERenameLayout, int width, int height) override { sizes.emplace_back(width, height); }
    void SetProgress(int32_t, int32_t, const std::string& status) override {
        if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
    }
    void ShowBusy(bool) override {}
    void SetBusyCursor(bool) override {}
    void EnableDecisions(bool enabled) override { decisionsEnabled_ = enabled; }
    void EnableCancel(bool) override {}
    void SetCancelTitle(const std::string& title) override { cancelTitles.push_back(title); }
    void SetCurrentName(const std::string& name) override { current_ = name; }
    void SetNewName(const std::string& name) override { newName_ = name; }
    std::string NewName() const override { return newName_; }
    void SetPattern(const std::string& pattern) override { pattern_ = pattern; }
    std::string Pattern() const override { return pattern_; }
    bool PatternHasFocus() const override { return patternFocus_; }
    void FocusNewName() override { patternFocus_ = false; }
    void FocusPattern() override { patternFocus_ = true; }
    int ShowError(const std::string& message, const std::string& detail) override {
        errors.push_back(message + detail);
        const int answer = errorAnswers.empty() ? 0 : errorAnswers.front();
        if (!errorAnswers.empty()) errorAnswers.erase(errorAnswers.begin());
        return answer;
    }

    std::vector<Step> steps;
    std::vector<int> errorAnswers;
    std::function<void(CRenameSession&)> onTimer;
    std::vector<Prompt> prompts;
    std::vector<std::string> errors;
    std::vector<std::string> statuses;
    std::vector<std::string> cancelTitles;
    std::vector<std::pair<int, int>> sizes;
    std::vector<std::string> presets;
    int closed = 0;

private:
    bool ended_ = false;
    bool decisionsEnabled_ = false;
    bool patternFocus_ = false;
    std::string current_;
    std::string newName_;
    std::string pattern_;
};

class RenameSessionTest : public RenameFileTest {
protected:
    RenameSessionTest() { app.renameWindow = &window; }
    CSong& Tagged(const std::string& file, const char* artist, const char* title) {
        CSong& song = Song(file);
        CopyBounded(song.tags.artist, sizeof song.tags.artist, artist);
        CopyBounded(song.tags.title, sizeof song.tags.title, title);
        return song;
    }
    CScriptedRenameWindow window;
};

using E = ERenameAction;

TEST_F(RenameSessionTest, RenameSkipAndTypedNamesFileByFile) {
    CSong& a = Tagged("a.mp3", "AC:DC", "Back");
    CSong& b = Tagged("b.mp3", "B", "Skipped");
    CSong& c = Tagged("c.mp3", "", "");
    CSong& d = Tagged("d.mp3", "D", "Typed");
    app.SetSelection({&a, &b, &c, &d});
    window.steps = {{E::Rename}, {E::Skip}, {E::Rename}, {E::Rename, std::string("My own.mp3")}};
    app.HandleCommand(Cmd("RENB"));

    EXPECT_FALSE(app.renaming);
    ASSERT_EQ(window.prompts.size(), 4u);
    EXPECT_EQ(window.prompts[0].current, "a.mp3");
    EXPECT_EQ(window.prompts[0].proposal, "AC-DC - Back.mp3");
    EXPECT_EQ(window.prompts[2].proposal, "");  // no name: the file stays
    EXPECT_EQ(Name(a), "AC-DC - Back.mp3");
    EXPECT_EQ(Name(b), "b.mp3");
    EXPECT_EQ(Name(c), "c.mp3");
    EXPECT_EQ(Name(d), "My own.mp3");
    EXPECT_EQ(window.statuses.front(), "File 1 out of 4: Confirm Rename");
    EXPECT_EQ(window.closed, 1);
    EXPECT_EQ(shell.refreshed.size(), 4u);
}

TEST_F(RenameSessionTest, RenameAllUsesTheEditedFirstNameThenThePattern) {
    CSong& a = Tagged("a.mp3", "A", "One");
    CSong& b = Tagged("b.mp3", "B", "Two");
    CSong& c = Tagged("c.mp3", "", "");
    CSong& d = Tagged("d.mp3", "B", "Two");
    app.SetSelection({&a, &b, &c, &d});
    window.steps = {{E::RenameAll, std::string("First.mp3"), 1}};  // preset "%title"
    app.HandleCommand(Cmd("RENB"));

    EXPECT_EQ(window.prompts.size(), 1u);
    EXPECT_EQ(Name(a), "First.mp3");
    EXPECT_EQ(Name(b), "Two.mp3");
    EXPECT_EQ(Name(c), "c.mp3");
    EXPECT_EQ(Name(d), "Two (2).mp3");
    EXPECT_STREQ(app.prefs.renamePattern, "%title");
    EXPECT_EQ(window.cancelTitles.back(), "Stop");
    EXPECT_EQ(window.sizes.back(), (std::pair<int, int>{472, 46}));
}

TEST_F(RenameSessionTest, AnEditedPatternStillInItsFieldIsAppliedBeforeRenaming) {
    CSong& a = Tagged("a.mp3", "Artist", "Title");
    CSong& b = Tagged("b.mp3", "Other", "Song");
    app.SetSelection({&a, &b});
    window.steps = {{E::Rename, std::nullopt, std::nullopt, std::string("%title (%artist)")}, {E::Rename}};
    app.HandleCommand(Cmd("RENB"));
    EXPECT_EQ(Name(a), "Title (Artist).mp3");
    EXPECT_STREQ(app.prefs.renamePattern, "%title (%artist)");
    ASSERT_EQ(window.prompts.size(), 2u);
    EXPECT_EQ(window.prompts[1].proposal, "Song (Other).mp3");  // the next question uses it too
    EXPECT_EQ(Name(b), "Song (Other).mp3");
}

TEST_F(RenameSessionTest, StopDuringRenameAllFinishesTheFileInProgress) {
    std::vector<CSong*> songs;
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        CSong& song = Tagged(name, "X", name);
        song.iTunesDatabaseId = static_cast<int32_t>(songs.size()) + 1;
        songs.push_back(&song);
    }
    app.SetSelection(songs);
    // The player's refresh of the first file is held until Stop is pressed.
    desktop.HoldScripts(true);
    bool stopped = false;
    window.onTimer = [&](CRenameSession& session) {
        if (!stopped && session.RunRecord().notifying.load()) {
            EXPECT_EQ(window.statuses.back(), "File 1 out of 3: Renamed. Notifying iTunes...");
            session.Cancel();  // titled "Stop" now
            stopped = true;
            desktop.HoldScripts(false);
        }
    };
    window.steps = {{E::RenameAll, std::string("First.mp3")}};
    app.HandleCommand(Cmd("RENB"));

    EXPECT_TRUE(stopped);
    EXPECT_EQ(Name(*songs[0]), "First.mp3");
    EXPECT_EQ(Name(*songs[1]), "b.mp3");
    EXPECT_EQ(Name(*songs[2]), "c.mp3");
    EXPECT_EQ(desktop.Scripts().size(), 1u);
}

TEST_F(RenameSessionTest, RefusedRenamesExplainWhyAndOfferTheFileAgain) {
    struct Case {
        const char* what;
        bool lockFolder;  // else the file itself is locked (no owner write permission)
        std::vector<int> answers;
        const char* reason;
        const char* code;
    };
    const Case cases[] = {
        {"read-only folder", true, {0}, "\nbecause you dont have enough access privileges for this operation.",
         "\nError: -5000"},
        {"locked file", false, {0}, "\nbecause file is locked.", "\nError: -45"},
        {"skip after rename offers again", false, {1}, "\nbecause file is locked.", "\nError: -45"},
        {"cancel and show", true, {2}, "\nbecause you dont have enough access privileges for this operation.",
         "\nError: -5000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFileOpsFixture f;
        CRecordingDesktop caseDesktop;
        CScriptedRenameWindow scripted;
        f.app.renameWindow = &scripted;
        CSong& song = f.AddSong("sub/old.mp3", "bytes");
        f.app.SetSelection({&song});
        scripted.steps = {{E::Rename, std::string("New.mp3")}, {E::Skip}};
        scripted.errorAnswers = c.answers;
        ASSERT_EQ(chmod(c.lockFolder ? f.dir.File("music/sub").c_str() : song.fileRef.path.c_str(), 0555), 0);
        {
            CWithoutRootOverride asUser;
            f.app.HandleCommand(Cmd("RENB"));
        }
        ASSERT_EQ(scripted.errors.size(), 1u);
        EXPECT_EQ(scripted.errors[0], std::string("Could not rename file\n\n\"old.mp3\"\n\nto\n\n\"New.mp3\"\n") +
                                          c.reason + c.code);
        // The same file is offered again, and the user skips it.
        ASSERT_EQ(scripted.prompts.size(), 2u);
        EXPECT_EQ(scripted.prompts[1].current, "old.mp3");
        EXPECT_EQ(song.fileRef.path, f.dir.File("music/sub/old.mp3"));
        EXPECT_EQ(caseDesktop.Revealed().size(), c.answers[0] == 2 ? 1u : 0u);
    }
}

TEST_F(RenameSessionTest, SkipAfterAnErrorInRenameAllGoesOnWithTheNextFile) {
    CSong& locked = Tagged("a.mp3", "A", "One");
    CSong& next = Tagged("b.mp3", "B", "Two");
    app.SetSelection({&locked, &next});
    ASSERT_EQ(chmod(locked.fileRef.path.c_str(), 0444), 0);
    window.steps = {{E::RenameAll}};
    window.errorAnswers = {1};
    {
        CWithoutRootOverride asUser;
        app.HandleCommand(Cmd("RENB"));
    }
    EXPECT_EQ(window.errors.size(), 1u);
    EXPECT_EQ(window.prompts.size(), 1u);
    EXPECT_EQ(Name(locked), "a.mp3");
    EXPECT_EQ(Name(next), "B - Two.mp3");
    // The alert restored the window and the Cancel button.
    EXPECT_EQ(window.cancelTitles.back(), "Cancel");
    EXPECT_EQ(window.sizes.back(), (std::pair<int, int>{472, 146}));
}

}  // namespace
