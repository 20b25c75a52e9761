#pragma once
// The header table of an HTTP response: at most ten headers, names cut to 47
// and values to 1,023 characters.

#include <cstddef>
#include <cstdint>

class CHttpHeaders {
public:
    static constexpr int32_t kMaxHeaders = 10;
    static constexpr size_t kNameSize = 48;
    static constexpr size_t kValueSize = 1024;

    // Parses a header block (the bytes after the status line up to and
    // including the blank line). Headers past the tenth are ignored. Returns
    // false when a header has no ':' or its value no line end; the headers
    // read before the failure stay.
    bool Parse(const char* block, size_t length);
    void Clear() { count_ = 0; }

    int32_t Count() const { return count_; }
    const char* Name(int32_t index) const { return names_[index]; }
    const char* Value(int32_t index) const { return values_[index]; }
    // Value of the first header with this name in any letter case, or null.
    const char* Find(const char* name) const;

private:
    int32_t count_ = 0;
    char names_[kMaxHeaders][kNameSize] = {};
    char values_[kMaxHeaders][kValueSize] = {};
};
