#pragma once
// The update download on a thread of its own: the file at the destination is
// written anew, the body of the URL goes into it as it arrives (so its size
// on disk shows the progress), and a zip, tar or 7-Zip archive is then
// expanded into the destination's folder. A failed or cancelled download
// leaves no partial file behind.
//
// Hand-over: the thread writes error before done (release); the owner reads
// done (acquire) and then error. The owner alone joins the thread.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class CUpdateDownload {
public:
    // A transfer that moves no byte for this long fails with -2415.
    static constexpr long kStallSeconds = 120;

    CUpdateDownload(std::string url, std::string destination);
    // Cancels a running download.
    ~CUpdateDownload();
    CUpdateDownload(const CUpdateDownload&) = delete;
    CUpdateDownload& operator=(const CUpdateDownload&) = delete;

    // Starts the thread; throws CError when it cannot start.
    void Start();
    // Stops the transfer, waits for the thread and removes the partial file.
    // A download that already ended is left as it is.
    void Cancel();

    bool Done() const { return done_.load(std::memory_order_acquire); }
    // Valid once Done(): 0, or the code of the failure.
    int32_t Error() const { return error_.load(std::memory_order_relaxed); }
    const std::string& Destination() const { return destination_; }

private:
    void Run();
    int32_t Transfer(int fd);
    int32_t Expand();

    const std::string url_;
    const std::string destination_;
    std::thread thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> done_{false};
    std::atomic<int32_t> error_{0};
};

// Whether the file is an archive of a kind that is expanded after a download.
bool IsExpandableArchive(const std::string& path);
// Expands the archive into the folder; entries that would land outside it
// (absolute paths, "..", links pointing out) are refused. Returns 0 or an
// error code; stops with -128 when cancel becomes set.
int32_t ExpandArchive(const std::string& path, const std::string& folder,
                      const std::atomic<bool>* cancel = nullptr);
