// Finding duplicates, ungrouping, and moving songs' files to the Trash.

#include <algorithm>
#include <cerrno>
#include <unordered_set>

#include "app/app.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/latin1.h"

namespace {

// The progress sheet's window name.
constexpr char kDuplicatesSheet[] = "GroupProgress";

}  // namespace

bool CApp::FindDuplicates() {
    if (Busy()) return false;
    shell_.SetBusyCursor(true);
    if (!duplicateRun) duplicateRun = std::make_unique<CDuplicateRun>();
    findingDuplicates = true;
    duplicatesDone = false;
    showDuplicatesSheet = false;
    duplicateRun->Start(songs, Clock().Now());
    UpdateControls();
    return true;
}

void CApp::StopDuplicates() {
    if (findingDuplicates && duplicateRun) duplicateRun->Stop();
}

void CApp::DuplicatesStep() {
    if (!findingDuplicates || !duplicateRun) return;
    CDuplicateRun& run = *duplicateRun;

    duplicatesDone = run.Done();
    if (!duplicatesDone) {
        // The progress timer runs at the tick's own rate.
        if (!showDuplicatesSheet && Clock().Now() - run.StartTime() > CDuplicateRun::kSheetDelay)
            showDuplicatesSheet = true;
        if (showDuplicatesSheet && !run.sheetShown) {
            shell_.ShowProgress(kDuplicatesSheet);
            run.sheetShown = true;
        }
        const int32_t count = run.Count();
        const int32_t processed = run.Processed();
        shell_.SetProgress(DuplicatesProgressText(processed, count, run.DuplicatesFound()),
                           count > 0 ? static_cast<double>(processed) / count : 0.0);
        return;
    }

    // A stopped run yields no leaders and the groups stay as they were; the
    // selection is held by song, so the rebuilt list selects the same songs.
    const std::vector<CSong*> leaders = run.Finish();
    if (static_cast<int32_t>(leaders.size()) == songs.Count()) {
        size_t i = 0;
        for (CSong& song : songs) song.groupLeader = leaders[i++];
        songs.NormalizeGroups();
        listDirty = true;
    }
    findingDuplicates = false;
    duplicatesDone = false;
    showDuplicatesSheet = false;
    UpdateControls();
    if (run.sheetShown) {
        shell_.HideProgress();
        run.sheetShown = false;
    }
    shell_.SetBusyCursor(false);
}

void CApp::ClearGroups() {
    for (CSong& song : songs) song.groupLeader = nullptr;
    listDirty = true;
    UpdateControls();
}

void CApp::TrashSelected() {
    if (Busy()) return;
    CShellDeleteWindow askShell(shell_);
    IDeleteWindow& window = deleteWindow != nullptr ? *deleteWindow : askShell;

    const std::vector<CSong*> targets = selection;
    std::vector<CSong*> moved;
    bool stayed = false;
    bool deleteAll = false;
    for (CSong* song : targets) {
        if (!deleteAll) {
            const EDeleteChoice choice = window.Ask(MakeDeleteQuestion(*song));
            if (choice == EDeleteChoice::Cancel) break;
            if (choice == EDeleteChoice::Skip) continue;
            deleteAll = choice == EDeleteChoice::DeleteAll;
        }
        drawerSong = nullptr;
        if (!song->fileRef.IsSet()) {
            stayed = true;
            continue;
        }
        try {
            DeleteFile(song->fileRef.path.c_str(), EDeleteMode::MoveToTrash);
            moved.push_back(song);
        } catch (const CError& error) {
            if (error.code == ENOENT) {
                // The file is gone: like a song whose path cannot be made.
                stayed = true;
            } else {
                // The song stays; the remaining songs are still offered.
                shell_.Alert("Could not move \"" + DecodeUtf8ToLatin1(song->FileName()) + "\" to the Trash.",
                             ErrorMessage(error.code));
            }
        }
    }
    if (stayed) shell_.Beep();

    const std::unordered_set<CSong*> gone(moved.begin(), moved.end());
    std::erase_if(selection, [&](CSong* song) { return gone.contains(song); });
    if (drawerSong != nullptr && gone.contains(drawerSong)) drawerSong = nullptr;
    songs.Remove(moved);
    listDirty = true;
    UpdateControls();
}
