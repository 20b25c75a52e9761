// Songs per second of an add run over a folder of small MP3 files, against a
// baseline that only walks the same folder and stats every file.
//
//     add_songs_bench [FIXTURE.mp3] [COUNT]
//
// The benchmark copies the fixture (default: the 3-second 22 kHz file of
// tests/fixtures) COUNT times (default 10,000) into 100 sub-folders of a
// temporary folder, runs both once to warm the page cache, then measures the
// best of three rounds each, and removes the folder. Peak memory is the
// process's maximum resident set size (getrusage) after each phase.

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "library/add_songs.h"
#include "library/song_list.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The baseline: the same walk (files, then sub-folders) with one stat per entry.
int64_t WalkAndStat(const std::string& folder) {
    int64_t files = 0;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.' && (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0')))
            continue;
        const std::string path = folder + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode))
            files += WalkAndStat(path);
        else if (S_ISREG(info.st_mode) && IsMp3Candidate(entry->d_name))
            ++files;
    }
    closedir(dir);
    return files;
}

int32_t AddFolder(const std::string& folder) {
    CSongList list;
    CAddOperation op;
    op.StartAdd(list, {MakeFileRef(folder.c_str())});
    while (!op.Done()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    op.Finish(list);
    return list.Count();
}

template <class F>
double BestOfThree(F&& run) {
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string fixture = argc > 1 ? argv[1]
                                         : (fs::path(__FILE__).parent_path().parent_path() / "tests/fixtures/short_22k_mono_cbr32.mp3").string();
    const int count = argc > 2 ? std::atoi(argv[2]) : 10000;
    std::ifstream in(fixture, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || count <= 0) {
        std::fprintf(stderr, "cannot read %s\n", fixture.c_str());
        return 1;
    }

    const fs::path root = fs::temp_directory_path() / ("add_songs_bench_" + std::to_string(getpid()));
    for (int i = 0; i < count; ++i) {
        const fs::path folder = root / ("d" + std::to_string(i % 100));
        if (i < 100) fs::create_directories(folder);
        std::ofstream(folder / ("song" + std::to_string(i) + ".mp3"), std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const std::string folder = root.string();

    // Warm-up rounds.
    const int64_t walked = WalkAndStat(folder);
    const long peakBefore = PeakKilobytes();
    const int32_t added = AddFolder(folder);

    const double baseline = BestOfThree([&] { WalkAndStat(folder); });
    const double adding = BestOfThree([&] { AddFolder(folder); });
    const long peakAfter = PeakKilobytes();

    std::printf("files: %d copies of %s (%zu bytes)\n", count, fixture.c_str(), bytes.size());
    std::printf("baseline  walk + stat         %10.0f files/s (%lld found)\n", walked / baseline,
                static_cast<long long>(walked));
    std::printf("add run   count, tags, stream %10.0f songs/s (%d added)\n", added / adding, added);
    std::printf("ratio add / baseline time: %.1f\n", adding / baseline);
    std::printf("peak memory: %ld KiB before adding, %ld KiB after adding\n", peakBefore, peakAfter);

    fs::remove_all(root);
    return 0;
}
