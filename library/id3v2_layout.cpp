#include "library/id3v2_layout.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

uint32_t BigEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

// 7 bits a byte; the high bit of each byte is ignored, as the library does.
uint32_t Syncsafe(const uint8_t* bytes) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 7) | (bytes[i] & 0x7F);
    return value;
}

bool IsIdChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Tag-level unsynchronisation: every 0x00 that follows 0xFF was inserted.
std::vector<uint8_t> Resynchronise(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    for (size_t i = 0; i < size; ++i) {
        if (i > 0 && data[i] == 0x00 && data[i - 1] == 0xFF) continue;
        out.push_back(data[i]);
    }
    return out;
}

}  // namespace

size_t Id3v2TagLength(const uint8_t* header, size_t available) {
    if (available < kId3v2HeaderLength || std::memcmp(header, "ID3", 3) != 0) return 0;
    return kId3v2HeaderLength + Syncsafe(header + 6);
}

CId3v2Layout ScanId3v2(const uint8_t* data, size_t size) {
    CId3v2Layout layout;
    layout.tagLength = Id3v2TagLength(data, size);
    if (layout.tagLength == 0) return layout;
    layout.present = true;
    layout.major = data[3];
    const uint8_t flags = data[5];
    if (layout.major < 2 || layout.major > 4) return layout;

    const size_t bodyEnd = std::min(layout.tagLength, size);
    std::vector<uint8_t> body(data + kId3v2HeaderLength, data + bodyEnd);
    layout.hasContent = std::any_of(body.begin(), body.end(), [](uint8_t b) { return b != 0; });
    if (flags & 0x80) body = Resynchronise(body.data(), body.size());
    const uint8_t* bytes = body.data();
    const size_t length = body.size();

    size_t pos = 0;
    if (layout.major >= 3 && (flags & 0x40) && length >= 4) {
        // Version 3 counts the extended header without its size field, 4 with it.
        pos = layout.major == 3 ? 4 + static_cast<size_t>(BigEndian(bytes, 4)) : Syncsafe(bytes);
    }

    const size_t headerLength = layout.major == 2 ? 6 : 10;
    while (pos < length && bytes[pos] != 0) {
        if (pos + headerLength > length) {
            layout.clean = false;
            break;
        }
        const uint8_t* frame = bytes + pos;
        const int idLength = layout.major == 2 ? 3 : 4;
        if (!std::all_of(frame, frame + idLength, IsIdChar)) {
            layout.clean = false;
            break;
        }
        size_t frameSize = 0;
        if (layout.major == 2) {
            frameSize = BigEndian(frame + 3, 3);
            if (std::memcmp(frame, "CDM", 3) == 0) layout.hasCompressedFrame = true;
        } else {
            frameSize = layout.major == 3 ? BigEndian(frame + 4, 4) : Syncsafe(frame + 4);
            // The library reads the version 3 flag layout for every version.
            if (BigEndian(frame + 8, 2) & 0x0080) layout.hasCompressedFrame = true;
        }
        if (frameSize > 0) ++layout.frameCount;
        if (frameSize > length - pos - headerLength) {
            layout.clean = false;
            break;
        }
        pos += headerLength + frameSize;
    }
    return layout;
}
