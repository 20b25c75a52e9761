#pragma once
// Moving tag values between an MP3 file's ID3 tags and a CTagValues record,
// through the id3lib tag library.
//
// Frames: title TIT2, album TALB, artist TPE1, year TYER, genre TCON,
// comment COMM, copyright TCOP, url WXXX (URL field), disc TPOS, track TRCK,
// and the application's marker: a TXXX frame whose text is "melodex". The
// first frame of an identifier is the one used. Text moves as bytes; only
// frames in text encoding 0 yield a value.

#include <cstdint>
#include <string>

#include "library/tag_values.h"

// The marker text, compared byte for byte.
inline constexpr char kMarkerText[] = "melodex";

struct CFileTags {
    CTagValues values{};
    bool marked = false;  // the tag carries the application's marker
};

// Reads the merged view of every tag kind the library knows (ID3v2 at the
// front, ID3v1, Lyrics3 and MusicMatch at the end). Never fails: a file that
// cannot be opened or parsed reads as empty values, 0 numbers, no marker.
CFileTags ReadTags(const std::string& path);

enum class EMarker {
    Remove,  // TXXX frames holding the marker go; other TXXX frames stay
    Set,     // the first TXXX frame holds the marker: a new frame goes in
             // front of other programs' TXXX frames instead of over them
};

// Writes the values into the file's ID3v2 tag (revision 2.3, frames it does
// not manage kept) and rewrites its ID3v1 tag from the same frames. A text
// frame in a Unicode encoding is left as it is when its new value is empty;
// every frame that receives a non-empty value ends up in encoding 0.
//
// Returns 0 when the file holds the new values, or an error code (the file
// then stays as it was): -43 vanished, -45 read-only (no owner write
// permission), an errno code when it cannot be opened for writing or
// replaced, -68 when its tag holds frames the library would destroy, -1 when
// the update does not read back as written.
[[nodiscard]] int32_t WriteTags(const std::string& path, const CTagValues& values, EMarker marker);

// True when the file's tags hold an unsynchronised lyrics (USLT) frame.
bool HasLyricsFrame(const std::string& path);

// A tag text as a number: optional leading white space and sign, then digits
// up to the first non-digit; no digits give 0. Saturates at the int32 range.
int32_t ParseTagNumber(const char* text);
