#include "foundation/data_buffer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "support/error_code.h"
#include "support/temp_dir.h"

namespace {

// A read-side buffer holding exactly these bytes.
void LoadBytes(CDataBuffer& buffer, const CTempDir& dir, const std::string& bytes) {
    buffer.LoadFromFile(dir.Write("record", bytes).c_str());
}

const uint8_t kKey[] = {'<', 'k', 'e', 's', 't', 'r', 'e', 'l', '>'};

}  // namespace

TEST(DataBuffer, RecordRoundTripsThroughFileAndEndsWithInvalidData) {
    CTempDir dir;
    const std::string path = dir.File("record.bin");
    CDataBuffer out;
    out.InitWritable(1024, path.c_str());
    out.AppendInt32(15);
    out.AppendString("Hello");
    out.AppendByte(0xAB);
    out.AppendInt32(-2);
    out.SaveToFile();
    EXPECT_EQ(ReadFileBytes(path), std::string("\0\0\0\x0fHello\0\xab\xff\xff\xff\xfe", 15));

    CDataBuffer in;
    in.LoadFromFile(path.c_str());
    EXPECT_EQ(in.mode(), CDataBuffer::kModeRead);
    EXPECT_EQ(in.capacity(), 15);
    EXPECT_STREQ(in.name(), path.c_str());
    EXPECT_EQ(in.ReadCount(15), 15);
    char text[128];
    in.ReadString(text, sizeof text);
    EXPECT_STREQ(text, "Hello");
    EXPECT_EQ(in.ReadByte(), 0xAB);
    EXPECT_EQ(in.ReadInt32(), -2);
    EXPECT_EQ(ErrorCodeOf([&] { in.ReadByte(); }), eInvalidData);
    in.Rewind();
    EXPECT_EQ(in.ReadInt32(), 15);
}

TEST(DataBuffer, ReadLimits) {
    struct Case {
        const char* what;
        std::string bytes;
        std::function<void(CDataBuffer&)> read;
        bool throws;
    };
    char text[16];
    uint8_t bytes[8];
    const std::vector<Case> cases = {
        {"string of limit-1 chars", std::string("abc\0", 4), [&](CDataBuffer& b) { b.ReadString(text, 4); }, false},
        {"string of limit chars", std::string("abcd\0", 5), [&](CDataBuffer& b) { b.ReadString(text, 4); }, true},
        {"string without NUL", "abc", [&](CDataBuffer& b) { b.ReadString(text, 16); }, true},
        {"empty string", std::string("\0", 1), [&](CDataBuffer& b) { b.ReadString(text, 1); }, false},
        {"count 15 of 15", std::string("\0\0\0\x0f", 4), [](CDataBuffer& b) { EXPECT_EQ(b.ReadCount(15), 15); }, false},
        {"count 1", std::string("\0\0\0\x01", 4), [](CDataBuffer& b) { EXPECT_EQ(b.ReadCount(15), 1); }, false},
        {"count 0", std::string("\0\0\0\0", 4), [](CDataBuffer& b) { b.ReadCount(15); }, true},
        {"count 16", std::string("\0\0\0\x10", 4), [](CDataBuffer& b) { b.ReadCount(15); }, true},
        {"count negative", "\xff\xff\xff\xff", [](CDataBuffer& b) { b.ReadCount(15); }, true},
        {"count short", std::string("\0\0\x0f", 3), [](CDataBuffer& b) { b.ReadCount(15); }, true},
        {"bytes exact", "12345678", [&](CDataBuffer& b) { b.ReadBytes(bytes, 8); }, false},
        {"bytes short", "1234567", [&](CDataBuffer& b) { b.ReadBytes(bytes, 8); }, true},
    };
    CTempDir dir;
    for (const Case& c : cases) {
        CDataBuffer buffer;
        LoadBytes(buffer, dir, c.bytes);
        const int32_t code = ErrorCodeOf([&] { c.read(buffer); });
        EXPECT_EQ(code, c.throws ? eInvalidData : 0) << c.what;
        if (!c.throws) {
            EXPECT_EQ(buffer.position(), static_cast<int32_t>(c.bytes.size())) << c.what;
        }
    }
    CDataBuffer buffer;
    LoadBytes(buffer, dir, std::string("abc\0", 4));
    buffer.ReadString(text, 4);
    EXPECT_STREQ(text, "abc");
}

TEST(DataBuffer, GrowthDoublesTheRequestOrTheCapacity) {
    CDataBuffer buffer;
    const char bytes[32] = {};
    const struct {
        int32_t append;
        int32_t capacity;
    } steps[] = {{10, 20}, {15, 50}, {5, 50}, {21, 100}};
    int32_t written = 0;
    for (const auto& step : steps) {
        buffer.AppendBytes(bytes, step.append);
        written += step.append;
        EXPECT_EQ(buffer.capacity(), step.capacity) << "after " << written;
        EXPECT_EQ(buffer.ContentLength(), written);
    }
    buffer.InitWritable(1024);
    EXPECT_EQ(buffer.capacity(), 1024);
    EXPECT_EQ(buffer.position(), 0);
    buffer.AppendBytes(bytes, 32);
    EXPECT_EQ(buffer.capacity(), 1024);
}

TEST(DataBuffer, ScrambleFormulaMarginsAndInverse) {
    // Zero content shows the key stream itself: (i*i + key[i % n]) % 256, 0 -> 1.
    CDataBuffer zeros;
    const uint8_t zeroKey[] = {0};
    const std::vector<uint8_t> nothing(40, 0);
    zeros.AppendBytes(nothing.data(), 40);
    zeros.Scramble(0, zeroKey, 1);
    const struct {
        int index;
        uint8_t value;
    } expected[] = {{0, 1}, {1, 1}, {2, 4}, {15, 225}, {16, 1}, {17, 33}, {39, (39 * 39) % 256}};
    for (const auto& e : expected) EXPECT_EQ(zeros.data()[e.index], e.value) << "index " << e.index;

    CDataBuffer plain;
    plain.AppendBytes(nothing.data(), 13);
    plain.Scramble(4, kKey, 9);
    // index 4: 16 + 't' (116) = 132
    EXPECT_EQ(plain.data()[4], 132);
    for (int i : {0, 1, 2, 3, 9, 10, 11, 12}) EXPECT_EQ(plain.data()[i], 0) << "margin byte " << i;
    plain.Scramble(4, kKey, 9);
    EXPECT_EQ(std::memcmp(plain.data(), nothing.data(), 13), 0);

    for (int32_t length : {0, 1, 8}) {
        CDataBuffer small;
        small.AppendBytes(nothing.data(), length);
        small.Scramble(4, kKey, 9);
        if (length > 0) {
            EXPECT_EQ(std::memcmp(small.data(), nothing.data(), length), 0) << length;
        }
    }
}

TEST(DataBuffer, NamesArePathsUpToTheLimitNeverShortened) {
    CTempDir dir;
    const std::string longest(kMaxPathLength, 'a');
    CDataBuffer buffer;
    buffer.InitWritable(8, longest.c_str());
    EXPECT_EQ(std::string(buffer.name()), longest);

    const std::string tooLong = dir.path() + "/" + std::string(kMaxPathLength, 'b');
    EXPECT_EQ(ErrorCodeOf([&] { buffer.InitWritable(8, tooLong.c_str()); }), ENAMETOOLONG);
    EXPECT_EQ(ErrorCodeOf([&] { buffer.LoadFromFile(tooLong.c_str()); }), ENAMETOOLONG);
    buffer.InitWritable(8, dir.File("x").c_str());
    buffer.AppendByte(1);
    EXPECT_EQ(ErrorCodeOf([&] { buffer.SaveToFile(tooLong.c_str()); }), ENAMETOOLONG);
    EXPECT_FALSE(FileExists(tooLong.substr(0, kMaxPathLength).c_str()));

    // Loading into a buffer by its own name works.
    buffer.SaveToFile();
    buffer.LoadFromFile(buffer.name());
    EXPECT_EQ(buffer.ReadByte(), 1);
}

TEST(DataBuffer, LoadFailures) {
    CTempDir dir;
    CDataBuffer buffer;
    EXPECT_EQ(ErrorCodeOf([&] { buffer.LoadFromFile(dir.File("missing").c_str()); }), eFileNotFound);
    EXPECT_NE(ErrorCodeOf([&] { buffer.LoadFromFile(dir.Write("empty", "").c_str()); }), 0);
    EXPECT_EQ(buffer.data(), nullptr);
}
