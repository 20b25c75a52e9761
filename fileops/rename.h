#pragma once
// Renaming song files by a pattern of tag placeholders. The run record is
// shared by the rename window (main thread) and the worker that renames:
// every field the other side reads is an atomic; newName is written by the
// window only while the worker waits for a decision and is read by the
// worker after it has seen that decision (release/acquire on `action`);
// errorText and errorCode are written by the worker before `errorPending`
// and read by the window after it.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct CSong;

// Placeholders in the order they are tested.
inline constexpr const char* kRenamePlaceholders[] = {"%artist", "%album", "%title", "%genre",
                                                      "%year",   "%track", "%disc"};

// The file name (single-byte text) the pattern makes from the song's
// displayed values, ending in ".mp3", into out (cut to size). False, with an
// empty out, when no placeholder contributed a value. Control bytes, ":"
// and "/" become "-"; leading and trailing blanks go.
bool ExpandPattern(const CSong& song, const char* pattern, char* out, size_t size);

enum class ERenameAction : int32_t { None, Rename, Skip, RenameAll, Cancel };

class CRenameRun {
public:
    static constexpr size_t kNameSize = 1024;

    CRenameRun() = default;
    // Cancels and waits for a worker that is still running.
    ~CRenameRun();
    CRenameRun(const CRenameRun&) = delete;
    CRenameRun& operator=(const CRenameRun&) = delete;

    // Main thread: the songs in row order, the pattern for Rename All and
    // whether renamed songs from the player's library are refreshed there.
    void Start(std::vector<CSong*> songs, const char* pattern, bool notifyItunes);
    // After Finished(): waits for the worker.
    void Join();

    // Renames one file in its folder (never over an existing file: a taken
    // name gets " (2).mp3", " (3).mp3" ...). On success the file gets the
    // current time and the song's new reference waits for ApplyRenames. A
    // failure fills the error texts, waits for the window's answer (resume)
    // and returns false.
    bool RenameFile(CSong& song, const char* newName);
    // Main thread: the renamed songs take their new paths. The worker never
    // writes a song, so a list repainting meanwhile never reads a path that
    // is being replaced.
    void ApplyRenames();

    // Window side.
    void Decide(ERenameAction decision);
    void SetPattern(const char* pattern);
    void Resume();
    void Wake();

    const std::vector<CSong*>& Songs() const { return songs_; }
    int32_t Count() const { return static_cast<int32_t>(songs_.size()); }

    std::atomic<int32_t> index{0};
    std::atomic<ERenameAction> action{ERenameAction::None};
    char newName[kNameSize] = {};
    std::atomic<bool> promptPending{false};
    std::atomic<bool> notifying{false};
    std::atomic<bool> errorPending{false};
    std::string errorText;
    std::string errorCode;
    std::atomic<bool> resume{false};
    std::atomic<bool> retrySong{false};
    std::atomic<bool> busy{false};      // the busy indicator is shown
    std::atomic<bool> finished{false};  // the worker has ended

private:
    void Run();
    template <class Pred>
    void WaitUntil(Pred ready);

    std::vector<CSong*> songs_;
    bool notifyItunes_ = true;
    std::mutex renamedMutex_;
    std::vector<std::pair<CSong*, std::string>> renamed_;
    std::mutex patternMutex_;
    char pattern_[128] = {};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread worker_;
};

// "File %d out of %d: %s" with "Confirm Rename", "Renamed. Notifying iTunes..."
// or "Renaming..." for what the run is doing.
std::string RenameStatusText(const CRenameRun& run);
