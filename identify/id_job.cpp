#include "identify/id_job.h"

#include <chrono>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "audio/file_digest.h"
#include "audio/token.h"
#include "foundation/detached_thread.h"
#include "foundation/errors.h"
#include "identify/id_cache.h"
#include "identify/id_query.h"

namespace {

// How often a finished worker looks whether the driver has let go of it.
constexpr auto kReleasePoll = std::chrono::milliseconds(50);

}  // namespace

const CIdAnalysis& DefaultIdAnalysis() {
    static const CIdAnalysis analysis{DigestFile, BuildToken};
    return analysis;
}

CIdJob::CIdJob(const CSong& song, uint8_t mode, const CPrefs& prefs, std::shared_ptr<CIdCache> cache,
               std::shared_ptr<std::atomic<bool>> cacheHit, const CIdAnalysis& analysis)
    : mode_(mode),
      prefs_(prefs),
      cache_(std::move(cache)),
      cacheHit_(std::move(cacheHit)),
      analysis_(analysis) {
    song_.fileRef = song.fileRef;
    song_.tags = song.DisplayedValues();
}

CIdJob* CIdJob::Start(const CSong& song, uint8_t mode, const CPrefs& prefs,
                      std::shared_ptr<CIdCache> cache, std::shared_ptr<std::atomic<bool>> cacheHit,
                      const CIdAnalysis& analysis) {
    std::unique_ptr<CIdJob> job(
        new CIdJob(song, mode, prefs, std::move(cache), std::move(cacheHit), analysis));
    try {
        StartDetachedThread([raw = job.get()] { raw->Run(); });
    } catch (const std::system_error& e) {
        ThrowErrno(e.code().value());
    }
    return job.release();
}

void CIdJob::Release() { released_.store(true, std::memory_order_release); }

void CIdJob::Run() {
    try {
        Analyse();
    } catch (const CError& error) {
        url_.clear();
        error_ = error.code != 0 ? error.code : eUnspecified;
    } catch (const std::bad_alloc&) {
        url_.clear();
        error_ = eOutOfMemory;
    } catch (...) {
        url_.clear();
        error_ = eUnspecified;
    }
    done_.store(true, std::memory_order_release);
    while (!released_.load(std::memory_order_acquire)) std::this_thread::sleep_for(kReleasePoll);
    delete this;
}

void CIdJob::Analyse() {
    const std::string& path = song_.fileRef.path;
    if (mode_ == 0 || prefs_.fingerprintAlways) {
        cacheLookup_.store(true, std::memory_order_release);
        if (prefs_.useCache) {
            cachedMatches_ = cache_->LookUp(path);
            if (cachedMatches_) {
                cacheHit_->store(true, std::memory_order_release);
                return;
            }
        }
        cacheLookup_.store(false, std::memory_order_release);
    }
    char digest[kDigestTextSize] = {};
    int32_t fileSize = 0;
    int32_t playingTime = 0;
    int32_t bitrate = 0;
    analysis_.digest(path.c_str(), digest, &fileSize, &playingTime, &bitrate);

    if (mode_ == 1) {
        std::string token(kTokenSize, '\0');
        analysis_.token(path.c_str(), token.data(), token.size());
        token.resize(std::char_traits<char>::length(token.c_str()));
        if (token.empty()) return;
        url_ = BuildIdQuery(song_, EIdQuery::Fingerprint, digest, fileSize, playingTime, bitrate,
                            token.c_str(), released_, prefs_);
    } else {
        url_ = BuildIdQuery(song_, EIdQuery::Digest, digest, fileSize, playingTime, bitrate, nullptr,
                            released_, prefs_);
    }
    if (url_.size() >= kUrlSize) url_.resize(kUrlSize - 1);
}
