#include "support/fake_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kStepMs = 10;

const char* Reason(int status) {
    switch (status) {
        case 100: return "Continue";
        case 200: return "OK";
        case 302: return "Found";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

std::string Head(int status, const std::vector<std::string>& headers) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    for (const std::string& h : headers) text += h + "\r\n";
    return text;
}

bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Length of a complete request in the bytes so far, or 0.
size_t CompleteRequest(const std::string& bytes) {
    size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) return 0;
    end += 4;
    size_t length = 0;
    std::string head = bytes.substr(0, end);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    size_t at = head.find("\r\ncontent-length:");
    if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
    return bytes.size() >= end + length ? end + length : 0;
}

}  // namespace

CFakeResponse CFakeResponse::Raw(std::string bytes) {
    CFakeResponse r;
    r.writes.push_back({std::move(bytes), 0});
    return r;
}

CFakeResponse CFakeResponse::Plain(int status, std::string body, std::vector<std::string> headers) {
    headers.push_back("Connection: close");
    return Raw(Head(status, headers) + "\r\n" + body);
}

CFakeResponse CFakeResponse::Chunked(const std::vector<std::string>& chunks,
                                     std::vector<std::string> headers) {
    headers.push_back("Transfer-Encoding: chunked");
    headers.push_back("Connection: close");
    std::string text = Head(200, headers) + "\r\n";
    char size[32];
    for (const std::string& c : chunks) {
        std::snprintf(size, sizeof size, "%zx\r\n", c.size());
        text += size + c + "\r\n";
    }
    return Raw(text + "0\r\n\r\n");
}

CFakeResponse CFakeResponse::Redirect(const std::string& location) {
    std::vector<std::string> headers;
    if (!location.empty()) headers.push_back("Location: " + location);
    return Plain(302, "moved", headers);
}

CFakeResponse CFakeResponse::Silent() {
    CFakeResponse r;
    r.silent = true;
    return r;
}

CFakeResponse& CFakeResponse::Then(std::string bytes, int delayMs) {
    writes.push_back({std::move(bytes), delayMs});
    return *this;
}

CFakeResponse& CFakeResponse::Trickle(int delayMs) {
    trickleMs = delayMs;
    return *this;
}

CFakeResponse& CFakeResponse::KeepOpen() {
    keepOpen = true;
    return *this;
}

CFakeHttpServer::CFakeHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("fake server: socket");
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(listener_);
        throw std::runtime_error("fake server: bind");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

CFakeHttpServer::~CFakeHttpServer() {
    stop_ = true;
    acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread& t : workers) t.join();
    ::close(listener_);
}

std::string CFakeHttpServer::Url(const std::string& path) const { return "http://" + HostPort(path); }

std::string CFakeHttpServer::HostPort(const std::string& path) const {
    return "127.0.0.1:" + std::to_string(port_) + path;
}

void CFakeHttpServer::Enqueue(CFakeResponse response) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(response));
}

void CFakeHttpServer::SetHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<std::string> CFakeHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t CFakeHttpServer::RequestCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool CFakeHttpServer::WaitForRequests(size_t n, int timeoutMs) const {
    for (int waited = 0; waited <= timeoutMs; waited += kStepMs) {
        if (RequestCount() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    return false;
}

bool CFakeHttpServer::Pause(int ms) const {
    for (int waited = 0; waited < ms; waited += kStepMs) {
        if (stop_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kStepMs, ms - waited)));
    }
    return !stop_;
}

void CFakeHttpServer::AcceptLoop() {
    while (!stop_) {
        if (!Readable(listener_, kStepMs)) continue;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, client] { Serve(client); });
    }
}

CFakeResponse CFakeHttpServer::Choose(const std::string& request) {
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(request);
    if (handler_) {
        Handler handler = handler_;
        lock.unlock();
        return handler(request);
    }
    if (!queue_.empty()) {
        last_ = std::move(queue_.front());
        queue_.pop_front();
    }
    return last_;
}

void CFakeHttpServer::Serve(int client) {
    std::string request;
    char piece[4096];
    bool open = true;
    while (open && !stop_ && CompleteRequest(request) == 0) {
        if (!Readable(client, kStepMs)) continue;
        ssize_t got = ::recv(client, piece, sizeof piece, 0);
        if (got <= 0) open = false;
        else request.append(piece, static_cast<size_t>(got));
    }
    // Whatever the client sent behind the request (our client adds a zero
    // byte) arrived with it; take it too, so it is recorded and so that
    // closing does not reset the connection over unread bytes.
    while (open && Readable(client, 0)) {
        ssize_t got = ::recv(client, piece, sizeof piece, MSG_DONTWAIT);
        if (got <= 0) break;
        request.append(piece, static_cast<size_t>(got));
    }
    if (stop_ || request.empty()) {
        ::close(client);
        return;
    }
    CFakeResponse response = Choose(request);

    bool keepGoing = true;
    for (const CFakeResponse::SWrite& w : response.writes) {
        if (!keepGoing || !Pause(w.delayMs)) break;
        size_t step = response.trickleMs > 0 ? 1 : w.bytes.size();
        for (size_t at = 0; at < w.bytes.size(); at += step) {
            if (response.trickleMs > 0 && !Pause(response.trickleMs)) {
                keepGoing = false;
                break;
            }
            size_t n = std::min(step, w.bytes.size() - at);
            if (::send(client, w.bytes.data() + at, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) {
                keepGoing = false;
                break;
            }
        }
    }
    if (!response.silent && !response.keepOpen) ::shutdown(client, SHUT_WR);
    // Read until the client closes (or the server stops), then close.
    while (!stop_) {
        if (!Readable(client, kStepMs)) continue;
        ssize_t got = ::recv(client, piece, sizeof piece, 0);
        if (got <= 0) break;
    }
    ::close(client);
}
