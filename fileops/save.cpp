#include "fileops/save.h"

#include "fileops/itunes.h"
#include "foundation/errors.h"
#include "foundation/text.h"
#include "library/song.h"
#include "library/tags.h"

bool MarkerDecision(const CSong& song) {
    if (song.markedByApp) return true;
    if (song.identified) return song.matches.Count() > 0;
    const CTagValues& shown = song.DisplayedValues();
    return shown.title[0] != '\0' && shown.artist[0] != '\0' && shown.album[0] != '\0';
}

int32_t SaveSong(CSong& song, bool notifyItunes, std::atomic<bool>* notifying) {
    const CTagValues values = song.DisplayedValues();
    const bool marker = MarkerDecision(song);
    if (!song.fileRef.IsSet()) return eFileNotFound;
    // A failed write changes nothing, so the edits stay to be saved again.
    const int32_t code = WriteTags(song.fileRef.path, values, marker ? EMarker::Set : EMarker::Remove);
    if (code != 0) return code;
    song.markedByApp = marker;
    try {
        song.fileRef = MakeFileRef(song.fileRef.path.c_str());
    } catch (const CError&) {
        // Gone meanwhile: the old reference stays.
    }
    if (notifyItunes && song.iTunesDatabaseId != -1) {
        if (notifying != nullptr) notifying->store(true, std::memory_order_relaxed);
        RefreshItunesTrack(song.iTunesDatabaseId);
        if (notifying != nullptr) notifying->store(false, std::memory_order_relaxed);
    }
    song.modified = false;
    song.savedTags = values;
    return 0;
}

CSaveRun::~CSaveRun() {
    Stop();
    if (worker_.joinable()) worker_.join();
}

void CSaveRun::Start(std::vector<CSong*> songs, bool notifyItunes, double now) {
    if (worker_.joinable()) worker_.join();
    songs_ = std::move(songs);
    notifyItunes_ = notifyItunes;
    finished_.clear();
    failures_.clear();
    current_.store(0, std::memory_order_relaxed);
    notifying_.store(false, std::memory_order_relaxed);
    stopRequested_.store(false, std::memory_order_relaxed);
    done_.store(false, std::memory_order_relaxed);
    startTime_ = now;
    nextTimer_ = now + kTimerInterval;
    sheetShown = false;
    worker_ = std::thread([this] { Run(); });
}

void CSaveRun::Run() {
    current_.store(0, std::memory_order_relaxed);
    for (size_t i = 0; i < songs_.size(); ++i) {
        if (stopRequested_.load(std::memory_order_relaxed)) break;
        CSong& song = *songs_[i];
        const int32_t code = SaveSong(song, notifyItunes_, &notifying_);
        if (code == 0)
            finished_.push_back(&song);
        else
            failures_.push_back({&song, code});
        current_.store(static_cast<int32_t>(i), std::memory_order_relaxed);
    }
    done_.store(true, std::memory_order_release);
}

bool CSaveRun::TimerDue(double now) {
    if (now < nextTimer_) return false;
    nextTimer_ = now + kTimerInterval;
    return true;
}

std::string CSaveRun::ProgressText() const {
    char text[96];
    FormatBounded(text, sizeof text, Notifying() ? "Song %d of %d saved. Notifying iTunes..." : "Saving song %d of %d...",
                  Current() + 1, Count());
    return text;
}

std::vector<CSong*> CSaveRun::TakeFinished() {
    if (worker_.joinable()) worker_.join();
    return std::move(finished_);
}

std::vector<CSaveFailure> CSaveRun::TakeFailures() {
    if (worker_.joinable()) worker_.join();
    return std::move(failures_);
}
