#pragma once
// An independent walk over the frames of the ID3v2 tag at the start of a file.
// The tag library is old and trusts what it parses; this walk finds, before
// the library sees a file, the layouts that it mishandles.

#include <cstddef>
#include <cstdint>

struct CId3v2Layout {
    bool present = false;       // the data starts with an ID3v2 header
    int32_t major = 0;          // 2, 3 or 4 (any other value: no frames are walked)
    size_t tagLength = 0;       // header and declared body, bytes
    int32_t frameCount = 0;     // frames with a valid identifier and a body
    bool hasContent = false;    // the body holds anything but zero padding
    // A frame the library would inflate (compression flag, or a compressed
    // meta frame of version 2). The library overruns its inflate buffer on
    // these, so it must never parse such a tag.
    bool hasCompressedFrame = false;
    // The walk ended at padding or at the end of the tag, not at a damaged
    // frame header or a frame running past the tag.
    bool clean = true;
};

constexpr size_t kId3v2HeaderLength = 10;

// Header plus declared body of the tag whose first 10 bytes are given; 0 when
// they are no ID3v2 header.
size_t Id3v2TagLength(const uint8_t* header, size_t available);

// Walks the tag in data (the file's first bytes, at least the whole tag when
// the file holds it).
CId3v2Layout ScanId3v2(const uint8_t* data, size_t size);
