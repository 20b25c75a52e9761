#include "fileops/duplicates.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fileops_support.h"
#include "support/without_root_override.h"

namespace {

TEST(SongsMatchTest, TitleThenNameThenSize) {
    struct Case {
        CDuplicateKey a, b;
        bool match;
    };
    const Case cases[] = {
        {{"Intro", "a.mp3", 1}, {"INTRO", "b.mp3", 2}, true},   // titles ignore case
        {{"", "a.mp3", 1}, {"", "b.mp3", 2}, false},            // empty titles never match
        {{"", "a.mp3", 7}, {"", "b.mp3", 7}, true},             // ... but sizes do
        {{"X", "Song.MP3", 1}, {"Y", "song.mp3", 2}, true},     // names ignore case
        {{"X", "song.mp3", 1}, {"Y", "song.m4a", 2}, false},    // the extension takes part
        {{"X", "", 1}, {"Y", "", 2}, false},                    // empty names never match
        {{"X", "", 0}, {"Y", "", 0}, true},                     // unexaminable files match by size 0
        {{"Caf\xe9", "a", 1}, {"CAF\xc9", "b", 2}, false},      // only ASCII letters fold
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a.title + "/" + c.a.name + " vs " + c.b.title + "/" + c.b.name);
        EXPECT_EQ(SongsMatch(c.a, c.b), c.match);
        EXPECT_EQ(SongsMatch(c.b, c.a), c.match);
    }
}

TEST(FindDuplicateLeadersTest, GroupsMergeAndAreLedByTheirEarliestSong) {
    struct Case {
        const char* what;
        std::vector<CDuplicateKey> keys;
        std::vector<int32_t> leaders;
    };
    const Case cases[] = {
        {"first and third same size, second and third same title",
         {{"", "a", 1}, {"T", "b", 2}, {"t", "c", 1}},
         {0, 0, 0}},
        {"a fourth song matching three groups merges them",
         {{"A", "a", 1}, {"B", "b", 2}, {"C", "c", 3}, {"a", "C", 2}},
         {0, 0, 0, 0}},
        {"singles have no leader",
         {{"A", "a", 1}, {"B", "b", 2}, {"A", "c", 3}},
         {0, -1, 0}},
        {"a later song joining an earlier group keeps that group's leader",
         {{"X", "x", 9}, {"A", "a", 1}, {"B", "b", 2}, {"", "a", 5}},
         {-1, 1, -1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(FindDuplicateLeaders(c.keys), c.leaders);
        EXPECT_EQ(FindDuplicateLeadersByScan(c.keys), c.leaders);
    }
}

// The indexed search must give exactly the groups of the member-by-member scan.
TEST(FindDuplicateLeadersTest, AgreesWithTheGroupScanOnRandomLists) {
    std::mt19937 random(12345);
    const char* titles[] = {"", "", "Intro", "INTRO", "Outro", "Song", "song"};
    const char* names[] = {"", "a.mp3", "A.MP3", "b.mp3", "c.mp3", "d.mp3"};
    for (int round = 0; round < 200; ++round) {
        std::vector<CDuplicateKey> keys(random() % 30);
        for (CDuplicateKey& key : keys) {
            key.title = titles[random() % std::size(titles)];
            key.name = names[random() % std::size(names)];
            key.size = static_cast<uint32_t>(random() % 25);
        }
        ASSERT_EQ(FindDuplicateLeaders(keys), FindDuplicateLeadersByScan(keys)) << "round " << round;
    }
}

TEST(FindDuplicateLeadersTest, ProgressCountsTwoPerJoiningSong) {
    const std::vector<CDuplicateKey> keys = {{"A", "", 1}, {"a", "", 2}, {"B", "", 3}, {"", "", 3}};
    std::vector<std::pair<int32_t, int32_t>> seen;
    auto record = [](void* context, int32_t index, int32_t found) {
        static_cast<decltype(seen)*>(context)->emplace_back(index, found);
        return true;
    };
    FindDuplicateLeaders(keys, record, &seen);
    const std::vector<std::pair<int32_t, int32_t>> expected = {{0, 0}, {1, 0}, {2, 2}, {3, 2}, {4, 4}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(DuplicatesProgressText(3, 10, 4), "3 songs processed of 10\n4 duplicates found so far.");
}

class DuplicateRunTest : public ::testing::Test, public CFileOpsFixture {};

TEST_F(DuplicateRunTest, RunGroupsRealFilesAndTickAppliesLeaders) {
    CSong& a = AddSong("a.mp3", "12345", "Intro");
    CSong& b = AddSong("b.mp3", "1234567", "Other");
    CSong& c = AddSong("sub/A.MP3", "123", "");
    CSong& d = AddSong("d.mp3", "1234567", "");
    CSong& gone = AddSong("gone.mp3", nullptr, "");
    CSong& alsoGone = AddSong("gone2.mp3", nullptr, "");
    app.SetSelection({&b});

    ASSERT_TRUE(app.FindDuplicates());
    EXPECT_TRUE(app.findingDuplicates);
    EXPECT_FALSE(app.FindDuplicates());  // one run at a time
    ASSERT_TRUE(TickUntil([&] { return !app.findingDuplicates; }));

    EXPECT_EQ(a.groupLeader, &a);  // a and c by file name
    EXPECT_EQ(c.groupLeader, &a);
    EXPECT_EQ(b.groupLeader, &b);  // b and d by size
    EXPECT_EQ(d.groupLeader, &b);
    EXPECT_EQ(gone.groupLeader, &gone);  // no file: size 0, empty name
    EXPECT_EQ(alsoGone.groupLeader, &gone);
    EXPECT_EQ(app.selection, std::vector<CSong*>{&b});
    EXPECT_FALSE(app.duplicatesDone);

    app.ClearGroups();
    for (const CSong& song : app.songs) EXPECT_EQ(song.groupLeader, nullptr);
    EXPECT_EQ(app.selection, std::vector<CSong*>{&b});
}

TEST_F(DuplicateRunTest, StopLeavesEarlierGroupsAsTheyWere) {
    CSong& a = AddSong("a.mp3", "1", "Same");
    CSong& b = AddSong("b.mp3", "22", "Other");
    AddSong("c.mp3", "333", "Same");
    b.groupLeader = &a;
    a.groupLeader = &a;

    ASSERT_TRUE(app.FindDuplicates());
    app.StopDuplicates();
    ASSERT_TRUE(TickUntil([&] { return !app.findingDuplicates; }));
    EXPECT_EQ(a.groupLeader, &a);
    EXPECT_EQ(b.groupLeader, &a);
    EXPECT_EQ(app.songs.At(2)->groupLeader, nullptr);
}

// A user at the Delete window: one answer per question, in order.
class CScriptedDeleteWindow : public IDeleteWindow {
public:
    EDeleteChoice Ask(const CDeleteQuestion& question) override {
        asked.push_back(question);
        EDeleteChoice answer = answers.empty() ? EDeleteChoice::Cancel : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return answer;
    }
    std::vector<EDeleteChoice> answers;
    std::vector<CDeleteQuestion> asked;
};

class TrashSelectedTest : public DuplicateRunTest {
protected:
    TrashSelectedTest() { app.deleteWindow = &window; }
    bool InTrash(const std::string& name) const {
        return std::filesystem::exists(dir.File("data/Trash/files/" + name));
    }
    bool InList(const CSong* wanted) const {
        for (const CSong& song : app.songs)
            if (&song == wanted) return true;
        return false;
    }
    CScriptedDeleteWindow window;
};

TEST_F(TrashSelectedTest, TrashingTheLeaderHandsTheGroupToTheNextMember) {
    CSong& a = AddSong("a.mp3", "x", "Same");
    CSong& b = AddSong("b.mp3", "yy", "Same");
    CSong& c = AddSong("c.mp3", "zzz", "same");
    a.lengthSeconds = 185;
    a.sampleRate = 44100;
    for (CSong* song : {&a, &b, &c}) song->groupLeader = &a;
    app.SetSelection({&a});
    window.answers = {EDeleteChoice::Delete};

    app.TrashSelected();
    ASSERT_EQ(window.asked.size(), 1u);
    EXPECT_EQ(window.asked[0].fileName, "a.mp3");
    EXPECT_EQ(window.asked[0].length, "03:05");
    EXPECT_EQ(window.asked[0].rate, "44 kHz");
    EXPECT_TRUE(InTrash("a.mp3"));
    EXPECT_EQ(app.songs.Count(), 2);
    EXPECT_EQ(b.groupLeader, &b);
    EXPECT_EQ(c.groupLeader, &b);
    EXPECT_TRUE(app.selection.empty());
}

TEST_F(TrashSelectedTest, AnswersDecideWhichFilesGo) {
    struct Case {
        const char* what;
        std::vector<EDeleteChoice> answers;
        size_t questions;
        std::vector<bool> trashed;  // per song
    };
    using E = EDeleteChoice;
    const Case cases[] = {
        {"skip, delete, cancel", {E::Skip, E::Delete, E::Cancel}, 3, {false, true, false, false}},
        {"delete all stops asking", {E::Skip, E::DeleteAll}, 2, {false, true, true, true}},
        {"cancel at once", {E::Cancel}, 1, {false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFileOpsFixture f;
        CScriptedDeleteWindow scripted;
        scripted.answers = c.answers;
        f.app.deleteWindow = &scripted;
        std::vector<CSong*> all;
        for (const char* name : {"1.mp3", "2.mp3", "3.mp3", "4.mp3"}) all.push_back(&f.AddSong(name, "data"));
        f.app.SetSelection(all);
        f.app.TrashSelected();
        EXPECT_EQ(scripted.asked.size(), c.questions);
        int32_t kept = 0;
        for (size_t i = 0; i < all.size(); ++i) {
            const std::string name = std::to_string(i + 1) + ".mp3";
            EXPECT_EQ(std::filesystem::exists(f.dir.File("data/Trash/files/" + name)), c.trashed[i]) << name;
            kept += c.trashed[i] ? 0 : 1;
        }
        EXPECT_EQ(f.app.songs.Count(), kept);
        EXPECT_EQ(static_cast<int32_t>(f.app.selection.size()), kept);
    }
}

TEST_F(TrashSelectedTest, SongsWhoseFilesCannotGoStayInTheList) {
    CSong& missing = AddSong("missing.mp3", "x");
    std::filesystem::remove(missing.fileRef.path);
    CSong& locked = AddSong("locked/l.mp3", "x");
    CSong& fine = AddSong("fine.mp3", "x");
    app.SetSelection({&missing, &locked, &fine});
    window.answers = {EDeleteChoice::DeleteAll};
    ASSERT_EQ(chmod(dir.File("music/locked").c_str(), 0555), 0);
    {
        CWithoutRootOverride asUser;
        app.TrashSelected();
    }
    EXPECT_EQ(shell.beeps, 1);
    ASSERT_EQ(shell.alerts.size(), 1u);
    EXPECT_EQ(shell.alerts[0].rfind("Could not move \"l.mp3\" to the Trash.|", 0), 0u) << shell.alerts[0];
    EXPECT_TRUE(InList(&missing));
    EXPECT_TRUE(InList(&locked));
    EXPECT_FALSE(InList(&fine));
    EXPECT_TRUE(InTrash("fine.mp3"));
    EXPECT_EQ(app.selection, (std::vector<CSong*>{&missing, &locked}));
}

TEST_F(TrashSelectedTest, WithoutADeleteWindowTheShellIsAskedAndNothingGoesUnanswered) {
    app.deleteWindow = nullptr;
    CSong& a = AddSong("a.mp3", "x");
    app.SetSelection({&a});
    app.TrashSelected();  // the shell answers with its default: Cancel
    ASSERT_EQ(shell.askedButtons.size(), 1u);
    EXPECT_EQ(shell.askedButtons[0], (std::vector<std::string>{"Delete", "Skip", "Delete All", "Cancel"}));
    EXPECT_TRUE(InList(&a));
    shell.answers = {0};
    app.TrashSelected();
    EXPECT_FALSE(InList(&a));
}

}  // namespace
