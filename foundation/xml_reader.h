#pragma once
// A minimal XML reader: turns a text into a flat array of tag and text nodes
// in document order and offers linear searches over it. It only checks that
// closing tags match their open element; it decodes no entity or character
// reference, knows no CDATA and leaves attributes inside the tag text.
// Comments and "<!DOCTYPE" lines open elements that are never closed.

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/growable_array.h"

struct CXmlNode {
    // A tag (opening, closing, self-closing or declaration); otherwise text.
    bool isTag = false;
    // Tag: everything between "<" and ">". Text: the trimmed bytes between two tags.
    std::string text;
    // Own position in the document.
    int32_t index = 0;
    // Enclosing open element, -1 at top level; for a closing tag, the element it closes.
    int32_t parent = -1;
};

struct CXmlDocument {
    CXmlDocument() = default;
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    int32_t Count() const { return nodes.Count(); }
    // Null when index is outside the array.
    const CXmlNode* At(int32_t index) const;
    // Grows to twice the capacity plus one when full: 0, 1, 3, 7, 15, ...
    int32_t Capacity() const { return nodes.Capacity(); }

    CGrowableArray<CXmlNode> nodes;
};

// Appends the nodes of bytes[0, length) to the document, starting at the
// first "<?xml". Throws CError -68 when there is no declaration or a closing
// tag does not match the open element; nodes added before that stay.
void ParseXml(CXmlDocument& document, const char* bytes, size_t length);

// The first tag node named exactly `name`, searching from `start` (inclusive),
// else from just behind `parent`, else from the beginning. When `parent` is
// given the node must be its child; when `followingText` is given the next
// node must be a text node equal to it. Null when there is none.
const CXmlNode* FindElement(const CXmlDocument& document, const char* name,
                            const char* followingText = nullptr,
                            const CXmlNode* start = nullptr,
                            const CXmlNode* parent = nullptr);

// From index `start`, the first tag node named exactly `name`. Without
// `followingText` the result is the tag's index and `parent` is not tested.
// With it, the tag must be a child of `parent` (unless -1) and be followed by
// a text node equal to it; the result is that text node's index. -1 when none.
int32_t FindElementIndex(const CXmlDocument& document, const char* name,
                         const char* followingText, int32_t start, int32_t parent = -1);

// The content of a tag node: the text of the node right behind it when that
// node is its child, "" when that node is the element's closing tag (no
// content), null when there is no such child.
const char* ElementText(const CXmlDocument& document, const CXmlNode* tag);

// Frees every node and the array; the document can be parsed into again.
void FreeXml(CXmlDocument& document);
