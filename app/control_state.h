#pragma once
// What the main window's controls show, computed by the core from the
// application state (CApp::UpdateControls) and handed to the front end in
// one piece. The front end only displays it.

#include <string>

struct CControlState {
    // IDEN and its mirrors: the IDET help tag, the identify menu item and the
    // list's contextual item (the menu texts cut to 250 bytes).
    std::string idenTitle = "ID Songs";
    std::string idenMenuTitle = "ID Songs";
    bool idenEnabled = false;
    bool idenVisible = true;
    bool idetEnabled = false;
    bool idetVisible = true;
    bool idesEnabled = false;
    bool idesVisible = false;

    // Identification progress: STAT, PROG and CURS.
    bool statVisible = false;
    bool progVisible = false;
    bool cursVisible = false;

    bool drawValue = false;  // the inspector drawer is open
    bool lyriEnabled = false;
    bool playEnabled = false;

    bool itunEnabled = true;
    bool afilEnabled = true;
    bool grouEnabled = false;
    bool ungrEnabled = false;
    bool delbEnabled = false;
    bool renbEnabled = false;
    bool seinEnabled = false;
    bool seunEnabled = false;

    bool savaEnabled = false;
    bool modifiedMark = false;  // the window's unsaved-changes mark

    std::string statusLine;  // SONC, the account and count text

    bool operator==(const CControlState&) const = default;
};
