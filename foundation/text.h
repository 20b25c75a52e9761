#pragma once
// Bounded operations on NUL-terminated byte text, and the two formatters.
// "size" is always the destination's full size, terminator included; every
// operation cuts silently and never writes past it.

#include <cstddef>
#include <cstdint>

// Copies at most size - 1 bytes and terminates; returns the terminator's position.
char* CopyBounded(char* dst, size_t size, const char* src);
// Appends what fits behind the current text; returns the terminator's position.
char* AppendBounded(char* dst, size_t size, const char* src);
// Puts prefix in front of the current text (work area of 65,536 bytes).
char* PrependBounded(char* dst, size_t size, const char* prefix);
// printf into at most size bytes; the last byte is forced to NUL.
void FormatBounded(char* dst, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Copies the bytes between the first start marker and the first end marker
// behind it; returns the position behind the end marker, or null (output
// untouched) when a marker is missing.
const char* ExtractBetween(const char* text, const char* startMarker, const char* endMarker,
                           char* out, size_t outSize);
const char* ExtractBetweenNoCase(const char* text, const char* startMarker,
                                 const char* endMarker, char* out, size_t outSize);
// Case-insensitive strstr.
const char* FindNoCase(const char* text, const char* marker);
// Position behind the first occurrence of marker, or null.
const char* FindAfter(const char* text, const char* marker);
// First byte that is neither space nor tab.
const char* SkipBlanks(const char* text);
char* SkipBlanks(char* text);
// Cuts trailing spaces and tabs; returns the new terminator's position.
char* TrimTrailingBlanks(char* text);
// Reads a decimal number up to a delimiter byte (or the end); null on failure
// (no digits, a non-digit, more than 32 digits). Returns the position behind
// the delimiter, or the terminator.
const char* ParseDecimalField(const char* text, const char* delimiters, int64_t* result);
void UpperCaseInPlace(char* text);

// Owned strings: blocks from AllocOrThrow, released with free.
void AssignString(char** owner, const char* source);
void AssignBytes(char** owner, const void* bytes, size_t length);
char* DuplicateString(const char* text);
void FreeAndNull(char** owner);

// "%02d:%02d:%02d"; hours are not capped.
void FormatDuration(char* out, size_t size, int64_t seconds);
// "%d bytes" below 1,024, else one decimal in KB/MB/GB (or the long unit names).
void FormatSize(char* out, size_t size, int64_t bytes, bool longUnits);
