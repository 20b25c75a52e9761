#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/xml_reader.h"
#include "support/temp_dir.h"

namespace {

struct ExpectedNode {
    bool isTag;
    const char* text;
    int32_t parent;
};

void Parse(CXmlDocument& document, const std::string& text) {
    ParseXml(document, text.data(), text.size());
}

void ExpectNodes(const CXmlDocument& document, const std::vector<ExpectedNode>& expected) {
    ASSERT_EQ(document.Count(), static_cast<int32_t>(expected.size()));
    for (int32_t i = 0; i < document.Count(); ++i) {
        const CXmlNode& node = *document.At(i);
        const ExpectedNode& want = expected[static_cast<size_t>(i)];
        EXPECT_EQ(node.isTag, want.isTag) << "node " << i;
        EXPECT_EQ(node.text, want.text) << "node " << i;
        EXPECT_EQ(node.index, i);
        EXPECT_EQ(node.parent, want.parent) << "node " << i;
    }
}

int32_t ParseError(const std::string& text, CXmlDocument* keep = nullptr) {
    CXmlDocument local;
    try {
        Parse(keep != nullptr ? *keep : local, text);
    } catch (CError e) {
        return e.code;
    }
    return 0;
}

}  // namespace

TEST(XmlReader, BuildsFlatNodeArrayInDocumentOrder) {
    CXmlDocument document;
    Parse(document,
          "junk before <?xml version=\"1.0\"?>\n"
          "<!DOCTYPE plist>\n"
          "<plist version=\"1.0\">\n"
          "  <dict>\n"
          "    <key>Name</key><string> Rock &amp; Roll\t</string>\n"
          "    <true/><empty></empty>\n"
          "  </dict>\n"
          "</PLIST>\n"
          "trailing text without a tag");
    ExpectNodes(document, {
                              {true, "?xml version=\"1.0\"?", -1},     // 0
                              {true, "!DOCTYPE plist", -1},            // 1 opens, never closed
                              {true, "plist version=\"1.0\"", 1},      // 2
                              {true, "dict", 2},                       // 3
                              {true, "key", 3},                        // 4
                              {false, "Name", 4},                      // 5
                              {true, "/key", 4},                       // 6 parent: the element it closes
                              {true, "string", 3},                     // 7
                              {false, "Rock &amp; Roll\t", 7},         // 8 entity kept, trailing tab kept
                              {true, "/string", 7},                    // 9
                              {true, "true/", 3},                      // 10
                              {true, "empty", 3},                      // 11
                              {true, "/empty", 11},                    // 12
                              {true, "/dict", 3},                      // 13
                              {true, "/PLIST", 2},                     // 14 case-insensitive, cut at space
                          });
}

TEST(XmlReader, TrimsTextBetweenTags) {
    struct Case {
        const char* between;
        const char* text;  // null: no text node
    } cases[] = {
        {"plain", "plain"},
        {" \n\r\tlead", "lead"},
        {"trail \r\n \n", "trail"},
        {"tab\t", "tab\t"},
        {"tab\t \n", "tab\t"},
        {"in  side", "in  side"},
        {" \t\r\n ", nullptr},
        {"", nullptr},
        {"&lt;&#233;", "&lt;&#233;"},
    };
    for (const Case& c : cases) {
        CXmlDocument document;
        Parse(document, std::string("<?xml?><a>") + c.between + "</a>");
        if (c.text == nullptr) {
            EXPECT_EQ(document.Count(), 3) << c.between;
        } else {
            ASSERT_EQ(document.Count(), 4) << c.between;
            EXPECT_FALSE(document.At(2)->isTag);
            EXPECT_EQ(document.At(2)->text, c.text);
        }
    }
}

TEST(XmlReader, RejectsMalformedTexts) {
    struct Case {
        const char* text;
        int32_t code;
    } cases[] = {
        {"<a>no declaration</a>", -68},
        {"", -68},
        {"<?XML version=\"1.0\"?><a/>", -68},                      // declaration match is exact
        {"<?xml?></a>", -68},                                       // close with nothing open
        {"<?xml?><a><b></a></b>", -68},                             // a closed while b open
        {"<?xml?><a><!-- note --></a>", -68},                       // a comment opens an element
        {"<?xml?><a ></a >", -68},                                  // closing name is not cut
        {"<?xml?><a><b></B></A>", 0},
        {"<?xml?><a x=\"1\"><b></b>", 0},                           // left open at the end
        {"<?xml?><!-- top --><a></a>", 0},                          // comment never closed
        {"<?xml?><a><x/><br/></a>", 0},                             // self-closing, one-letter names too
        {"<?xml?><a>1 < 2</a>", 0},                                 // "<" opens a tag up to ">"
        {"<?xml?><a>unterminated <b", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseError(c.text), c.code) << c.text;
}

TEST(XmlReader, KeepsNodesAddedBeforeFailure) {
    CXmlDocument document;
    EXPECT_EQ(ParseError("<?xml?><a><b>text</a><c>", &document), -68);
    ExpectNodes(document, {{true, "?xml?", -1}, {true, "a", -1}, {true, "b", 1}, {false, "text", 2},
                           {true, "/a", 2}});
    FreeXml(document);
    EXPECT_EQ(document.Count(), 0);
    EXPECT_EQ(document.Capacity(), 0);
    Parse(document, "<?xml?><a/>");
    EXPECT_EQ(document.Count(), 2);
}

TEST(XmlReader, HonoursTheGivenLength) {
    std::string text = "<?xml?><a>one</a><b>two</b>";
    CXmlDocument document;
    ParseXml(document, text.data(), text.find("<b>"));
    EXPECT_EQ(document.Count(), 4);

    // A declaration behind the length does not count.
    CXmlDocument cut;
    EXPECT_THROW(ParseXml(cut, text.data(), 4), CError);
    EXPECT_THROW(ParseXml(cut, nullptr, 0), CError);

    // Appends to what is already there.
    ParseXml(document, text.data(), text.size());
    EXPECT_EQ(document.Count(), 4 + 7);
    EXPECT_EQ(document.At(10)->index, 10);
}

TEST(XmlReader, NodeArrayGrowsToTwiceCapacityPlusOne) {
    CXmlDocument document;
    EXPECT_EQ(document.Capacity(), 0);
    std::string text = "<?xml?>";
    std::vector<int32_t> seen;
    for (int i = 0; i < 15; ++i) text += "<x/>";
    const int32_t expected[] = {1, 3, 3, 7, 7, 7, 7, 15, 15, 15, 15, 15, 15, 15, 15, 31};
    for (int32_t count = 1; count <= 16; ++count) {
        CXmlDocument partial;
        ParseXml(partial, text.data(), static_cast<size_t>(7 + (count - 1) * 4));
        ASSERT_EQ(partial.Count(), count);
        seen.push_back(partial.Capacity());
    }
    EXPECT_EQ(seen, std::vector<int32_t>(std::begin(expected), std::end(expected)));
}

TEST(XmlReader, FindElementSearchesFromStartParentOrBeginning) {
    CXmlDocument document;
    Parse(document,
          "<?xml?><root>"                              // 0 1
          "<key>A</key><string>1</string>"             // 2-4 5-7
          "<dict><key>A</key><string>2</string>"       // 8, 9-11, 12-14
          "<key>B</key></dict>"                        // 15-17, 18
          "<key>B</key><key>A</key></root>");          // 19-21, 22-24, 25
    const CXmlNode* dict = document.At(8);

    struct Case {
        const char* name;
        const char* following;
        int32_t start;   // -1: none
        int32_t parent;  // -1: none
        int32_t found;   // -1: none
    } cases[] = {
        {"key", nullptr, -1, -1, 2},
        {"key", "B", -1, -1, 15},
        {"key", "B", 16, -1, 19},
        {"key", "A", 3, -1, 9},
        {"key", nullptr, -1, 8, 9},    // from just behind the parent
        {"key", "B", -1, 1, 19},       // child of root, skips the dict's key B
        {"key", "A", 10, 1, 22},
        {"key", "A", 2, -1, 2},        // start is inclusive
        {"KEY", nullptr, -1, -1, -1},  // names compare exactly
        {"key", "C", -1, -1, -1},
        {"string", "1", -1, 8, -1},
        {"/key", nullptr, -1, -1, 4},
    };
    for (const Case& c : cases) {
        const CXmlNode* found = FindElement(document, c.name, c.following, document.At(c.start),
                                            document.At(c.parent));
        EXPECT_EQ(found == nullptr ? -1 : found->index, c.found)
            << c.name << " " << (c.following ? c.following : "-") << " " << c.start << " " << c.parent;
    }
    EXPECT_EQ(FindElement(document, "string", nullptr, nullptr, dict)->index, 12);
    EXPECT_EQ(FindElement(document, nullptr), nullptr);
}

TEST(XmlReader, FindElementIndexReturnsTagOrFollowingText) {
    CXmlDocument document;
    Parse(document,
          "<?xml?><root>"                            // 0 1
          "<dict><key>A</key></dict>"                // 2, 3-5, 6
          "<key>B</key><key>A</key></root>");        // 7-9, 10-12
    struct Case {
        const char* name;
        const char* following;
        int32_t start;
        int32_t parent;
        int32_t result;
    } cases[] = {
        {"key", nullptr, 0, -1, 3},
        {"key", nullptr, 0, 1, 3},   // parent ignored without following text
        {"key", nullptr, 4, -1, 7},
        {"key", "A", 0, -1, 4},      // index of the text node
        {"key", "A", 0, 1, 11},
        {"key", "A", 0, 2, 4},
        {"key", "B", 0, 2, -1},
        {"key", "A", 5, -1, 11},
        {"key", nullptr, 13, -1, -1},
        {"key", nullptr, -5, -1, 3},
        {"root", "A", 0, -1, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindElementIndex(document, c.name, c.following, c.start, c.parent), c.result)
            << c.name << " " << (c.following ? c.following : "-") << " " << c.start << " " << c.parent;
}

TEST(XmlReader, ElementTextOfContentEmptyAndMissing) {
    CXmlDocument document;
    Parse(document, "<?xml?><a><s>x &amp; y</s><e></e><t/><n><k>1</k></n></a>");
    // 0 decl, 1 a, 2 s, 3 text, 4 /s, 5 e, 6 /e, 7 t/, 8 n, 9 k, 10 1, 11 /k, 12 /n, 13 /a
    struct Case {
        int32_t node;
        const char* text;  // null: none
    } cases[] = {
        {2, "x &amp; y"}, {5, ""}, {7, nullptr}, {8, "k"}, {3, nullptr}, {4, nullptr}, {13, nullptr},
    };
    for (const Case& c : cases) {
        const char* text = ElementText(document, document.At(c.node));
        if (c.text == nullptr)
            EXPECT_EQ(text, nullptr) << c.node;
        else
            EXPECT_STREQ(text, c.text) << c.node;
    }
    EXPECT_EQ(ElementText(document, nullptr), nullptr);
}

TEST(XmlReader, ParsesRealLibraryFiles) {
    struct Case {
        const char* file;
        int tracks;
        int playlists;
    } cases[] = {
        {"itunes/Mac-iTunes-Library__iTunes_Music_Library.xml", 18, 2},
        {"itunes/itunes-library__25.xml", 22, 7},
    };
    for (const Case& c : cases) {
        std::string bytes = ReadFileBytes(CorpusFile(c.file));
        ASSERT_FALSE(bytes.empty()) << c.file;
        CXmlDocument document;
        ASSERT_NO_THROW(ParseXml(document, bytes.data(), bytes.size())) << c.file;

        // Count the dict children of the "Tracks" dict and the "Playlists" array.
        auto count = [&](const char* key, const char* container) {
            const CXmlNode* at = FindElement(document, "key", key);
            if (at == nullptr) return -1;
            const CXmlNode* holder = FindElement(document, container, nullptr, at);
            if (holder == nullptr) return -1;
            int n = 0;
            for (const CXmlNode* d = FindElement(document, "dict", nullptr, nullptr, holder); d != nullptr;
                 d = FindElement(document, "dict", nullptr, document.At(d->index + 1), holder))
                ++n;
            return n;
        };
        EXPECT_EQ(count("Tracks", "dict"), c.tracks) << c.file;
        EXPECT_EQ(count("Playlists", "array"), c.playlists) << c.file;

        const CXmlNode* name = FindElement(document, "key", "Name");
        ASSERT_NE(name, nullptr);
        const char* value = ElementText(document, FindElement(document, "string", nullptr, name));
        ASSERT_NE(value, nullptr);
        EXPECT_GT(std::strlen(value), 0u);
    }
}
