#include "identify/account.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "foundation/config.h"
#include "foundation/errors.h"
#include "foundation/text.h"
#include "identify/id_driver.h"

namespace {

constexpr int32_t kReloginTimeout = 15;
constexpr int32_t kReloginRetries = 3;
constexpr int32_t kIntroIdentifications = 25;
constexpr const char* kAvailableMarker = "requests_available=";

// The service's host with a path behind it, as the request expects it.
std::string ServiceUrl(const char* path) { return ConfigValue(EConfigKey::IdHost) + path; }

// The leading decimal digits of text (0 when there are none).
int32_t LeadingNumber(const std::string& text) {
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

void StartRelogin(CApp& app, CReloginJob& job, const char* name, const char* password) {
    if (name == nullptr || password == nullptr || name[0] == '\0' || password[0] == '\0') return;
    CopyBounded(job.userNameTried, sizeof job.userNameTried, name);
    CopyBounded(job.passwordTried, sizeof job.passwordTried, password);
    app.serverDown = false;
    char path[256];
    FormatBounded(path, sizeof path, "/cgi-bin/relogin.cgi?&u=%s&p=%s", job.userNameTried,
                  job.passwordTried);
    CHttpRequest::Ptr request = CHttpRequest::Create(ServiceUrl(path).c_str());
    request->SetTimeout(kReloginTimeout);
    request->SetRetries(kReloginRetries);
    try {
        request->Start();
    } catch (const CError&) {
        // No socket or thread: the check ends as failed on its next poll.
        return;
    }
    job.request = std::move(request);
}

bool PollRelogin(CApp& app, CReloginJob& job) {
    if (!job.request) return false;
    if (job.request->Poll()) return true;
    job.identificationsReported = -1;
    if (job.request->GetError() == 0) {
        const std::string answer(reinterpret_cast<const char*>(job.request->GetResponseData()),
                                 static_cast<size_t>(job.request->GetResponseLength()));
        const size_t marker = answer.find(kAvailableMarker);
        if (marker != std::string::npos) {
            const size_t digits = marker + std::strlen(kAvailableMarker);
            const size_t lineEnd = answer.find('\n', digits);
            if (lineEnd != std::string::npos)
                job.identificationsReported = LeadingNumber(answer.substr(digits, lineEnd - digits));
        }
    } else if (job.request->GetStatusCode() == 500) {
        app.serverDown = true;
    }
    job.request.reset();
    return false;
}

void FinishRelogin(CApp& app) {
    if (!app.reloginJob) return;
    if (PollRelogin(app, *app.reloginJob)) {
        app.UpdateControls();
        // identifyAfterAdd stays set while the check runs: clearing it here
        // would drop a companion-script hand-off made during start-up.
        return;
    }
    CPrefs& prefs = app.prefs;
    const CReloginJob& job = *app.reloginJob;
    app.introLoginFailed = prefs.introAccount && job.identificationsReported == -1;
    if (!app.introLoginFailed) {
        prefs.introAccount = 0;
        prefs.identificationsLeft = job.identificationsReported;
        CopyBounded(prefs.userName, sizeof prefs.userName, job.userNameTried);
        CopyBounded(prefs.password, sizeof prefs.password, job.passwordTried);
    }
    app.reloginJob.reset();
    app.SaveSettings();
    app.UpdateControls();
    if (app.identifyAfterAdd && prefs.identificationsLeft >= 1 && !app.identifying) {
        app.Shell().Beep();
        ToggleIdentification(app);
    }
    app.identifyAfterAdd = false;
}

void StartIntroRequest(CApp& app) {
    if (app.introRequest) return;
    CHttpRequest::Ptr request = CHttpRequest::Create(ServiceUrl("/cgi-bin/get_anon.cgi?id=harbormoss").c_str());
    try {
        request->Start();
        app.introRequest = std::move(request);
    } catch (const CError&) {
        // No socket or thread: the same as a request that produced no account.
        app.introRequestFailed = true;
    }
    app.UpdateControls();
}

void PollIntroRequest(CApp& app) {
    if (!app.introRequest) return;
    CHttpRequest& request = *app.introRequest;
    if (request.Poll()) return;
    app.introRequestFailed = true;
    if (request.GetError() == 0) {
        char answer[256];
        request.CopyResponse(answer, sizeof answer);
        char user[256] = {};
        char password[256] = {};
        ExtractBetween(answer, "<username>", "</username>", user, sizeof user);
        ExtractBetween(answer, "<password>", "</password>", password, sizeof password);
        if (user[0] != '\0' && password[0] != '\0') {
            CPrefs& prefs = app.prefs;
            CopyBounded(prefs.userName, sizeof prefs.userName, user);
            CopyBounded(prefs.password, sizeof prefs.password, password);
            prefs.introAccount = 1;
            prefs.identificationsLeft = kIntroIdentifications;
            app.introRequestFailed = false;
        }
    }
    app.introRequest.reset();
    app.UpdateControls();
}

void CancelIntroRequest(CApp& app) {
    if (!app.introRequest) return;
    app.introRequest.reset();
    app.introRequestFailed = false;
    app.UpdateControls();
}

void StartLoginFromPrefs(CApp& app, const char* name, const char* password) {
    app.introLoginFailed = false;
    app.introRequestFailed = false;
    CancelIntroRequest(app);
    app.reloginJob = std::make_unique<CReloginJob>();
    StartRelogin(app, *app.reloginJob, name, password);
}

void CancelLogin(CApp& app) {
    app.reloginJob.reset();
    app.introLoginFailed = false;
    app.introRequestFailed = false;
}

std::string AccountStatusText(const CApp& app) {
    char text[512];
    const CPrefs& prefs = app.prefs;
    if (app.songs.Count() > 0) {
        int processed = 0;
        int identified = 0;
        for (const CSong& song : app.songs) {
            if (!song.identified) continue;
            ++processed;
            if (song.matches.Count() > 0) ++identified;
        }
        const char* prefix = app.identifying ? "Id in progress: " : identified > 0 ? "Id complete: " : "";
        std::snprintf(text, sizeof text, "%s%d songs, %d processed, %d identified", prefix,
                      static_cast<int>(app.songs.Count()), processed, identified);
        return text;
    }
    if (app.introRequest) return "Requesting introductory account...";
    if (prefs.introAccount) {
        std::snprintf(text, sizeof text, "Using free introductory account. %d identifications left.",
                      static_cast<int>(prefs.identificationsLeft));
        return text;
    }
    if (app.introRequestFailed) return "Sorry, error creating free introductory account.";
    if (prefs.userName[0] != '\0') {
        if (app.reloginJob) {
            std::snprintf(text, sizeof text, "Logging in as %s...", prefs.userName);
        } else if (prefs.identificationsLeft == -1) {
            std::snprintf(text, sizeof text, "Sorry, Log-in as %s failed.", prefs.userName);
        } else {
            std::snprintf(text, sizeof text, "You have %d identifications left.",
                          static_cast<int>(prefs.identificationsLeft));
        }
        return text;
    }
    if (app.prefsWindowShown) return "Welcome to Melodex!";
    return "Welcome to Melodex! You don't have an account. Go to Preferences to create one.";
}
