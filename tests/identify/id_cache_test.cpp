// The identification cache: its file byte for byte, partial loads, lookups,
// replacement, deletion and concurrent use.

#include "identify/id_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/text.h"
#include "library/song.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

CTagValues Match(const char* title, const char* album, int32_t track = 0) {
    CTagValues m = EmptyTagValues();
    CopyBounded(m.title, sizeof m.title, title);
    CopyBounded(m.album, sizeof m.album, album);
    CopyBounded(m.artist, sizeof m.artist, "Artist");
    CopyBounded(m.genre, sizeof m.genre, "Rock");
    CopyBounded(m.comment, sizeof m.comment, "c");
    CopyBounded(m.year, sizeof m.year, "1999");
    CopyBounded(m.copyright, sizeof m.copyright, "Label");
    CopyBounded(m.url, sizeof m.url, "http://u");
    m.track = track;
    m.disc = 1;
    return m;
}

// Builds expected file contents a field at a time.
class CBytes {
public:
    CBytes& Int(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<char>(v >> shift));
        return *this;
    }
    CBytes& Str(const std::string& s) {
        bytes_ += s;
        bytes_.push_back('\0');
        return *this;
    }
    CBytes& Entry(const std::string& path, uint32_t size, const std::vector<CTagValues>& matches) {
        Str(path).Int(size).Int(static_cast<uint32_t>(matches.size()));
        for (const CTagValues& m : matches) {
            Str(m.title).Str(m.album).Str(m.artist).Str(m.genre).Str(m.comment);
            Str(m.year).Str(m.copyright).Str(m.url).Int(m.track).Int(m.disc);
        }
        return *this;
    }
    const std::string& str() const { return bytes_; }

private:
    std::string bytes_;
};

ino_t Inode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_ino;
}

class IdCacheTest : public ::testing::Test {
protected:
    std::string Song(const std::string& name, size_t size) { return dir_.Write(name, std::string(size, 'x')); }
    std::string CacheFile() const { return dir_.File("Melodex.cache"); }

    CTempDir dir_;
};

TEST_F(IdCacheTest, FirstStoreWritesFileThenAppendsInPlace) {
    const std::string a = Song("a.mp3", 100);
    const std::string b = Song("b.mp3", 200);
    CIdCache cache(CacheFile());
    cache.LoadCache();
    EXPECT_EQ(cache.EntryCount(), 0);
    EXPECT_EQ(cache.CacheFileSize(), 0);

    const std::vector<CTagValues> first = {Match("One", "Album", 3), Match("Two", "Other")};
    cache.Store(a, first);
    const std::string afterFirst = CBytes().Int(1).Entry(a, 100, first).str();
    ASSERT_EQ(ReadFileBytes(CacheFile()), afterFirst);
    EXPECT_EQ(cache.CacheFileSize(), static_cast<int64_t>(afterFirst.size()));

    // A new path: the entry's bytes are appended and only the count changes.
    const ino_t inode = Inode(CacheFile());
    cache.Store(b, {});
    const std::string entryB = CBytes().Entry(b, 200, {}).str();
    std::string expected = afterFirst + entryB;
    expected[3] = 2;
    EXPECT_EQ(ReadFileBytes(CacheFile()), expected);
    EXPECT_EQ(Inode(CacheFile()), inode);

    // A fresh cache reads back the same entries.
    CIdCache reloaded(CacheFile());
    reloaded.LoadCache();
    const auto entries = reloaded.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, a);
    ASSERT_EQ(entries[0].matches.size(), 2u);
    EXPECT_EQ(std::memcmp(&entries[0].matches[0], &first[0], sizeof(CTagValues)), 0);
    EXPECT_EQ(entries[1].path, b);
    EXPECT_TRUE(entries[1].matches.empty());
}

TEST_F(IdCacheTest, SamePathIgnoringCaseReplacesAndRewritesWholeFile) {
    const std::string a = Song("Song.mp3", 10);
    const std::string b = Song("other.mp3", 20);
    const std::string aUpper = dir_.File("SONG.MP3");
    CIdCache cache(CacheFile());
    cache.LoadCache();
    cache.Store(a, {});
    cache.Store(b, {Match("B", "B")});
    // The fingerprint pass answers later for the same file, named in another case.
    cache.Store(aUpper, {Match("A", "A")});

    // SONG.MP3 does not exist, so its size is 0.
    const std::string expected = CBytes().Int(2).Entry(b, 20, {Match("B", "B")}).Entry(aUpper, 0, {Match("A", "A")}).str();
    EXPECT_EQ(ReadFileBytes(CacheFile()), expected);
    EXPECT_EQ(cache.EntryCount(), 2);
}

TEST_F(IdCacheTest, LookUpComparesSizeAndPathIgnoringCase) {
    const std::string a = Song("Track.mp3", 50);
    CIdCache cache(CacheFile());
    cache.Store(a, {Match("T", "A")});
    cache.Store(Song("empty-answer.mp3", 5), {});

    auto found = cache.LookUp(a);
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->size(), 1u);
    EXPECT_STREQ((*found)[0].title, "T");

    // An answer without matches is still an answer.
    found = cache.LookUp(dir_.File("EMPTY-ANSWER.mp3"));
    EXPECT_FALSE(found.has_value()) << "a different file (size 0) must not match";
    found = cache.LookUp(dir_.File("empty-answer.mp3"));
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->empty());

    // Same path, but the tags were saved since: the size differs.
    dir_.Write("Track.mp3", std::string(51, 'x'));
    EXPECT_FALSE(cache.LookUp(a).has_value());
    // Renamed file: the path differs.
    EXPECT_FALSE(cache.LookUp(Song("Renamed.mp3", 50)).has_value());
    EXPECT_FALSE(cache.LookUp("").has_value());
}

TEST_F(IdCacheTest, SongLookupReplacesMatchesAndChoosesTheFirst) {
    CSong song;
    song.fileRef.path = Song("song.mp3", 40);
    song.matches.Append(Match("Old", "Old"));
    song.matches.Append(Match("Two", "Two"));
    song.matches.Append(Match("Three", "Three"));
    song.currentMatch = 2;
    CIdCache cache(CacheFile());
    EXPECT_FALSE(cache.LookUpSong(song));
    EXPECT_EQ(song.matches.Count(), 3);

    // Every match is stored, not only the chosen one.
    cache.StoreSong(song);
    ASSERT_EQ(cache.Entries().at(0).matches.size(), 3u);

    cache.Store(song.fileRef.path, {Match("New", "New")});
    ASSERT_TRUE(cache.LookUpSong(song));
    ASSERT_EQ(song.matches.Count(), 1);
    EXPECT_STREQ(song.matches[0].title, "New");
    EXPECT_EQ(song.currentMatch, 0);
    EXPECT_TRUE(song.modified);

    cache.Store(song.fileRef.path, {});
    ASSERT_TRUE(cache.LookUpSong(song));
    EXPECT_TRUE(song.matches.Empty());
    EXPECT_EQ(song.currentMatch, -1);

    CSong pathless;
    EXPECT_FALSE(cache.LookUpSong(pathless));
}

TEST_F(IdCacheTest, PartialLoadsKeepCompleteEntries) {
    const std::string one = CBytes().Entry("/m/1.mp3", 1, {Match("A", "B")}).str();
    const std::string two = CBytes().Entry("/m/2.mp3", 2, {}).str();
    struct Case {
        const char* what;
        std::string bytes;
        size_t entries;
    } cases[] = {
        {"complete", CBytes().Int(2).str() + one + two, 2},
        {"count larger than entries present", CBytes().Int(5).str() + one + two, 2},
        {"count smaller than entries present", CBytes().Int(1).str() + one + two, 1},
        {"second entry cut inside its path", CBytes().Int(2).str() + one + two.substr(0, 4), 1},
        {"first entry cut inside a match", CBytes().Int(2).str() + one.substr(0, one.size() - 6), 0},
        {"path without NUL within 2,048 bytes", CBytes().Int(2).str() + one + std::string(2048, 'p') + '\0', 1},
        {"path of 2,047 bytes", CBytes().Int(1).Entry(std::string(2047, 'p'), 0, {}).str(), 1},
        {"title without NUL within 96 bytes",
         CBytes().Int(1).Str("/m/x").Int(0).Int(1).str() + std::string(96, 't') + '\0', 0},
        {"negative count", CBytes().Int(0xFFFFFFFF).str() + one, 0},
        {"huge count", CBytes().Int(0x7FFFFFFF).str() + one, 1},
        {"short count", std::string("\0\0", 2), 0},
    };
    for (const Case& c : cases) {
        dir_.Write("Melodex.cache", c.bytes);
        CIdCache cache(CacheFile());
        cache.LoadCache();
        EXPECT_EQ(cache.Entries().size(), c.entries) << c.what;
    }

    // No file at all, and an empty file.
    CIdCache missing(dir_.File("none.cache"));
    missing.LoadCache();
    EXPECT_EQ(missing.EntryCount(), 0);
    dir_.Write("Melodex.cache", "");
    CIdCache empty(CacheFile());
    empty.LoadCache();
    EXPECT_EQ(empty.EntryCount(), 0);
}

TEST_F(IdCacheTest, StoreAfterDamagedLoadRewritesTheFile) {
    // Appending behind the broken tail would put the new entry where no load
    // can reach it; the store must leave a file that loads completely.
    const std::string one = CBytes().Entry("/m/1.mp3", 1, {Match("A", "B")}).str();
    const std::vector<std::string> damaged = {
        CBytes().Int(3).str() + one + "/m/2.mp",  // cut entry
        CBytes().Int(1).str() + one + one,        // bytes behind the last counted entry
        "",                                       // empty file: the count would land on the entry
    };
    const std::string song = Song("new.mp3", 7);
    for (const std::string& bytes : damaged) {
        dir_.Write("Melodex.cache", bytes);
        CIdCache cache(CacheFile());
        cache.LoadCache();
        const size_t before = cache.Entries().size();
        cache.Store(song, {Match("N", "N")});

        CIdCache reloaded(CacheFile());
        reloaded.LoadCache();
        ASSERT_EQ(reloaded.Entries().size(), before + 1);
        EXPECT_EQ(reloaded.Entries().back().path, song);
        EXPECT_EQ(ReadFileBytes(CacheFile()).size(), static_cast<size_t>(cache.CacheFileSize()));
    }
}

TEST_F(IdCacheTest, OverlongPathIsNotStored) {
    CIdCache cache(CacheFile());
    cache.Store("/" + std::string(CIdCache::kMaxEntryPath, 'p'), {});
    EXPECT_EQ(cache.EntryCount(), 0);
    const std::string song = Song("ok.mp3", 3);
    cache.Store(song, {});
    CIdCache reloaded(CacheFile());
    reloaded.LoadCache();
    EXPECT_EQ(reloaded.EntryCount(), 1);
}

TEST_F(IdCacheTest, ClearMovesTheFileToTheTrashAndToleratesAMissingFile) {
    CScopedEnv data("XDG_DATA_HOME", dir_.File("data").c_str());
    CIdCache cache(CacheFile());
    cache.Store(Song("a.mp3", 1), {Match("A", "A")});
    const std::string content = ReadFileBytes(CacheFile());

    cache.ClearCache();
    EXPECT_EQ(cache.EntryCount(), 0);
    EXPECT_EQ(cache.CacheFileSize(), 0);
    EXPECT_EQ(ReadFileBytes(dir_.File("data/Trash/files/Melodex.cache")), content);

    cache.ClearCache();  // file already gone: nothing to report
    EXPECT_EQ(cache.EntryCount(), 0);

    // The next answer starts a new file.
    const std::string b = Song("b.mp3", 2);
    cache.Store(b, {});
    EXPECT_EQ(ReadFileBytes(CacheFile()), CBytes().Int(1).Entry(b, 2, {}).str());
}

TEST_F(IdCacheTest, PathDefaultsToThePreferencesFolder) {
    CScopedEnv config("XDG_CONFIG_HOME", dir_.File("config").c_str());
    CIdCache cache;
    EXPECT_EQ(cache.CachePath(), dir_.File("config/Melodex/Melodex.cache"));
    cache.Store(Song("a.mp3", 1), {});
    EXPECT_GT(cache.CacheFileSize(), 0);
}

TEST_F(IdCacheTest, ConcurrentLookupsStoresAndClears) {
    CScopedEnv data("XDG_DATA_HOME", dir_.File("data").c_str());
    std::vector<std::string> songs;
    for (int i = 0; i < 8; ++i) {
        songs.push_back(Song("s" + std::to_string(i) + ".mp3", static_cast<size_t>(10 + i)));
    }
    CIdCache cache(CacheFile());
    cache.LoadCache();
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            size_t i = static_cast<size_t>(t);
            while (!stop.load()) {
                auto found = cache.LookUp(songs[i++ % songs.size()]);
                if (found) {
                    EXPECT_LE(found->size(), 1u);
                }
                (void)cache.EntryCount();
            }
        });
    }
    for (int round = 0; round < 40; ++round) {
        cache.Store(songs[static_cast<size_t>(round) % songs.size()], {Match("T", "A", round)});
        if (round % 10 == 9) {
            cache.ClearCache();
        }
        (void)cache.CacheFileSize();
    }
    stop = true;
    for (std::thread& t : readers) {
        t.join();
    }
    // The file agrees with memory after all of it.
    CIdCache reloaded(CacheFile());
    reloaded.LoadCache();
    EXPECT_EQ(reloaded.EntryCount(), cache.EntryCount());
}

}  // namespace
