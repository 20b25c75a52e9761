#include "identify/entities.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/errors.h"

namespace {

struct SEntity {
    const char* pattern;
    const char* replacement;
};

// Table order is part of the behaviour (see DecodeEntities). Replacements are
// ISO-8859-1 codes of the characters the entities stand for.
constexpr SEntity kEntities[] = {
    {"&lt;", "<"},
    {"&lt ", "< "},
    {"&gt;", ">"},
    {"&gt ", "> "},
    {"&amp;", "&"},
    {"&amp ", "& "},
    {"&quot;", "\""},
    {"&quot ", "\" "},
    {"&nbsp;", " "},
    {"&reg;", "\xAE"},
    {"&reg ", "\xAE "},
    {"&copy;", "\xA9"},
    {"&copy ", "\xA9 "},
    {"&ensp;", " "},
    {"&emsp;", " "},
    {"&endash;", "-"},
    {"&emdash;", "-"},
    // UTF-8 sequences (acute accent, and two that stand for apostrophes in
    // answers produced from Windows text) and the commonest UTF-8 letters.
    {"\xC2\xB4", "'"},
    {"\xC2\xE2", "'"},
    {"\xC2\x92", "'"},
    {"\xC3\xA4", "\xE4"},
    {"\xC3\xB6", "\xF6"},
    {"\xC3\x9F", "\xDF"},
    {"\xC3\xB1", "\xF1"},
    {"\xC3\xB3", "\xF3"},
    {"&Aacute;", "\xC1"},
    {"&aacute;", "\xE1"},
    {"&Eacute;", "\xC9"},
    {"&eacute;", "\xE9"},
    {"&Iacute;", "\xCD"},
    {"&iacute;", "\xED"},
    {"&Oacute;", "\xD3"},
    {"&oacute;", "\xF3"},
    {"&Uacute;", "\xDA"},
    {"&uacute;", "\xFA"},
    {"&Yacute;", "Y"},
    {"&yacute;", "y"},
    {"&Acirc;", "\xC2"},
    {"&acirc;", "\xE2"},
    {"&Ecirc;", "\xCA"},
    {"&ecirc;", "\xEA"},
    {"&Icirc;", "\xCE"},
    {"&icirc;", "\xEE"},
    {"&Ocirc;", "\xD4"},
    {"&ocirc;", "\xF4"},
    {"&Ucirc;", "\xDB"},
    {"&ucirc;", "\xFB"},
    {"&Agrave;", "\xC0"},
    {"&agrave;", "\xE0"},
    {"&Egrave;", "\xC8"},
    {"&egrave;", "\xE8"},
    {"&Igrave;", "\xCC"},
    {"&igrave;", "\xEC"},
    {"&Ograve;", "\xD2"},
    {"&ograve;", "\xF2"},
    {"&Ugrave;", "\xD9"},
    {"&ugrave;", "\xF9"},
    {"&Auml;", "\xC4"},
    {"&auml;", "\xE4"},
    {"&Euml;", "\xCB"},
    {"&euml;", "\xEB"},
    {"&Iuml;", "\xCF"},
    {"&iuml;", "\xEF"},
    {"&Ouml;", "\xD6"},
    {"&ouml;", "\xF6"},
    {"&Atilde;", "\xC3"},
    {"&atilde;", "\xE3"},
    {"&Otilde;", "\xD5"},
    {"&otilde;", "\xF5"},
    {"&Aring;", "\xC5"},
    {"&aring;", "\xE5"},
    {"&Oslash;", "\xD8"},
    {"&oslash;", "\xF8"},
    {"&AElig;", "\xC6"},
    {"&aelig;", "\xE6"},
    {"&Ntilde;", "\xD1"},
    {"&Ntilde ", "\xD1 "},
    {"&ntilde;", "\xF1"},
    {"&ntilde ", "\xF1 "},
    {"&Ccedil;", "\xC7"},
    {"&ccedil;", "\xE7"},
    {"&szlig;", "\xDF"},
    {"&pound;", "\xA3"},
    {"&cent;", "\xA2"},
    {"&laquo;", "\xAB"},
    {"&raquo;", "\xBB"},
};
constexpr size_t kEntityCount = sizeof kEntities / sizeof kEntities[0];
static_assert(kEntityCount == 86);

// Output side: appends bounded by the buffer size, tracking the length so
// that long answers do not pay for a strlen per append.
class CBoundedOut {
public:
    CBoundedOut(char* buffer, size_t size) : buffer_(buffer), room_(size - 1) { buffer_[0] = '\0'; }
    void Append(const char* bytes, size_t count) {
        const size_t n = count < room_ - len_ ? count : room_ - len_;
        std::memcpy(buffer_ + len_, bytes, n);
        len_ += n;
        buffer_[len_] = '\0';
    }
    size_t length() const { return len_; }

private:
    char* buffer_;
    size_t room_;
    size_t len_ = 0;
};

}  // namespace

void DecodeEntities(char* text, size_t size) {
    if (size == 0) {
        return;
    }
    std::unique_ptr<char, decltype(&std::free)> work(static_cast<char*>(AllocOrThrow(size)), &std::free);
    CBoundedOut out(work.get(), size);

    // The remaining text only moves forward and the source is never written
    // while it is read, so each row's first occurrence at or behind the
    // current position stays valid until the position passes it. Caching it
    // keeps the scan linear in the text length for every row instead of
    // rescanning the whole remainder after each replacement.
    const char* found[kEntityCount];
    for (size_t row = 0; row < kEntityCount; ++row) {
        found[row] = std::strstr(text, kEntities[row].pattern);
    }
    const char* rest = text;
    for (;;) {
        size_t chosen = kEntityCount;
        for (size_t row = 0; row < kEntityCount; ++row) {
            if (found[row] && found[row] < rest) {
                found[row] = std::strstr(rest, kEntities[row].pattern);
            }
            if (found[row]) {
                chosen = row;
                break;
            }
        }
        if (chosen == kEntityCount) {
            break;
        }
        const SEntity& entity = kEntities[chosen];
        out.Append(rest, static_cast<size_t>(found[chosen] - rest));
        out.Append(entity.replacement, std::strlen(entity.replacement));
        rest = found[chosen] + std::strlen(entity.pattern);
    }
    out.Append(rest, std::strlen(rest));
    std::memcpy(text, work.get(), out.length() + 1);
}
