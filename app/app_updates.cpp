// The version check of the application object and the update download it
// offers.

#include <cstring>

#include "app/app.h"
#include "foundation/clock.h"
#include "foundation/config.h"
#include "foundation/desktop.h"
#include "foundation/errors.h"

namespace {

constexpr int64_t kFirstCheckDelay = 15;
constexpr int64_t kCheckInterval = 3600;
constexpr int32_t kCheckTimeout = 60;
constexpr int32_t kCheckRetries = 3;

}  // namespace

void CApp::VersionCheckStep() {
    StartVersionCheck(false);
    FinishVersionCheck();
}

void CApp::StartVersionCheck(bool manual) {
    if (versionCheckState == 1) return;
    const int64_t now = Clock().WallTime();
    if (manual) {
        if (!Desktop().NetworkAvailable()) {
            shell_.Ask("Can't check for a new version:\nInternet is not available", "", {"Oops"}, 0);
            return;
        }
    } else if (!prefs.autoVersionCheck || now - startTime < kFirstCheckDelay || prefsWindowShown ||
               identifying || adding || findingDuplicates || saving || now < prefs.nextVersionCheck) {
        return;
    }
    versionCheckState = 1;
    prefs.nextVersionCheck = static_cast<int32_t>(now + kCheckInterval);
    manualCheck = manual;
    versionCheck = std::make_unique<CVersionCheck>();
    CHttpRequest::Ptr request = CHttpRequest::Create(ConfigValue(EConfigKey::VersionUrl).c_str());
    request->SetTimeout(kCheckTimeout);
    request->SetRetries(kCheckRetries);
    try {
        request->Start();
        versionCheck->request = std::move(request);
    } catch (const CError&) {
        // No request: the check ends as a failed one in the next tick.
    }
}

void CApp::FinishVersionCheck() {
    if (!versionCheck) return;
    if (versionCheck->request && versionCheck->request->Poll()) return;
    // The check is ours alone from here; a modal download below runs ticks.
    std::unique_ptr<CVersionCheck> check = std::move(versionCheck);
    if (check->request && check->request->GetError() == 0) {
        const char* data = reinterpret_cast<const char*>(check->request->GetResponseData());
        const auto length = static_cast<size_t>(check->request->GetResponseLength());
        // The response ends with the zero byte of a close-delimited body.
        if (data != nullptr) ParseVersionDocument(data, strnlen(data, length), *check);
    }
    check->request.reset();

    if (check->version.empty() || check->version == appVersion) {
        versionCheckState = 2;
        if (manualCheck) shell_.Ask("You're running the latest version of Melodex.", appVersion, {"OK"}, 0);
        return;
    }
    versionCheckState = 3;
    const bool offerStop = !manualCheck && prefs.autoVersionCheck;
    std::vector<std::string> buttons = {"Download Now..."};
    if (offerStop) buttons.push_back("Don't check anymore");
    buttons.push_back("Cancel");
    const int answer = shell_.Ask(NewVersionMessage(*check), check->releaseNotes, buttons, 0);
    if (answer == 0) {
        if (!check->downloadUrl.empty())
            DownloadUpdate("Downloading Melodex " + check->version + "...", check->downloadUrl, check->releaseNotes,
                           check->fileSize);
        else
            Desktop().OpenUrl(ConfigValue(EConfigKey::HomePage));
    } else if (offerStop && answer == 1) {
        prefs.autoVersionCheck = 0;
    }
}

void CApp::DownloadUpdate(const std::string& title, const std::string& url, const std::string& releaseNotes,
                          int64_t expectedSize) {
    if (updaterWindow == nullptr) return;
    updater = std::make_unique<CUpdater>(*updaterWindow, shell_);
    updater->Start(title, url, releaseNotes, expectedSize);
}
