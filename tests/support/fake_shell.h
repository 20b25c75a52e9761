#pragma once
// A shell that records what the core showed and answers questions like a
// user would, from a queue of prepared answers.

#include <deque>
#include <string>
#include <vector>

#include "app/control_state.h"
#include "foundation/shell.h"

class CRecordingShell : public IShell {
public:
    bool HasWindows() const override { return hasWindows; }
    void RefreshSongRow(CSong* song) override { refreshed.push_back(song); }
    void UpdateControls() override { ++controlUpdates; }
    void ShowControls(const CControlState& state) override {
        controls = state;
        ++controlsShown;
    }
    void SetStatusText(const std::string& text) override { statusTexts.push_back(text); }
    void ShowProgress(const std::string& title) override {
        progressShown = true;
        progressTitles.push_back(title);
    }
    void SetProgress(const std::string& text, double) override { progressTexts.push_back(text); }
    void HideProgress() override { progressShown = false; }
    int Ask(const std::string& message, const std::string& detail,
            const std::vector<std::string>& buttons, int defaultButton) override {
        questions.push_back(message + "|" + detail);
        askedButtons.push_back(buttons);
        if (answers.empty()) return defaultButton;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Alert(const std::string& message, const std::string& detail) override {
        alerts.push_back(detail.empty() ? message : message + "|" + detail);
    }
    void OpenPreferences() override { ++preferencesOpened; }
    void Beep() override { ++beeps; }

    std::string LastStatus() const { return statusTexts.empty() ? "" : statusTexts.back(); }

    bool hasWindows = false;
    bool progressShown = false;
    int controlUpdates = 0;
    int controlsShown = 0;
    CControlState controls;
    int preferencesOpened = 0;
    int beeps = 0;
    std::vector<CSong*> refreshed;
    std::vector<std::string> statusTexts;
    std::vector<std::string> progressTitles;
    std::vector<std::string> progressTexts;
    std::vector<std::string> questions;
    std::vector<std::vector<std::string>> askedButtons;
    std::vector<std::string> alerts;
    std::deque<int> answers;  // button indexes to answer with, in order
};
