#pragma once
// The persistent settings and their file "Melodex.prefs" in the Preferences
// folder: a scrambled CDataBuffer record of format version 15 (versions 11 to
// 14 are still read). Window state (search menu marks, toolbar, column widths,
// window places) reaches the windows only through the shell port; without
// windows those steps are skipped and the values are just stored and loaded.

#include <cstdint>
#include <string>

class IShell;

// One configurable column of the song list; 16 bytes in the file (three
// int32, the visible byte, 3 bytes of padding).
struct CColumnPrefs {
    int32_t minWidth = 0;
    int32_t maxWidth = 0;
    int32_t width = 0;
    uint8_t visible = 1;
};

// Columns in stored order: FNAM, LENG, FREQ, TITL, ARTI, ALBU, YEAR, GENR, COPY, URLL, COMM.
constexpr int kPrefsColumnCount = 11;
constexpr int kFreqColumn = 2;

struct CWindowFrame {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct CPrefs {
    char userName[128] = {};  // empty: no account
    char password[128] = {};
    int32_t reservedWord = 0;
    uint8_t introAccount = 0;
    int32_t identificationsLeft = -1;  // -1: the last log-in failed
    // [0] all fields, [1] unused, [2] file name, [3] title, [4] artist,
    // [5] album, [6] year, [7] genre, [8] copyright, [9] URL, [10] comment.
    uint8_t searchScope[11] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    uint8_t toolbarVisible = 1;
    char renamePattern[128] = "%artist - %title";
    uint8_t reservedFlag = 1;
    // Method: 0/0 digest only, 1/1 always fingerprint, 1/0 digest then fingerprint.
    uint8_t fingerprintFallback = 1;
    uint8_t fingerprintAlways = 0;
    int32_t requestTimeout = 160;  // seconds, at least 15
    int32_t requestRetries = 3;    // at least 0
    CColumnPrefs columns[kPrefsColumnCount] = {{}, {}, {0, 0, 0, 0}, {}, {}, {}, {}, {}, {}, {}, {}};
    // [0] unused, [1] title, [2] artist, [3] album, [4] year, [5] genre,
    // [6] copyright, [7] URL, [8] comment.
    uint8_t keepOriginal[9] = {0, 0, 0, 0, 0, 0, 0, 1, 1};
    uint8_t saveToCache = 1;
    uint8_t useCache = 1;
    char formFirstName[128] = {};
    char formLastName[128] = {};
    char formMiddleName[64] = {};
    char formAddress[256] = {};
    char formCity[64] = {};
    char formState[64] = {};
    char formZip[16] = {};
    char formCountry[4] = {};
    char formEmail[128] = {};
    uint8_t notifyItunesOnSave = 1;
    uint8_t notifyItunesOnRename = 1;
    uint8_t iTunesScriptMenu = 1;
    int32_t nextVersionCheck = 0;  // seconds of the system clock
    uint8_t autoVersionCheck = 1;
    CWindowFrame mainWindow = {146, 146, 642, 170};  // where the new main window stands
    int32_t playerLeft = 256;
    int32_t playerTop = 256;
    int32_t playerVolume = 64;
};

// The version the writer writes and the newest the reader accepts.
constexpr int32_t kPrefsVersion = 15;

// "<Preferences folder>/Melodex.prefs"; the folder is created when missing.
std::string PrefsPath();

// Restores the defaults of the fields the reset covers (see prefs.cpp); with
// windows, the shell also resets the columns and the main window's place and
// records them in prefs.
void ResetPrefs(CPrefs& prefs, IShell& shell);
// Loads the file (any failure: defaults, nothing shown) and then pushes the
// window state to the shell. Returns whether the file was read. Reinstalling
// the companion script and refreshing the status line are the caller's.
bool LoadPrefs(CPrefs& prefs, IShell& shell);
bool LoadPrefs(CPrefs& prefs, IShell& shell, const char* path);
// Collects the window state from the shell and writes version 15 (mode 0600).
// A failure is shown as an alert; the settings in memory stay as they are.
// Returns whether the file was written.
bool SavePrefs(CPrefs& prefs, IShell& shell);
bool SavePrefs(CPrefs& prefs, IShell& shell, const char* path);

// Helpers for the windows that show these settings.
// Width a column gets on screen: 0 when hidden, else width clamped into [min, max].
int32_t ColumnDisplayWidth(const CColumnPrefs& column);
// Every column visible at half its maximum width (at least its minimum), then FREQ hidden.
void ResetColumnRecords(CColumnPrefs (&columns)[kPrefsColumnCount]);
// The main window's reset place: (48, 64), the main screen less 500 x 128,
// at least the window's minimum size.
CWindowFrame DefaultMainWindowFrame(int32_t screenWidth, int32_t screenHeight, int32_t minWidth,
                                    int32_t minHeight);
// A frame that meets none of the screens is moved to (146, 146), keeping its size.
CWindowFrame PlaceOnSomeScreen(const CWindowFrame& frame, const CWindowFrame* screens, int screenCount);
