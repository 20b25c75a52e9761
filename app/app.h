#pragma once
// The application object without windows: the settings, the song list, the
// identification cache, the state of every long operation and of the
// account, and the main timer's Tick with its fixed step order. The Qt main
// window owns one, forwards ticks, commands and the selection to it, and is
// reached back only through the shell port. Main thread only, except where a
// field says otherwise.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/control_state.h"
#include "fileops/delete_window.h"
#include "fileops/duplicates.h"
#include "fileops/rename_session.h"
#include "fileops/save.h"
#include "foundation/prefs.h"
#include "foundation/shell.h"
#include "identify/account.h"
#include "identify/http_request.h"
#include "identify/id_cache.h"
#include "identify/id_job.h"
#include "library/add_songs.h"
#include "library/song_list.h"
#include "update/updater.h"
#include "update/version_check.h"

// Main-window commands are four-character codes.
using CommandId = uint32_t;

// Where the application keeps its files; empty means the Preferences folder.
struct CAppPaths {
    std::string prefsPath;
    std::string cachePath;
};

class CApp {
public:
    explicit CApp(IShell& shell = NullShell(), CAppPaths paths = {});
    ~CApp();
    CApp(const CApp&) = delete;
    CApp& operator=(const CApp&) = delete;

    // The rest of the start-up once the window exists: load the preferences
    // and the cache, show the controls, then open the preferences (no usable
    // account) or start a log-in check with the stored account.
    void Startup();

    // SavePrefs to the application's preferences file.
    bool SaveSettings();

    // The main timer, every 0.1 s.
    void Tick();

    // Recomputes every control from the state and hands it to the shell.
    void UpdateControls();
    // The pure part of UpdateControls: controls not named by the current
    // case keep their previous state.
    CControlState ComputeControls(const CControlState& previous) const;

    // True for every command it knows.
    bool HandleCommand(CommandId command);

    // Starts adding files and folders (ids, when given, parallel to items);
    // false, doing nothing, while adding, finding duplicates, saving or renaming.
    bool AddItems(std::vector<CFileRef> items, std::vector<int32_t> ids = {});
    // The add dialog's confirmed paths: those that resolve to a file system
    // item go to AddItems, in order; the controls are updated in every case.
    bool AddChosenItems(const std::vector<std::string>& paths);
    // Adds the tracks of an iTunes playlist; the run owns the importer.
    bool ImportPlaylist(std::unique_ptr<CItunesLibrary> importer, int32_t playlistIndex, bool incompleteOnly);
    // The add sheet's Stop button.
    void StopAdding();

    void RequestQuit();

    // Finding duplicates (GROU): false, doing nothing, while any long
    // operation or identification runs.
    bool FindDuplicates();
    // The duplicate sheet's Stop button.
    void StopDuplicates();
    // UNGR: every song leaves its group; the selection stays.
    void ClearGroups();
    // DELB: asks for every selected song (through deleteWindow, else the
    // shell) and moves the files to the Trash; their songs leave the list.
    void TrashSelected();
    // RENB: renames the selected songs' files through renameWindow (nothing
    // without one); returns when the window's modal run has ended.
    void RenameSelected();
    // The application came to the front (and once at start-up): files handed
    // over by the companion script are added, then identified.
    void ApplicationActivated();

    // SAVE (selected songs) and SAVA (all songs): saves the modified ones on
    // a worker; false, doing nothing, while any long operation or
    // identification runs.
    bool SaveSongs(bool selectedOnly);
    // The save sheet's Stop button.
    void StopSaving();
    // The inspector's save button: the song, modified or not, at once.
    // False (after telling the user) when its file could not be written.
    bool SaveOneSong(CSong& song);

    // Version check: automatic (every tick) or asked for by the user (hUpd).
    void StartVersionCheck(bool manual);
    // Reports a finished check and offers the download.
    void FinishVersionCheck();
    // The folder choice and the modal download window; needs updaterWindow.
    void DownloadUpdate(const std::string& title, const std::string& url, const std::string& releaseNotes,
                        int64_t expectedSize);

    // Adding, duplicates, saving or renaming runs (identification aside).
    bool LongOperationRuns() const;
    // Any of those, or identification.
    bool Busy() const;
    int32_t ModifiedCount() const;

    // What the list view reports. Rows in the order the list control
    // enumerates them; without a view, the list order.
    void SetSelection(std::vector<CSong*> songs);
    void SetRows(std::vector<CSong*> rows);
    std::vector<CSong*> Rows() const;
    int32_t RowCount() const;

    IShell& Shell() const { return shell_; }
    const CAppPaths& Paths() const { return paths_; }
    const CControlState& Controls() const { return controls_; }
    bool TerminateRequested() const { return terminateRequested_; }

    // --- State (public: every operation of the application reaches it) ---
    CPrefs prefs;
    CSongList songs;
    // Shared with analysis workers, which may outlive a stopped run.
    std::shared_ptr<CIdCache> cache;

    // Selected songs in enumeration order.
    std::vector<CSong*> selection;
    ESongColumn sortColumn = ESongColumn::None;
    bool sortDescending = false;

    // The inspector drawer, as the front end reports it.
    bool drawerOpen = false;
    CSong* drawerSong = nullptr;
    bool prefsWindowShown = false;

    std::string appVersion;  // at most 63 characters
    int64_t startTime = 0;   // wall-clock seconds at construction
    bool listDirty = false;

    // Adding songs.
    bool adding = false;
    bool addDone = false;
    bool showAddSheet = false;
    std::unique_ptr<CAddOperation> addOperation;  // created on first use, reused
    // Finding duplicates.
    bool findingDuplicates = false;
    bool duplicatesDone = false;
    bool showDuplicatesSheet = false;
    std::unique_ptr<CDuplicateRun> duplicateRun;  // created on first use, reused
    IDeleteWindow* deleteWindow = nullptr;        // installed by a front end with windows
    // Saving.
    bool saving = false;
    bool saveDone = false;
    bool showSaveSheet = false;
    std::vector<CSong*> savedSongs;
    std::unique_ptr<CSaveRun> saveRun;  // created on first use, reused
    // Renaming.
    bool renaming = false;
    IRenameWindow* renameWindow = nullptr;         // installed by a front end with windows
    std::unique_ptr<CRenameSession> renameSession;  // created on first use, kept
    // Songs handed over by the companion script are identified once added.
    bool identifyAfterAdd = false;
    bool quitAfterSave = false;
    bool quitSheetShown = false;

    // Identification run.
    bool identifying = false;
    std::vector<CSong*> idBatch;
    int64_t pauseUntil = 0;  // clock second before which no song starts; 0: none
    CSong* currentIdSong = nullptr;
    // Set by analysis workers that answered from the cache; shared with them.
    std::shared_ptr<std::atomic<bool>> cacheHitThisTick = std::make_shared<std::atomic<bool>>(false);
    CIdAnalysis idAnalysis = DefaultIdAnalysis();

    // Account.
    CHttpRequest::Ptr introRequest;
    bool introRequestFailed = false;
    std::unique_ptr<CReloginJob> reloginJob;
    bool introLoginFailed = false;
    bool serverDown = false;

    // Version check: 0 none yet, 1 checking, 2 up to date, 3 another version.
    int32_t versionCheckState = 0;
    bool manualCheck = false;
    std::unique_ptr<CVersionCheck> versionCheck;
    IUpdaterWindow* updaterWindow = nullptr;  // installed by a front end with windows
    std::unique_ptr<CUpdater> updater;        // the last download

private:
    // Tick steps, in their order.
    void VersionCheckStep();
    void IntroRequestStep();
    void ListRebuildStep();
    void AddStep();
    void DuplicatesStep();
    void SaveStep();
    void LoginStep();
    // False when a pause after a request error ends the tick here.
    bool IdentificationStep();
    void DrawerButtonStep();

    void EndProcess();
    // A log-in check with the stored name and password.
    void StartStoredLogin();

    IShell& shell_;
    CAppPaths paths_;
    CControlState controls_;
    std::optional<std::vector<CSong*>> rows_;
    bool terminateRequested_ = false;
};

// Builds a four-character command code.
constexpr CommandId Cmd(const char (&code)[5]) { return FourCharCode(code); }
