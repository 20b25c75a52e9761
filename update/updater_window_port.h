#pragma once
// What the update download needs from its window ("Updater") and from the
// folder chooser that precedes it. The Qt window implements it; tests fake it.
// Controls are named by their four-character IDs: DOWN, ELAP, SPEE and REMA
// (texts), PROG (progress bar), RELN (release notes), TRIA and TRI2
// (disclosure triangles). Main thread only.

#include <cstdint>
#include <string>

class IUpdaterWindow {
public:
    // Result of ChooseFolder when the user cancels.
    static constexpr int32_t kCancelled = -128;

    virtual ~IUpdaterWindow() = default;

    // A folder chooser attached to the main window as a sheet. Returns 0 with
    // the chosen folder, kCancelled, or the error code of a dialog failure.
    virtual int32_t ChooseFolder(const std::string& message, const std::string& clientKey,
                                 std::string& folder) = 0;

    // Loads the window on first use and prepares it: title, release notes,
    // the progress bar's help tag; the notes triangle closed.
    virtual void Prepare(const std::string& title, const std::string& releaseNotes,
                         const std::string& progressHelp) = 0;
    virtual void SetSize(int32_t width, int32_t height) = 0;
    virtual void SetText(const std::string& control, const std::string& text) = 0;
    virtual void SetProgress(int64_t minimum, int64_t maximum, int64_t value) = 0;
    // Shows the window and runs its modal loop, during which the window's
    // one-second timer calls CUpdater::TimerStep and its close box
    // CUpdater::Close. A front end that cannot block returns at once.
    virtual void RunModal() = 0;
    // Hides the window and ends its modal loop.
    virtual void EndModal() = 0;
};
