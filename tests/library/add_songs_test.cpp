#include "library/add_songs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "foundation/clock.h"
#include "library/song_list.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const char kFixture[] = "short_44k_stereo_cbr128.mp3";

// A 128-byte ID3v1 tag: genre 17 reads as "(17)".
std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album,
                  const std::string& year) {
    std::string tag = "TAG";
    auto field = [&tag](const std::string& value, size_t size) {
        std::string f = value.substr(0, size);
        f.resize(size, '\0');
        tag += f;
    };
    field(title, 30);
    field(artist, 30);
    field(album, 30);
    field(year, 4);
    field("", 30);
    tag += '\x11';
    return tag;
}

// The fixture's audio, with an optional ID3v1 tag behind it.
std::string AddSong(const CTempDir& dir, const std::string& name, const std::string& tag = "") {
    return dir.Write(name, ReadFileBytes(FixtureFile(kFixture)) + tag);
}

void WaitDone(const CAddOperation& op) {
    for (int i = 0; i < 60000 && !op.Done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(op.Done());
}

std::vector<std::string> Paths(const CSongList& list) {
    std::vector<std::string> paths;
    for (const CSong& song : list) paths.push_back(song.fileRef.path);
    return paths;
}

// Runs one add over the given paths and adopts the result.
int32_t AddPaths(CSongList& list, const std::vector<std::string>& paths, std::vector<int32_t> ids = {},
                 int32_t* total = nullptr) {
    std::vector<CFileRef> items;
    for (const std::string& p : paths) items.push_back(CFileRef{p, 0, 0});
    CAddOperation op;
    op.StartAdd(list, std::move(items), std::move(ids));
    WaitDone(op);
    if (total != nullptr) *total = op.Total();
    return op.Finish(list);
}

}  // namespace

TEST(AddSongs, Mp3Candidates) {
    struct Case {
        const char* name;
        bool candidate;
    } cases[] = {
        {"a.MP3", true}, {"b.mp3", true},      {"d.Mp3", true},  {".mp3", true},
        {"c.mp3.txt", false}, {"mp3", false}, {"a.mp3 ", false}, {"a.", false},
        {"a.mp", false}, {"a.mp33", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsMp3Candidate(c.name), c.candidate) << c.name;

    CTempDir dir;
    dir.Write("folder/x.txt", "x");
    EXPECT_TRUE(DragHasAddableItem({dir.File("notes.txt"), dir.File("folder")}));
    EXPECT_TRUE(DragHasAddableItem({dir.File("gone.MP3")}));
    EXPECT_FALSE(DragHasAddableItem({dir.File("folder/x.txt"), dir.File("folder.mp3.txt")}));
    EXPECT_FALSE(DragHasAddableItem({}));
}

TEST(AddSongs, ProgressTexts) {
    EXPECT_EQ(AddProgressText(true, 12, 0), "Counting songs... 12 found so far");
    EXPECT_EQ(AddProgressText(false, 12, 5), "Added 5 songs of 12");
}

TEST(AddSongs, FolderWalkTakesCandidatesFilesFirstLinksNotFollowed) {
    CTempDir dir;
    const std::string root = dir.File("music");
    AddSong(dir, "music/a.MP3");
    AddSong(dir, "music/b.mp3");
    AddSong(dir, "music/c.mp3.txt");
    AddSong(dir, "music/sub/d.Mp3");
    AddSong(dir, "music/.hidden/e.mp3");
    AddSong(dir, "elsewhere/f.mp3");
    fs::create_directories(root + "/folder.mp3");  // a folder with a candidate name is walked, not added
    AddSong(dir, "music/folder.mp3/g.mp3");
    fs::create_symlink(root + "/a.MP3", root + "/link.mp3");
    fs::create_directory_symlink(dir.File("elsewhere"), root + "/linked");

    CSongList list;
    int32_t total = 0;
    EXPECT_EQ(AddPaths(list, {root}, {}, &total), 5);
    EXPECT_EQ(total, 5);
    std::vector<std::string> paths = Paths(list);
    ASSERT_EQ(paths.size(), 5u);
    // The top folder's own files come before anything below it.
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.begin() + 2),
              (std::set<std::string>{root + "/a.MP3", root + "/b.mp3"}));
    EXPECT_EQ(std::set<std::string>(paths.begin() + 2, paths.end()),
              (std::set<std::string>{root + "/sub/d.Mp3", root + "/.hidden/e.mp3", root + "/folder.mp3/g.mp3"}));
    for (const CSong& song : list) {
        EXPECT_EQ(song.iTunesDatabaseId, -1);
        EXPECT_EQ(song.sampleRate, 44100);
        EXPECT_EQ(song.lengthSeconds, 3);
        EXPECT_EQ(song.currentMatch, -1);
        EXPECT_FALSE(song.modified);
    }
}

TEST(AddSongs, ListedFilesAreSkippedByIdentity) {
    CTempDir dir;
    const std::string a = AddSong(dir, "in/a.mp3");
    AddSong(dir, "in/b.mp3");
    fs::create_directories(dir.File("other"));
    ASSERT_EQ(link(a.c_str(), dir.File("other/hard.mp3").c_str()), 0);
    fs::create_symlink(a, dir.File("other/soft.mp3"));

    CSongList list;
    // A folder dropped with a file inside it: that file is staged twice.
    EXPECT_EQ(AddPaths(list, {dir.File("in"), a}), 3);
    // The same files again, by another path, a hard link and a symbolic link given directly.
    EXPECT_EQ(AddPaths(list, {dir.File("in"), dir.File("in/../in/b.mp3"), dir.File("other/hard.mp3"),
                              dir.File("other/soft.mp3")}),
              0);
    EXPECT_EQ(list.Count(), 3);
}

TEST(AddSongs, GivenItemsCountedButOnlyCandidatesAdded) {
    CTempDir dir;
    const std::string mp3 = AddSong(dir, "x.mp3");
    const std::string text = AddSong(dir, "x.mp3.txt");
    CSongList list;
    int32_t total = 0;
    EXPECT_EQ(AddPaths(list, {text, dir.File("missing.mp3"), mp3}, {7, 8, 9}, &total), 1);
    EXPECT_EQ(total, 2);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.At(0)->iTunesDatabaseId, 9);
}

TEST(AddSongs, TagsAreReadAndSavedTagsMatch) {
    CTempDir dir;
    AddSong(dir, "t.mp3", Id3v1("Title", "Artist", "Album", "1999"));
    CSongList list;
    ASSERT_EQ(AddPaths(list, {dir.File("t.mp3")}), 1);
    const CSong& song = *list.At(0);
    EXPECT_STREQ(song.tags.title, "Title");
    EXPECT_STREQ(song.tags.artist, "Artist");
    EXPECT_STREQ(song.tags.year, "1999");
    EXPECT_TRUE(SameTagValues(song.tags, song.savedTags));
    EXPECT_FALSE(song.markedByApp);
}

TEST(AddSongs, StopKeepsWhatWasStaged) {
    struct Case {
        const char* name;
        bool duringCounting;
        int32_t stopAt;
        int32_t added;
    } cases[] = {
        {"stop while counting", true, 2, 0},
        {"stop after three staged", false, 3, 3},
    };
    CTempDir dir;
    for (int i = 0; i < 6; ++i) AddSong(dir, "f/" + std::to_string(i) + ".mp3");
    for (const Case& c : cases) {
        CSongList list;
        CAddOperation op;
        op.onStep = [&c](CAddOperation& running) {
            const bool counting = running.Counting();
            if (counting == c.duringCounting &&
                (counting ? running.Total() : running.StagedCount()) == c.stopAt)
                running.Stop();
        };
        op.StartAdd(list, {CFileRef{dir.File("f"), 0, 0}});
        WaitDone(op);
        EXPECT_TRUE(op.CancelRequested()) << c.name;
        EXPECT_FALSE(op.Progress().stopEnabled) << c.name;
        EXPECT_EQ(op.Finish(list), c.added) << c.name;
        EXPECT_EQ(list.Count(), c.added) << c.name;
    }
}

TEST(AddSongs, ImportTakesLengthsFromItunesOrTheStream) {
    CTempDir dir;
    const std::string complete = AddSong(dir, "complete.mp3", Id3v1("T", "A", "B", "2001"));
    const std::string noYear = AddSong(dir, "noyear.mp3", Id3v1("T", "A", "B", ""));
    const std::string zero = AddSong(dir, "zero.mp3");
    auto track = [](int id, const std::string& path, const char* time, const char* rate) {
        return "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id) +
               "</integer><key>Location</key><string>file://localhost" + path +
               "</string><key>Total Time</key><integer>" + time + "</integer><key>Sample Rate</key><integer>" +
               rate + "</integer></dict>\n";
    };
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<plist><dict><key>Tracks</key><dict>\n" + track(1, complete, "200000", "32000") +
        track(2, noYear, "61500", "22050") + track(3, zero, "0", "48000") +
        "</dict><key>Playlists</key><array><dict><key>Name</key><string>P</string>"
        "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>1</integer></dict>"
        "<dict><key>Track ID</key><integer>2</integer></dict><dict><key>Track ID</key><integer>3</integer></dict>"
        "</array></dict></array></dict></plist>\n";
    const std::string libraryPath = dir.Write("lib.xml", xml);

    for (bool incompleteOnly : {false, true}) {
        auto importer = std::make_unique<CItunesLibrary>();
        importer->LoadPlaylists(libraryPath);
        CSongList list;
        CAddOperation op;
        op.StartImport(list, std::move(importer), 0, incompleteOnly);
        WaitDone(op);
        EXPECT_EQ(op.Total(), 3);
        op.Finish(list);
        std::vector<std::string> expected = {complete, noYear, zero};
        if (incompleteOnly) expected.erase(expected.begin());
        EXPECT_EQ(Paths(list), expected);
        for (const CSong& song : list) {
            if (song.fileRef.path == complete) {
                EXPECT_EQ(song.iTunesDatabaseId, 1);
                EXPECT_EQ(song.lengthSeconds, 200);
                EXPECT_EQ(song.sampleRate, 32000);
            } else if (song.fileRef.path == noYear) {
                EXPECT_EQ(song.lengthSeconds, 61);
                EXPECT_EQ(song.sampleRate, 22050);
            } else {
                // A zero length makes both come from the stream.
                EXPECT_EQ(song.iTunesDatabaseId, 3);
                EXPECT_EQ(song.lengthSeconds, 3);
                EXPECT_EQ(song.sampleRate, 44100);
            }
        }
    }
}

TEST(AddSongs, ProgressTimerAndFractions) {
    CManualClock clock;
    SetClock(&clock);
    CTempDir dir;
    AddSong(dir, "one.mp3");
    CSongList list;
    CAddOperation op;
    op.StartAdd(list, {CFileRef{dir.File("one.mp3"), 0, 0}});
    const double start = op.StartTime();
    EXPECT_FALSE(op.SheetDue(start));
    EXPECT_TRUE(op.SheetDue(start + 0.1));
    WaitDone(op);
    // No timer once the run is done.
    EXPECT_FALSE(op.TimerDue(start + 5));
    CAddProgress p = op.Progress();
    EXPECT_EQ(p.text, "Added 1 songs of 1");
    EXPECT_DOUBLE_EQ(p.fraction, 1.0);
    EXPECT_TRUE(p.stopEnabled);
    op.Finish(list);
    SetClock(nullptr);
}

TEST(AddSongs, TimerFiresOncePerInterval) {
    CManualClock clock;
    SetClock(&clock);
    CSongList list;
    CAddOperation op;
    // Hold the worker in counting until the timer has been checked.
    std::atomic<bool> release{false};
    CTempDir dir;
    AddSong(dir, "one.mp3");
    op.onStep = [&release](CAddOperation&) {
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    op.StartAdd(list, {CFileRef{dir.File("one.mp3"), 0, 0}});
    const double start = op.StartTime();
    for (int i = 0; i < 60000 && op.Total() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<bool> fired;
    for (double t : {0.5, 1.0, 1.5, 1.9, 2.0, 3.5}) fired.push_back(op.TimerDue(start + t));
    EXPECT_EQ(fired, (std::vector<bool>{false, true, false, false, true, true}));
    CAddProgress p = op.Progress();
    EXPECT_EQ(p.text, "Counting songs... 1 found so far");
    EXPECT_DOUBLE_EQ(p.fraction, -1.0);
    release = true;
    WaitDone(op);
    op.Finish(list);
    SetClock(nullptr);
}
