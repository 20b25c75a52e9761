// Percent-encoding of query values and entity decoding of service answers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "identify/entities.h"
#include "identify/url_encode.h"

namespace {

std::string Encode(const std::string& text, size_t size = 1024) {
    std::vector<char> out(size + 1, 'X');
    UrlEncode(out.data(), size, text.c_str());
    EXPECT_EQ(out[size], 'X') << "wrote past the given size";
    return out.data();
}

std::string Decode(const std::string& text, size_t size = 0) {
    if (size == 0) {
        size = text.size() + 1;
    }
    std::vector<char> buffer(size + 1, 'X');
    std::copy(text.begin(), text.end(), buffer.begin());
    buffer[text.size()] = '\0';
    DecodeEntities(buffer.data(), size);
    EXPECT_EQ(buffer[size], 'X') << "wrote past the given size";
    return buffer.data();
}

TEST(UrlEncode, EscapesExactlyTheDelimiterSet) {
    const std::string escaped = "$&+,/:;=?@ \"<>#%{}|\\^~[]`";
    ASSERT_EQ(escaped.size(), 25u);
    for (char c : escaped) {
        char expected[4];
        std::snprintf(expected, sizeof expected, "%%%02X", static_cast<unsigned char>(c));
        EXPECT_EQ(Encode(std::string(1, c)), expected) << "character " << c;
    }
    // Every other byte passes unchanged: the rest of ASCII, control bytes and high bytes.
    for (int b = 1; b < 256; ++b) {
        if (escaped.find(static_cast<char>(b)) == std::string::npos) {
            const std::string one(1, static_cast<char>(b));
            EXPECT_EQ(Encode(one), one) << "byte " << b;
        }
    }
}

TEST(UrlEncode, FileNamesAndCuts) {
    struct Case {
        const char* text;
        size_t size;
        const char* expected;
    } cases[] = {
        {"Rock & Roll.mp3", 1024, "Rock%20%26%20Roll.mp3"},
        {"Caf\xE9 ~1.mp3", 1024, "Caf\xE9%20%7E1.mp3"},
        {"", 1024, ""},
        {"abc", 1, ""},
        {"abcdef", 4, "abc"},
        // An escape that does not fit whole is cut.
        {"ab cd", 5, "ab%2"},
        {"ab cd", 6, "ab%20"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.text, c.size), c.expected) << c.text << " size " << c.size;
    }
}

TEST(DecodeEntities, ReplacesRowsWithSingleByteText) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"&lt;", "<"},
        {"&lt ", "< "},
        {"a &amp b", "a & b"},
        {"&quot;x&quot;", "\"x\""},
        {"&nbsp;&ensp;&emsp;", "   "},
        {"&endash;&emdash;", "--"},
        {"&reg; &copy ", "\xAE \xA9 "},
        {"Bj&ouml;rk", "Bj\xF6rk"},
        {"Sigur R&oacute;s", "Sigur R\xF3s"},
        {"&Aring;&aelig;&szlig;", "\xC5\xE6\xDF"},
        {"&Ntilde &ntilde;", "\xD1 \xF1"},
        {"&Yacute;&yacute;", "Yy"},
        {"&pound;&cent;&laquo;&raquo;", "\xA3\xA2\xAB\xBB"},
        // UTF-8 sequences of the table.
        {"M\xC3\xA4" "dchen", "M\xE4" "dchen"},
        {"Stra\xC3\x9F" "e", "Stra\xDF" "e"},
        {"don\xC2\x92t", "don't"},
        // Unknown entities, numeric references and other UTF-8 stay.
        {"&hellip; &#233; \xC3\xA9", "&hellip; &#233; \xC3\xA9"},
        {"no entities", "no entities"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decode(c.text), c.expected) << c.text;
    }
}

TEST(DecodeEntities, SearchRestartsAtTheFirstRow) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        // "&lt;" (row 1) is found first; the text in front of it is copied as it is.
        {"&amp;&lt;", "&amp;<"},
        {"&lt;&amp;", "<&"},
        {"&eacute; &gt; &eacute;", "&eacute; > \xE9"},
        {"&AElig;&Oslash;", "&AElig;\xD8"},
        // A replacement is never scanned again.
        {"&amp;lt;", "&lt;"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Decode(c.text), c.expected) << c.text;
    }
}

TEST(DecodeEntities, LongAnswerWithManyEntities) {
    std::string text, expected;
    for (int i = 0; i < 2500; ++i) {
        text += "<song_name>Caf&eacute; &eacute;t&eacute;</song_name>";
        expected += "<song_name>Caf\xE9 \xE9t\xE9</song_name>";
    }
    // One earlier row at the end keeps every entity in front of it as it is.
    EXPECT_EQ(Decode(text, 131072), expected);
    EXPECT_EQ(Decode(text + "&amp;", 131072), text + "&");
}

}  // namespace
