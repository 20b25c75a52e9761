// Lyrics and updates through the front end against local servers.
#include <gtest/gtest.h>

#include "cli/cli_runner.h"
#include "foundation/files.h"
#include "library/tags.h"
#include "support/fake_http_server.h"

namespace {

std::string BodyOf(const std::string& request) {
    const size_t start = request.find("\r\n\r\n");
    return start == std::string::npos ? "" : request.substr(start + 4, request.find("\r\n", start + 4) - start - 4);
}

TEST(CliLyrics, ShowsTheTextsFoundAndSavesTheChosenOne) {
    CFakeHttpServer serviceA;
    CFakeHttpServer serviceB;
    serviceA.SetHandler([](const std::string& request) {
        const std::string body = BodyOf(request);
        if (body.rfind("act=query&", 0) == 0)
            return CFakeResponse::Plain(200, "<result id=\"1\" title=\"One\"/><result id=\"2\" title=\"Two\"/>");
        return CFakeResponse::Plain(200, body.find("id=1") != std::string::npos ? "first words" : "caf&eacute; words");
    });
    serviceB.Enqueue(CFakeResponse::Plain(404, "none"));
    CCliSandbox box;
    box.SetEnv("MELODEX_LYRICS_A_HOST", serviceA.HostPort(""));
    box.SetEnv("MELODEX_LYRICS_B_HOST", serviceB.HostPort(""));
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    box.Json({"write-tags", song, "--title", "Song", "--artist", "Band"});

    const CJson found = box.Json({"lyrics", song});
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]["title"].text, "One");
    EXPECT_EQ(found[1]["lyrics"].text, "caf\xc3\xa9 words");
    EXPECT_FALSE(HasLyricsFrame(song));

    box.Json({"lyrics", "--save", "2", song});
    EXPECT_TRUE(HasLyricsFrame(song));

    const CCliResult outside = box.Run({"lyrics", "--save", "3", song});
    EXPECT_EQ(outside.status, 1);
    EXPECT_NE(outside.err.find("no result 3"), std::string::npos) << outside.err;
}

TEST(CliLyrics, ServersDownOrNothingToSearchFor) {
    CCliSandbox box;
    box.SetEnv("MELODEX_LYRICS_A_HOST", "127.0.0.1:1");
    box.SetEnv("MELODEX_LYRICS_B_HOST", "127.0.0.1:1");
    const std::string song = box.CopyFixture("short_44k_stereo_cbr128.mp3", "a.mp3");
    const CCliResult untagged = box.Run({"lyrics", song});
    EXPECT_EQ(untagged.status, 1);
    EXPECT_NE(untagged.err.find("no title or artist"), std::string::npos) << untagged.err;

    box.Json({"write-tags", song, "--title", "Song"});
    const CCliResult down = box.Run({"--json", "lyrics", song});
    EXPECT_EQ(down.status, 0);
    EXPECT_NE(down.err.find("No lyrics found."), std::string::npos) << down.err;
    EXPECT_EQ(CJson::Parse(down.out).size(), 0u);
}

std::string VersionDocument(const std::string& version, const std::string& url) {
    return "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>\n"
           "<key>productVersion</key><string>" + version + "</string>\n"
           "<key>productReleaseNotes</key><string>Faster</string>\n"
           "<key>productFileSize</key><string>1,234</string>\n"
           "<key>fileReleaseDateD</key><integer>11</integer>\n"
           "<key>fileReleaseDateM</key><integer>12</integer>\n"
           "<key>fileReleaseDateY</key><integer>2026</integer>\n"
           "<key>productDownloadURL</key><string>" + url + "</string>\n</dict></plist>\n";
}

TEST(CliUpdate, ChecksAndDownloadsTheOfferedVersion) {
    const std::string payload(3000, 'x');  // outlives the server's threads
    CFakeHttpServer server;
    server.SetHandler([&](const std::string& request) {
        if (request.find("GET /version.plist") == 0)
            return CFakeResponse::Plain(200, VersionDocument("9.9", server.Url("/Melodex-9.9.bin")));
        return CFakeResponse::Plain(200, payload);
    });
    CCliSandbox box;
    box.SetEnv("MELODEX_VERSION_URL", server.Url("/version.plist"));
    const CJson check = box.Json({"check-update"});
    EXPECT_EQ(check["state"].number, 3);
    EXPECT_EQ(check["version"].text, "9.9");
    EXPECT_EQ(check["releaseDate"].text, "Friday, December 11, 2026");
    EXPECT_EQ(check["downloadUrl"].text, server.Url("/Melodex-9.9.bin"));
    EXPECT_EQ(check["fileSize"].number, 1234 * 1024);  // "1,234" counts kilobytes
    EXPECT_EQ(check["releaseNotes"].text, "Faster");

    const CJson download = box.Json({"download-update", box.Dir().File("updates")});
    EXPECT_EQ(download["path"].text, box.Dir().File("updates") + "/Melodex-9.9.bin");
    EXPECT_EQ(ReadFileBytes(download["path"].text), payload);
}

TEST(CliUpdate, UpToDateOrServerDown) {
    CFakeHttpServer server;
    server.SetHandler([&](const std::string&) {
        return CFakeResponse::Plain(200, VersionDocument(MELODEX_VERSION, "http://127.0.0.1:1/x"));
    });
    CCliSandbox box;
    box.SetEnv("MELODEX_VERSION_URL", server.Url("/version.plist"));
    EXPECT_EQ(box.Json({"check-update"})["state"].number, 2);
    EXPECT_TRUE(box.Json({"download-update", box.Dir().File("u")})["path"].IsNull());

    box.SetEnv("MELODEX_VERSION_URL", "http://127.0.0.1:1/version.plist");
    const CCliResult down = box.Run({"check-update"});
    EXPECT_EQ(down.status, 1);
    EXPECT_NE(down.err.find("the version document could not be read"), std::string::npos) << down.err;
}

}  // namespace
