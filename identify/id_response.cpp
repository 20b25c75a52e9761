#include "identify/id_response.h"

#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "foundation/config.h"
#include "foundation/prefs.h"
#include "foundation/text.h"
#include "foundation/xml_reader.h"
#include "identify/id_cache.h"
#include "library/genre_table.h"
#include "library/song.h"

namespace {

// The root element directly follows the XML declaration.
constexpr int32_t kRootNode = 1;

using COptText = std::optional<std::string>;

// What the walk of one song element found; only the first value of each counts.
struct SSongFields {
    COptText title, url, copyright, artist, album, year, disc, track, genre;
};

void TakeFirst(COptText& field, COptText value) {
    if (!field && value) {
        field = std::move(value);
    }
}

bool IsSongElement(const CXmlNode& node) {
    if (!node.isTag || node.parent != kRootNode) {
        return false;
    }
    const char* song = std::strstr(node.text.c_str(), "song ");
    return song != nullptr && std::strstr(song + 5, "match_number=") != nullptr;
}

// The value of the element that starts at node `tag`: the text of the node
// behind it. The element's own closing tag there means the element is empty;
// taking its text would turn "/song_name" into a title.
COptText ValueOf(const CXmlDocument& document, int32_t tag) {
    const CXmlNode* next = document.At(tag + 1);
    if (next == nullptr) {
        return std::nullopt;
    }
    if (next->isTag && next->parent == tag && next->text.starts_with('/')) {
        return std::string();
    }
    return next->text;
}

// Calls visit(index, node) for every tag directly inside the element at
// `element`. The element's content is the run of nodes behind it whose
// enclosing element is the element itself or lies inside it.
template <class Visit>
void ForEachChildTag(const CXmlDocument& document, int32_t element, Visit visit) {
    for (int32_t i = element + 1; i < document.Count(); ++i) {
        const CXmlNode& node = *document.At(i);
        if (node.parent < element) {
            break;
        }
        if (node.isTag && node.parent == element) {
            visit(i, node);
        }
    }
}

SSongFields WalkSong(const CXmlDocument& document, int32_t song) {
    SSongFields fields;
    ForEachChildTag(document, song, [&](int32_t index, const CXmlNode& node) {
        const std::string& name = node.text;
        if (name == "song_name") {
            TakeFirst(fields.title, ValueOf(document, index));
        } else if (name == "song_url") {
            TakeFirst(fields.url, ValueOf(document, index));
        } else if (name == "label") {
            COptText label;
            ForEachChildTag(document, index, [&](int32_t child, const CXmlNode& childNode) {
                if (childNode.text == "label_name") TakeFirst(label, ValueOf(document, child));
            });
            TakeFirst(fields.copyright, label);
        } else if (name == "artist") {
            COptText artist;
            ForEachChildTag(document, index, [&](int32_t child, const CXmlNode& childNode) {
                if (childNode.text == "artist_name") TakeFirst(artist, ValueOf(document, child));
            });
            TakeFirst(fields.artist, artist);
        } else if (name.find("album") != std::string::npos) {
            SSongFields album;
            ForEachChildTag(document, index, [&](int32_t child, const CXmlNode& childNode) {
                const std::string& childName = childNode.text;
                if (childName == "album_name") TakeFirst(album.album, ValueOf(document, child));
                else if (childName == "album_year") TakeFirst(album.year, ValueOf(document, child));
                else if (childName == "disc_id") TakeFirst(album.disc, ValueOf(document, child));
                else if (childName == "track_id") TakeFirst(album.track, ValueOf(document, child));
                else if (childName == "genre_id") TakeFirst(album.genre, ValueOf(document, child));
            });
            if (album.year && *album.year == "0") {
                album.year = std::string();  // the service's way of saying "no year"
            }
            TakeFirst(fields.album, album.album);
            TakeFirst(fields.year, album.year);
            TakeFirst(fields.disc, album.disc);
            TakeFirst(fields.track, album.track);
            TakeFirst(fields.genre, album.genre);
        }
    });
    return fields;
}

// The number made by the leading digits; none gives 0.
int32_t LeadingNumber(const COptText& text) {
    int64_t value = 0;
    if (text) {
        for (char c : *text) {
            if (c < '0' || c > '9') break;
            value = value * 10 + (c - '0');
            if (value > INT32_MAX) return INT32_MAX;
        }
    }
    return static_cast<int32_t>(value);
}

// A genre number in the table's range; text without digits is no number at
// all rather than genre 0.
std::optional<int32_t> GenreNumber(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') {
        return std::nullopt;
    }
    const int32_t value = LeadingNumber(text.substr(i));
    return negative ? -value : value;
}

template <size_t N>
void SetText(char (&field)[N], const COptText& value) {
    if (value) {
        CopyBounded(field, N, value->c_str());
    }
}

template <size_t N>
void KeepOwn(char (&field)[N], const char (&own)[N], uint8_t keep) {
    if (keep) {
        std::memcpy(field, own, N);
        field[N - 1] = '\0';
    }
}

CTagValues MakeMatch(const SSongFields& fields, const CTagValues& ownTags, const uint8_t (&keep)[9],
                     const std::string& vendorHost, const std::string& homePage) {
    CTagValues match = EmptyTagValues();
    SetText(match.album, fields.album);
    SetText(match.title, fields.title);
    SetText(match.url, fields.url);
    SetText(match.artist, fields.artist);
    SetText(match.year, fields.year);
    SetText(match.copyright, fields.copyright);
    match.track = LeadingNumber(fields.track);
    match.disc = LeadingNumber(fields.disc);
    if (!vendorHost.empty() && std::strstr(match.url, vendorHost.c_str()) != nullptr) {
        CopyBounded(match.url, sizeof match.url, homePage.c_str());
    }
    if (fields.genre) {
        const std::optional<int32_t> number = GenreNumber(*fields.genre);
        if (number && *number >= 0 && *number < kGenreCount) {
            CopyBounded(match.genre, sizeof match.genre, GenreName(*number));
        }
    }
    KeepOwn(match.title, ownTags.title, keep[1]);
    KeepOwn(match.artist, ownTags.artist, keep[2]);
    KeepOwn(match.album, ownTags.album, keep[3]);
    KeepOwn(match.year, ownTags.year, keep[4]);
    KeepOwn(match.genre, ownTags.genre, keep[5]);
    KeepOwn(match.url, ownTags.url, keep[7]);
    KeepOwn(match.copyright, ownTags.copyright, keep[6]);
    KeepOwn(match.comment, ownTags.comment, keep[8]);
    return match;
}

}  // namespace

bool IsQuotaRefusal(const char* text) { return std::strstr(text, "ERROR 602: Exceeded") != nullptr; }

std::vector<CTagValues> ParseIdMatches(const char* text, const CTagValues& ownTags,
                                       const uint8_t (&keepOriginal)[9]) {
    CXmlDocument document;
    ParseXml(document, text, std::strlen(text));

    const std::string vendorHost = ConfigValue(EConfigKey::FpVendorHost);
    const std::string homePage = ConfigValue(EConfigKey::HomePage);
    std::vector<CTagValues> matches;
    for (int32_t i = 0; i < document.Count(); ++i) {
        if (!IsSongElement(*document.At(i))) {
            continue;
        }
        const SSongFields fields = WalkSong(document, i);
        if (fields.album) {
            matches.push_back(MakeMatch(fields, ownTags, keepOriginal, vendorHost, homePage));
        }
    }
    return matches;
}

EIdResponse ParseIdResponse(const char* text, CSong& song, CPrefs& prefs, CIdCache& cache) {
    if (IsQuotaRefusal(text)) {
        if (prefs.identificationsLeft > 0) {
            prefs.identificationsLeft = 0;
        }
        return EIdResponse::QuotaRefused;
    }
    // Cleared before parsing so that a rejected document leaves no match
    // chosen that no longer exists.
    song.matches.Clear();
    song.currentMatch = -1;
    song.RecomputeModified();

    for (const CTagValues& match : ParseIdMatches(text, song.tags, prefs.keepOriginal)) {
        song.matches.Append(match);
    }
    song.currentMatch = song.matches.Empty() ? -1 : 0;
    song.RecomputeModified();
    if (prefs.saveToCache) {
        cache.StoreSong(song);
    }
    return EIdResponse::Parsed;
}
