// The front end's framework (help, usage errors, exit status, JSON
// escaping) and the commands over a file's audio.
#include <gtest/gtest.h>

#include "audio/file_digest.h"
#include "audio/mpeg_info.h"
#include "cli/cli_runner.h"
#include "foundation/files.h"

namespace {

TEST(CliHelp, ListsEveryCommandAndEachCommandDescribesItsOptions) {
    CCliSandbox box;
    const CCliResult help = box.RunRaw({"--help"});
    ASSERT_EQ(help.status, 0) << help.err;
    EXPECT_NE(help.out.find("--prefs-dir DIR"), std::string::npos);
    EXPECT_NE(help.out.find("--json"), std::string::npos);
    const struct {
        std::vector<std::string> command;
        const char* synopsis;
    } commands[] = {
        {{"info"}, "info FILE..."},
        {{"tags"}, "tags FILE..."},
        {{"write-tags"}, "[--title T]"},
        {{"frames"}, "frames FILE"},
        {{"delete-frame"}, "delete-frame FILE N"},
        {{"digest"}, "digest FILE"},
        {{"token"}, "token FILE"},
        {{"query"}, "[--fingerprint]"},
        {{"add"}, "add PATH..."},
        {{"identify"}, "[--save]"},
        {{"rename"}, "[--pattern P] [--dry-run]"},
        {{"dupes"}, "dupes PATH..."},
        {{"trash"}, "trash PATH..."},
        {{"playlists"}, "[--library FILE]"},
        {{"import"}, "[--incomplete-only] INDEX"},
        {{"prefs", "show"}, "prefs show"},
        {{"prefs", "set"}, "prefs set KEY VALUE..."},
        {{"cache", "show"}, "cache show"},
        {{"cache", "clear"}, "cache clear"},
        {{"login"}, "login"},
        {{"intro"}, "intro"},
        {{"lyrics"}, "[--save N] FILE"},
        {{"check-update"}, "check-update"},
        {{"download-update"}, "download-update DIR"},
    };
    for (const auto& c : commands) {
        std::string name = c.command[0];
        if (c.command.size() > 1) name += " " + c.command[1];
        EXPECT_NE(help.out.find("\n  " + name), std::string::npos) << name;
        std::vector<std::string> args = c.command;
        args.push_back("--help");
        const CCliResult own = box.RunRaw(args);
        EXPECT_EQ(own.status, 0) << name;
        EXPECT_NE(own.out.find("usage: melodex-cli"), std::string::npos) << name;
        EXPECT_NE(own.out.find(c.synopsis), std::string::npos) << name << ": " << own.out;
    }
    const CCliResult group = box.RunRaw({"prefs", "--help"});
    EXPECT_EQ(group.status, 0);
    EXPECT_NE(group.out.find("prefs set KEY VALUE..."), std::string::npos) << group.out;
}

TEST(CliHelp, UsageErrorsExitWithTwoAndAMessage) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "usage: melodex-cli"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"--bogus", "info", "x.mp3"}, "unknown option --bogus"},
        {{"info"}, "info needs FILE..."},
        {{"digest", "a.mp3", "b.mp3"}, "too many operands for digest"},
        {{"playlists", "--library"}, "--library needs a value"},
        {{"info", "--title", "x", "a.mp3"}, "unknown option --title for info"},
        {{"prefs"}, "prefs needs a subcommand"},
        {{"prefs", "set", "userName"}, "prefs set needs KEY VALUE..."},
        {{"prefs", "set", "noSuchKey", "1"}, "unknown preference 'noSuchKey'"},
        {{"prefs", "set", "useCache", "2"}, "useCache must be a whole number from 0 to 1"},
        {{"prefs", "set", "searchScope", "101"}, "searchScope is a string of 11 digits"},
        {{"prefs", "set", "formZip", "12345678901234567"}, "formZip holds at most 15 bytes"},
        {{"prefs", "set", "userName", "\xe2\x82\xac"}, "outside ISO-8859-1"},
        {{"--json", "--prefs-dir"}, "--prefs-dir needs a folder"},
    };
    for (const auto& c : cases) {
        CCliSandbox box;
        const CCliResult r = box.RunRaw(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << c.message;
        // A rejected setting writes nothing.
        EXPECT_FALSE(FileExists((box.PrefsDir() + "/Melodex.prefs").c_str())) << c.message;
    }
}

TEST(CliInfo, PrintsTheCoreAnalysisOfEachFile) {
    CCliSandbox box;
    const std::vector<std::string> files = {
        box.CopyFixture("short_44k_stereo_cbr128.mp3"), box.CopyFixture("song_8k_mono_75s.mp3"),
        box.Dir().Copy(CorpusFile("mp3/mutagen__silence-44-s.mp3")),       // ID3v2 and ID3v1 tags
        box.Dir().Copy(CorpusFile("mp3/mutagen__silence-44-s-mpeg2.mp3")),
    };
    std::vector<std::string> args = {"info"};
    args.insert(args.end(), files.begin(), files.end());
    const CJson out = box.Json(args);
    ASSERT_EQ(out.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        CMpegInfo info;
        info.Analyse(files[i].c_str());
        const CJson& item = out[i];
        EXPECT_EQ(item["path"].text, files[i]);
        EXPECT_EQ(item["audioStart"].number, info.AudioStart()) << files[i];
        EXPECT_EQ(item["fileLength"].number, info.FileLength());
        EXPECT_EQ(item["id3v1Size"].number, info.Id3v1Size()) << files[i];
        EXPECT_EQ(item["headerWord"].number, info.HeaderWord());
        EXPECT_EQ(item["bitrate"].number, info.Bitrate());
        EXPECT_EQ(item["versionNumber"].number, info.VersionNumber());
        EXPECT_EQ(item["lengthSeconds"].number, info.LengthSeconds());
        EXPECT_EQ(item["sampleRate"].number, info.SampleRate());
        EXPECT_EQ(item.size(), 22u);
    }
    EXPECT_EQ(out[2]["id3v1Size"].number, 128);
    EXPECT_GT(out[2]["audioStart"].number, 0);
    EXPECT_EQ(out[1]["sampleRate"].number, 8000);
}

TEST(CliInfo, BadFilesFailWithAMessageWhileTheOthersAreShown) {
    CCliSandbox box;
    const std::string good = box.CopyFixture("short_22k_mono_cbr32.mp3");
    const std::string notMp3 = box.Dir().Copy(CorpusFile("mp3/mp3agic__notanmp3.mp3"));
    const std::string empty = box.Dir().Write("empty.mp3", "");
    const std::string missing = box.Dir().File("missing.mp3");
    const CJson out = box.Json({"info", missing, good, notMp3, empty, box.Dir().path()}, 1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["path"].text, good);

    const CCliResult text = box.Run({"info", missing, notMp3, box.Dir().path()});
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find(missing + ": No such file or directory"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find(notMp3 + ": not an MP3 file"), std::string::npos) << text.err;
    EXPECT_NE(text.err.find("is a folder"), std::string::npos) << text.err;
}

TEST(CliJson, PathsWithSpecialBytesStayValidJson) {
    CCliSandbox box;
    // Quote, backslash, control characters, UTF-8 and a byte that is not UTF-8.
    const std::string name = "q\"b\\s\tn\nx\x01 \xc3\xa9 \xff.mp3";
    const std::string path = box.Dir().Copy(FixtureFile("short_44k_stereo_cbr128.mp3"), name);
    const CJson out = box.Json({"info", path});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["path"].text,
              box.Dir().path() + "/q\"b\\s\tn\nx\x01 \xc3\xa9 \xef\xbf\xbd.mp3");
}

TEST(CliDigest, MatchesTheCoreDigestAndFailsOnBadInput) {
    CCliSandbox box;
    const std::string file = box.Dir().Copy(CorpusFile("mp3/mutagen__silence-44-s.mp3"));
    char digest[kDigestTextSize];
    int32_t size = 0, seconds = 0, bitrate = 0;
    DigestFile(file.c_str(), digest, &size, &seconds, &bitrate);

    const CJson out = box.Json({"digest", file});
    EXPECT_EQ(out["md5"].text, digest);
    EXPECT_EQ(out["fileSize"].number, size);
    EXPECT_EQ(out["lengthSeconds"].number, seconds);
    EXPECT_EQ(out["bitrate"].number, bitrate);

    EXPECT_TRUE(box.Json({"digest", box.Dir().File("gone.mp3")}, 1).IsNull());
    const CCliResult notMp3 = box.Run({"digest", box.Dir().Copy(CorpusFile("mp3/mp3agic__notanmp3.mp3"))});
    EXPECT_EQ(notMp3.status, 1);
    EXPECT_NE(notMp3.err.find("not an MP3 file"), std::string::npos);
}

}  // namespace
