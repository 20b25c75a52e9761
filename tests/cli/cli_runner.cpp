#include "cli/cli_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace {

// A run that has not ended by then counts as hung.
constexpr int kTimeoutSeconds = 120;

class CParser {
public:
    explicit CParser(const std::string& text) : s_(text) {}

    CJson Document() {
        CJson value = Value();
        Blanks();
        if (i_ != s_.size()) Error("text after the document");
        return value;
    }

private:
    [[noreturn]] void Error(const char* what) const {
        throw std::runtime_error(std::string("JSON: ") + what + " at offset " + std::to_string(i_));
    }
    void Blanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t')) ++i_;
    }
    bool Take(const char* word) {
        const size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) return false;
        i_ += n;
        return true;
    }
    static void Utf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::string String() {
        if (s_[i_] != '"') Error("expected a string");
        ++i_;
        std::string out;
        while (true) {
            if (i_ >= s_.size()) Error("unterminated string");
            const char c = s_[i_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Error("raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) Error("unterminated escape");
            const char e = s_[i_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (i_ + 4 > s_.size()) Error("short \\u escape");
                    Utf8(out, static_cast<uint32_t>(std::stoul(s_.substr(i_, 4), nullptr, 16)));
                    i_ += 4;
                    break;
                }
                default: Error("unknown escape");
            }
        }
    }
    CJson Value() {
        Blanks();
        if (i_ >= s_.size()) Error("missing value");
        CJson v;
        const char c = s_[i_];
        if (Take("null")) return v;
        if (Take("true") || Take("false")) {
            v.type = CJson::EType::Bool;
            v.boolean = s_[i_ - 1] == 'e' && s_[i_ - 2] == 'u';
            return v;
        }
        if (c == '"') {
            v.type = CJson::EType::String;
            v.text = String();
            return v;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            size_t used = 0;
            v.type = CJson::EType::Number;
            v.number = std::stoll(s_.substr(i_), &used);
            i_ += used;
            return v;
        }
        if (c == '[' || c == '{') {
            const bool object = c == '{';
            v.type = object ? CJson::EType::Object : CJson::EType::Array;
            ++i_;
            Blanks();
            if (i_ < s_.size() && s_[i_] == (object ? '}' : ']')) {
                ++i_;
                return v;
            }
            while (true) {
                Blanks();
                if (object) {
                    std::string key = String();
                    Blanks();
                    if (i_ >= s_.size() || s_[i_++] != ':') Error("expected ':'");
                    v.members.emplace_back(std::move(key), Value());
                } else {
                    v.items.push_back(Value());
                }
                Blanks();
                if (i_ >= s_.size()) Error("unterminated container");
                const char next = s_[i_++];
                if (next == (object ? '}' : ']')) return v;
                if (next != ',') Error("expected ','");
            }
        }
        Error("unexpected character");
    }

    const std::string& s_;
    size_t i_ = 0;
};

}  // namespace

CJson CJson::Parse(const std::string& text) { return CParser(text).Document(); }

const CJson& CJson::operator[](size_t index) const {
    if (type != EType::Array || index >= items.size()) throw std::out_of_range("JSON index " + std::to_string(index));
    return items[index];
}

const CJson& CJson::operator[](const std::string& key) const {
    for (const auto& [name, value] : members)
        if (name == key) return value;
    throw std::out_of_range("JSON key " + key);
}

bool CJson::Has(const std::string& key) const {
    for (const auto& member : members)
        if (member.first == key) return true;
    return false;
}

CCliSandbox::CCliSandbox() {
    for (const char* sub : {"home", "home/.config", "home/.local", "home/.local/share", "home/Music", "prefs"})
        ::mkdir(dir_.File(sub).c_str(), 0700);
    env_["HOME"] = Home();
    env_["XDG_CONFIG_HOME"] = Home() + "/.config";
    env_["XDG_DATA_HOME"] = Home() + "/.local/share";
}

std::string CCliSandbox::CopyFixture(const std::string& fixture, const std::string& name) const {
    return dir_.Copy(FixtureFile(fixture), name);
}

CCliResult CCliSandbox::Run(const std::vector<std::string>& args) const {
    std::vector<std::string> full = {"--prefs-dir", PrefsDir()};
    full.insert(full.end(), args.begin(), args.end());
    return RunRaw(full);
}

CCliResult CCliSandbox::RunRaw(const std::vector<std::string>& args) const {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (env_.count(name) != 0 || name.rfind("XDG_", 0) == 0 || name.rfind("MELODEX_", 0) == 0) continue;
        envStrings.push_back(entry);
    }
    for (const auto& [name, value] : env_) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings = {MELODEX_CLI_PATH};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    CCliResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    bool killed = false;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (poll(fds, 2, 500) < 0) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

CJson CCliSandbox::Json(const std::vector<std::string>& args, int expectedStatus) const {
    std::vector<std::string> full = {"--json"};
    full.insert(full.end(), args.begin(), args.end());
    const CCliResult result = Run(full);
    EXPECT_EQ(result.status, expectedStatus) << "stderr: " << result.err;
    try {
        return CJson::Parse(result.out);
    } catch (const std::exception& error) {
        ADD_FAILURE() << error.what() << "\nstdout: " << result.out << "\nstderr: " << result.err;
        return CJson();
    }
}
