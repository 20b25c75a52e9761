#include "identify/http_request.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/text.h"
#include "identify/http_connection.h"
#include "identify/url_access_job.h"

namespace {

constexpr int32_t kTimeoutError = -2415;
constexpr size_t kMaxUrl = 16383;
constexpr size_t kMaxHost = 1023;
constexpr size_t kMaxPath = 16383;
constexpr size_t kMaxRequestText = 65535;
constexpr size_t kStatusLineLimit = 1024;
constexpr size_t kHeaderBlockLimit = 16384;
constexpr size_t kChunkLineLimit = 512;
constexpr int32_t kResponseCapacity = 2048;

std::mutex gUserAgentMutex;
char gUserAgent[64] = {};

// Whole seconds of the injectable clock: deadlines compare whole seconds.
int32_t NowSeconds() { return static_cast<int32_t>(std::floor(Clock().Now())); }

const char* MethodName(int32_t method) { return method == CHttpRequest::kPost ? "POST" : "GET"; }

// Position behind the first line ending (CR LF, else LF) within n bytes, or 0.
size_t LineLength(const char* bytes, size_t n) {
    for (size_t i = 0; i + 1 < n; ++i) {
        if (bytes[i] == '\r' && bytes[i + 1] == '\n') return i + 2;
    }
    const void* lf = std::memchr(bytes, '\n', n);
    return lf ? static_cast<size_t>(static_cast<const char*>(lf) - bytes) + 1 : 0;
}

size_t FindBytes(const char* bytes, size_t n, std::string_view needle) {
    std::string_view hay(bytes, n);
    size_t at = hay.find(needle);
    return at == std::string_view::npos ? 0 : at + needle.size();
}

}  // namespace

SHttpWireRequest FormatHttpRequest(const char* storedUrl, int32_t method, const char* referer,
                                   const char* body, const char* userAgent) {
    std::string_view rest(storedUrl);
    size_t scheme = rest.find("://");
    if (scheme != std::string_view::npos) rest.remove_prefix(scheme + 3);
    // The path is taken from the whole URL, not from the cut host text, so
    // that long query strings reach the server intact.
    size_t separator = rest.find_first_of("/\\?");
    SHttpWireRequest wire;
    wire.host = std::string(rest.substr(0, std::min(separator, kMaxHost)));
    std::string path;
    if (separator != std::string_view::npos) path = std::string(rest.substr(separator, kMaxPath));

    std::string& text = wire.text;
    text.reserve(256 + path.size());
    text.append(MethodName(method)).append(" ").append(path).append(" HTTP/1.1\r\n");
    text.append("Accept: */*\r\nHost: ").append(wire.host);
    text.append("\r\nUser-Agent: ").append(userAgent);
    text.append("\r\nCache-Control: no-cache\r\n"
                "Content-Type:application/x-www-form-urlencoded\r\n"
                "Connection: close\r\n");
    if (referer != nullptr && *referer != '\0') text.append("Referer: ").append(referer).append("\r\n");
    if (body != nullptr && *body != '\0') {
        text.append("Content-Length: ").append(std::to_string(std::strlen(body))).append("\r\n\r\n");
        text.append(body).append("\r\n");
    }
    text.append("\r\n");
    if (text.size() > kMaxRequestText) text.resize(kMaxRequestText);
    return wire;
}

CHttpRequest::CHttpRequest() : mutex_(std::make_shared<std::mutex>()) {}

CHttpRequest::~CHttpRequest() {
    if (connection_ != nullptr) connection_->Drop();
}

CHttpRequest::Ptr CHttpRequest::Create(const char* url) {
    Ptr request(new CHttpRequest());
    if (url != nullptr) request->SetUrl(url, 80);
    return request;
}

void CHttpRequest::SetUserAgent(const char* text) {
    std::lock_guard<std::mutex> lock(gUserAgentMutex);
    CopyBounded(gUserAgent, sizeof gUserAgent, text);
}

std::string CHttpRequest::UserAgent() {
    std::lock_guard<std::mutex> lock(gUserAgentMutex);
    return gUserAgent;
}

void CHttpRequest::SetUrl(const char* text, uint32_t defaultPort) {
    std::lock_guard<std::mutex> lock(*mutex_);
    SetUrlLocked(text, defaultPort);
}

void CHttpRequest::SetUrlLocked(const char* text, uint32_t defaultPort) {
    std::string url(text, strnlen(text, kMaxUrl));
    if (url.compare(0, 7, "http://") == 0) url.erase(0, 7);
    uint32_t port = defaultPort;
    // A ':' before the first '/' followed by 1 to 7 bytes up to that '/' is a
    // port: read its leading digits and cut it out. Without a '/' after it
    // the colon stays in the host.
    size_t slash = url.find('/');
    for (size_t i = 0; i < url.size() && url[i] != '/'; ++i) {
        if (url[i] != ':' || slash == std::string::npos) continue;
        size_t count = slash - i - 1;
        if (count < 1 || count > 7) continue;
        uint32_t value = 0;
        for (size_t d = i + 1; d < slash && url[d] >= '0' && url[d] <= '9'; ++d) {
            value = value * 10 + static_cast<uint32_t>(url[d] - '0');
        }
        port = value;
        url.erase(i, count + 1);
        slash = i;
    }
    url_ = std::move(url);
    port_ = port;
    useUrlService_ = FindNoCase(url_.c_str(), "HTTPS:") != nullptr;
}

void CHttpRequest::SetMethod(int32_t method) {
    std::lock_guard<std::mutex> lock(*mutex_);
    method_ = method == kPost ? kPost : kGet;
}

void CHttpRequest::SetReferer(const char* referer) {
    std::lock_guard<std::mutex> lock(*mutex_);
    referer_ = std::make_unique<std::string>(referer);
}

void CHttpRequest::SetBody(const char* body) {
    std::lock_guard<std::mutex> lock(*mutex_);
    body_ = std::make_unique<std::string>(body);
}

void CHttpRequest::SetTimeout(int32_t seconds) {
    std::lock_guard<std::mutex> lock(*mutex_);
    timeout_ = seconds;
}

void CHttpRequest::SetRetries(int32_t count) {
    std::lock_guard<std::mutex> lock(*mutex_);
    maxRetries_ = count;
}

void CHttpRequest::SetFollowRedirects(bool follow) {
    std::lock_guard<std::mutex> lock(*mutex_);
    followRedirects_ = follow;
}

void CHttpRequest::Start() {
    std::lock_guard<std::mutex> lock(*mutex_);
    redirectCount_ = 0;
    StartLocked();
}

void CHttpRequest::StartLocked() {
    auto response = std::make_unique<CDataBuffer>();
    response->InitWritable(kResponseCapacity);
    response_ = std::move(response);
    deadline_ = timeout_ != 0 ? NowSeconds() + timeout_ : -1;
    DropConnectionLocked();

    if (useUrlService_) {
        CancelJobLocked();
        job_ = CUrlAccessJob::Launch(this);
        if (body_) requestText_ = *body_;
        state_ = EHttpState::UntilClose;
        return;
    }

    SHttpWireRequest wire =
        FormatHttpRequest(url_.c_str(), method_, referer_ ? referer_->c_str() : nullptr,
                          body_ ? body_->c_str() : nullptr, UserAgent().c_str());
    requestText_ = std::move(wire.text);
    connection_ = CHttpConnection::Open(wire.host.c_str(), port_);
    error_ = 0;
    state_ = EHttpState::Connecting;
    headers_.Clear();
    // The request goes out with its terminating zero byte.
    connection_->outgoing().Enqueue(requestText_.c_str(), requestText_.size() + 1);
}

bool CHttpRequest::Poll() {
    std::lock_guard<std::mutex> lock(*mutex_);
    if (state_ == EHttpState::Idle) return false;

    if (timeout_ != 0 && NowSeconds() >= deadline_) {
        CancelJobLocked();
        error_ = kTimeoutError;
        DropConnectionLocked();
        FinishAttemptLocked();
        return state_ != EHttpState::Idle;
    }
    if (useUrlService_) return state_ != EHttpState::Idle;

    if (state_ == EHttpState::Connecting) {
        // A fast server can answer and close between two polls; the answer
        // is then waiting in the queue, so only a failed connect ends here.
        EConnState connState = connection_->state();
        if (connState == EConnState::Closed && !connection_->connected()) {
            FailLocked(connection_->error());
        } else if (connState == EConnState::Connected || connState == EConnState::Closed) {
            state_ = EHttpState::StatusLine;
        }
    }
    if (state_ == EHttpState::StatusLine) StepStatusLine();
    if (state_ == EHttpState::Headers) StepHeaders();
    if (state_ == EHttpState::ChunkSize) StepChunkSize();
    if (state_ == EHttpState::ChunkData) StepChunkData();
    if (state_ == EHttpState::UntilClose) StepUntilClose();
    if (state_ == EHttpState::Idle && statusCode_ == 302 && followRedirects_) FollowRedirectLocked();
    return state_ != EHttpState::Idle;
}

bool CHttpRequest::ConnectionClosed() const { return connection_->state() == EConnState::Closed; }

void CHttpRequest::FailLocked(int32_t error) {
    error_ = error;
    DropConnectionLocked();
    FinishAttemptLocked();
}

void CHttpRequest::DropConnectionLocked() {
    if (connection_ != nullptr) connection_->Drop();
    connection_ = nullptr;
}

void CHttpRequest::CancelJobLocked() {
    if (job_ == nullptr) return;
    job_->Abort();
    job_->Unlink();
    job_ = nullptr;
}

void CHttpRequest::FinishAttemptLocked() {
    CancelJobLocked();
    state_ = EHttpState::Idle;
    if (error_ == 0 || retryCount_ >= maxRetries_) return;
    ++retryCount_;
    try {
        StartLocked();
    } catch (const CError& e) {
        error_ = e.code;
        state_ = EHttpState::Idle;
    }
}

// A connection that closed before a status line or header block was
// complete. A clean close there is a broken response, not a success.
void CHttpRequest::FailClosedLocked() {
    int32_t error = connection_->error();
    FailLocked(error != 0 ? error : eInvalidData);
}

void CHttpRequest::StepStatusLine() {
    // Closed is read first: once it is seen, every byte the thread received
    // is already queued.
    bool closed = ConnectionClosed();
    CByteQueue& incoming = connection_->incoming();
    char line[kStatusLineLimit + 1];
    size_t n = incoming.Peek(line, kStatusLineLimit);
    size_t length = LineLength(line, n);
    if (length == 0) {
        if (closed) FailClosedLocked();
        return;
    }
    incoming.Take(nullptr, length);
    line[length] = '\0';
    // The blank line that ends an interim 100 answer is not a status line.
    if (line[0] == '\r' || line[0] == '\n') return;

    const char* space = std::strchr(line, ' ');
    int64_t code = 0;
    if (space == nullptr || ParseDecimalField(space + 1, " \t\r\n", &code) == nullptr) {
        FailLocked(eInvalidData);
        return;
    }
    statusCode_ = static_cast<uint32_t>(std::min<int64_t>(code, UINT32_MAX));
    if (code == 100) return;
    if (code == 200 || code == 302) {
        state_ = EHttpState::Headers;
    } else {
        FailLocked(eInvalidData);
    }
}

void CHttpRequest::StepHeaders() {
    bool closed = ConnectionClosed();
    CByteQueue& incoming = connection_->incoming();
    std::vector<char> block(kHeaderBlockLimit + 1);
    size_t n = incoming.Peek(block.data(), kHeaderBlockLimit);
    size_t length = 0;
    // A response without headers has its blank line right after the status line.
    if (n >= 2 && block[0] == '\r' && block[1] == '\n') {
        length = 2;
    } else if (n >= 1 && block[0] == '\n') {
        length = 1;
    } else {
        length = FindBytes(block.data(), n, "\r\n\r\n");
        if (length == 0) length = FindBytes(block.data(), n, "\n\n");
    }
    if (length == 0) {
        if (closed) FailClosedLocked();
        return;
    }
    incoming.Take(nullptr, length);
    if (!headers_.Parse(block.data(), length)) {
        FailLocked(eInvalidData);
        return;
    }
    const char* coding = headers_.Find("Transfer-Encoding");
    bool chunked = coding != nullptr && strcasecmp(coding, "chunked") == 0;
    state_ = chunked ? EHttpState::ChunkSize : EHttpState::UntilClose;
}

void CHttpRequest::StepChunkSize() {
    bool closed = ConnectionClosed();
    CByteQueue& incoming = connection_->incoming();
    char line[kChunkLineLimit];
    size_t n = incoming.Peek(line, kChunkLineLimit);
    size_t length = FindBytes(line, n, "\r\n");
    if (length == 0) {
        // A body that stops between chunks ends with the connection's error
        // (0 after a clean close), like one that stops inside a chunk.
        if (closed) FailLocked(connection_->error());
        return;
    }
    incoming.Take(nullptr, length);

    int64_t size = 0;
    for (size_t i = 0; line[i] != ';' && line[i] != '\r' && line[i] != ' '; ++i) {
        char c = line[i];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                           : -1;
        size = size * 16 + digit;
        // A size the chunk counter cannot hold is as unreadable as a bad byte.
        if (digit < 0 || size > INT32_MAX) {
            FailLocked(eInvalidData);
            return;
        }
    }
    if (size > 0) {
        chunkRemaining_ = static_cast<int32_t>(size);
        state_ = EHttpState::ChunkData;
        return;
    }
    // The last chunk: trailers are not read and no zero byte is added.
    error_ = 0;
    DropConnectionLocked();
    state_ = EHttpState::Idle;
}

void CHttpRequest::StepChunkData() {
    bool closed = ConnectionClosed();
    CByteQueue& incoming = connection_->incoming();
    size_t waiting = incoming.Length();
    if (waiting > 0) {
        if (chunkRemaining_ > 0) {
            size_t want = std::min(waiting, static_cast<size_t>(chunkRemaining_));
            std::vector<uint8_t> bytes(want);
            size_t got = incoming.Take(bytes.data(), want);
            response_->AppendBytes(bytes.data(), static_cast<int32_t>(got));
            chunkRemaining_ -= static_cast<int32_t>(got);
            waiting -= got;
        }
        if (chunkRemaining_ > 0) return;
        if (waiting >= 2) {
            char ending[2];
            incoming.Take(ending, 2);
            if (ending[0] == '\r' && ending[1] == '\n') {
                state_ = EHttpState::ChunkSize;
            } else {
                FailLocked(eInvalidData);
            }
            return;
        }
        // Fewer than two bytes of the chunk's line end: wait, unless no more can come.
        if (!closed) return;
        incoming.Take(nullptr, waiting);
    } else if (!closed) {
        return;
    }
    // The server closed inside the chunked body: keep what arrived.
    response_->AppendByte(0);
    FailLocked(connection_->error());
}

void CHttpRequest::StepUntilClose() {
    bool closed = ConnectionClosed();
    CByteQueue& incoming = connection_->incoming();
    size_t waiting = incoming.Length();
    if (waiting > 0) {
        std::vector<uint8_t> bytes(waiting);
        size_t got = incoming.Take(bytes.data(), waiting);
        response_->AppendBytes(bytes.data(), static_cast<int32_t>(got));
    }
    if (!closed) return;
    response_->AppendByte(0);
    error_ = 0;
    DropConnectionLocked();
    state_ = EHttpState::Idle;
}

void CHttpRequest::FollowRedirectLocked() {
    const char* location = headers_.Find("Location");
    if (location == nullptr) return;
    if (redirectCount_ >= kMaxRedirects) {
        error_ = eInvalidData;  // a redirect loop; retrying would only repeat it
        return;
    }
    ++redirectCount_;
    std::string target = location;
    if (!target.empty() && target[0] == '/') {
        // A location without a host stays on the server that sent it.
        SHttpWireRequest current = FormatHttpRequest(url_.c_str(), kGet, nullptr, nullptr, "");
        std::string prefix = current.host;
        if (port_ != 80) prefix.append(":").append(std::to_string(port_));
        target = prefix + target;
    }
    body_ = std::make_unique<std::string>();
    referer_ = std::make_unique<std::string>(url_);
    SetUrlLocked(target.c_str(), 80);
    try {
        StartLocked();
    } catch (const CError& e) {
        error_ = e.code;
        state_ = EHttpState::Idle;
    }
}

void CHttpRequest::JobEndedLocked(int32_t status, std::string& body, uint32_t statusCode,
                                  const CHttpHeaders* headers, bool redirectLoop) {
    job_ = nullptr;
    response_->AppendBytes(body.data(), static_cast<int32_t>(body.size()));
    if (headers != nullptr) {
        if (statusCode != 0) statusCode_ = statusCode;
        headers_ = *headers;
    }
    error_ = status;
    DropConnectionLocked();
    state_ = EHttpState::Idle;
    // A discarded request is freed by the job; it must not start another.
    // A redirect loop, as on the socket path, is not worth repeating.
    if (!deletePending_ && !redirectLoop) FinishAttemptLocked();
}

void CHttpRequest::Discard() {
    {
        std::lock_guard<std::mutex> lock(*mutex_);
        if (job_ != nullptr) {
            // The job frees the request when it ends; nobody waits for its result.
            deletePending_ = true;
            job_->Abort();
            return;
        }
        DropConnectionLocked();
    }
    delete this;
}

int32_t CHttpRequest::GetError() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return error_;
}

uint32_t CHttpRequest::GetStatusCode() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return statusCode_;
}

EHttpState CHttpRequest::GetState() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return state_;
}

int32_t CHttpRequest::GetResponseLength() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return response_ ? response_->ContentLength() : 0;
}

const uint8_t* CHttpRequest::GetResponseData() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return response_ ? response_->data() : nullptr;
}

void CHttpRequest::CopyResponse(char* destination, size_t size) const {
    if (size == 0) return;
    std::lock_guard<std::mutex> lock(*mutex_);
    size_t length = response_ ? static_cast<size_t>(response_->ContentLength()) : 0;
    size_t n = std::min(length, size - 1);
    if (n > 0) std::memcpy(destination, response_->data(), n);
    destination[n] = '\0';
}

std::string CHttpRequest::GetUrl() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return url_;
}

uint32_t CHttpRequest::GetPort() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return port_;
}

bool CHttpRequest::UsesUrlService() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return useUrlService_;
}

std::string CHttpRequest::GetRequestText() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return requestText_;
}

int32_t CHttpRequest::GetRetryCount() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return retryCount_;
}

int32_t CHttpRequest::GetHeaderCount() const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return headers_.Count();
}

std::string CHttpRequest::GetHeaderName(int32_t index) const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return index >= 0 && index < headers_.Count() ? headers_.Name(index) : "";
}

std::string CHttpRequest::GetHeaderValue(int32_t index) const {
    std::lock_guard<std::mutex> lock(*mutex_);
    return index >= 0 && index < headers_.Count() ? headers_.Value(index) : "";
}

std::string CHttpRequest::FindHeader(const char* name) const {
    std::lock_guard<std::mutex> lock(*mutex_);
    const char* value = headers_.Find(name);
    return value ? value : "";
}
