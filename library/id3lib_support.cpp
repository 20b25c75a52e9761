#include "library/id3lib_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "library/id3v2_layout.h"

namespace {

constexpr size_t kId3v1Length = 128;

}  // namespace

CTagPtr NewTag() {
    CTagPtr tag(ID3Tag_New());
    if (!tag) throw CError{eOutOfMemory};
    return tag;
}

CIteratorPtr NewIterator(ID3Tag* tag) {
    CIteratorPtr iterator(ID3Tag_CreateIterator(tag));
    if (!iterator) throw CError{eOutOfMemory};
    return iterator;
}

void ReadField(ID3Frame* frame, ID3_FieldID fieldId, char* out, size_t limit) {
    std::memset(out, 0, limit + 1);
    if (frame == nullptr) return;
    ID3Field* field = ID3Frame_GetField(frame, fieldId);
    if (field == nullptr || ID3Field_GetEncoding(field) != ID3TE_ISO8859_1) return;
    const size_t length = ID3Field_GetASCII(field, out, limit);
    out[std::min(length, limit)] = '\0';
}

int32_t CheckParsable(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return TranslateErrno(errno);
    if (!S_ISREG(status.st_mode)) return eParamErr;
    CStreamPtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return TranslateErrno(errno);
    uint8_t header[kId3v2HeaderLength];
    const size_t got = std::fread(header, 1, sizeof header, file.get());
    const size_t tagLength = std::min(Id3v2TagLength(header, got), static_cast<size_t>(status.st_size));
    if (tagLength == 0) return 0;
    std::vector<uint8_t> tag(tagLength);
    std::memcpy(tag.data(), header, got);
    tag.resize(got + std::fread(tag.data() + got, 1, tagLength - got, file.get()));
    return ScanId3v2(tag.data(), tag.size()).hasCompressedFrame ? eInvalidData : 0;
}

int32_t LoadForRewrite(const std::string& path, CFileBlock& original) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return TranslateErrno(errno);
    if (!S_ISREG(status.st_mode)) return eParamErr;
    // Without the owner's write permission the file is locked, even for root.
    if ((status.st_mode & S_IWUSR) == 0) return eFileReadOnly;
    if (access(path.c_str(), W_OK) != 0) return TranslateErrno(errno);

    original = ReadWholeFile(path.c_str());
    const CId3v2Layout layout =
        ScanId3v2(reinterpret_cast<const uint8_t*>(original.data.get()), original.length);
    // The library parses no frame of a version 4 tag and would replace them
    // all with its own few.
    if (layout.hasCompressedFrame || (layout.major == 4 && layout.hasContent)) return eInvalidData;
    return 0;
}

bool AudioPreserved(const CFileBlock& before, size_t prependedBefore, const CFileBlock& after,
                    size_t prependedAfter) {
    size_t endBefore = before.length;
    if (endBefore >= kId3v1Length && std::memcmp(before.data.get() + endBefore - kId3v1Length, "TAG", 3) == 0)
        endBefore -= kId3v1Length;
    if (after.length < prependedAfter + kId3v1Length ||
        std::memcmp(after.data.get() + after.length - kId3v1Length, "TAG", 3) != 0)
        return false;
    const size_t endAfter = after.length - kId3v1Length;
    const size_t lengthBefore = endBefore > prependedBefore ? endBefore - prependedBefore : 0;
    const size_t lengthAfter = endAfter - prependedAfter;
    return lengthBefore == lengthAfter &&
           std::memcmp(before.data.get() + prependedBefore, after.data.get() + prependedAfter,
                       lengthAfter) == 0;
}

CWorkFolder::CWorkFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/melodex-tags-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ThrowErrno(0);
    path_ = pattern;
}

CWorkFolder::~CWorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WritePlainFile(const std::string& path, const CFileBlock& block) {
    CStreamPtr stream(OpenFile(path.c_str(), "wb"));
    WriteAll(stream.get(), block.data.get(), block.length);
    CloseStream(stream.release());
}

int32_t CurrentExceptionCode() noexcept {
    try {
        throw;
    } catch (const CError& error) {
        return error.code != 0 ? error.code : eUnspecified;
    } catch (const std::bad_alloc&) {
        return eOutOfMemory;
    } catch (...) {
        return eUnspecified;
    }
}
