#include "library/file_ref.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "foundation/errors.h"
#include "foundation/files.h"

CFileRef MakeFileRef(const char* path) {
    CheckPathLength(path);
    if (*path == '\0') throw CError{eFileNotFound};
    CFileRef ref;
    if (path[0] == '/') {
        ref.path = path;
    } else {
        auto cwd = std::make_unique<char[]>(kMaxPathLength + 1);
        if (getcwd(cwd.get(), kMaxPathLength + 1) == nullptr) ThrowErrno(0);
        ref.path = cwd.get();
        if (ref.path.back() != '/') ref.path += '/';
        ref.path += path;
    }
    CheckPathLength(ref.path.c_str());

    struct stat info;
    if (stat(ref.path.c_str(), &info) != 0) ThrowErrno(0);
    ref.device = info.st_dev;
    ref.inode = info.st_ino;
    return ref;
}

bool SameFile(const CFileRef& a, const CFileRef& b) {
    return a.IsSet() && b.IsSet() && a.device == b.device && a.inode == b.inode;
}

const char* FileRefName(const CFileRef& ref) {
    const char* path = ref.path.c_str();
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}
