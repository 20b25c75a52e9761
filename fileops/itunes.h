#pragma once
// Cooperation with the music player and the file manager: the refresh
// script after a file was saved or renamed, the companion script that hands
// selected files over to the application through a request file, and
// revealing a file.
//
// On Linux the companion is a file-manager script, "Sonaria" in
// $XDG_DATA_HOME/nautilus/scripts; the request file is melodex.open in the
// Trash root. Scripts for the player are built as always and handed to the
// desktop's script runner, of which Linux has none (-50, ignored).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "library/file_ref.h"

class IShell;

// The refresh script for one track, formatted into a 1024-byte buffer.
std::string RefreshScript(int32_t databaseId);

// Runs a player script; 0 on success. With result, also its result or error text.
int32_t RunAppleScript(const char* script, size_t length, std::string* result);

// Asks the player to re-read the track; the outcome is ignored. Any thread.
void RefreshItunesTrack(int32_t databaseId);

// Shows the file in the file manager (Desktop().RevealFile).
void RevealInFinder(const CFileRef& ref);

enum class ECompanionOp { Install, Uninstall, Query };

// The companion script: install (quiet: no messages), uninstall, or query
// whether it is installed. Messages go through the shell.
bool CompanionScript(ECompanionOp op, bool quiet, IShell& shell);
// Where it lives, and its content.
std::string CompanionScriptFolder();
std::string CompanionScriptPath();
const std::string& CompanionScriptText();

struct CRequestRecord {
    std::string path;
    int32_t databaseId = 0;
};

// Records of a request file's content: NUL bytes dropped, then path CR ID CR
// for each record; parsing stops at an empty path or a missing CR.
std::vector<CRequestRecord> ParseRequestText(std::string text);

std::string RequestFilePath();

// Reads, applies and deletes the request file: clears identifyAfterAdd; when
// the file is there, hands the records whose files exist to addItems (when
// there are any), deletes the file and sets identifyAfterAdd. A file that
// cannot be read or deleted, or whose songs cannot be added now (addItems
// returns false), is left for the next time and the flag stays clear.
using AddItemsFn = std::function<bool(std::vector<CFileRef>, std::vector<int32_t>)>;
void ProcessRequestFile(const AddItemsFn& addItems, bool& identifyAfterAdd);
