#pragma once
// Runs the built melodex-cli as a child process with a private home, config
// and data folder, and parses its JSON output for the checks.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

struct CCliResult {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

// A parsed JSON value (numbers are integers: the front end writes no others).
class CJson {
public:
    enum class EType { Null, Bool, Number, String, Array, Object };

    // Throws std::runtime_error for text that is not exactly one document.
    static CJson Parse(const std::string& text);

    EType type = EType::Null;
    bool boolean = false;
    int64_t number = 0;
    std::string text;  // UTF-8
    std::vector<CJson> items;
    std::vector<std::pair<std::string, CJson>> members;

    bool IsNull() const { return type == EType::Null; }
    size_t size() const { return type == EType::Object ? members.size() : items.size(); }
    const CJson& operator[](size_t index) const;
    // Throws std::out_of_range for a missing key.
    const CJson& operator[](const std::string& key) const;
    bool Has(const std::string& key) const;
};

// A sandbox for one test: HOME, XDG_CONFIG_HOME and XDG_DATA_HOME in a
// temporary folder, preferences in their own folder.
class CCliSandbox {
public:
    CCliSandbox();

    const CTempDir& Dir() const { return dir_; }
    std::string Home() const { return dir_.File("home"); }
    std::string PrefsDir() const { return dir_.File("prefs"); }
    // A copy of a shared fixture below the sandbox.
    std::string CopyFixture(const std::string& fixture, const std::string& name = "") const;

    // Extra environment entries for the child (e.g. MELODEX_ID_HOST).
    void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }

    // melodex-cli --prefs-dir PrefsDir() ARGS...
    CCliResult Run(const std::vector<std::string>& args) const;
    // The same without --prefs-dir.
    CCliResult RunRaw(const std::vector<std::string>& args) const;
    // melodex-cli --prefs-dir PrefsDir() --json ARGS..., parsed.
    CJson Json(const std::vector<std::string>& args, int expectedStatus = 0) const;

private:
    CTempDir dir_;
    std::map<std::string, std::string> env_;
};
