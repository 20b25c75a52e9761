#include "update/updater.h"

#include <sys/stat.h>

#include <cstdio>

#include "foundation/clock.h"
#include "foundation/desktop.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"

namespace {

constexpr char kFailureMessage[] = "Could not download an update as an error occured.";
constexpr size_t kDestinationSize = 4096;

int64_t FileSizeOnDisk(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<int64_t>(status.st_size) : 0;
}

std::string SizeText(int64_t bytes) {
    char text[64];
    FormatSize(text, sizeof text, bytes, false);
    return text;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

std::string RemainingTimeText(int64_t seconds) {
    if (seconds < 60) return "Less than a minute";
    if (seconds < 120) return "About one minute";
    if (seconds < 180) return "About two minutes";
    if (seconds < 240) return "About three minutes";
    char text[64];
    if (seconds < 3600) {
        FormatBounded(text, sizeof text, "%lld minutes", static_cast<long long>(seconds / 60));
    } else {
        FormatBounded(text, sizeof text, "%lld hours and %lld minutes", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60));
    }
    return text;
}

SDownloadProgress DownloadProgressTexts(bool done, int64_t bytesSoFar, int64_t expectedSize, int64_t speed,
                                        int64_t elapsed) {
    SDownloadProgress p;
    p.downloaded = done ? "Download Complete." : SizeText(bytesSoFar) + " out of " + SizeText(expectedSize);
    char text[64];
    FormatDuration(text, sizeof text, elapsed);
    p.elapsed = text;
    FormatBounded(text, sizeof text, "%3.1f kilobytes per second", static_cast<double>(speed) / 1024.0);
    p.speed = text;
    if (speed == 0 || elapsed < 3)
        p.remaining = "--";
    else
        p.remaining = RemainingTimeText((expectedSize - bytesSoFar) / speed);
    if (done) {
        p.progressMax = 1;
        p.progressValue = 1;
    } else {
        p.progressMax = expectedSize;
        p.progressValue = bytesSoFar;
    }
    return p;
}

int32_t UpdaterWindowHeight(bool detailsOpen, bool hasReleaseNotes, bool notesOpen) {
    if (!detailsOpen) return 43;
    if (!hasReleaseNotes) return 95;
    return notesOpen ? 294 : 113;
}

std::string DownloadFileName(const std::string& url) {
    const std::string path = url.substr(0, url.find_first_of("?#"));
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

CUpdater::CUpdater(IUpdaterWindow& window, IShell& shell) : window_(window), shell_(shell) {}

CUpdater::~CUpdater() {
    if (download_) download_->Cancel();
}

bool CUpdater::Start(const std::string& title, const std::string& url, const std::string& releaseNotes,
                     int64_t expectedSize) {
    url_ = url;
    fileName_ = DownloadFileName(url);
    std::string folder;
    const int32_t choice = window_.ChooseFolder("Choose where to save " + fileName_, "MelodexUpdate", folder);
    if (choice == IUpdaterWindow::kCancelled) return false;
    if (choice != 0) {
        ReportFailure(choice);
        return false;
    }
    destination_ = folder + "/" + fileName_;
    if (destination_.size() >= kDestinationSize) {
        ReportFailure(ENAMETOOLONG);
        return false;
    }

    hasReleaseNotes_ = !releaseNotes.empty();
    window_.Prepare(title, ReplaceAll(releaseNotes, "&quot;", "\""), url);
    notesOpen_ = false;
    Resize();

    startTime_ = Clock().Now();
    elapsed_ = 0;
    bytesSoFar_ = 0;
    reported_ = false;
    expectedSize_ = expectedSize;
    download_ = std::make_unique<CUpdateDownload>(url_, destination_);
    try {
        download_->Start();
    } catch (const CError& error) {
        download_.reset();
        ReportFailure(error.code);
        return false;
    }
    open_ = true;
    window_.RunModal();
    return true;
}

void CUpdater::TimerStep() {
    if (!open_ || !download_) return;
    // Done is read before the size: a finished download's file is complete.
    const bool done = download_->Done();
    const int64_t bytesNow = FileSizeOnDisk(destination_);
    const int64_t speed = bytesNow - bytesSoFar_;
    bytesSoFar_ = bytesNow;
    elapsed_ = static_cast<int64_t>(Clock().Now() - startTime_);

    const SDownloadProgress p = DownloadProgressTexts(done, bytesSoFar_, expectedSize_, speed, elapsed_);
    window_.SetText("DOWN", p.downloaded);
    window_.SetText("ELAP", p.elapsed);
    window_.SetText("SPEE", p.speed);
    window_.SetText("REMA", p.remaining);
    window_.SetProgress(0, p.progressMax, p.progressValue);

    if (!done || reported_) return;
    reported_ = true;
    const int32_t error = download_->Error();
    if (error != 0) {
        ReportFailure(error);
    } else {
        const int answer = shell_.Ask("Latest version downloaded successfully!",
                                      "Run \"" + fileName_ + "\" from the Finder to proceed with installation.",
                                      {"Show it in Finder", "Close"}, 0);
        if (answer == 0) Desktop().RevealFile(destination_);
    }
    Close();
}

void CUpdater::ToggleDetails() {
    detailsOpen_ = !detailsOpen_;
    Resize();
}

void CUpdater::ToggleNotes() {
    notesOpen_ = !notesOpen_;
    Resize();
}

void CUpdater::Close() {
    if (download_ && !download_->Done()) download_->Cancel();
    if (!open_) return;
    open_ = false;
    window_.EndModal();
}

void CUpdater::Resize() {
    window_.SetSize(kUpdaterWindowWidth, UpdaterWindowHeight(detailsOpen_, hasReleaseNotes_, notesOpen_));
}

void CUpdater::ReportFailure(int32_t error) {
    shell_.Ask(kFailureMessage, ErrorMessage(error), {"Sorry"}, 0);
}
