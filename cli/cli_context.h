#pragma once
// What every command works with: the global options, the shell port, the
// application object (made on first use with the preferences folder of the
// options), the result writer and the failure state behind the exit status.

#include <functional>
#include <memory>
#include <string>

#include "app/app.h"
#include "cli/cli_shell.h"
#include "cli/json_value.h"

class CCliContext {
public:
    bool json = false;
    std::string prefsDir;  // empty: the user's Preferences folder

    CCliShell& Shell() { return shell_; }

    // The application object; the preferences folder is made when missing.
    // A folder that cannot be made ends the command (exit status 1).
    CApp& App();

    // Loads the preferences. A file that exists but cannot be read ends the
    // command; a damaged one is reported and the defaults are used, as the
    // application does.
    void LoadSettings();
    // Loads the identification cache.
    void LoadCache();
    // Saves the preferences, as quitting the application does; a failure
    // makes the exit status 1.
    void SaveSettings();

    // Reports a failure of one file or server; the command goes on with its
    // other operands and the exit status becomes 1.
    void Fail(const std::string& subject, const std::string& message);
    // Reports a failure that ends the command.
    [[noreturn]] void Abort(const std::string& subject, const std::string& message);
    bool Failed() const { return failed_; }

    // Runs the application's timer (every 0.1 s) until done() holds.
    void TickUntil(const std::function<bool()>& done);

    // The command's result, written once to standard output.
    void Emit(const CJsonValue& result);
    bool Emitted() const { return emitted_; }

    // Paths of the preferences and cache files for the options.
    std::string PrefsPath();
    std::string CachePath();

private:
    std::string Folder();

    CCliShell shell_;
    std::unique_ptr<CApp> app_;
    std::string folder_;
    bool failed_ = false;
    bool emitted_ = false;
};

// Thrown by Abort: unwinds to main, which writes the result so far.
struct CCommandAborted {};

struct CSong;

// Fills song as adding the file would: its identity and its tag values. A
// file whose identity cannot be read ends the command.
void SongFromFile(CCliContext& context, const std::string& path, CSong& song);

// Checks that path names a regular file that can be read; reports the
// failure and returns false otherwise.
bool CheckReadableFile(CCliContext& context, const std::string& path);
// The same, and the file must hold an MPEG audio frame.
bool CheckMp3File(CCliContext& context, const std::string& path);

// Adds the paths to the application's list with an add run, to its end. A
// missing path or a file that is no MP3 candidate is reported (exit status
// 1); the others are still added.
void AddPathsForCommand(CCliContext& context, const std::vector<std::string>& paths);
