#pragma once
// A scripted HTTP server on 127.0.0.1 for tests. Each connection reads one
// request (header block plus Content-Length bytes), records its raw bytes and
// answers from a script: a queue of responses (the last one repeats) or a
// handler that picks the response from the request. Responses can misbehave
// on purpose: raw bytes, pauses between writes, bytes trickled one at a
// time, silence, or a connection left open.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CFakeResponse {
public:
    struct SWrite {
        std::string bytes;
        int delayMs = 0;  // pause before this write
    };

    // Bytes exactly as given.
    static CFakeResponse Raw(std::string bytes);
    // A status line, the given header lines (without line ends), and a body
    // ended by closing the connection.
    static CFakeResponse Plain(int status, std::string body, std::vector<std::string> headers = {});
    // "Transfer-Encoding: chunked" with one chunk per string and the last chunk.
    static CFakeResponse Chunked(const std::vector<std::string>& chunks,
                                 std::vector<std::string> headers = {});
    // 302, with a Location header unless location is empty, and a short body.
    static CFakeResponse Redirect(const std::string& location);
    // Reads the request and never answers; the connection stays open.
    static CFakeResponse Silent();

    // Another write after a pause (split writes).
    CFakeResponse& Then(std::string bytes, int delayMs = 0);
    // Sends every byte on its own with this pause before it.
    CFakeResponse& Trickle(int delayMs);
    // Does not close after the last write; waits for the client to close.
    CFakeResponse& KeepOpen();

    std::vector<SWrite> writes;
    int trickleMs = 0;
    bool silent = false;
    bool keepOpen = false;
};

class CFakeHttpServer {
public:
    using Handler = std::function<CFakeResponse(const std::string& request)>;

    CFakeHttpServer();
    ~CFakeHttpServer();
    CFakeHttpServer(const CFakeHttpServer&) = delete;
    CFakeHttpServer& operator=(const CFakeHttpServer&) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT" + path
    std::string Url(const std::string& path = "/") const;
    // "127.0.0.1:PORT" + path, the form a URL has after its scheme is removed.
    std::string HostPort(const std::string& path = "/") const;

    void Enqueue(CFakeResponse response);
    // Replaces the queue: every response is chosen by the handler.
    void SetHandler(Handler handler);

    // Raw bytes of each request in arrival order, including anything the
    // client sent after the header block and body.
    std::vector<std::string> Requests() const;
    size_t RequestCount() const;
    // Waits (in real time, bounded) until n requests have arrived.
    bool WaitForRequests(size_t n, int timeoutMs = 5000) const;

private:
    void AcceptLoop();
    void Serve(int client);
    CFakeResponse Choose(const std::string& request);
    // Sleeps in small steps; false when the server is stopping.
    bool Pause(int ms) const;

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::deque<CFakeResponse> queue_;
    CFakeResponse last_ = CFakeResponse::Plain(500, "no response scripted");
    Handler handler_;
    std::vector<std::string> requests_;
};
