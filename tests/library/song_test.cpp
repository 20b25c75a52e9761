#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "foundation/text.h"
#include "library/song.h"

namespace {

CTagValues Values(const char* title, const char* artist = "Artist", const char* album = "Album",
                  const char* genre = "Rock") {
    CTagValues v{};
    CopyBounded(v.title, sizeof v.title, title);
    CopyBounded(v.artist, sizeof v.artist, artist);
    CopyBounded(v.album, sizeof v.album, album);
    CopyBounded(v.genre, sizeof v.genre, genre);
    CopyBounded(v.comment, sizeof v.comment, "comment");
    CopyBounded(v.year, sizeof v.year, "1999");
    CopyBounded(v.copyright, sizeof v.copyright, "Label");
    CopyBounded(v.url, sizeof v.url, "http://x");
    v.track = 3;
    v.disc = 1;
    return v;
}

// A song as the add operation makes it: own values equal to the file's.
CSong FreshSong(const CTagValues& values = Values("Song")) {
    CSong song;
    song.tags = values;
    song.savedTags = values;
    return song;
}

CSong SongWithMatches(int count) {
    CSong song = FreshSong();
    for (int i = 0; i < count; ++i) song.matches.Append(Values(("Match " + std::to_string(i)).c_str()));
    return song;
}

}  // namespace

TEST(Song, NewSongStartsWithDocumentedState) {
    CSong song;
    EXPECT_EQ(song.iTunesDatabaseId, -1);
    EXPECT_EQ(song.currentMatch, -1);
    EXPECT_TRUE(song.matches.Empty());
    EXPECT_TRUE(song.groupExpanded);
    EXPECT_EQ(song.groupLeader, nullptr);
    EXPECT_EQ(song.idJob, nullptr);
    EXPECT_EQ(song.idRequest, nullptr);
    EXPECT_FALSE(song.identified || song.modified || song.markedByApp || song.idFailed);
    const CTagValues zero{};
    EXPECT_EQ(std::memcmp(&song.tags, &zero, sizeof zero), 0);
}

TEST(Song, StatusFollowsTheTestOrder) {
    CIdJob* job = reinterpret_cast<CIdJob*>(0x10);
    CHttpRequest* request = reinterpret_cast<CHttpRequest*>(0x20);
    struct Case {
        const char* what;
        CIdJob* job;
        CHttpRequest* request;
        bool identified;
        int matches;
        int32_t current;
        bool marked;
        bool modified;
        bool failed;
        ESongStatus status;
    } cases[] = {
        {"nothing", nullptr, nullptr, false, 0, -1, false, false, false, eStatusNone},
        {"job beats modified", job, nullptr, false, 0, -1, false, true, true, eStatusNone},
        {"request beats identified", nullptr, request, true, 2, 0, false, false, false, eStatusNone},
        {"identified, no matches", nullptr, nullptr, true, 0, -1, true, true, true, eStatusNoMatches},
        {"match chosen", nullptr, nullptr, true, 3, 1, true, true, false, eStatusMatchChosen},
        {"own values shown", nullptr, nullptr, true, 3, -1, false, true, false, eStatusMatchesNotChosen},
        {"own values, marked", nullptr, nullptr, true, 3, -1, true, false, false, eStatusMarked},
        {"modified beats failed", nullptr, nullptr, false, 0, -1, true, true, true, eStatusModified},
        {"failed beats marked", nullptr, nullptr, false, 0, -1, true, false, true, eStatusFailed},
        {"marked", nullptr, nullptr, false, 0, -1, true, false, false, eStatusMarked},
    };
    for (const Case& c : cases) {
        CSong song = SongWithMatches(c.matches);
        song.idJob = c.job;
        song.idRequest = c.request;
        song.identified = c.identified;
        song.currentMatch = c.current;
        song.markedByApp = c.marked;
        song.modified = c.modified;
        song.idFailed = c.failed;
        EXPECT_EQ(song.Status(), c.status) << c.what;
    }
}

TEST(Song, ModifiedComparesDisplayedValuesWithSavedOnes) {
    struct Case {
        const char* what;
        std::function<void(CTagValues&)> edit;
        bool modified;
    } cases[] = {
        {"unchanged", [](CTagValues&) {}, false},
        {"title case", [](CTagValues& v) { v.title[0] = 's'; }, true},
        {"artist", [](CTagValues& v) { CopyBounded(v.artist, sizeof v.artist, "Other"); }, true},
        {"album", [](CTagValues& v) { v.album[0] = '\0'; }, true},
        {"genre", [](CTagValues& v) { CopyBounded(v.genre, sizeof v.genre, "Rock "); }, true},
        {"comment", [](CTagValues& v) { v.comment[0] = 'C'; }, true},
        {"year", [](CTagValues& v) { CopyBounded(v.year, sizeof v.year, "2000"); }, true},
        {"copyright", [](CTagValues& v) { v.copyright[0] = 'l'; }, true},
        {"url", [](CTagValues& v) { v.url[0] = 'H'; }, true},
        {"track", [](CTagValues& v) { v.track = 0; }, true},
        {"disc", [](CTagValues& v) { v.disc = 2; }, true},
        // Bytes behind the terminator are not part of the value.
        {"garbage behind NUL", [](CTagValues& v) { v.title[90] = 'x'; }, false},
    };
    for (const Case& c : cases) {
        CSong own = FreshSong();
        c.edit(own.tags);
        EXPECT_EQ(own.RecomputeModified(), c.modified) << c.what;
        EXPECT_EQ(own.modified, c.modified) << c.what;

        // The same edit in a chosen match counts; the own values then do not.
        CSong matched = FreshSong();
        matched.matches.Append(matched.savedTags);
        matched.currentMatch = 0;
        c.edit(matched.DisplayedValues());
        EXPECT_EQ(matched.RecomputeModified(), c.modified) << c.what << " (match)";
        EXPECT_TRUE(SameTagValues(matched.tags, matched.savedTags)) << c.what;
    }
}

TEST(Song, StepsThroughMatchesAndOwnValues) {
    struct Case {
        int matches;
        int32_t from;
        bool next;
        int32_t to;
    } cases[] = {
        {3, -1, true, 0}, {3, 0, true, 1}, {3, 2, true, -1},
        {3, -1, false, 2}, {3, 0, false, -1}, {3, 2, false, 1},
        {1, 0, true, -1}, {1, -1, false, 0},
        {0, -1, true, -1}, {0, -1, false, -1},
    };
    for (const Case& c : cases) {
        CSong song = SongWithMatches(c.matches);
        song.currentMatch = c.from;
        if (c.next)
            song.NextMatch();
        else
            song.PreviousMatch();
        EXPECT_EQ(song.currentMatch, c.to) << c.matches << " " << c.from << (c.next ? " next" : " prev");
        // Stepping marks the song identified; without matches nothing happens.
        EXPECT_EQ(song.identified, c.matches > 0);
        // Matches differ from the file; the own values do not.
        EXPECT_EQ(song.modified, c.to != -1);
    }
}

TEST(Song, OwnValuesShownWhenNoMatchIsChosen) {
    CSong song = SongWithMatches(2);
    song.identified = true;
    EXPECT_STREQ(song.DisplayedValues().title, "Song");
    EXPECT_EQ(song.Status(), eStatusMatchesNotChosen);
    song.markedByApp = true;
    EXPECT_EQ(song.Status(), eStatusMarked);
    song.currentMatch = 1;
    EXPECT_STREQ(song.DisplayedValues().title, "Match 1");
}

TEST(Song, RevertAndClearShowOwnValuesAgain) {
    CSong song = SongWithMatches(3);
    song.identified = true;
    song.idFailed = true;
    song.markedByApp = true;
    song.currentMatch = 1;
    CopyBounded(song.tags.title, sizeof song.tags.title, "edited");
    song.RecomputeModified();
    ASSERT_TRUE(song.modified);

    CSong cleared = song;
    int32_t capacity = cleared.matches.Capacity();
    cleared.ClearIdentification();
    EXPECT_EQ(cleared.currentMatch, -1);
    EXPECT_EQ(cleared.matches.Count(), 0);
    EXPECT_EQ(cleared.matches.Capacity(), capacity);
    EXPECT_FALSE(cleared.identified || cleared.idFailed || cleared.markedByApp);
    EXPECT_STREQ(cleared.DisplayedValues().title, "edited");
    EXPECT_TRUE(cleared.modified);  // the own edit still differs from the file

    CSong reverted = song;
    reverted.RevertEdits();
    EXPECT_EQ(reverted.currentMatch, -1);
    EXPECT_STREQ(reverted.tags.title, "Song");
    EXPECT_FALSE(reverted.modified);
    EXPECT_EQ(reverted.matches.Count(), 3);  // the matches stay
}

TEST(Song, IncompleteAndNeedsIdentification) {
    struct Case {
        CTagValues shown;
        bool marked;
        bool identified;
        bool incomplete;
        bool needs;
    } cases[] = {
        {Values("T"), false, false, false, true},
        {Values("T"), true, false, false, false},
        {Values("T"), false, true, false, false},
        {Values("T", "A", "B", ""), true, false, true, false},  // genre does not count for marked songs
        {Values(""), true, false, true, true},
        {Values("T", ""), true, false, true, true},
        {Values("T", "A", ""), false, false, true, true},
        {Values("T", "A", ""), false, true, true, false},
    };
    for (const Case& c : cases) {
        CSong song = FreshSong(c.shown);
        song.markedByApp = c.marked;
        song.identified = c.identified;
        EXPECT_EQ(song.IsIncomplete(), c.incomplete) << c.shown.title << "/" << c.shown.artist;
        EXPECT_EQ(song.NeedsIdentification(), c.needs) << c.shown.title << "/" << c.shown.artist;
    }
    // The displayed values decide, not the own ones.
    CSong song = FreshSong(Values(""));
    song.matches.Append(Values("Found"));
    song.currentMatch = 0;
    song.markedByApp = true;
    EXPECT_FALSE(song.IsIncomplete());
    EXPECT_FALSE(song.NeedsIdentification());
}

TEST(Song, MatchStorageGrowsByTheArrayRule) {
    CSong song;
    std::vector<int32_t> capacities{song.matches.Capacity()};
    for (int i = 0; i < 8; ++i) {
        song.matches.Append(CTagValues{});
        capacities.push_back(song.matches.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int32_t>{0, 1, 3, 3, 7, 7, 7, 7, 15}));
    song.matches.Clear();
    EXPECT_EQ(song.matches.Capacity(), 15);
    CSong copy = song;
    EXPECT_EQ(copy.matches.Capacity(), 15);
}
