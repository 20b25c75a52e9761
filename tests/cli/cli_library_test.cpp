// The iTunes library and adding songs through the front end.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "cli/cli_runner.h"
#include "library/itunes_library.h"

namespace {

TEST(CliPlaylists, ListsThePlaylistsInFileOrderFromTheMusicFolderOrAGivenFile) {
    CCliSandbox box;
    const std::string source = CorpusFile("itunes/Mac-iTunes-Library__iTunes_Music_Library.xml");
    CItunesLibrary library;
    library.LoadPlaylists(source);
    ASSERT_FALSE(library.Playlists().empty());

    std::filesystem::create_directories(box.Home() + "/Music/iTunes");
    std::filesystem::copy_file(source, box.Home() + "/Music/iTunes/iTunes Music Library.xml");
    const CJson fromMusic = box.Json({"playlists"});
    const CJson given = box.Json({"playlists", "--library", CorpusFile("itunes/itunes-library__25.xml")});
    EXPECT_GT(given.size(), 0u);
    ASSERT_EQ(fromMusic.size(), library.Playlists().size());
    for (size_t i = 0; i < fromMusic.size(); ++i) {
        const CPlaylist& playlist = library.Playlists()[i];
        EXPECT_EQ(fromMusic[i]["name"].text, playlist.name);
        EXPECT_EQ(fromMusic[i]["trackCount"].number, playlist.trackCount);
        const char* kind = playlist.kind == EPlaylistKind::Library ? "library"
                           : playlist.kind == EPlaylistKind::Smart ? "smart"
                                                                   : "ordinary";
        EXPECT_EQ(fromMusic[i]["kind"].text, kind);
    }
}

TEST(CliPlaylists, AMissingOrForeignLibraryFails) {
    CCliSandbox box;
    const CCliResult missing = box.Run({"playlists"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("iTunes Music Library.xml: No such file or directory"), std::string::npos)
        << missing.err;
    const CCliResult foreign = box.Run({"playlists", "--library", FixtureFile("short_22k_mono_cbr32.mp3")});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.err.find("no playlists found"), std::string::npos) << foreign.err;
}

}  // namespace
