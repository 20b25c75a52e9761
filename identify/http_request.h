#pragma once
// One HTTP exchange, driven by its owner: create, set what differs from the
// defaults, Start, Poll on every timer tick until it returns false, read the
// response when GetError() is 0, then discard (reset the pointer).
//
// Plain URLs go over a socket whose thread belongs to a CHttpConnection;
// parsing, retries and redirects run inside Poll on the owner's thread. URLs
// naming the HTTPS scheme run on a CUrlAccessJob thread instead. One mutex
// per request (shared with its jobs) guards every field the job touches.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/data_buffer.h"
#include "identify/http_headers.h"

class CHttpConnection;
class CUrlAccessJob;

// Fixed numbers: progress texts are chosen by them.
enum class EHttpState : int32_t {
    Idle = 0,
    Connecting = 1,
    StatusLine = 2,
    Headers = 3,
    ChunkSize = 4,
    ChunkData = 5,
    UntilClose = 6,
};

// The request line and headers as they go on the wire, and the host they go to.
struct SHttpWireRequest {
    std::string host;
    std::string text;  // without the terminating zero byte that is sent after it
};
// Splits a stored URL into host and path and formats the request text.
SHttpWireRequest FormatHttpRequest(const char* storedUrl, int32_t method, const char* referer,
                                   const char* body, const char* userAgent);

class CHttpRequest {
public:
    static constexpr int32_t kGet = 0;
    static constexpr int32_t kPost = 1;
    // Consecutive 302 redirects followed before the request ends with -68.
    static constexpr int32_t kMaxRedirects = 10;

    struct SDiscard {
        void operator()(CHttpRequest* request) const { request->Discard(); }
    };
    // Resetting the pointer discards the request.
    using Ptr = std::unique_ptr<CHttpRequest, SDiscard>;

    static Ptr Create(const char* url = nullptr);

    void SetUrl(const char* text, uint32_t defaultPort = 80);
    void SetMethod(int32_t method);
    void SetReferer(const char* referer);
    void SetBody(const char* body);
    void SetTimeout(int32_t seconds);
    void SetRetries(int32_t count);
    void SetFollowRedirects(bool follow);

    // Begins an attempt. Throws CError when no socket or thread can be created.
    void Start();
    // Advances the request; true while it is not Idle.
    bool Poll();

    int32_t GetError() const;
    uint32_t GetStatusCode() const;
    EHttpState GetState() const;
    int32_t GetResponseLength() const;
    const uint8_t* GetResponseData() const;
    // Copies min(length, size - 1) bytes and terminates them.
    void CopyResponse(char* destination, size_t size) const;

    std::string GetUrl() const;
    uint32_t GetPort() const;
    bool UsesUrlService() const;
    std::string GetRequestText() const;
    int32_t GetRetryCount() const;
    int32_t GetHeaderCount() const;
    std::string GetHeaderName(int32_t index) const;
    std::string GetHeaderValue(int32_t index) const;
    // Value of a response header in any letter case, or "" when absent.
    std::string FindHeader(const char* name) const;

    // The process-wide user agent (63 characters kept), sent with every request.
    static void SetUserAgent(const char* text);
    static std::string UserAgent();

private:
    friend class CUrlAccessJob;
    CHttpRequest();
    ~CHttpRequest();
    CHttpRequest(const CHttpRequest&) = delete;
    CHttpRequest& operator=(const CHttpRequest&) = delete;

    void Discard();

    // All of the following expect the request's mutex to be held.
    void SetUrlLocked(const char* text, uint32_t defaultPort);
    void StartLocked();
    void FinishAttemptLocked();
    void DropConnectionLocked();
    void CancelJobLocked();
    bool ConnectionClosed() const;
    void FailLocked(int32_t error);
    void FailClosedLocked();
    void StepStatusLine();
    void StepHeaders();
    void StepChunkSize();
    void StepChunkData();
    void StepUntilClose();
    void FollowRedirectLocked();
    // Called by a job thread at its end, with the mutex held.
    void JobEndedLocked(int32_t status, std::string& body, uint32_t statusCode,
                        const CHttpHeaders* headers, bool redirectLoop);

    // Shared with this request's jobs so that a job can lock it safely even
    // after the request has cut the link.
    std::shared_ptr<std::mutex> mutex_;
    bool deletePending_ = false;
    std::string url_;
    uint32_t port_ = 80;
    bool useUrlService_ = false;
    int32_t method_ = kGet;
    std::unique_ptr<std::string> referer_;
    std::unique_ptr<std::string> body_;
    std::string requestText_;
    int32_t timeout_ = 120;
    int32_t maxRetries_ = 3;
    int32_t deadline_ = 0;
    int32_t retryCount_ = 0;
    int32_t redirectCount_ = 0;
    bool followRedirects_ = true;
    CHttpConnection* connection_ = nullptr;  // not owned once dropped
    EHttpState state_ = EHttpState::Idle;
    int32_t error_ = 0;
    uint32_t statusCode_ = 0;
    int32_t chunkRemaining_ = 0;
    std::unique_ptr<CDataBuffer> response_;
    CHttpHeaders headers_;
    CUrlAccessJob* job_ = nullptr;  // owned by its thread
};
