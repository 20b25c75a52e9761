#pragma once
// The one error value of the system, the code-to-message table and the
// throwing allocators.

#include <cstddef>
#include <cstdint>
#include <string>

// Thrown and caught by value. A code is a platform error number (negative),
// a POSIX errno value (positive), or one of the basic codes below.
struct CError {
    int32_t code;
};

// Basic error codes. Only eInvalidData is ever thrown on its own (by the
// preferences loader); catch sites that must survive anything catch (...).
enum EBasicErrCode : int32_t {
    eUnspecified = -1,
    eOutOfMemory = -41,
    eFileNotFound = -43,
    eFileReadOnly = -45,
    eInvalidData = -68,
    eParamErr = -50,
};

// Reports a failed standard-library call. A non-zero initial code is thrown
// as it is; otherwise errno (or -1 when errno is 0) is translated through the
// errno table and thrown.
[[noreturn]] void ThrowErrno(int32_t initialCode);

// The platform code for a POSIX errno value (values without a row pass through).
int32_t TranslateErrno(int32_t err);

// "%s (Error# %d)" with the table's message, cut to size and terminated.
void ErrorMessage(int32_t code, char* out, size_t size);
std::string ErrorMessage(int32_t code);

// malloc/realloc that throw CError{-41} instead of returning null.
void* AllocOrThrow(size_t size);
void* ReallocOrThrow(void* block, size_t size);
