#pragma once
// The version document: a property list naming the newest published version,
// its release notes, download address, file size and release date.

#include <cstddef>
#include <cstdint>
#include <string>

#include "identify/http_request.h"

// One version check, from its start to the tick that finishes it.
struct CVersionCheck {
    CHttpRequest::Ptr request;
    std::string version;
    std::string releaseNotes;
    std::string downloadUrl;
    std::string releaseDate;  // empty unless the document gave a full date
    int32_t fileSize = 0;     // bytes
};

// The release notes pass through a work area of this size.
constexpr size_t kReleaseNotesArea = 16384;

// Fills the check from the document text. A document that does not parse
// leaves every field empty (it then names no other version).
void ParseVersionDocument(const char* text, size_t length, CVersionCheck& check);

// The long date text of a day ("Friday, December 11, 2026" in the C locale);
// empty when the three numbers name no calendar day.
std::string LongDateText(int32_t day, int32_t month, int32_t year);

// "Version %s of Melodex\nwas released on %s." with a date, else
// "Version %s of Melodex is available!".
std::string NewVersionMessage(const CVersionCheck& check);
