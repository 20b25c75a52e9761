#pragma once
// The update download behind its modal progress window: the folder choice,
// the download thread, the once-a-second progress texts and the final alert.

#include <cstdint>
#include <memory>
#include <string>

#include "foundation/shell.h"
#include "update/update_download.h"
#include "update/updater_window_port.h"

// What the window shows after one timer step.
struct SDownloadProgress {
    std::string downloaded;  // DOWN
    std::string elapsed;     // ELAP
    std::string speed;       // SPEE
    std::string remaining;   // REMA
    int64_t progressMax = 1;  // PROG runs from 0 to this
    int64_t progressValue = 0;
};

// "Less than a minute", "About one minute", ..., "%d minutes",
// "%d hours and %d minutes"; seconds already cut to a whole number.
std::string RemainingTimeText(int64_t seconds);
// The texts for the bytes so far, the bytes of the last second (speed) and
// the whole seconds since the download started.
SDownloadProgress DownloadProgressTexts(bool done, int64_t bytesSoFar, int64_t expectedSize,
                                        int64_t speed, int64_t elapsed);
// The window's height for the states of its two triangles.
int32_t UpdaterWindowHeight(bool detailsOpen, bool hasReleaseNotes, bool notesOpen);
constexpr int32_t kUpdaterWindowWidth = 437;
// The last path component of a download URL, without query or fragment.
std::string DownloadFileName(const std::string& url);

class CUpdater {
public:
    CUpdater(IUpdaterWindow& window, IShell& shell);
    ~CUpdater();
    CUpdater(const CUpdater&) = delete;
    CUpdater& operator=(const CUpdater&) = delete;

    // Asks for the folder, opens the window and starts the download; returns
    // when the window's modal loop ends. False when nothing was started (the
    // choice was cancelled, or a failure was reported).
    bool Start(const std::string& title, const std::string& url, const std::string& releaseNotes,
               int64_t expectedSize);

    // The window's timer, every second while it is shown.
    void TimerStep();
    // The triangles: TRI2 (details) and TRIA (release notes).
    void ToggleDetails();
    void ToggleNotes();
    // The close box, and the end after the final alert: a running download is
    // cancelled (its partial file removed) and the modal loop ends.
    void Close();

    bool IsOpen() const { return open_; }
    const std::string& Destination() const { return destination_; }

private:
    void Resize();
    void ReportFailure(int32_t error);

    IUpdaterWindow& window_;
    IShell& shell_;
    std::string url_;
    std::string destination_;
    std::string fileName_;
    bool hasReleaseNotes_ = false;
    bool detailsOpen_ = false;
    bool notesOpen_ = false;
    bool open_ = false;
    double startTime_ = 0;
    int64_t elapsed_ = 0;
    int64_t expectedSize_ = 0;
    int64_t bytesSoFar_ = 0;
    bool reported_ = false;
    std::unique_ptr<CUpdateDownload> download_;
};
