#include <gtest/gtest.h>

#include <string>

#include "identify/http_request.h"

namespace {

TEST(HttpRequestUrl, StoresUrlPortAndScheme) {
    struct SCase {
        const char* url;
        const char* stored;
        uint32_t port;
        bool https;
    } const cases[] = {
        {"http://h:8080/p", "h/p", 8080, false},
        {"h:8080", "h:8080", 80, false},  // no '/' after the colon: nothing is cut
        {"h:12345678/p", "h:12345678/p", 80, false},  // eight bytes are no port
        {"h:/p", "h:/p", 80, false},
        {"h:8a/p", "h/p", 8, false},   // leading digits only
        {"h:ab/p", "h/p", 0, false},   // no digits give 0
        {"a:1:2/p", "a/p", 1, false},  // the first colon takes all bytes up to the slash
        {"h/p:99", "h/p:99", 80, false},  // only colons before the first '/' count
        {"HTTP://h:81/p", "HTTP://h:81/p", 80, false},  // scheme kept in capitals
        {"https://h/p", "https://h/p", 80, true},
        {"https://h:8443/p", "https://h:8443/p", 80, true},
        {"HTTPS://h/p", "HTTPS://h/p", 80, true},
        {"http://h/q?u=HttpS:x", "h/q?u=HttpS:x", 80, true},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.url);
        CHttpRequest::Ptr r = CHttpRequest::Create(c.url);
        EXPECT_EQ(r->GetUrl(), c.stored);
        EXPECT_EQ(r->GetPort(), c.port);
        EXPECT_EQ(r->UsesUrlService(), c.https);
        EXPECT_EQ(r->GetState(), EHttpState::Idle);
    }
    CHttpRequest::Ptr r = CHttpRequest::Create(nullptr);
    r->SetUrl("h/x", 8000);
    EXPECT_EQ(r->GetPort(), 8000u);
    r->SetUrl(std::string(20000, 'a').c_str());
    EXPECT_EQ(r->GetUrl().size(), 16383u);
}

const std::string kFixedHeaders =
    "Accept: */*\r\n"
    "Host: %HOST%\r\n"
    "User-Agent: melodex_mac\r\n"
    "Cache-Control: no-cache\r\n"
    "Content-Type:application/x-www-form-urlencoded\r\n"
    "Connection: close\r\n";

std::string Expected(const std::string& line, const std::string& host, const std::string& tail) {
    std::string headers = kFixedHeaders;
    headers.replace(headers.find("%HOST%"), 6, host);
    return line + "\r\n" + headers + tail;
}

TEST(HttpRequestUrl, FormatsRequestTextByteForByte) {
    struct SCase {
        const char* storedUrl;
        int32_t method;
        const char* referer;
        const char* body;
        std::string host;
        std::string text;
    } const cases[] = {
        {"h/p", 0, nullptr, nullptr, "h", Expected("GET /p HTTP/1.1", "h", "\r\n")},
        {"h", 0, nullptr, nullptr, "h", Expected("GET  HTTP/1.1", "h", "\r\n")},
        {"h?x=1", 0, nullptr, nullptr, "h", Expected("GET ?x=1 HTTP/1.1", "h", "\r\n")},
        {"h\\a/b", 0, nullptr, nullptr, "h", Expected("GET \\a/b HTTP/1.1", "h", "\r\n")},
        {"h:8080", 0, nullptr, nullptr, "h:8080", Expected("GET  HTTP/1.1", "h:8080", "\r\n")},
        {"HTTP://host/p", 0, nullptr, nullptr, "host", Expected("GET /p HTTP/1.1", "host", "\r\n")},
        {"h/f", 1, "", "a=b", "h",
         Expected("POST /f HTTP/1.1", "h", "Content-Length: 3\r\n\r\na=b\r\n\r\n")},
        {"h/f", 1, "old/x", "", "h", Expected("POST /f HTTP/1.1", "h", "Referer: old/x\r\n\r\n")},
    };
    CHttpRequest::SetUserAgent("melodex_mac");
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.storedUrl);
        SHttpWireRequest wire = FormatHttpRequest(c.storedUrl, c.method, c.referer, c.body, "melodex_mac");
        EXPECT_EQ(wire.host, c.host);
        EXPECT_EQ(wire.text, c.text);
    }
}

TEST(HttpRequestUrl, KeepsLongQueriesAndCutsTheText) {
    std::string query = "h/cgi-bin/search.cgi?" + std::string(10000, 'q');
    SHttpWireRequest wire = FormatHttpRequest(query.c_str(), 0, nullptr, nullptr, "a");
    EXPECT_EQ(wire.host, "h");
    EXPECT_NE(wire.text.find("GET /cgi-bin/search.cgi?" + std::string(10000, 'q') + " HTTP/1.1\r\n"),
              std::string::npos);

    std::string body(70000, 'b');
    wire = FormatHttpRequest("h/p", 1, nullptr, body.c_str(), "a");
    EXPECT_EQ(wire.text.size(), 65535u);
    EXPECT_NE(wire.text.find("Content-Length: 70000\r\n"), std::string::npos);

    std::string agent(100, 'u');
    CHttpRequest::SetUserAgent(agent.c_str());
    EXPECT_EQ(CHttpRequest::UserAgent(), std::string(63, 'u'));
    CHttpRequest::SetUserAgent("melodex_mac");
}

}  // namespace
