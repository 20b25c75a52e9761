#include "fileops/duplicates.h"

#include <algorithm>
#include <list>
#include <numeric>
#include <unordered_map>

#include "foundation/files.h"
#include "foundation/text.h"
#include "library/song_list.h"

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

std::string Folded(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) c = FoldAscii(c);
    return folded;
}

// Groups are the connected parts of the match relation; a part's root is
// always its earliest song, which is the leader the group scan produces.
struct CEarliestRoots {
    explicit CEarliestRoots(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
    int32_t Root(int32_t i) {
        while (parent[i] != i) {
            parent[i] = parent[parent[i]];
            i = parent[i];
        }
        return i;
    }
    void Join(int32_t a, int32_t b) {
        a = Root(a);
        b = Root(b);
        if (a == b) return;
        if (a < b) parent[b] = a;
        else parent[a] = b;
    }
    std::vector<int32_t> parent;
};

std::vector<int32_t> LeadersOfGroups(CEarliestRoots& roots, size_t n) {
    std::vector<int32_t> members(n, 0);
    for (size_t i = 0; i < n; ++i) ++members[roots.Root(static_cast<int32_t>(i))];
    std::vector<int32_t> leaders(n, -1);
    for (size_t i = 0; i < n; ++i) {
        const int32_t root = roots.Root(static_cast<int32_t>(i));
        if (members[root] >= 2) leaders[i] = root;
    }
    return leaders;
}

}  // namespace

bool SongsMatch(const CDuplicateKey& a, const CDuplicateKey& b) {
    if (!a.title.empty() && !b.title.empty() && EqualNoCase(a.title, b.title)) return true;
    if (!a.name.empty() && EqualNoCase(a.name, b.name)) return true;
    return a.size == b.size;
}

std::vector<int32_t> FindDuplicateLeaders(const std::vector<CDuplicateKey>& keys,
                                          DuplicateProgress onSong, void* context) {
    // Songs sharing a key already sit in one group, so the first song seen
    // with each key stands for all of them.
    std::unordered_map<std::string, int32_t> byTitle;
    std::unordered_map<std::string, int32_t> byName;
    std::unordered_map<uint32_t, int32_t> bySize;
    CEarliestRoots roots(keys.size());
    int32_t found = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
        const int32_t index = static_cast<int32_t>(i);
        if (onSong != nullptr && !onSong(context, index, found)) return {};
        const CDuplicateKey& key = keys[i];
        bool joined = false;
        auto link = [&](auto& map, auto&& mapKey) {
            auto [at, inserted] = map.try_emplace(std::forward<decltype(mapKey)>(mapKey), index);
            if (!inserted) {
                roots.Join(index, at->second);
                joined = true;
            }
        };
        if (!key.title.empty()) link(byTitle, Folded(key.title));
        if (!key.name.empty()) link(byName, Folded(key.name));
        link(bySize, key.size);
        if (joined) found += 2;
    }
    if (onSong != nullptr) onSong(context, static_cast<int32_t>(keys.size()), found);
    return LeadersOfGroups(roots, keys.size());
}

std::vector<int32_t> FindDuplicateLeadersByScan(const std::vector<CDuplicateKey>& keys) {
    std::list<std::vector<int32_t>> groups;  // newest first
    for (size_t i = 0; i < keys.size(); ++i) {
        const int32_t song = static_cast<int32_t>(i);
        auto holdsMatch = [&](const std::vector<int32_t>& group) {
            return std::any_of(group.begin(), group.end(),
                               [&](int32_t member) { return SongsMatch(keys[i], keys[member]); });
        };
        auto g = std::find_if(groups.begin(), groups.end(), holdsMatch);
        if (g == groups.end()) {
            groups.push_front({song});
            continue;
        }
        g->push_back(song);
        for (auto h = std::next(g); h != groups.end();) {
            if (!holdsMatch(*h)) {
                ++h;
                continue;
            }
            h->insert(h->end(), g->begin(), g->end());
            groups.erase(g);
            g = h++;
        }
    }
    std::vector<int32_t> leaders(keys.size(), -1);
    for (const std::vector<int32_t>& group : groups)
        if (group.size() >= 2)
            for (int32_t member : group) leaders[member] = group.front();
    return leaders;
}

std::string DuplicatesProgressText(int32_t processed, int32_t count, int32_t found) {
    char text[160];
    FormatBounded(text, sizeof text, "%d songs processed of %d\n%d duplicates found so far.", processed,
                  count, found);
    return text;
}

CDuplicateRun::~CDuplicateRun() {
    Stop();
    if (worker_.joinable()) worker_.join();
}

void CDuplicateRun::Start(const CSongList& songs, double now) {
    if (worker_.joinable()) worker_.join();
    songs_.clear();
    for (CSong& song : songs) songs_.push_back(&song);
    leaders_.clear();
    processed_.store(0, std::memory_order_relaxed);
    found_.store(0, std::memory_order_relaxed);
    cancelRequested_.store(false, std::memory_order_relaxed);
    done_.store(false, std::memory_order_relaxed);
    startTime_ = now;
    sheetShown = false;
    worker_ = std::thread([this] { Run(); });
}

void CDuplicateRun::Run() {
    // Sizes and names are gathered once; matching needs no file access.
    std::vector<CDuplicateKey> keys(songs_.size());
    for (size_t i = 0; i < songs_.size(); ++i) {
        const CSong& song = *songs_[i];
        keys[i].title = song.DisplayedValues().title;
        if (song.fileRef.IsSet()) {
            keys[i].name = LastPathComponent(song.fileRef.path.c_str());
            keys[i].size = static_cast<uint32_t>(FileSize(song.fileRef.path.c_str()));
        }
    }
    auto progress = [](void* context, int32_t index, int32_t found) {
        auto* run = static_cast<CDuplicateRun*>(context);
        if (run->Cancelled()) return false;
        run->processed_.store(index, std::memory_order_relaxed);
        run->found_.store(found, std::memory_order_relaxed);
        return true;
    };
    std::vector<int32_t> leaders = FindDuplicateLeaders(keys, progress, this);
    if (!Cancelled()) leaders_ = std::move(leaders);
    done_.store(true, std::memory_order_release);
}

std::vector<CSong*> CDuplicateRun::Finish() {
    if (worker_.joinable()) worker_.join();
    std::vector<CSong*> leaders;
    // Stop counts until the main thread takes the result.
    if (Cancelled() || leaders_.size() != songs_.size()) return leaders;
    leaders.reserve(songs_.size());
    for (int32_t leader : leaders_) leaders.push_back(leader < 0 ? nullptr : songs_[leader]);
    return leaders;
}
