#include "identify/account.h"

#include <algorithm>
#include <cstdio>

#include "app/app.h"

#if __has_include("identify/http_request.h")
#include "identify/http_request.h"
#define MELODEX_HAVE_HTTP 1
#endif

CReloginJob::CReloginJob() = default;

CReloginJob::~CReloginJob() {
#ifdef MELODEX_HAVE_HTTP
    if (request) CHttpRequest::SDiscard{}(request);
#endif
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
