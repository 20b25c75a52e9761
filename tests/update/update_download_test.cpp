#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "identify/http_test_support.h"
#include "support/fake_http_server.h"
#include "support/temp_dir.h"
#include "tar_bytes.h"
#include "update/update_download.h"

namespace {

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

bool WaitDone(const CUpdateDownload& download, int limitMs = 10000) {
    for (int waited = 0; waited < limitMs; waited += 2) {
        if (download.Done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

using UpdateDownload = HttpTest;

TEST_F(UpdateDownload, ReplacesTheFileWithTheBody) {
    CFakeHttpServer server;
    const std::string body(70000, 'x');
    server.Enqueue(CFakeResponse::Redirect("/real"));
    server.Enqueue(CFakeResponse::Plain(200, body, {"Content-Length: 70000"}));
    CTempDir dir;
    const std::string target = dir.Write("Melodex.bin", "older and longer content than the update has? no");
    CUpdateDownload download(server.Url("/Melodex.bin"), target);
    download.Start();
    ASSERT_TRUE(WaitDone(download));
    EXPECT_EQ(download.Error(), 0);
    EXPECT_EQ(ReadFileBytes(target), body);
}

TEST_F(UpdateDownload, FailuresLeaveNoPartialFile) {
    const struct {
        const char* label;
        CFakeResponse response;
    } cases[] = {
        {"interrupted", CFakeResponse::Raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nonly ten b")},
        {"error page", CFakeResponse::Plain(404, "not here")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CFakeHttpServer server;
        server.Enqueue(c.response);
        CTempDir dir;
        CUpdateDownload download(server.Url("/u.tar"), dir.File("u.tar"));
        download.Start();
        ASSERT_TRUE(WaitDone(download));
        EXPECT_NE(download.Error(), 0);
        EXPECT_FALSE(Exists(dir.File("u.tar")));
    }
    CTempDir dir;
    CUpdateDownload refused("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/u", dir.File("u"));
    refused.Start();
    ASSERT_TRUE(WaitDone(refused));
    EXPECT_EQ(refused.Error(), ECONNREFUSED);
    EXPECT_FALSE(Exists(dir.File("u")));
}

TEST_F(UpdateDownload, CancelRemovesThePartialFile) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Raw("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nfirst bytes").KeepOpen());
    CTempDir dir;
    CUpdateDownload download(server.Url("/u.tar"), dir.File("u.tar"));
    download.Start();
    // The first bytes replace the placeholder byte.
    for (int waited = 0; waited < 5000 && ReadFileBytes(dir.File("u.tar")) != "first bytes"; waited += 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(ReadFileBytes(dir.File("u.tar")), "first bytes");
    download.Cancel();
    EXPECT_TRUE(download.Done());
    EXPECT_EQ(download.Error(), -128);
    EXPECT_FALSE(Exists(dir.File("u.tar")));
}

TEST_F(UpdateDownload, ExpandsArchivesNextToTheDownload) {
    CFakeHttpServer server;
    server.Enqueue(CFakeResponse::Plain(200, TarBytes({{"Melodex/readme.txt", "hello"}})));
    CTempDir dir;
    CUpdateDownload download(server.Url("/Melodex.tar"), dir.File("Melodex.tar"));
    download.Start();
    ASSERT_TRUE(WaitDone(download));
    EXPECT_EQ(download.Error(), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("Melodex/readme.txt")), "hello");
    EXPECT_TRUE(Exists(dir.File("Melodex.tar")));
}

TEST(ExpandArchive, RefusesEntriesOutsideTheFolderAndLeavesOtherFilesAlone) {
    CTempDir dir;
    std::filesystem::create_directory(dir.File("in"));
    const struct {
        const char* entry;
        std::string escaped;
    } cases[] = {
        {"../evil.txt", dir.File("evil.txt")},
        {"/tmp/melodex-evil-absolute.txt", "/tmp/melodex-evil-absolute.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const std::string archive = dir.Write("a.tar", TarBytes({{"ok.txt", "fine"}, {c.entry, "bad"}}));
        EXPECT_NE(ExpandArchive(archive, dir.File("in")), 0);
        EXPECT_FALSE(Exists(c.escaped));
    }
    const std::string plain = dir.Write("notes.txt", "just text, not an archive");
    EXPECT_FALSE(IsExpandableArchive(plain));
    EXPECT_TRUE(IsExpandableArchive(dir.Write("b.tar", TarBytes({{"x", "y"}}))));
}

}  // namespace
