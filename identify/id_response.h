#pragma once
// The identification service's answer: the quota refusal, or an XML document
// whose song elements (children of the root whose start tag holds "song " and
// then "match_number=") become the candidate matches of a song.

#include <cstdint>
#include <vector>

#include "library/tag_values.h"

struct CSong;
struct CPrefs;
class CIdCache;

// The refusal the service sends once the account has used up its identifications.
bool IsQuotaRefusal(const char* text);

// The matches of an answer (already cleaned by DecodeEntities), in document
// order. A song element without an album name gives no match. Every field
// whose keepOriginal flag is set ([1] title, [2] artist, [3] album, [4] year,
// [5] genre, [6] copyright, [7] url, [8] comment) is taken from ownTags.
// Throws CError -68 when the text has no "<?xml" or a closing tag does not
// match its element.
std::vector<CTagValues> ParseIdMatches(const char* text, const CTagValues& ownTags,
                                       const uint8_t (&keepOriginal)[9]);

enum class EIdResponse {
    Parsed,        // the song's matches and current match are set
    QuotaRefused,  // nothing parsed; the caller stops identifying and shows the account
};

// Applies an answer to the song. A quota refusal leaves the song untouched
// and sets identificationsLeft to 0 when it was above. Otherwise the song's
// matches are replaced by the answer's (storage kept), the first one is
// chosen (none without matches), and with saveToCache the answer is stored in
// the cache. On CError -68 from the XML reader the song is left without
// matches, showing its own values.
EIdResponse ParseIdResponse(const char* text, CSong& song, CPrefs& prefs, CIdCache& cache);
