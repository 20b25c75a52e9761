#pragma once
// The add operation: a worker thread counts the MP3 files below the given
// files and folders (or collects the tracks of an iTunes playlist), then
// examines each one and stages a new song by value; the main thread adopts
// the staged songs into the list in one step when the worker is done.
//
// Hand-over: between Start* and Done() the worker alone touches the items
// and the staged songs; it reads the listed songs' file references only.
// `done` is stored with release after the last write, and the main thread
// reads it with acquire before it touches anything else.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "foundation/growable_array.h"
#include "library/file_ref.h"
#include "library/itunes_library.h"
#include "library/song.h"

class CSongList;

// A name whose extension (from the last "." to the end) is ".mp3" in any case.
bool IsMp3Candidate(const char* name);

// A drag over the list can be accepted: one of its items is a folder or an
// MP3 candidate (whether a run may start is the application's decision).
bool DragHasAddableItem(const std::vector<std::string>& paths);

// "Counting songs... %d found so far" while counting, else "Added %d songs of %d".
std::string AddProgressText(bool counting, int32_t total, int32_t staged);

// What the progress sheet shows.
struct CAddProgress {
    std::string text;
    double fraction = -1;  // staged / total; -1 while counting (indeterminate bar)
    int32_t value = 0;     // staged songs
    int32_t maximum = 0;   // total
    bool stopEnabled = true;
};

class CAddOperation {
public:
    // Interval of the progress timer, and the delay before the sheet shows.
    static constexpr double kTimerInterval = 1.0;
    static constexpr double kSheetDelay = 1.0 / 60;

    CAddOperation() = default;
    // Stops a running worker and waits for it.
    ~CAddOperation();
    CAddOperation(const CAddOperation&) = delete;
    CAddOperation& operator=(const CAddOperation&) = delete;

    // Start a run (the caller has refused to start while any run is in
    // progress). `listed` must stay unchanged in membership until Finish.
    // ids, when not empty, run parallel to items.
    void StartAdd(const CSongList& listed, std::vector<CFileRef> items, std::vector<int32_t> ids = {});
    // The run owns the importer and destroys it after counting.
    void StartImport(const CSongList& listed, std::unique_ptr<CItunesLibrary> importer,
                     int32_t playlistIndex, bool incompleteOnly);

    // The Stop button: songs staged so far are kept; during counting nothing is added.
    void Stop() { cancelRequested_.store(true, std::memory_order_relaxed); }

    bool Done() const { return done_.load(std::memory_order_acquire); }
    bool Counting() const { return counting_.load(std::memory_order_relaxed); }
    int32_t Total() const { return total_.load(std::memory_order_relaxed); }
    int32_t StagedCount() const { return stagedCount_.load(std::memory_order_relaxed); }
    bool CancelRequested() const { return cancelRequested_.load(std::memory_order_relaxed); }

    // Main thread. The progress timer: true once per interval while the run
    // is not done; SheetDue tells when the sheet should appear.
    bool TimerDue(double now);
    bool SheetDue(double now) const { return now - startTime_ > kSheetDelay; }
    CAddProgress Progress() const;
    double StartTime() const { return startTime_; }
    // Whether the front end shows the sheet now (main thread only).
    bool sheetShown = false;

    // After Done(): waits for the worker, appends the staged songs to the
    // list in staged order and empties the staged array. Returns how many.
    int32_t Finish(CSongList& list);

    // Test hook, called on the worker after each file counted or staged.
    std::function<void(CAddOperation&)> onStep;

private:
    void Begin(const CSongList& listed);
    void Run();
    void CountPhase();
    void AddPhase();
    // Counts (examine = false) or examines the MP3 candidates below a folder:
    // its regular files first, then its sub-folders; links are not followed.
    void Walk(const char* folder, bool examine);
    void Examine(const char* path, int32_t id, int32_t seconds, int32_t rate);
    bool Cancelled() const { return CancelRequested(); }
    void Step();

    // Inputs, worker-owned during a run.
    std::vector<CFileRef> items_;
    std::vector<int32_t> itemIds_;
    std::vector<int32_t> itemLengths_;
    std::vector<int32_t> itemRates_;
    std::unique_ptr<CItunesLibrary> importer_;
    int32_t playlistIndex_ = -1;
    bool incompleteOnly_ = false;
    // Identities of the songs listed when the run started, taken on the main
    // thread: the worker never reads the list itself, and each file costs one
    // lookup instead of a pass over the whole list.
    struct SIdentityHash {
        size_t operator()(const std::pair<dev_t, ino_t>& id) const {
            return std::hash<uint64_t>()(static_cast<uint64_t>(id.first) * 0x9E3779B97F4A7C15ull ^
                                         static_cast<uint64_t>(id.second));
        }
    };
    std::unordered_set<std::pair<dev_t, ino_t>, SIdentityHash> listedIds_;

    CGrowableArray<CSong> staged_;
    std::atomic<int32_t> stagedCount_{0};
    std::atomic<int32_t> total_{0};
    std::atomic<bool> counting_{false};
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> done_{false};

    // Main thread.
    double startTime_ = 0;
    double nextTimer_ = 0;
    std::thread worker_;
};
