#include "foundation/platform_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "foundation/errors.h"
#include "foundation/files.h"

namespace {

// Relative values of the XDG variables are invalid and ignored.
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return {};
    return value;
}

// One value of user-dirs.dirs: "$HOME/Music" or "/absolute/path", with
// backslash escapes. Empty when the line is not of that form.
std::string ParseUserDirValue(const std::string& raw, const std::string& home) {
    size_t open = raw.find('"');
    if (open == std::string::npos) return {};
    std::string value;
    size_t i = open + 1;
    for (; i < raw.size() && raw[i] != '"'; ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
        value += raw[i];
    }
    if (i >= raw.size()) return {};
    if (value.rfind("$HOME", 0) == 0) {
        value = home + value.substr(5);
    }
    if (value.empty() || value[0] != '/') return {};
    while (value.size() > 1 && value.back() == '/') value.pop_back();
    return value;
}

}  // namespace

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/";
}

std::string ConfigHome() {
    std::string value = AbsoluteEnv("XDG_CONFIG_HOME");
    return value.empty() ? HomeFolder() + "/.config" : value;
}

std::string LibraryFolder() {
    std::string value = AbsoluteEnv("XDG_DATA_HOME");
    return value.empty() ? HomeFolder() + "/.local/share" : value;
}

std::string PreferencesFolder() {
    std::string folder = ConfigHome() + "/Melodex";
    CheckPathLength(folder.c_str());
    if (!MakeDirectories(folder.c_str(), 0700)) ThrowErrno(0);
    return folder;
}

std::string MusicFolder() {
    const std::string home = HomeFolder();
    std::ifstream dirs(ConfigHome() + "/user-dirs.dirs");
    std::string line;
    std::string music;
    while (std::getline(dirs, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        if (line.compare(start, 14, "XDG_MUSIC_DIR=") != 0) continue;
        music = ParseUserDirValue(line.substr(start + 14), home);  // the last line wins, as in a shell
    }
    // "$HOME/" alone means the folder is disabled.
    if (music.empty() || music == home) return home + "/Music";
    return music;
}

std::string TrashFolder() { return LibraryFolder() + "/Trash"; }
