// The identification query URL.

#include "identify/id_query.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "foundation/prefs.h"
#include "foundation/text.h"
#include "library/song.h"
#include "support/scoped_env.h"

namespace {

constexpr char kDigest[] = "0123456789abcdef0123456789abcdef";

class IdQueryTest : public ::testing::Test {
protected:
    IdQueryTest() {
        CopyBounded(prefs_.userName, sizeof prefs_.userName, "ann");
        CopyBounded(prefs_.password, sizeof prefs_.password, "secret");
        song_.fileRef.path = "/music/Rock & Roll.mp3";
    }

    std::string Query(EIdQuery kind, const char* token = "") {
        return BuildIdQuery(song_, kind, kDigest, 4000000, 245, 128, token, released_, prefs_);
    }
    void SetShown(CTagValues& values, const char* title, const char* artist) {
        CopyBounded(values.title, sizeof values.title, title);
        CopyBounded(values.artist, sizeof values.artist, artist);
    }

    CScopedEnv host_{"MELODEX_ID_HOST", "id.test:8080"};
    CPrefs prefs_;
    CSong song_;
    std::atomic<bool> released_{false};
};

TEST_F(IdQueryTest, DigestQueryCarriesTheShownTitleAndArtist) {
    SetShown(song_.tags, "Own", "Mine");
    song_.matches.Append(CTagValues{});
    SetShown(song_.matches[0], "Let's go: now", "AC/DC");
    song_.currentMatch = 0;
    EXPECT_EQ(Query(EIdQuery::Digest),
              "id.test:8080/cgi-bin/search.cgi?&u=ann&p=secret&mode=1&file_size=4000000&song_length=245"
              "&filename=Rock%20%26%20Roll.mp3&bitrate=128&md5=0123456789abcdef0123456789abcdef&version=5.0"
              "&song_name=Let's%20go%3A%20now&artist_name=AC%2FDC&");
}

TEST_F(IdQueryTest, FingerprintQueryCarriesTheTokenAndNoTitle) {
    SetShown(song_.tags, "Title", "Artist");
    prefs_.introAccount = 1;
    EXPECT_EQ(Query(EIdQuery::Fingerprint, "0001_0002_0003_0004+05+$"),
              "id.test:8080/cgi-bin/search.cgi?&u=ann&p=secret&mode=2&file_size=4000000&song_length=245"
              "&filename=Rock%20%26%20Roll.mp3&bitrate=128&md5=0123456789abcdef0123456789abcdef"
              "&t=0001_0002_0003_0004+05+$&version=5.0&conf=melodex&");
}

TEST_F(IdQueryTest, OptionalParts) {
    struct Case {
        const char* what;
        const char* title;
        const char* artist;
        bool intro;
        bool released;
        const char* tail;
    } cases[] = {
        {"intro account, no artist", "Song", "", true, false, "&version=5.0&song_name=Song&conf=melodex&"},
        {"no title", "", "Band", false, false, "&version=5.0&artist_name=Band&"},
        {"nothing shown", "", "", false, false, "&version=5.0&"},
        {"job already released", "Song", "Band", true, true, "&version=5.0&conf=melodex&"},
    };
    for (const Case& c : cases) {
        SetShown(song_.tags, c.title, c.artist);
        prefs_.introAccount = c.intro;
        released_ = c.released;
        const std::string url = Query(EIdQuery::Digest);
        const std::string tail = c.tail;
        ASSERT_GE(url.size(), tail.size()) << c.what;
        EXPECT_EQ(url.substr(url.size() - tail.size()), tail) << c.what << ": " << url;
    }
}

TEST_F(IdQueryTest, AccountAndFileNameGoInAsTheyAre) {
    CopyBounded(prefs_.userName, sizeof prefs_.userName, "a&b=c");
    song_.fileRef.path = "/music/dir\\Caf\xE9 #1.mp3";
    const std::string url = Query(EIdQuery::Digest);
    EXPECT_NE(url.find("?&u=a&b=c&p=secret&"), std::string::npos) << url;
    EXPECT_NE(url.find("&filename=Caf\xE9%20%231.mp3&"), std::string::npos) << url;
}

TEST_F(IdQueryTest, LongTokenIsCutAtTheLimit) {
    const std::string token(12000, 'A');
    const std::string url = Query(EIdQuery::Fingerprint, token.c_str());
    ASSERT_EQ(url.size(), kMaxIdQueryLength);
    EXPECT_EQ(url.back(), 'A');
}

}  // namespace
