// The HTTPS path runs through the transfer library on a job thread. These
// tests reach it over plain HTTP on 127.0.0.1: a URL whose scheme is written
// in capitals keeps its scheme text, and "HTTPS:" anywhere in it selects the
// job path.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "http_test_support.h"
#include "support/fake_http_server.h"

namespace {

using namespace std::string_literals;

std::string JobUrl(const CFakeHttpServer& server, const std::string& path) {
    return "HTTP://" + server.HostPort(path) + "?HTTPS:";
}

TEST_F(HttpTest, JobSendsTheSameHeadersAndDeliversTheAnswer) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Plain(200, "hello", {"X-A: 1", "  2"}));
    CHttpRequest::Ptr r = CHttpRequest::Create(JobUrl(server, "/form").c_str());
    ASSERT_TRUE(r->UsesUrlService());
    r->SetMethod(CHttpRequest::kPost);
    r->SetReferer("127.0.0.1/before");
    r->SetBody("a=b");
    r->Start();
    EXPECT_EQ(r->GetState(), EHttpState::UntilClose);
    ASSERT_TRUE(PollToEnd(*r));
    EXPECT_EQ(r->GetError(), 0);
    EXPECT_EQ(r->GetStatusCode(), 200u);
    EXPECT_EQ(Response(*r), "hello\0"s);
    EXPECT_EQ(r->FindHeader("x-a"), "12");
    EXPECT_EQ(r->GetRequestText(), "a=b");

    ASSERT_EQ(server.RequestCount(), 1u);
    std::string sent = server.Requests()[0];
    for (const char* line : {"POST /form?HTTPS: HTTP/1.1\r\n", "\r\nUser-Agent: melodex_mac\r\n",
                             "\r\nContent-Type:application/x-www-form-urlencoded\r\n",
                             "\r\nCache-Control: no-cache\r\n", "\r\nReferer: 127.0.0.1/before\r\n",
                             "\r\nContent-Length: 7\r\n"}) {
        EXPECT_NE(sent.find(line), std::string::npos) << line << " in\n" << sent;
    }
    EXPECT_EQ(sent.substr(sent.size() - 11), "\r\n\r\na=b\r\n\r\n");
}

TEST_F(HttpTest, JobReportsStatusRedirectsAndFailures) {
    {
        SCOPED_TRACE("an error status is not a transfer failure");
        CFakeHttpServer server;
        server.Enqueue(CFakeResponse::Plain(404, "gone"));
        CHttpRequest::Ptr r = CHttpRequest::Create(JobUrl(server, "/x").c_str());
        r->Start();
        ASSERT_TRUE(PollToEnd(*r));
        EXPECT_EQ(r->GetError(), 0);
        EXPECT_EQ(r->GetStatusCode(), 404u);
        EXPECT_EQ(Response(*r), "gone\0"s);
    }
    for (bool follow : {true, false}) {
        SCOPED_TRACE(follow ? "redirect followed" : "redirect returned");
        CFakeHttpServer server;
        server.Enqueue(CFakeResponse::Redirect(server.Url("/next")));
        server.Enqueue(CFakeResponse::Plain(200, "there", {"X-Final: yes"}));
        CHttpRequest::Ptr r = CHttpRequest::Create(JobUrl(server, "/x").c_str());
        r->SetFollowRedirects(follow);
        r->Start();
        ASSERT_TRUE(PollToEnd(*r));
        EXPECT_EQ(r->GetError(), 0);
        EXPECT_EQ(r->GetStatusCode(), follow ? 200u : 302u);
        EXPECT_EQ(Response(*r), follow ? "there\0"s : "moved\0"s);
        EXPECT_EQ(r->FindHeader("Location").empty(), follow);
        EXPECT_EQ(server.RequestCount(), follow ? 2u : 1u);
    }
    {
        SCOPED_TRACE("a redirect loop ends without retries");
        CFakeHttpServer server;
        server.Enqueue(CFakeResponse::Redirect(server.Url("/again")));
        CHttpRequest::Ptr r = CHttpRequest::Create(JobUrl(server, "/x").c_str());
        r->Start();
        ASSERT_TRUE(PollToEnd(*r));
        EXPECT_EQ(r->GetError(), -68);
        EXPECT_EQ(r->GetRetryCount(), 0);
        EXPECT_EQ(server.RequestCount(), 1u + CHttpRequest::kMaxRedirects);
    }
    {
        SCOPED_TRACE("refused connection, retried from the job thread");
        std::string url = "HTTP://127.0.0.1:" + std::to_string(ClosedPort()) + "/x?HTTPS:";
        CHttpRequest::Ptr r = CHttpRequest::Create(url.c_str());
        r->SetRetries(1);
        r->Start();
        ASSERT_TRUE(PollToEnd(*r));
        EXPECT_EQ(r->GetError(), ECONNREFUSED);
        EXPECT_EQ(r->GetRetryCount(), 1);
        EXPECT_EQ(Response(*r), "\0"s);
    }
}

TEST_F(HttpTest, JobDeadlineAndDiscardWhileRunning) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Silent());
    CHttpRequest::Ptr r = CHttpRequest::Create(JobUrl(server, "/x").c_str());
    r->SetTimeout(15);
    r->SetRetries(0);
    r->Start();
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(r->Poll());
    TestClock().Advance(15);
    EXPECT_FALSE(r->Poll());
    EXPECT_EQ(r->GetError(), -2415);
    EXPECT_EQ(r->GetState(), EHttpState::Idle);

    // A request discarded while its job runs is freed by the job.
    CHttpRequest::Ptr busy = CHttpRequest::Create(JobUrl(server, "/y").c_str());
    busy->Start();
    ASSERT_TRUE(server.WaitForRequests(2));
    busy.reset();
}

}  // namespace
