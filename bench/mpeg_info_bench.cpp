// Files per second of CMpegInfo::Analyse over a folder of MP3 files, against
// a baseline that only reads the first 64 KiB of each file through the same
// buffered streams.
//
//     mpeg_info_bench [FOLDER]
//
// Without a folder it generates 100 files of about 1 MB in a temporary
// folder (an ID3v2 tag, 128 kbit/s frames with pseudo-random payload that
// contains stray sync bytes as real audio does, an ID3v1 tag) and removes
// them afterwards.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/mpeg_info.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> GenerateFiles(const fs::path& folder, int count) {
    std::vector<std::string> paths;
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<char>(seed >> 24);
    };
    for (int i = 0; i < count; ++i) {
        std::string bytes = std::string("ID3\x03\x00\x00\x00\x00\x20\x00", 10) + std::string(4096, '\0');
        for (int frame = 0; frame < 2400; ++frame) {
            bytes += "\xFF\xFB\x90\x64";
            for (int j = 4; j < 417; ++j) bytes += next();
        }
        bytes += "TAG" + std::string(125, ' ');
        const fs::path path = folder / ("song" + std::to_string(i) + ".mp3");
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        paths.push_back(path.string());
    }
    return paths;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Best of several rounds, so that a warm page cache is measured for both.
template <class F>
double BestRound(const std::vector<std::string>& paths, F&& perFile) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (const std::string& path : paths) perFile(path);
        const double elapsed = Seconds(std::chrono::steady_clock::now() - start);
        if (elapsed < best) best = elapsed;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path generated;
    std::vector<std::string> paths;
    if (argc > 1) {
        for (const auto& entry : fs::recursive_directory_iterator(argv[1]))
            if (entry.is_regular_file()) paths.push_back(entry.path().string());
    } else {
        generated = fs::temp_directory_path() / ("mpeg_info_bench_" + std::to_string(getpid()));
        fs::create_directories(generated);
        paths = GenerateFiles(generated, 100);
    }
    if (paths.empty()) {
        fprintf(stderr, "no files\n");
        return 1;
    }

    static char block[65536];
    volatile size_t sink = 0;
    const double baseline = BestRound(paths, [&](const std::string& path) {
        if (FILE* f = fopen(path.c_str(), "rb")) {
            sink = sink + fread(block, 1, sizeof block, f);
            fclose(f);
        }
    });
    int64_t totalSeconds = 0;
    const double analyse = BestRound(paths, [&](const std::string& path) {
        CMpegInfo info;
        info.Analyse(path.c_str());
        totalSeconds += info.LengthSeconds();
    });

    const double n = static_cast<double>(paths.size());
    printf("files: %zu (%s)\n", paths.size(), argc > 1 ? argv[1] : "generated");
    printf("baseline  read first 64 KiB  %10.0f files/s\n", n / baseline);
    printf("CMpegInfo::Analyse           %10.0f files/s\n", n / analyse);
    printf("ratio Analyse / baseline time: %.2f\n", analyse / baseline);
    if (totalSeconds < 0) printf("?\n");

    if (!generated.empty()) fs::remove_all(generated);
    return 0;
}
