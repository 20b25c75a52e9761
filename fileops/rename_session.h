#pragma once
// The rename window's logic: its timer, its commands and the modal run
// around the rename worker. The window itself only displays what it is told
// and forwards the user's commands; it is reached through IRenameWindow.
// Texts given to the window are single-byte application text.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fileops/rename.h"

struct CPrefs;
struct CSong;
class CRenameSession;

enum class ERenameLayout {
    Compact,       // the pattern row hidden
    Full,          // the pattern row shown
    ProgressOnly,  // Rename All: only the progress row
};

class IRenameWindow {
public:
    virtual ~IRenameWindow() = default;

    // The pattern popup's items (first use of the window only).
    virtual void SetPresets(const std::vector<std::string>& patterns) = 0;
    // Runs the window modally: calls session.Timer() every 0.1 s and forwards
    // the user's commands to the session until EndModal.
    virtual void RunModal(CRenameSession& session) = 0;
    virtual void EndModal() = 0;
    virtual void Close() = 0;

    virtual void SetLayout(ERenameLayout layout, int width, int height) = 0;
    virtual void SetProgress(int32_t value, int32_t maximum, const std::string& status) = 0;
    virtual void ShowBusy(bool shown) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // Rename, Rename All and Skip together.
    virtual void EnableDecisions(bool enabled) = 0;
    virtual void EnableCancel(bool enabled) = 0;
    virtual void SetCancelTitle(const std::string& title) = 0;

    virtual void SetCurrentName(const std::string& name) = 0;
    virtual void SetNewName(const std::string& name) = 0;
    virtual std::string NewName() const = 0;
    virtual void SetPattern(const std::string& pattern) = 0;
    virtual std::string Pattern() const = 0;
    virtual bool PatternHasFocus() const = 0;
    virtual void FocusNewName() = 0;
    virtual void FocusPattern() = 0;

    // A stop alert with the buttons "Cancel" (0, default), "Skip" (1) and
    // "Cancel and Show in Finder" (2); returns the button chosen.
    virtual int ShowError(const std::string& message, const std::string& detail) = 0;
};

// The preset patterns of the popup.
const std::vector<std::string>& RenamePresets();

class CRenameSession {
public:
    static constexpr int kWidth = 472;
    static constexpr int kCompactHeight = 146;
    static constexpr int kFullHeight = 311;
    static constexpr int kProgressOnlyHeight = 46;

    CRenameSession(IRenameWindow& window, CPrefs& prefs);
    CRenameSession(const CRenameSession&) = delete;
    CRenameSession& operator=(const CRenameSession&) = delete;

    // Renames the songs (in row order) with the window run modally; returns
    // when the worker has ended.
    void Run(std::vector<CSong*> songs);

    // The window's timer (not re-entered).
    void Timer();

    // The window's commands; Cancel is also the close box.
    void Rename() { Decide(ERenameAction::Rename); }
    void Skip() { Decide(ERenameAction::Skip); }
    void RenameAll() { Decide(ERenameAction::RenameAll); }
    void Cancel() { Decide(ERenameAction::Cancel); }
    void Disclosure();
    // Item k (from 0) of the preset popup.
    void Preset(int k);
    void Apply();

    const CRenameRun& RunRecord() const { return run_; }

private:
    void Decide(ERenameAction decision);
    void TakePattern(const std::string& pattern);
    void RefreshProposal();
    void FocusAfterPatternChange();
    void SetLayout(ERenameLayout layout);
    void HandleError();
    CSong* CurrentSong() const;

    IRenameWindow& window_;
    CPrefs& prefs_;
    CRenameRun run_;
    bool presetsFilled_ = false;
    bool inTimer_ = false;
    bool ended_ = false;
    bool decisionsEnabled_ = false;
    bool cancelEnabled_ = true;
    bool patternRowShown_ = false;
    ERenameLayout layout_ = ERenameLayout::Compact;
    ERenameLayout layoutBeforeRenameAll_ = ERenameLayout::Compact;
};
