#pragma once
// Between the application's single-byte text (ISO-8859-1) and the file
// system's names (UTF-8).

#include <cstddef>
#include <string>

// Every byte as the character of the same code.
std::string EncodeLatin1AsUtf8(const std::string& latin1);

// A file name for display as application text: UTF-8 sequences of the
// characters U+0000 to U+00FF become their byte, other characters "?", and
// bytes that are not valid UTF-8 pass unchanged (taken to be ISO-8859-1).
std::string DecodeUtf8ToLatin1(const std::string& utf8);

// The longest prefix of at most maxBytes bytes that ends on a character
// boundary of the UTF-8 text.
size_t Utf8PrefixLength(const std::string& utf8, size_t maxBytes);
