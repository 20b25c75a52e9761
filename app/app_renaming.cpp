// Renaming the selected songs' files.

#include "app/app.h"

void CApp::RenameSelected() {
    if (Busy() || renameWindow == nullptr) return;
    renaming = true;
    UpdateControls();
    if (!renameSession) renameSession = std::make_unique<CRenameSession>(*renameWindow, prefs);
    const std::vector<CSong*> chosen = selection;
    renameSession->Run(chosen);
    for (CSong* song : chosen) shell_.RefreshSongRow(song);
    renaming = false;
    UpdateControls();
}
