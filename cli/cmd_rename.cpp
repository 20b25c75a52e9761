// Renaming files from their tags. The rename window is answered at once
// with Rename All; errors skip the file and are reported.
#include <cstring>

#include "app/app.h"
#include "cli/cli_context.h"
#include "cli/command.h"
#include "fileops/rename.h"
#include "fileops/rename_session.h"
#include "foundation/clock.h"

namespace {

class CCliRenameWindow : public IRenameWindow {
public:
    explicit CCliRenameWindow(CCliContext& context) : context_(context) {}

    void SetPresets(const std::vector<std::string>&) override {}
    void RunModal(CRenameSession& session) override {
        ended_ = false;
        bool decided = false;
        while (!ended_) {
            session.Timer();
            if (ended_) break;
            if (decisionsEnabled_ && !decided) {
                decided = true;
                session.RenameAll();
            }
            Clock().Sleep(0.1);
        }
    }
    void EndModal() override { ended_ = true; }
    void Close() override {}
    void SetLayout(ERenameLayout, int, int) override {}
    void SetProgress(int32_t, int32_t, const std::string& status) override { context_.Shell().Note(status); }
    void ShowBusy(bool) override {}
    void SetBusyCursor(bool) override {}
    void EnableDecisions(bool enabled) override { decisionsEnabled_ = enabled; }
    void EnableCancel(bool) override {}
    void SetCancelTitle(const std::string&) override {}
    void SetCurrentName(const std::string&) override {}
    void SetNewName(const std::string& name) override { newName_ = name; }
    std::string NewName() const override { return newName_; }
    void SetPattern(const std::string& pattern) override { pattern_ = pattern; }
    std::string Pattern() const override { return pattern_; }
    bool PatternHasFocus() const override { return false; }
    void FocusNewName() override {}
    void FocusPattern() override {}
    // The file is skipped and the run goes on with the next one.
    int ShowError(const std::string& message, const std::string& detail) override {
        context_.Fail("", message + (detail.empty() ? "" : " " + detail));
        return 1;
    }

private:
    CCliContext& context_;
    bool ended_ = false;
    bool decisionsEnabled_ = false;
    std::string newName_;
    std::string pattern_;
};

void RunRename(CCliContext& context, const SArgs& args) {
    std::string pattern;
    if (const std::string* option = args.Value("pattern")) {
        if (!Utf8ToLatin1(*option, pattern))
            throw CUsageError{"--pattern: the text has characters outside ISO-8859-1"};
        if (pattern.size() >= sizeof(CPrefs::renamePattern) || pattern.empty())
            throw CUsageError{"--pattern holds 1 to " + std::to_string(sizeof(CPrefs::renamePattern) - 1) +
                              " characters"};
    }
    context.LoadSettings();
    CApp& app = context.App();
    // For this run only: rename does not save the preferences.
    if (!pattern.empty()) std::strcpy(app.prefs.renamePattern, pattern.c_str());
    AddPathsForCommand(context, args.operands);

    std::vector<std::string> before;
    std::vector<CJsonValue> proposals;
    for (const CSong& song : app.songs) {
        before.push_back(song.fileRef.path);
        char name[CRenameRun::kNameSize];
        proposals.push_back(ExpandPattern(song, app.prefs.renamePattern, name, sizeof name)
                                ? CJsonValue::Latin1(name)
                                : CJsonValue::Null());
    }
    if (!args.Has("dry-run") && app.songs.Count() > 0) {
        CCliRenameWindow window(context);
        app.renameWindow = &window;
        app.SetSelection(app.Rows());
        app.RenameSelected();
        app.renameWindow = nullptr;
    }
    CJsonValue result = CJsonValue::Array();
    size_t i = 0;
    for (const CSong& song : app.songs) {
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("path", CJsonValue::Utf8(before[i]));
        item.Set("newName", proposals[i]);
        item.Set("renamedTo", song.fileRef.path != before[i] ? CJsonValue::Utf8(song.fileRef.path)
                                                             : CJsonValue::Null());
        ++i;
    }
    context.Emit(result);
}

}  // namespace

SCommand RenameCommand() {
    return {"rename", "PATH...", "rename files from their tags by a pattern (Rename All)",
            "Placeholders: %artist %album %title %genre %year %track %disc; the name ends in .mp3.\n"
            "A name already taken gets \" (2)\", \" (3)\" ...; a file whose pattern gives no name\n"
            "keeps it. The default pattern is the stored renamePattern; --pattern is used for\n"
            "this run only.",
            {{"pattern", "P", "the pattern to use"},
             {"dry-run", nullptr, "only show the new names"}},
            1, -1, RunRename};
}
