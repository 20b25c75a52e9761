#include "library/lyrics_frame.h"

#include <id3.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "library/id3lib_support.h"
#include "library/id3v2_layout.h"

namespace {

// The first frame in tag order: the library's own search goes on from where
// the previous one stopped.
ID3Frame* FirstLyricsFrame(ID3Tag* tag) {
    CIteratorPtr iterator = NewIterator(tag);
    while (ID3Frame* frame = ID3TagIterator_GetNext(iterator.get()))
        if (ID3Frame_GetID(frame) == ID3FID_UNSYNCEDLYRICS) return frame;
    return nullptr;
}

std::optional<std::string> LyricsOf(ID3Tag* tag) {
    ID3Frame* frame = FirstLyricsFrame(tag);
    if (frame == nullptr) return std::nullopt;
    std::vector<char> text(kLyricsLimit + 1);
    ReadField(frame, ID3FN_TEXT, text.data(), kLyricsLimit);
    return std::string(text.data());
}

// Sets or removes the first lyrics frame of the linked ID3v2 tag and updates
// that tag alone. Returns the number of frames the tag must then hold.
size_t UpdateLyrics(ID3Tag* tag, const std::string& text) {
    size_t frames = ID3Tag_NumFrames(tag);
    ID3Frame* frame = FirstLyricsFrame(tag);
    if (text.empty()) {
        CFramePtr gone(frame != nullptr ? ID3Tag_RemoveFrame(tag, frame) : nullptr);
        if (gone) --frames;
    } else {
        if (frame == nullptr) {
            CFramePtr fresh(ID3Frame_NewID(ID3FID_UNSYNCEDLYRICS));
            if (!fresh) throw CError{eOutOfMemory};
            if (!ID3Tag_AttachFrame(tag, fresh.get())) throw CError{eUnspecified};
            frame = fresh.release();  // the tag owns it now
            ++frames;
        }
        ID3Field* field = ID3Frame_GetField(frame, ID3FN_TEXT);
        if (field == nullptr) throw CError{eInvalidData};
        // Text set as bytes must be stored as single-byte text to read back.
        if (ID3Field_GetEncoding(field) != ID3TE_ISO8859_1) {
            ID3Field_SetEncoding(field, ID3TE_ISO8859_1);
            if (ID3Field* encoding = ID3Frame_GetField(frame, ID3FN_TEXTENC))
                ID3Field_SetINT(encoding, ID3TE_ISO8859_1);
        }
        ID3Field_SetASCII(field, text.c_str());
    }
    if (ID3Tag_UpdateByTagType(tag, ID3TT_ID3V2) != ID3E_NoError) throw CError{eUnspecified};
    return frames;
}

int32_t WriteLyricsOrThrow(const std::string& path, const std::string& input) {
    CFileBlock original;
    if (const int32_t refused = LoadForRewrite(path, original)) return refused;
    const std::string text = input.substr(0, std::min(input.find('\0'), kLyricsLimit));

    // The library rewrites a copy; the file is replaced only once the copy
    // has been read back.
    CWorkFolder folder;
    const std::string work = folder.File("work.mp3");
    WritePlainFile(work, original);
    size_t prependedBefore = 0;
    size_t expectedFrames = 0;
    {
        CTagPtr tag = NewTag();
        prependedBefore = ID3Tag_LinkWithFlags(tag.get(), work.c_str(), ID3TT_ID3V2);
        if (text.empty() && FirstLyricsFrame(tag.get()) == nullptr) return 0;
        expectedFrames = UpdateLyrics(tag.get(), text);
    }

    // Only the ID3v2 tag changes: everything behind it stays byte for byte.
    const CFileBlock updated = ReadWholeFile(work.c_str());
    CTagPtr check = NewTag();
    const size_t prependedAfter = ID3Tag_LinkWithFlags(check.get(), work.c_str(), ID3TT_ID3V2);
    const std::optional<std::string> readBack = LyricsOf(check.get());
    const CId3v2Layout written =
        ScanId3v2(reinterpret_cast<const uint8_t*>(updated.data.get()), updated.length);
    const size_t rest = original.length - std::min(prependedBefore, original.length);
    const bool verified =
        (expectedFrames == 0 || (written.present && written.clean)) &&
        ID3Tag_NumFrames(check.get()) == expectedFrames &&
        (text.empty() ? !readBack.has_value() : readBack == text) && updated.length >= prependedAfter &&
        updated.length - prependedAfter == rest &&
        std::memcmp(original.data.get() + (original.length - rest), updated.data.get() + prependedAfter, rest) == 0;
    if (!verified) return eUnspecified;

    WriteWholeFile(path.c_str(), updated.data.get(), updated.length, EFileMode::Shared);
    return 0;
}

}  // namespace

std::optional<std::string> ReadLyrics(const std::string& path) {
    try {
        if (!SafeToParse(path)) return std::nullopt;
        CTagPtr tag = NewTag();
        ID3Tag_LinkWithFlags(tag.get(), path.c_str(), ID3TT_ALL);
        return LyricsOf(tag.get());
    } catch (...) {
        return std::nullopt;
    }
}

int32_t WriteLyrics(const std::string& path, const std::string& text) {
    try {
        return WriteLyricsOrThrow(path, text);
    } catch (...) {
        return CurrentExceptionCode();
    }
}
