// Commands over a song list: adding files and folders, importing a
// playlist, identification, duplicates and the Trash. Each fills the
// application's list with an add run first, as the user would.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "app/app.h"
#include "cli/cli_context.h"
#include "cli/command.h"
#include "cli/result_fields.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"
#include "identify/id_driver.h"
#include "library/add_songs.h"
#include "library/itunes_library.h"

namespace {

// Runs the add run to its end and shows the core's final count.
void FinishAdding(CCliContext& context, int32_t countBefore) {
    CApp& app = context.App();
    context.TickUntil([&] { return !app.adding; });
    const int32_t total = app.addOperation ? app.addOperation->Total() : 0;
    context.Shell().Note(AddProgressText(false, total, app.songs.Count() - countBefore));
}

}  // namespace

// Adds the operands; a missing one or a file that is no MP3 candidate is
// reported, the others are still added.
void AddPathsForCommand(CCliContext& context, const std::vector<std::string>& paths) {
    std::vector<std::string> items;
    for (const std::string& path : paths) {
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            context.Fail(path, std::strerror(errno));
        } else if (!S_ISDIR(info.st_mode) && !IsMp3Candidate(LastPathComponent(path.c_str()))) {
            context.Fail(path, "not an MP3 file (only .mp3 files are added)");
        } else {
            items.push_back(path);
        }
    }
    if (items.empty()) return;
    CApp& app = context.App();
    const int32_t before = app.songs.Count();
    if (!app.AddChosenItems(items)) context.Abort("", "the songs could not be added");
    FinishAdding(context, before);
}

namespace {

CJsonValue SongArray(CApp& app) {
    CJsonValue result = CJsonValue::Array();
    for (const CSong& song : app.songs) result.Push(SongObject(song));
    return result;
}

void RunAdd(CCliContext& context, const SArgs& args) {
    AddPathsForCommand(context, args.operands);
    context.Emit(SongArray(context.App()));
}

void RunImport(CCliContext& context, const SArgs& args) {
    const auto index = static_cast<int32_t>(ParseInteger(args.operands[0], 0, INT32_MAX, "INDEX"));
    const std::string* option = args.Value("library");
    const std::string path = option != nullptr ? *option : ItunesLibraryPath();
    if (path.empty()) context.Abort("", "the iTunes library path is too long");
    if (!CheckReadableFile(context, path)) return;
    context.LoadSettings();
    auto library = std::make_unique<CItunesLibrary>();
    library->LoadPlaylists(path);
    const auto count = static_cast<int32_t>(library->Playlists().size());
    if (count == 0) context.Abort(path, "no playlists found (not an iTunes library file?)");
    if (index >= count)
        throw CUsageError{"no playlist " + std::to_string(index) + ": the library has " + std::to_string(count) +
                          " (from 0; see 'playlists')"};
    CApp& app = context.App();
    const int32_t before = app.songs.Count();
    if (!app.ImportPlaylist(std::move(library), index, args.Has("incomplete-only")))
        context.Abort("", "the playlist could not be imported");
    FinishAdding(context, before);
    context.SaveSettings();
    context.Emit(SongArray(app));
}

void RunIdentify(CCliContext& context, const SArgs& args) {
    context.LoadSettings();
    CApp& app = context.App();
    const CPrefs& prefs = app.prefs;
    if (prefs.userName[0] == '\0' || prefs.password[0] == '\0')
        context.Abort("", "no account is stored: set userName and password with 'prefs set', or run 'intro'");
    if (prefs.identificationsLeft == 0) context.Abort("", "no identifications are left on the account");
    if (prefs.identificationsLeft < 0) context.Abort("", "the last log-in failed; run 'login' first");
    context.LoadCache();
    AddPathsForCommand(context, args.operands);
    if (app.songs.Count() == 0) context.Abort("", "no songs to identify");

    // Errors show only in the status line: keep each failed song's message.
    std::map<const CSong*, std::string> errors;
    context.Shell().followStatusLine = true;
    app.SetSelection({});
    ToggleIdentification(app);
    context.TickUntil([&] {
        for (const CSong& song : app.songs)
            if (song.idFailed && errors.count(&song) == 0) errors[&song] = context.Shell().LastStatusText();
        return !app.identifying;
    });
    if (args.Has("save") && app.ModifiedCount() > 0) {
        // The core shows failed files as an alert; they fail the command.
        const size_t alerts = context.Shell().Alerts().size();
        if (!app.SaveSongs(false)) context.Fail("", "the songs could not be saved");
        context.TickUntil([&] { return !app.saving; });
        if (context.Shell().Alerts().size() != alerts) context.Fail("", "some songs were not saved");
    }
    context.SaveSettings();

    CJsonValue result = CJsonValue::Array();
    for (const CSong& song : app.songs) {
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("path", CJsonValue::Utf8(song.fileRef.path));
        item.Set("status", CJsonValue::Int(song.Status()));
        item.Set("identified", CJsonValue::Bool(song.identified));
        item.Set("failed", CJsonValue::Bool(song.idFailed));
        const auto error = errors.find(&song);
        item.Set("error", song.idFailed && error != errors.end() ? CJsonValue::Latin1(error->second)
                                                                 : CJsonValue::Null());
        item.Set("currentMatch", CJsonValue::Int(song.currentMatch));
        CJsonValue& matches = item.Set("matches", CJsonValue::Array());
        for (int32_t i = 0; i < song.matches.Count(); ++i) matches.Push(TagValuesObject(song.matches[i]));
        if (song.idFailed) context.Fail(song.fileRef.path, "identification failed");
    }
    if (prefs.identificationsLeft == 0) context.Fail("", "no identifications are left on the account");
    context.Emit(result);
}

void RunDupes(CCliContext& context, const SArgs& args) {
    AddPathsForCommand(context, args.operands);
    CApp& app = context.App();
    CJsonValue result = CJsonValue::Array();
    if (app.songs.Count() > 1) {
        if (!app.FindDuplicates()) context.Abort("", "the duplicate search could not start");
        context.TickUntil([&] { return !app.findingDuplicates; });
        // Groups in the order of their leaders; members in list order.
        for (const CSong& leader : app.songs) {
            if (leader.groupLeader != &leader) continue;
            CJsonValue& group = result.Push(CJsonValue::Array());
            group.Push(CJsonValue::Utf8(leader.fileRef.path));
            for (const CSong& member : app.songs)
                if (member.groupLeader == &leader && &member != &leader)
                    group.Push(CJsonValue::Utf8(member.fileRef.path));
        }
    }
    context.Emit(result);
}

std::set<std::string> TrashInfoNames() {
    std::set<std::string> names;
    const std::string folder = TrashFolder() + "/info";
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

void RunTrash(CCliContext& context, const SArgs& args) {
    CJsonValue result = CJsonValue::Array();
    for (const std::string& path : args.operands) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            context.Fail(path, std::strerror(errno));
            continue;
        }
        const std::set<std::string> before = TrashInfoNames();
        try {
            DeleteFile(path.c_str(), EDeleteMode::MoveToTrash);
        } catch (const CError& error) {
            context.Fail(path, "could not be moved to the Trash: " + ErrorMessage(TranslateErrno(error.code)));
            continue;
        }
        // Where it went: the one new entry of the home Trash (none for a
        // file that went to its own volume's Trash).
        CJsonValue trashedTo = CJsonValue::Null();
        std::vector<std::string> added;
        for (const std::string& name : TrashInfoNames())
            if (before.count(name) == 0) added.push_back(name);
        const std::string suffix = ".trashinfo";
        if (added.size() == 1 && added[0].size() > suffix.size())
            trashedTo = CJsonValue::Utf8(TrashFolder() + "/files/" +
                                         added[0].substr(0, added[0].size() - suffix.size()));
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("path", CJsonValue::Utf8(path));
        item.Set("trashedTo", trashedTo);
    }
    context.Emit(result);
}

}  // namespace

SCommand AddCommand() {
    return {"add", "PATH...", "add MP3 files and folders to a song list and show the songs",
            "Folders are searched for .mp3 files (links are not followed). Shows each song's tag\n"
            "values, length, sample rate and iTunes database ID (-1: not from iTunes).",
            {}, 1, -1, RunAdd};
}

SCommand IdentifyCommand() {
    return {"identify", "PATH...", "identify songs by their sound with the stored account",
            "Adds the paths, then identifies every song with the stored method, cache and\n"
            "account, and saves the preferences (identifications left). Status 0 match chosen,\n"
            "1 no matches, 2 matches not chosen, 3 failed, 4 modified, 5 marked, -1 none.\n"
            "Exit status 1 when a song failed or no identifications are left.",
            {{"save", nullptr, "then save the chosen values of every modified song into its file"}}, 1, -1,
            RunIdentify};
}

SCommand DupesCommand() {
    return {"dupes", "PATH...", "find duplicate songs: same title, same file name or same size",
            "Shows each group of two or more songs, leader first, members in list order.", {}, 1, -1,
            RunDupes};
}

SCommand TrashCommand() {
    return {"trash", "PATH...", "move files to the Trash, as the duplicate finder does",
            "Nothing in the Trash is replaced: a name already there gets a new one.", {}, 1, -1, RunTrash};
}

SCommand ImportCommand() {
    return {"import", "INDEX", "add the songs of an iTunes playlist (INDEX from 0, see 'playlists')",
            "Only tracks whose files exist and that have a length and sample rate are added.",
            {{"library", "FILE", "read this iTunes library file instead of the Music folder's"},
             {"incomplete-only", nullptr, "only songs without title, artist, album or genre"}},
            1, 1, RunImport};
}
