// Throughput of the fingerprint engine on synthetic 44.1 kHz stereo PCM, in
// seconds of audio per second, against a baseline measured in the same run:
// one pass of the same audio through a single band of the filter bank.
//
//   fingerprint_bench [seconds of audio, default 160]
//
// Given an MP3 file instead, it times the token and the file digest against
// decoding alone (the baseline), and, when they are installed, against
// `fpcalc -length 160` and `md5sum` on the same file (their CPU time as child
// processes), and reports the peak memory of the process:
//
//   fingerprint_bench FILE.mp3

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include "audio/file_digest.h"
#include "audio/pcm_decoder.h"
#include "audio/token.h"
#include "audio/trdobj/band_filters.h"
#include "audio/trdobj/fingerprinter.h"

using namespace trdobj;

namespace {

constexpr int32_t kRate = 44100;
constexpr int32_t kBytesPerSecond = kRate * 4;

std::vector<uint8_t> MakePcm(int seconds) {
    std::mt19937 rng(2024);
    const double pitches[] = {330, 440, 620, 880, 1250, 1760, 2500, 3300};
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(seconds) * kBytesPerSecond);
    double pitch = 440;
    for (int64_t i = 0; i < static_cast<int64_t>(seconds) * kRate; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double inBeat = std::fmod(t, 0.5);
        if (i % (kRate / 2) == 0) pitch = pitches[rng() % 8];
        const double noise = (static_cast<double>(rng() >> 16) - 32768.0) / 32768.0;
        const double s = 20000.0 * std::exp(-6.0 * inBeat) * std::sin(2 * std::numbers::pi * pitch * t) + 1500.0 * noise;
        for (int16_t v : {static_cast<int16_t>(s), static_cast<int16_t>(0.7 * s)}) {
            bytes.push_back(static_cast<uint8_t>(v & 0xFF));
            bytes.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    }
    return bytes;
}

// CPU time of this thread, which other processes on a busy machine disturb
// far less than wall time.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

template <typename F>
double BestOf(int runs, F&& body) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const double start = CpuSeconds();
        body();
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

extern "C" char** environ;

// CPU time (user + system) of an external command run on the file; negative
// when the command is not installed or fails.
double ToolSeconds(std::vector<const char*> argv) {
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double BestToolSeconds(int runs, const std::vector<const char*>& argv) {
    double best = 1e300;
    for (int r = 0; r < runs; ++r) {
        const double t = ToolSeconds(argv);
        if (t < 0) return -1;
        best = std::min(best, t);
    }
    return best;
}

void PrintAgainst(const char* label, double seconds, double decodeTime, const char* toolLabel, double toolTime) {
    std::printf("%-34s %9.4f s  ratio %.2f", label, seconds, seconds / decodeTime);
    if (toolTime > 0) std::printf("  vs %s %.2f", toolLabel, seconds / toolTime);
    std::printf("\n");
}

int TokenOfFile(const char* path) {
    const int runs = 3;
    bool decoded = false;
    const double decodeTime = BestOf(runs, [&] {
        CPcmDecoder decoder;
        decoded = decoder.DecodeFile(path, CPcmDecoder::kTokenByteLimit);
    });
    if (!decoded) {
        std::fprintf(stderr, "%s: not decoded\n", path);
        return 1;
    }
    static char token[kTokenCapacity];
    const double tokenTime = BestOf(runs, [&] { BuildToken(path, token, sizeof token); });
    int entries = 0;
    for (const char* p = token; *p != '\0'; ++p) entries += *p == '$';
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double digestTime = BestOf(runs, [&] {
        char digest[kDigestTextSize];
        int32_t size = 0, seconds = 0, bitrate = 0;
        DigestFile(path, digest, &size, &seconds, &bitrate);
    });
    const double fpcalcTime = BestToolSeconds(runs, {"fpcalc", "-length", "160", path});
    const double md5sumTime = BestToolSeconds(runs, {"md5sum", path});

    std::printf("%s, best CPU time of %d runs\n", path, runs);
    std::printf("%-34s %9.4f s  ratio 1.00\n", "baseline: decode up to 160 s", decodeTime);
    PrintAgainst("token: decode + engine", tokenTime, decodeTime, "fpcalc", fpcalcTime);
    std::printf("%-34s (%d entries, peak resident memory %.1f MB)\n", "", entries, usage.ru_maxrss / 1024.0);
    PrintAgainst("digest of the audio region", digestTime, decodeTime, "md5sum", md5sumTime);
    if (fpcalcTime > 0) PrintAgainst("fpcalc -length 160", fpcalcTime, decodeTime, "fpcalc", fpcalcTime);
    else std::printf("%-34s not installed\n", "fpcalc -length 160");
    if (md5sumTime > 0) PrintAgainst("md5sum", md5sumTime, decodeTime, "md5sum", md5sumTime);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::atoi(argv[1]) == 0) return TokenOfFile(argv[1]);
    const int seconds = argc > 1 ? std::max(25, std::atoi(argv[1])) : 160;
    const std::vector<uint8_t> pcm = MakePcm(seconds);
    const int runs = 3;

    // Baseline: the mono mix of every second through one band (two 4-pole filters).
    std::vector<int16_t> mono(static_cast<size_t>(seconds) * kRate), out(kRate);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = static_cast<int16_t>((static_cast<int16_t>(pcm[4 * i] | pcm[4 * i + 1] << 8) +
                                        static_cast<int16_t>(pcm[4 * i + 2] | pcm[4 * i + 3] << 8)) / 2);
    FingerprintBand bank[kBandCount];
    BuildBank(bank, kRate);
    long checksum = 0;
    const double filterTime = BestOf(runs, [&] {
        ResetBand(bank[5]);
        for (int s = 0; s < seconds; ++s) {
            FilterBlock(bank[5], kRate, mono.data() + static_cast<size_t>(s) * kRate, out.data());
            checksum += out[kRate - 1];
        }
    });

    // The engine over the whole stream, fed one second at a time.
    int32_t frames = 0;
    const double engineTime = BestOf(runs, [&] {
        EnginePtr engine(Create(kRate, 2, 16));
        for (int s = 0; s < seconds; ++s)
            Feed(engine.get(), kBytesPerSecond, pcm.data() + static_cast<size_t>(s) * kBytesPerSecond);
        frames = FrameCount(engine.get());
    });

    // The engine as the token uses it: from 40 s in, until 14 frames exist.
    int32_t tokenSeconds = 0;
    const double tokenTime = BestOf(runs, [&] {
        EnginePtr engine(Create(kRate, 2, 16));
        int s = std::min(40, seconds - 21);
        tokenSeconds = 0;
        for (; s < seconds && FrameCount(engine.get()) < 14; ++s, ++tokenSeconds)
            Feed(engine.get(), kBytesPerSecond, pcm.data() + static_cast<size_t>(s) * kBytesPerSecond);
    });

    std::printf("audio: %d s of synthetic 44.1 kHz stereo PCM, best CPU time of %d runs (checksum %ld)\n", seconds, runs,
                checksum % 1000);
    std::printf("%-34s %9.4f s  %9.1f s audio/s  ratio 1.00\n", "baseline: one band, one pass", filterTime,
                seconds / filterTime);
    std::printf("%-34s %9.4f s  %9.1f s audio/s  ratio %.2f  (%d frames)\n", "engine: whole stream", engineTime,
                seconds / engineTime, engineTime / filterTime, frames);
    std::printf("%-34s %9.4f s  %9.1f s audio/s  ratio %.2f  (%d s fed)\n", "engine: 14 frames from 40 s", tokenTime,
                tokenSeconds / tokenTime, tokenTime / filterTime, tokenSeconds);
    return 0;
}
