#include "fileops/rename.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include "fileops/itunes.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/latin1.h"
#include "foundation/text.h"
#include "library/song.h"

namespace {

// Platform codes of rename failures that the error alert explains.
constexpr int32_t kAccessDenied = -5000;
constexpr int32_t kWritePermission = -61;

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The folder part of a path, without the final "/" ("/" for the root).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

size_t NameMax(const std::string& folder) {
    const long max = pathconf(folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? static_cast<size_t>(max) : 255;
}

// The UTF-8 name for the file system, cut on a character boundary in front
// of ".mp3" (or at the end) when the file system allows fewer bytes.
std::string FileSystemName(const char* latin1, size_t nameMax) {
    std::string name = EncodeLatin1AsUtf8(latin1);
    if (name.size() <= nameMax) return name;
    static const std::string kExt = ".mp3";
    const bool hasExt = name.size() > kExt.size() && name.compare(name.size() - kExt.size(), kExt.size(), kExt) == 0;
    if (!hasExt || nameMax <= kExt.size()) return name.substr(0, Utf8PrefixLength(name, nameMax));
    const std::string stem = name.substr(0, name.size() - kExt.size());
    return stem.substr(0, Utf8PrefixLength(stem, nameMax - kExt.size())) + kExt;
}

// 0, or the errno of a rename that must not replace an existing name.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int err = errno;
    if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
    // A file system without the flag: a hard link also refuses a taken name.
    if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) == 0) return 0;
        err = errno;
        unlink(to.c_str());
        return err;
    }
    err = errno;
    if (err != EPERM && err != ENOTSUP && err != ENOSYS) return err;
    // Neither: look first (a race remains only on such file systems).
    struct stat info {};
    if (lstat(to.c_str(), &info) == 0) return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// True when the taken name is the file itself (a name differing only in case
// on a case-insensitive file system, or another link to it).
bool SameFileAt(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return lstat(a.c_str(), &sa) == 0 && lstat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int32_t RenameErrorCode(int err) {
    switch (err) {
        case EACCES:
            return kAccessDenied;
        case EROFS:
            return kWritePermission;
        default:
            return TranslateErrno(err);
    }
}

}  // namespace

bool ExpandPattern(const CSong& song, const char* pattern, char* out, size_t size) {
    if (size == 0) return false;
    out[0] = '\0';
    const CTagValues& values = song.DisplayedValues();
    const char* texts[] = {values.artist, values.album, values.title, values.genre, values.year};
    const int32_t numbers[] = {values.track, values.disc};
    bool used = false;
    for (const char* p = pattern; *p != '\0';) {
        if (*p != '%') {
            const char byte[2] = {*p++, '\0'};
            AppendBounded(out, size, byte);
            continue;
        }
        size_t which = 0;
        size_t length = 0;
        for (; which < std::size(kRenamePlaceholders); ++which) {
            length = std::strlen(kRenamePlaceholders[which]);
            if (std::strncmp(p, kRenamePlaceholders[which], length) == 0) break;
        }
        if (which == std::size(kRenamePlaceholders)) {
            ++p;  // an unknown placeholder loses its "%"
            continue;
        }
        p += length;
        if (which < std::size(texts)) {
            if (texts[which][0] == '\0') continue;
            AppendBounded(out, size, texts[which]);
        } else {
            const int32_t number = numbers[which - std::size(texts)];
            if (number == 0) continue;
            char digits[16];
            FormatBounded(digits, sizeof digits, "%02d", static_cast<int>(number));
            AppendBounded(out, size, digits);
        }
        used = true;
    }
    for (char* c = out; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        // "/" cannot be part of a file name here; it is mapped like ":".
        if ((byte >= 1 && byte <= 31) || *c == ':' || *c == '/') *c = '-';
    }
    const char* start = out;
    while (Blank(*start)) ++start;
    std::memmove(out, start, std::strlen(start) + 1);
    size_t end = std::strlen(out);
    while (end > 0 && Blank(out[end - 1])) out[--end] = '\0';
    if (!used) {
        out[0] = '\0';
        return false;
    }
    AppendBounded(out, size, ".mp3");
    return true;
}

std::string RenameStatusText(const CRenameRun& run) {
    const char* doing = run.action.load(std::memory_order_acquire) == ERenameAction::None ? "Confirm Rename"
                        : run.notifying.load(std::memory_order_relaxed) ? "Renamed. Notifying iTunes..."
                                                                        : "Renaming...";
    char text[128];
    FormatBounded(text, sizeof text, "File %d out of %d: %s", run.index.load(std::memory_order_relaxed) + 1,
                  run.Count(), doing);
    return text;
}

CRenameRun::~CRenameRun() {
    if (!worker_.joinable()) return;
    Decide(ERenameAction::Cancel);
    Resume();
    worker_.join();
}

void CRenameRun::Start(std::vector<CSong*> songs, const char* pattern, bool notifyItunes) {
    Join();
    songs_ = std::move(songs);
    SetPattern(pattern);
    notifyItunes_ = notifyItunes;
    index.store(0);
    action.store(ERenameAction::None);
    newName[0] = '\0';
    // The worker asks for the first decision itself, after it has reset the
    // action; an earlier question could be answered and then wiped.
    promptPending.store(false);
    notifying.store(false);
    errorPending.store(false);
    resume.store(false);
    retrySong.store(false);
    busy.store(false);
    finished.store(false);
    worker_ = std::thread([this] { Run(); });
}

void CRenameRun::Join() {
    if (worker_.joinable()) worker_.join();
}

void CRenameRun::ApplyRenames() {
    std::vector<std::pair<CSong*, std::string>> done;
    {
        std::lock_guard<std::mutex> lock(renamedMutex_);
        done.swap(renamed_);
    }
    for (auto& [song, path] : done) song->fileRef.path = std::move(path);
}

void CRenameRun::Wake() {
    { std::lock_guard<std::mutex> lock(wakeMutex_); }
    wake_.notify_all();
}

void CRenameRun::Decide(ERenameAction decision) {
    action.store(decision, std::memory_order_release);
    Wake();
}

void CRenameRun::Resume() {
    resume.store(true, std::memory_order_release);
    Wake();
}

void CRenameRun::SetPattern(const char* pattern) {
    std::lock_guard<std::mutex> lock(patternMutex_);
    CopyBounded(pattern_, sizeof pattern_, pattern);
}

template <class Pred>
void CRenameRun::WaitUntil(Pred ready) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    while (!ready()) wake_.wait_for(lock, std::chrono::milliseconds(100));
}

bool CRenameRun::RenameFile(CSong& song, const char* requested) {
    if (requested[0] == '\0') return true;
    const std::string oldPath = song.fileRef.path;
    const std::string folder = FolderOf(oldPath);
    const std::string oldName = LastPathComponent(oldPath.c_str());
    const size_t nameMax = NameMax(folder);

    char tried[kNameSize];
    CopyBounded(tried, sizeof tried, requested);
    int32_t code = 0;
    std::string newPath;
    struct stat info {};
    if (lstat(oldPath.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0) {
        // Without the owner's write permission a file counts as locked.
        code = eFileReadOnly;
    }
    for (int counter = 2; code == 0; ++counter) {
        const std::string name = FileSystemName(tried, nameMax);
        if (name == oldName) return true;
        newPath = folder == "/" ? "/" + name : folder + "/" + name;
        int err = RenameNoReplace(oldPath, newPath);
        if (err == EEXIST && SameFileAt(oldPath, newPath))
            err = rename(oldPath.c_str(), newPath.c_str()) == 0 ? 0 : errno;
        if (err == 0) break;
        if (err != EEXIST) {
            code = RenameErrorCode(err);
            break;
        }
        // A taken name: the requested name without its extension, numbered.
        CopyBounded(tried, sizeof tried, requested);
        if (char* dot = std::strrchr(tried, '.'); dot != nullptr) *dot = '\0';
        char suffix[32];
        FormatBounded(suffix, sizeof suffix, " (%d).mp3", counter);
        AppendBounded(tried, sizeof tried, suffix);
    }

    if (code == 0) {
        utimes(newPath.c_str(), nullptr);
        {
            // A rename keeps the file's identity; only the path changes.
            std::lock_guard<std::mutex> lock(renamedMutex_);
            renamed_.emplace_back(&song, newPath);
        }
        if (notifyItunes_ && song.iTunesDatabaseId != -1) {
            notifying.store(true, std::memory_order_relaxed);
            RefreshItunesTrack(song.iTunesDatabaseId);
            notifying.store(false, std::memory_order_relaxed);
        }
        return true;
    }

    char text[3 * kNameSize];
    FormatBounded(text, sizeof text, "Could not rename file\n\n\"%s\"\n\nto\n\n\"%s\"\n",
                  DecodeUtf8ToLatin1(oldName).c_str(), tried);
    if (code == kAccessDenied || code == kWritePermission || code == -54)
        AppendBounded(text, sizeof text, "\nbecause you dont have enough access privileges for this operation.");
    else if (code == eFileReadOnly)
        AppendBounded(text, sizeof text, "\nbecause file is locked.");
    errorText = text;
    FormatBounded(text, sizeof text, "\nError: %d", static_cast<int>(code));
    errorCode = text;
    resume.store(false, std::memory_order_relaxed);
    errorPending.store(true, std::memory_order_release);
    WaitUntil([this] { return resume.load(std::memory_order_acquire); });
    return false;
}

void CRenameRun::Run() {
    bool previousInRenameAll = false;
    for (size_t i = 0; i < songs_.size(); ++i) {
        CSong& song = *songs_[i];
        bool retry = false;
        do {
            if (!retry) {
                // On a retry the window has already reset the decision and
                // asked again; resetting it here could swallow the answer.
                const ERenameAction current = action.load(std::memory_order_acquire);
                if (current == ERenameAction::Cancel) goto end;
                if (current != ERenameAction::RenameAll) {
                    busy.store(false, std::memory_order_relaxed);
                    action.store(ERenameAction::None, std::memory_order_release);
                }
                index.store(static_cast<int32_t>(i), std::memory_order_relaxed);
                promptPending.store(true, std::memory_order_release);
            }
            retry = false;
            ERenameAction decision = action.load(std::memory_order_acquire);
            if (decision != ERenameAction::RenameAll) {
                WaitUntil([&] {
                    decision = action.load(std::memory_order_acquire);
                    return decision != ERenameAction::None;
                });
                if (decision == ERenameAction::Cancel) goto end;
                busy.store(true, std::memory_order_relaxed);
                if (decision == ERenameAction::Skip) break;
            }

            struct stat info {};
            if (!song.fileRef.IsSet() || lstat(song.fileRef.path.c_str(), &info) != 0) break;
            if (action.load(std::memory_order_acquire) == ERenameAction::Cancel) goto end;

            const bool inRenameAll = decision == ERenameAction::RenameAll;
            char name[kNameSize];
            if (!inRenameAll || !previousInRenameAll) {
                CopyBounded(name, sizeof name, newName);
            } else {
                std::lock_guard<std::mutex> lock(patternMutex_);
                // No name from the pattern: the file keeps its name.
                ExpandPattern(song, pattern_, name, sizeof name);
            }
            if (!RenameFile(song, name)) retry = retrySong.exchange(false, std::memory_order_acq_rel);
            if (!retry) previousInRenameAll = inRenameAll;
        } while (retry);
    }
end:
    finished.store(true, std::memory_order_release);
}
