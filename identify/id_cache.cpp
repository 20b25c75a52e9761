#include "identify/id_cache.h"

#include <cstring>

#include "foundation/data_buffer.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"
#include "library/song.h"

namespace {

constexpr int32_t kPathLimit = 2048;
// Initial capacities of the serialising buffers: a whole file and one entry.
constexpr int32_t kWholeFileCapacity = 10240;
constexpr int32_t kEntryCapacity = 1024;
// Bytes of the smallest possible entry (empty path, size, match count).
constexpr int32_t kMinEntryBytes = 1 + 4 + 4;

// Letter case is ignored for ASCII only, so the result does not depend on
// the process locale.
bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
        if (x != y) {
            return false;
        }
    }
    return true;
}

int32_t CurrentFileSize(const std::string& path) {
    return static_cast<int32_t>(static_cast<uint32_t>(FileSize(path.c_str())));
}

// Writes a text field up to its capacity, so a record that lost its
// terminator still serialises to something the loader accepts.
template <size_t N>
void AppendField(CDataBuffer& buffer, const char (&field)[N]) {
    const size_t length = strnlen(field, N - 1);
    buffer.AppendBytes(field, static_cast<int32_t>(length));
    buffer.AppendByte(0);
}

void AppendMatch(CDataBuffer& buffer, const CTagValues& match) {
    AppendField(buffer, match.title);
    AppendField(buffer, match.album);
    AppendField(buffer, match.artist);
    AppendField(buffer, match.genre);
    AppendField(buffer, match.comment);
    AppendField(buffer, match.year);
    AppendField(buffer, match.copyright);
    AppendField(buffer, match.url);
    buffer.AppendInt32(match.track);
    buffer.AppendInt32(match.disc);
}

void AppendEntryRecord(CDataBuffer& buffer, const CIdCacheEntry& entry) {
    buffer.AppendString(entry.path.c_str());
    buffer.AppendInt32(entry.fileSize);
    buffer.AppendInt32(static_cast<int32_t>(entry.matches.size()));
    for (const CTagValues& match : entry.matches) {
        AppendMatch(buffer, match);
    }
}

CTagValues ReadMatch(CDataBuffer& buffer) {
    CTagValues match = EmptyTagValues();
    buffer.ReadString(match.title, sizeof match.title);
    buffer.ReadString(match.album, sizeof match.album);
    buffer.ReadString(match.artist, sizeof match.artist);
    buffer.ReadString(match.genre, sizeof match.genre);
    buffer.ReadString(match.comment, sizeof match.comment);
    buffer.ReadString(match.year, sizeof match.year);
    buffer.ReadString(match.copyright, sizeof match.copyright);
    buffer.ReadString(match.url, sizeof match.url);
    match.track = buffer.ReadInt32();
    match.disc = buffer.ReadInt32();
    return match;
}

}  // namespace

std::string CIdCache::CachePath() const {
    if (!filePath_.empty()) {
        return filePath_;
    }
    return PreferencesFolder() + "/Melodex.cache";
}

void CIdCache::LoadCache() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    fileInSync_ = false;
    try {
        CDataBuffer buffer;
        buffer.LoadFromFile(CachePath().c_str());
        const int32_t count = buffer.ReadInt32();
        // Reserve no more than the data could hold, so a damaged count cannot
        // claim memory the entries will never use.
        const int32_t plausible = (buffer.ContentLength() - 4) / kMinEntryBytes;
        if (count > 0) {
            entries_.reserve(static_cast<size_t>(count < plausible ? count : plausible));
        }
        char path[kPathLimit];
        for (int32_t i = 0; i < count; ++i) {
            CIdCacheEntry entry;
            buffer.ReadString(path, kPathLimit);
            entry.path = path;
            entry.fileSize = buffer.ReadInt32();
            const int32_t matchCount = buffer.ReadInt32();
            for (int32_t m = 0; m < matchCount; ++m) {
                entry.matches.push_back(ReadMatch(buffer));
            }
            entries_.push_back(std::move(entry));
        }
        fileInSync_ = count >= 0 && buffer.position() == buffer.ContentLength();
    } catch (...) {
        // A missing or damaged file keeps what was read completely.
    }
}

const CIdCacheEntry* CIdCache::FindLocked(const std::string& path) const {
    if (path.empty()) {
        return nullptr;
    }
    const int32_t size = CurrentFileSize(path);
    for (const CIdCacheEntry& entry : entries_) {
        if (entry.fileSize == size && EqualIgnoringCase(entry.path, path)) {
            return &entry;
        }
    }
    return nullptr;
}

std::optional<std::vector<CTagValues>> CIdCache::LookUp(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (const CIdCacheEntry* entry = FindLocked(path)) {
        return entry->matches;
    }
    return std::nullopt;
}

bool CIdCache::LookUpSong(CSong& song) {
    std::lock_guard lock(mutex_);
    const CIdCacheEntry* entry = FindLocked(song.fileRef.path);
    if (entry == nullptr) {
        return false;
    }
    song.matches.Release();
    for (const CTagValues& match : entry->matches) {
        song.matches.Append(match);
    }
    song.currentMatch = song.matches.Empty() ? -1 : 0;
    song.RecomputeModified();
    return true;
}

void CIdCache::StoreSong(const CSong& song) {
    std::lock_guard lock(mutex_);
    StoreLocked(song.fileRef.path, std::vector<CTagValues>(song.matches.begin(), song.matches.end()));
}

void CIdCache::Store(const std::string& path, const std::vector<CTagValues>& matches) {
    std::lock_guard lock(mutex_);
    StoreLocked(path, matches);
}

void CIdCache::StoreLocked(const std::string& path, const std::vector<CTagValues>& matches) {
    if (path.size() > kMaxEntryPath) {
        return;
    }
    bool replaced = false;
    if (!path.empty()) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (EqualIgnoringCase(it->path, path)) {
                entries_.erase(it);
                replaced = true;
                break;
            }
        }
    }
    CIdCacheEntry entry;
    entry.path = path;
    entry.fileSize = path.empty() ? 0 : CurrentFileSize(path);
    entry.matches = matches;
    entries_.push_back(std::move(entry));

    try {
        const std::string cachePath = CachePath();
        if (replaced || !fileInSync_ || !FileExists(cachePath.c_str())) {
            WriteWholeCache(cachePath);
        } else {
            AppendEntry(cachePath, entries_.back());
        }
        fileInSync_ = true;
    } catch (...) {
        // Memory keeps the new entry; the next full write catches the file up.
        fileInSync_ = false;
    }
}

void CIdCache::WriteWholeCache(const std::string& cachePath) {
    CDataBuffer buffer;
    buffer.InitWritable(kWholeFileCapacity, cachePath.c_str());
    buffer.AppendInt32(static_cast<int32_t>(entries_.size()));
    for (const CIdCacheEntry& entry : entries_) {
        AppendEntryRecord(buffer, entry);
    }
    buffer.SaveToFile();
}

void CIdCache::AppendEntry(const std::string& cachePath, const CIdCacheEntry& entry) {
    CDataBuffer buffer;
    buffer.InitWritable(kEntryCapacity);
    AppendEntryRecord(buffer, entry);

    CStreamPtr stream(OpenFile(cachePath.c_str(), "r+"));
    SeekStream(stream.get(), StreamLength(stream.get()));
    WriteAll(stream.get(), buffer.data(), static_cast<size_t>(buffer.ContentLength()));
    const uint32_t count = static_cast<uint32_t>(entries_.size());
    const uint8_t countBytes[4] = {static_cast<uint8_t>(count >> 24), static_cast<uint8_t>(count >> 16),
                                   static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
    SeekStream(stream.get(), 0);
    WriteAll(stream.get(), countBytes, sizeof countBytes);
    // Closing flushes; its failure means the entry may not have reached the file.
    CloseStream(stream.release());
}

void CIdCache::ClearCache() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    // Whatever file remains no longer matches memory; the next store writes it anew.
    fileInSync_ = false;
    try {
        const std::string cachePath = CachePath();
        if (FileExists(cachePath.c_str())) {
            DeleteFile(cachePath.c_str(), EDeleteMode::MoveToTrash);
        }
    } catch (...) {
        // Deleting a cache that cannot be moved is not worth a message.
    }
}

int64_t CIdCache::CacheFileSize() {
    std::lock_guard lock(mutex_);
    try {
        return FileSize(CachePath().c_str());
    } catch (...) {
        return 0;
    }
}

int32_t CIdCache::EntryCount() {
    std::lock_guard lock(mutex_);
    return static_cast<int32_t>(entries_.size());
}

std::vector<CIdCacheEntry> CIdCache::Entries() {
    std::lock_guard lock(mutex_);
    return entries_;
}
