#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "library/song_list.h"
#include "support/temp_dir.h"

namespace {

std::unique_ptr<CSong> NamedSong(const std::string& title) {
    auto song = std::make_unique<CSong>();
    CopyBounded(song->tags.title, sizeof song->tags.title, title.c_str());
    song->savedTags = song->tags;
    return song;
}

// A list of `count` songs titled "0", "1", ...; leaders[i] is the position of
// song i's group leader, or -1.
void Fill(CSongList& list, const std::vector<int>& leaders) {
    for (size_t i = 0; i < leaders.size(); ++i) list.Append(NamedSong(std::to_string(i)));
    for (size_t i = 0; i < leaders.size(); ++i)
        list.At(static_cast<int32_t>(i))->groupLeader = leaders[i] < 0 ? nullptr : list.At(leaders[i]);
}

// Each song's leader, written as the leader's title, "-" for none.
std::string Leaders(const CSongList& list) {
    std::string out;
    for (const CSong& song : list) {
        out += song.tags.title;
        out += ':';
        out += song.groupLeader == nullptr ? "-" : song.groupLeader->tags.title;
        out += ' ';
    }
    return out;
}

}  // namespace

TEST(SongList, AppendsInOrderAndKeepsPositions) {
    CSongList list;
    std::vector<int32_t> capacities;
    for (int i = 0; i < 4; ++i) {
        list.Append(NamedSong(std::to_string(i)));
        capacities.push_back(list.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int32_t>{1, 3, 3, 7}));
    EXPECT_EQ(list.Count(), 4);
    int32_t position = 0;
    for (const CSong& song : list) {
        EXPECT_EQ(song.listIndex, position);
        EXPECT_EQ(std::string(song.tags.title), std::to_string(position));
        ++position;
    }
    EXPECT_EQ(list.At(-1), nullptr);
    EXPECT_EQ(list.At(4), nullptr);
}

TEST(SongList, RemoveHandsOverGroupLeadership) {
    struct Case {
        const char* what;
        std::vector<int> leaders;
        std::vector<int> remove;
        const char* afterRemove;
        const char* afterNormalize;
    } cases[] = {
        {"leader of three goes: next member leads",
         {0, -1, 0, 0, -1}, {0},
         "1:- 2:2 3:2 4:- ", "1:- 2:2 3:2 4:- "},
        {"two members of three go: single left",
         {0, -1, 0, 0, -1}, {2, 3},
         "0:0 1:- 4:- ", "0:- 1:- 4:- "},
        {"heir is first in list order, not the next after the leader",
         {2, -1, 2, -1, 2}, {2},
         "0:0 1:- 3:- 4:0 ", "0:0 1:- 3:- 4:0 "},
        {"leader and first member go: heir skips removed songs",
         {0, 0, -1, 0}, {0, 1},
         "2:- 3:3 ", "2:- 3:- "},
        {"whole group goes, other group untouched",
         {0, 0, 3, 3}, {1, 0},
         "2:3 3:3 ", "2:3 3:3 "},
        {"member goes, leader stays",
         {1, 1, 1}, {0},
         "1:1 2:1 ", "1:1 2:1 "},
    };
    for (const Case& c : cases) {
        CSongList list;
        Fill(list, c.leaders);
        std::vector<CSong*> doomed;
        for (int i : c.remove) doomed.push_back(list.At(i));
        list.Remove(doomed);
        EXPECT_EQ(Leaders(list), c.afterRemove) << c.what;
        for (int32_t i = 0; i < list.Count(); ++i) EXPECT_EQ(list.At(i)->listIndex, i) << c.what;
        list.NormalizeGroups();
        EXPECT_EQ(Leaders(list), c.afterNormalize) << c.what;
    }
}

TEST(SongList, RemoveIgnoresSongsNotInTheList) {
    CSongList list;
    Fill(list, {0, 0});
    CSong stranger;
    CSong* doomed[] = {&stranger, nullptr};
    list.Remove(doomed);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(Leaders(list), "0:0 1:0 ");
}

TEST(SongList, RemoveClearsPointersToDestroyedSongs) {
    CSongList list;
    Fill(list, {-1, -1, -1});
    list.At(0)->groupNext = list.At(1);
    list.At(2)->groupLeader = list.At(1);  // not a leader of its own: no heir
    CSong* doomed[] = {list.At(1)};
    list.Remove(doomed);
    EXPECT_EQ(list.At(0)->groupNext, nullptr);
    EXPECT_EQ(list.At(1)->groupLeader, nullptr);
}

TEST(SongList, NormalizeGroupsDissolvesOnlySingleSongGroups) {
    CSongList list;
    Fill(list, {0, 1, 0, 3, 3, 5});
    list.NormalizeGroups();
    EXPECT_EQ(Leaders(list), "0:0 1:- 2:0 3:3 4:3 5:- ");
}

TEST(SongList, AdoptStagedCopiesEveryRecordInOrder) {
    std::vector<CSong> staged(3);
    for (int i = 0; i < 3; ++i) {
        CSong& s = staged[static_cast<size_t>(i)];
        CopyBounded(s.tags.title, sizeof s.tags.title, ("staged " + std::to_string(i)).c_str());
        s.savedTags = s.tags;
        s.fileRef = CFileRef{"/music/" + std::to_string(i) + ".mp3", 7, static_cast<ino_t>(100 + i)};
        s.iTunesDatabaseId = 40 + i;
        s.lengthSeconds = 200 + i;
        s.sampleRate = 44100;
        s.markedByApp = i == 1;
    }
    CSongList list;
    list.Append(NamedSong("existing"));
    list.AdoptStaged(staged);

    ASSERT_EQ(list.Count(), 4);
    for (int32_t i = 1; i < 4; ++i) {
        const CSong& adopted = *list.At(i);
        const CSong& record = staged[static_cast<size_t>(i - 1)];
        EXPECT_NE(&adopted, &record);
        EXPECT_STREQ(adopted.tags.title, record.tags.title);
        EXPECT_STREQ(adopted.savedTags.title, record.tags.title);
        EXPECT_EQ(adopted.fileRef.path, record.fileRef.path);
        EXPECT_EQ(adopted.fileRef.inode, record.fileRef.inode);
        EXPECT_EQ(adopted.iTunesDatabaseId, record.iTunesDatabaseId);
        EXPECT_EQ(adopted.lengthSeconds, record.lengthSeconds);
        EXPECT_EQ(adopted.sampleRate, record.sampleRate);
        EXPECT_EQ(adopted.markedByApp, record.markedByApp);
        EXPECT_EQ(adopted.listIndex, i);
    }
    EXPECT_TRUE(list.Contains(CFileRef{"/elsewhere/2.mp3", 7, 102}));
}

TEST(SongList, ContainsComparesFileIdentityNotPathText) {
    CTempDir dir;
    std::string a = dir.Write("a.mp3", "a");
    std::string b = dir.Write("b.mp3", "b");
    ASSERT_EQ(link(a.c_str(), dir.File("hard.mp3").c_str()), 0);
    ASSERT_EQ(symlink(b.c_str(), dir.File("soft.mp3").c_str()), 0);

    CSongList list;
    list.Append(NamedSong("a")).fileRef = MakeFileRef(a.c_str());
    CFileRef bRef = MakeFileRef(b.c_str());

    EXPECT_TRUE(list.Contains(MakeFileRef(a.c_str())));
    EXPECT_TRUE(list.Contains(MakeFileRef(dir.File("hard.mp3").c_str())));
    EXPECT_FALSE(list.Contains(bRef));
    // Same path text, different file.
    EXPECT_FALSE(list.Contains(CFileRef{a, bRef.device, bRef.inode}));
    EXPECT_FALSE(list.Contains(CFileRef{}));

    list.Append(NamedSong("b")).fileRef = bRef;
    EXPECT_TRUE(list.Contains(MakeFileRef(dir.File("soft.mp3").c_str())));
    EXPECT_STREQ(list.At(1)->FileName(), "b.mp3");
}

TEST(FileRef, MakesAbsoluteReferencesOrThrows) {
    CTempDir dir;
    std::string file = dir.Write("sub/My Song.mp3", "x");

    std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    CFileRef relative = MakeFileRef("sub/My Song.mp3");
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(relative.path, file);
    EXPECT_STREQ(FileRefName(relative), "My Song.mp3");
    EXPECT_TRUE(SameFile(relative, MakeFileRef(file.c_str())));

    struct Case {
        std::string path;
        int32_t code;
    } cases[] = {
        {dir.File("missing.mp3"), eFileNotFound},
        {"", eFileNotFound},
        {"/" + std::string(kMaxPathLength, 'a'), ENAMETOOLONG},
        {file + "/below", ENOTDIR},
    };
    for (const Case& c : cases) {
        try {
            MakeFileRef(c.path.c_str());
            ADD_FAILURE() << c.path.substr(0, 80) << " did not throw";
        } catch (CError e) {
            EXPECT_EQ(e.code, c.code) << c.path.substr(0, 80);
        }
    }
    try {
        MakeFileRef(nullptr);
        ADD_FAILURE() << "null path did not throw";
    } catch (CError e) {
        EXPECT_EQ(e.code, eParamErr);
    }
}

TEST(SortKey, ComparesEachColumnByItsKey) {
    CSong a;
    CSong b;
    auto set = [](CSong& s, const char* title, const char* artist, const char* album, const char* genre,
                  const char* comment, const char* copyright, const char* url, const char* year, int track,
                  int disc) {
        CopyBounded(s.tags.title, sizeof s.tags.title, title);
        CopyBounded(s.tags.artist, sizeof s.tags.artist, artist);
        CopyBounded(s.tags.album, sizeof s.tags.album, album);
        CopyBounded(s.tags.genre, sizeof s.tags.genre, genre);
        CopyBounded(s.tags.comment, sizeof s.tags.comment, comment);
        CopyBounded(s.tags.copyright, sizeof s.tags.copyright, copyright);
        CopyBounded(s.tags.url, sizeof s.tags.url, url);
        CopyBounded(s.tags.year, sizeof s.tags.year, year);
        s.tags.track = track;
        s.tags.disc = disc;
        s.savedTags = s.tags;
    };
    set(a, "apple", "ZED", "b", "Rock", "x", "", "http://A", "1999", 2, 10);
    set(b, "Banana", "abc", "B", "rock", "Y", "c", "http://b", "2000", 11, 9);
    a.fileRef.path = "/a/Zulu.mp3";
    b.fileRef.path = "/z/alpha.mp3";
    a.lengthSeconds = 300;
    b.lengthSeconds = 299;
    a.sampleRate = 48000;
    b.sampleRate = 44100;
    a.modified = true;  // status 4 against -1
    a.listIndex = 1;
    b.listIndex = 0;

    struct Case {
        ESongColumn column;
        int sign;
    } cases[] = {
        {ESongColumn::Title, -1},     {ESongColumn::Artist, 1},    {ESongColumn::Album, 0},
        {ESongColumn::Genre, 0},      {ESongColumn::Comment, -1},  {ESongColumn::Copyright, -1},
        {ESongColumn::Url, -1},       {ESongColumn::Year, -1},     {ESongColumn::Track, -1},
        {ESongColumn::Disc, 1},       {ESongColumn::Length, 1},    {ESongColumn::SampleRate, 1},
        {ESongColumn::FileName, 1},   {ESongColumn::Status, 1},    {ESongColumn::None, 1},
    };
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(CompareSongs(a, b, c.column)), c.sign) << static_cast<uint32_t>(c.column);
        EXPECT_EQ(sign(CompareSongs(b, a, c.column)), -c.sign) << static_cast<uint32_t>(c.column);
    }

    // Keys come from the displayed values.
    CTagValues match = a.tags;
    CopyBounded(match.title, sizeof match.title, "zzz");
    match.track = 99;
    a.matches.Append(match);
    a.currentMatch = 0;
    EXPECT_GT(CompareSongs(a, b, ESongColumn::Title), 0);
    EXPECT_GT(CompareSongs(a, b, ESongColumn::Track), 0);

    // Only ASCII letters fold; other bytes compare unsigned.
    EXPECT_GT(CompareSortKeys({"\xE9"}, {"z"}), 0);
    EXPECT_NE(CompareSortKeys({"\xC9"}, {"\xE9"}), 0);
    EXPECT_EQ(CompareSortKeys({nullptr, -5}, {nullptr, 3}), -1);
}
