#include "foundation/latin1.h"

#include <gtest/gtest.h>

namespace {

TEST(Latin1Test, FileNamesBetweenApplicationTextAndUtf8) {
    EXPECT_EQ(EncodeLatin1AsUtf8("Caf\xe9 \xff\x7f"), "Caf\xc3\xa9 \xc3\xbf\x7f");
    struct Case {
        const char* utf8;
        const char* latin1;
    };
    const Case cases[] = {
        {"Caf\xc3\xa9", "Caf\xe9"},             // within ISO-8859-1
        {"\xe2\x82\xac 5", "? 5"},              // the euro sign is not
        {"\xf0\x9f\x8e\xb5", "?"},              // four-byte sequence
        {"Caf\xe9", "Caf\xe9"},                 // not UTF-8: kept as it is
        {"\xc3", "\xc3"},                       // cut sequence
        {"\xc0\xaf", "\xc0\xaf"},               // overlong "/" is no character
        {"\xed\xa0\x80", "\xed\xa0\x80"},       // surrogate
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeUtf8ToLatin1(c.utf8), c.latin1) << c.utf8;
}

TEST(Latin1Test, PrefixNeverSplitsACharacter) {
    const std::string text = "a\xc3\xa9\xe2\x82\xac";  // a, e-acute (2 bytes), euro (3 bytes)
    EXPECT_EQ(Utf8PrefixLength(text, 10), 6u);
    EXPECT_EQ(Utf8PrefixLength(text, 6), 6u);
    EXPECT_EQ(Utf8PrefixLength(text, 5), 3u);
    EXPECT_EQ(Utf8PrefixLength(text, 4), 3u);
    EXPECT_EQ(Utf8PrefixLength(text, 2), 1u);
    EXPECT_EQ(Utf8PrefixLength(text, 0), 0u);
}

}  // namespace
