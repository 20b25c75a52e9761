#pragma once
// A song's lyrics: the unsynchronised lyrics (USLT) frame of its ID3 tag.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Lyrics are read and written up to this many characters.
inline constexpr size_t kLyricsLimit = 32767;

// The text of the first USLT frame in the merged view of the file's tags (cut
// at kLyricsLimit; Unicode text reads as empty); none when there is no such
// frame or the file cannot be read.
std::optional<std::string> ReadLyrics(const std::string& path);

// Sets the text of the first USLT frame of the ID3v2 tag, adding the frame
// when there is none, or removes that frame when the text is empty. Only the
// ID3v2 tag is rewritten; other frames and the ID3v1 tag stay. Returns 0 or
// an error code as WriteTags does; the file then stays as it was.
[[nodiscard]] int32_t WriteLyrics(const std::string& path, const std::string& text);
