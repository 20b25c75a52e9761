#include "cli/cli_shell.h"

#include <cstdio>

#include "app/control_state.h"
#include "cli/json_value.h"

void CCliShell::Note(const std::string& text) {
    if (text.empty() || text == lastLine_) return;
    lastLine_ = text;
    // Texts of the core are ISO-8859-1 (they may carry tag values); a
    // two-line sheet text becomes one line.
    std::string shown = Latin1ToUtf8(text);
    for (char& c : shown)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "%s\n", shown.c_str());
    std::fflush(stderr);
}

void CCliShell::SetStatusText(const std::string& text) {
    lastStatus_ = text;
    Note(text);
}

void CCliShell::ShowProgress(const std::string& title) { Note(title); }

void CCliShell::SetProgress(const std::string& text, double /*fraction*/) { Note(text); }

void CCliShell::HideProgress() {}

int CCliShell::Ask(const std::string& message, const std::string& detail, const std::vector<std::string>& buttons,
                   int defaultButton) {
    int chosen = defaultButton;
    for (size_t i = 0; i < buttons.size(); ++i)
        if (!answer_.empty() && buttons[i] == answer_) chosen = static_cast<int>(i);
    std::string line = message;
    if (!detail.empty()) line += " " + detail;
    if (chosen >= 0 && static_cast<size_t>(chosen) < buttons.size()) line += " [" + buttons[chosen] + "]";
    lastLine_.clear();
    Note(line);
    return chosen;
}

void CCliShell::Alert(const std::string& message, const std::string& detail) {
    const std::string line = detail.empty() ? message : message + ": " + detail;
    alerts_.push_back(line);
    lastLine_.clear();
    Note(line);
}

void CCliShell::ShowControls(const CControlState& state) {
    if (!followStatusLine || state.statusLine == lastStatusLine_) return;
    lastStatusLine_ = state.statusLine;
    Note(state.statusLine);
}
