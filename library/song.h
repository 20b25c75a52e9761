#pragma once
// One MP3 file the user works with: its identity, its own (editable) tag
// values, the values as they stand in the file, the candidate matches from
// identification and the state flags behind the status column.

#include <cstdint>

#include "foundation/growable_array.h"
#include "library/file_ref.h"
#include "library/tag_values.h"

class CIdJob;
class CHttpRequest;

// Status column codes, in the order they are tested.
enum ESongStatus : int32_t {
    eStatusNone = -1,             // nothing to show, or identification under way
    eStatusMatchChosen = 0,
    eStatusNoMatches = 1,
    eStatusMatchesNotChosen = 2,  // matches exist but the own values are shown
    eStatusFailed = 3,
    eStatusModified = 4,
    eStatusMarked = 5,            // the file carries the application's marker
};

struct CSong {
    CFileRef fileRef;
    int32_t iTunesDatabaseId = -1;  // -1: not from iTunes
    CTagValues tags{};              // own values, as read and then edited
    CTagValues savedTags{};         // as they stand in the file
    CGrowableArray<CTagValues> matches;
    int32_t currentMatch = -1;      // -1: the own tags are shown
    int32_t lengthSeconds = 0;
    int32_t sampleRate = 0;
    // Owned by the identification driver, which clears them when it disposes of them.
    CIdJob* idJob = nullptr;
    CHttpRequest* idRequest = nullptr;
    bool identified = false;
    bool modified = false;
    bool markedByApp = false;
    uint8_t idPass = 0;  // 0 the first query, 1 the fingerprint query
    bool idFailed = false;
    int32_t listIndex = -1;
    CSong* groupLeader = nullptr;  // a leader refers to itself
    bool groupExpanded = true;
    int32_t rowId = 0;
    CSong* groupNext = nullptr;    // only meaningful while duplicates are searched

    // The current match, or the own tags when none is chosen. Edits go here.
    CTagValues& DisplayedValues();
    const CTagValues& DisplayedValues() const;

    // modified := the displayed values differ from savedTags; returns it.
    bool RecomputeModified();
    ESongStatus Status() const;

    // Step through -1, 0, ..., n - 1, -1, ...; do nothing without matches.
    // Both mark the song identified and recompute modified.
    void NextMatch();
    void PreviousMatch();

    // savedTags over tags, own values shown; modified is recomputed.
    void RevertEdits();
    // Forgets the identification result (match storage is kept); the own
    // values are shown again and modified is recomputed against them.
    void ClearIdentification();

    // The displayed title, album, artist or genre is empty.
    bool IsIncomplete() const;
    bool NeedsIdentification() const;
    const char* FileName() const { return FileRefName(fileRef); }
};

// Field-by-field equality of the ten values (texts compared exactly).
bool SameTagValues(const CTagValues& a, const CTagValues& b);
