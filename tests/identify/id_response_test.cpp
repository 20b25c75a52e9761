// Turning the identification service's answers into a song's matches.

#include "identify/id_response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/prefs.h"
#include "foundation/text.h"
#include "identify/entities.h"
#include "identify/id_cache.h"
#include "library/song.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

constexpr uint8_t kKeepNothing[9] = {};

// A document with one song element holding `content`.
std::string OneSong(const std::string& content) {
    return "<?xml version=\"1.0\"?>\n<result>\n<song match_number=\"1\">\n" + content + "\n</song>\n</result>";
}

// The answer as the driver hands it over: entities decoded in place.
std::string Decoded(const std::string& answer) {
    std::vector<char> buffer(answer.begin(), answer.end());
    buffer.resize(131072, '\0');
    DecodeEntities(buffer.data(), buffer.size());
    return buffer.data();
}

class IdResponseTest : public ::testing::Test {
protected:
    IdResponseTest() : cache_(dir_.File("Melodex.cache")) {
        song_.fileRef.path = dir_.Write("song.mp3", "0123456789");
        CopyBounded(song_.tags.title, sizeof song_.tags.title, "Own Title");
        CopyBounded(song_.tags.artist, sizeof song_.tags.artist, "Own Artist");
        CopyBounded(song_.tags.album, sizeof song_.tags.album, "Own Album");
        CopyBounded(song_.tags.year, sizeof song_.tags.year, "2001");
        CopyBounded(song_.tags.genre, sizeof song_.tags.genre, "Own Genre");
        CopyBounded(song_.tags.copyright, sizeof song_.tags.copyright, "Own Label");
        CopyBounded(song_.tags.url, sizeof song_.tags.url, "http://own");
        CopyBounded(song_.tags.comment, sizeof song_.tags.comment, "Own Comment");
    }

    CTempDir dir_;
    CScopedEnv vendor_{"MELODEX_FP_VENDOR_HOST", "fp-vendor.test"};
    CScopedEnv home_{"MELODEX_HOME_PAGE", "http://home.test/"};
    CIdCache cache_;
    CSong song_;
    CPrefs prefs_;
};

TEST_F(IdResponseTest, SavedAnswerGivesMatchesInDocumentOrder) {
    const std::string answer = Decoded(ReadFileBytes(FixtureFile("id_answers/two_matches.xml")));
    prefs_.keepOriginal[7] = 0;  // let the service's url through
    ASSERT_EQ(ParseIdResponse(answer.c_str(), song_, prefs_, cache_), EIdResponse::Parsed);

    // The first song element has no album name and gives no match.
    ASSERT_EQ(song_.matches.Count(), 2);
    EXPECT_EQ(song_.currentMatch, 0);
    const CTagValues& m = song_.matches[0];
    EXPECT_STREQ(m.title, "Caf\xE9 del Mar");
    EXPECT_STREQ(m.album, "Caf\xE9 del Mar Volumen Cuatro");
    EXPECT_STREQ(m.artist, "Energy 52");
    EXPECT_STREQ(m.copyright, "Eye Q Records");
    EXPECT_STREQ(m.year, "1997");
    EXPECT_STREQ(m.url, "http://home.test/") << "links to the fingerprint vendor are replaced";
    EXPECT_STREQ(m.genre, "Rock") << "genre 17 is the 18th name";
    EXPECT_EQ(m.track, 7);
    EXPECT_EQ(m.disc, 2);
    EXPECT_STREQ(m.comment, "Own Comment") << "keepOriginal[8] is set by default";

    const CTagValues& second = song_.matches[1];
    EXPECT_STREQ(second.album, "Trance Classics") << "any element whose name contains album";
    EXPECT_STREQ(second.url, "http://example.org/remix");
    EXPECT_STREQ(second.copyright, "") << "empty label_name";
    EXPECT_STREQ(second.year, "") << "album_year 0 means no year";
    EXPECT_STREQ(second.genre, "") << "genre 148 is outside the table";
    EXPECT_EQ(second.track, 0);

    // The answer went to the cache with all its matches.
    const auto stored = cache_.LookUp(song_.fileRef.path);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->size(), 2u);
}

TEST_F(IdResponseTest, SongElementFields) {
    const std::string album = "<album><album_name>A</album_name></album>";
    struct Case {
        const char* what;
        std::string content;
        const char* title;
        const char* genre;
        const char* year;
    } cases[] = {
        {"first song_name counts", "<song_name>One</song_name><song_name>Two</song_name>" + album, "One", "", ""},
        {"empty song_name is an empty title", "<song_name></song_name>" + album, "", "", ""},
        {"names compare case-sensitively", "<Song_Name>X</Song_Name>" + album, "", "", ""},
        {"only direct children of the song",
         "<extra><song_name>Deep</song_name></extra>" + album, "", "", ""},
        {"title cut to 95", "<song_name>" + std::string(120, 't') + "</song_name>" + album,
         "ttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttttt", "", ""},
        {"year cut to 4", "<album><album_name>A</album_name><album_year>19999</album_year></album>", "", "", "1999"},
        {"genre 0", "<album><album_name>A</album_name><genre_id>0</genre_id></album>", "", "Blues", ""},
        {"genre 147", "<album><album_name>A</album_name><genre_id>147</genre_id></album>", "", "Synthpop", ""},
        {"genre -1", "<album><album_name>A</album_name><genre_id>-1</genre_id></album>", "", "", ""},
        {"genre without digits", "<album><album_name>A</album_name><genre_id>pop</genre_id></album>", "", "", ""},
        {"empty genre", "<album><album_name>A</album_name><genre_id></genre_id></album>", "", "", ""},
    };
    for (const Case& c : cases) {
        const auto matches = ParseIdMatches(OneSong(c.content).c_str(), song_.tags, kKeepNothing);
        ASSERT_EQ(matches.size(), 1u) << c.what;
        EXPECT_STREQ(matches[0].title, c.title) << c.what;
        EXPECT_STREQ(matches[0].genre, c.genre) << c.what;
        EXPECT_STREQ(matches[0].year, c.year) << c.what;
        EXPECT_STREQ(matches[0].comment, "") << c.what;
    }
}

TEST_F(IdResponseTest, WhichElementsAreSongs) {
    const std::string album = "<album><album_name>A</album_name></album>";
    struct Case {
        const char* what;
        std::string document;
        size_t matches;
    } cases[] = {
        {"no album name", OneSong("<song_name>T</song_name><album><album_year>1999</album_year></album>"), 0},
        {"album_name directly inside the song", OneSong("<album_name>A</album_name>"), 0},
        {"no match_number", "<?xml?><r><song id=\"1\">" + album + "</song></r>", 0},
        {"match_number before song", "<?xml?><r><x match_number=\"1\" song =\"\">" + album + "</x></r>", 0},
        {"song element below the root's child",
         "<?xml?><r><list><song match_number=\"1\">" + album + "</song></list></r>", 0},
        {"three songs", "<?xml?><r>" + std::string(3, ' ') +
                            "<song match_number=\"1\">" + album + "</song><song match_number=\"2\">" + album +
                            "</song><song match_number=\"3\">" + album + "</song></r>", 3},
        {"no songs at all", ReadFileBytes(FixtureFile("id_answers/no_match.xml")), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseIdMatches(c.document.c_str(), song_.tags, kKeepNothing).size(), c.matches) << c.what;
    }
}

TEST_F(IdResponseTest, KeepOriginalCopiesTheSongsOwnValues) {
    const std::string document = OneSong(
        "<song_name>S</song_name><song_url>http://s</song_url><artist><artist_name>S</artist_name></artist>"
        "<label><label_name>S</label_name></label>"
        "<album><album_name>S</album_name><album_year>1999</album_year><genre_id>1</genre_id></album>");
    struct Case {
        int flag;
        const char* own;
    } cases[] = {
        {1, "Own Title"}, {2, "Own Artist"}, {3, "Own Album"}, {4, "2001"},
        {5, "Own Genre"}, {6, "Own Label"},  {7, "http://own"}, {8, "Own Comment"},
    };
    auto field = [](const CTagValues& m, int flag) -> std::string {
        switch (flag) {
            case 1: return m.title;
            case 2: return m.artist;
            case 3: return m.album;
            case 4: return m.year;
            case 5: return m.genre;
            case 6: return m.copyright;
            case 7: return m.url;
            default: return m.comment;
        }
    };
    for (const Case& c : cases) {
        uint8_t keep[9] = {};
        keep[c.flag] = 1;
        const auto matches = ParseIdMatches(document.c_str(), song_.tags, keep);
        ASSERT_EQ(matches.size(), 1u);
        for (int flag = 1; flag <= 8; ++flag) {
            if (flag == c.flag) {
                EXPECT_EQ(field(matches[0], flag), c.own) << "flag " << flag;
            } else {
                EXPECT_NE(field(matches[0], flag), std::string(field(song_.tags, flag)))
                    << "flag " << c.flag << " also kept field " << flag;
            }
        }
    }
}

TEST_F(IdResponseTest, QuotaRefusalLeavesTheSongAlone) {
    song_.matches.Append(song_.tags);
    song_.currentMatch = 0;
    struct Case {
        int32_t left;
        int32_t after;
    } cases[] = {{5, 0}, {0, 0}, {-1, -1}};
    for (const Case& c : cases) {
        prefs_.identificationsLeft = c.left;
        EXPECT_EQ(ParseIdResponse("<html>ERROR 602: Exceeded quota</html>", song_, prefs_, cache_),
                  EIdResponse::QuotaRefused);
        EXPECT_EQ(prefs_.identificationsLeft, c.after);
        EXPECT_EQ(song_.matches.Count(), 1);
        EXPECT_EQ(song_.currentMatch, 0);
    }
    EXPECT_EQ(cache_.EntryCount(), 0);
}

TEST_F(IdResponseTest, RejectedDocumentLeavesNoMatchChosen) {
    const char* documents[] = {
        "Internal Server Error",
        "<?xml?><r><song match_number=\"1\"><album></song></r>",
    };
    for (const char* document : documents) {
        song_.matches.Append(song_.tags);
        song_.currentMatch = 0;
        try {
            ParseIdResponse(document, song_, prefs_, cache_);
            ADD_FAILURE() << "accepted " << document;
        } catch (const CError& error) {
            EXPECT_EQ(error.code, -68);
        }
        EXPECT_TRUE(song_.matches.Empty());
        EXPECT_EQ(song_.currentMatch, -1);
    }
    EXPECT_EQ(cache_.EntryCount(), 0);
}

TEST_F(IdResponseTest, AnswerWithoutMatchesIsCachedOnlyWhenAsked) {
    const std::string answer = ReadFileBytes(FixtureFile("id_answers/no_match.xml"));
    prefs_.saveToCache = 0;
    ASSERT_EQ(ParseIdResponse(answer.c_str(), song_, prefs_, cache_), EIdResponse::Parsed);
    EXPECT_EQ(song_.currentMatch, -1);
    EXPECT_EQ(cache_.EntryCount(), 0);

    prefs_.saveToCache = 1;
    ParseIdResponse(answer.c_str(), song_, prefs_, cache_);
    const auto stored = cache_.LookUp(song_.fileRef.path);
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(stored->empty());
}

}  // namespace
