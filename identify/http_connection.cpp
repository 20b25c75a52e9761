#include "identify/http_connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/detached_thread.h"
#include "foundation/errors.h"
#include "foundation/text.h"

namespace {

constexpr int32_t kHostNotFound = -3263;
constexpr size_t kPiece = 4096;

std::atomic<int> gSelectWaitMs{1000};
std::atomic<int> gPassPauseMs{1000};
std::atomic<int> gStopCheckMs{2000};

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// First IPv4 address of a host name, or false. The reentrant lookup keeps
// concurrent connection threads from sharing the resolver's static result.
bool Resolve(const char* host, uint32_t* address) {
    hostent entry{};
    hostent* result = nullptr;
    int herr = 0;
    std::vector<char> work(8192);
    while (gethostbyname_r(host, &entry, work.data(), work.size(), &result, &herr) == ERANGE) {
        work.resize(work.size() * 2);
    }
    if (result == nullptr || result->h_addrtype != AF_INET || result->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(address, result->h_addr_list[0], sizeof *address);
    return true;
}

}  // namespace

void CHttpConnection::SetPacing(const SConnPacing& pacing) {
    gSelectWaitMs = pacing.selectWaitMs;
    gPassPauseMs = pacing.passPauseMs;
    gStopCheckMs = pacing.stopCheckMs;
}

SConnPacing CHttpConnection::Pacing() {
    return SConnPacing{gSelectWaitMs.load(), gPassPauseMs.load(), gStopCheckMs.load()};
}

CHttpConnection::CHttpConnection(const char* host, uint32_t port) : port_(port) {
    CopyBounded(host_, sizeof host_, host);
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        int err = errno;
        error_ = err;
        ThrowErrno(err);
    }
}

CHttpConnection::~CHttpConnection() {
    if (socket_ >= 0) ::close(socket_);
}

CHttpConnection* CHttpConnection::Open(const char* host, uint32_t port) {
    std::unique_ptr<CHttpConnection> connection(new CHttpConnection(host, port));
    connection->state_ = EConnState::ToConnect;
    CHttpConnection* raw = connection.get();
    try {
        // The thread takes the record; it frees it after the owner has dropped it.
        StartDetachedThread([owned = std::move(connection)] { owned->Run(); });
    } catch (const std::system_error& e) {
        ThrowErrno(e.code().value() != 0 ? e.code().value() : -1);
    }
    return raw;
}

void CHttpConnection::Drop() { stop_.store(true, std::memory_order_release); }

void CHttpConnection::Close(int32_t error) {
    error_.store(error, std::memory_order_relaxed);
    state_.store(EConnState::Closed, std::memory_order_release);
}

void CHttpConnection::Run() {
    try {
        ConnectStep();
        if (!stop_.load(std::memory_order_acquire)) TransferLoop();
    } catch (const CError& e) {
        Close(e.code);  // only a failed allocation of the incoming queue
    }
    if (state_.load(std::memory_order_relaxed) != EConnState::Closed) Close(error_.load());
    ::shutdown(socket_, SHUT_RD);
    ::close(socket_);
    socket_ = -1;
    // The owner may still be reading the incoming queue, so the record stays
    // until it lets go.
    while (!stop_.load(std::memory_order_acquire)) SleepMs(gStopCheckMs.load());
}

void CHttpConnection::ConnectStep() {
    in_addr_t address = ::inet_addr(host_);
    if (address == INADDR_NONE) {
        state_.store(EConnState::Resolving, std::memory_order_release);
        if (!Resolve(host_, &address)) {
            Close(kHostNotFound);
            return;
        }
        if (stop_.load(std::memory_order_acquire)) return;
    }
    address_ = address;
    state_.store(EConnState::ToConnect, std::memory_order_release);

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port_));
    target.sin_addr.s_addr = address_;
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        Close(errno);
        return;
    }
    connected_.store(true, std::memory_order_release);
    state_.store(EConnState::Connected, std::memory_order_release);
}

void CHttpConnection::TransferLoop() {
    uint8_t piece[kPiece];
    while (state_.load(std::memory_order_relaxed) == EConnState::Connected &&
           !stop_.load(std::memory_order_acquire)) {
        // Send everything queued. MSG_NOSIGNAL: a peer that has gone away must
        // give EPIPE here, not kill the process with SIGPIPE.
        bool failed = false;
        while (outgoing_.Length() > 0) {
            size_t n = outgoing_.Peek(piece, kPiece);
            ssize_t sent = ::send(socket_, piece, n, MSG_NOSIGNAL);
            if (sent < 0) {
                Close(errno);
                failed = true;
                break;
            }
            outgoing_.Take(nullptr, static_cast<size_t>(sent));
        }
        if (failed) break;

        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        int waitMs = gSelectWaitMs.load();
        timeval wait{waitMs / 1000, (waitMs % 1000) * 1000};
        int ready = ::select(socket_ + 1, &readable, nullptr, nullptr, &wait);
        if (ready < 0) {
            Close(errno);
            break;
        }
        if (ready > 0) {
            errno = 0;
            ssize_t got = ::recv(socket_, piece, kPiece, 0);
            if (got <= 0) {
                Close(got == 0 ? 0 : errno);
                break;
            }
            incoming_.Enqueue(piece, static_cast<size_t>(got));
        }
        SleepMs(gPassPauseMs.load());
    }
}
