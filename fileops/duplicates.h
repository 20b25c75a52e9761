#pragma once
// The duplicate finder: groups the songs of the list that may hold the same
// recording (same title, same file name, or same file size). A worker thread
// gathers every file's size and name once and then builds the groups without
// touching the file system; the main thread applies the leaders it found.
//
// Hand-over: between Start and Done() the worker alone writes the run's
// inputs and leaders; it reads the songs' displayed titles and file
// references, which nobody changes while the run is in progress. `done_` is
// stored with release after the last write and read with acquire.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class CSongList;
struct CSong;

// What the matching looks at for one song.
struct CDuplicateKey {
    std::string title;  // displayed title
    std::string name;   // last path component; empty when there is no path
    uint32_t size = 0;  // low 32 bits of the file size; 0 when it cannot be examined
};

// Two songs match when both titles are non-empty and equal ignoring case, or
// a's file name is non-empty and equal to b's ignoring case (extension
// included), or their sizes are equal; tested in that order.
bool SongsMatch(const CDuplicateKey& a, const CDuplicateKey& b);

// Leader index of every song (-1: in no group), songs in list order. Every
// song joins the groups holding a song it matches, all of which merge; each
// group of two or more is led by its earliest song. onSong is called before
// each song is examined with its index; returning false stops the search
// (the result is then meaningless). found accumulates 2 per song that joined
// a group.
using DuplicateProgress = bool (*)(void* context, int32_t index, int32_t found);
std::vector<int32_t> FindDuplicateLeaders(const std::vector<CDuplicateKey>& keys,
                                          DuplicateProgress onSong = nullptr, void* context = nullptr);
// The same result by scanning the groups, newest first, member by member, and
// merging them one by one: quadratic in the worst case. Kept as the yardstick.
std::vector<int32_t> FindDuplicateLeadersByScan(const std::vector<CDuplicateKey>& keys);

// "%d songs processed of %d\n%d duplicates found so far."
std::string DuplicatesProgressText(int32_t processed, int32_t count, int32_t found);

class CDuplicateRun {
public:
    // Interval of the progress timer and the delay before the sheet shows.
    static constexpr double kTimerInterval = 0.1;
    static constexpr double kSheetDelay = 1.0 / 60;

    CDuplicateRun() = default;
    // Stops a running worker and waits for it.
    ~CDuplicateRun();
    CDuplicateRun(const CDuplicateRun&) = delete;
    CDuplicateRun& operator=(const CDuplicateRun&) = delete;

    // Main thread: takes the songs in list order and starts the worker. The
    // list must keep its membership until Finish.
    void Start(const CSongList& songs, double now);
    // The Stop button.
    void Stop() { cancelRequested_.store(true, std::memory_order_relaxed); }

    bool Done() const { return done_.load(std::memory_order_acquire); }
    bool Cancelled() const { return cancelRequested_.load(std::memory_order_relaxed); }
    int32_t Processed() const { return processed_.load(std::memory_order_relaxed); }
    int32_t DuplicatesFound() const { return found_.load(std::memory_order_relaxed); }
    int32_t Count() const { return static_cast<int32_t>(songs_.size()); }
    double StartTime() const { return startTime_; }

    // After Done(): waits for the worker and returns each song's leader (null
    // for songs in no group), in the order the songs were taken. Empty when
    // Stop came at any time before.
    std::vector<CSong*> Finish();

    // Whether the front end shows the sheet now (main thread only).
    bool sheetShown = false;

private:
    void Run();

    std::vector<CSong*> songs_;
    std::vector<int32_t> leaders_;
    std::atomic<int32_t> processed_{0};
    std::atomic<int32_t> found_{0};
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> done_{false};
    double startTime_ = 0;
    std::thread worker_;
};
