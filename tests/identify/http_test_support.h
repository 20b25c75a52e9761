#pragma once
// Shared set-up of the HTTP exchange tests: a manual clock installed once for
// the whole program (detached connection and job threads may read it after a
// test ends), no proxies, short connection pacing, and bounded real-time
// polling.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "foundation/clock.h"
#include "foundation/detached_thread.h"
#include "identify/http_connection.h"
#include "identify/http_request.h"

inline CManualClock& TestClock() {
    static CManualClock clock;
    static const bool installed = [] {
        SetClock(&clock);
        // The transfer library would hand HTTPS-path requests to a proxy named
        // in the environment; every test exchange must stay on 127.0.0.1.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY"}) {
            ::unsetenv(name);
        }
        return true;
    }();
    (void)installed;
    return clock;
}

// A port on 127.0.0.1 that was free a moment ago, so nobody listens on it.
inline uint16_t ClosedPort() {
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    return ntohs(address.sin_port);
}

class HttpTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestClock();
        CHttpConnection::SetPacing(SConnPacing{20, 2, 10});
        CHttpRequest::SetUserAgent("melodex_mac");
    }

    // No worker thread may outlive the test: at exit it would meet library
    // state (the crypto library's per-thread data) that exit handlers freed.
    void TearDown() override { EXPECT_TRUE(WaitForDetachedThreads(10000)); }

    // Polls every few milliseconds until Poll reports the request finished;
    // false when it is still busy after the real-time limit.
    static bool PollToEnd(CHttpRequest& r, int limitMs = 10000) {
        for (int waited = 0; waited < limitMs; waited += 2) {
            if (!r.Poll()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    // Polls until the request reaches a state (or ends).
    static bool PollToState(CHttpRequest& r, EHttpState state, int limitMs = 10000) {
        for (int waited = 0; waited < limitMs; waited += 2) {
            bool busy = r.Poll();
            if (r.GetState() == state) return true;
            if (!busy) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    static std::string Response(const CHttpRequest& r) {
        return std::string(reinterpret_cast<const char*>(r.GetResponseData()),
                           static_cast<size_t>(r.GetResponseLength()));
    }
};
