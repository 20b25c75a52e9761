#include "identify/id_driver.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "app/app.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "identify/entities.h"
#include "identify/http_request.h"
#include "identify/id_job.h"
#include "identify/id_response.h"

namespace {

// The answer is copied into a buffer of this size, terminator included.
constexpr size_t kAnswerSize = 131072;
// Whole clock seconds to wait after a request error before the next song.
constexpr int64_t kErrorPause = 2;

int64_t NowSeconds() { return static_cast<int64_t>(std::floor(Clock().Now())); }

CHttpRequest::Ptr TakeRequest(CSong& song) {
    CHttpRequest::Ptr request(song.idRequest);
    song.idRequest = nullptr;
    return request;
}

void ReleaseJob(CSong& song) {
    if (song.idJob == nullptr) return;
    song.idJob->Release();
    song.idJob = nullptr;
}

void Cleanup(CApp& app, CSong& song) {
    ReleaseJob(song);
    TakeRequest(song).reset();
    app.UpdateControls();
    app.Shell().RefreshSongRow(&song);
}

// Also used for failures inside the tick (an answer that is no XML document,
// a request or job that cannot be started).
void FailSong(CApp& app, CSong& song, int32_t error) {
    app.Shell().SetStatusText(ErrorMessage(error));
    song.idFailed = true;
    song.identified = false;
    TakeRequest(song).reset();
    app.pauseUntil = NowSeconds() + kErrorPause;
    Cleanup(app, song);
}

void StartJob(CApp& app, CSong& song) {
    song.idJob = CIdJob::Start(song, song.idPass == 1 ? 1 : 0, app.prefs, app.cache,
                               app.cacheHitThisTick, app.idAnalysis);
}

void ApplyCachedMatches(CSong& song, const std::vector<CTagValues>& matches) {
    song.matches.Release();
    for (const CTagValues& match : matches) song.matches.Append(match);
    song.currentMatch = song.matches.Empty() ? -1 : 0;
    song.RecomputeModified();
}

// Hands the answer to the parser, or stores the present matches for the
// one-character answer "0". Throws CError -68 for an answer that is no XML document.
void TakeAnswer(CApp& app, CSong& song, const CHttpRequest& request) {
    std::vector<char> answer(kAnswerSize);
    request.CopyResponse(answer.data(), answer.size());
    const size_t length = std::min<size_t>(static_cast<size_t>(std::max(request.GetResponseLength(), 0)),
                                           kAnswerSize - 1);
    if (length == 1 && answer[0] == '0') {
        app.cache->StoreSong(song);
        return;
    }
    DecodeEntities(answer.data(), answer.size());
    if (ParseIdResponse(answer.data(), song, app.prefs, *app.cache) == EIdResponse::QuotaRefused) {
        app.identifying = false;
        app.UpdateControls();
        app.HandleCommand(Cmd("pref"));
    }
}

struct STickState {
    bool active = false;
    bool stopped = false;
};

// The common start of a step on the song being worked on: a stopped run
// cleans the song up and ends the step (false).
bool ContinueStep(CApp& app, CSong& song, STickState& tick) {
    if (!app.identifying) {
        song.identified = false;
        tick.stopped = true;
        Cleanup(app, song);
        return false;
    }
    tick.active = true;
    app.currentIdSong = &song;
    return true;
}

void StepRequest(CApp& app, CSong& song, STickState& tick) {
    if (!ContinueStep(app, song, tick)) return;
    CHttpRequest& request = *song.idRequest;
    if (request.Poll()) {
        app.Shell().RefreshSongRow(&song);
        app.Shell().SetStatusText(IdProgressText(song));
        return;
    }
    if (request.GetError() != 0) {
        FailSong(app, song, request.GetError());
        return;
    }
    try {
        TakeAnswer(app, song, request);
    } catch (const CError& error) {
        FailSong(app, song, error.code);
        return;
    }
    TakeRequest(song).reset();
    ReleaseJob(song);
    if (!app.identifying) {
        song.identified = false;
        Cleanup(app, song);
        return;
    }
    if (song.matches.Count() == 0 && song.idPass == 0 && app.prefs.fingerprintFallback) {
        song.idPass = 1;
        try {
            StartJob(app, song);
        } catch (const CError& error) {
            FailSong(app, song, error.code);
        }
        return;
    }
    song.markedByApp = false;
    song.identified = true;
    app.Shell().RefreshSongRow(&song);
    if (app.prefs.introAccount && song.currentMatch != -1 &&
        !app.cacheHitThisTick->load(std::memory_order_acquire) && app.prefs.identificationsLeft > 0) {
        --app.prefs.identificationsLeft;
    }
    Cleanup(app, song);
}

void StepJob(CApp& app, CSong& song, STickState& tick) {
    if (!ContinueStep(app, song, tick)) return;
    CIdJob& job = *song.idJob;
    if (!job.Done()) {
        app.Shell().RefreshSongRow(&song);
        app.Shell().SetStatusText(IdProgressText(song));
        return;
    }
    if (job.FoundInCache()) {
        ApplyCachedMatches(song, job.CachedMatches());
        ReleaseJob(song);
        song.identified = true;
        app.Shell().RefreshSongRow(&song);
        return;
    }
    if (job.Error() != 0) {
        // The analysis itself failed (for example memory ran out).
        FailSong(app, song, job.Error());
        return;
    }
    if (job.Url().empty()) {
        ReleaseJob(song);
        song.identified = true;
        app.Shell().RefreshSongRow(&song);
        return;
    }
    try {
        CHttpRequest::Ptr request = CHttpRequest::Create(job.Url().c_str());
        request->SetTimeout(app.prefs.requestTimeout);
        request->SetRetries(app.prefs.requestRetries);
        request->Start();
        song.idRequest = request.release();
    } catch (const CError& error) {
        FailSong(app, song, error.code);
        return;
    }
    ReleaseJob(song);
    StepRequest(app, song, tick);
}

CSong* NextSong(const CApp& app, bool decreasing) {
    const std::vector<CSong*>& batch = app.idBatch;
    const auto waiting = [](const CSong* song) { return !song->identified && !song->idFailed; };
    if (decreasing) {
        for (CSong* song : batch)
            if (waiting(song)) return song;
    } else {
        for (auto it = batch.rbegin(); it != batch.rend(); ++it)
            if (waiting(*it)) return *it;
    }
    return nullptr;
}

}  // namespace

const char* IdProgressText(const CSong& song) {
    if (song.idRequest != nullptr) {
        switch (song.idRequest->GetState()) {
            case EHttpState::Connecting:
                return "Connecting...";
            case EHttpState::StatusLine:
            case EHttpState::Headers:
                return song.idPass == 1 ? "Matching fingerprint..." : "Matching song...";
            case EHttpState::ChunkSize:
            case EHttpState::ChunkData:
            case EHttpState::UntilClose:
                return "Receiving response...";
            default:
                return "???";
        }
    }
    if (song.idJob != nullptr) {
        if (song.idJob->CacheLookup()) return "Looking in cache.";
        return song.idPass == 1 ? "Fingerprinting song..." : "Analyzing song...";
    }
    return "";
}

void ToggleIdentification(CApp& app) {
    if (app.prefs.userName[0] == '\0' || app.prefs.password[0] == '\0') return;
    app.identifying = !app.identifying;
    app.pauseUntil = 0;
    if (app.identifying) {
        for (CSong& song : app.songs) song.idFailed = false;
        app.idBatch = app.selection.empty() ? app.Rows() : app.selection;
        // Rows would jump while their statuses change.
        if (app.sortColumn == ESongColumn::Status) app.sortColumn = ESongColumn::None;
    }
    app.UpdateControls();
}

bool IdentifyTick(CApp& app) {
    app.cacheHitThisTick->store(false, std::memory_order_release);
    const bool decreasing = app.sortDescending;

    STickState tick;
    for (CSong& song : app.songs) {
        if (song.idRequest != nullptr)
            StepRequest(app, song, tick);
        else if (song.idJob != nullptr)
            StepJob(app, song, tick);
    }

    if (app.pauseUntil != 0) {
        if (NowSeconds() < app.pauseUntil) return false;
        app.pauseUntil = 0;
    }
    if (tick.active || (!app.identifying && !tick.stopped)) return true;
    if (tick.stopped) {
        app.identifying = false;
        app.UpdateControls();
        return true;
    }
    CSong* next = NextSong(app, decreasing);
    if (next == nullptr) {
        app.identifying = false;
        app.UpdateControls();
        return true;
    }
    next->idPass = app.prefs.fingerprintAlways ? 1 : 0;
    if (next->idJob == nullptr && next->idRequest == nullptr) {
        try {
            StartJob(app, *next);
        } catch (const CError& error) {
            FailSong(app, *next, error.code);
        }
    }
    return true;
}
