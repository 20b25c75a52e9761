#include "update/version_check.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "foundation/errors.h"
#include "foundation/text.h"
#include "foundation/xml_reader.h"
#include "identify/entities.h"

namespace {

// Digits of the size text that are read; longer texts are cut first.
constexpr size_t kSizeTextLimit = 63;

// The value of a key: the text node three nodes behind the key's text (past
// the key's closing tag and the value's opening tag). With skipTag, a tag
// found there (a value wrapped in a further element) gives way to the node
// behind it. Null when there is no such key or no text at that place.
const CXmlNode* KeyValue(const CXmlDocument& document, const char* key, bool skipTag = false) {
    const int32_t keyText = FindElementIndex(document, "key", key, 0);
    if (keyText < 0) return nullptr;
    const CXmlNode* value = document.At(keyText + 3);
    if (value != nullptr && value->isTag && skipTag) value = document.At(keyText + 4);
    return value != nullptr && !value->isTag ? value : nullptr;
}

std::string KeyText(const CXmlDocument& document, const char* key, bool skipTag = false) {
    const CXmlNode* value = KeyValue(document, key, skipTag);
    return value != nullptr ? value->text : std::string();
}

// Every decimal digit of the text, other characters skipped; saturates
// instead of wrapping.
int64_t DigitsOf(const std::string& text) {
    int64_t value = 0;
    const size_t end = std::min(text.size(), kSizeTextLimit);
    for (size_t i = 0; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') continue;
        value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
    }
    return value;
}

// A leading decimal number; anything unreadable gives 0.
int32_t NumberOf(const std::string& text) {
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

void ParseVersionDocument(const char* text, size_t length, CVersionCheck& check) {
    CXmlDocument document;
    try {
        ParseXml(document, text, length);
    } catch (const CError&) {
        return;
    }
    check.version = KeyText(document, "productVersion");

    std::vector<char> notes(kReleaseNotesArea);
    CopyBounded(notes.data(), notes.size(), KeyText(document, "productReleaseNotes").c_str());
    DecodeEntities(notes.data(), notes.size());
    check.releaseNotes = notes.data();

    check.downloadUrl = KeyText(document, "productDownloadURL", true);

    const int64_t kilobytes = DigitsOf(KeyText(document, "productFileSize"));
    check.fileSize = static_cast<int32_t>(std::min<int64_t>(kilobytes * 1024, INT32_MAX));

    const int32_t day = NumberOf(KeyText(document, "fileReleaseDateD"));
    const int32_t month = NumberOf(KeyText(document, "fileReleaseDateM"));
    const int32_t year = NumberOf(KeyText(document, "fileReleaseDateY"));
    if (day != 0 && month != 0 && year != 0) check.releaseDate = LongDateText(day, month, year);
}

std::string LongDateText(int32_t day, int32_t month, int32_t year) {
    if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1 || year > 9999) return {};
    std::tm date{};
    date.tm_year = year - 1900;
    date.tm_mon = month - 1;
    date.tm_mday = day;
    date.tm_hour = 12;
    std::tm normalized = date;
    const time_t when = timegm(&normalized);
    // 31 February would roll over into March: no such day.
    if (when == static_cast<time_t>(-1) || normalized.tm_mday != day || normalized.tm_mon != month - 1)
        return {};
    char names[96];
    if (std::strftime(names, sizeof names, "%A, %B", &normalized) == 0) return {};
    return std::string(names) + " " + std::to_string(day) + ", " + std::to_string(year);
}

std::string NewVersionMessage(const CVersionCheck& check) {
    if (!check.releaseDate.empty())
        return "Version " + check.version + " of Melodex\nwas released on " + check.releaseDate + ".";
    return "Version " + check.version + " of Melodex is available!";
}
