#include "library/tags.h"

#include <fcntl.h>
#include <id3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "library/id3v2_layout.h"

namespace {

// Texts read for the numbers and the marker are cut at this many characters.
constexpr size_t kWorkReadLimit = 255;
constexpr size_t kId3v1Length = 128;

// The frames this module reads or writes, in the order of the slots below.
enum EFrameSlot : int {
    kTitle, kAlbum, kArtist, kYear, kGenre, kComment, kCopyright, kUrl,
    kDisc, kTrack, kMarker, kSlotCount
};

struct CFrameSpec {
    ID3_FrameID id;
    ID3_FieldID field;
};

constexpr CFrameSpec kSlots[kSlotCount] = {
    {ID3FID_TITLE, ID3FN_TEXT},       {ID3FID_ALBUM, ID3FN_TEXT},
    {ID3FID_LEADARTIST, ID3FN_TEXT},  {ID3FID_YEAR, ID3FN_TEXT},
    {ID3FID_CONTENTTYPE, ID3FN_TEXT}, {ID3FID_COMMENT, ID3FN_TEXT},
    {ID3FID_COPYRIGHT, ID3FN_TEXT},   {ID3FID_WWWUSER, ID3FN_URL},
    {ID3FID_PARTINSET, ID3FN_TEXT},   {ID3FID_TRACKNUM, ID3FN_TEXT},
    {ID3FID_USERTEXT, ID3FN_TEXT},
};

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

CTagPtr NewTag() {
    CTagPtr tag(ID3Tag_New());
    if (!tag) throw CError{eOutOfMemory};
    return tag;
}

struct CFirstFrames {
    ID3Frame* frame[kSlotCount] = {};
};

// ID3Tag_FindFrameWithID searches on from where the previous search stopped,
// so after other searches it can return a later frame of the identifier.
// The first one in tag order is wanted, hence one walk over all frames.
CFirstFrames FindFirstFrames(ID3Tag* tag) {
    CFirstFrames first;
    std::unique_ptr<ID3TagIterator, CIteratorDeleter> iterator(ID3Tag_CreateIterator(tag));
    if (!iterator) throw CError{eOutOfMemory};
    while (ID3Frame* frame = ID3TagIterator_GetNext(iterator.get())) {
        const ID3_FrameID id = ID3Frame_GetID(frame);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (kSlots[slot].id == id && first.frame[slot] == nullptr) first.frame[slot] = frame;
        }
    }
    return first;
}

// The field's bytes, cut at limit characters, into out (limit + 1 bytes).
// Text in a Unicode encoding yields nothing.
void ReadField(ID3Frame* frame, ID3_FieldID fieldId, char* out, size_t limit) {
    std::memset(out, 0, limit + 1);
    if (frame == nullptr) return;
    ID3Field* field = ID3Frame_GetField(frame, fieldId);
    if (field == nullptr || ID3Field_GetEncoding(field) != ID3TE_ISO8859_1) return;
    const size_t length = ID3Field_GetASCII(field, out, limit);
    out[std::min(length, limit)] = '\0';
}

template <size_t N>
void ReadText(const CFirstFrames& first, EFrameSlot slot, char (&out)[N]) {
    ReadField(first.frame[slot], kSlots[slot].field, out, N - 1);
}

CFileTags ReadValues(ID3Tag* tag) {
    CFileTags result;
    const CFirstFrames first = FindFirstFrames(tag);
    CTagValues& v = result.values;
    ReadText(first, kTitle, v.title);
    ReadText(first, kAlbum, v.album);
    ReadText(first, kArtist, v.artist);
    ReadText(first, kYear, v.year);
    ReadText(first, kGenre, v.genre);
    ReadText(first, kComment, v.comment);
    ReadText(first, kCopyright, v.copyright);
    ReadText(first, kUrl, v.url);
    char work[kWorkReadLimit + 1];
    ReadText(first, kDisc, work);
    v.disc = ParseTagNumber(work);
    ReadText(first, kTrack, work);
    v.track = ParseTagNumber(work);
    ReadText(first, kMarker, work);
    result.marked = std::strcmp(work, kMarkerText) == 0;
    return result;
}

struct CFileCloser {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};

// False when the path is no regular file (a FIFO would block the library)
// or when its ID3v2 tag holds a frame the library would inflate: it overruns
// its inflate buffer on those and corrupts memory.
bool SafeToParse(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    std::unique_ptr<FILE, CFileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    uint8_t header[kId3v2HeaderLength];
    const size_t got = std::fread(header, 1, sizeof header, file.get());
    const size_t tagLength = std::min(Id3v2TagLength(header, got), static_cast<size_t>(status.st_size));
    if (tagLength == 0) return true;
    std::vector<uint8_t> tag(tagLength);
    std::memcpy(tag.data(), header, got);
    tag.resize(got + std::fread(tag.data() + got, 1, tagLength - got, file.get()));
    return !ScanId3v2(tag.data(), tag.size()).hasCompressedFrame;
}

// --- writing -------------------------------------------------------------

void CopyField(char* dst, const char* src, size_t capacity) {
    const size_t length = strnlen(src, capacity - 1);
    std::memcpy(dst, src, length);
    dst[length] = '\0';
}

// The values as they will read back: every text within its capacity.
CTagValues Normalized(const CTagValues& in) {
    CTagValues out{};
    CopyField(out.title, in.title, sizeof out.title);
    CopyField(out.album, in.album, sizeof out.album);
    CopyField(out.artist, in.artist, sizeof out.artist);
    CopyField(out.genre, in.genre, sizeof out.genre);
    CopyField(out.comment, in.comment, sizeof out.comment);
    CopyField(out.year, in.year, sizeof out.year);
    CopyField(out.copyright, in.copyright, sizeof out.copyright);
    CopyField(out.url, in.url, sizeof out.url);
    out.track = in.track;
    out.disc = in.disc;
    return out;
}

bool SameValues(const CTagValues& a, const CTagValues& b) {
    return std::strcmp(a.title, b.title) == 0 && std::strcmp(a.album, b.album) == 0 &&
           std::strcmp(a.artist, b.artist) == 0 && std::strcmp(a.genre, b.genre) == 0 &&
           std::strcmp(a.comment, b.comment) == 0 && std::strcmp(a.year, b.year) == 0 &&
           std::strcmp(a.copyright, b.copyright) == 0 && std::strcmp(a.url, b.url) == 0 &&
           a.track == b.track && a.disc == b.disc;
}

// Sets the field of the slot's first frame, creating and attaching the frame
// when the tag has none. Returns true when a frame was created.
bool SetField(ID3Tag* tag, CFirstFrames& first, EFrameSlot slot, const char* value) {
    bool created = false;
    ID3Frame*& frame = first.frame[slot];
    if (frame == nullptr) {
        ID3Frame* fresh = ID3Frame_NewID(kSlots[slot].id);
        if (fresh == nullptr) throw CError{eOutOfMemory};
        if (!ID3Tag_AttachFrame(tag, fresh)) {
            ID3Frame_Delete(fresh);
            throw CError{eUnspecified};
        }
        frame = fresh;
        created = true;
    }
    ID3Field* field = ID3Frame_GetField(frame, kSlots[slot].field);
    if (field == nullptr) throw CError{eInvalidData};
    if (ID3Field_GetEncoding(field) != ID3TE_ISO8859_1) {
        // Unicode text reads as empty; writing that empty value back would
        // erase what another program stored.
        if (value[0] == '\0') return created;
        // Text set as bytes must also be stored as single-byte text, or the
        // library would render it as UTF-16 and it would no longer read back.
        ID3Field_SetEncoding(field, ID3TE_ISO8859_1);
        if (ID3Field* encoding = ID3Frame_GetField(frame, ID3FN_TEXTENC))
            ID3Field_SetINT(encoding, ID3TE_ISO8859_1);
    }
    ID3Field_SetASCII(field, value);
    return created;
}

struct CFrameDeleter {
    void operator()(ID3Frame* frame) const noexcept {
        try {
            ID3Frame_Delete(frame);
        } catch (...) {
        }
    }
};
using CFramePtr = std::unique_ptr<ID3Frame, CFrameDeleter>;

void Attach(ID3Tag* tag, CFramePtr frame) {
    if (!ID3Tag_AttachFrame(tag, frame.get())) throw CError{eUnspecified};
    frame.release();  // the tag owns it now
}

std::vector<ID3Frame*> FramesWithId(ID3Tag* tag, ID3_FrameID id) {
    std::vector<ID3Frame*> frames;
    std::unique_ptr<ID3TagIterator, CIteratorDeleter> iterator(ID3Tag_CreateIterator(tag));
    if (!iterator) throw CError{eOutOfMemory};
    while (ID3Frame* frame = ID3TagIterator_GetNext(iterator.get()))
        if (ID3Frame_GetID(frame) == id) frames.push_back(frame);
    return frames;
}

bool IsMarkerFrame(ID3Frame* frame) {
    char text[kWorkReadLimit + 1];
    ReadField(frame, ID3FN_TEXT, text, kWorkReadLimit);
    return std::strcmp(text, kMarkerText) == 0;
}

// Only the first TXXX frame is read as the marker, but other TXXX frames
// belong to other programs (replay gain, catalogue IDs): the marker is put in
// front of them rather than written over the first one, and removing it takes
// marker frames only. Returns the change in the number of frames.
int PlaceMarker(ID3Tag* tag, EMarker marker) {
    const std::vector<ID3Frame*> userTexts = FramesWithId(tag, ID3FID_USERTEXT);
    if (marker == EMarker::Remove) {
        int removed = 0;
        for (ID3Frame* frame : userTexts) {
            if (!IsMarkerFrame(frame)) continue;
            CFramePtr gone(ID3Tag_RemoveFrame(tag, frame));
            if (gone) ++removed;
        }
        return -removed;
    }
    if (!userTexts.empty() && IsMarkerFrame(userTexts.front())) return 0;
    std::vector<CFramePtr> others;
    for (ID3Frame* frame : userTexts) others.emplace_back(ID3Tag_RemoveFrame(tag, frame));
    CFramePtr fresh(ID3Frame_NewID(ID3FID_USERTEXT));
    if (!fresh) throw CError{eOutOfMemory};
    ID3Field* text = ID3Frame_GetField(fresh.get(), ID3FN_TEXT);
    if (text == nullptr) throw CError{eUnspecified};
    ID3Field_SetASCII(text, kMarkerText);
    Attach(tag, std::move(fresh));
    for (CFramePtr& frame : others)
        if (frame) Attach(tag, std::move(frame));
    return 1;
}

struct CUpdateResult {
    size_t expectedFrames = 0;  // frames the rewritten ID3v2 tag must hold
    size_t prependedBefore = 0; // ID3v2 bytes in front of the audio before the update
};

CUpdateResult UpdateTags(const std::string& path, const CTagValues& values, EMarker marker) {
    CTagPtr tag = NewTag();
    CUpdateResult result;
    result.prependedBefore = ID3Tag_LinkWithFlags(tag.get(), path.c_str(), ID3TT_ID3V2);
    ptrdiff_t frames = static_cast<ptrdiff_t>(ID3Tag_NumFrames(tag.get()));
    CFirstFrames first = FindFirstFrames(tag.get());

    frames += SetField(tag.get(), first, kTitle, values.title);
    frames += SetField(tag.get(), first, kAlbum, values.album);
    frames += SetField(tag.get(), first, kArtist, values.artist);
    frames += SetField(tag.get(), first, kYear, values.year);
    frames += SetField(tag.get(), first, kGenre, values.genre);
    frames += SetField(tag.get(), first, kComment, values.comment);
    frames += SetField(tag.get(), first, kCopyright, values.copyright);
    frames += SetField(tag.get(), first, kUrl, values.url);
    char number[16];
    FormatBounded(number, sizeof number, "%d", static_cast<int>(values.disc));
    frames += SetField(tag.get(), first, kDisc, number);
    FormatBounded(number, sizeof number, "%d", static_cast<int>(values.track));
    frames += SetField(tag.get(), first, kTrack, number);
    frames += PlaceMarker(tag.get(), marker);
    if (ID3Tag_UpdateByTagType(tag.get(), ID3TT_ALL) != ID3E_NoError) throw CError{eUnspecified};
    result.expectedFrames = static_cast<size_t>(frames);
    return result;
}

// The bytes between the ID3v2 tag and the ID3v1 tag, as the library sees them:
// it overwrites the last 128 bytes when they start with "TAG", else appends.
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

// A private folder for the copy the library rewrites; removed with all it holds.
class CWorkFolder {
public:
    CWorkFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/melodex-tags-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) ThrowErrno(0);
        path_ = pattern;
    }
    ~CWorkFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    CWorkFolder(const CWorkFolder&) = delete;
    CWorkFolder& operator=(const CWorkFolder&) = delete;
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WritePlainFile(const std::string& path, const CFileBlock& block) {
    CStreamPtr stream(OpenFile(path.c_str(), "wb"));
    WriteAll(stream.get(), block.data.get(), block.length);
    CloseStream(stream.release());
}

int32_t WriteTagsOrThrow(const std::string& path, const CTagValues& input, EMarker marker) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return TranslateErrno(errno);
    if (!S_ISREG(status.st_mode)) return eParamErr;
    // Without the owner's write permission the file is locked, even for root.
    if ((status.st_mode & S_IWUSR) == 0) return eFileReadOnly;
    if (access(path.c_str(), W_OK) != 0) return TranslateErrno(errno);

    const CFileBlock original = ReadWholeFile(path.c_str());
    const CId3v2Layout layout =
        ScanId3v2(reinterpret_cast<const uint8_t*>(original.data.get()), original.length);
    // The library parses no frame of a version 4 tag and would replace them
    // all with its own few.
    if (layout.hasCompressedFrame || (layout.major == 4 && layout.hasContent)) return eInvalidData;

    // The library rewrites a copy; the file itself is replaced only once the
    // copy has been read back, so a failed update leaves it as it was.
    const CTagValues values = Normalized(input);
    CWorkFolder folder;
    const std::string work = folder.File("work.mp3");
    WritePlainFile(work, original);
    const CUpdateResult update = UpdateTags(work, values, marker);

    const CFileBlock updated = ReadWholeFile(work.c_str());
    CTagPtr check = NewTag();
    const size_t prependedAfter = ID3Tag_LinkWithFlags(check.get(), work.c_str(), ID3TT_ID3V2);
    const CFileTags readBack = ReadValues(check.get());
    const CId3v2Layout written =
        ScanId3v2(reinterpret_cast<const uint8_t*>(updated.data.get()), updated.length);
    const bool verified = written.present && written.clean &&
                          ID3Tag_NumFrames(check.get()) == update.expectedFrames &&
                          SameValues(readBack.values, values) &&
                          (marker != EMarker::Set || readBack.marked) &&
                          AudioPreserved(original, update.prependedBefore, updated, prependedAfter);
    if (!verified) return eUnspecified;

    WriteWholeFile(path.c_str(), updated.data.get(), updated.length, EFileMode::Shared);
    return 0;
}

}  // namespace

int32_t ParseTagNumber(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    constexpr int64_t kCap = int64_t{INT32_MAX} + 1;
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) value = std::min(value * 10 + (*p - '0'), kCap);
    if (negative) value = -value;
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

CFileTags ReadTags(const std::string& path) {
    try {
        if (!SafeToParse(path)) return CFileTags{};
        CTagPtr tag = NewTag();
        ID3Tag_LinkWithFlags(tag.get(), path.c_str(), ID3TT_ALL);
        return ReadValues(tag.get());
    } catch (...) {
        return CFileTags{};
    }
}

int32_t WriteTags(const std::string& path, const CTagValues& values, EMarker marker) {
    try {
        return WriteTagsOrThrow(path, values, marker);
    } catch (const CError& error) {
        return error.code != 0 ? error.code : eUnspecified;
    } catch (const std::bad_alloc&) {
        return eOutOfMemory;
    } catch (...) {
        return eUnspecified;
    }
}

bool HasLyricsFrame(const std::string& path) {
    try {
        if (!SafeToParse(path)) return false;
        CTagPtr tag = NewTag();
        ID3Tag_LinkWithFlags(tag.get(), path.c_str(), ID3TT_ALL);
        return ID3Tag_FindFrameWithID(tag.get(), ID3FID_UNSYNCEDLYRICS) != nullptr;
    } catch (...) {
        return false;
    }
}
