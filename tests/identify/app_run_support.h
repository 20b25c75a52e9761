#pragma once
// An application object wired to the fake identification service, with a
// fake analysis (instant digest and token) and a recording shell. Ticks run
// in real time only as long as threads need to answer; the manual clock moves
// 0.1 s per tick, as the main timer would.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/app.h"
#include "foundation/text.h"
#include "http_test_support.h"
#include "support/fake_id_service.h"
#include "support/fake_shell.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

class AppRunTest : public HttpTest {
protected:
    static inline std::atomic<bool> tokenEmpty{false};
    static inline std::atomic<int32_t> digestError{0};
    // While set, the digest waits: the job stays in its analysing state.
    static inline std::atomic<bool> holdDigest{false};

    static void FakeDigest(const char*, char* digest, int32_t* fileSize, int32_t* playingTime,
                           int32_t* bitrate) {
        while (holdDigest.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (const int32_t error = digestError.load()) throw CError{error};
        CopyBounded(digest, 33, "0123456789abcdef0123456789abcdef");
        *fileSize = 4000000;
        *playingTime = 240;
        *bitrate = 128;
    }
    static void FakeToken(const char*, char* destination, size_t capacity) {
        CopyBounded(destination, capacity, tokenEmpty.load() ? "" : "TOKEN123");
    }

    void SetUp() override {
        HttpTest::SetUp();
        tokenEmpty = false;
        digestError = 0;
        holdDigest = false;
        app.idAnalysis = CIdAnalysis{FakeDigest, FakeToken};
        SetAccount("user", "secret", 10);
        app.prefs.requestRetries = 0;
    }

    void SetAccount(const char* name, const char* password, int32_t left) {
        CopyBounded(app.prefs.userName, sizeof app.prefs.userName, name);
        CopyBounded(app.prefs.password, sizeof app.prefs.password, password);
        app.prefs.identificationsLeft = left;
    }

    CSong& AddSong(const std::string& name) {
        auto song = std::make_unique<CSong>();
        song->fileRef = MakeFileRef(dir.Write(name, "ID3 audio bytes of " + name).c_str());
        CopyBounded(song->tags.title, sizeof song->tags.title, name.c_str());
        song->savedTags = song->tags;
        return app.songs.Append(std::move(song));
    }

    // Ticks until the condition holds; false when it still does not after
    // the real-time limit.
    bool TickUntil(const std::function<bool()>& condition, int limitMs = 10000) {
        for (int waited = 0; waited < limitMs; waited += 2) {
            TestClock().Advance(0.1);
            app.Tick();
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    void TearDown() override {
        holdDigest = false;
        HttpTest::TearDown();
    }

    bool RunToEnd() {
        return TickUntil([this] { return !app.identifying; });
    }

    CTempDir dir;
    CFakeIdService service;
    CScopedEnv host{"MELODEX_ID_HOST", service.Host().c_str()};
    CRecordingShell shell;
    CApp app{shell, {dir.File("Melodex.prefs"), dir.File("Melodex.cache")}};
};

inline std::string FileNameOf(const SIdServiceRequest& request) { return request.keys.at("filename"); }
