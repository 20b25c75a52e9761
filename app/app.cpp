#include "app/app.h"

#include <algorithm>
#include <cstring>

#include "fileops/itunes.h"
#include "foundation/clock.h"
#include "foundation/text.h"
#include "identify/account.h"
#include "identify/id_driver.h"

namespace {

// Menu texts are cut to this many bytes.
constexpr size_t kMenuTitleMax = 250;

}  // namespace

CApp::CApp(IShell& shell, CAppPaths paths) : shell_(shell), paths_(std::move(paths)) {
    char version[64];
    CopyBounded(version, sizeof version, MELODEX_VERSION);
    appVersion = version;
    cache = paths_.cachePath.empty() ? std::make_shared<CIdCache>()
                                     : std::make_shared<CIdCache>(paths_.cachePath);
    CHttpRequest::SetUserAgent("melodex_mac");
    // No window exists yet, so the reset moves nothing.
    ResetPrefs(prefs, NullShell());
    startTime = Clock().WallTime();
}

CApp::~CApp() {
    // Workers still running free themselves; requests are discarded.
    for (CSong& song : songs) {
        if (song.idJob != nullptr) song.idJob->Release();
        song.idJob = nullptr;
        CHttpRequest::Ptr(song.idRequest).reset();
        song.idRequest = nullptr;
    }
}

void CApp::Startup() {
    UpdateControls();
    if (paths_.prefsPath.empty())
        LoadPrefs(prefs, shell_);
    else
        LoadPrefs(prefs, shell_, paths_.prefsPath.c_str());
    UpdateControls();
    // A companion script that is installed is refreshed with this version's.
    if (prefs.iTunesScriptMenu && CompanionScript(ECompanionOp::Query, true, shell_))
        CompanionScript(ECompanionOp::Install, true, shell_);
    cache->LoadCache();
    const bool noAccount = prefs.userName[0] == '\0' && prefs.password[0] == '\0';
    if (noAccount || prefs.identificationsLeft == 0) {
        HandleCommand(Cmd("pref"));
    } else if (!prefs.introAccount && !reloginJob) {
        StartStoredLogin();
    }
    ApplicationActivated();
}

void CApp::StartStoredLogin() {
    reloginJob = std::make_unique<CReloginJob>();
    StartRelogin(*this, *reloginJob, prefs.userName, prefs.password);
    UpdateControls();
}

bool CApp::SaveSettings() {
    return paths_.prefsPath.empty() ? SavePrefs(prefs, shell_)
                                    : SavePrefs(prefs, shell_, paths_.prefsPath.c_str());
}

// ---- Tick ----

void CApp::Tick() {
    VersionCheckStep();
    IntroRequestStep();
    ListRebuildStep();
    AddStep();
    DuplicatesStep();
    SaveStep();
    LoginStep();
    if (!IdentificationStep()) return;
    DrawerButtonStep();
}

void CApp::IntroRequestStep() {
    if (introRequest) PollIntroRequest(*this);
}

void CApp::ListRebuildStep() {
    if (!listDirty) return;
    listDirty = false;
    songs.NormalizeGroups();
}

void CApp::LoginStep() {
    if (reloginJob) FinishRelogin(*this);
}

bool CApp::IdentificationStep() { return IdentifyTick(*this); }

void CApp::DrawerButtonStep() {
    if (controls_.drawValue == drawerOpen) return;
    controls_.drawValue = drawerOpen;
    shell_.ShowControls(controls_);
}

// ---- Controls ----

bool CApp::LongOperationRuns() const { return adding || findingDuplicates || saving || renaming; }

int32_t CApp::ModifiedCount() const {
    int32_t count = 0;
    for (const CSong& song : songs) count += song.modified ? 1 : 0;
    return count;
}

bool CApp::Busy() const { return identifying || LongOperationRuns(); }

void CApp::SetSelection(std::vector<CSong*> songsSelected) { selection = std::move(songsSelected); }

void CApp::SetRows(std::vector<CSong*> rows) { rows_ = std::move(rows); }

std::vector<CSong*> CApp::Rows() const {
    if (rows_) return *rows_;
    std::vector<CSong*> all;
    all.reserve(static_cast<size_t>(songs.Count()));
    for (CSong& song : songs) all.push_back(&song);
    return all;
}

int32_t CApp::RowCount() const {
    return rows_ ? static_cast<int32_t>(rows_->size()) : songs.Count();
}

CControlState CApp::ComputeControls(const CControlState& previous) const {
    CControlState c = previous;
    c.drawValue = drawerOpen;
    c.cursVisible = identifying;
    const bool drawerHasSong = drawerOpen && drawerSong != nullptr;
    c.lyriEnabled = drawerHasSong;
    c.playEnabled = drawerHasSong;

    if (identifying) {
        c.itunEnabled = c.afilEnabled = c.grouEnabled = c.ungrEnabled = false;
        c.delbEnabled = c.renbEnabled = c.seinEnabled = c.seunEnabled = false;
        c.statVisible = c.progVisible = true;
        c.idenTitle = "Stop ID";
        c.idenEnabled = true;
        c.idetVisible = false;
        c.idesVisible = c.idesEnabled = true;
    } else if (findingDuplicates || saving || renaming) {
        c.itunEnabled = c.afilEnabled = c.grouEnabled = c.ungrEnabled = false;
        c.idenEnabled = c.idetEnabled = c.idesEnabled = false;
        c.renbEnabled = c.delbEnabled = c.seinEnabled = c.seunEnabled = false;
    } else {
        c.statVisible = c.progVisible = false;
        c.idesVisible = false;
        c.idenVisible = c.idetVisible = true;
        const bool account = prefs.userName[0] != '\0' && prefs.password[0] != '\0';
        if (songs.Count() > 0 && account && prefs.identificationsLeft > 0) {
            c.idenEnabled = c.idetEnabled = true;
            if (!selection.empty()) {
                const auto unidentified = std::count_if(selection.begin(), selection.end(),
                                                        [](const CSong* s) { return !s->identified; });
                if (unidentified == 1) {
                    c.idenTitle = "ID Song";
                } else if (unidentified > 1) {
                    c.idenTitle = "ID " + std::to_string(unidentified) + " Songs";
                } else {
                    c.idenTitle = "ID Songs";
                    c.idenEnabled = c.idetEnabled = false;
                }
            } else {
                c.idenTitle = "ID All";
            }
        } else {
            c.idenTitle = "ID Songs";
            c.idenEnabled = c.idetEnabled = false;
        }
        c.delbEnabled = c.renbEnabled = !selection.empty();
        c.itunEnabled = c.afilEnabled = true;
        c.grouEnabled = c.ungrEnabled = songs.Count() > 1;
        c.seinEnabled = c.seunEnabled = RowCount() > 1;
    }

    c.idenMenuTitle = c.idenTitle.substr(0, kMenuTitleMax);
    c.statusLine = AccountStatusText(*this);
    const bool anyModified = ModifiedCount() > 0;
    c.modifiedMark = anyModified;
    c.savaEnabled = anyModified && !identifying;
    return c;
}

void CApp::UpdateControls() {
    controls_ = ComputeControls(controls_);
    shell_.ShowControls(controls_);
    shell_.UpdateControls();
}

// ---- Commands ----

bool CApp::HandleCommand(CommandId command) {
    switch (command) {
        case Cmd("IDEN"):
        case Cmd("IDES"):
            ToggleIdentification(*this);
            return true;
        case Cmd("CURS"):
        case Cmd("CUR2"):
        case Cmd("PROG"):
            // Scrolling to the song being identified belongs to the list view.
            return true;
        case Cmd("GROU"):
            FindDuplicates();
            return true;
        case Cmd("UNGR"):
            ClearGroups();
            return true;
        case Cmd("DELB"):
            TrashSelected();
            return true;
        case Cmd("RENB"):
            RenameSelected();
            return true;
        case Cmd("SAVE"):
            SaveSongs(true);
            return true;
        case Cmd("SAVA"):
            SaveSongs(false);
            return true;
        case Cmd("MSSD"):
            for (CSong* song : selection) song->modified = true;
            UpdateControls();
            return true;
        case Cmd("DRAW"):
            drawerOpen = !drawerOpen;
            UpdateControls();
            return true;
        case Cmd("TULB"):
            prefs.toolbarVisible = prefs.toolbarVisible ? 0 : 1;
            UpdateControls();
            return true;
        case Cmd("LOGN"):
            if (reloginJob)
                HandleCommand(Cmd("pref"));
            else
                StartStoredLogin();
            return true;
        case Cmd("pref"):
            shell_.OpenPreferences();
            return true;
        case Cmd("hUpd"):
            StartVersionCheck(true);
            return true;
        case Cmd("CHNW"):
            prefs.autoVersionCheck = prefs.autoVersionCheck ? 0 : 1;
            prefs.nextVersionCheck = 0;
            return true;
        case Cmd("clos"):
        case Cmd("quit"):
            RequestQuit();
            return true;
        case Cmd("ok  "):
            // The end of the save run quits (Tick step 6).
            quitAfterSave = true;
            if (!SaveSongs(false)) {
                quitAfterSave = false;
                quitSheetShown = false;
            }
            return true;
        case Cmd("not!"):
            EndProcess();
            return true;
        case Cmd("othr"):
            quitSheetShown = false;
            UpdateControls();
            return true;
        default:
            return false;
    }
}

void CApp::RequestQuit() {
    if (identifying) {
        const int answer = shell_.Ask("Song identification is in progress. Quit anyway?", "",
                                      {"Quit", "Cancel"}, 1);
        if (answer != 0) return;
        identifying = false;
        UpdateControls();
    }
    const int32_t modifiedCount = ModifiedCount();
    if (modifiedCount == 0) {
        HandleCommand(Cmd("not!"));
        return;
    }
    quitSheetShown = true;
    std::string text = modifiedCount == 1
                           ? std::string("You have made changes to one song")
                           : "You have made changes to " + std::to_string(modifiedCount) + " songs";
    text += ".\nSave those changes before quitting?";
    static constexpr CommandId kSheetCommands[] = {Cmd("ok  "), Cmd("not!"), Cmd("othr")};
    const int answer = shell_.Ask(text, "", {"Save", "Don't Save", "Cancel"}, 0);
    HandleCommand(kSheetCommands[answer >= 0 && answer < 3 ? answer : 2]);
}

void CApp::EndProcess() {
    SaveSettings();
    terminateRequested_ = true;
}
