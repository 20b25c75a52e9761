// Adding, importing, identifying, duplicates and the Trash through the
// front end.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "foundation/files.h"
#include "library/tags.h"
#include "support/fake_id_service.h"

namespace {

TEST(CliAdd, AddsFoldersAndFilesAndReportsWhatItCannotAdd) {
    CCliSandbox box;
    ::mkdir(box.Dir().File("music").c_str(), 0700);
    box.Dir().Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "music/a.mp3");
    box.Dir().Copy(FixtureFile("short_22k_mono_cbr32.mp3"), "music/b.mp3");
    box.Dir().Write("music/notes.txt", "not a song");
    const std::string single = box.CopyFixture("song_8k_mono_75s.mp3", "single.mp3");
    const std::string text = box.Dir().Write("readme.txt", "x");

    const CCliResult r = box.Run({"--json", "add", box.Dir().File("music"), single, box.Dir().File("gone.mp3"), text});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("gone.mp3: No such file or directory"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("readme.txt: not an MP3 file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Added 3 songs of 3"), std::string::npos) << r.err;
    const CJson songs = CJson::Parse(r.out);
    ASSERT_EQ(songs.size(), 3u);
    std::map<std::string, const CJson*> byName;
    for (const CJson& song : songs.items) byName[std::filesystem::path(song["path"].text).filename()] = &song;
    ASSERT_EQ(byName.count("single.mp3"), 1u);
    EXPECT_EQ((*byName["single.mp3"])["lengthSeconds"].number, 75);
    EXPECT_EQ((*byName["single.mp3"])["sampleRate"].number, 8000);
    EXPECT_EQ((*byName["a.mp3"])["sampleRate"].number, 44100);
    EXPECT_EQ((*byName["a.mp3"])["iTunesDatabaseId"].number, -1);
    EXPECT_TRUE((*byName["b.mp3"]).Has("title"));
}

std::string FileUrl(const std::string& path) {
    std::string url = "file://localhost";
    for (char c : path) url += c == ' ' ? std::string("%20") : std::string(1, c);
    return url;
}

TEST(CliImport, AddsTheTracksOfAPlaylistWithTheirIds) {
    CCliSandbox box;
    const std::string one = box.CopyFixture("short_44k_stereo_cbr128.mp3", "one song.mp3");
    const std::string two = box.CopyFixture("short_22k_mono_cbr32.mp3", "two.mp3");
    const std::string track = R"(<key>%ID%</key><dict><key>Track ID</key><integer>%ID%</integer>
<key>Total Time</key><integer>3000</integer><key>Sample Rate</key><integer>44100</integer>
<key>Location</key><string>%URL%</string></dict>
)";
    auto Track = [&](const std::string& id, const std::string& path) {
        std::string text = track;
        for (size_t at; (at = text.find("%ID%")) != std::string::npos;) text.replace(at, 4, id);
        text.replace(text.find("%URL%"), 5, FileUrl(path));
        return text;
    };
    const std::string library = box.Dir().Write(
        "Library.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n<key>Tracks</key>\n<dict>\n" +
            Track("11", one) + Track("12", two) + Track("13", box.Dir().File("missing.mp3")) +
            "</dict>\n<key>Playlists</key>\n<array>\n"
            "<dict><key>Name</key><string>Library</string><key>Master</key><true/>"
            "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>11</integer></dict>"
            "<dict><key>Track ID</key><integer>12</integer></dict></array></dict>\n"
            "<dict><key>Name</key><string>Mix</string><key>Playlist Items</key><array>"
            "<dict><key>Track ID</key><integer>12</integer></dict>"
            "<dict><key>Track ID</key><integer>13</integer></dict></array></dict>\n"
            "</array>\n</dict>\n</plist>\n");

    const CJson playlists = box.Json({"playlists", "--library", library});
    ASSERT_EQ(playlists.size(), 2u);
    EXPECT_EQ(playlists[1]["name"].text, "Mix");

    const CJson mix = box.Json({"import", "--library", library, "1"});
    ASSERT_EQ(mix.size(), 1u);
    EXPECT_EQ(mix[0]["path"].text, two);
    EXPECT_EQ(mix[0]["iTunesDatabaseId"].number, 12);

    const CCliResult outside = box.Run({"import", "--library", library, "2"});
    EXPECT_EQ(outside.status, 2);
    EXPECT_NE(outside.err.find("no playlist 2: the library has 2"), std::string::npos) << outside.err;
    EXPECT_EQ(box.Run({"import", "--library", box.Dir().File("none.xml"), "0"}).status, 1);
}

TEST(CliDupes, GroupsCopiesLeaderFirst) {
    CCliSandbox box;
    ::mkdir(box.Dir().File("a").c_str(), 0700);
    ::mkdir(box.Dir().File("b").c_str(), 0700);
    const std::string first = box.Dir().Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "a/x.mp3");
    const std::string copy = box.Dir().Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), "b/y.mp3");
    const std::string other = box.Dir().Copy(FixtureFile("short_22k_mono_cbr32.mp3"), "a/z.mp3");
    const CJson groups = box.Json({"dupes", first, other, copy});
    ASSERT_EQ(groups.size(), 1u);
    ASSERT_EQ(groups[0].size(), 2u);
    EXPECT_EQ(groups[0][0].text, first);
    EXPECT_EQ(groups[0][1].text, copy);
    EXPECT_EQ(box.Json({"dupes", first, other}).size(), 0u);
}

TEST(CliTrash, MovesFilesIntoTheTrashWithoutReplacingAnything) {
    CCliSandbox box;
    const std::string trash = box.Home() + "/.local/share/Trash/files/";
    const std::string file = box.CopyFixture("short_22k_mono_cbr32.mp3", "song.mp3");
    const CJson first = box.Json({"trash", file});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0]["trashedTo"].text, trash + "song.mp3");
    EXPECT_FALSE(FileExists(file.c_str()));

    box.CopyFixture("short_44k_stereo_cbr128.mp3", "song.mp3");
    const CJson second = box.Json({"trash", file, box.Dir().File("gone.mp3")}, 1);
    ASSERT_EQ(second.size(), 1u);
    const std::string secondPlace = second[0]["trashedTo"].text;
    EXPECT_NE(secondPlace, trash + "song.mp3");
    EXPECT_EQ(ReadFileBytes(secondPlace), ReadFileBytes(FixtureFile("short_44k_stereo_cbr128.mp3")));
    EXPECT_EQ(ReadFileBytes(trash + "song.mp3"), ReadFileBytes(FixtureFile("short_22k_mono_cbr32.mp3")));
}

class CliIdentify : public ::testing::Test {
protected:
    void SetUp() override {
        box.SetEnv("MELODEX_ID_HOST", service.Host());
        // Digest only, so that the short fixtures need no fingerprint pass.
        box.Json({"prefs", "set", "userName", "ann", "password", "pw", "identificationsLeft", "10",
                  "fingerprintFallback", "0", "fingerprintAlways", "0", "requestRetries", "0"});
    }

    CFakeIdService service;
    CCliSandbox box;
};

TEST_F(CliIdentify, MatchesComeFromTheServiceAndThenFromTheCache) {
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"First", "Second"})));
    const CCliResult r = box.Run({"--json", "identify", song});
    ASSERT_EQ(r.status, 0) << r.err;
    const CJson out = CJson::Parse(r.out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0]["identified"].boolean);
    EXPECT_FALSE(out[0]["failed"].boolean);
    EXPECT_TRUE(out[0]["error"].IsNull());
    EXPECT_EQ(out[0]["status"].number, 0);
    EXPECT_EQ(out[0]["currentMatch"].number, 0);
    ASSERT_EQ(out[0]["matches"].size(), 2u);
    EXPECT_EQ(out[0]["matches"][1]["album"].text, "Second");
    EXPECT_EQ(out[0]["matches"][0]["title"].text, "Title of First");
    EXPECT_EQ(service.Count("/cgi-bin/search.cgi"), 1u);

    // The answer was cached: the next run asks nobody.
    const CJson again = box.Json({"identify", song});
    EXPECT_EQ(again[0]["matches"].size(), 2u);
    EXPECT_EQ(service.Count("/cgi-bin/search.cgi"), 1u);
    EXPECT_EQ(box.Json({"cache", "show"}).size(), 1u);
}

TEST_F(CliIdentify, AServerFailureMarksTheSongFailedWithItsMessage) {
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    service.QueueSearch(CFakeResponse::Plain(500, "down"));
    const CJson out = box.Json({"identify", song}, 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0]["failed"].boolean);
    EXPECT_EQ(out[0]["status"].number, 3);
    EXPECT_FALSE(out[0]["error"].IsNull());
    EXPECT_NE(out[0]["error"].text.find("Error#"), std::string::npos) << out[0]["error"].text;

    box.SetEnv("MELODEX_ID_HOST", "127.0.0.1:1");  // nothing listens there
    const CCliResult unreachable = box.Run({"identify", song});
    EXPECT_EQ(unreachable.status, 1);
    EXPECT_NE(unreachable.err.find("identification failed"), std::string::npos) << unreachable.err;
}

TEST_F(CliIdentify, SaveWritesTheChosenMatchIntoTheFile) {
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    service.QueueSearch(CFakeResponse::Plain(200, CFakeIdService::Answer({"Saved Album"})));
    const CJson out = box.Json({"identify", "--save", song});
    ASSERT_EQ(out.size(), 1u);
    const CFileTags tags = ReadTags(song);
    EXPECT_STREQ(tags.values.album, "Saved Album");
    EXPECT_STREQ(tags.values.title, "Title of Saved Album");
    EXPECT_TRUE(tags.marked);
}

TEST_F(CliIdentify, RefusesWithoutAUsableAccount) {
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    const struct {
        const char* left;
        const char* message;
    } cases[] = {{"0", "no identifications are left"}, {"-1", "run 'login' first"}};
    for (const auto& c : cases) {
        box.Json({"prefs", "set", "identificationsLeft", c.left});
        const CCliResult r = box.Run({"identify", song});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(service.Count("/cgi-bin/search.cgi"), 0u);
}

}  // namespace
