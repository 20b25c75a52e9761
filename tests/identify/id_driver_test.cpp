#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_run_support.h"
#include "foundation/errors.h"
#include "identify/id_driver.h"

namespace {

constexpr const char* kSearch = "/cgi-bin/search.cgi";

using IdDriverTest = AppRunTest;

std::vector<std::string> SearchedFiles(const CFakeIdService& service) {
    std::vector<std::string> names;
    for (const SIdServiceRequest& request : service.Requests(kSearch)) names.push_back(FileNameOf(request));
    return names;
}

TEST_F(IdDriverTest, FailedQueryPausesThenNextSongAndSecondRunRetries) {
    CSong& a = AddSong("a.mp3");
    CSong& b = AddSong("b.mp3");
    CSong& c = AddSong("c.mp3");
    service.QueueSearch(CFakeResponse::Plain(500, "busy"));
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"B"})));
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"A"})));

    ASSERT_TRUE(app.HandleCommand(Cmd("IDEN")));
    ASSERT_TRUE(app.identifying);
    // Walked from the last row while the sort order is increasing.
    ASSERT_TRUE(TickUntil([&] { return c.idFailed; }));
    const double failedAt = TestClock().Now();
    EXPECT_FALSE(c.identified);
    EXPECT_NE(shell.LastStatus().find("(Error# "), std::string::npos) << shell.LastStatus();
    ASSERT_TRUE(TickUntil([&] { return b.idJob != nullptr || b.idRequest != nullptr; }));
    const double waited = TestClock().Now() - failedAt;
    EXPECT_GE(waited, 1.0);
    EXPECT_LE(waited, 2.05);

    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(SearchedFiles(service), (std::vector<std::string>{"c.mp3", "b.mp3", "a.mp3"}));
    EXPECT_TRUE(a.identified && b.identified);
    EXPECT_EQ(std::string(b.matches[0].album), "B");
    EXPECT_EQ(b.currentMatch, 0);
    EXPECT_TRUE(c.idFailed);

    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"C"})));
    app.HandleCommand(Cmd("IDEN"));
    EXPECT_FALSE(c.idFailed);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(service.Count(kSearch), 4u);  // identified songs are not asked again
    EXPECT_TRUE(c.identified);
    EXPECT_EQ(std::string(c.matches[0].album), "C");
    EXPECT_EQ(shell.controls.idenTitle, "ID All");
}

TEST_F(IdDriverTest, BatchFollowsSelectionAndSortOrder) {
    CSong& a = AddSong("a.mp3");
    AddSong("b.mp3");
    CSong& c = AddSong("c.mp3");
    app.sortDescending = true;
    app.sortColumn = ESongColumn::Status;
    app.SetSelection({&a, &c});
    app.HandleCommand(Cmd("IDEN"));
    EXPECT_EQ(app.sortColumn, ESongColumn::None);
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(SearchedFiles(service), (std::vector<std::string>{"a.mp3", "a.mp3", "c.mp3", "c.mp3"}));
}

TEST_F(IdDriverTest, DigestMissIsFollowedByTheFingerprintPass) {
    CSong& song = AddSong("song.mp3");
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::NoMatch()));
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"F1", "F2"})));
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(RunToEnd());

    const auto searches = service.Requests(kSearch);
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[0].keys.at("mode"), "1");
    EXPECT_EQ(searches[0].keys.at("song_name"), "song.mp3");
    EXPECT_EQ(searches[1].keys.at("mode"), "2");
    EXPECT_EQ(searches[1].keys.at("t"), "TOKEN123");
    EXPECT_TRUE(song.identified);
    EXPECT_EQ(song.idPass, 1);
    EXPECT_EQ(song.matches.Count(), 2);
    const auto entries = app.cache->Entries();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_EQ(entries[0].matches.size(), 2u);
    EXPECT_EQ(std::string(entries[0].matches[0].album), "F1");
}

TEST_F(IdDriverTest, MethodsAndEmptyToken) {
    struct Case {
        const char* what;
        uint8_t fallback, always;
        bool emptyToken;
        std::vector<std::string> modes;  // of the searches sent
    } cases[] = {
        {"digest only", 0, 0, false, {"1"}},
        {"always fingerprint", 1, 1, false, {"2"}},
        {"fingerprint pass without token", 1, 0, true, {"1"}},
        {"always fingerprint without token", 1, 1, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTempDir caseDir;
        CRecordingShell caseShell;
        CApp caseApp{caseShell, {caseDir.File("p"), caseDir.File("c")}};
        caseApp.idAnalysis = app.idAnalysis;
        caseApp.prefs = app.prefs;
        caseApp.prefs.fingerprintFallback = c.fallback;
        caseApp.prefs.fingerprintAlways = c.always;
        tokenEmpty = c.emptyToken;
        auto song = std::make_unique<CSong>();
        song->fileRef = MakeFileRef(caseDir.Write("x.mp3", "bytes").c_str());
        CSong& s = caseApp.songs.Append(std::move(song));
        const size_t before = service.Count(kSearch);
        caseApp.HandleCommand(Cmd("IDEN"));
        for (int i = 0; i < 5000 && caseApp.identifying; ++i) {
            TestClock().Advance(0.1);
            caseApp.Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_FALSE(caseApp.identifying);
        std::vector<std::string> modes;
        const auto searches = service.Requests(kSearch);
        for (size_t i = before; i < searches.size(); ++i) modes.push_back(searches[i].keys.at("mode"));
        EXPECT_EQ(modes, c.modes);
        EXPECT_TRUE(s.identified);
        EXPECT_EQ(s.matches.Count(), 0);
    }
}

TEST_F(IdDriverTest, CacheAnswersTheSecondRunWithoutARequest) {
    CSong& song = AddSong("cached.mp3");
    app.prefs.introAccount = 1;
    app.prefs.identificationsLeft = 25;
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"Album"})));
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(RunToEnd());
    ASSERT_EQ(service.Count(kSearch), 1u);
    EXPECT_EQ(service.Requests(kSearch)[0].keys.count("conf"), 1u);
    EXPECT_EQ(app.prefs.identificationsLeft, 24);

    song.ClearIdentification();
    song.matches.Clear();
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(service.Count(kSearch), 1u);
    EXPECT_TRUE(song.identified);
    ASSERT_EQ(song.matches.Count(), 1);
    EXPECT_EQ(std::string(song.matches[0].album), "Album");
    EXPECT_EQ(song.currentMatch, 0);
    EXPECT_EQ(app.prefs.identificationsLeft, 24);  // a cache answer costs nothing
}

TEST_F(IdDriverTest, IntroductoryCountDropsOnlyForSongsWithMatches) {
    app.prefs.introAccount = 1;
    app.prefs.identificationsLeft = 1;
    app.prefs.fingerprintFallback = 0;
    AddSong("a.mp3");
    AddSong("b.mp3");
    AddSong("c.mp3");
    app.sortDescending = true;
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::NoMatch()));
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"B"})));
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"C"})));
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(service.Count(kSearch), 3u);
    EXPECT_EQ(app.prefs.identificationsLeft, 0);  // never below 0
}

TEST_F(IdDriverTest, ChunkedZeroAnswerStoresThePresentMatches) {
    struct Case {
        const char* what;
        uint8_t fallback;
        size_t searches;
    } cases[] = {{"digest only", 0, 1}, {"with fingerprint pass", 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app.prefs.fingerprintFallback = c.fallback;
        app.prefs.saveToCache = 0;  // the "0" answer is stored all the same
        CSong& song = AddSong(std::string(c.what) + ".mp3");
        app.SetSelection({&song});
        service.QueueSearch(CFakeResponse::Chunked({"0"}));
        const size_t before = service.Count(kSearch);
        app.HandleCommand(Cmd("IDEN"));
        ASSERT_TRUE(RunToEnd());
        EXPECT_EQ(service.Count(kSearch) - before, c.searches);
        EXPECT_TRUE(song.identified);
        EXPECT_EQ(song.matches.Count(), 0);
        bool stored = false;
        for (const CIdCacheEntry& entry : app.cache->Entries())
            stored |= entry.path == song.fileRef.path && entry.matches.empty();
        EXPECT_TRUE(stored);
    }
}

TEST_F(IdDriverTest, QuotaRefusalStopsTheRunAndOpensThePreferences) {
    CSong& song = AddSong("a.mp3");
    AddSong("b.mp3");
    service.QueueSearch(CFakeResponse::Plain(200, "<html>ERROR 602: Exceeded quota</html>"));
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(service.Count(kSearch), 1u);
    EXPECT_EQ(app.prefs.identificationsLeft, 0);
    EXPECT_EQ(shell.preferencesOpened, 1);
    CSong& asked = song.idFailed || song.identified ? song : *app.songs.At(1);
    EXPECT_FALSE(asked.identified || asked.idFailed);
    EXPECT_EQ(asked.idJob, nullptr);
    EXPECT_EQ(asked.idRequest, nullptr);
    EXPECT_FALSE(shell.controls.idenEnabled);
}

TEST_F(IdDriverTest, StoppingMidQueryLeavesTheSongWaiting) {
    CSong& song = AddSong("a.mp3");
    song.matches.Append(EmptyTagValues());
    song.currentMatch = 0;
    service.QueueSearch(CFakeResponse::Silent());
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(TickUntil([&] { return service.Count(kSearch) == 1 && song.idRequest != nullptr; }));
    ASSERT_TRUE(TickUntil([&] { return shell.LastStatus() == "Matching song..."; }));
    EXPECT_EQ(app.currentIdSong, &song);

    app.HandleCommand(Cmd("IDES"));
    EXPECT_FALSE(app.identifying);
    app.Tick();
    EXPECT_EQ(song.idRequest, nullptr);
    EXPECT_EQ(song.idJob, nullptr);
    EXPECT_FALSE(song.identified || song.idFailed);
    EXPECT_EQ(song.matches.Count(), 1);
    EXPECT_EQ(shell.controls.idenTitle, "ID All");
}

TEST_F(IdDriverTest, AnalysingTextFollowsThePass) {
    struct Case {
        const char* what;
        uint8_t always;
        const char* text;
    } cases[] = {{"digest pass", 0, "Analyzing song..."}, {"fingerprint pass", 1, "Fingerprinting song..."}};
    app.prefs.useCache = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app.prefs.fingerprintAlways = c.always;
        CSong& song = AddSong(std::string(c.what) + ".mp3");
        app.SetSelection({&song});
        holdDigest = true;
        app.HandleCommand(Cmd("IDEN"));
        ASSERT_TRUE(TickUntil([&] { return shell.LastStatus() == c.text; }));
        EXPECT_EQ(app.currentIdSong, &song);
        holdDigest = false;
        ASSERT_TRUE(RunToEnd());
        EXPECT_TRUE(song.identified);
    }
}

TEST_F(IdDriverTest, FailuresInsideTheRunMarkTheSongFailed) {
    struct Case {
        const char* what;
        int32_t workerError;
        std::string answer;
        int32_t shownError;
    } cases[] = {
        {"worker runs out of memory", eOutOfMemory, "", eOutOfMemory},
        {"answer is no XML document", 0, "Internal Server Error", eInvalidData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSong& song = AddSong(std::string(c.what) + ".mp3");
        app.SetSelection({&song});
        digestError = c.workerError;
        service.QueueSearch(CFakeResponse::Plain(200, c.answer));
        app.HandleCommand(Cmd("IDEN"));
        ASSERT_TRUE(TickUntil([&] { return song.idFailed; }));
        EXPECT_EQ(shell.LastStatus(), ErrorMessage(c.shownError));
        EXPECT_FALSE(song.identified);
        ASSERT_TRUE(RunToEnd());
        digestError = 0;
    }
}

TEST_F(IdDriverTest, DigestQueryDescribesTheRealFile) {
    app.idAnalysis = DefaultIdAnalysis();
    app.prefs.fingerprintFallback = 0;
    auto owned = std::make_unique<CSong>();
    owned->fileRef = MakeFileRef(dir.Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "my song.mp3").c_str());
    CopyBounded(owned->tags.artist, sizeof owned->tags.artist, "Some & Other");
    CSong& song = app.songs.Append(std::move(owned));
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(RunToEnd());
    const auto searches = service.Requests(kSearch);
    ASSERT_EQ(searches.size(), 1u);
    const auto& keys = searches[0].keys;
    EXPECT_EQ(keys.at("filename"), "my%20song.mp3");
    EXPECT_EQ(keys.at("artist_name"), "Some%20%26%20Other");
    EXPECT_EQ(keys.count("song_name"), 0u);
    EXPECT_EQ(keys.at("file_size"), std::to_string(std::filesystem::file_size(song.fileRef.path)));
    EXPECT_EQ(keys.at("bitrate"), "128");
    EXPECT_EQ(keys.at("md5").size(), 32u);
    EXPECT_NE(keys.at("md5"), std::string(32, '0'));
    EXPECT_EQ(keys.at("u"), "user");
    EXPECT_EQ(keys.at("p"), "secret");
    EXPECT_EQ(keys.at("version"), "5.0");
}

TEST_F(IdDriverTest, FingerprintQueryCarriesTheRealToken) {
    app.idAnalysis = DefaultIdAnalysis();
    app.prefs.fingerprintAlways = 1;
    auto owned = std::make_unique<CSong>();
    owned->fileRef = MakeFileRef(dir.Copy(FixtureFile("song_8k_mono_75s.mp3")).c_str());
    CSong& song = app.songs.Append(std::move(owned));
    app.HandleCommand(Cmd("IDEN"));
    ASSERT_TRUE(TickUntil([this] { return !app.identifying; }, 60000));
    const auto searches = service.Requests(kSearch);
    ASSERT_EQ(searches.size(), 1u);
    EXPECT_EQ(searches[0].keys.at("mode"), "2");
    EXPECT_GT(searches[0].keys.at("t").size(), 32u);
    EXPECT_TRUE(song.identified);
}

}  // namespace
