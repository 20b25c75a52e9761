#include "foundation/desktop.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>

#include "foundation/errors.h"

extern char** environ;

namespace {

std::atomic<IDesktop*> gInstalled{nullptr};

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c == '/';
}

// Runs a shell command line with positional arguments through /bin/sh, which
// puts the real work in the background and returns at once; waiting for that
// short-lived shell leaves no zombie behind.
// A non-empty check runs first, in the foreground; its failure is the result.
bool SpawnBackground(const std::string& commandLine, const std::vector<std::string>& args,
                     const std::string& check = "") {
    std::string line = "( " + commandLine + " ) </dev/null >/dev/null 2>&1 &";
    if (!check.empty()) line = check + " || exit 127; " + line;
    std::vector<std::string> argv = {"sh", "-c", line, "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (std::string& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, raw.data(), environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int32_t IDesktop::RunScript(const std::string& /*script*/, std::string* result) {
    if (result != nullptr) result->clear();
    return eParamErr;
}

void IDesktop::RevealFile(const std::string& path) {
    std::string folder = path;
    const size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    // The URI is percent-encoded, so it cannot close the GVariant string.
    SpawnBackground(
        "gdbus call --session --timeout 5 --dest org.freedesktop.FileManager1"
        " --object-path /org/freedesktop/FileManager1"
        " --method org.freedesktop.FileManager1.ShowItems \"['$1']\" '' || xdg-open \"$2\"",
        {FileUri(path), folder});
}

bool IDesktop::Launch(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    return SpawnBackground("exec \"$@\"", argv, "command -v \"$1\" >/dev/null 2>&1");
}

bool IDesktop::OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    return SpawnBackground("exec xdg-open \"$1\"", {url}, "command -v xdg-open >/dev/null 2>&1");
}

bool IDesktop::NetworkAvailable() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (const ifaddrs* item = list; item != nullptr && !found; item = item->ifa_next) {
        if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) continue;
        if ((item->ifa_flags & IFF_UP) == 0 || (item->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(item->ifa_addr);
        found = address->sin_addr.s_addr != 0;
    }
    freeifaddrs(list);
    return found;
}

IDesktop& Desktop() {
    static IDesktop builtIn;
    IDesktop* installed = gInstalled.load(std::memory_order_acquire);
    return installed != nullptr ? *installed : builtIn;
}

void SetDesktop(IDesktop* desktop) { gInstalled.store(desktop, std::memory_order_release); }

std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (Unreserved(c)) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}
