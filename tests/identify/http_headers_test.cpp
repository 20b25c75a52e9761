#include "identify/http_headers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SHeaderCase {
    const char* label;
    std::string block;
    bool ok;
    std::vector<std::pair<std::string, std::string>> headers;
};

TEST(HttpHeaders, ParsesBlocks) {
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "H" + std::to_string(i) + ": v\r\n";
    std::vector<std::pair<std::string, std::string>> tenParsed;
    for (int i = 0; i < 10; ++i) tenParsed.push_back({"H" + std::to_string(i), "v"});

    const SHeaderCase cases[] = {
        {"two headers", "Server: x\r\nContent-Type: text/xml\r\n\r\n", true,
         {{"Server", "x"}, {"Content-Type", "text/xml"}}},
        {"no headers", "\r\n", true, {}},
        {"blanks after colon skipped, trailing blanks and name kept as is",
         "X-A :\t  v w  \r\n\r\n", true, {{"X-A ", "v w  "}}},
        {"continuation lines join without separator",
         "A: one\r\n  two\r\n\tthree\r\nB: b\r\n\r\n", true, {{"A", "onetwothree"}, {"B", "b"}}},
        {"bare LF line ends", "A: 1\nB: 2\n\n", true, {{"A", "1"}, {"B", "2"}}},
        {"eleventh header ignored, even a bad one", ten + "Transfer-Encoding chunked\r\n\r\n", true,
         tenParsed},
        {"name search crosses the line end", "Odd\r\nName: v\r\n\r\n", true, {{"Odd\r\nName", "v"}}},
        {"no colon left", "A: 1\r\nbroken\r\n\r\n", false, {{"A", "1"}}},
        {"value without line end", "A: 1", false, {}},
    };
    for (const SHeaderCase& c : cases) {
        SCOPED_TRACE(c.label);
        CHttpHeaders h;
        EXPECT_EQ(h.Parse(c.block.data(), c.block.size()), c.ok);
        ASSERT_EQ(h.Count(), static_cast<int32_t>(c.headers.size()));
        for (size_t i = 0; i < c.headers.size(); ++i) {
            EXPECT_EQ(h.Name(static_cast<int32_t>(i)), c.headers[i].first);
            EXPECT_EQ(h.Value(static_cast<int32_t>(i)), c.headers[i].second);
        }
    }
}

TEST(HttpHeaders, CutsNamesAndValuesAndFindsAnyCase) {
    std::string name(60, 'n');
    std::string value(1500, 'v');
    std::string block = name + ": " + value + "\r\nLOCATION: http://h/x\r\n\r\n";
    CHttpHeaders h;
    ASSERT_TRUE(h.Parse(block.data(), block.size()));
    EXPECT_EQ(std::string(h.Name(0)), std::string(47, 'n'));
    EXPECT_EQ(std::string(h.Value(0)), std::string(1023, 'v'));
    ASSERT_NE(h.Find("location"), nullptr);
    EXPECT_STREQ(h.Find("location"), "http://h/x");
    EXPECT_EQ(h.Find("Content-Type"), nullptr);
}

}  // namespace
