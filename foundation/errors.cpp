#include "foundation/errors.h"

#include <cerrno>
#include <cstdlib>

#include "foundation/text.h"

namespace {

struct MessageRow {
    int32_t code;
    const char* message;
};

// Order matters: lookup takes the first row with the code.
constexpr MessageRow kMessages[] = {
    {-1, "Unspecified Eror"},
    {-3263, "Host Not Found"},
    {-41, "Out of Memory"},
    {-43, "File Not Found"},
    {-45, "File Is Read-Only"},
    {-68, "Invalid Data"},
    {-2415, "Nework Timeout Error"},
    {66, "Can't delete folder: it is not empty"},
    {1, "Operation not permitted"},
    {13, "Permission denied"},
    {-47, "Can't delete file: is in use"},
    {-48, "Can't copy/rename file: destination is locked or in use"},
    {-5000, "Insufficient access privileges for operation"},
};

struct ErrnoRow {
    int32_t err;
    int32_t code;
};

constexpr ErrnoRow kErrnoCodes[] = {
    {1, -45}, {2, -43}, {3, -27}, {5, -36}, {12, -41},
    {17, -1301}, {19, -123}, {64, -3263}, {65, -3264}, {89, -128},
};

}  // namespace

int32_t TranslateErrno(int32_t err) {
    for (const ErrnoRow& row : kErrnoCodes) {
        if (row.err == err) return row.code;
    }
    return err;
}

void ThrowErrno(int32_t initialCode) {
    if (initialCode != 0) throw CError{initialCode};
    int32_t code = errno;
    if (code == 0) code = -1;
    throw CError{TranslateErrno(code)};
}

void ErrorMessage(int32_t code, char* out, size_t size) {
    char message[256];
    CopyBounded(message, sizeof message, "Unknown Error");
    for (const MessageRow& row : kMessages) {
        if (row.code == code) {
            CopyBounded(message, sizeof message, row.message);
            break;
        }
    }
    FormatBounded(out, size, "%s (Error# %d)", message, static_cast<int>(code));
}

std::string ErrorMessage(int32_t code) {
    char text[320];
    ErrorMessage(code, text, sizeof text);
    return text;
}

void* AllocOrThrow(size_t size) {
    // A zero size still yields a unique block, so null always means failure.
    void* block = std::malloc(size ? size : 1);
    if (block == nullptr) throw CError{eOutOfMemory};
    return block;
}

void* ReallocOrThrow(void* block, size_t size) {
    void* grown = std::realloc(block, size ? size : 1);
    if (grown == nullptr) throw CError{eOutOfMemory};
    return grown;
}
