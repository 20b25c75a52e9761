#pragma once
// One HTTPS attempt of a CHttpRequest, run through libcurl on a thread of its
// own. It sends the same headers as the socket path and delivers the body,
// the status code and the headers into the request when it ends.
//
// Ownership: the job's thread owns the record. The request holds a raw link
// to it under the request's mutex; either side may cut the link (the request
// when it cancels the job, the job when it ends), and after that neither
// touches the other. A request that was discarded while its job ran is freed
// by the job.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class CHttpRequest;
class CHttpHeaders;

class CUrlAccessJob {
public:
    // Failures of the transfer that have no better code of their own are
    // reported as this base minus the transfer library's error number.
    static constexpr int32_t kErrorBase = -30000;

    // Creates a job linked to the request and starts its thread. The caller
    // holds the request's mutex. Throws CError when the thread cannot start.
    static CUrlAccessJob* Launch(CHttpRequest* request);

    // Both with the request's mutex held.
    void Abort() { abort_.store(true, std::memory_order_release); }
    void Unlink() { request_ = nullptr; }

    bool done() const { return done_.load(std::memory_order_acquire); }

private:
    CUrlAccessJob() = default;
    void Run();
    int32_t Transfer(std::string& body, std::string& headerText);

    std::shared_ptr<std::mutex> mutex_;  // the request's mutex
    CHttpRequest* request_ = nullptr;    // guarded by mutex_
    std::atomic<bool> done_{false};
    std::atomic<bool> abort_{false};
    int32_t status_ = 0;
    bool tooManyRedirects_ = false;

    // Copied from the request when the job starts, so the thread never reads
    // the request's fields while the owner may change them.
    std::string url_;
    int32_t method_ = 0;
    std::string userAgent_;
    std::unique_ptr<std::string> referer_;
    std::unique_ptr<std::string> body_;
    bool followRedirects_ = true;
    int32_t maxRedirects_ = 0;
};

// Initialises the transfer library once per process; any thread.
void InitTransferLibrary();
// The error code for a transfer library result (0 for success). osErrno is
// the system error the library recorded for a failed connect, send or receive.
int32_t TransferErrorCode(int curlCode, long osErrno);
