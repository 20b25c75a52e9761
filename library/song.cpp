#include "library/song.h"

#include <cstring>

namespace {

template <size_t N>
bool SameText(const char (&a)[N], const char (&b)[N]) {
    return std::strncmp(a, b, N) == 0;
}

bool ValidMatch(const CSong& song) {
    return song.currentMatch >= 0 && song.currentMatch < song.matches.Count();
}

}  // namespace

bool SameTagValues(const CTagValues& a, const CTagValues& b) {
    return SameText(a.title, b.title) && SameText(a.artist, b.artist) &&
           SameText(a.album, b.album) && SameText(a.genre, b.genre) &&
           SameText(a.comment, b.comment) && SameText(a.year, b.year) &&
           SameText(a.copyright, b.copyright) && SameText(a.url, b.url) &&
           a.track == b.track && a.disc == b.disc;
}

CTagValues& CSong::DisplayedValues() { return ValidMatch(*this) ? matches[currentMatch] : tags; }

const CTagValues& CSong::DisplayedValues() const {
    return ValidMatch(*this) ? matches[currentMatch] : tags;
}

bool CSong::RecomputeModified() {
    modified = !SameTagValues(DisplayedValues(), savedTags);
    return modified;
}

ESongStatus CSong::Status() const {
    if (idJob != nullptr || idRequest != nullptr) return eStatusNone;
    if (identified) {
        if (matches.Empty()) return eStatusNoMatches;
        if (currentMatch != -1) return eStatusMatchChosen;
        return markedByApp ? eStatusMarked : eStatusMatchesNotChosen;
    }
    if (modified) return eStatusModified;
    if (idFailed) return eStatusFailed;
    if (markedByApp) return eStatusMarked;
    return eStatusNone;
}

void CSong::NextMatch() {
    if (matches.Empty()) return;
    int32_t next = ValidMatch(*this) ? currentMatch + 1 : 0;
    currentMatch = next >= matches.Count() ? -1 : next;
    identified = true;
    RecomputeModified();
}

void CSong::PreviousMatch() {
    if (matches.Empty()) return;
    int32_t previous = ValidMatch(*this) ? currentMatch - 1 : -2;
    currentMatch = previous < -1 ? matches.Count() - 1 : previous;
    identified = true;
    RecomputeModified();
}

void CSong::RevertEdits() {
    tags = savedTags;
    currentMatch = -1;
    RecomputeModified();
}

void CSong::ClearIdentification() {
    currentMatch = -1;
    matches.Clear();
    identified = false;
    idFailed = false;
    markedByApp = false;
    RecomputeModified();
}

bool CSong::IsIncomplete() const {
    const CTagValues& shown = DisplayedValues();
    return shown.title[0] == '\0' || shown.album[0] == '\0' || shown.artist[0] == '\0' ||
           shown.genre[0] == '\0';
}

bool CSong::NeedsIdentification() const {
    if (identified) return false;
    const CTagValues& shown = DisplayedValues();
    bool complete = shown.title[0] != '\0' && shown.album[0] != '\0' && shown.artist[0] != '\0';
    return !(markedByApp && complete);
}
