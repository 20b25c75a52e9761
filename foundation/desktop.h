#pragma once
// Desktop services the core asks of the platform: running a script for the
// music player, showing a file in the file manager, starting a program. The
// Linux implementation needs no windows; a front end (or a test) may install
// its own, the way the clock is replaced.

#include <cstdint>
#include <string>
#include <vector>

class IDesktop {
public:
    virtual ~IDesktop() = default;

    // Runs a script for the music player and returns its error code (0 on
    // success); with a result wanted, its result or error text. There is no
    // script runner on Linux: -50 (eParamErr). Any thread.
    virtual int32_t RunScript(const std::string& script, std::string* result);

    // Shows the file selected in the file manager (D-Bus FileManager1
    // ShowItems), else opens its folder. Does not wait; failures are ignored.
    virtual void RevealFile(const std::string& path);

    // Starts a program found on PATH with the arguments, detached (not waited
    // for, never a zombie). False when it could not be started.
    virtual bool Launch(const std::vector<std::string>& argv);

    // Opens a web page in the user's browser (xdg-open). Does not wait.
    virtual bool OpenUrl(const std::string& url);

    // Some interface other than loopback is up with an IPv4 address.
    virtual bool NetworkAvailable();
};

IDesktop& Desktop();
// Installs a replacement (null restores the built-in one). Call it before any
// worker starts.
void SetDesktop(IDesktop* desktop);

// "file://" URI of an absolute path, every byte outside the unreserved set
// and "/" percent-encoded (so it is also safe inside quoted arguments).
std::string FileUri(const std::string& path);
