#include "library/song_list.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

int LowerByte(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

int CompareNoCase(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        int d = LowerByte(*x) - LowerByte(*y);
        if (d != 0 || *x == '\0') return d;
    }
}

}  // namespace

CSortKey SortKey(const CSong& song, ESongColumn column) {
    const CTagValues& shown = song.DisplayedValues();
    switch (column) {
        case ESongColumn::Title: return {shown.title};
        case ESongColumn::Album: return {shown.album};
        case ESongColumn::Artist: return {shown.artist};
        case ESongColumn::Genre: return {shown.genre};
        case ESongColumn::Comment: return {shown.comment};
        case ESongColumn::Copyright: return {shown.copyright};
        case ESongColumn::Url: return {shown.url};
        case ESongColumn::Year: return {shown.year};
        case ESongColumn::FileName: return {song.FileName()};
        case ESongColumn::Track: return {nullptr, shown.track};
        case ESongColumn::Disc: return {nullptr, shown.disc};
        case ESongColumn::Length: return {nullptr, song.lengthSeconds};
        case ESongColumn::SampleRate: return {nullptr, song.sampleRate};
        case ESongColumn::Status: return {nullptr, song.Status()};
        case ESongColumn::None: break;
    }
    return {nullptr, song.listIndex};
}

int CompareSortKeys(const CSortKey& a, const CSortKey& b) {
    if (a.text != nullptr && b.text != nullptr) return CompareNoCase(a.text, b.text);
    return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
}

int CompareSongs(const CSong& a, const CSong& b, ESongColumn column) {
    return CompareSortKeys(SortKey(a, column), SortKey(b, column));
}

CSong* CSongList::At(int32_t position) const {
    if (position < 0 || position >= songs_.Count()) return nullptr;
    return songs_[position].get();
}

CSong& CSongList::Append(std::unique_ptr<CSong> song) {
    song->listIndex = songs_.Count();
    return *songs_.Append(std::move(song));
}

bool CSongList::Contains(const CFileRef& ref) const {
    for (const CSong& song : *this)
        if (SameFile(song.fileRef, ref)) return true;
    return false;
}

void CSongList::Remove(std::span<CSong* const> doomed) {
    std::unordered_set<const CSong*> requested(doomed.begin(), doomed.end());
    std::unordered_set<const CSong*> gone;
    for (const CSong& song : *this)
        if (requested.contains(&song)) gone.insert(&song);
    if (gone.empty()) return;

    // The heir of a departing leader is the first other member, in list
    // order, that stays.
    std::unordered_map<const CSong*, CSong*> heirs;
    for (const CSong& song : *this)
        if (gone.contains(&song) && song.groupLeader == &song) heirs.emplace(&song, nullptr);
    for (CSong& song : *this) {
        auto heir = heirs.find(song.groupLeader);
        if (heir != heirs.end() && heir->second == nullptr && &song != song.groupLeader &&
            !gone.contains(&song))
            heir->second = &song;
    }
    // Without an heir the pointers are cleared; no pointer to a destroyed
    // song is left behind.
    for (CSong& song : *this) {
        auto heir = heirs.find(song.groupLeader);
        if (heir != heirs.end()) song.groupLeader = heir->second;
        if (gone.contains(song.groupLeader)) song.groupLeader = nullptr;
        if (gone.contains(song.groupNext)) song.groupNext = nullptr;
    }

    songs_.RemoveIf([&](const std::unique_ptr<CSong>& song) { return gone.contains(song.get()); });
    RenumberFrom(0);
}

void CSongList::AdoptStaged(std::span<const CSong> staged) {
    std::vector<std::unique_ptr<CSong>> copies;
    copies.reserve(staged.size());
    for (const CSong& record : staged) copies.push_back(std::make_unique<CSong>(record));
    for (auto& song : copies) Append(std::move(song));
}

void CSongList::NormalizeGroups() {
    std::unordered_map<const CSong*, int32_t> members;
    for (const CSong& song : *this)
        if (song.groupLeader != nullptr) ++members[song.groupLeader];
    for (CSong& song : *this)
        if (song.groupLeader == &song && members[&song] < 2) song.groupLeader = nullptr;
}

void CSongList::RenumberFrom(int32_t position) {
    for (int32_t i = position; i < songs_.Count(); ++i) songs_[i]->listIndex = i;
}
