// melodex-cli: command-line front end over the Melodex core.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/command.h"
#include "foundation/detached_thread.h"
#include "foundation/errors.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct SGlobalOption {
    const char* name;
    const char* value;
    const char* help;
};

const SGlobalOption kGlobalOptions[] = {
    {"prefs-dir", "DIR", "folder of the preferences and cache files (default: $XDG_CONFIG_HOME/Melodex)"},
    {"json", nullptr, "write the result as one JSON document on standard output"},
    {"help", nullptr, "describe the commands, or with a command its options"},
    {"version", nullptr, "print the version"},
};

std::string OptionColumn(const char* name, const char* value) {
    std::string text = std::string("--") + name;
    if (value != nullptr) text += std::string(" ") + value;
    return text;
}

void PrintRows(FILE* out, const std::vector<std::pair<std::string, std::string>>& rows) {
    size_t width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    for (const auto& row : rows)
        std::fprintf(out, "  %-*s  %s\n", static_cast<int>(width), row.first.c_str(), row.second.c_str());
}

std::string Synopsis(const SCommand& command) {
    std::string text = command.name;
    for (const SOption& option : command.options) text += " [" + OptionColumn(option.name, option.value) + "]";
    if (command.operands[0] != '\0') text += std::string(" ") + command.operands;
    return text;
}

void PrintMainHelp(FILE* out) {
    std::fprintf(out,
                 "usage: melodex-cli [--prefs-dir DIR] [--json] COMMAND [ARGS]\n"
                 "Melodex %s, MP3 tag manager: command-line front end.\n\n"
                 "Global options:\n",
                 MELODEX_VERSION);
    std::vector<std::pair<std::string, std::string>> rows;
    for (const SGlobalOption& option : kGlobalOptions) rows.emplace_back(OptionColumn(option.name, option.value), option.help);
    PrintRows(out, rows);
    std::fprintf(out, "\nCommands:\n");
    rows.clear();
    for (const SCommand& command : Commands()) {
        std::string column = command.name;
        if (command.operands[0] != '\0') column += std::string(" ") + command.operands;
        rows.emplace_back(column, command.summary);
    }
    PrintRows(out, rows);
    std::fprintf(out,
                 "\nRun 'melodex-cli COMMAND --help' for the options of a command.\n"
                 "Progress and status texts go to standard error. Exit status: 0 success,\n"
                 "1 a file or server failed, 2 usage error.\n");
}

void PrintCommandHelp(FILE* out, const SCommand& command) {
    std::fprintf(out, "usage: melodex-cli [--prefs-dir DIR] [--json] %s\n%s\n", Synopsis(command).c_str(),
                 command.summary);
    if (command.details[0] != '\0') std::fprintf(out, "\n%s\n", command.details);
    if (!command.options.empty()) {
        std::fprintf(out, "\nOptions:\n");
        std::vector<std::pair<std::string, std::string>> rows;
        for (const SOption& option : command.options)
            rows.emplace_back(OptionColumn(option.name, option.value), option.help);
        PrintRows(out, rows);
    }
}

// The commands of a group ("prefs", "cache") when name is one.
std::vector<const SCommand*> GroupMembers(const std::string& name) {
    std::vector<const SCommand*> members;
    for (const SCommand& command : Commands())
        if (std::strncmp(command.name, (name + " ").c_str(), name.size() + 1) == 0) members.push_back(&command);
    return members;
}

[[noreturn]] void Usage(const std::string& message) { throw CUsageError{message}; }

// Where the hint of a usage error points: the command once it is known.
std::string gHelpHint = "melodex-cli --help";

const SGlobalOption* FindGlobal(const std::string& name) {
    for (const SGlobalOption& option : kGlobalOptions)
        if (name == option.name) return &option;
    return nullptr;
}

// Handles a global option at args[i]; false when it is none.
bool TakeGlobal(CCliContext& context, const std::vector<std::string>& args, size_t& i) {
    std::string name = args[i].substr(2);
    std::string value;
    const size_t eq = name.find('=');
    const bool inlineValue = eq != std::string::npos;
    if (inlineValue) {
        value = name.substr(eq + 1);
        name.resize(eq);
    }
    if (name == "json") {
        if (inlineValue) Usage("--json takes no value");
        context.json = true;
        return true;
    }
    if (name == "prefs-dir") {
        if (!inlineValue) {
            if (i + 1 >= args.size()) Usage("--prefs-dir needs a folder");
            value = args[++i];
        }
        if (value.empty()) Usage("--prefs-dir needs a folder");
        context.prefsDir = value;
        return true;
    }
    return false;
}

SArgs ParseCommandArgs(CCliContext& context, const SCommand& command, const std::vector<std::string>& args,
                       size_t start, bool& help) {
    SArgs parsed;
    bool optionsEnd = false;
    for (size_t i = start; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnd || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (arg == "-h" && !optionsEnd) {
                help = true;
                continue;
            }
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
            continue;
        }
        if (arg == "--help") {
            help = true;
            continue;
        }
        if (TakeGlobal(context, args, i)) continue;
        std::string name = arg.substr(2);
        std::string value;
        const size_t eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const SOption* option = nullptr;
        for (const SOption& candidate : command.options)
            if (name == candidate.name) option = &candidate;
        if (option == nullptr) Usage(std::string("unknown option --") + name + " for " + command.name);
        if (option->value == nullptr) {
            if (inlineValue) Usage("--" + name + " takes no value");
            parsed.flags.insert(name);
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) Usage("--" + name + " needs a value (" + option->value + ")");
            value = args[++i];
        }
        if (parsed.values.count(name) != 0) Usage("--" + name + " given twice");
        parsed.values[name] = value;
    }
    if (help) return parsed;
    const int count = static_cast<int>(parsed.operands.size());
    if (count < command.minOperands)
        Usage(std::string(command.name) + " needs " + (command.operands[0] ? command.operands : "more operands"));
    if (command.maxOperands >= 0 && count > command.maxOperands)
        Usage(std::string("too many operands for ") + command.name + ": '" +
              parsed.operands[static_cast<size_t>(command.maxOperands)] + "'");
    return parsed;
}

int Run(CCliContext& context, const std::vector<std::string>& args) {
    size_t i = 0;
    const SCommand* command = nullptr;
    std::string commandName;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            PrintMainHelp(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("melodex-cli %s\n", MELODEX_VERSION);
            return 0;
        }
        if (arg.compare(0, 2, "--") == 0 && arg.size() > 2) {
            if (!TakeGlobal(context, args, i)) {
                const std::string name = arg.substr(2, arg.find('=') - 2);
                if (FindGlobal(name) == nullptr) Usage("unknown option " + arg);
                Usage("--" + name + " takes no value");
            }
            continue;
        }
        commandName = arg;
        break;
    }
    if (commandName.empty()) Usage("no command given");
    ++i;
    const auto group = GroupMembers(commandName);
    if (!group.empty()) {
        const std::string sub = i < args.size() ? args[i] : "";
        if (sub.empty() || sub == "--help" || sub == "-h") {
            if (sub.empty()) Usage(commandName + " needs a subcommand");
            for (const SCommand* member : group) {
                PrintCommandHelp(stdout, *member);
                std::printf("\n");
            }
            return 0;
        }
        commandName += " " + sub;
        ++i;
    }
    for (const SCommand& candidate : Commands())
        if (commandName == candidate.name) command = &candidate;
    if (command == nullptr) Usage("unknown command '" + commandName + "'");
    gHelpHint = std::string("melodex-cli ") + command->name + " --help";

    bool help = false;
    const SArgs parsed = ParseCommandArgs(context, *command, args, i, help);
    if (help) {
        PrintCommandHelp(stdout, *command);
        return 0;
    }
    try {
        command->run(context, parsed);
    } catch (const CCommandAborted&) {
        if (context.json && !context.Emitted()) context.Emit(CJsonValue::Null());
        return kExitFailure;
    } catch (const CUsageError&) {
        throw;
    } catch (const CError& error) {
        context.Fail("", ErrorMessage(error.code));
    }
    if (context.json && !context.Emitted()) context.Emit(CJsonValue::Null());
    return context.Failed() ? kExitFailure : 0;
}

}  // namespace

long long ParseInteger(const std::string& text, long long min, long long max, const std::string& what) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < min || value > max)
        throw CUsageError{what + " must be a whole number from " + std::to_string(min) + " to " +
                          std::to_string(max) + ", not '" + text + "'"};
    return value;
}

int RunMain(const std::vector<std::string>& args) {
    CCliContext context;
    try {
        if (args.empty()) {
            PrintMainHelp(stderr);
            return kExitUsage;
        }
        return Run(context, args);
    } catch (const CUsageError& error) {
        std::fprintf(stderr, "melodex-cli: %s\nTry '%s'.\n", error.message.c_str(), gHelpHint.c_str());
        return kExitUsage;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "melodex-cli: %s\n", error.what());
        return kExitFailure;
    }
}

int main(int argc, char** argv) {
    const int status = RunMain(std::vector<std::string>(argv + 1, argv + argc));
    // Connections and jobs let go by the application end on their own
    // threads; exit handlers must not run under them.
    WaitForDetachedThreads(10000);
    return status;
}
