#include "foundation/prefs.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "foundation/data_buffer.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/platform_paths.h"
#include "foundation/shell.h"
#include "foundation/text.h"

namespace {

constexpr uint8_t kScrambleKey[] = {'<', 'k', 'e', 's', 't', 'r', 'e', 'l', '>'};
constexpr int32_t kScrambleMargin = 4;
constexpr int32_t kFillerLimit = 256;
constexpr int32_t kOldestVersion = 11;  // older files are deleted
constexpr int32_t kColumnRecordSize = 16;

// Text fields are reset to all zero bytes, so no old text lingers behind the NUL.
template <size_t N>
void SetText(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    CopyBounded(field, N, text);
}

// Fields are replaced only by a complete read; a failed read leaves them.
template <size_t N>
void ReadText(CDataBuffer& buffer, char (&field)[N]) {
    char text[N] = {};
    buffer.ReadString(text, static_cast<int32_t>(N));
    std::memcpy(field, text, N);
}

template <size_t N>
void ReadFlags(CDataBuffer& buffer, uint8_t (&field)[N]) {
    uint8_t bytes[N];
    buffer.ReadBytes(bytes, static_cast<int32_t>(N));
    std::memcpy(field, bytes, N);
}

void SkipFiller(CDataBuffer& buffer) {
    char filler[kFillerLimit];
    buffer.ReadString(filler, kFillerLimit);
}

// A filler carries nothing: random bytes up to the first 0 among them. The
// generator is seeded anew for every save.
void AppendFiller(CDataBuffer& buffer, std::mt19937& random) {
    char filler[200];
    const uint32_t length = 100 + random() % 100;
    for (uint32_t i = 0; i < length; ++i) filler[i] = static_cast<char>(random() & 0xFF);
    filler[length] = '\0';
    buffer.AppendString(filler);
}

void ReadColumns(CDataBuffer& buffer, CPrefs& prefs) {
    uint8_t bytes[kPrefsColumnCount * kColumnRecordSize];
    buffer.ReadBytes(bytes, sizeof bytes);
    CColumnPrefs columns[kPrefsColumnCount];
    const uint8_t* record = bytes;
    for (CColumnPrefs& column : columns) {
        auto int32At = [&](int offset) {
            return static_cast<int32_t>((static_cast<uint32_t>(record[offset]) << 24) |
                                        (static_cast<uint32_t>(record[offset + 1]) << 16) |
                                        (static_cast<uint32_t>(record[offset + 2]) << 8) | record[offset + 3]);
        };
        column.minWidth = int32At(0);
        column.maxWidth = int32At(4);
        column.width = int32At(8);
        column.visible = record[12];
        record += kColumnRecordSize;
    }
    std::copy(std::begin(columns), std::end(columns), std::begin(prefs.columns));
}

void AppendColumns(CDataBuffer& buffer, const CPrefs& prefs) {
    for (const CColumnPrefs& column : prefs.columns) {
        buffer.AppendInt32(column.minWidth);
        buffer.AppendInt32(column.maxWidth);
        buffer.AppendInt32(column.width);
        const uint8_t tail[4] = {column.visible, 0, 0, 0};
        buffer.AppendBytes(tail, 4);
    }
}

// Fields in stored order; version 15 has fillers, 11 to 14 do not, 11 lacks
// the version-check fields and the player record, 12 the player record.
void ReadFields(CDataBuffer& buffer, int32_t version, CPrefs& prefs) {
    const bool fillers = version >= 15;
    if (fillers) SkipFiller(buffer);
    ReadText(buffer, prefs.userName);
    ReadText(buffer, prefs.password);
    prefs.reservedWord = buffer.ReadInt32();
    if (fillers) SkipFiller(buffer);
    prefs.introAccount = buffer.ReadByte();
    prefs.identificationsLeft = buffer.ReadInt32();
    if (fillers) SkipFiller(buffer);
    ReadFlags(buffer, prefs.searchScope);
    prefs.toolbarVisible = buffer.ReadByte();
    ReadText(buffer, prefs.renamePattern);
    prefs.reservedFlag = buffer.ReadByte();
    prefs.fingerprintFallback = buffer.ReadByte();
    prefs.fingerprintAlways = buffer.ReadByte();
    prefs.requestTimeout = std::max(buffer.ReadInt32(), 15);
    prefs.requestRetries = std::max(buffer.ReadInt32(), 0);
    ReadColumns(buffer, prefs);
    ReadFlags(buffer, prefs.keepOriginal);
    prefs.saveToCache = buffer.ReadByte();
    prefs.useCache = buffer.ReadByte();
    ReadText(buffer, prefs.formFirstName);
    ReadText(buffer, prefs.formLastName);
    ReadText(buffer, prefs.formMiddleName);
    ReadText(buffer, prefs.formAddress);
    if (fillers) SkipFiller(buffer);
    ReadText(buffer, prefs.formCity);
    ReadText(buffer, prefs.formState);
    ReadText(buffer, prefs.formZip);
    ReadText(buffer, prefs.formCountry);
    ReadText(buffer, prefs.formEmail);
    prefs.notifyItunesOnSave = buffer.ReadByte();
    prefs.notifyItunesOnRename = buffer.ReadByte();
    prefs.iTunesScriptMenu = buffer.ReadByte();
    if (version >= 12) {
        prefs.nextVersionCheck = buffer.ReadInt32();
        prefs.autoVersionCheck = buffer.ReadByte();
    }
    CWindowFrame frame;
    frame.left = buffer.ReadInt32();
    frame.top = buffer.ReadInt32();
    frame.width = buffer.ReadInt32();
    frame.height = buffer.ReadInt32();
    prefs.mainWindow = frame;
    if (version >= 13) {
        buffer.ReadCount(1);
        prefs.playerLeft = buffer.ReadInt32();
        prefs.playerTop = buffer.ReadInt32();
        prefs.playerVolume = buffer.ReadInt32();
    }
    if (fillers) SkipFiller(buffer);
}

void AppendFields(CDataBuffer& buffer, const CPrefs& prefs, std::mt19937& random) {
    buffer.AppendInt32(kPrefsVersion);
    AppendFiller(buffer, random);
    buffer.AppendString(prefs.userName);
    buffer.AppendString(prefs.password);
    buffer.AppendInt32(prefs.reservedWord);
    AppendFiller(buffer, random);
    buffer.AppendByte(prefs.introAccount);
    buffer.AppendInt32(prefs.identificationsLeft);
    AppendFiller(buffer, random);
    buffer.AppendBytes(prefs.searchScope, sizeof prefs.searchScope);
    buffer.AppendByte(prefs.toolbarVisible);
    buffer.AppendString(prefs.renamePattern);
    buffer.AppendByte(prefs.reservedFlag);
    buffer.AppendByte(prefs.fingerprintFallback);
    buffer.AppendByte(prefs.fingerprintAlways);
    buffer.AppendInt32(prefs.requestTimeout);
    buffer.AppendInt32(prefs.requestRetries);
    AppendColumns(buffer, prefs);
    buffer.AppendBytes(prefs.keepOriginal, sizeof prefs.keepOriginal);
    buffer.AppendByte(prefs.saveToCache);
    buffer.AppendByte(prefs.useCache);
    buffer.AppendString(prefs.formFirstName);
    buffer.AppendString(prefs.formLastName);
    buffer.AppendString(prefs.formMiddleName);
    buffer.AppendString(prefs.formAddress);
    AppendFiller(buffer, random);
    buffer.AppendString(prefs.formCity);
    buffer.AppendString(prefs.formState);
    buffer.AppendString(prefs.formZip);
    buffer.AppendString(prefs.formCountry);
    buffer.AppendString(prefs.formEmail);
    buffer.AppendByte(prefs.notifyItunesOnSave);
    buffer.AppendByte(prefs.notifyItunesOnRename);
    buffer.AppendByte(prefs.iTunesScriptMenu);
    buffer.AppendInt32(prefs.nextVersionCheck);
    buffer.AppendByte(prefs.autoVersionCheck);
    buffer.AppendInt32(prefs.mainWindow.left);
    buffer.AppendInt32(prefs.mainWindow.top);
    buffer.AppendInt32(prefs.mainWindow.width);
    buffer.AppendInt32(prefs.mainWindow.height);
    buffer.AppendInt32(1);  // the player record's own version
    buffer.AppendInt32(prefs.playerLeft);
    buffer.AppendInt32(prefs.playerTop);
    buffer.AppendInt32(prefs.playerVolume);
    AppendFiller(buffer, random);
}

void ReadPrefsFile(CPrefs& prefs, const char* path) {
    CDataBuffer buffer;
    buffer.LoadFromFile(path);
    const int32_t version = buffer.ReadCount(kPrefsVersion);
    if (version < kOldestVersion) {
        unlink(path);
        throw CError{eInvalidData};
    }
    buffer.Scramble(kScrambleMargin, kScrambleKey, sizeof kScrambleKey);
    ReadFields(buffer, version, prefs);
}

}  // namespace

std::string PrefsPath() { return PreferencesFolder() + "/Melodex.prefs"; }

void ResetPrefs(CPrefs& prefs, IShell& shell) {
    SetText(prefs.renamePattern, "%artist - %title");
    prefs.reservedWord = 0;
    prefs.reservedFlag = 1;
    prefs.nextVersionCheck = 0;
    prefs.autoVersionCheck = 1;
    SetText(prefs.userName, "");
    SetText(prefs.password, "");
    std::fill(std::begin(prefs.keepOriginal), std::end(prefs.keepOriginal), 0);
    prefs.keepOriginal[7] = 1;
    prefs.keepOriginal[8] = 1;
    SetText(prefs.formFirstName, "");
    SetText(prefs.formLastName, "");
    SetText(prefs.formMiddleName, "");
    SetText(prefs.formAddress, "");
    SetText(prefs.formCity, "");
    SetText(prefs.formState, "");
    SetText(prefs.formZip, "");
    SetText(prefs.formCountry, "");
    SetText(prefs.formEmail, "");
    prefs.notifyItunesOnSave = 1;
    prefs.notifyItunesOnRename = 1;
    prefs.iTunesScriptMenu = 1;
    if (shell.HasWindows()) shell.ResetWindowPrefs(prefs);
}

bool LoadPrefs(CPrefs& prefs, IShell& shell) {
    std::string path;
    try {
        path = PrefsPath();
    } catch (...) {
        // No Preferences folder: nothing to read, the defaults stand.
    }
    return LoadPrefs(prefs, shell, path.c_str());
}

bool LoadPrefs(CPrefs& prefs, IShell& shell, const char* path) {
    ResetPrefs(prefs, shell);
    bool loaded = false;
    try {
        ReadPrefsFile(prefs, path);
        loaded = true;
    } catch (...) {
        // Missing, short or malformed: defaults for what the reset covers,
        // the values read so far for the rest.
        ResetPrefs(prefs, shell);
    }
    if (shell.HasWindows()) shell.ApplyWindowPrefs(prefs);
    return loaded;
}

bool SavePrefs(CPrefs& prefs, IShell& shell) {
    try {
        const std::string path = PrefsPath();
        return SavePrefs(prefs, shell, path.c_str());
    } catch (const CError& error) {
        shell.Alert("The preferences could not be saved.", ErrorMessage(error.code));
        return false;
    }
}

bool SavePrefs(CPrefs& prefs, IShell& shell, const char* path) {
    if (shell.HasWindows()) shell.CollectWindowPrefs(prefs);
    try {
        std::mt19937 random(std::random_device{}());
        CDataBuffer buffer;
        buffer.InitWritable(1024, path);
        AppendFields(buffer, prefs, random);
        buffer.Scramble(kScrambleMargin, kScrambleKey, sizeof kScrambleKey);
        // The file holds the account password.
        buffer.SaveToFile(nullptr, EFileMode::Private);
        return true;
    } catch (const CError& error) {
        shell.Alert("The preferences could not be saved.", ErrorMessage(error.code));
        return false;
    }
}

int32_t ColumnDisplayWidth(const CColumnPrefs& column) {
    if (!column.visible) return 0;
    return std::max(column.minWidth, std::min(column.width, column.maxWidth));
}

void ResetColumnRecords(CColumnPrefs (&columns)[kPrefsColumnCount]) {
    for (CColumnPrefs& column : columns) {
        column.visible = 1;
        column.width = std::max(column.maxWidth / 2, column.minWidth);
    }
    columns[kFreqColumn].visible = 0;
}

CWindowFrame DefaultMainWindowFrame(int32_t screenWidth, int32_t screenHeight, int32_t minWidth,
                                    int32_t minHeight) {
    return {48, 64, std::max(screenWidth - 500, minWidth), std::max(screenHeight - 128, minHeight)};
}

CWindowFrame PlaceOnSomeScreen(const CWindowFrame& frame, const CWindowFrame* screens, int screenCount) {
    auto meets = [&](const CWindowFrame& screen) {
        const int64_t right = int64_t{frame.left} + frame.width;
        const int64_t bottom = int64_t{frame.top} + frame.height;
        return frame.left < int64_t{screen.left} + screen.width && right > screen.left &&
               frame.top < int64_t{screen.top} + screen.height && bottom > screen.top;
    };
    for (int i = 0; i < screenCount; ++i) {
        if (meets(screens[i])) return frame;
    }
    return {146, 146, frame.width, frame.height};
}
