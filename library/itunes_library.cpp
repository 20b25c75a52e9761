#include "library/itunes_library.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"
#include "foundation/text.h"

namespace {

// The library file's path and a decoded location each have a fixed room.
constexpr size_t kLibraryPathSize = 1024;
constexpr size_t kLocationSize = 2048;

bool IsCloseTag(const CXmlNode& node) { return node.isTag && !node.text.empty() && node.text[0] == '/'; }

// The next child of `parent` behind `from` that is an element (a tag that
// opens or is self-contained, not a closing tag); null when none.
const CXmlNode* NextChildElement(const CXmlDocument& doc, int32_t from, int32_t parent) {
    for (int32_t i = from + 1; i < doc.Count(); ++i) {
        const CXmlNode& node = doc.nodes[i];
        if (IsCloseTag(node) && node.parent == parent) return nullptr;
        if (node.parent != parent || !node.isTag || IsCloseTag(node)) continue;
        return &node;
    }
    return nullptr;
}

// The key element `<key>name</key>` that is a child of `dict`.
const CXmlNode* ChildKey(const CXmlDocument& doc, const CXmlNode* dict, const char* name) {
    return FindElement(doc, "key", name, nullptr, dict);
}

// The text of the value element that follows a key in the same dict.
const char* ValueText(const CXmlDocument& doc, const CXmlNode* key, const CXmlNode* dict) {
    if (key == nullptr) return nullptr;
    return ElementText(doc, NextChildElement(doc, key->index, dict->index));
}

// Leading blanks and sign, then digits up to the first non-digit, as strtol
// reads a plist integer; saturates at the int32 range; false without digits.
bool ParseNumber(const char* text, int64_t* value) {
    if (text == nullptr) return false;
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r') ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
    int64_t result = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        result = result * 10 + (*text - '0');
        if (result > INT32_MAX) result = static_cast<int64_t>(INT32_MAX) + 1;
    }
    result = negative ? -result : result;
    *value = std::clamp<int64_t>(result, INT32_MIN, INT32_MAX);
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

}  // namespace

std::string ItunesLibraryPath() {
    std::string path = MusicFolder();
    if (!path.empty() && path.back() != '/') path += '/';
    path += "iTunes/iTunes Music Library.xml";
    if (path.size() > kLibraryPathSize - 1) return {};
    return path;
}

void ConvertPlaylistName(const char* source, char* out, size_t size) {
    if (size == 0) return;
    size_t n = 0;
    for (const char* p = source; *p != '\0' && n + 1 < size; ++p) {
        if (static_cast<unsigned char>(*p) == 0xE2) {
            if (static_cast<unsigned char>(p[1]) == 0x80 && static_cast<unsigned char>(p[2]) == 0x99) {
                out[n++] = '\'';
                p += 2;
            }
            continue;
        }
        out[n++] = *p;
    }
    out[n] = '\0';
}

std::string LocationToPath(const char* location) {
    if (location == nullptr) return {};
    char decoded[kLocationSize];
    size_t n = 0;
    for (const char* p = location; *p != '\0' && n + 1 < sizeof decoded; ++p) {
        if (*p == '%') {
            if (p[1] == '\0' || p[2] == '\0') break;
            int high = HexValue(p[1]);
            int low = HexValue(p[2]);
            if (high >= 0 && low >= 0) {
                decoded[n++] = static_cast<char>(high * 16 + low);
                p += 2;
                continue;
            }
        }
        decoded[n++] = *p;
    }
    decoded[n] = '\0';

    // An escaped NUL ends the text, as it would in any C string.
    const char* rest = decoded;
    if (std::strncmp(rest, "file://", 7) != 0) return {};
    rest += 7;
    if (std::strncmp(rest, "localhost", 9) == 0) rest += 9;
    // A file URL naming another host has no local path; it must not turn into
    // a path relative to the working folder.
    if (*rest != '/') return {};
    return rest;
}

std::vector<int32_t> PlaylistRowOrder(const std::vector<CPlaylist>& playlists, bool byCount) {
    std::vector<int32_t> order(playlists.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const CPlaylist& pa = playlists[static_cast<size_t>(a)];
        const CPlaylist& pb = playlists[static_cast<size_t>(b)];
        if (pa.kind != pb.kind) return pa.kind > pb.kind;
        if (byCount) return pa.trackCount < pb.trackCount;
        return CompareNoCase(pa.name, pb.name) < 0;
    });
    return order;
}

void CItunesLibrary::LoadPlaylists() { LoadPlaylists(ItunesLibraryPath()); }

void CItunesLibrary::LoadPlaylists(const std::string& path) {
    FreeXml(document_);
    playlists_.clear();
    try {
        if (path.empty()) return;
        CFileBlock file = ReadWholeFile(path.c_str());
        ParseXml(document_, file.data.get(), file.length);
        ReadPlaylists();
    } catch (...) {
        // A missing or malformed file offers what was recorded before the failure.
    }
}

void CItunesLibrary::ReadPlaylists() {
    const CXmlDocument& doc = document_;
    const CXmlNode* key = FindElement(doc, "key", "Playlists");
    if (key == nullptr) return;
    const CXmlNode* array = FindElement(doc, "array", nullptr, key);
    if (array == nullptr) return;

    for (int32_t i = array->index + 1; i < doc.Count(); ++i) {
        const CXmlNode* dict = &doc.nodes[i];
        if (IsCloseTag(*dict) && dict->parent == array->index) break;
        if (dict->parent != array->index || !dict->isTag || dict->text != "dict") continue;

        const CXmlNode* nameKey = ChildKey(doc, dict, "Name");
        if (nameKey == nullptr) return;
        const CXmlNode* nameString = FindElement(doc, "string", nullptr, nameKey, dict);
        if (nameString == nullptr) return;
        const char* nameText = ElementText(doc, nameString);
        if (nameText == nullptr) return;

        CPlaylist playlist;
        ConvertPlaylistName(nameText, playlist.name, sizeof playlist.name);
        if (ChildKey(doc, dict, "Smart Info") != nullptr)
            playlist.kind = EPlaylistKind::Smart;
        else if (ChildKey(doc, dict, "Master") != nullptr)
            playlist.kind = EPlaylistKind::Library;

        const CXmlNode* itemsKey = ChildKey(doc, dict, "Playlist Items");
        const CXmlNode* items = itemsKey != nullptr ? FindElement(doc, "array", nullptr, itemsKey, dict) : nullptr;
        if (items == nullptr) continue;
        for (int32_t j = items->index + 1; j < doc.Count(); ++j) {
            const CXmlNode& item = doc.nodes[j];
            if (IsCloseTag(item) && item.parent == items->index) break;
            if (item.parent != items->index || !item.isTag || item.text != "dict") continue;
            const CXmlNode* idKey = ChildKey(doc, &item, "Track ID");
            // The value's text is the fourth node behind the key tag: key
            // text, closing key tag, value tag, value text.
            const CXmlNode* value = idKey != nullptr ? doc.At(idKey->index + 4) : nullptr;
            int64_t id = 0;
            if (value == nullptr || !ParseNumber(value->text.c_str(), &id)) break;
            playlist.trackIds.push_back(static_cast<int32_t>(id));
        }
        playlist.trackCount = static_cast<int32_t>(playlist.trackIds.size());
        playlists_.push_back(std::move(playlist));
    }
}

void CItunesLibrary::CollectTracks(int32_t playlistIndex, const std::atomic<bool>& cancel,
                                   CCollectedTracks& out, std::atomic<int32_t>* collected) const {
    if (playlistIndex < 0 || static_cast<size_t>(playlistIndex) >= playlists_.size()) return;
    const CXmlDocument& doc = document_;
    const CXmlNode* key = FindElement(doc, "key", "Tracks");
    if (key == nullptr) return;
    const CXmlNode* tracks = FindElement(doc, "dict", nullptr, key);
    if (tracks == nullptr) return;

    for (int32_t id : playlists_[static_cast<size_t>(playlistIndex)].trackIds) {
        if (cancel.load(std::memory_order_relaxed)) break;
        char idText[16];
        FormatBounded(idText, sizeof idText, "%d", id);
        int32_t idNode = FindElementIndex(doc, "key", idText, tracks->index, tracks->index);
        if (idNode < 0) continue;
        const CXmlNode* track = FindElement(doc, "dict", nullptr, doc.At(idNode), tracks);
        if (track == nullptr) continue;

        std::string path = LocationToPath(ValueText(doc, ChildKey(doc, track, "Location"), track));
        if (path.empty()) continue;
        CFileRef ref;
        try {
            ref = MakeFileRef(path.c_str());
        } catch (const CError&) {
            continue;  // moved or deleted since iTunes saw it
        }
        int64_t milliseconds = 0;
        int64_t rate = 0;
        if (!ParseNumber(ValueText(doc, ChildKey(doc, track, "Total Time"), track), &milliseconds)) continue;
        if (!ParseNumber(ValueText(doc, ChildKey(doc, track, "Sample Rate"), track), &rate)) continue;

        out.items.push_back(std::move(ref));
        out.ids.push_back(id);
        out.lengths.push_back(static_cast<int32_t>(milliseconds / 1000));
        out.rates.push_back(static_cast<int32_t>(rate));
        if (collected != nullptr) collected->store(static_cast<int32_t>(out.items.size()), std::memory_order_relaxed);
    }
}
