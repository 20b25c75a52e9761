#pragma once
// Commands are defined once, as objects: name, operands, help texts and
// options. Option parsing, the usage checks and every help text are
// generated from these objects.

#include <map>
#include <set>
#include <string>
#include <vector>

class CCliContext;

struct SOption {
    const char* name;   // without the leading "--"
    const char* value;  // name of its value in the help; nullptr for a flag
    const char* help;
};

// What the parser found for one command.
struct SArgs {
    std::vector<std::string> operands;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool Has(const std::string& option) const { return flags.count(option) != 0 || values.count(option) != 0; }
    const std::string* Value(const std::string& option) const {
        auto it = values.find(option);
        return it == values.end() ? nullptr : &it->second;
    }
};

struct SCommand {
    const char* name;      // one word, or two for a command group ("prefs show")
    const char* operands;  // synopsis of the operands, e.g. "FILE..."
    const char* summary;   // one line
    const char* details;   // more help; may be empty
    std::vector<SOption> options;
    int minOperands;
    int maxOperands;  // -1: no limit
    void (*run)(CCliContext& context, const SArgs& args);
};

// A usage error: exit status 2 and a hint at the command's help.
struct CUsageError {
    std::string message;
};

// Every command, in the order the help lists them.
const std::vector<SCommand>& Commands();

// Parses an integer operand or option value in [min, max]; throws CUsageError
// naming what with a bad value.
long long ParseInteger(const std::string& text, long long min, long long max, const std::string& what);
