#include "foundation/xml_reader.h"

#include <new>
#include <string_view>

#include "foundation/errors.h"

namespace {

// Names are compared in work buffers of this size, so longer names compare
// on their first 1023 bytes.
constexpr size_t kNameWork = 1024;

int32_t AddNode(CXmlDocument& document, bool isTag, std::string_view text, int32_t parent) {
    int32_t index = document.Count();
    document.nodes.Append(CXmlNode{isTag, std::string(text), index, parent});
    return index;
}

// Leading blanks include tabs, trailing ones do not: a trailing tab is kept.
std::string_view TrimText(std::string_view text) {
    size_t first = text.find_first_not_of(" \n\r\t");
    if (first == std::string_view::npos) return {};
    text.remove_prefix(first);
    size_t last = text.find_last_not_of(" \n\r");
    return text.substr(0, last + 1);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view WorkName(std::string_view name) {
    if (name.size() > kNameWork - 1) name = name.substr(0, kNameWork - 1);
    return name;
}

// The name of a closing tag against the open element's text cut at its first space.
bool ClosesElement(std::string_view closingName, std::string_view openText) {
    size_t space = openText.find(' ');
    if (space != std::string_view::npos) openText = openText.substr(0, space);
    std::string_view a = WorkName(closingName);
    std::string_view b = WorkName(openText);
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

void Parse(CXmlDocument& document, std::string_view all) {
    size_t declaration = all.find("<?xml");
    if (declaration == std::string_view::npos) throw CError{eInvalidData};

    int32_t open = -1;
    bool inTag = false;
    size_t segment = declaration;  // start of the pending text or of the tag's text
    for (size_t i = declaration; i < all.size(); ++i) {
        char c = all[i];
        if (!inTag) {
            if (c != '<') continue;
            std::string_view text = TrimText(all.substr(segment, i - segment));
            if (!text.empty()) AddNode(document, false, text, open);
            inTag = true;
            segment = i + 1;
        } else if (c == '>') {
            std::string_view text = all.substr(segment, i - segment);
            int32_t index = AddNode(document, true, text, open);
            inTag = false;
            segment = i + 1;
            if (!text.empty() && text.front() == '/') {
                if (open < 0) throw CError{eInvalidData};
                const CXmlNode& element = document.nodes[open];
                if (!ClosesElement(text.substr(1), element.text)) throw CError{eInvalidData};
                open = element.parent;
            } else if (!text.empty() && text.front() == '?') {
                // Declaration: no element.
            } else if (text.size() >= 2 && text.back() == '/') {
                // Self-closing, including one-letter names such as <a/>.
            } else {
                open = index;
            }
        }
    }
}

}  // namespace

CXmlDocument::~CXmlDocument() { FreeXml(*this); }

const CXmlNode* CXmlDocument::At(int32_t index) const {
    if (index < 0 || index >= Count()) return nullptr;
    return &nodes[index];
}

void ParseXml(CXmlDocument& document, const char* bytes, size_t length) {
    if (bytes == nullptr) length = 0;
    try {
        Parse(document, std::string_view(bytes == nullptr ? "" : bytes, length));
    } catch (const std::bad_alloc&) {
        throw CError{eOutOfMemory};
    }
}

const CXmlNode* FindElement(const CXmlDocument& document, const char* name,
                            const char* followingText, const CXmlNode* start,
                            const CXmlNode* parent) {
    if (name == nullptr) return nullptr;
    int32_t from = start != nullptr ? start->index : parent != nullptr ? parent->index + 1 : 0;
    if (from < 0) from = 0;
    for (int32_t i = from; i < document.Count(); ++i) {
        const CXmlNode& node = document.nodes[i];
        if (!node.isTag || node.text != name) continue;
        if (parent != nullptr && node.parent != parent->index) continue;
        if (followingText != nullptr) {
            const CXmlNode* next = document.At(i + 1);
            if (next == nullptr || next->isTag || next->text != followingText) continue;
        }
        return &node;
    }
    return nullptr;
}

int32_t FindElementIndex(const CXmlDocument& document, const char* name,
                         const char* followingText, int32_t start, int32_t parent) {
    if (name == nullptr) return -1;
    for (int32_t i = start < 0 ? 0 : start; i < document.Count(); ++i) {
        const CXmlNode& node = document.nodes[i];
        if (!node.isTag || node.text != name) continue;
        if (followingText == nullptr) return i;
        if (parent != -1 && node.parent != parent) continue;
        const CXmlNode* next = document.At(i + 1);
        if (next != nullptr && !next->isTag && next->text == followingText) return i + 1;
    }
    return -1;
}

const char* ElementText(const CXmlDocument& document, const CXmlNode* tag) {
    if (tag == nullptr || !tag->isTag) return nullptr;
    const CXmlNode* next = document.At(tag->index + 1);
    if (next == nullptr || next->parent != tag->index) return nullptr;
    if (next->isTag && !next->text.empty() && next->text.front() == '/') return "";
    return next->text.c_str();
}

void FreeXml(CXmlDocument& document) {
    document.nodes.Release();
}
