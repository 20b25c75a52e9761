#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "update/version_check.h"

namespace {

std::string Plist(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\">\n"
           "<plist version=\"1.0\"><dict>\n" + entries + "</dict></plist>\n";
}

std::string Entry(const std::string& key, const std::string& value, const std::string& kind = "string") {
    return "<key>" + key + "</key><" + kind + ">" + value + "</" + kind + ">\n";
}

CVersionCheck Parse(const std::string& text) {
    CVersionCheck check;
    ParseVersionDocument(text.c_str(), text.size(), check);
    return check;
}

TEST(VersionDocument, ReadsEveryKey) {
    const CVersionCheck check = Parse(Plist(
        Entry("productVersion", "2.1") +
        Entry("productReleaseNotes", "Faster &amp; &quot;better&quot;") +
        Entry("productDownloadURL", "http://host/Melodex-2.1.tar.gz") +
        Entry("productFileSize", "1,234 KB") +
        Entry("fileReleaseDateD", "11", "integer") + Entry("fileReleaseDateM", "12", "integer") +
        Entry("fileReleaseDateY", "2026", "integer")));
    EXPECT_EQ(check.version, "2.1");
    EXPECT_EQ(check.releaseNotes, "Faster & \"better\"");
    EXPECT_EQ(check.downloadUrl, "http://host/Melodex-2.1.tar.gz");
    EXPECT_EQ(check.fileSize, 1263616);
    EXPECT_EQ(check.releaseDate, "Friday, December 11, 2026");
    EXPECT_EQ(NewVersionMessage(check), "Version 2.1 of Melodex\nwas released on Friday, December 11, 2026.");
}

TEST(VersionDocument, EdgeCasesOfTheKeys) {
    // A zero day gives no date; the URL may be wrapped in a further element;
    // a key's name must be the whole text of the key element.
    const CVersionCheck check = Parse(Plist(
        Entry("productVersionX", "9.9") + Entry("productVersion", "0.9") +
        Entry("productDownloadURL", "<a>http://host/u.zip</a>") +
        Entry("fileReleaseDateD", "0") + Entry("fileReleaseDateM", "3") + Entry("fileReleaseDateY", "2025")));
    EXPECT_EQ(check.version, "0.9");
    EXPECT_EQ(check.downloadUrl, "http://host/u.zip");
    EXPECT_EQ(check.releaseDate, "");
    EXPECT_EQ(check.fileSize, 0);
    EXPECT_EQ(NewVersionMessage(check), "Version 0.9 of Melodex is available!");
}

TEST(VersionDocument, UnreadableDocumentsNameNoVersion) {
    const std::string cases[] = {
        "",
        "not xml at all",
        "<?xml version=\"1.0\"?><plist><dict><key>productVersion</key></plist>",  // mismatched close
        Plist(Entry("productReleaseNotes", "only notes")),
        Plist(Entry("productVersion", "", "string")),  // empty value: the node there is a tag
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Parse(text).version, "");
    }
}

TEST(VersionDocument, SizeSkipsOtherCharactersAndSaturates) {
    EXPECT_EQ(Parse(Plist(Entry("productFileSize", "99999999999"))).fileSize, INT32_MAX);
    EXPECT_EQ(Parse(Plist(Entry("productFileSize", "v2: 048"))).fileSize, 2048 * 1024);
}

TEST(VersionDocument, LongDateRejectsDaysThatDoNotExist) {
    EXPECT_EQ(LongDateText(29, 2, 2024), "Thursday, February 29, 2024");
    EXPECT_EQ(LongDateText(1, 1, 2000), "Saturday, January 1, 2000");
    EXPECT_EQ(LongDateText(30, 2, 2024), "");
    EXPECT_EQ(LongDateText(1, 13, 2024), "");
    EXPECT_EQ(LongDateText(-1, 1, 2024), "");
}

}  // namespace
