#include "identify/id_query.h"

#include <vector>

#include "foundation/config.h"
#include "foundation/files.h"
#include "foundation/prefs.h"
#include "foundation/text.h"
#include "identify/url_encode.h"
#include "library/song.h"

namespace {

constexpr char kQueryVersion[] = "5.0";
// Each encoded value (file name, title, artist) is kept within 1,023 characters.
constexpr size_t kEncodedValueSize = 1024;

void AppendEncoded(char* url, size_t size, const char* key, const char* value) {
    char encoded[kEncodedValueSize];
    UrlEncode(encoded, sizeof encoded, value);
    AppendBounded(url, size, key);
    AppendBounded(url, size, encoded);
}

}  // namespace

std::string BuildIdQuery(const CSong& song, EIdQuery kind, const char* digest, int32_t fileSize,
                         int32_t lengthSeconds, int32_t bitrate, const char* token,
                         const std::atomic<bool>& released, const CPrefs& prefs) {
    char fileName[kEncodedValueSize];
    UrlEncode(fileName, sizeof fileName, LastPathComponent(song.fileRef.path.c_str()));
    const std::string host = ConfigValue(EConfigKey::IdHost);

    std::vector<char> url(kMaxIdQueryLength + 1);
    if (kind == EIdQuery::Fingerprint) {
        FormatBounded(url.data(), url.size(),
                      "%s/cgi-bin/search.cgi?&u=%s&p=%s&mode=2&file_size=%d&song_length=%d&filename=%s"
                      "&bitrate=%d&md5=%s&t=%s&version=%s",
                      host.c_str(), prefs.userName, prefs.password, fileSize, lengthSeconds, fileName,
                      bitrate, digest, token ? token : "", kQueryVersion);
    } else {
        FormatBounded(url.data(), url.size(),
                      "%s/cgi-bin/search.cgi?&u=%s&p=%s&mode=1&file_size=%d&song_length=%d&filename=%s"
                      "&bitrate=%d&md5=%s&version=%s",
                      host.c_str(), prefs.userName, prefs.password, fileSize, lengthSeconds, fileName,
                      bitrate, digest, kQueryVersion);
        if (!released.load(std::memory_order_acquire)) {
            const CTagValues& shown = song.DisplayedValues();
            if (shown.title[0] != '\0') {
                AppendEncoded(url.data(), url.size(), "&song_name=", shown.title);
            }
            if (shown.artist[0] != '\0') {
                AppendEncoded(url.data(), url.size(), "&artist_name=", shown.artist);
            }
        }
    }
    if (prefs.introAccount) {
        AppendBounded(url.data(), url.size(), "&conf=melodex");
    }
    AppendBounded(url.data(), url.size(), "&");
    return url.data();
}
