// Tags, the fingerprint token and the query URL through the front end.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <vector>

#include "audio/file_digest.h"
#include "audio/token.h"
#include "cli/cli_runner.h"
#include "library/tags.h"

namespace {

TEST(CliTags, ReadsTheMergedTagsOfEachFile) {
    CCliSandbox box;
    const std::string tagged = box.Dir().Copy(CorpusFile("mp3/mutagen__silence-44-s.mp3"));
    const std::string v1Only = box.Dir().Copy(CorpusFile("mp3/mp3agic__v1tag.mp3"));
    const CJson out = box.Json({"tags", tagged, v1Only, box.Dir().File("missing.mp3")}, 1);
    ASSERT_EQ(out.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const CFileTags tags = ReadTags(i == 0 ? tagged : v1Only);
        EXPECT_EQ(out[i]["title"].text, tags.values.title);
        EXPECT_EQ(out[i]["artist"].text, tags.values.artist);
        EXPECT_EQ(out[i]["track"].number, tags.values.track);
        EXPECT_EQ(out[i]["marked"].boolean, tags.marked);
        EXPECT_EQ(out[i].size(), 12u);
    }
    EXPECT_EQ(out[0]["title"].text, "Silence");
}

TEST(CliWriteTags, ChangesOnlyTheGivenValuesAndKeepsTheMarkerUnlessTold) {
    CCliSandbox box;
    const std::string file = box.Dir().Copy(CorpusFile("mp3/mutagen__silence-44-s.mp3"));
    const CFileTags before = ReadTags(file);

    const CJson written = box.Json({"write-tags", file, "--title", "Caf\xc3\xa9", "--track", "7", "--marker"});
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0]["title"].text, "Caf\xc3\xa9");
    EXPECT_TRUE(written[0]["marked"].boolean);
    CFileTags after = ReadTags(file);
    EXPECT_STREQ(after.values.title, "Caf\xe9");  // ISO-8859-1 in the file
    EXPECT_STREQ(after.values.artist, before.values.artist);
    EXPECT_EQ(after.values.track, 7);
    EXPECT_TRUE(after.marked);

    // No marker option: the marker stays as read.
    box.Json({"write-tags", file, "--album", "Other"});
    after = ReadTags(file);
    EXPECT_TRUE(after.marked);
    EXPECT_STREQ(after.values.album, "Other");
    EXPECT_STREQ(after.values.title, "Caf\xe9");

    box.Json({"write-tags", "--no-marker", file});
    EXPECT_FALSE(ReadTags(file).marked);
}

TEST(CliWriteTags, RefusedInputLeavesTheFileAsItWas) {
    CCliSandbox box;
    const std::string file = box.CopyFixture("short_44k_stereo_cbr128.mp3");
    const std::string original = ReadFileBytes(file);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"--year", "12345"}, 2, "--year holds at most 4 characters"},
        {{"--track", "x"}, 2, "--track must be a whole number"},
        {{"--disc", "-1"}, 2, "--disc must be a whole number"},
        {{"--title", "\xe2\x82\xac"}, 2, "outside ISO-8859-1"},
        {{"--marker", "--no-marker"}, 2, "exclude each other"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"write-tags", file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CCliResult r = box.Run(args);
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadFileBytes(file), original);

    const std::string notMp3 = box.Dir().Copy(CorpusFile("mp3/mp3agic__notanmp3.mp3"));
    const CCliResult refused = box.Run({"write-tags", notMp3, "--title", "x"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("not an MP3 file"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFileBytes(notMp3), ReadFileBytes(CorpusFile("mp3/mp3agic__notanmp3.mp3")));

    ::chmod(file.c_str(), 0444);
    const CCliResult locked = box.Run({"write-tags", file, "--title", "x"});
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("the tags could not be written"), std::string::npos) << locked.err;
    EXPECT_EQ(ReadFileBytes(file), original);
}

TEST(CliToken, MatchesTheCoreTokenAndRefusesShortSongs) {
    CCliSandbox box;
    const std::string song = box.CopyFixture("song_8k_mono_75s.mp3");
    std::vector<char> token(kTokenCapacity);
    BuildToken(song.c_str(), token.data(), token.size());
    ASSERT_NE(token[0], '\0');
    EXPECT_EQ(box.Json({"token", song})["token"].text, token.data());

    const CCliResult shortSong = box.Run({"token", box.CopyFixture("short_22k_mono_cbr32.mp3")});
    EXPECT_EQ(shortSong.status, 1);
    EXPECT_NE(shortSong.err.find("no fingerprint token"), std::string::npos) << shortSong.err;
}

TEST(CliQuery, DescribesTheSongWithTheStoredAccount) {
    CCliSandbox box;
    const std::string song = box.CopyFixture("song_8k_mono_75s.mp3", "my song.mp3");
    box.Json({"prefs", "set", "userName", "ann", "password", "pw"});
    box.Json({"write-tags", song, "--title", "Caf\xc3\xa9", "--artist", "Bo"});
    char digest[kDigestTextSize];
    int32_t size = 0, seconds = 0, bitrate = 0;
    DigestFile(song.c_str(), digest, &size, &seconds, &bitrate);

    // Bytes above 127 go out as they are; the result shows them as ISO-8859-1.
    const std::string url = box.Json({"query", song})["url"].text;
    for (const std::string& part :
         {std::string("/cgi-bin/search.cgi?"), std::string("u=ann&p=pw"), std::string("mode=1"),
          "md5=" + std::string(digest), "file_size=" + std::to_string(size), std::string("song_name=Caf\xc3\xa9"),
          std::string("artist_name=Bo")})
        EXPECT_NE(url.find(part), std::string::npos) << part << " in " << url;

    const std::string acoustic = box.Json({"query", "--fingerprint", song})["url"].text;
    EXPECT_NE(acoustic.find("mode=2"), std::string::npos) << acoustic;
    EXPECT_NE(acoustic.find("t=" + box.Json({"token", song})["token"].text), std::string::npos) << acoustic;

    EXPECT_EQ(box.Run({"query", box.Dir().File("gone.mp3")}).status, 1);
}

}  // namespace
