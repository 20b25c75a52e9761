#include <cerrno>
#include <cmath>
#include <string>

#include "http_test_support.h"
#include "support/fake_http_server.h"

namespace {

using namespace std::string_literals;

const std::string kHeadersAfterHost =
    "User-Agent: melodex_mac\r\n"
    "Cache-Control: no-cache\r\n"
    "Content-Type:application/x-www-form-urlencoded\r\n"
    "Connection: close\r\n";

TEST_F(HttpTest, SendsTheRequestWithBodyAndZeroByte) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Plain(200, "ok"));
    CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/form").c_str());
    r->SetMethod(CHttpRequest::kPost);
    r->SetBody("a=b");
    r->Start();
    ASSERT_TRUE(PollToEnd(*r));
    EXPECT_EQ(r->GetError(), 0);
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0], "POST /form HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\n" +
                                        kHeadersAfterHost + "Content-Length: 3\r\n\r\na=b\r\n\r\n\0"s);
    EXPECT_EQ(Response(*r), "ok\0"s);
}

TEST_F(HttpTest, ReadsResponseBodies) {
    std::string elevenHeaders = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 10; ++i) elevenHeaders += "X-" + std::to_string(i) + ": v\r\n";
    elevenHeaders += "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n";
    const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

    struct SCase {
        const char* label;
        CFakeResponse response;
        int32_t error;
        uint32_t status;
        std::string body;
    } const cases[] = {
        {"close-delimited ends with a zero byte", CFakeResponse::Plain(200, "hello"), 0, 200,
         "hello\0"s},
        {"chunked has no zero byte", CFakeResponse::Chunked({"hello"}), 0, 200, "hello"},
        {"chunked, slow bytes", CFakeResponse::Chunked({"hel", "lo"}).Trickle(1), 0, 200, "hello"},
        {"split writes across header and chunk",
         CFakeResponse::Raw("HTTP/1.1 200 OK\r\nTransfer-Enc")
             .Then("oding: CHUNKED\r\n\r\n5;ext=1\r\nhel", 30)
             .Then("lo\r\n0\r\n\r\n", 30),
         0, 200, "hello"},
        {"interim 100 answer",
         CFakeResponse::Raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhi"),
         0, 200, "hi\0"s},
        {"no headers", CFakeResponse::Raw("HTTP/1.1 200 OK\r\n\r\nhi"), 0, 200, "hi\0"s},
        {"bare LF line ends", CFakeResponse::Raw("HTTP/1.1 200 OK\nA: b\n\nhi"), 0, 200, "hi\0"s},
        {"302 without Location is the answer", CFakeResponse::Redirect(""), 0, 302, "moved\0"s},
        {"eleventh header ignored, body read to the close", CFakeResponse::Raw(elevenHeaders), 0, 200,
         "5\r\nhello\r\n0\r\n\r\n\0"s},
        {"closed inside a chunk keeps the partial body", CFakeResponse::Raw(chunkedHead + "a\r\nhello"),
         0, 200, "hello\0"s},
        {"closed between chunks", CFakeResponse::Raw(chunkedHead + "5\r\nhello\r\n"), 0, 200, "hello"},
        {"bad chunk-size byte", CFakeResponse::Raw(chunkedHead + "5x\r\nhello\r\n0\r\n\r\n"), -68, 200,
         ""},
        {"chunk data without CR LF", CFakeResponse::Raw(chunkedHead + "5\r\nhelloXX0\r\n\r\n"), -68, 200,
         "hello"},
        {"404", CFakeResponse::Plain(404, "gone"), -68, 404, ""},
        {"no number in the status line", CFakeResponse::Raw("HTTP/1.1 OK\r\n\r\n"), -68, 0, ""},
        {"closed before any answer", CFakeResponse::Raw(""), -68, 0, ""},
        {"closed inside the header block", CFakeResponse::Raw("HTTP/1.1 200 OK\r\nA: b\r\n"), -68, 200,
         ""},
        {"header without colon", CFakeResponse::Raw("HTTP/1.1 200 OK\r\nBroken\r\n\r\nhi"), -68, 200,
         ""},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.label);
        CFakeHttpServer server;
        server.Enqueue(c.response);
        CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/x").c_str());
        r->SetRetries(0);
        r->Start();
        ASSERT_TRUE(PollToEnd(*r));
        EXPECT_EQ(r->GetError(), c.error);
        EXPECT_EQ(r->GetStatusCode(), c.status);
        EXPECT_EQ(Response(*r), c.body);
        EXPECT_EQ(server.RequestCount(), 1u);
    }
}

TEST_F(HttpTest, ExposesParsedHeaders) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Plain(200, "", {"X-Long: one", "\ttwo", "content-type: text/xml  "}));
    CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/").c_str());
    r->Start();
    ASSERT_TRUE(PollToEnd(*r));
    ASSERT_EQ(r->GetHeaderCount(), 3);
    EXPECT_EQ(r->GetHeaderName(0), "X-Long");
    EXPECT_EQ(r->GetHeaderValue(0), "onetwo");
    EXPECT_EQ(r->FindHeader("Content-Type"), "text/xml  ");
}

TEST_F(HttpTest, RetriesFailedAttemptsThenKeepsTheError) {
    for (int status : {404, 500}) {
        SCOPED_TRACE(status);
        CFakeHttpServer server;
        server.Enqueue(CFakeResponse::Plain(status, "no"));
        CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/x").c_str());
        r->Start();
        ASSERT_TRUE(PollToEnd(*r));
        EXPECT_EQ(r->GetError(), -68);
        EXPECT_EQ(r->GetRetryCount(), 3);
        EXPECT_EQ(server.RequestCount(), 4u);
    }

    std::string url = "127.0.0.1:" + std::to_string(ClosedPort()) + "/x";
    CHttpRequest::Ptr r = CHttpRequest::Create(url.c_str());
    r->SetRetries(1);
    r->Start();
    ASSERT_TRUE(PollToEnd(*r));
    EXPECT_EQ(r->GetError(), ECONNREFUSED);
    EXPECT_EQ(r->GetRetryCount(), 1);
}

TEST_F(HttpTest, FollowsRedirectWithRefererAndWithoutBody) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Redirect(server.Url("/next")));
    server.Enqueue(CFakeResponse::Redirect("/relative"));
    server.Enqueue(CFakeResponse::Plain(200, "done"));
    CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/start").c_str());
    r->SetMethod(CHttpRequest::kPost);
    r->SetBody("a=b");
    r->Start();
    ASSERT_TRUE(PollToEnd(*r));
    EXPECT_EQ(r->GetError(), 0);
    EXPECT_EQ(r->GetStatusCode(), 200u);
    EXPECT_EQ(r->GetRetryCount(), 0);
    EXPECT_EQ(Response(*r), "done\0"s);
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], "POST /next HTTP/1.1\r\nAccept: */*\r\nHost: 127.0.0.1\r\n" + kHeadersAfterHost +
                               "Referer: 127.0.0.1/start\r\n\r\n\0"s);
    EXPECT_EQ(requests[2].substr(0, 25), "POST /relative HTTP/1.1\r\n");
    EXPECT_NE(requests[2].find("Referer: 127.0.0.1/next\r\n"), std::string::npos);
}

TEST_F(HttpTest, EndsARedirectLoop) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Redirect(server.Url("/again")));
    CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/x").c_str());
    r->Start();
    ASSERT_TRUE(PollToEnd(*r));
    EXPECT_EQ(r->GetError(), -68);
    EXPECT_EQ(r->GetRetryCount(), 0);
    EXPECT_EQ(server.RequestCount(), 1u + CHttpRequest::kMaxRedirects);
}

TEST_F(HttpTest, DeadlineEndsEachAttemptAtTheWholeSecond) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Silent());
    CManualClock& clock = TestClock();
    double base = std::floor(clock.Now()) + 1;
    clock.Advance(base + 0.5 - clock.Now());

    CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/x").c_str());
    r->SetTimeout(15);
    r->SetRetries(1);
    r->Start();
    ASSERT_TRUE(PollToState(*r, EHttpState::StatusLine));
    ASSERT_TRUE(server.WaitForRequests(1));
    clock.Advance(14.25);  // base + 14.75
    EXPECT_TRUE(r->Poll());
    EXPECT_EQ(r->GetRetryCount(), 0);
    clock.Advance(0.25);  // base + 15: the deadline, half a second early in real terms
    EXPECT_TRUE(r->Poll());
    EXPECT_EQ(r->GetRetryCount(), 1);
    EXPECT_EQ(r->GetError(), 0);  // the new attempt starts clean

    ASSERT_TRUE(PollToState(*r, EHttpState::StatusLine));
    ASSERT_TRUE(server.WaitForRequests(2));
    clock.Advance(14.75);  // base + 29.75
    EXPECT_TRUE(r->Poll());
    clock.Advance(0.25);
    EXPECT_FALSE(r->Poll());
    EXPECT_EQ(r->GetError(), -2415);
    EXPECT_EQ(server.RequestCount(), 2u);
}

TEST_F(HttpTest, NoDeadlineWithoutTimeoutAndDiscardWhileBusy) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Silent());
    CHttpRequest::Ptr r = CHttpRequest::Create(server.Url("/x").c_str());
    r->SetTimeout(0);
    r->Start();
    ASSERT_TRUE(PollToState(*r, EHttpState::StatusLine));
    ASSERT_TRUE(server.WaitForRequests(1));
    TestClock().Advance(1e6);
    EXPECT_TRUE(r->Poll());
    EXPECT_EQ(r->GetState(), EHttpState::StatusLine);
    r.reset();  // the connection thread closes and frees itself
}

}  // namespace
