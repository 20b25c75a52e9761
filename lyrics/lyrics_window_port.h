#pragma once
// What the lyrics finder needs from its window ("LyricsFinder", minimum size
// 370 x 200, maximum 2,048 x 2,048). Controls are named by their four-character
// IDs: LYRI (lyrics text), FIND, FPRO (searching text), WHEE (progress
// wheel), FRES (result text), MATC (title of the result shown), PREV, NEXT,
// SAVE. The Qt window implements it; tests fake it. Main thread only.

#include <string>

struct CSong;

class ILyricsWindow {
public:
    virtual ~ILyricsWindow() = default;

    virtual void SetVisible(const std::string& control, bool visible) = 0;
    virtual void SetEnabled(const std::string& control, bool enabled) = 0;
    virtual void SetText(const std::string& control, const std::string& text) = 0;
    virtual std::string Text(const std::string& control) const = 0;
    virtual void Focus(const std::string& control) = 0;

    // Loads the window on first use, starts its 0.1-second timer (which calls
    // CLyricsFinder::TimerStep), shows it and runs it modally. A front end
    // that cannot block returns at once.
    virtual void Show() = 0;
    // Stops the timer, ends the modal loop and hides the window.
    virtual void Hide() = 0;
    // The inspector shows the song again (its lyrics button may change).
    virtual void RefreshInspector(CSong* song) = 0;
    // An alert on the window.
    virtual void Alert(const std::string& message, const std::string& detail) = 0;
};
