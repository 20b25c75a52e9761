#include "fileops/itunes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "foundation/desktop.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"
#include "foundation/shell.h"
#include "foundation/text.h"

namespace {

constexpr char kScriptName[] = "Sonaria";
constexpr char kRequestName[] = "melodex.open";

// The companion: takes the selected files (arguments, else the file
// manager's selection variable), writes one record per file with -1 as the
// ID, replaces the request file in one step, and starts the application.
constexpr char kCompanionScript[] = R"SCRIPT(#!/bin/sh
# Sends the selected MP3 files to Melodex for identification.
data="${XDG_DATA_HOME:-$HOME/.local/share}"
[ "${data#/}" != "$data" ] || data="$HOME/.local/share"
trash="$data/Trash"
mkdir -p "$trash" || exit 1
if [ $# -eq 0 ] && [ -n "$NAUTILUS_SCRIPT_SELECTED_FILE_PATHS" ]; then
    old_ifs=$IFS
    IFS='
'
    set -f
    set -- $NAUTILUS_SCRIPT_SELECTED_FILE_PATHS
    set +f
    IFS=$old_ifs
fi
cr=$(printf '\r')
tmp="$trash/.melodex.open.$$"
: > "$tmp" || exit 1
for f in "$@"; do
    case "$f" in /*) ;; *) f="$PWD/$f" ;; esac
    case "$f" in *"$cr"*) continue ;; esac
    printf '%s\r-1\r' "$f" >> "$tmp"
done
mv -f "$tmp" "$trash/melodex.open" || { rm -f "$tmp"; exit 1; }
nohup melodex >/dev/null 2>&1 &
exit 0
)SCRIPT";

}  // namespace

std::string RefreshScript(int32_t databaseId) {
    char script[1024];
    FormatBounded(script, sizeof script,
                  "tell application \"iTunes\"\nrefresh (first file track of library playlist 1 "
                  "whose database ID is %d)\nend tell\n",
                  static_cast<int>(databaseId));
    return script;
}

int32_t RunAppleScript(const char* script, size_t length, std::string* result) {
    return Desktop().RunScript(std::string(script, length), result);
}

void RefreshItunesTrack(int32_t databaseId) {
    const std::string script = RefreshScript(databaseId);
    (void)RunAppleScript(script.data(), script.size(), nullptr);
}

void RevealInFinder(const CFileRef& ref) {
    if (ref.IsSet()) Desktop().RevealFile(ref.path);
}

std::string CompanionScriptFolder() { return LibraryFolder() + "/nautilus/scripts"; }

std::string CompanionScriptPath() { return CompanionScriptFolder() + "/" + kScriptName; }

const std::string& CompanionScriptText() {
    static const std::string text = kCompanionScript;
    return text;
}

bool CompanionScript(ECompanionOp op, bool quiet, IShell& shell) {
    // The file manager reads scripts from the user's data folder only, so
    // there is no system-wide place to look at first.
    shell.SetBusyCursor(true);
    int32_t code = 0;
    bool result = false;
    const std::string folder = CompanionScriptFolder();
    const std::string path = CompanionScriptPath();
    if (op == ECompanionOp::Query) {
        // Asking needs no folders to be made.
        result = access(path.c_str(), F_OK) == 0;
    } else if (!MakeDirectories(folder.c_str())) {
        code = TranslateErrno(errno != 0 ? errno : -1);
    } else {
        switch (op) {
            case ECompanionOp::Query:
                break;
            case ECompanionOp::Uninstall:
                try {
                    DeleteFile(path.c_str(), EDeleteMode::Remove);
                    result = true;
                } catch (const CError& error) {
                    code = TranslateErrno(error.code);
                }
                break;
            case ECompanionOp::Install:
                try {
                    const std::string& text = CompanionScriptText();
                    WriteWholeFile(path.c_str(), text.data(), text.size());
                    if (chmod(path.c_str(), 0755) != 0) ThrowErrno(0);
                    result = true;
                } catch (const CError& error) {
                    code = error.code;
                }
                break;
        }
    }
    shell.SetBusyCursor(false);

    if (op == ECompanionOp::Query) return result;
    if (result && !quiet) {
        if (op == ECompanionOp::Install)
            shell.Ask("\"Sonaria\" script was successfully installed into the iTunes.",
                      "To identify selected songs within iTunes:\nChoose \"Sonaria\" from the Scripts menu.",
                      {"OK"}, 0);
        else
            shell.Ask("\"Sonaria\" script was successfully uninstalled from iTunes.", "", {"OK"}, 0);
    }
    if (!result && op == ECompanionOp::Install && !quiet && code != eFileNotFound)
        shell.Ask("Could not install \"Sonaria\" script in \"Scripts\" folder.", folder, {"Oops"}, 0);
    return result;
}

std::vector<CRequestRecord> ParseRequestText(std::string text) {
    std::erase(text, '\0');
    std::vector<CRequestRecord> records;
    size_t at = 0;
    while (true) {
        const size_t pathEnd = text.find('\r', at);
        if (pathEnd == std::string::npos || pathEnd == at) break;
        const size_t idEnd = text.find('\r', pathEnd + 1);
        if (idEnd == std::string::npos) break;
        CRequestRecord record;
        record.path = text.substr(at, pathEnd - at);
        const std::string id = text.substr(pathEnd + 1, idEnd - pathEnd - 1);
        record.databaseId = static_cast<int32_t>(std::strtol(id.c_str(), nullptr, 10));
        records.push_back(std::move(record));
        at = idEnd + 1;
    }
    return records;
}

std::string RequestFilePath() { return TrashFolder() + "/" + kRequestName; }

void ProcessRequestFile(const AddItemsFn& addItems, bool& identifyAfterAdd) {
    identifyAfterAdd = false;
    const std::string path = RequestFilePath();
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    std::string text;
    if (info.st_size > 0) {
        try {
            CFileBlock block = ReadWholeFile(path.c_str());
            text.assign(block.data.get(), block.length);
        } catch (const CError&) {
            return;
        }
    }

    std::vector<CFileRef> refs;
    std::vector<int32_t> ids;
    for (const CRequestRecord& record : ParseRequestText(std::move(text))) {
        try {
            refs.push_back(MakeFileRef(record.path.c_str()));
            ids.push_back(record.databaseId);
        } catch (const CError&) {
            // A record whose file does not exist is dropped.
        }
    }
    if (!refs.empty() && !addItems(std::move(refs), std::move(ids))) return;

    // A request that cannot be deleted would be handed over again at every
    // activation; without the flag it at least starts no identification.
    try {
        DeleteFile(path.c_str(), EDeleteMode::Remove);
    } catch (const CError&) {
        return;
    }
    identifyAfterAdd = true;
}
