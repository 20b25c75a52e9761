#include "foundation/prefs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/files.h"
#include "foundation/shell.h"
#include "support/fake_shell.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace {

std::string Be32(int32_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
std::string Str(const char* text) { return std::string(text) + '\0'; }
std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

// The scrambling, written out independently: margin 4, key "<kestrel>".
std::string Scrambled(std::string bytes) {
    const char* key = "<kestrel>";
    for (size_t i = 4; i + 4 < bytes.size(); ++i) {
        uint32_t k = (static_cast<uint32_t>(i * i) + static_cast<uint8_t>(key[i % 9])) % 256;
        bytes[i] = static_cast<char>(static_cast<uint8_t>(bytes[i]) ^ (k == 0 ? 1 : k));
    }
    return bytes;
}

// Every field away from its default.
CPrefs SamplePrefs() {
    CPrefs p;
    std::strcpy(p.userName, "walter");
    std::strcpy(p.password, "s3cret!");
    p.reservedWord = 0x01020304;
    p.introAccount = 1;
    p.identificationsLeft = 42;
    for (int i = 0; i < 11; ++i) p.searchScope[i] = static_cast<uint8_t>(i % 2);
    p.toolbarVisible = 0;
    std::memset(p.renamePattern, 0, sizeof p.renamePattern);
    std::strcpy(p.renamePattern, "%title");
    p.reservedFlag = 0;
    p.fingerprintFallback = 0;
    p.fingerprintAlways = 1;
    p.requestTimeout = 30;
    p.requestRetries = 5;
    for (int i = 0; i < kPrefsColumnCount; ++i) p.columns[i] = {10 + i, 400 + i, 100 + i, static_cast<uint8_t>(i != 4)};
    for (int i = 0; i < 9; ++i) p.keepOriginal[i] = static_cast<uint8_t>(i < 7);
    p.saveToCache = 0;
    p.useCache = 0;
    std::strcpy(p.formFirstName, "Walter");
    std::strcpy(p.formLastName, "Ego");
    std::strcpy(p.formMiddleName, "A.");
    std::strcpy(p.formAddress, "1 Main St");
    std::strcpy(p.formCity, "Springfield");
    std::strcpy(p.formState, "IL");
    std::strcpy(p.formZip, "62701");
    std::strcpy(p.formCountry, "US");
    std::strcpy(p.formEmail, "w@example.com");
    p.notifyItunesOnSave = 0;
    p.notifyItunesOnRename = 0;
    p.iTunesScriptMenu = 0;
    p.nextVersionCheck = 1700000000;
    p.autoVersionCheck = 0;
    p.mainWindow = {-20, 30, 800, 600};
    p.playerLeft = 11;
    p.playerTop = 22;
    p.playerVolume = 200;
    return p;
}

void ExpectSamePrefs(const CPrefs& a, const CPrefs& b) {
    EXPECT_STREQ(a.userName, b.userName);
    EXPECT_STREQ(a.password, b.password);
    EXPECT_EQ(a.reservedWord, b.reservedWord);
    EXPECT_EQ(a.introAccount, b.introAccount);
    EXPECT_EQ(a.identificationsLeft, b.identificationsLeft);
    EXPECT_EQ(0, std::memcmp(a.searchScope, b.searchScope, sizeof a.searchScope));
    EXPECT_EQ(a.toolbarVisible, b.toolbarVisible);
    EXPECT_STREQ(a.renamePattern, b.renamePattern);
    EXPECT_EQ(a.reservedFlag, b.reservedFlag);
    EXPECT_EQ(a.fingerprintFallback, b.fingerprintFallback);
    EXPECT_EQ(a.fingerprintAlways, b.fingerprintAlways);
    EXPECT_EQ(a.requestTimeout, b.requestTimeout);
    EXPECT_EQ(a.requestRetries, b.requestRetries);
    for (int i = 0; i < kPrefsColumnCount; ++i) {
        EXPECT_EQ(a.columns[i].minWidth, b.columns[i].minWidth) << i;
        EXPECT_EQ(a.columns[i].maxWidth, b.columns[i].maxWidth) << i;
        EXPECT_EQ(a.columns[i].width, b.columns[i].width) << i;
        EXPECT_EQ(a.columns[i].visible, b.columns[i].visible) << i;
    }
    EXPECT_EQ(0, std::memcmp(a.keepOriginal, b.keepOriginal, sizeof a.keepOriginal));
    EXPECT_EQ(a.saveToCache, b.saveToCache);
    EXPECT_EQ(a.useCache, b.useCache);
    EXPECT_STREQ(a.formFirstName, b.formFirstName);
    EXPECT_STREQ(a.formLastName, b.formLastName);
    EXPECT_STREQ(a.formMiddleName, b.formMiddleName);
    EXPECT_STREQ(a.formAddress, b.formAddress);
    EXPECT_STREQ(a.formCity, b.formCity);
    EXPECT_STREQ(a.formState, b.formState);
    EXPECT_STREQ(a.formZip, b.formZip);
    EXPECT_STREQ(a.formCountry, b.formCountry);
    EXPECT_STREQ(a.formEmail, b.formEmail);
    EXPECT_EQ(a.notifyItunesOnSave, b.notifyItunesOnSave);
    EXPECT_EQ(a.notifyItunesOnRename, b.notifyItunesOnRename);
    EXPECT_EQ(a.iTunesScriptMenu, b.iTunesScriptMenu);
    EXPECT_EQ(a.nextVersionCheck, b.nextVersionCheck);
    EXPECT_EQ(a.autoVersionCheck, b.autoVersionCheck);
    EXPECT_EQ(a.mainWindow.left, b.mainWindow.left);
    EXPECT_EQ(a.mainWindow.top, b.mainWindow.top);
    EXPECT_EQ(a.mainWindow.width, b.mainWindow.width);
    EXPECT_EQ(a.mainWindow.height, b.mainWindow.height);
    EXPECT_EQ(a.playerLeft, b.playerLeft);
    EXPECT_EQ(a.playerTop, b.playerTop);
    EXPECT_EQ(a.playerVolume, b.playerVolume);
}

// The sample's fields, as the groups between the fillers of version 15.
std::vector<std::string> SampleGroups() {
    std::string columns;
    for (int i = 0; i < kPrefsColumnCount; ++i)
        columns += Be32(10 + i) + Be32(400 + i) + Be32(100 + i) + Bytes({i != 4, 0, 0, 0});
    return {
        Be32(15),
        Str("walter") + Str("s3cret!") + Be32(0x01020304),
        Bytes({1}) + Be32(42),
        Bytes({0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}) + Bytes({0}) + Str("%title") + Bytes({0, 0, 1}) + Be32(30) +
            Be32(5) + columns + Bytes({1, 1, 1, 1, 1, 1, 1, 0, 0}) + Bytes({0, 0}) + Str("Walter") + Str("Ego") +
            Str("A.") + Str("1 Main St"),
        Str("Springfield") + Str("IL") + Str("62701") + Str("US") + Str("w@example.com") + Bytes({0, 0, 0}) +
            Be32(1700000000) + Bytes({0}) + Be32(-20) + Be32(30) + Be32(800) + Be32(600) + Be32(1) + Be32(11) +
            Be32(22) + Be32(200),
        "",
    };
}

// A hand-built file of an older version (no fillers) for the sample.
std::string OldVersionFile(int32_t version) {
    std::string body;
    for (const std::string& group : SampleGroups()) body += group;
    body.replace(0, 4, Be32(version));
    const size_t playerRecord = body.size() - 16;
    const size_t versionCheck = playerRecord - 16 - 5;
    if (version <= 12) body.erase(playerRecord);
    if (version <= 11) body.erase(versionCheck, 5);
    return Scrambled(body);
}

class PrefsTest : public ::testing::Test {
protected:
    CTempDir dir_;
    std::string path_ = dir_.File("Melodex.prefs");
    CRecordingShell shell_;
};

}  // namespace

TEST_F(PrefsTest, RoundTripKeepsEveryFieldInAPrivateFile) {
    CScopedEnv config("XDG_CONFIG_HOME", dir_.File("config").c_str());
    CPrefs saved = SamplePrefs();
    ASSERT_TRUE(SavePrefs(saved, shell_));
    const std::string file = dir_.File("config/Melodex/Melodex.prefs");
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    CPrefs loaded;
    EXPECT_TRUE(LoadPrefs(loaded, shell_));
    ExpectSamePrefs(saved, loaded);
    EXPECT_TRUE(shell_.alerts.empty());
}

TEST_F(PrefsTest, Version15LayoutByteForByte) {
    CPrefs prefs = SamplePrefs();
    ASSERT_TRUE(SavePrefs(prefs, shell_, path_.c_str()));
    const std::string file = ReadFileBytes(path_);
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(file.substr(0, 4), Bytes({0, 0, 0, 15}));
    const std::string plain = Scrambled(file);
    EXPECT_EQ(file.substr(file.size() - 4), plain.substr(plain.size() - 4)) << "the last 4 bytes stay plain";

    // Groups of fields, each followed by a filler: random non-zero bytes and a NUL.
    size_t at = 0;
    for (const std::string& group : SampleGroups()) {
        ASSERT_EQ(plain.substr(at, group.size()), group) << "group at byte " << at;
        at += group.size();
        if (at == plain.size()) break;
        const size_t nul = plain.find('\0', at);
        ASSERT_NE(nul, std::string::npos);
        EXPECT_LT(nul - at, 200u) << "filler at byte " << at;
        at = nul + 1;
    }
    EXPECT_EQ(at, plain.size());
}

TEST_F(PrefsTest, SavesDifferButLoadTheSame) {
    CPrefs prefs = SamplePrefs();
    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(SavePrefs(prefs, shell_, path_.c_str()));
        files.push_back(ReadFileBytes(path_));
        CPrefs loaded;
        ASSERT_TRUE(LoadPrefs(loaded, shell_, path_.c_str()));
        ExpectSamePrefs(prefs, loaded);
    }
    EXPECT_NE(files[0], files[1]);
    EXPECT_NE(files[1], files[2]);
    EXPECT_FALSE(files[0].size() == files[1].size() && files[1].size() == files[2].size());
}

TEST_F(PrefsTest, OlderVersionsLoad) {
    const CPrefs sample = SamplePrefs();
    for (int32_t version : {11, 12, 13, 14}) {
        dir_.Write("Melodex.prefs", OldVersionFile(version));
        CPrefs loaded;
        ASSERT_TRUE(LoadPrefs(loaded, shell_, path_.c_str())) << version;
        CPrefs expected = sample;
        if (version <= 12) {
            expected.playerLeft = 256;
            expected.playerTop = 256;
            expected.playerVolume = 64;
        }
        if (version <= 11) {
            expected.nextVersionCheck = 0;
            expected.autoVersionCheck = 1;
        }
        SCOPED_TRACE(version);
        ExpectSamePrefs(expected, loaded);
    }
}

TEST_F(PrefsTest, ClampsOnLoad) {
    CPrefs prefs = SamplePrefs();
    prefs.requestTimeout = 5;
    prefs.requestRetries = -2;
    SavePrefs(prefs, shell_, path_.c_str());
    CPrefs loaded;
    LoadPrefs(loaded, shell_, path_.c_str());
    EXPECT_EQ(loaded.requestTimeout, 15);
    EXPECT_EQ(loaded.requestRetries, 0);
}

TEST_F(PrefsTest, UnusableFilesGiveDefaults) {
    const std::string valid = OldVersionFile(14);
    const std::string plain = Scrambled(valid);
    // A 128-byte user name leaves no room for its NUL within the limit.
    const std::string overlong = Scrambled(plain.substr(0, 4) + std::string(128, 'x') + plain.substr(4 + 6));
    const struct {
        const char* what;
        std::string bytes;
        bool stays;
    } cases[] = {
        {"version 10", Be32(10) + Scrambled(valid).substr(4), false},
        {"version 1", Be32(1) + valid.substr(4), false},
        {"version 0", Be32(0) + valid.substr(4), true},
        {"version 16", Be32(16) + valid.substr(4), true},
        {"truncated", valid.substr(0, valid.size() - 3), true},
        {"short version word", Bytes({0, 0, 0}), true},
        {"over-long user name", overlong, true},
    };
    for (const auto& c : cases) {
        dir_.Write("Melodex.prefs", c.bytes);
        CPrefs loaded = SamplePrefs();
        EXPECT_FALSE(LoadPrefs(loaded, shell_, path_.c_str())) << c.what;
        EXPECT_STREQ(loaded.userName, "") << c.what;
        EXPECT_STREQ(loaded.renamePattern, "%artist - %title") << c.what;
        EXPECT_EQ(loaded.autoVersionCheck, 1) << c.what;
        EXPECT_EQ(loaded.keepOriginal[7] + loaded.keepOriginal[8] + loaded.keepOriginal[1], 2) << c.what;
        EXPECT_EQ(FileExists(path_.c_str()), c.stays) << c.what;
    }
    std::remove(path_.c_str());
    CPrefs fresh;
    EXPECT_FALSE(LoadPrefs(fresh, shell_, path_.c_str()));
    ExpectSamePrefs(CPrefs{}, fresh);
}

TEST_F(PrefsTest, FailedLoadKeepsWhatTheResetDoesNotCover) {
    // Version 14 cut right behind requestRetries.
    const std::string plain = Scrambled(OldVersionFile(14));
    const size_t cut = 4 + 7 + 8 + 4 + 5 + 12 + 7 + 3 + 8;
    dir_.Write("Melodex.prefs", Scrambled(plain.substr(0, cut) + std::string(4, '\0')));
    CPrefs loaded;
    EXPECT_FALSE(LoadPrefs(loaded, shell_, path_.c_str()));
    const CPrefs sample = SamplePrefs();
    EXPECT_EQ(loaded.requestTimeout, sample.requestTimeout);
    EXPECT_EQ(loaded.requestRetries, sample.requestRetries);
    EXPECT_EQ(loaded.identificationsLeft, sample.identificationsLeft);
    EXPECT_EQ(loaded.toolbarVisible, sample.toolbarVisible);
    EXPECT_EQ(loaded.fingerprintAlways, sample.fingerprintAlways);
    EXPECT_EQ(0, std::memcmp(loaded.searchScope, sample.searchScope, 11));
    // Covered by the reset although they were read.
    EXPECT_STREQ(loaded.userName, "");
    EXPECT_EQ(loaded.reservedWord, 0);
    EXPECT_EQ(loaded.reservedFlag, 1);
    EXPECT_STREQ(loaded.renamePattern, "%artist - %title");
}

namespace {

// Windows that record what the preferences asked of them.
class CWindowShell : public CRecordingShell {
public:
    CWindowShell() { hasWindows = true; }
    void ResetWindowPrefs(CPrefs& prefs) override {
        ++resets;
        prefs.mainWindow = DefaultMainWindowFrame(1440, 900, 535, 170);
    }
    void ApplyWindowPrefs(const CPrefs& prefs) override { applied.push_back(prefs.mainWindow.left); }
    void CollectWindowPrefs(CPrefs& prefs) override { prefs.playerVolume = 99; }
    int resets = 0;
    std::vector<int32_t> applied;
};

}  // namespace

TEST_F(PrefsTest, WindowStateGoesThroughTheShell) {
    CWindowShell windows;
    CPrefs prefs;
    EXPECT_FALSE(LoadPrefs(prefs, windows, path_.c_str()));
    EXPECT_EQ(windows.resets, 2) << "before the load and after its failure";
    EXPECT_EQ(windows.applied, std::vector<int32_t>{48});
    EXPECT_EQ(prefs.mainWindow.width, 940);

    ASSERT_TRUE(SavePrefs(prefs, windows, path_.c_str()));
    CPrefs loaded;
    ASSERT_TRUE(LoadPrefs(loaded, shell_, path_.c_str()));
    EXPECT_EQ(loaded.playerVolume, 99) << "collected from the windows before writing";
    EXPECT_EQ(loaded.mainWindow.height, 772);
}

TEST_F(PrefsTest, SaveFailureIsShownAndChangesNothing) {
    CPrefs prefs = SamplePrefs();
    EXPECT_FALSE(SavePrefs(prefs, shell_, dir_.File("missing/Melodex.prefs").c_str()));
    ASSERT_EQ(shell_.alerts.size(), 1u);
    EXPECT_EQ(shell_.alerts[0], "The preferences could not be saved.|File Not Found (Error# -43)");
    ExpectSamePrefs(SamplePrefs(), prefs);
}

TEST(PrefsWindowHelpers, ColumnsAndPlaces) {
    const struct {
        CColumnPrefs column;
        int32_t shown;
    } widths[] = {
        {{50, 300, 120, 1}, 120}, {{50, 300, 20, 1}, 50}, {{50, 300, 900, 1}, 300}, {{50, 300, 120, 0}, 0},
    };
    for (const auto& w : widths) EXPECT_EQ(ColumnDisplayWidth(w.column), w.shown);

    CColumnPrefs columns[kPrefsColumnCount];
    for (CColumnPrefs& c : columns) c = {40, 301, 7, 0};
    columns[1] = {200, 300, 7, 0};
    ResetColumnRecords(columns);
    EXPECT_EQ(columns[0].width, 150);
    EXPECT_EQ(columns[1].width, 200) << "at least the minimum";
    EXPECT_EQ(columns[0].visible, 1);
    EXPECT_EQ(columns[kFreqColumn].visible, 0);

    const CWindowFrame frame = DefaultMainWindowFrame(800, 250, 535, 170);
    EXPECT_EQ(frame.left, 48);
    EXPECT_EQ(frame.top, 64);
    EXPECT_EQ(frame.width, 535);
    EXPECT_EQ(frame.height, 170);

    const CWindowFrame screens[] = {{0, 0, 1440, 900}, {1440, 0, 1920, 1080}};
    const CWindowFrame gone = PlaceOnSomeScreen({4000, 100, 800, 600}, screens, 2);
    EXPECT_EQ(gone.left, 146);
    EXPECT_EQ(gone.top, 146);
    EXPECT_EQ(gone.width, 800);
    EXPECT_EQ(PlaceOnSomeScreen({3000, 100, 800, 600}, screens, 2).left, 3000);
    EXPECT_EQ(PlaceOnSomeScreen({-700, -500, 800, 600}, screens, 2).left, -700) << "partly visible stays";
}
