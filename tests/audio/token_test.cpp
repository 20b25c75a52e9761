#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/pcm_decoder.h"
#include "audio/token.h"
#include "reference_engine.h"
#include "support/temp_dir.h"

namespace {

std::string Token(const std::string& path, size_t capacity = kTokenCapacity) {
    std::vector<char> token(capacity + 1, 'x');
    BuildToken(path.c_str(), token.data(), capacity);
    EXPECT_EQ(token[capacity], 'x');  // nothing written past the capacity
    return token.data();
}

std::string Entry(const uint16_t* values, int32_t timeValue) {
    char line[kTokenLineSize];
    FormatTokenEntry(values, timeValue, line, sizeof line);
    return line;
}

// Splits a token into its entries' 32 values and time values.
struct ParsedEntry {
    std::vector<unsigned> values;
    unsigned timeValue;
};
std::vector<ParsedEntry> Parse(const std::string& token) {
    std::vector<ParsedEntry> entries;
    size_t at = 0;
    while (at < token.size()) {
        const size_t end = token.find("+$", at);
        if (end == std::string::npos) break;
        ParsedEntry entry;
        const std::string text = token.substr(at, end - at);
        size_t p = 0;
        for (int i = 0; i < 32; ++i, p += 5) entry.values.push_back(std::stoul(text.substr(p, 4), nullptr, 16));
        entry.timeValue = std::stoul(text.substr(p), nullptr, 16);
        entries.push_back(entry);
        at = end + 2;
    }
    return entries;
}

}  // namespace

TEST(Token, EntryFormat) {
    uint16_t values[32];
    for (int i = 0; i < 32; ++i) values[i] = static_cast<uint16_t>(i + 1);
    const std::string example =
        "0001_0002_0003_0004+0005_0006_0007_0008+0009_000A_000B_000C+000D_000E_000F_0010+"
        "0011_0012_0013_0014+0015_0016_0017_0018+0019_001A_001B_001C+001D_001E_001F_0020+05+$";
    EXPECT_EQ(Entry(values, 5), example);
    EXPECT_EQ(example.size(), 164u);

    struct Case {
        int32_t timeValue;
        const char* tail;
    } cases[] = {{0, "00+$"}, {10, "0A+$"}, {255, "FF+$"}, {256, "100+$"}, {-40, "FFFFFFD8+$"}, {-1, "FFFFFFFF+$"}};
    for (const Case& c : cases) EXPECT_EQ(Entry(values, c.timeValue).substr(160), c.tail) << c.timeValue;

    values[0] = 0xFFFF;
    values[31] = 0;
    const std::string entry = Entry(values, 70);
    EXPECT_EQ(entry.substr(0, 5), "FFFF_");
    EXPECT_EQ(entry.substr(155), "0000+46+$");
}

// The token of the 4-minute fixture, computed once and checked by hand: 14
// entries (the stop count), time values rising from 0, values around 32767
// spread over roughly 21,000 to 56,000. Regenerating the fixtures with
// another encoder changes it.
TEST(Token, KnownTokenOfFourMinuteSong) {
    const char* const entries[] = {
        "A6EE_895E_734E_7054+6207_943A_6E83_79B8+65B3_711A_7C94_A9CA+90F1_6854_96A9_7ACD+715F_A360_7207_99AC+73E2_83F5_8F8C_759F+BD44_7D95_6DD1_79CC+7326_5C0A_715F_851D+00+$",
        "BC4C_90A5_74A3_7609+6ACC_8526_67D8_87A3+6E94_7739_8CA8_B72C+7B43_769A_75C6_75E1+76EA_9B5D_74D8_9BE2+780E_81D6_A0A5_824D+81FE_8FDE_62B8_8699+81AE_542B_7138_5F9D+01+$",
        "90C7_8AAA_7FC5_7A94+7786_73E4_99C6_93D6+715A_5562_85C3_9178+9BE9_80CE_67AA_A1AD+57EB_5B52_5304_8A08+74D0_77D0_91EE_A736+8FF9_81D7_742D_6656+8348_7272_96F3_9DFC+02+$",
        "B128_81A6_72F3_6156+675B_7C2D_6612_8A54+631D_6FFD_9400_AD8E+7CB8_9C63_7B6F_7D8E+792A_A680_7A4D_A937+78EB_88DA_832D_811B+948B_7C5F_65F9_90E4+75AA_57EA_70BB_6ECE+02+$",
        "8BE0_7F4A_7354_74D7+75FF_7B8E_6AB3_94DC+6FDB_7103_6C85_8F6F+730F_7949_880C_72D6+7621_7F78_7020_7E39+89A6_8088_87C8_9CF4+DC1C_8D4C_6684_9C77+8CB8_5A54_6DB9_8361+03+$",
        "8895_8615_67B3_78E8+802A_6B07_9D95_9F86+851D_5AFA_8036_8A9E+8923_6D28_865D_B9B4+7006_5D33_6ED2_7558+6D6F_7071_90B9_5E96+B47A_A13C_83A2_7D41+85DA_8006_79E0_721B+04+$",
        "8160_6DD7_607A_8DF4+842F_8089_98E8_B0FE+894B_52C6_86F0_7F79+9B8B_68BB_70B4_86F0+6B42_93E8_5EAE_A145+5D0D_692E_7993_94CE+7B6E_AF07_9264_7618+7BC4_7EE9_7597_7E4B+05+$",
        "9629_8F2D_886B_7EA8+75C6_6F9E_6756_A4B1+74FC_6A40_B6F8_92B1+8348_791B_72E7_6A40+7050_A9BC_732E_82F5+6E23_75F5_95EE_A620+8CB9_8D9A_670F_7CDA+8A21_53CF_657C_6DA1+05+$",
        "9A94_7D65_677E_7991+82F3_826F_850D_A290+7515_5963_72E3_A7FB+977F_5B06_87FE_9131+648D_9D6D_61E3_94D6+663B_72EF_870F_6C59+AB28_A47B_7521_6CAD+7F7F_82E7_7539_767C+06+$",
        "B1EB_9048_74F7_748D+8762_7FEF_6310_886B+7AA8_6B7F_8924_B481+7896_739F_70B9_74EA+74F7_9B41_73D4_9922+74DD_86EB_9DAF_76E1+8359_9FA7_60BB_89C3+9013_52C3_6EE9_5EF9+07+$",
        "A035_94A1_8B33_8469+7BC4_8281_6438_8796+7088_691B_89FA_9B45+8883_9180_7017_6319+6A47_690E_6620_97CE+80F1_8BEF_996A_B248+94D3_8AB6_65EE_72F9+9D78_5591_61ED_6E0A+08+$",
        "993F_7020_6158_7574+9695_6F6B_86E5_C306+7CCB_5797_7F8F_A8C8+7AD5_89B6_6E36_8AB7+66D2_9B1B_6C67_9B8F+67AD_769C_78B8_785E+8A1D_A171_7CCB_7F82+7FF6_7913_6BDA_6F9F+08+$",
        "8130_72F2_68D3_9BAC+805A_6E2E_8665_9969+7B65_62EE_66A9_855D+767B_712D_7C09_AAC1+69CE_7751_65E0_7948+8041_76D3_7ED6_92D4+D8E3_8748_771F_8FEE+7DCD_73AE_7B3F_8327+09+$",
        "908A_8316_7D43_749E+7C86_5FCF_84E3_B616+830A_580B_B40D_8C9C+7382_7F7B_68C8_98AE+6601_9C9C_6985_9B5C+65EA_67E7_8EC8_A1B2+7A7D_7ECA_70F7_6F7C+807F_7729_87F1_73C9+09+$",
    };
    std::string expected;
    for (const char* entry : entries) expected += entry;

    const std::string path = FixtureFile("song_44k_stereo_4min.mp3");
    const std::string token = Token(path);
    EXPECT_EQ(token, expected);

    const std::vector<ParsedEntry> parsed = Parse(token);
    ASSERT_EQ(parsed.size(), 14u);
    EXPECT_EQ(parsed.front().timeValue, 0u);
    unsigned lowest = 65535, highest = 0;
    for (size_t i = 0; i < parsed.size(); ++i) {
        if (i > 0) {
            EXPECT_GE(parsed[i].timeValue, parsed[i - 1].timeValue);
        }
        for (unsigned v : parsed[i].values) lowest = std::min(lowest, v), highest = std::max(highest, v);
    }
    EXPECT_LT(lowest, 24000u);
    EXPECT_GT(highest, 50000u);

    // A destination too small for the first entry gets it cut at its capacity.
    EXPECT_EQ(Token(path, 200), expected.substr(0, 199));
}

// The token against the plain whole-stream engine run on the decoded PCM
// from 40 seconds in: the same frames, and each carries the time value of the
// one-second piece that first held 20 seconds behind its anchor.
TEST(Token, FollowsTheEngineFromTheLeadIn) {
    struct Case {
        const char* file;
        int32_t rate, channels;
        size_t minEntries;
    } cases[] = {
        {"song_44k_stereo_4min.mp3", 44100, 2, 14},
        {"song_22k_mono_3min.mp3", 22050, 1, 14},
        // At 8 kHz the anchors lie far into the window; the token used to stay
        // empty because the engine stalled on its first anchor.
        {"song_8k_mono_75s.mp3", 8000, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = FixtureFile(c.file);
        CPcmDecoder decoder;
        ASSERT_TRUE(decoder.DecodeFile(path.c_str(), CPcmDecoder::kTokenByteLimit));
        ASSERT_EQ(decoder.DecodedRate(), c.rate);
        ASSERT_EQ(decoder.DecodedChannels(), c.channels);

        const int32_t bytesPerSecond = c.rate * c.channels * 2;
        const int32_t skip = 40 * bytesPerSecond;
        ASSERT_LT(skip, decoder.PcmBytes());
        const uint8_t* pcm = decoder.PcmData() + skip;
        const int64_t samples = (decoder.PcmBytes() - skip) / (2 * c.channels);
        std::vector<int16_t> mono(samples);
        for (int64_t i = 0; i < samples; ++i) {
            int32_t sum = 0;
            for (int ch = 0; ch < c.channels; ++ch) {
                const uint8_t* p = pcm + 2 * (i * c.channels + ch);
                sum += static_cast<int16_t>(p[0] | p[1] << 8);
            }
            mono[i] = static_cast<int16_t>(static_cast<int32_t>(sum / (c.channels * 65536.0) * 65534.0));
        }

        // Pieces hold `rate` samples; piece k (from 0) has time value k - 20.
        ReferenceEngine reference(c.rate, mono);
        const int64_t window = 20 * c.rate;
        std::string expected;
        int64_t stopPiece = -1;
        size_t entries = 0;
        for (const ReferenceFrame& frame : reference.Frames(20)) {
            const int64_t needed = std::max(frame.anchor + window, frame.read + window + 1);
            const int64_t piece = (needed + c.rate - 1) / c.rate - 1;
            if (stopPiece >= 0 && piece > stopPiece) break;
            expected += Entry(frame.values.data(), static_cast<int32_t>(piece - 20));
            if (++entries == 14) stopPiece = piece;
        }
        EXPECT_GE(entries, c.minEntries);
        EXPECT_EQ(Token(path), expected);
    }
}

TEST(Token, EmptyWhenNoTokenCanBeMade) {
    CTempDir dir;
    const std::string cases[] = {
        FixtureFile("short_44k_stereo_cbr128.mp3"),  // 3 seconds: refused by the decoder
        dir.File("missing.mp3"),
        dir.Write("text.mp3", std::string(200000, 'a')),
        dir.Write("empty.mp3", ""),
    };
    for (const std::string& path : cases) EXPECT_EQ(Token(path), "") << path;

    char untouched = 'x';
    BuildToken(cases[0].c_str(), &untouched, 0);
    EXPECT_EQ(untouched, 'x');
}

// Limits the address space to what is in use plus 16 MB, builds the token and
// exits with 0 when it came out empty.
[[noreturn]] void BuildTokenWithLittleMemory(const std::string& path) {
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (16u << 20);
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_AS, &rl);
    char token[kTokenCapacity];
    std::strcpy(token, "junk");
    BuildToken(path.c_str(), token, sizeof token);
    std::_Exit(token[0] == '\0' ? 0 : 1);
}

// The decoder needs 28 MB for the PCM of a long song; when that is not to be
// had, the token is empty rather than the worker failing.
TEST(TokenDeathTest, EmptyWhenMemoryRunsOut) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer's allocator stops the process when memory runs out";
#endif
    const std::string path = FixtureFile("song_44k_stereo_4min.mp3");
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(BuildTokenWithLittleMemory(path), ::testing::ExitedWithCode(0), "");
}
