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

CSaveResult WriteSong(const CSong& song, bool notifyItunes, std::atomic<bool>* notifying) {
    CSaveResult result;
    result.song = const_cast<CSong*>(&song);
    result.values = song.DisplayedValues();
    result.marker = MarkerDecision(song);
    result.fileRef = song.fileRef;
    if (!song.fileRef.IsSet()) {
        result.code = eFileNotFound;
        return result;
    }
    result.code = WriteTags(song.fileRef.path, result.values, result.marker ? EMarker::Set : EMarker::Remove);
    if (result.code != 0) return result;
    try {
        result.fileRef = MakeFileRef(song.fileRef.path.c_str());
    } catch (const CError&) {
        // Gone meanwhile: the old reference stays.
    }
    if (notifyItunes && song.iTunesDatabaseId != -1) {
        if (notifying != nullptr) notifying->store(true, std::memory_order_relaxed);
        RefreshItunesTrack(song.iTunesDatabaseId);
        if (notifying != nullptr) notifying->store(false, std::memory_order_relaxed);
    }
    return result;
}

void ApplySaved(const CSaveResult& result) {
    if (result.code != 0 || result.song == nullptr) return;
    CSong& song = *result.song;
    song.markedByApp = result.marker;
    song.fileRef = result.fileRef;
    song.modified = false;
    song.savedTags = result.values;
}

int32_t SaveSong(CSong& song, bool notifyItunes, std::atomic<bool>* notifying) {
    const CSaveResult result = WriteSong(song, notifyItunes, notifying);
    ApplySaved(result);
    return result.code;
}

CSaveRun::~CSaveRun() {
    Stop();
    if (worker_.joinable()) worker_.join();
}

void CSaveRun::Start(std::vector<CSong*> songs, bool notifyItunes, double now) {
    if (worker_.joinable()) worker_.join();
    songs_ = std::move(songs);
    notifyItunes_ = notifyItunes;
    results_.clear();
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
        results_.push_back(WriteSong(*songs_[i], notifyItunes_, &notifying_));
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

std::vector<CSaveResult> CSaveRun::TakeResults() {
    if (worker_.joinable()) worker_.join();
    return std::move(results_);
}
