// Adding songs: starting a run and the end of a run in Tick.

#include <algorithm>

#include "app/app.h"
#include "foundation/clock.h"
#include "foundation/errors.h"

namespace {

// The progress sheet's window name.
constexpr char kAddSheet[] = "AddProgress";

}  // namespace

bool CApp::AddItems(std::vector<CFileRef> items, std::vector<int32_t> ids) {
    if (LongOperationRuns()) return false;
    shell_.SetBusyCursor(true);
    if (!addOperation) addOperation = std::make_unique<CAddOperation>();
    adding = true;
    addDone = false;
    showAddSheet = false;
    addOperation->StartAdd(songs, std::move(items), std::move(ids));
    UpdateControls();
    return true;
}

bool CApp::AddChosenItems(const std::vector<std::string>& paths) {
    std::vector<CFileRef> items;
    for (const std::string& path : paths) {
        try {
            items.push_back(MakeFileRef(path.c_str()));
        } catch (const CError&) {
            // Vanished since it was chosen.
        }
    }
    const bool started = AddItems(std::move(items));
    if (!started) UpdateControls();
    return started;
}

bool CApp::ImportPlaylist(std::unique_ptr<CItunesLibrary> importer, int32_t playlistIndex, bool incompleteOnly) {
    if (LongOperationRuns()) return false;
    shell_.SetBusyCursor(true);
    if (!addOperation) addOperation = std::make_unique<CAddOperation>();
    adding = true;
    addDone = false;
    showAddSheet = false;
    addOperation->StartImport(songs, std::move(importer), playlistIndex, incompleteOnly);
    UpdateControls();
    return true;
}

void CApp::StopAdding() {
    if (adding && addOperation) addOperation->Stop();
}

void CApp::AddStep() {
    if (!adding || !addOperation) return;
    CAddOperation& op = *addOperation;

    const double now = Clock().Now();
    if (op.TimerDue(now)) {
        if (!showAddSheet && !op.sheetShown && op.SheetDue(now)) showAddSheet = true;
        const CAddProgress progress = op.Progress();
        shell_.SetProgress(progress.text, progress.fraction);
    }
    addDone = op.Done();
    if (showAddSheet && !addDone && !op.sheetShown) {
        shell_.ShowProgress(kAddSheet);
        op.sheetShown = true;
    }
    if (!addDone) return;

    // The search text is cleared, so every song is shown again.
    listDirty = true;
    op.Finish(songs);
    adding = false;
    addDone = false;
    showAddSheet = false;
    if (op.sheetShown) {
        shell_.HideProgress();
        op.sheetShown = false;
    }
    shell_.SetBusyCursor(false);

    if (selection.empty() && songs.Count() > 0) {
        if (!identifyAfterAdd) {
            // The top row as shown: the first song in the list's sort order.
            std::vector<CSong*> all;
            for (CSong& song : songs) all.push_back(&song);
            std::stable_sort(all.begin(), all.end(), [this](const CSong* a, const CSong* b) {
                const int order = CompareSongs(*a, *b, sortColumn);
                return sortDescending ? order > 0 : order < 0;
            });
            SetSelection({all.front()});
            drawerSong = all.front();
        }
        drawerOpen = true;
    }
    UpdateControls();
    if (identifyAfterAdd && !identifying) {
        identifyAfterAdd = false;
        HandleCommand(Cmd("IDEN"));
    }
}
