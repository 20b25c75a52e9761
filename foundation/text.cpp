#include "foundation/text.h"

#include <strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "foundation/errors.h"

char* CopyBounded(char* dst, size_t size, const char* src) {
    if (size == 0) return dst;
    size_t n = std::strlen(src);
    if (n > size - 1) n = size - 1;
    std::memmove(dst, src, n);
    dst[n] = '\0';
    return dst + n;
}

char* AppendBounded(char* dst, size_t size, const char* src) {
    size_t used = strnlen(dst, size);
    if (used >= size) {
        // An unterminated destination: terminate it rather than run past it.
        if (size > 0) dst[size - 1] = '\0';
        return size > 0 ? dst + size - 1 : dst;
    }
    return CopyBounded(dst + used, size - used, src);
}

char* PrependBounded(char* dst, size_t size, const char* prefix) {
    constexpr size_t kWork = 65536;
    auto work = std::make_unique<char[]>(kWork);
    char* end = CopyBounded(work.get(), kWork, prefix);
    CopyBounded(end, kWork - static_cast<size_t>(end - work.get()), dst);
    return CopyBounded(dst, size, work.get());
}

void FormatBounded(char* dst, size_t size, const char* format, ...) {
    if (size == 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(dst, size, format, args);
    va_end(args);
    dst[size - 1] = '\0';
}

namespace {

using FindFn = const char* (*)(const char*, const char*);

const char* FindCase(const char* text, const char* marker) { return std::strstr(text, marker); }

const char* Extract(FindFn find, const char* text, const char* startMarker, const char* endMarker,
                    char* out, size_t outSize) {
    const char* start = find(text, startMarker);
    if (start == nullptr) return nullptr;
    start += std::strlen(startMarker);
    const char* end = find(start, endMarker);
    if (end == nullptr) return nullptr;
    if (outSize > 0) {
        size_t n = static_cast<size_t>(end - start);
        if (n > outSize - 1) n = outSize - 1;
        std::memmove(out, start, n);
        out[n] = '\0';
    }
    return end + std::strlen(endMarker);
}

}  // namespace

const char* FindNoCase(const char* text, const char* marker) {
    size_t n = std::strlen(marker);
    for (const char* p = text;; ++p) {
        if (strncasecmp(p, marker, n) == 0) return p;
        if (*p == '\0') return nullptr;
    }
}

const char* ExtractBetween(const char* text, const char* startMarker, const char* endMarker,
                           char* out, size_t outSize) {
    return Extract(FindCase, text, startMarker, endMarker, out, outSize);
}

const char* ExtractBetweenNoCase(const char* text, const char* startMarker,
                                 const char* endMarker, char* out, size_t outSize) {
    return Extract(FindNoCase, text, startMarker, endMarker, out, outSize);
}

const char* FindAfter(const char* text, const char* marker) {
    const char* p = std::strstr(text, marker);
    return p ? p + std::strlen(marker) : nullptr;
}

const char* SkipBlanks(const char* text) {
    while (*text == ' ' || *text == '\t') ++text;
    return text;
}

char* SkipBlanks(char* text) {
    return const_cast<char*>(SkipBlanks(static_cast<const char*>(text)));
}

char* TrimTrailingBlanks(char* text) {
    char* end = text + std::strlen(text);
    while (end > text && (end[-1] == ' ' || end[-1] == '\t')) --end;
    *end = '\0';
    return end;
}

const char* ParseDecimalField(const char* text, const char* delimiters, int64_t* result) {
    const char* p = SkipBlanks(text);
    int64_t value = 0;
    int digits = 0;
    while (*p != '\0' && std::strchr(delimiters, *p) == nullptr) {
        if (*p < '0' || *p > '9') return nullptr;
        if (++digits > 32) return nullptr;
        int d = *p - '0';
        // Saturate instead of overflowing; 32 digits do not fit in 64 bits.
        value = value > (INT64_MAX - d) / 10 ? INT64_MAX : value * 10 + d;
        ++p;
    }
    if (digits == 0) return nullptr;
    *result = value;
    return *p != '\0' ? p + 1 : p;
}

void UpperCaseInPlace(char* text) {
    for (; *text; ++text) *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
}

void AssignBytes(char** owner, const void* bytes, size_t length) {
    char* block = static_cast<char*>(AllocOrThrow(length + 1));
    std::memcpy(block, bytes, length);
    block[length] = '\0';
    std::free(*owner);
    *owner = block;
}

void AssignString(char** owner, const char* source) {
    AssignBytes(owner, source, std::strlen(source));
}

char* DuplicateString(const char* text) {
    char* copy = nullptr;
    AssignString(&copy, text);
    return copy;
}

void FreeAndNull(char** owner) {
    std::free(*owner);
    *owner = nullptr;
}

void FormatDuration(char* out, size_t size, int64_t seconds) {
    int64_t hours = seconds / 3600;
    int64_t rest = seconds % 3600;
    FormatBounded(out, size, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(rest / 60), static_cast<long long>(rest % 60));
}

void FormatSize(char* out, size_t size, int64_t bytes, bool longUnits) {
    if (bytes < 1024) {
        FormatBounded(out, size, "%lld bytes", static_cast<long long>(bytes));
        return;
    }
    int steps = bytes < 1048576 ? 1 : bytes < 1073741824 ? 2 : 3;
    static const char* const kShort[] = {"KB", "MB", "GB"};
    static const char* const kLong[] = {"kilobytes", "megabytes", "gigabytes"};
    float value = static_cast<float>(bytes);
    for (int i = 0; i < steps; ++i) value *= 1.0f / 1024.0f;
    FormatBounded(out, size, "%.01f %s", static_cast<double>(value),
                  (longUnits ? kLong : kShort)[steps - 1]);
}
