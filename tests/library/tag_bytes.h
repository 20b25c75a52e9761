#pragma once
// Hand-built ID3 tags for the tag tests: a frame a call, bytes as a string.

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tagbytes {

inline std::string BigEndian32(uint32_t n) {
    return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
}

inline std::string Syncsafe(uint32_t n) {
    return {char((n >> 21) & 0x7F), char((n >> 14) & 0x7F), char((n >> 7) & 0x7F), char(n & 0x7F)};
}

// A version 3 frame; version 4 frames carry a syncsafe size.
inline std::string Frame(const std::string& id, const std::string& data, int major = 3,
                         uint16_t flags = 0) {
    const std::string size = major == 4 ? Syncsafe(uint32_t(data.size())) : BigEndian32(uint32_t(data.size()));
    return id + size + char(flags >> 8) + char(flags & 0xFF) + data;
}

// Text frame body in encoding 0.
inline std::string Latin1(const std::string& text) { return std::string(1, '\0') + text; }

// Text frame body in UTF-16 with a little-endian byte order mark.
inline std::string Utf16(const std::string& ascii) {
    std::string body("\x01\xFF\xFE", 3);
    for (char c : ascii) body += std::string{c, '\0'};
    return body;
}

// COMM / TXXX bodies: encoding, (language,) description, text.
inline std::string Comment(const std::string& text) {
    return std::string("\0eng", 4) + std::string(1, '\0') + text;
}
inline std::string UserText(const std::string& text, const std::string& description = "") {
    return std::string(1, '\0') + description + std::string(1, '\0') + text;
}
inline std::string UserUrl(const std::string& url) { return std::string(2, '\0') + url; }

inline std::string Tag(const std::vector<std::string>& frames, int major = 3, size_t padding = 64) {
    std::string body;
    for (const std::string& f : frames) body += f;
    body += std::string(padding, '\0');
    return "ID3" + std::string{char(major), '\0', '\0'} + Syncsafe(uint32_t(body.size())) + body;
}

// An ID3v1.1 tag: 128 bytes.
inline std::string V1(const std::string& title, const std::string& artist, uint8_t track, uint8_t genre) {
    auto field = [](const std::string& s, size_t n) { return (s + std::string(n, '\0')).substr(0, n); };
    return "TAG" + field(title, 30) + field(artist, 30) + field("", 30) + field("", 4) + field("", 28) +
           std::string(1, '\0') + char(track) + char(genre);
}

// Audio of a small untagged fixture.
inline const std::string& Audio() {
    static const std::string audio = ReadFileBytes(FixtureFile("short_22k_mono_cbr32.mp3"));
    return audio;
}

inline size_t Count(const std::string& bytes, const std::string& what) {
    size_t n = 0;
    for (size_t pos = bytes.find(what); pos != std::string::npos; pos = bytes.find(what, pos + 1)) ++n;
    return n;
}

// The body of the first frame with this identifier in a version 3 tag, or "?".
inline std::string FrameBody(const std::string& file, const std::string& id) {
    if (file.compare(0, 3, "ID3") != 0) return "?";
    const size_t end = 10 + ((uint8_t(file[6]) << 21) | (uint8_t(file[7]) << 14) |
                             (uint8_t(file[8]) << 7) | uint8_t(file[9]));
    size_t pos = 10;
    while (pos + 10 <= end && end <= file.size() && file[pos] != '\0') {
        const uint32_t size = (uint8_t(file[pos + 4]) << 24) | (uint8_t(file[pos + 5]) << 16) |
                              (uint8_t(file[pos + 6]) << 8) | uint8_t(file[pos + 7]);
        if (file.compare(pos, 4, id) == 0) return file.substr(pos + 10, size);
        pos += 10 + size;
    }
    return "?";
}

}  // namespace tagbytes
