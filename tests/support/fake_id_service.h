#pragma once
// A fake identification service on the scripted local HTTP server: the
// search, log-in check and introductory-account scripts answer from canned
// responses. Every request is recorded with its query keys; a search that
// lacks a key the real service needs is answered with 400, so a broken query
// shows up as a failed song.

#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "support/fake_http_server.h"

struct SIdServiceRequest {
    std::string script;  // "/cgi-bin/search.cgi", ...
    std::map<std::string, std::string> keys;
};

class CFakeIdService {
public:
    CFakeIdService();

    // "127.0.0.1:PORT", the value for MELODEX_ID_HOST.
    std::string Host() const { return server_.HostPort(""); }

    // Search answers in order; with none queued the answer has no match.
    void QueueSearch(CFakeResponse response);
    void SetRelogin(CFakeResponse response);
    void SetIntro(CFakeResponse response);

    std::vector<SIdServiceRequest> Requests(const std::string& script) const;
    size_t Count(const std::string& script) const { return Requests(script).size(); }

    // A search answer with one song element per album name.
    static std::string Answer(const std::vector<std::string>& albums);
    static std::string NoMatch() { return Answer({}); }

    CFakeHttpServer& Server() { return server_; }

private:
    CFakeResponse Handle(const std::string& request);

    mutable std::mutex mutex_;
    std::vector<SIdServiceRequest> requests_;
    std::deque<CFakeResponse> searches_;
    CFakeResponse relogin_ = CFakeResponse::Plain(200, "requests_available=10\n");
    CFakeResponse intro_ = CFakeResponse::Plain(404, "");
    // Last, so that it is destroyed first: its serving threads read the
    // members above until it has stopped.
    CFakeHttpServer server_;
};
