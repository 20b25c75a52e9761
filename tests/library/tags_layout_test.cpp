#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "library/id3v2_layout.h"
#include "tag_bytes.h"

using namespace tagbytes;

namespace {

CId3v2Layout Scan(const std::string& bytes) {
    return ScanId3v2(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Frame22(const std::string& id, const std::string& data) {
    const auto n = uint32_t(data.size());
    return id + std::string{char(n >> 16), char(n >> 8), char(n)} + data;
}

}  // namespace

TEST(ScanId3v2, FindsFramesTheLibraryWouldInflate) {
    const std::string compressed = Frame("APIC", BigEndian32(9) + "xx", 3, 0x0080);
    std::string extended = Tag({Frame("TIT2", Latin1("t")), compressed});
    extended[5] = 0x40;  // extended header of 6 bytes in front of the frames
    extended.insert(10, BigEndian32(6) + std::string(6, '\0'));
    extended[9] = char(extended[9] + 10);
    // Unsynchronised tag: the inserted 0x00 behind 0xFF shifts everything after it.
    std::string unsynced =
        Tag({"TIT2" + BigEndian32(3) + std::string("\0\0\0\xFF\x00x", 6), compressed});
    unsynced[5] = char(0x80);

    struct Case {
        const char* name;
        std::string bytes;
        int32_t major, frames;
        bool compressed, clean;
    } cases[] = {
        {"plain 2.3", Tag({Frame("TIT2", Latin1("t")), Frame("TPE1", Latin1("a"))}), 3, 2, false, true},
        {"2.3 compressed frame", Tag({Frame("TIT2", Latin1("t")), compressed}), 3, 2, true, true},
        {"behind an extended header", extended, 3, 2, true, true},
        {"unsynchronised tag", unsynced, 3, 2, true, true},
        {"2.2 compressed meta frame", Tag({Frame22("TT2", Latin1("t")), Frame22("CDM", "zzzz")}, 2), 2, 2, true, true},
        {"2.4 syncsafe sizes", Tag({Frame("TIT2", Latin1(std::string(200, 'x')), 4), Frame("TPE1", Latin1("a"), 4)}, 4),
         4, 2, false, true},
        {"damaged frame header", Tag({Frame("TIT2", Latin1("t")), Frame("ti t", "x")}), 3, 1, false, false},
        {"frame past the tag", Tag({Frame("TIT2", Latin1("t")) + "TPE1" + BigEndian32(999) + std::string(2, '\0')}, 3, 0), 3, 2,
         false, false},
    };
    for (const Case& c : cases) {
        const CId3v2Layout layout = Scan(c.bytes + "\xFF\xFB audio");
        EXPECT_TRUE(layout.present) << c.name;
        EXPECT_EQ(layout.tagLength, c.bytes.size()) << c.name;
        EXPECT_EQ(layout.major, c.major) << c.name;
        EXPECT_EQ(layout.frameCount, c.frames) << c.name;
        EXPECT_EQ(layout.hasCompressedFrame, c.compressed) << c.name;
        EXPECT_EQ(layout.clean, c.clean) << c.name;
    }
    EXPECT_FALSE(Scan("ID").present);
    EXPECT_FALSE(Scan("\xFF\xFB\x90\x00 no tag here").present);
    EXPECT_FALSE(Scan(Tag({}, 4, 32)).hasContent);
}
