#pragma once
// The analysis job of one song and pass: a worker thread that looks the song
// up in the cache, digests the file, builds the fingerprint token when asked,
// and forms the query URL. The driver polls it and never waits for it.
//
// Ownership: the driver holds the job until it calls Release and forgets the
// pointer; from then on the job belongs to its worker, which frees it once it
// has finished. Everything the worker reads is copied at start (song, file
// path, settings), so the song and the settings may change or go away while
// the worker still runs.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/prefs.h"
#include "library/song.h"

class CIdCache;

// The slow analysis steps; tests put fakes in.
struct CIdAnalysis {
    // Digest text (32 hex digits), file size, playing time (s), bitrate (kbit/s).
    void (*digest)(const char* path, char* digest, int32_t* fileSize, int32_t* playingTime,
                   int32_t* bitrate);
    // The fingerprint token; an empty text when none can be made.
    void (*token)(const char* path, char* destination, size_t capacity);
};
const CIdAnalysis& DefaultIdAnalysis();

class CIdJob {
public:
    static constexpr size_t kUrlSize = 10240;
    static constexpr size_t kTokenSize = 10240;  // the token buffer, terminator included

    // Starts the worker for the song: mode 1 builds the fingerprint query,
    // mode 0 the digest query. cacheHit is set by the worker when the cache
    // answers. Throws CError when the thread cannot be started.
    static CIdJob* Start(const CSong& song, uint8_t mode, const CPrefs& prefs,
                         std::shared_ptr<CIdCache> cache, std::shared_ptr<std::atomic<bool>> cacheHit,
                         const CIdAnalysis& analysis);

    // The following may be read by the driver while it holds the job.
    bool Done() const { return done_.load(std::memory_order_acquire); }
    bool CacheLookup() const { return cacheLookup_.load(std::memory_order_acquire); }
    // After Done: the cache answered; CachedMatches holds the answer.
    bool FoundInCache() const { return Done() && cachedMatches_.has_value(); }
    const std::vector<CTagValues>& CachedMatches() const { return *cachedMatches_; }
    // After Done: the URL, empty when no query can be made.
    const std::string& Url() const { return url_; }
    // After Done: the code of a CError that ended the worker, or 0.
    int32_t Error() const { return error_; }

    // Hands the job to its worker; the caller must forget the pointer.
    void Release();

private:
    CIdJob(const CSong& song, uint8_t mode, const CPrefs& prefs, std::shared_ptr<CIdCache> cache,
           std::shared_ptr<std::atomic<bool>> cacheHit, const CIdAnalysis& analysis);
    void Run();
    void Analyse();

    const uint8_t mode_;
    CSong song_;  // the fields the query reads, copied at start
    const CPrefs prefs_;
    const std::shared_ptr<CIdCache> cache_;
    const std::shared_ptr<std::atomic<bool>> cacheHit_;
    const CIdAnalysis analysis_;

    // Written by the worker before done_ is set (release), read after it is seen (acquire).
    std::string url_;
    std::optional<std::vector<CTagValues>> cachedMatches_;
    int32_t error_ = 0;

    std::atomic<bool> cacheLookup_{false};
    std::atomic<bool> done_{false};
    // Set once, by the driver; from then on the worker owns and frees the job.
    std::atomic<bool> released_{false};
};
