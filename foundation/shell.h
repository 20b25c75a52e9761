#pragma once
// The shell port: what the windows do for the core. The Qt main window,
// melodex-cli and the tests' recording fake implement it. Every method has a
// harmless default so that a front end without windows overrides only what
// it shows. All calls come from the main thread.

#include <string>
#include <vector>

struct CSong;
struct CPrefs;
struct CControlState;

class IShell {
public:
    virtual ~IShell() = default;

    // False for front ends without windows: steps that only place or size
    // windows are then skipped.
    virtual bool HasWindows() const { return false; }

    virtual void RefreshSongRow(CSong* /*song*/) {}
    virtual void UpdateControls() {}
    // The state of every main-window control, recomputed by the core.
    virtual void ShowControls(const CControlState& /*state*/) {}
    // The identification progress text under the toolbar (not the account
    // status line, which travels in CControlState).
    virtual void SetStatusText(const std::string& /*text*/) {}

    // A progress sheet over the main window; Stop is reported by the core's
    // cancel flags, not through this port.
    virtual void ShowProgress(const std::string& /*title*/) {}
    virtual void SetProgress(const std::string& /*text*/, double /*fraction*/) {}
    virtual void HideProgress() {}

    // Asks a question; returns the index of the chosen button (buttons in the
    // order given). Front ends without a user answer with defaultButton.
    virtual int Ask(const std::string& /*message*/, const std::string& /*detail*/,
                    const std::vector<std::string>& /*buttons*/, int defaultButton) {
        return defaultButton;
    }
    virtual void Alert(const std::string& /*message*/, const std::string& /*detail*/) {}

    virtual void OpenPreferences() {}
    virtual void Beep() {}
    virtual void SetBusyCursor(bool /*busy*/) {}

    // Window state held in the preferences (column widths, window places,
    // search scope marks): pushed to the windows after loading, collected
    // from them before saving.
    virtual void ApplyWindowPrefs(const CPrefs& /*prefs*/) {}
    virtual void CollectWindowPrefs(CPrefs& /*prefs*/) {}
    // Resets the columns and the main window's place (ResetColumnRecords,
    // DefaultMainWindowFrame) and records the result in prefs.
    virtual void ResetWindowPrefs(CPrefs& /*prefs*/) {}
};

// A shell that shows nothing (the default when none is installed).
IShell& NullShell();
