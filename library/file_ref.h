#pragma once
// Identity of a file: its absolute path plus the device and inode that
// recognise the same file again under another name (a hard link, a symlink,
// a relative path). The path is what the user sees and what is opened.

#include <sys/types.h>

#include <cstdint>
#include <string>

struct CFileRef {
    std::string path;  // absolute; empty when the reference is not set
    dev_t device = 0;
    ino_t inode = 0;

    bool IsSet() const { return !path.empty(); }
};

// Makes a reference from a path (made absolute against the working folder,
// symlinks not resolved) by reading the file's identity with stat. Throws
// CError: the translated errno (-43 for a missing file), ENAMETOOLONG for an
// absolute path longer than kMaxPathLength, -50 for a null path.
CFileRef MakeFileRef(const char* path);

// Same file on the same device; paths are not compared. Unset references
// never match.
bool SameFile(const CFileRef& a, const CFileRef& b);

// The last component of the path.
const char* FileRefName(const CFileRef& ref);
