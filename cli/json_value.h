#pragma once
// The result of a command as a small value tree, written either as one JSON
// document or as readable text. Strings carry their encoding: tag texts are
// ISO-8859-1 bytes (shown as the same Unicode characters), paths and our own
// texts are the file system's bytes (UTF-8) and are shown as they are.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CJsonValue {
public:
    enum class EKind { Null, Bool, Int, Latin1, Utf8, Array, Object };

    CJsonValue() = default;
    static CJsonValue Null() { return CJsonValue(); }
    static CJsonValue Bool(bool value);
    static CJsonValue Int(int64_t value);
    // ISO-8859-1 text (tag values, texts decoded from web services).
    static CJsonValue Latin1(std::string bytes);
    // UTF-8 text (paths, messages); invalid sequences are shown as U+FFFD.
    static CJsonValue Utf8(std::string bytes);
    static CJsonValue Array();
    static CJsonValue Object();

    EKind Kind() const { return kind_; }
    bool IsContainer() const { return kind_ == EKind::Array || kind_ == EKind::Object; }

    // Array: appends. Object: appends a member (keys in insertion order).
    CJsonValue& Push(CJsonValue value);
    CJsonValue& Set(std::string key, CJsonValue value);

    const std::vector<CJsonValue>& Items() const { return items_; }
    const std::vector<std::pair<std::string, CJsonValue>>& Members() const { return members_; }
    bool BoolValue() const { return int_ != 0; }
    int64_t IntValue() const { return int_; }
    const std::string& Bytes() const { return text_; }

private:
    EKind kind_ = EKind::Null;
    int64_t int_ = 0;
    std::string text_;
    std::vector<CJsonValue> items_;
    std::vector<std::pair<std::string, CJsonValue>> members_;
};

// ISO-8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(const std::string& bytes);
// Valid UTF-8 passes; every byte of an invalid sequence becomes U+FFFD.
std::string SanitizeUtf8(const std::string& bytes);
// UTF-8 whose characters all lie in ISO-8859-1, converted to it. Text that is
// not valid UTF-8 is taken as ISO-8859-1 bytes already. Returns false (out
// untouched) when a character has no ISO-8859-1 code.
bool Utf8ToLatin1(const std::string& text, std::string& out);

// One JSON document, indented by two spaces, ending with a newline.
std::string WriteJson(const CJsonValue& value);
// Readable text: "key: value" lines, nested values indented, records of an
// array separated by blank lines.
std::string WriteText(const CJsonValue& value);
