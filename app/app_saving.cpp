// Saving songs: the run over the selection or all songs, its end in Tick,
// and the inspector's single-song save.

#include "app/app.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/latin1.h"

namespace {

// The progress sheet's window name.
constexpr char kSaveSheet[] = "SaveProgress";

// The files that could not be saved, one line each with the reason.
std::string FailureList(const std::vector<CSaveResult>& failures) {
    std::string lines;
    for (const CSaveResult& failure : failures) {
        if (!lines.empty()) lines += '\n';
        lines += DecodeUtf8ToLatin1(failure.song->FileName()) + ": " + ErrorMessage(failure.code);
    }
    return lines;
}

}  // namespace

bool CApp::SaveSongs(bool selectedOnly) {
    if (Busy()) return false;
    shell_.SetBusyCursor(true);
    if (!saveRun) saveRun = std::make_unique<CSaveRun>();
    saving = true;
    saveDone = false;
    showSaveSheet = false;

    std::vector<CSong*> chosen;
    if (selectedOnly) {
        for (CSong* song : selection)
            if (song->modified) chosen.push_back(song);
    } else {
        for (CSong& song : songs)
            if (song.modified) chosen.push_back(&song);
    }
    // The worker only reads the songs (the results are applied when the run
    // ends), so the controls may read them at any time.
    UpdateControls();
    saveRun->Start(std::move(chosen), prefs.notifyItunesOnSave != 0, Clock().Now());
    return true;
}

void CApp::StopSaving() {
    if (saving && saveRun) saveRun->Stop();
}

void CApp::SaveStep() {
    if (!saving || !saveRun) return;
    CSaveRun& run = *saveRun;

    const double now = Clock().Now();
    if (run.TimerDue(now)) {
        if (!showSaveSheet && !run.sheetShown && run.SheetDue(now)) showSaveSheet = true;
        const int32_t count = run.Count();
        shell_.SetProgress(run.ProgressText(), count > 0 ? static_cast<double>(run.Current()) / count : 0.0);
    }
    saveDone = run.Done();
    if (showSaveSheet && !saveDone && !run.sheetShown) {
        shell_.ShowProgress(kSaveSheet);
        run.sheetShown = true;
    }
    if (!saveDone) return;

    std::vector<CSaveResult> failures;
    for (const CSaveResult& result : run.TakeResults()) {
        if (result.code != 0) {
            failures.push_back(result);
            continue;
        }
        ApplySaved(result);
        savedSongs.push_back(result.song);
    }
    for (CSong* song : savedSongs) {
        song->RecomputeModified();
        shell_.RefreshSongRow(song);
    }
    savedSongs.clear();
    saving = false;
    saveDone = false;
    showSaveSheet = false;
    if (run.sheetShown) {
        shell_.HideProgress();
        run.sheetShown = false;
    }
    shell_.SetBusyCursor(false);

    if (!failures.empty()) {
        // Quitting now would lose the edits of those songs.
        quitAfterSave = false;
        quitSheetShown = false;
        const std::string message = failures.size() == 1
                                        ? "One song could not be saved."
                                        : std::to_string(failures.size()) + " songs could not be saved.";
        shell_.Alert(message, FailureList(failures));
    }
    if (quitAfterSave) {
        EndProcess();
        return;
    }
    UpdateControls();
}

bool CApp::SaveOneSong(CSong& song) {
    if (saving || renaming || findingDuplicates) return false;
    const CSaveResult result = WriteSong(song, prefs.notifyItunesOnSave != 0, nullptr);
    ApplySaved(result);
    if (result.code != 0) shell_.Alert("One song could not be saved.", FailureList({result}));
    shell_.RefreshSongRow(&song);
    UpdateControls();
    return result.code == 0;
}
