#include "library/add_songs.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "audio/mpeg_info.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "library/song_list.h"
#include "library/tags.h"

namespace {

// Paths of the walk are built in buffers of this size.
constexpr size_t kWalkPathSize = 4096;

struct CDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using CDirPtr = std::unique_ptr<DIR, CDirCloser>;

enum class EEntryKind { Regular, Directory, Other };

// The entry type from readdir, or from lstat where the file system does not
// report it; links are never followed.
EEntryKind KindOf(const dirent* entry, const char* path) {
    switch (entry->d_type) {
        case DT_REG:
            return EEntryKind::Regular;
        case DT_DIR:
            return EEntryKind::Directory;
        case DT_UNKNOWN: {
            struct stat info;
            if (lstat(path, &info) != 0) return EEntryKind::Other;
            if (S_ISREG(info.st_mode)) return EEntryKind::Regular;
            if (S_ISDIR(info.st_mode)) return EEntryKind::Directory;
            return EEntryKind::Other;
        }
        default:
            return EEntryKind::Other;
    }
}

// "%s/%s" into the buffer; false when it does not fit, because a cut path
// would name another file.
bool JoinPath(char* out, const char* folder, const char* name) {
    int written = std::snprintf(out, kWalkPathSize, "%s/%s", folder, name);
    return written >= 0 && static_cast<size_t>(written) < kWalkPathSize;
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool Complete(const CTagValues& t) {
    return t.title[0] != '\0' && t.album[0] != '\0' && t.artist[0] != '\0' && t.genre[0] != '\0' &&
           t.year[0] != '\0';
}

}  // namespace

bool IsMp3Candidate(const char* name) {
    if (name == nullptr) return false;
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && strcasecmp(dot, ".mp3") == 0;
}

bool DragHasAddableItem(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (IsMp3Candidate(LastPathComponent(path.c_str()))) return true;
        struct stat info;
        if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    }
    return false;
}

std::string AddProgressText(bool counting, int32_t total, int32_t staged) {
    char text[128];
    if (counting)
        FormatBounded(text, sizeof text, "Counting songs... %d found so far", total);
    else
        FormatBounded(text, sizeof text, "Added %d songs of %d", staged, total);
    return text;
}

CAddOperation::~CAddOperation() {
    Stop();
    if (worker_.joinable()) worker_.join();
}

void CAddOperation::Begin(const CSongList& listed) {
    // A previous run is finished; its thread may still be winding down.
    if (worker_.joinable()) worker_.join();
    listedIds_.clear();
    for (const CSong& song : listed)
        if (song.fileRef.IsSet()) listedIds_.emplace(song.fileRef.device, song.fileRef.inode);
    cancelRequested_.store(false, std::memory_order_relaxed);
    counting_.store(true, std::memory_order_relaxed);
    total_.store(0, std::memory_order_relaxed);
    stagedCount_.store(0, std::memory_order_relaxed);
    done_.store(false, std::memory_order_relaxed);
    sheetShown = false;
    startTime_ = Clock().Now();
    nextTimer_ = startTime_ + kTimerInterval;
    worker_ = std::thread([this] { Run(); });
}

void CAddOperation::StartAdd(const CSongList& listed, std::vector<CFileRef> items, std::vector<int32_t> ids) {
    if (worker_.joinable()) worker_.join();
    items_ = std::move(items);
    itemIds_ = ids.size() == items_.size() ? std::move(ids) : std::vector<int32_t>{};
    itemLengths_.clear();
    itemRates_.clear();
    importer_.reset();
    playlistIndex_ = -1;
    incompleteOnly_ = false;
    Begin(listed);
}

void CAddOperation::StartImport(const CSongList& listed, std::unique_ptr<CItunesLibrary> importer,
                                int32_t playlistIndex, bool incompleteOnly) {
    if (worker_.joinable()) worker_.join();
    items_.clear();
    itemIds_.clear();
    itemLengths_.clear();
    itemRates_.clear();
    importer_ = std::move(importer);
    playlistIndex_ = playlistIndex;
    incompleteOnly_ = incompleteOnly;
    Begin(listed);
}

bool CAddOperation::TimerDue(double now) {
    if (Done() || now < nextTimer_) return false;
    nextTimer_ = now + kTimerInterval;
    return true;
}

CAddProgress CAddOperation::Progress() const {
    CAddProgress p;
    const bool counting = Counting();
    p.maximum = Total();
    p.value = StagedCount();
    p.text = AddProgressText(counting, p.maximum, p.value);
    p.fraction = counting ? -1.0 : p.maximum > 0 ? static_cast<double>(p.value) / p.maximum : 0.0;
    p.stopEnabled = !CancelRequested();
    return p;
}

int32_t CAddOperation::Finish(CSongList& list) {
    if (!Done()) return 0;
    if (worker_.joinable()) worker_.join();
    const int32_t count = staged_.Count();
    list.AdoptStaged(std::span<const CSong>(staged_.data(), static_cast<size_t>(count)));
    staged_.Clear();
    stagedCount_.store(0, std::memory_order_relaxed);
    listedIds_.clear();
    return count;
}

void CAddOperation::Step() {
    if (onStep) onStep(*this);
}

void CAddOperation::Run() {
    try {
        staged_.Clear();
        CountPhase();
        counting_.store(false, std::memory_order_relaxed);
        if (total_.load(std::memory_order_relaxed) > 0) AddPhase();
    } catch (...) {
        // Out of memory or a failing file layer ends the run with what was staged.
        counting_.store(false, std::memory_order_relaxed);
    }
    items_.clear();
    itemIds_.clear();
    itemLengths_.clear();
    itemRates_.clear();
    importer_.reset();
    done_.store(true, std::memory_order_release);
}

void CAddOperation::CountPhase() {
    if (importer_) {
        CCollectedTracks tracks;
        importer_->CollectTracks(playlistIndex_, cancelRequested_, tracks, &total_);
        importer_.reset();
        items_ = std::move(tracks.items);
        itemIds_ = std::move(tracks.ids);
        itemLengths_ = std::move(tracks.lengths);
        itemRates_ = std::move(tracks.rates);
        total_.store(static_cast<int32_t>(items_.size()), std::memory_order_relaxed);
        return;
    }
    for (const CFileRef& item : items_) {
        if (Cancelled()) return;
        struct stat info;
        if (item.path.empty() || stat(item.path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            Walk(item.path.c_str(), false);
        } else {
            total_.fetch_add(1, std::memory_order_relaxed);
            Step();
        }
    }
}

void CAddOperation::AddPhase() {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (Cancelled()) break;
        const char* path = items_[i].path.c_str();
        struct stat info;
        if (items_[i].path.empty() || stat(path, &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            Walk(path, true);
        } else {
            Examine(path, i < itemIds_.size() ? itemIds_[i] : -1, i < itemLengths_.size() ? itemLengths_[i] : 0,
                    i < itemRates_.size() ? itemRates_[i] : 0);
        }
    }
}

void CAddOperation::Walk(const char* folder, bool examine) {
    if (Cancelled()) return;
    CDirPtr dir(opendir(folder));
    if (!dir) return;
    auto path = std::make_unique<char[]>(kWalkPathSize);

    // Files first, in the order the directory lists them.
    while (const dirent* entry = readdir(dir.get())) {
        if (Cancelled()) return;
        if (!IsMp3Candidate(entry->d_name) || !JoinPath(path.get(), folder, entry->d_name)) continue;
        if (KindOf(entry, path.get()) != EEntryKind::Regular) continue;
        if (examine) {
            Examine(path.get(), -1, 0, 0);
        } else {
            total_.fetch_add(1, std::memory_order_relaxed);
            Step();
        }
    }
    // Then every sub-folder, hidden ones included.
    rewinddir(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        if (Cancelled()) return;
        if (IsDotOrDotDot(entry->d_name) || !JoinPath(path.get(), folder, entry->d_name)) continue;
        if (KindOf(entry, path.get()) != EEntryKind::Directory) continue;
        Walk(path.get(), examine);
    }
}

void CAddOperation::Examine(const char* path, int32_t id, int32_t seconds, int32_t rate) {
    if (Cancelled()) return;
    CFileRef ref;
    try {
        ref = MakeFileRef(path);
    } catch (const CError&) {
        return;  // gone or unreadable since it was counted
    }
    // Only songs listed before the run count: a file met twice in one run is staged twice.
    if (listedIds_.contains({ref.device, ref.inode})) return;
    if (!IsMp3Candidate(FileRefName(ref))) return;

    CSong song;
    song.fileRef = std::move(ref);
    song.iTunesDatabaseId = id;
    CFileTags read = ReadTags(song.fileRef.path);
    song.tags = read.values;
    song.markedByApp = read.marked;
    song.savedTags = song.tags;
    if (seconds != 0 && rate != 0) {
        song.lengthSeconds = seconds;
        song.sampleRate = rate;
    } else {
        CMpegInfo info;
        info.Analyse(song.fileRef.path.c_str());
        song.lengthSeconds = info.LengthSeconds();
        song.sampleRate = info.SampleRate();
    }
    if (incompleteOnly_ && Complete(song.tags)) return;

    staged_.Append(std::move(song));
    stagedCount_.store(staged_.Count(), std::memory_order_relaxed);
    Step();
}
