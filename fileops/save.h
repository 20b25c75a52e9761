#pragma once
// Saving songs: each song's displayed values and the marker decision go into
// its file; songs from the player's library are refreshed there. Several
// songs are saved on a worker thread; the main thread polls the run.
//
// Hand-over: between Start and Done() the worker reads the collected songs
// (which nobody changes while the run is in progress) and alone writes the
// run's results; `done_` is stored with release after the last write and
// read with acquire. The main thread applies the results to the songs.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "library/file_ref.h"
#include "library/tag_values.h"

struct CSong;

// Whether the file gets the application's marker: always once the song was
// marked; otherwise an unidentified song needs a displayed title, artist and
// album, an identified one at least one match.
bool MarkerDecision(const CSong& song);

// What saving one song wrote, for the song to take over.
struct CSaveResult {
    CSong* song = nullptr;
    int32_t code = 0;  // 0: written; else the write's error code
    CTagValues values{};
    bool marker = false;
    CFileRef fileRef;  // made anew from the path after writing
};

// Writes the displayed values and the marker decision into the song's file,
// then asks the player to refresh its track (notifyItunes and a database ID;
// notifying is set meanwhile when given). Reads the song, never writes it.
CSaveResult WriteSong(const CSong& song, bool notifyItunes, std::atomic<bool>* notifying);
// Main thread: a written song takes its new reference and marker, modified is
// cleared and savedTags takes the written values. A failed write changes
// nothing, so the edits stay to be saved again.
void ApplySaved(const CSaveResult& result);
// Both, for one song on the main thread. Returns 0 or the write's error code.
int32_t SaveSong(CSong& song, bool notifyItunes, std::atomic<bool>* notifying);

class CSaveRun {
public:
    // Interval of the progress timer, and the delay before the sheet shows.
    static constexpr double kTimerInterval = 1.0;
    static constexpr double kSheetDelay = 1.0 / 60;

    CSaveRun() = default;
    // Stops a running worker after its current song and waits for it.
    ~CSaveRun();
    CSaveRun(const CSaveRun&) = delete;
    CSaveRun& operator=(const CSaveRun&) = delete;

    void Start(std::vector<CSong*> songs, bool notifyItunes, double now);
    // Stop: the song being saved is finished, the rest stay unsaved.
    void Stop() { stopRequested_.store(true, std::memory_order_relaxed); }

    bool Done() const { return done_.load(std::memory_order_acquire); }
    int32_t Current() const { return current_.load(std::memory_order_relaxed); }
    int32_t Count() const { return static_cast<int32_t>(songs_.size()); }
    bool Notifying() const { return notifying_.load(std::memory_order_relaxed); }
    double StartTime() const { return startTime_; }

    // Main thread: true once per interval; the sheet is due after the delay.
    bool TimerDue(double now);
    bool SheetDue(double now) const { return now - startTime_ > kSheetDelay; }
    // "Song %d of %d saved. Notifying iTunes..." or "Saving song %d of %d...".
    std::string ProgressText() const;

    // After Done(): waits for the worker; one result per song handled, in order.
    std::vector<CSaveResult> TakeResults();

    // Whether the front end shows the sheet now (main thread only).
    bool sheetShown = false;

private:
    void Run();

    std::vector<CSong*> songs_;
    bool notifyItunes_ = true;
    std::vector<CSaveResult> results_;
    std::atomic<int32_t> current_{0};
    std::atomic<bool> notifying_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> done_{false};
    double startTime_ = 0;
    double nextTimer_ = 0;
    std::thread worker_;
};
