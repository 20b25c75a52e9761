#pragma once
// The service account: the log-in check (which also reports the
// identifications left), the free introductory account, and the text of the
// main window's status line. Everything runs on the main thread; the two
// exchanges are CHttpRequests polled from the main timer.

#include <cstdint>
#include <string>

#include "identify/http_request.h"

class CApp;

// One running log-in check. Name and password are cut to 63 characters.
struct CReloginJob {
    CHttpRequest::Ptr request;  // none once the check has finished
    int32_t identificationsReported = -1;
    char userNameTried[64] = {};
    char passwordTried[64] = {};
};

// Starts the check unless name or password is empty.
void StartRelogin(CApp& app, CReloginJob& job, const char* name, const char* password);
// True while the check's request is busy.
bool PollRelogin(CApp& app, CReloginJob& job);
// Applies a finished check to the account; the tick runs it while a check exists.
void FinishRelogin(CApp& app);

void StartIntroRequest(CApp& app);
// The tick runs it while an introductory-account request exists.
void PollIntroRequest(CApp& app);
void CancelIntroRequest(CApp& app);

// The preferences window's log-in with the typed name and password.
void StartLoginFromPrefs(CApp& app, const char* name, const char* password);
void CancelLogin(CApp& app);

std::string AccountStatusText(const CApp& app);
