#include "foundation/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void ThrowRaw(int err) { throw CError{err != 0 ? err : -1}; }

struct CTrashDir {
    std::string root;        // holds files/ and info/
    std::string pathPrefix;  // what Path= is relative to; empty for absolute paths
};

// Path= value: bytes outside the unreserved set and "/" are %-escaped.
std::string PercentEncode(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::strchr("-_.~/", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string DeletionDate() {
    time_t now = static_cast<time_t>(Clock().WallTime());
    tm local {};
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool EnsureTrashLayout(const std::string& root) {
    return MakeDirectories((root + "/files").c_str(), 0700) &&
           MakeDirectories((root + "/info").c_str(), 0700);
}

// Absolute path with the folder part resolved, so the walk to the mount point
// follows the real file system; the last component (maybe a link) stays.
std::string ResolvedPath(const char* path) {
    std::string text = path;
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const size_t slash = text.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : text.substr(0, slash));
    const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    char resolved[PATH_MAX];
    if (realpath(folder.c_str(), resolved) == nullptr) ThrowRaw(errno);
    std::string full = resolved;
    if (full != "/") full += '/';
    full += name;
    if (full.size() > kMaxPathLength) ThrowRaw(ENAMETOOLONG);
    return full;
}

// The mount point of the file system that holds path: the highest folder
// above it on the same device.
std::string TopDirectory(const std::string& path, dev_t device) {
    std::string top = path.substr(0, path.rfind('/'));
    if (top.empty()) return "/";
    while (true) {
        const size_t slash = top.rfind('/');
        const std::string parent = slash == 0 ? "/" : top.substr(0, slash);
        struct stat info {};
        if (stat(parent.c_str(), &info) != 0 || info.st_dev != device) return top;
        if (parent == "/") return "/";
        top = parent;
    }
}

bool IsPrivateFolder(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid();
}

// The volume's Trash for a file that is not on the home Trash's file system;
// false when the volume offers none that may be used.
bool VolumeTrash(const std::string& top, CTrashDir* trash) {
    const std::string uid = std::to_string(getuid());
    const std::string base = top == "/" ? "" : top;
    // Method 1: an administrator-made $topdir/.Trash with the sticky bit, not a link.
    struct stat shared {};
    const std::string sharedTrash = base + "/.Trash";
    if (lstat(sharedTrash.c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX)) {
        const std::string root = sharedTrash + "/" + uid;
        if ((mkdir(root.c_str(), 0700) == 0 || errno == EEXIST) && IsPrivateFolder(root) && EnsureTrashLayout(root)) {
            *trash = {root, base};
            return true;
        }
    }
    // Method 2: $topdir/.Trash-$uid, made by us when missing.
    const std::string root = base + "/.Trash-" + uid;
    if ((mkdir(root.c_str(), 0700) == 0 || errno == EEXIST) && IsPrivateFolder(root) && EnsureTrashLayout(root)) {
        *trash = {root, base};
        return true;
    }
    return false;
}

// Name in the Trash for attempt n: the original name, then "stem.n.ext".
// Cut so that NAME.trashinfo fits a file name, at a UTF-8 character boundary.
std::string CandidateName(const std::string& name, int attempt) {
    std::string stem = name;
    std::string ext;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    std::string number;
    if (attempt > 1) number.append(".").append(std::to_string(attempt));
    const size_t room = NAME_MAX - std::strlen(".trashinfo");
    if (ext.size() + number.size() >= room) ext.clear();
    size_t keep = room - ext.size() - number.size();
    if (stem.size() > keep) {
        while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) --keep;
        stem.resize(keep);
    }
    return stem + number + ext;
}

// Reserves a unique name by creating its info file exclusively and writes it.
std::string WriteInfo(const CTrashDir& trash, const std::string& original, std::string* infoPath) {
    const std::string name = LastPathComponent(original.c_str());
    std::string relative = original;
    if (!trash.pathPrefix.empty()) relative = original.substr(trash.pathPrefix.size() + 1);
    const std::string content =
        "[Trash Info]\nPath=" + PercentEncode(relative) + "\nDeletionDate=" + DeletionDate() + "\n";
    for (int attempt = 1; attempt < 100000; ++attempt) {
        const std::string candidate = CandidateName(name, attempt);
        *infoPath = trash.root + "/info/" + candidate + ".trashinfo";
        const int fd = open(infoPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            ThrowRaw(errno);
        }
        // A stray file without info also keeps its name.
        struct stat stray {};
        const std::string target = trash.root + "/files/" + candidate;
        if (lstat(target.c_str(), &stray) == 0) {
            close(fd);
            unlink(infoPath->c_str());
            continue;
        }
        const ssize_t written = write(fd, content.data(), content.size());
        const int err = errno;
        if (close(fd) != 0 || written != static_cast<ssize_t>(content.size())) {
            unlink(infoPath->c_str());
            ThrowRaw(written < 0 ? err : EIO);
        }
        return target;
    }
    ThrowRaw(EEXIST);
}

// Copy into the Trash, then remove the original. When the copy fails, or a
// file cannot be removed, the copy goes again and the original stays; a
// folder that was removed only in part keeps its full copy in the Trash.
void CopyThenRemove(const std::string& path, const std::string& target, const std::string& infoPath) {
    std::error_code ec;
    fs::copy(path, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(target, ignored);
        unlink(infoPath.c_str());
        ThrowRaw(ec.value());
    }
    std::error_code kindError;
    const bool folder = fs::is_directory(fs::symlink_status(path, kindError));
    fs::remove_all(path, ec);
    if (ec) {
        if (!folder) {
            std::error_code ignored;
            fs::remove_all(target, ignored);
            unlink(infoPath.c_str());
        }
        ThrowRaw(ec.value());
    }
}

void TrashInto(const CTrashDir& trash, const std::string& path, bool copy) {
    std::string infoPath;
    const std::string target = WriteInfo(trash, path, &infoPath);
    if (!copy) {
        if (rename(path.c_str(), target.c_str()) == 0) return;
        const int err = errno;
        // Same device number on another mount (a bind mount) still needs a copy.
        if (err != EXDEV) {
            unlink(infoPath.c_str());
            ThrowRaw(err);
        }
    }
    CopyThenRemove(path, target, infoPath);
}

}  // namespace

void MoveToTrash(const char* path) {
    CheckPathLength(path);
    struct stat file {};
    if (lstat(path, &file) != 0) ThrowRaw(errno);
    const std::string full = ResolvedPath(path);

    const CTrashDir home{TrashFolder(), ""};
    if (!EnsureTrashLayout(home.root)) ThrowRaw(errno);
    struct stat homeInfo {};
    if (stat(home.root.c_str(), &homeInfo) != 0) ThrowRaw(errno);

    if (homeInfo.st_dev == file.st_dev) {
        TrashInto(home, full, false);
        return;
    }
    CTrashDir volume;
    if (VolumeTrash(TopDirectory(full, file.st_dev), &volume)) {
        TrashInto(volume, full, false);
        return;
    }
    TrashInto(home, full, true);
}
