#pragma once
// Whole-file and stream operations over POSIX paths (the file system's bytes,
// never re-encoded). Failures throw CError: translated errno codes through
// ThrowErrno, raw errno codes from DeleteFile. A path longer than
// kMaxPathLength bytes fails with ENAMETOOLONG and is never used shortened.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Longest path the operations accept (bytes, terminator excluded).
constexpr size_t kMaxPathLength = 4095;

// Throws CError{ENAMETOOLONG} for a path over kMaxPathLength bytes and
// CError{eParamErr} for a null path.
void CheckPathLength(const char* path);

struct CFreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

// A block from AllocOrThrow: length bytes of file content plus a NUL behind them.
struct CFileBlock {
    std::unique_ptr<char[], CFreeDeleter> data;
    size_t length = 0;
};

enum class EFileMode {
    Shared,   // new files get 0666 less the umask; a replaced file keeps its mode
    Private,  // always 0600: files that hold account data
};

// Replaces the file atomically: the bytes go to a temporary file in the same
// folder, which is flushed to disk and renamed over the target, so a crash or
// a full disk never leaves a truncated file. A symbolic link is followed and
// its target replaced. An empty block fails (CError -1) and touches nothing.
void WriteWholeFile(const char* path, const void* bytes, size_t length,
                    EFileMode mode = EFileMode::Shared);
// The whole content; an empty file fails like a failed read.
CFileBlock ReadWholeFile(const char* path);
// True when the path can be opened for reading. Never throws.
bool FileExists(const char* path);
// Size from stat, 64-bit; 0 when stat fails (or the path is too long).
int64_t FileSize(const char* path);
// Creates every missing folder along the path (like mkdir -p). Existing
// folders count as success; a non-folder in the way fails. Never throws.
bool MakeDirectories(const char* path, unsigned permissions = 0777);

enum class EDeleteMode { Remove, MoveToTrash };
// Removes the file, or moves it to the user's Trash (freedesktop.org Trash
// standard). Nothing already in the Trash is ever replaced: a taken name
// gets a numbered variant. Failures throw the raw errno value.
void DeleteFile(const char* path, EDeleteMode mode);

// Position of the last "." of the path, or of its terminator (empty text).
const char* FileExtension(const char* path);
char* FileExtension(char* path);
// Position behind the last "/" or "\\", or the whole path.
const char* LastPathComponent(const char* path);
char* LastPathComponent(char* path);

// Thin stream operations; each failure throws through ThrowErrno(0).
FILE* OpenFile(const char* path, const char* mode);
int64_t StreamLength(FILE* stream);
// offset >= 0 seeks from the start, a negative offset from the end.
void SeekStream(FILE* stream, int64_t offset);
// A zero length transfers nothing and succeeds.
void WriteAll(FILE* stream, const void* bytes, size_t length);
void ReadAll(FILE* stream, void* bytes, size_t length);
void CloseStream(FILE* stream);

// Owner for a stream whose close result does not matter (read side, error paths).
struct CStreamCloser {
    void operator()(FILE* stream) const {
        if (stream != nullptr) std::fclose(stream);
    }
};
using CStreamPtr = std::unique_ptr<FILE, CStreamCloser>;
