#pragma once
// Internal to library/: owners for the tag library's objects, the guards that
// keep files it mishandles away from it, and the verified-copy write path that
// every module rewriting tags goes through.

#include <id3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/files.h"

struct CTagDeleter {
    void operator()(ID3Tag* tag) const noexcept {
        try {
            ID3Tag_Delete(tag);
        } catch (...) {
        }
    }
};
using CTagPtr = std::unique_ptr<ID3Tag, CTagDeleter>;

// ID3TagIterator_Delete destroys the iterator through a base class that has
// no virtual destructor (undefined behaviour, reported by AddressSanitizer as
// a new/delete size mismatch). The concrete iterator holds nothing but two
// list positions, so releasing its storage is the whole clean-up.
struct CIteratorDeleter {
    void operator()(ID3TagIterator* iterator) const noexcept {
        ::operator delete(static_cast<void*>(iterator));
    }
};
using CIteratorPtr = std::unique_ptr<ID3TagIterator, CIteratorDeleter>;

struct CFrameDeleter {
    void operator()(ID3Frame* frame) const noexcept {
        try {
            ID3Frame_Delete(frame);
        } catch (...) {
        }
    }
};
using CFramePtr = std::unique_ptr<ID3Frame, CFrameDeleter>;

// Throws CError{-41} when the library cannot allocate.
CTagPtr NewTag();
CIteratorPtr NewIterator(ID3Tag* tag);

// The field's bytes, cut at limit characters, into out (limit + 1 bytes,
// always terminated). A missing frame or field, or text in a Unicode
// encoding, yields the empty text.
void ReadField(ID3Frame* frame, ID3_FieldID fieldId, char* out, size_t limit);

// 0 when the file may be handed to the library for parsing, else why not: an
// errno code when it cannot be examined, -50 when it is no regular file (a
// FIFO would block the library), -68 when its ID3v2 tag holds a frame the
// library would inflate (it overruns its inflate buffer on those).
int32_t CheckParsable(const std::string& path);
inline bool SafeToParse(const std::string& path) { return CheckParsable(path) == 0; }

// 0 when the file may be rewritten by the library, with its bytes in original;
// else the refusal code, and the file is not touched: an errno code (-43
// vanished), -50 no regular file, -45 read-only (no owner write permission),
// -68 when its tag holds frames the library would destroy (compressed frames,
// or any content in a version 4 tag, of which it parses no frame).
int32_t LoadForRewrite(const std::string& path, CFileBlock& original);

// True when the bytes between the ID3v2 tag and the ID3v1 tag are unchanged,
// as the library sees them: it overwrites the last 128 bytes when they start
// with "TAG", else appends a new ID3v1 tag, which the rewritten file must end with.
bool AudioPreserved(const CFileBlock& before, size_t prependedBefore, const CFileBlock& after,
                    size_t prependedAfter);

// A private folder for the copy the library rewrites; removed with all it holds.
class CWorkFolder {
public:
    CWorkFolder();
    ~CWorkFolder();
    CWorkFolder(const CWorkFolder&) = delete;
    CWorkFolder& operator=(const CWorkFolder&) = delete;
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes the block to a new file in place (for the private working copy).
void WritePlainFile(const std::string& path, const CFileBlock& block);

// The code of the exception being handled: a CError's own code (0 becomes -1),
// -41 for an allocation failure, -1 for anything else. Call inside a catch.
int32_t CurrentExceptionCode() noexcept;
