#pragma once
// Every frame of a file's ID3 tag as the tag editor shows it, and deleting a
// single frame from the file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A frame's value is cut at this many bytes.
inline constexpr size_t kFrameValueLimit = 2047;

struct CTagFrame {
    std::string id;           // four-character identifier ("TIT2"); unknown frames keep the file's own
    std::string description;  // the tag library's description of the identifier; empty for unknown ones
    std::string value;        // the URL field's text, or when that is empty the text field's; bytes
                              // as stored, empty for Unicode text and for frames without text

    bool operator==(const CTagFrame&) const = default;
};

// The frames of the merged view of every tag kind the library reads (ID3v2 at
// the front, then what ID3v1 and the other appended tags add), in tag order.
// Returns 0, or an error code with an empty list: an errno code when the file
// cannot be opened (-43 missing), -50 when it is no regular file, -68 when its
// ID3v2 tag holds a compressed frame (the library must not parse it).
[[nodiscard]] int32_t ListTagFrames(const std::string& path, std::vector<CTagFrame>& frames);

// Removes frame index (from 0, in the order of ListTagFrames) and writes the
// tag back with every tag kind: the ID3v2 tag (revision 2.3) holding all the
// remaining frames, also those that came from the appended tags, and the
// ID3v1 tag rendered from them. Returns 0 when the new ID3v2 tag holds exactly
// the remaining frames over the same audio; otherwise an error code and the
// file stays as it was: -50 index out of range, the refusals of WriteTags
// (-43 vanished, -45 read-only, -68 a tag the library would destroy), -68 also
// when merging the ID3v1 tag rewrites one of the ID3v2 frames, -1 when the
// rewritten tag does not read back as the remaining frames.
[[nodiscard]] int32_t DeleteTagFrame(const std::string& path, int32_t index);
