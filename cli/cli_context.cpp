#include "cli/cli_context.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/mpeg_info.h"
#include "foundation/clock.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"
#include "library/song.h"
#include "library/tags.h"

namespace {

std::string ShownPath(const std::string& path) { return SanitizeUtf8(path); }

}  // namespace

std::string CCliContext::Folder() {
    if (!folder_.empty()) return folder_;
    if (prefsDir.empty()) {
        try {
            folder_ = PreferencesFolder();
        } catch (const CError& error) {
            Abort(ConfigHome() + "/Melodex", "cannot make the preferences folder: " + ErrorMessage(error.code));
        }
        return folder_;
    }
    struct stat info;
    if (stat(prefsDir.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
        Abort(prefsDir, "not a folder");
    if (!MakeDirectories(prefsDir.c_str(), 0700))
        Abort(prefsDir, std::string("cannot make the preferences folder: ") + std::strerror(errno));
    folder_ = prefsDir;
    return folder_;
}

std::string CCliContext::PrefsPath() { return Folder() + "/Melodex.prefs"; }

std::string CCliContext::CachePath() { return Folder() + "/Melodex.cache"; }

CApp& CCliContext::App() {
    if (!app_) app_ = std::make_unique<CApp>(shell_, CAppPaths{PrefsPath(), CachePath()});
    return *app_;
}

void CCliContext::LoadSettings() {
    CApp& app = App();
    const std::string path = PrefsPath();
    // The core treats any unreadable file as missing; a file the user cannot
    // read would then be replaced by defaults at the next save, so stop here.
    struct stat info;
    const bool exists = stat(path.c_str(), &info) == 0;
    if (exists) {
        if (S_ISDIR(info.st_mode)) Abort(path, "cannot read the preferences file: it is a folder");
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) Abort(path, std::string("cannot read the preferences file: ") + std::strerror(errno));
        close(fd);
    }
    const bool loaded = LoadPrefs(app.prefs, shell_, path.c_str());
    if (exists && !loaded)
        shell_.Note("melodex-cli: " + ShownPath(path) +
                    ": the preferences file is damaged or of an unknown version; using the defaults");
}

void CCliContext::LoadCache() { App().cache->LoadCache(); }

void CCliContext::SaveSettings() {
    const size_t alertsBefore = shell_.Alerts().size();
    if (!App().SaveSettings() && shell_.Alerts().size() == alertsBefore)
        Fail(PrefsPath(), "the preferences could not be saved");
    else if (shell_.Alerts().size() != alertsBefore)
        failed_ = true;
}

void CCliContext::Fail(const std::string& subject, const std::string& message) {
    failed_ = true;
    std::string line = "melodex-cli: ";
    if (!subject.empty()) line += ShownPath(subject) + ": ";
    line += message;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void CCliContext::Abort(const std::string& subject, const std::string& message) {
    Fail(subject, message);
    throw CCommandAborted{};
}

void CCliContext::TickUntil(const std::function<bool()>& done) {
    CApp& app = App();
    while (!done()) {
        app.Tick();
        if (done()) break;
        Clock().Sleep(0.1);
    }
}

void CCliContext::Emit(const CJsonValue& result) {
    const std::string text = json ? WriteJson(result) : WriteText(result);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    emitted_ = true;
}

bool CheckReadableFile(CCliContext& context, const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        context.Fail(path, std::strerror(errno));
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        context.Fail(path, "is a folder, not a file");
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        context.Fail(path, "not a regular file");
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        context.Fail(path, std::strerror(errno));
        return false;
    }
    close(fd);
    return true;
}

bool CheckMp3File(CCliContext& context, const std::string& path) {
    if (!CheckReadableFile(context, path)) return false;
    CMpegInfo info;
    info.Analyse(path.c_str());
    if (info.HeaderWord() == 0) {
        context.Fail(path, "not an MP3 file (no MPEG audio frame found)");
        return false;
    }
    return true;
}

void SongFromFile(CCliContext& context, const std::string& path, CSong& song) {
    try {
        song.fileRef = MakeFileRef(path.c_str());
    } catch (const CError& error) {
        context.Abort(path, ErrorMessage(error.code));
    }
    const CFileTags tags = ReadTags(path);
    song.tags = song.savedTags = tags.values;
    song.markedByApp = tags.marked;
}
