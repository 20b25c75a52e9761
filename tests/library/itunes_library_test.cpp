#include "library/itunes_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

const char kHeader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n<dict>\n";
const char kFooter[] = "</dict>\n</plist>\n";

std::string Track(int id, const std::string& location, const char* time = "245000",
                  const char* rate = "44100") {
    std::string t = "<key>" + std::to_string(id) + "</key>\n<dict>\n<key>Track ID</key><integer>" +
                    std::to_string(id) + "</integer>\n";
    if (time != nullptr) t += std::string("<key>Total Time</key><integer>") + time + "</integer>\n";
    if (rate != nullptr) t += std::string("<key>Sample Rate</key><integer>") + rate + "</integer>\n";
    if (!location.empty()) t += "<key>Location</key><string>" + location + "</string>\n";
    return t + "</dict>\n";
}

std::string Items(const std::vector<int>& ids) {
    std::string s = "<key>Playlist Items</key>\n<array>\n";
    for (int id : ids) s += "<dict>\n<key>Track ID</key><integer>" + std::to_string(id) + "</integer>\n</dict>\n";
    return s + "</array>\n";
}

std::string Playlist(const std::string& name, const std::string& extra, const std::vector<int>& ids) {
    return "<dict>\n<key>Name</key><string>" + name + "</string>\n" + extra + Items(ids) + "</dict>\n";
}

std::string Library(const std::string& tracks, const std::string& playlists) {
    return std::string(kHeader) + "<key>Tracks</key>\n<dict>\n" + tracks + "</dict>\n" +
           "<key>Playlists</key>\n<array>\n" + playlists + "</array>\n" + kFooter;
}

std::vector<std::string> Names(const CItunesLibrary& library) {
    std::vector<std::string> names;
    for (const CPlaylist& p : library.Playlists()) names.push_back(p.name);
    return names;
}

}  // namespace

TEST(ItunesLibrary, LocationToPath) {
    struct Case {
        const char* location;
        const char* path;
    } cases[] = {
        {"file://localhost/Users/a/Music/My%20Song.mp3", "/Users/a/Music/My Song.mp3"},
        {"file:///home/a/b%c3%a9.mp3", "/home/a/b\xc3\xa9.mp3"},
        {"file://localhost/a%2", "/a"},          // a cut escape ends the text
        {"file://localhost/a%zz.mp3", "/a%zz.mp3"},  // not hexadecimal: kept
        {"file://localhost/a%00b.mp3", "/a"},
        {"http://localhost/a.mp3", ""},
        {"file%3A//localhost/x.mp3", "/x.mp3"},  // decoding comes before the prefix test
        {"file://server/share/a.mp3", ""},       // another host: no local path
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(LocationToPath(c.location), c.path) << c.location;

    std::string longLocation = "file://localhost/" + std::string(3000, 'x');
    EXPECT_EQ(LocationToPath(longLocation.c_str()).size(), 2047u - 16u);
}

TEST(ItunesLibrary, PlaylistNameConversion) {
    struct Case {
        const char* source;
        const char* shown;
    } cases[] = {
        {"Rock \xE2\x80\x99n\xE2\x80\x99 Roll", "Rock 'n' Roll"},
        {"a\xE2\x80\x9C" "b", "a\x80\x9C" "b"},  // only the E2 is dropped
        {"\xE2", ""},
        {"Tom &amp; Jerry", "Tom &amp; Jerry"},
    };
    for (const Case& c : cases) {
        char out[64];
        ConvertPlaylistName(c.source, out, sizeof out);
        EXPECT_STREQ(out, c.shown);
    }
    char out[64];
    ConvertPlaylistName(std::string(100, 'n').c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(63, 'n'));
}

TEST(ItunesLibrary, PlaylistsWithKindsAndItems) {
    CTempDir dir;
    std::string playlists =
        Playlist("Library", "<key>Master</key><true/>\n", {1, 2, 3}) +
        Playlist("Recent", "<key>Smart Info</key>\n<data>AAAA</data>\n<key>Master</key><true/>\n", {2}) +
        Playlist("Mine \xE2\x80\x99 &amp; yours", "", {3, 1}) +
        "<dict>\n<key>Name</key><string>No items</string>\n</dict>\n" +
        // The fourth node behind the key is not a number: the items end there.
        "<dict>\n<key>Name</key><string>Odd</string>\n<key>Playlist Items</key>\n<array>\n"
        "<dict><key>Track ID</key><integer>7</integer></dict>\n"
        "<dict><key>Track ID</key><true/></dict>\n"
        "<dict><key>Track ID</key><integer>9</integer></dict>\n</array>\n</dict>\n" +
        "<dict>\n<key>Playlist ID</key><integer>1</integer>\n</dict>\n" +
        Playlist("After a nameless one", "", {1});
    std::string path = dir.Write("lib.xml", Library("", playlists));

    CItunesLibrary library;
    library.LoadPlaylists(path);
    EXPECT_EQ(Names(library), (std::vector<std::string>{"Library", "Recent", "Mine ' &amp; yours", "Odd"}));
    const auto& p = library.Playlists();
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].kind, EPlaylistKind::Library);
    EXPECT_EQ(p[1].kind, EPlaylistKind::Smart);
    EXPECT_EQ(p[2].kind, EPlaylistKind::Ordinary);
    EXPECT_EQ(p[0].trackIds, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(p[2].trackIds, (std::vector<int32_t>{3, 1}));
    EXPECT_EQ(p[2].trackCount, 2);
    EXPECT_EQ(p[3].trackIds, (std::vector<int32_t>{7}));

    // Loading again starts afresh.
    library.LoadPlaylists(path);
    EXPECT_EQ(library.Playlists().size(), 4u);
}

TEST(ItunesLibrary, UnreadableLibrariesOfferNoPlaylists) {
    CTempDir dir;
    std::string good = Library("", Playlist("A", "", {1}));
    std::string noDeclaration = good.substr(good.find("<!DOCTYPE"));
    std::string commentInside = good;
    commentInside.insert(commentInside.find("<key>Playlists"), "<!-- note -->\n");
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"no declaration", noDeclaration},
        {"comment inside a dict", commentInside},
        {"empty", ""},
    };
    for (const Case& c : cases) {
        CItunesLibrary library;
        library.LoadPlaylists(c.bytes.empty() ? dir.File("missing.xml") : dir.Write("lib.xml", c.bytes));
        EXPECT_TRUE(library.Playlists().empty()) << c.name;
    }
}

TEST(ItunesLibrary, LibraryFileInTheMusicFolder) {
    CTempDir dir;
    CScopedEnv home("HOME", dir.path().c_str());
    CScopedEnv config("XDG_CONFIG_HOME", dir.File("config").c_str());
    EXPECT_EQ(ItunesLibraryPath(), dir.File("Music/iTunes/iTunes Music Library.xml"));
    dir.Write("Music/iTunes/iTunes Music Library.xml", Library("", Playlist("Found", "", {1})));
    CItunesLibrary library;
    library.LoadPlaylists();
    EXPECT_EQ(Names(library), (std::vector<std::string>{"Found"}));

    CScopedEnv longHome("HOME", ("/" + std::string(1000, 'h')).c_str());
    EXPECT_EQ(ItunesLibraryPath(), "");
}

TEST(ItunesLibrary, CollectTracksTakesExistingFilesWithTimeAndRate) {
    CTempDir dir;
    std::string song = dir.Write("My Song.mp3", "x");
    std::string other = dir.Write("other.mp3", "y");
    std::string base = "file://localhost" + dir.path() + "/";
    std::string tracks = Track(10, base + "My%20Song.mp3", "245999", "44100") +
                         Track(11, base + "gone.mp3") +
                         Track(12, "http://example.invalid/a.mp3") +
                         Track(13, base + "other.mp3", "1000", nullptr) +
                         Track(14, base + "other.mp3", nullptr, "48000") +
                         Track(15, "file://" + dir.path() + "/other.mp3", "0", "0") +
                         Track(16, "");
    // 99 is not in the tracks dict; 10 appears twice.
    std::string path = dir.Write("lib.xml", Library(tracks, Playlist("P", "", {99, 16, 15, 14, 13, 12, 11, 10, 10})));
    CItunesLibrary library;
    library.LoadPlaylists(path);
    ASSERT_EQ(library.Playlists().size(), 1u);

    std::atomic<bool> cancel{false};
    std::atomic<int32_t> collected{0};
    CCollectedTracks out;
    library.CollectTracks(0, cancel, out, &collected);
    EXPECT_EQ(out.ids, (std::vector<int32_t>{15, 10, 10}));
    EXPECT_EQ(out.lengths, (std::vector<int32_t>{0, 245, 245}));
    EXPECT_EQ(out.rates, (std::vector<int32_t>{0, 44100, 44100}));
    ASSERT_EQ(out.items.size(), 3u);
    EXPECT_EQ(out.items[0].path, other);
    EXPECT_EQ(out.items[1].path, song);
    EXPECT_EQ(collected.load(), 3);

    cancel = true;
    CCollectedTracks none;
    library.CollectTracks(0, cancel, none);
    EXPECT_TRUE(none.items.empty());
    cancel = false;
    library.CollectTracks(5, cancel, none);
    EXPECT_TRUE(none.items.empty());
}

TEST(ItunesLibrary, CorpusLibraries) {
    // A comment before the property list wraps the document but closes nothing.
    CItunesLibrary a;
    a.LoadPlaylists(CorpusFile("itunes/Mac-iTunes-Library__iTunes_Music_Library.xml"));
    ASSERT_EQ(a.Playlists().size(), 2u);
    EXPECT_EQ(a.Playlists()[0].kind, EPlaylistKind::Smart);
    EXPECT_EQ(a.Playlists()[1].kind, EPlaylistKind::Ordinary);
    EXPECT_EQ(a.Playlists()[0].trackCount, 17);
    EXPECT_EQ(a.Playlists()[1].trackIds.front(), 1785);
    EXPECT_EQ(a.Playlists()[1].trackIds.back(), 1802);
    // Its tracks live on another machine: nothing is collected.
    std::atomic<bool> cancel{false};
    CCollectedTracks out;
    a.CollectTracks(0, cancel, out);
    EXPECT_TRUE(out.items.empty());

    CItunesLibrary b;
    b.LoadPlaylists(CorpusFile("itunes/itunes-library__25.xml"));
    ASSERT_FALSE(b.Playlists().empty());
    EXPECT_STREQ(b.Playlists()[0].name, "Library");
    EXPECT_EQ(b.Playlists()[0].kind, EPlaylistKind::Library);
    EXPECT_EQ(Names(b), (std::vector<std::string>{"Library", "Music", "Gray"}));

    // The same library moved onto this machine, with two of its files present.
    CTempDir dir;
    std::string xml = ReadFileBytes(CorpusFile("itunes/itunes-library__25.xml"));
    const std::string from = "file://localhost/Users/musicman/Music";
    const std::string to = "file://localhost" + dir.path();
    for (size_t at = xml.find(from); at != std::string::npos; at = xml.find(from, at + to.size()))
        xml.replace(at, from.size(), to);
    const std::string folder = "iTunes/iTunes Media/Music/David Bowie/The Next Day (Deluxe Version)/";
    std::string first = dir.Write(folder + "01 The Next Day.m4a", "a");
    std::string second = dir.Write(folder + "02 Dirty Boys.m4a", "b");
    CItunesLibrary moved;
    moved.LoadPlaylists(dir.Write("lib.xml", xml));
    ASSERT_EQ(moved.Playlists().size(), 3u);
    CCollectedTracks found;
    moved.CollectTracks(0, cancel, found);
    ASSERT_EQ(found.items.size(), 2u);
    EXPECT_EQ(found.items[0].path, first);
    EXPECT_EQ(found.items[1].path, second);
    EXPECT_GT(found.lengths[0], 0);
    EXPECT_EQ(found.rates[0], 44100);
}

TEST(ItunesLibrary, ChooserRowOrder) {
    std::vector<CPlaylist> p(5);
    const char* names[] = {"beta", "Library", "alpha", "Smart", "Gamma"};
    EPlaylistKind kinds[] = {EPlaylistKind::Ordinary, EPlaylistKind::Library, EPlaylistKind::Ordinary,
                             EPlaylistKind::Smart, EPlaylistKind::Ordinary};
    int32_t counts[] = {5, 100, 9, 1, 2};
    for (size_t i = 0; i < p.size(); ++i) {
        snprintf(p[i].name, sizeof p[i].name, "%s", names[i]);
        p[i].kind = kinds[i];
        p[i].trackCount = counts[i];
    }
    EXPECT_EQ(PlaylistRowOrder(p, false), (std::vector<int32_t>{1, 3, 2, 0, 4}));
    EXPECT_EQ(PlaylistRowOrder(p, true), (std::vector<int32_t>{1, 3, 4, 0, 2}));
}
