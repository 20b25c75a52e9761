#pragma once
// The shell port of the command line: progress and status texts go to
// standard error one line each (a text repeated while nothing else was shown
// is printed once), alerts too, and questions are answered from the
// command's options instead of a user.

#include <string>
#include <vector>

#include "foundation/shell.h"

class CCliShell : public IShell {
public:
    void SetStatusText(const std::string& text) override;
    void ShowProgress(const std::string& title) override;
    void SetProgress(const std::string& text, double fraction) override;
    void HideProgress() override;
    int Ask(const std::string& message, const std::string& detail, const std::vector<std::string>& buttons,
            int defaultButton) override;
    void Alert(const std::string& message, const std::string& detail) override;

    // The button chosen for the next questions: by its exact text when the
    // question offers it, else the question's default.
    void AnswerWith(std::string button) { answer_ = std::move(button); }

    // The account status line of the controls is printed when it changes
    // (commands about the account and identification).
    void ShowControls(const CControlState& state) override;
    bool followStatusLine = false;

    // Texts of the alerts shown so far ("message: detail").
    const std::vector<std::string>& Alerts() const { return alerts_; }

    // The last status text the core showed.
    const std::string& LastStatusText() const { return lastStatus_; }

    // Prints one line to standard error unless it repeats the last one.
    void Note(const std::string& text);

private:
    std::string lastLine_;
    std::string lastStatusLine_;
    std::string lastStatus_;
    std::string answer_;
    std::vector<std::string> alerts_;
};
