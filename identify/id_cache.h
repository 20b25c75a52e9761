#pragma once
// The identification cache: the service's answer for every song file that was
// identified, keyed by path (ignoring letter case) and file size, kept in
// memory for the whole run and in "Melodex.cache" in the Preferences folder.
// A new answer is appended to the file and only the entry count at its start
// is rewritten; the whole file is written when an answer replaces an older
// one or the file is missing.
//
// File layout, integers 32-bit big-endian, strings NUL-terminated:
//   entry count, then per entry: path (<= 2048 incl. NUL), file size,
//   match count, then per match: title, album, artist (96), genre (48),
//   comment (256), year (5), copyright, url (64), track, disc.
//
// Every operation holds one lock for its whole duration: lookups run on the
// songs' analysis threads while the main thread stores answers or clears the
// cache. File failures are never reported; memory may then be ahead of the
// file until the next full write.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "library/tag_values.h"

struct CSong;

struct CIdCacheEntry {
    std::string path;
    // Low 32 bits of the file's size when the answer was stored.
    int32_t fileSize = 0;
    std::vector<CTagValues> matches;
};

class CIdCache {
public:
    // Longest path an entry can hold (the file's field is 2,048 bytes with its NUL).
    static constexpr size_t kMaxEntryPath = 2047;

    // The cache file is "Melodex.cache" in the Preferences folder.
    CIdCache() = default;
    // The cache file is filePath (tests, other front ends).
    explicit CIdCache(std::string filePath) : filePath_(std::move(filePath)) {}
    CIdCache(const CIdCache&) = delete;
    CIdCache& operator=(const CIdCache&) = delete;

    // Replaces memory with the file's entries. A missing or damaged file
    // loads as far as it can be read: complete entries stay, the entry in
    // progress is dropped.
    void LoadCache();

    // The matches stored for the file at path when its current size and its
    // path (ignoring letter case) agree with an entry; nothing otherwise.
    // Sizes are compared first, as the scan is linear.
    std::optional<std::vector<CTagValues>> LookUp(const std::string& path);

    // LookUp for the song's file. When found, the song's matches are replaced
    // by the stored ones (their storage released first) and the first one is
    // chosen, or none when the answer had no matches. The song is written, so
    // no other thread may read it meanwhile.
    bool LookUpSong(CSong& song);
    // Store of the song's path and all its matches (not only the chosen one).
    void StoreSong(const CSong& song);

    // Stores the answer for the file at path with its current size, replacing
    // an entry with the same path (ignoring letter case). A path too long for
    // the file's field is not stored: it could never be loaded again and would
    // end every later load at that entry.
    void Store(const std::string& path, const std::vector<CTagValues>& matches);

    // Empties memory and moves the file to the Trash; a file that is already
    // gone or cannot be moved is ignored.
    void ClearCache();

    // Size of the cache file in bytes; 0 when it is missing.
    int64_t CacheFileSize();
    // Path of the cache file. Throws CError when the Preferences folder
    // cannot be made.
    std::string CachePath() const;

    int32_t EntryCount();
    // A copy of the entries in stored order.
    std::vector<CIdCacheEntry> Entries();

private:
    const CIdCacheEntry* FindLocked(const std::string& path) const;
    void StoreLocked(const std::string& path, const std::vector<CTagValues>& matches);
    void WriteWholeCache(const std::string& cachePath);
    void AppendEntry(const std::string& cachePath, const CIdCacheEntry& entry);

    std::mutex mutex_;
    std::string filePath_;
    std::vector<CIdCacheEntry> entries_;
    // The file holds exactly the entries in memory, so a new entry may be
    // appended. Cleared by a partial load and by a failed write: appending
    // behind damaged or missing bytes would put the entry where no load
    // reaches it.
    bool fileInSync_ = false;
};
