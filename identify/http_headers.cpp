#include "identify/http_headers.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Appends bytes to a NUL-terminated slot, cutting at the slot's size.
void AppendCut(char* slot, size_t size, const char* bytes, size_t n) {
    size_t used = std::strlen(slot);
    size_t room = size - 1 - used;
    n = std::min(n, room);
    std::memcpy(slot + used, bytes, n);
    slot[used + n] = '\0';
}

// End of the line starting at pos (the CR of a CR LF, or the LF), and the
// start of the next line; false when the block has no further LF.
bool FindLineEnd(const char* block, size_t length, size_t pos, size_t* end, size_t* next) {
    const void* lf = std::memchr(block + pos, '\n', length - pos);
    if (lf == nullptr) return false;
    size_t at = static_cast<size_t>(static_cast<const char*>(lf) - block);
    *next = at + 1;
    *end = (at > pos && block[at - 1] == '\r') ? at - 1 : at;
    return true;
}

}  // namespace

bool CHttpHeaders::Parse(const char* block, size_t length) {
    count_ = 0;
    size_t pos = 0;
    while (count_ < kMaxHeaders && pos < length && block[pos] != '\r' && block[pos] != '\n') {
        // The name runs to the next ':' in the block, across line ends if need be.
        const void* colon = std::memchr(block + pos, ':', length - pos);
        if (colon == nullptr) return false;
        size_t colonAt = static_cast<size_t>(static_cast<const char*>(colon) - block);
        char* name = names_[count_];
        char* value = values_[count_];
        name[0] = '\0';
        value[0] = '\0';
        AppendCut(name, kNameSize, block + pos, colonAt - pos);

        pos = colonAt + 1;
        while (pos < length && IsBlank(block[pos])) ++pos;
        size_t end = 0;
        size_t next = 0;
        if (!FindLineEnd(block, length, pos, &end, &next)) return false;
        AppendCut(value, kValueSize, block + pos, end - pos);
        pos = next;

        // Continuation lines join the value without a separator.
        while (pos < length && IsBlank(block[pos])) {
            while (pos < length && IsBlank(block[pos])) ++pos;
            if (!FindLineEnd(block, length, pos, &end, &next)) return false;
            AppendCut(value, kValueSize, block + pos, end - pos);
            pos = next;
        }
        ++count_;
    }
    return true;
}

const char* CHttpHeaders::Find(const char* name) const {
    for (int32_t i = 0; i < count_; ++i) {
        if (strcasecmp(names_[i], name) == 0) return values_[i];
    }
    return nullptr;
}
