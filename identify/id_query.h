#pragma once
// The identification query: one URL to the service's search script that
// describes a song by its file digest (mode 1, with the title and artist shown
// for it) or by its acoustic fingerprint token (mode 2).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct CSong;
struct CPrefs;

enum class EIdQuery {
    Digest,       // the service's mode 1
    Fingerprint,  // the service's mode 2
};

// Longest query URL; longer text is cut.
constexpr size_t kMaxIdQueryLength = 10239;

// Builds the query for the song from what DigestFile reported for its file
// (digest text, file size, playing time in seconds, bitrate in kbit/s) and,
// for the fingerprint query, the token. The account name and password go in
// as they are; the file name and the shown title and artist are
// percent-encoded. The title and artist are read from the song only while
// `released` is clear, since the driver may let go of the job meanwhile.
std::string BuildIdQuery(const CSong& song, EIdQuery kind, const char* digest, int32_t fileSize,
                         int32_t lengthSeconds, int32_t bitrate, const char* token,
                         const std::atomic<bool>& released, const CPrefs& prefs);
