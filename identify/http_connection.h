#pragma once
// One TCP connection with its own thread. The thread resolves, connects and
// then works in passes: send everything queued, wait for data, read, pause.
// The owner only touches the two queues and the atomic fields.
//
// Ownership: the owner drops the connection with Drop() and forgets it; from
// then on the thread alone owns the record and frees it when it ends.

#include <atomic>
#include <cstdint>

#include "identify/byte_queue.h"

enum class EConnState : int32_t { Closed = 0, Resolving = 1, ToConnect = 2, Connected = 3 };

// Real-time pacing of every connection thread. Production keeps the defaults;
// tests shorten them so that a pass does not cost two seconds.
struct SConnPacing {
    int selectWaitMs = 1000;  // longest wait for data in one pass
    int passPauseMs = 1000;   // pause at the end of each pass
    int stopCheckMs = 2000;   // how often a closed connection looks for the stop flag
};

class CHttpConnection {
public:
    // Host text of which 63 characters are kept. Creates the socket and starts
    // the thread; throws CError with the errno of socket() or the code of the
    // failed thread start.
    static CHttpConnection* Open(const char* host, uint32_t port);

    // Sets the stop flag: the hand-over of the record to its thread.
    void Drop();

    CByteQueue& outgoing() { return outgoing_; }
    CByteQueue& incoming() { return incoming_; }
    // Acquire: a Closed state guarantees that every received byte is queued
    // and that error() is final.
    EConnState state() const { return state_.load(std::memory_order_acquire); }
    int32_t error() const { return error_.load(std::memory_order_acquire); }
    // Whether connect() succeeded, so a Closed state may still have queued data.
    bool connected() const { return connected_.load(std::memory_order_acquire); }
    const char* host() const { return host_; }
    uint32_t port() const { return port_; }

    static void SetPacing(const SConnPacing& pacing);
    static SConnPacing Pacing();

    ~CHttpConnection();

private:
    CHttpConnection(const char* host, uint32_t port);
    CHttpConnection(const CHttpConnection&) = delete;
    CHttpConnection& operator=(const CHttpConnection&) = delete;

    void Run();
    void ConnectStep();
    void TransferLoop();
    void Close(int32_t error);

    int socket_ = -1;
    CByteQueue outgoing_{2048};
    CByteQueue incoming_{2048};
    std::atomic<int32_t> error_{0};
    std::atomic<EConnState> state_{EConnState::Closed};
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    char host_[64] = {};
    uint32_t address_ = 0;  // IPv4, network order
    uint32_t port_ = 0;
};
