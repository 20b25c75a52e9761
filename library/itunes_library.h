#pragma once
// The iTunes library file "iTunes Music Library.xml": its playlists, and the
// tracks of one playlist as file references with their iTunes database IDs,
// lengths and sample rates. The file is read with the flat XML reader and
// without entity decoding, so "&amp;" in a name stays as it is.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/xml_reader.h"
#include "library/file_ref.h"

enum class EPlaylistKind : int32_t {
    Ordinary = 0,
    Smart = 1,
    Library = 2,  // the master playlist
};

struct CPlaylist {
    char name[64];  // at most 63 characters
    int32_t trackCount = 0;
    std::vector<int32_t> trackIds;  // in playlist order
    EPlaylistKind kind = EPlaylistKind::Ordinary;
};

// The tracks of a playlist, four parallel arrays.
struct CCollectedTracks {
    std::vector<CFileRef> items;
    std::vector<int32_t> ids;
    std::vector<int32_t> lengths;  // whole seconds
    std::vector<int32_t> rates;    // Hz
};

class CItunesLibrary {
public:
    CItunesLibrary() = default;
    CItunesLibrary(const CItunesLibrary&) = delete;
    CItunesLibrary& operator=(const CItunesLibrary&) = delete;

    // Reads and parses the library file and fills the playlists. Never
    // throws: after a failure the playlists recorded before it remain (none
    // when the file could not be read or parsed).
    void LoadPlaylists();
    void LoadPlaylists(const std::string& path);

    const std::vector<CPlaylist>& Playlists() const { return playlists_; }

    // Appends the playlist's tracks that exist as files and carry a total
    // time and a sample rate, in playlist order, until cancel is set.
    // `collected` (optional) follows the number of tracks appended so far.
    // An index outside the playlists collects nothing.
    void CollectTracks(int32_t playlistIndex, const std::atomic<bool>& cancel,
                       CCollectedTracks& out, std::atomic<int32_t>* collected = nullptr) const;

private:
    void ReadPlaylists();

    CXmlDocument document_;
    std::vector<CPlaylist> playlists_;
};

// MusicFolder()/iTunes/iTunes Music Library.xml; empty when the path would
// exceed 1023 bytes.
std::string ItunesLibraryPath();

// A playlist name as shown: E2 80 99 (a typographic apostrophe in UTF-8)
// becomes "'", any other E2 byte is dropped, the rest is copied; cut to 63.
void ConvertPlaylistName(const char* source, char* out, size_t size);

// A "Location" value as an absolute path: %XX escapes decoded (a "%" with
// fewer than two characters behind it ends the text), then "file://" and a
// following "localhost" removed. Empty for other schemes and for file URLs
// naming another host.
std::string LocationToPath(const char* location);

// The chooser's row order: the library first, then smart playlists, then
// ordinary ones; within a kind by name ignoring case, or by the number of
// songs. Returns playlist indexes.
std::vector<int32_t> PlaylistRowOrder(const std::vector<CPlaylist>& playlists, bool byCount);
