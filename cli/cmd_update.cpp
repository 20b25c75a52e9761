// The version check and the update download.
#include <cstring>

#include "app/app.h"
#include "cli/cli_context.h"
#include "cli/command.h"
#include "foundation/clock.h"
#include "foundation/config.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "update/updater.h"
#include "update/version_check.h"

namespace {

// The application's check keeps the document to itself (it only alerts), so
// the command fetches and parses it with the same request and parser.
constexpr int32_t kCheckTimeout = 60;
constexpr int32_t kCheckRetries = 3;

// Up to date (2) or another version offered (3), as the application counts.
int32_t CheckVersion(CCliContext& context, CVersionCheck& check) {
    const std::string url = ConfigValue(EConfigKey::VersionUrl);
    check.request = CHttpRequest::Create(url.c_str());
    check.request->SetTimeout(kCheckTimeout);
    check.request->SetRetries(kCheckRetries);
    try {
        check.request->Start();
    } catch (const CError& error) {
        context.Abort(url, "the version check could not start: " + ErrorMessage(error.code));
    }
    while (check.request->Poll()) Clock().Sleep(0.1);
    if (const int32_t error = check.request->GetError(); error != 0)
        context.Abort(url, "the version document could not be read: " + ErrorMessage(error));
    const char* data = reinterpret_cast<const char*>(check.request->GetResponseData());
    const auto length = static_cast<size_t>(check.request->GetResponseLength());
    if (data != nullptr) ParseVersionDocument(data, strnlen(data, length), check);
    check.request.reset();
    if (check.version.empty()) context.Abort(url, "not a version document");
    return check.version == context.App().appVersion ? 2 : 3;
}

void RunCheckUpdate(CCliContext& context, const SArgs&) {
    CVersionCheck check;
    const int32_t state = CheckVersion(context, check);
    context.Shell().Note(state == 2 ? "You're running the latest version of Melodex."
                                    : NewVersionMessage(check));
    CJsonValue result = CJsonValue::Object();
    result.Set("state", CJsonValue::Int(state));
    result.Set("version", CJsonValue::Latin1(check.version));
    result.Set("releaseDate", CJsonValue::Latin1(check.releaseDate));
    result.Set("downloadUrl", CJsonValue::Latin1(check.downloadUrl));
    result.Set("fileSize", CJsonValue::Int(check.fileSize));
    result.Set("releaseNotes", CJsonValue::Latin1(check.releaseNotes));
    context.Emit(result);
}

// The download window: the folder is the command's, progress goes to
// standard error, and the timer runs every second until the end.
class CCliUpdaterWindow : public IUpdaterWindow {
public:
    CCliUpdaterWindow(CCliContext& context, std::string folder) : context_(context), folder_(std::move(folder)) {}

    int32_t ChooseFolder(const std::string&, const std::string&, std::string& folder) override {
        folder = folder_;
        return 0;
    }
    void Prepare(const std::string& title, const std::string&, const std::string&) override {
        context_.Shell().Note(title);
    }
    void SetSize(int32_t, int32_t) override {}
    void SetText(const std::string& control, const std::string& text) override {
        if (control == "DOWN") context_.Shell().Note(text);
    }
    void SetProgress(int64_t, int64_t, int64_t) override {}
    void RunModal() override {
        ended_ = false;
        while (!ended_) {
            Clock().Sleep(1.0);
            if (updater != nullptr) updater->TimerStep();
        }
    }
    void EndModal() override { ended_ = true; }

    CUpdater* updater = nullptr;

private:
    CCliContext& context_;
    std::string folder_;
    bool ended_ = false;
};

void RunDownloadUpdate(CCliContext& context, const SArgs& args) {
    const std::string& folder = args.operands[0];
    if (!MakeDirectories(folder.c_str())) context.Abort(folder, "not a folder that can be made or used");
    CVersionCheck check;
    const int32_t state = CheckVersion(context, check);
    CJsonValue result = CJsonValue::Object();
    if (state == 2 || check.downloadUrl.empty()) {
        context.Shell().Note(state == 2 ? "You're running the latest version of Melodex."
                                        : "The new version offers no download.");
        result.Set("path", CJsonValue::Null());
        context.Emit(result);
        return;
    }
    CCliUpdaterWindow window(context, folder);
    // The final question offers to show the file; there is nothing to show it in.
    context.Shell().AnswerWith("Close");
    CUpdater updater(window, context.Shell());
    window.updater = &updater;
    const bool started = updater.Start("Downloading Melodex " + check.version + "...", check.downloadUrl,
                                       check.releaseNotes, check.fileSize);
    if (!started || !FileExists(updater.Destination().c_str()))
        context.Abort(check.downloadUrl, "the update could not be downloaded");
    result.Set("path", CJsonValue::Utf8(updater.Destination()));
    context.Emit(result);
}

}  // namespace

SCommand CheckUpdateCommand() {
    return {"check-update", "", "ask whether a newer version of Melodex is published",
            "state 2: this version is the latest; 3: another version is offered.", {}, 0, 0, RunCheckUpdate};
}

SCommand DownloadUpdateCommand() {
    return {"download-update", "DIR", "download the offered version into DIR (archives are expanded)",
            "Shows the downloaded file's path, or null when no newer version is offered.", {}, 1, 1,
            RunDownloadUpdate};
}
