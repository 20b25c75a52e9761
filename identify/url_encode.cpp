#include "identify/url_encode.h"

#include <cstring>

namespace {

bool NeedsEscape(unsigned char c) {
    static constexpr char kEscaped[] = "$&+,/:;=?@ \"<>#%{}|\\^~[]`";
    return c != 0 && std::memchr(kEscaped, c, sizeof kEscaped - 1) != nullptr;
}

}  // namespace

void UrlEncode(char* out, size_t outSize, const char* text) {
    if (outSize == 0) {
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    size_t len = 0;
    const size_t room = outSize - 1;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && len < room; ++p) {
        if (NeedsEscape(*p)) {
            const char escape[3] = {'%', kHex[*p >> 4], kHex[*p & 0xF]};
            for (size_t i = 0; i < 3 && len < room; ++i) {
                out[len++] = escape[i];
            }
        } else {
            out[len++] = static_cast<char>(*p);
        }
    }
    out[len] = '\0';
}
