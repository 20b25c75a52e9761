#include "foundation/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "foundation/errors.h"
#include "foundation/trash.h"

namespace {

// Throws the current errno through the translation table.
[[noreturn]] void ThrowCurrentErrno(int savedErrno) {
    errno = savedErrno;
    ThrowErrno(0);
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The file a write to path lands in: a symbolic link is followed so the link
// survives the replacement. A dangling link is replaced itself.
std::string WriteTarget(const char* path) {
    struct stat linkInfo {};
    if (lstat(path, &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path, resolved) != nullptr) return resolved;
    }
    return path;
}

std::string RandomSuffix() {
    static thread_local std::mt19937 generator{std::random_device{}()};
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(8, '0');
    for (char& c : suffix) c = kDigits[generator() % (sizeof kDigits - 1)];
    return suffix;
}

// Opens a new temporary file in the target's folder (by its descriptor, so a
// path near the length limit still has room); the kernel applies the umask to
// permissions, so a new shared file gets exactly what fopen would give it.
int CreateTemporary(int folderFd, mode_t permissions, std::string* tempName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempName = ".melodex-" + RandomSuffix() + ".tmp";
        int fd = openat(folderFd, tempName->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool WriteFully(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

void CheckPathLength(const char* path) {
    if (path == nullptr) throw CError{eParamErr};
    if (std::strlen(path) > kMaxPathLength) throw CError{ENAMETOOLONG};
}

void WriteWholeFile(const char* path, const void* bytes, size_t length, EFileMode mode) {
    CheckPathLength(path);
    if (length == 0 || bytes == nullptr) ThrowCurrentErrno(0);  // an empty block is a short write

    const std::string target = WriteTarget(path);
    CheckPathLength(target.c_str());
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    // A file the user made read-only stays unwritable, as with an in-place write.
    if (exists && faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) ThrowCurrentErrno(errno);

    const mode_t permissions = mode == EFileMode::Private ? 0600 : 0666;
    const std::string folder = FolderOf(target);
    const size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) ThrowCurrentErrno(errno);
    std::string tempName;
    const int fd = CreateTemporary(folderFd, permissions, &tempName);
    if (fd < 0) {
        const int failure = errno;
        close(folderFd);
        ThrowCurrentErrno(failure);
    }

    int failure = 0;
    if (exists && mode == EFileMode::Shared && fchmod(fd, existing.st_mode & 07777) != 0) failure = errno;
    if (failure == 0 && !WriteFully(fd, static_cast<const uint8_t*>(bytes), length)) failure = errno;
    if (failure == 0 && fsync(fd) != 0) failure = errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && renameat(folderFd, tempName.c_str(), folderFd, name.c_str()) != 0) failure = errno;
    if (failure != 0) {
        unlinkat(folderFd, tempName.c_str(), 0);
        close(folderFd);
        ThrowCurrentErrno(failure);
    }
    fsync(folderFd);  // makes the rename durable; a folder that cannot sync is no error
    close(folderFd);
}

CFileBlock ReadWholeFile(const char* path) {
    CStreamPtr stream(OpenFile(path, "rb"));
    const int64_t length = StreamLength(stream.get());
    if (length <= 0) ThrowCurrentErrno(length == 0 ? 0 : EINVAL);  // an empty file is a failed read
    if (static_cast<uint64_t>(length) >= SIZE_MAX) throw CError{eOutOfMemory};
    CFileBlock block;
    block.length = static_cast<size_t>(length);
    block.data.reset(static_cast<char*>(AllocOrThrow(block.length + 1)));
    ReadAll(stream.get(), block.data.get(), block.length);
    block.data[block.length] = '\0';
    CloseStream(stream.release());
    return block;
}

bool FileExists(const char* path) {
    if (path == nullptr || std::strlen(path) > kMaxPathLength) return false;
    FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) return false;
    std::fclose(stream);
    return true;
}

int64_t FileSize(const char* path) {
    if (path == nullptr || std::strlen(path) > kMaxPathLength) return 0;
    struct stat info {};
    if (stat(path, &info) != 0) return 0;
    return static_cast<int64_t>(info.st_size);
}

bool MakeDirectories(const char* path, unsigned permissions) {
    if (path == nullptr) return false;
    const size_t length = std::strlen(path);
    if (length > kMaxPathLength) {
        errno = ENAMETOOLONG;
        return false;
    }
    char prefix[kMaxPathLength + 1];
    for (size_t end = path[0] == '/' ? 1 : 0;; ++end) {
        if (path[end] != '/' && path[end] != '\0') continue;
        if (end == 0) return true;
        std::memcpy(prefix, path, end);
        prefix[end] = '\0';
        if (std::strcmp(prefix, "~") != 0 && mkdir(prefix, permissions) != 0) {
            if (errno != EEXIST) return false;
            // Something that is not a folder stands in the way.
            struct stat info {};
            if (stat(prefix, &info) != 0) return false;
            if (!S_ISDIR(info.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
        }
        if (path[end] == '\0') return true;
    }
}

void DeleteFile(const char* path, EDeleteMode mode) {
    CheckPathLength(path);
    if (mode == EDeleteMode::MoveToTrash) {
        MoveToTrash(path);
        return;
    }
    if (unlink(path) != 0) throw CError{errno};
}

const char* FileExtension(const char* path) {
    const char* dot = std::strrchr(path, '.');
    return dot != nullptr ? dot : path + std::strlen(path);
}

char* FileExtension(char* path) {
    return const_cast<char*>(FileExtension(static_cast<const char*>(path)));
}

const char* LastPathComponent(const char* path) {
    const char* start = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') start = p + 1;
    }
    return start;
}

char* LastPathComponent(char* path) {
    return const_cast<char*>(LastPathComponent(static_cast<const char*>(path)));
}

FILE* OpenFile(const char* path, const char* mode) {
    CheckPathLength(path);
    errno = 0;
    FILE* stream = std::fopen(path, mode);
    if (stream == nullptr) ThrowErrno(0);
    return stream;
}

int64_t StreamLength(FILE* stream) {
    errno = 0;
    const off_t remembered = ftello(stream);
    if (remembered < 0 || fseeko(stream, 0, SEEK_END) != 0) ThrowErrno(0);
    const off_t length = ftello(stream);
    if (length < 0 || fseeko(stream, remembered, SEEK_SET) != 0) ThrowErrno(0);
    return static_cast<int64_t>(length);
}

void SeekStream(FILE* stream, int64_t offset) {
    errno = 0;
    const int origin = offset >= 0 ? SEEK_SET : SEEK_END;
    if (fseeko(stream, static_cast<off_t>(offset), origin) != 0) ThrowErrno(0);
}

void WriteAll(FILE* stream, const void* bytes, size_t length) {
    if (length == 0) return;
    errno = 0;
    if (std::fwrite(bytes, length, 1, stream) != 1) ThrowErrno(0);
}

void ReadAll(FILE* stream, void* bytes, size_t length) {
    if (length == 0) return;
    errno = 0;  // a read that meets the end leaves errno alone: report -1
    if (std::fread(bytes, length, 1, stream) != 1) ThrowErrno(0);
}

void CloseStream(FILE* stream) {
    errno = 0;
    if (std::fclose(stream) != 0) ThrowErrno(0);
}
