// Duplicate search over 10,000 synthetic songs (titles, file names and sizes
// as a real collection has them: mostly distinct, a few percent repeated),
// in songs per second, against the baseline "group scan": every song
// compared with the members of every earlier group, newest group first,
// groups merged one by one. Both give the same leaders; the program checks.
//
//     duplicates_bench

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fileops/duplicates.h"

namespace {

constexpr int kSongs = 10000;

std::vector<CDuplicateKey> MakeSongs() {
    std::mt19937 random(2024);
    std::vector<CDuplicateKey> keys(kSongs);
    for (int i = 0; i < kSongs; ++i) {
        CDuplicateKey& key = keys[i];
        const int roll = static_cast<int>(random() % 100);
        // 3 % copies of an earlier song's title, 2 % of its file name, 1 % of
        // its size; 2 % without a title.
        const int earlier = i > 0 ? static_cast<int>(random() % i) : 0;
        key.title = roll < 3 && i > 0 ? keys[earlier].title
                    : roll < 5        ? std::string()
                                      : "Song title number " + std::to_string(i);
        key.name = roll >= 5 && roll < 7 && i > 0 ? keys[earlier].name
                                                  : "Artist " + std::to_string(i % 500) + " - Track " +
                                                        std::to_string(i) + ".mp3";
        key.size = roll == 7 && i > 0 ? keys[earlier].size
                                      : 3'000'000u + static_cast<uint32_t>(random() % 9'000'000u);
    }
    return keys;
}

template <class F>
double BestSeconds(int rounds, F&& run) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (elapsed < best) best = elapsed;
    }
    return best;
}

}  // namespace

int main() {
    const std::vector<CDuplicateKey> keys = MakeSongs();
    std::vector<int32_t> scanned;
    std::vector<int32_t> indexed;
    const double baseline = BestSeconds(1, [&] { scanned = FindDuplicateLeadersByScan(keys); });
    const double ours = BestSeconds(10, [&] { indexed = FindDuplicateLeaders(keys); });
    if (scanned != indexed) {
        std::printf("MISMATCH: the two searches disagree\n");
        return 1;
    }
    int32_t grouped = 0;
    for (int32_t leader : indexed) grouped += leader >= 0 ? 1 : 0;
    std::printf("%d songs, %d in groups\n", kSongs, grouped);
    std::printf("baseline group scan:  %10.0f songs/s (%.3f s)\n", kSongs / baseline, baseline);
    std::printf("FindDuplicateLeaders: %10.0f songs/s (%.3f s)\n", kSongs / ours, ours);
    std::printf("ratio (baseline time / ours): %.1f\n", baseline / ours);
    return 0;
}
