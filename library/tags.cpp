#include "library/tags.h"

#include <id3.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "library/id3lib_support.h"
#include "library/id3v2_layout.h"

namespace {

// Texts read for the numbers and the marker are cut at this many characters.
constexpr size_t kWorkReadLimit = 255;

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

struct CFirstFrames {
    ID3Frame* frame[kSlotCount] = {};
};

// ID3Tag_FindFrameWithID searches on from where the previous search stopped,
// so after other searches it can return a later frame of the identifier.
// The first one in tag order is wanted, hence one walk over all frames.
CFirstFrames FindFirstFrames(ID3Tag* tag) {
    CFirstFrames first;
    const CIteratorPtr iterator = NewIterator(tag);
    while (ID3Frame* frame = ID3TagIterator_GetNext(iterator.get())) {
        const ID3_FrameID id = ID3Frame_GetID(frame);
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (kSlots[slot].id == id && first.frame[slot] == nullptr) first.frame[slot] = frame;
        }
    }
    return first;
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

void Attach(ID3Tag* tag, CFramePtr frame) {
    if (!ID3Tag_AttachFrame(tag, frame.get())) throw CError{eUnspecified};
    frame.release();  // the tag owns it now
}

std::vector<ID3Frame*> FramesWithId(ID3Tag* tag, ID3_FrameID id) {
    std::vector<ID3Frame*> frames;
    const CIteratorPtr iterator = NewIterator(tag);
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

int32_t WriteTagsOrThrow(const std::string& path, const CTagValues& input, EMarker marker) {
    CFileBlock original;
    if (const int32_t refused = LoadForRewrite(path, original)) return refused;

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
    } catch (...) {
        return CurrentExceptionCode();
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
