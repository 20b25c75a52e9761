#include "identify/url_access_job.h"

#include <curl/curl.h>

#include <cstring>
#include <system_error>
#include <chrono>
#include <thread>

#include "foundation/crypto_init.h"
#include "foundation/detached_thread.h"
#include "foundation/errors.h"
#include "foundation/text.h"
#include "identify/http_headers.h"
#include "identify/http_request.h"

namespace {

constexpr size_t kMaxHeaderText = 16384;

struct SCallbackData {
    std::string* body;
    std::string* headerText;
    const std::atomic<bool>* abort;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* cb = static_cast<SCallbackData*>(user);
    if (cb->abort->load(std::memory_order_acquire)) return 0;  // ends the transfer
    cb->body->append(data, size * count);
    return size * count;
}

// Keeps the header block of the last response only: redirects and interim
// responses each start again with their own status line.
size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* cb = static_cast<SCallbackData*>(user);
    size_t n = size * count;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) cb->headerText->clear();
    size_t room = kMaxHeaderText - std::min(kMaxHeaderText, cb->headerText->size());
    cb->headerText->append(data, std::min(n, room));
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* cb = static_cast<SCallbackData*>(user);
    return cb->abort->load(std::memory_order_acquire) ? 1 : 0;
}

int32_t MapCurlError(CURLcode code, CURL* curl) {
    long osErrno = 0;
    if (code == CURLE_COULDNT_CONNECT || code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR)
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
    return TransferErrorCode(code, osErrno);
}

struct SCurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SSlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

void InitTransferLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        InitCryptoLibrary();
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

int32_t TransferErrorCode(int curlCode, long osErrno) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_OK:
            return 0;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return -3263;
        case CURLE_OPERATION_TIMEDOUT:
            return -2415;
        case CURLE_OUT_OF_MEMORY:
            return eOutOfMemory;
        case CURLE_TOO_MANY_REDIRECTS:
            return eInvalidData;
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
            if (osErrno != 0) return static_cast<int32_t>(osErrno);
            break;
        default:
            break;
    }
    return CUrlAccessJob::kErrorBase - static_cast<int32_t>(curlCode);
}

CUrlAccessJob* CUrlAccessJob::Launch(CHttpRequest* request) {
    std::unique_ptr<CUrlAccessJob> job(new CUrlAccessJob());
    job->mutex_ = request->mutex_;
    job->request_ = request;
    job->url_ = request->url_;
    job->method_ = request->method_;
    job->userAgent_ = CHttpRequest::UserAgent();
    if (request->referer_) job->referer_ = std::make_unique<std::string>(*request->referer_);
    if (request->body_) job->body_ = std::make_unique<std::string>(*request->body_);
    job->followRedirects_ = request->followRedirects_;
    job->maxRedirects_ = CHttpRequest::kMaxRedirects;
    CUrlAccessJob* raw = job.get();
    try {
        StartDetachedThread([owned = std::move(job)] { owned->Run(); });
    } catch (const std::system_error& e) {
        ThrowErrno(e.code().value() != 0 ? e.code().value() : -1);
    }
    return raw;
}

int32_t CUrlAccessJob::Transfer(std::string& body, std::string& headerText) {
    InitTransferLibrary();

    std::unique_ptr<CURL, SCurlDeleter> curl(curl_easy_init());
    if (!curl) return eOutOfMemory;
    CURL* h = curl.get();
    SCallbackData cb{&body, &headerText, &abort_};

    curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (!userAgent_.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent_.c_str());

    curl_slist* list = nullptr;
    list = curl_slist_append(list, "Content-Type:application/x-www-form-urlencoded");
    list = curl_slist_append(list, "Cache-Control: no-cache");
    std::string refererLine;
    if (referer_) {
        // "Name;" is how the library sends a header with an empty value.
        refererLine = referer_->empty() ? "Referer;" : "Referer: " + *referer_;
        list = curl_slist_append(list, refererLine.c_str());
    }
    list = curl_slist_append(list, "Expect:");  // no interim 100 round trip
    std::unique_ptr<curl_slist, SSlistDeleter> headers(list);
    if (!list) return eOutOfMemory;
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);

    std::string postData;
    if (method_ == CHttpRequest::kPost) curl_easy_setopt(h, CURLOPT_POST, 1L);
    if (body_) {
        postData = *body_ + "\r\n\r\n";
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postData.c_str());
    } else if (method_ == CHttpRequest::kPost) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, "");
    }
    if (method_ != CHttpRequest::kPost && body_) curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "GET");

    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, followRedirects_ ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, static_cast<long>(maxRedirects_));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &cb);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &cb);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &cb);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    if (abort_.load(std::memory_order_acquire)) return 0;
    CURLcode code = curl_easy_perform(h);
    tooManyRedirects_ = code == CURLE_TOO_MANY_REDIRECTS;
    return MapCurlError(code, h);
}

void CUrlAccessJob::Run() {
    std::string body;
    std::string headerText;
    try {
        status_ = Transfer(body, headerText);
    } catch (...) {
        status_ = eOutOfMemory;  // only allocations throw in the transfer
    }
    body.push_back('\0');

    // The status code follows the first space of the header text; the headers
    // start after its first line.
    uint32_t statusCode = 0;
    CHttpHeaders headers;
    bool aborted = abort_.load(std::memory_order_acquire);
    if (!aborted) {
        size_t space = headerText.find(' ');
        int64_t code = 0;
        if (space != std::string::npos &&
            ParseDecimalField(headerText.c_str() + space + 1, " \t\r\n", &code) != nullptr) {
            statusCode = static_cast<uint32_t>(code);
        }
        size_t lineEnd = headerText.find("\r\n");
        if (lineEnd != std::string::npos) {
            headers.Parse(headerText.data() + lineEnd + 2, headerText.size() - lineEnd - 2);
        }
    }
    done_.store(true, std::memory_order_release);

    CHttpRequest* freeRequest = nullptr;
    {
        std::lock_guard<std::mutex> lock(*mutex_);
        if (request_ != nullptr) {
            CHttpRequest* request = request_;
            request_ = nullptr;
            request->JobEndedLocked(status_, body, statusCode, aborted ? nullptr : &headers,
                                    tooManyRedirects_);
            if (request->deletePending_) freeRequest = request;
        }
    }
    // The owner let go of a discarded request; nobody else can reach it now.
    // The job's copy of the mutex keeps the lock alive through this.
    delete freeRequest;
}
