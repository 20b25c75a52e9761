#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "foundation/text.h"

TEST(ErrorMessage, FormatsTableRowsAndUnknownCodes) {
    struct Case {
        int32_t code;
        const char* text;
    } cases[] = {
        {-3263, "Host Not Found (Error# -3263)"},
        {-43, "File Not Found (Error# -43)"},
        {0, "Unknown Error (Error# 0)"},
        {-1, "Unspecified Eror (Error# -1)"},
        {-2415, "Nework Timeout Error (Error# -2415)"},
        {13, "Permission denied (Error# 13)"},
        {66, "Can't delete folder: it is not empty (Error# 66)"},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorMessage(c.code), c.text) << c.code;

    char small[8];
    ErrorMessage(-43, small, sizeof small);
    EXPECT_STREQ(small, "File No");
}

TEST(ThrowErrno, TranslatesErrnoOrKeepsInitialCode) {
    struct Case {
        int32_t initial;
        int err;
        int32_t expected;
    } cases[] = {
        {0, 2, -43}, {0, 1, -45}, {0, 12, -41}, {0, 17, -1301}, {0, 89, -128},
        {0, 0, -1},  {0, 28, 28}, {-68, 2, -68}, {13, 0, 13},
    };
    for (const Case& c : cases) {
        errno = c.err;
        try {
            ThrowErrno(c.initial);
            FAIL() << "did not throw";
        } catch (CError e) {
            EXPECT_EQ(e.code, c.expected) << c.initial << "/" << c.err;
        }
    }
}

TEST(Allocators, ThrowOutOfMemory) {
    try {
        // More than any address space can give; the allocator must throw, not return null.
        void* p = AllocOrThrow(SIZE_MAX / 2);
        std::free(p);
        FAIL() << "did not throw";
    } catch (CError e) {
        EXPECT_EQ(e.code, -41);
    }
    void* p = AllocOrThrow(0);
    EXPECT_NE(p, nullptr);
    p = ReallocOrThrow(p, 100);
    EXPECT_NE(p, nullptr);
    std::free(p);
}

TEST(BoundedText, CopyAppendPrependCut) {
    char buf[4] = "xyz";
    char* end = CopyBounded(buf, sizeof buf, "abcdef");
    EXPECT_STREQ(buf, "abc");
    EXPECT_EQ(end, buf + 3);
    CopyBounded(buf, 1, "abc");
    EXPECT_STREQ(buf, "");

    char app[8] = "ab";
    AppendBounded(app, sizeof app, "cdefghij");
    EXPECT_STREQ(app, "abcdefg");

    char pre[8] = "world";
    PrependBounded(pre, sizeof pre, "hi ");
    EXPECT_STREQ(pre, "hi worl");

    char fmt[6];
    FormatBounded(fmt, sizeof fmt, "%d-%s", 1234, "abcd");
    EXPECT_STREQ(fmt, "1234-");
}

TEST(BoundedText, ExtractBetweenAndFind) {
    char out[16] = "untouched";
    const char* text = "x<b>bold</b> <I>it</i>";
    const char* after = ExtractBetween(text, "<b>", "</b>", out, sizeof out);
    EXPECT_STREQ(out, "bold");
    ASSERT_NE(after, nullptr);
    EXPECT_STREQ(after, " <I>it</i>");

    // The end marker only before the start marker: nothing found, output kept.
    CopyBounded(out, sizeof out, "untouched");
    EXPECT_EQ(ExtractBetween("</b> <b>x", "<b>", "</b>", out, sizeof out), nullptr);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(ExtractBetween(text, "<i>", "</i>", out, sizeof out), nullptr);

    ASSERT_NE(ExtractBetweenNoCase(text, "<i>", "</I>", out, sizeof out), nullptr);
    EXPECT_STREQ(out, "it");

    char tiny[3];
    ExtractBetween(text, "<b>", "</b>", tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "bo");

    EXPECT_STREQ(FindAfter("key=value", "="), "value");
    EXPECT_EQ(FindAfter("key", "="), nullptr);
    EXPECT_STREQ(SkipBlanks(" \t x "), "x ");
    char trim[] = "ab \t ";
    EXPECT_EQ(TrimTrailingBlanks(trim), trim + 2);
    EXPECT_STREQ(trim, "ab");
    char up[] = "Mixed 1a";
    UpperCaseInPlace(up);
    EXPECT_STREQ(up, "MIXED 1A");
}

TEST(BoundedText, ParseDecimalField) {
    struct Case {
        const char* text;
        const char* delims;
        bool ok;
        int64_t value;
        const char* rest;
    } cases[] = {
        {"  204\r\n", "\r", true, 204, "\n"},
        {"42", " ", true, 42, ""},
        {"\t7 OK", " ", true, 7, "OK"},
        {"123456789012345678901234567890123", "\r", false, 0, nullptr},  // 33 digits
        {"12345678901234567890123456789012", "\r", true, INT64_MAX, ""},  // 32 digits saturate
        {"", "\r", false, 0, nullptr},
        {"\r\n", "\r", false, 0, nullptr},
        {"2a4\r", "\r", false, 0, nullptr},
    };
    for (const Case& c : cases) {
        int64_t value = -5;
        const char* rest = ParseDecimalField(c.text, c.delims, &value);
        EXPECT_EQ(rest != nullptr, c.ok) << c.text;
        if (c.ok && rest) {
            EXPECT_EQ(value, c.value) << c.text;
            EXPECT_STREQ(rest, c.rest) << c.text;
        }
    }
}

TEST(OwnedStrings, AssignDuplicateFree) {
    char* s = nullptr;
    AssignString(&s, "first");
    AssignString(&s, "second");
    EXPECT_STREQ(s, "second");
    AssignBytes(&s, "a\0b", 3);
    EXPECT_EQ(std::memcmp(s, "a\0b\0", 4), 0);
    char* d = DuplicateString("copy");
    EXPECT_STREQ(d, "copy");
    FreeAndNull(&s);
    FreeAndNull(&d);
    EXPECT_EQ(s, nullptr);
}

TEST(Formatting, DurationAndSize) {
    struct Dur {
        int64_t seconds;
        const char* text;
    } durations[] = {{3725, "01:02:05"}, {59, "00:00:59"}, {360000, "100:00:00"}, {0, "00:00:00"}};
    char out[32];
    for (const Dur& d : durations) {
        FormatDuration(out, sizeof out, d.seconds);
        EXPECT_STREQ(out, d.text);
    }

    struct Size {
        int64_t bytes;
        bool longUnits;
        const char* text;
    } sizes[] = {
        {1023, false, "1023 bytes"},          {1024, false, "1.0 KB"},
        {1536, true, "1.5 kilobytes"},        {1048575, false, "1024.0 KB"},
        {1048576, false, "1.0 MB"},           {1073741824, false, "1.0 GB"},
        {-5, false, "-5 bytes"},              {5368709120LL, true, "5.0 gigabytes"},
        {1572864, true, "1.5 megabytes"},
    };
    for (const Size& s : sizes) {
        FormatSize(out, sizeof out, s.bytes, s.longUnits);
        EXPECT_STREQ(out, s.text) << s.bytes;
    }
}
