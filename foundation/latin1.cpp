#include "foundation/latin1.h"

std::string EncodeLatin1AsUtf8(const std::string& latin1) {
    std::string utf8;
    utf8.reserve(latin1.size() * 2);
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

namespace {

// Length of the valid UTF-8 sequence at i (0 when there is none) and its code point.
size_t SequenceAt(const std::string& s, size_t i, char32_t* code) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > s.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = value << 6 | (byte(i + k) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code = value;
    return length;
}

}  // namespace

std::string DecodeUtf8ToLatin1(const std::string& utf8) {
    std::string latin1;
    latin1.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t code = 0;
        const size_t length = static_cast<unsigned char>(utf8[i]) < 0x80 ? 0 : SequenceAt(utf8, i, &code);
        if (length == 0) {
            latin1 += utf8[i++];
            continue;
        }
        latin1 += code <= 0xFF ? static_cast<char>(code) : '?';
        i += length;
    }
    return latin1;
}

size_t Utf8PrefixLength(const std::string& utf8, size_t maxBytes) {
    if (utf8.size() <= maxBytes) return utf8.size();
    size_t cut = maxBytes;
    // Back off continuation bytes so no character is split.
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}
