#include "library/tag_frames.h"

#include <id3.h>
#include <id3/field.h>
#include <id3/tag.h>
#include <id3/writers.h>

#include <sstream>

#include "foundation/errors.h"
#include "foundation/files.h"
#include "library/id3lib_support.h"
#include "library/id3v2_layout.h"

namespace {

// The plain function interface holds frames as the library's C++ frame
// objects; its frame-info functions are declared but missing from the
// library, so names and descriptions come from the C++ interface.
const ID3_Frame* AsFrame(const ID3Frame* frame) { return reinterpret_cast<const ID3_Frame*>(frame); }

std::string FrameId(const ID3Frame* frame) {
    const ID3_Frame* cpp = AsFrame(frame);
    const ID3_FrameID id = cpp->GetID();
    // Known frames of a version 2.2 tag carry three-character names in the
    // file; they are shown, and written back, under the four-character ones.
    if (id != ID3FID_NOFRAME) {
        ID3_FrameInfo info;
        const char* name = info.LongName(id);
        if (name != nullptr && *name != '\0') return name;
    }
    const char* own = cpp->GetTextID();
    return own != nullptr ? own : "";
}

CTagFrame Describe(ID3Frame* frame) {
    CTagFrame row;
    row.id = FrameId(frame);
    const char* description = AsFrame(frame)->GetDescription();
    if (description != nullptr) row.description = description;
    char text[kFrameValueLimit + 1];
    ReadField(frame, ID3FN_URL, text, kFrameValueLimit);
    if (text[0] == '\0') ReadField(frame, ID3FN_TEXT, text, kFrameValueLimit);
    row.value = text;
    return row;
}

std::vector<ID3Frame*> FramesInOrder(ID3Tag* tag) {
    std::vector<ID3Frame*> frames;
    const CIteratorPtr iterator = NewIterator(tag);
    while (ID3Frame* frame = ID3TagIterator_GetNext(iterator.get())) frames.push_back(frame);
    return frames;
}

std::vector<CTagFrame> DescribeAll(ID3Tag* tag) {
    std::vector<CTagFrame> rows;
    for (ID3Frame* frame : FramesInOrder(tag)) rows.push_back(Describe(frame));
    return rows;
}

std::string RenderFrame(const ID3Frame* frame) {
    std::ostringstream bytes;
    ID3_OStreamWriter writer(bytes);
    AsFrame(frame)->Render(writer);
    return bytes.str();
}

// The merged view comes from parsing the appended tags into the ID3v2 frames:
// an ID3v1 comment overwrites the text and language of a COMM frame described
// "ID3v1 Comment", and matching the descriptions can garble UTF-16 ones.
// Written back, such a frame would replace what the file holds, so the ID3v2
// frames must render the same with and without the appended tags.
bool MergeKeepsOwnFrames(const std::string& path, ID3Tag* merged) {
    CTagPtr own = NewTag();
    ID3Tag_LinkWithFlags(own.get(), path.c_str(), ID3TT_ID3V2);
    const std::vector<ID3Frame*> ownFrames = FramesInOrder(own.get());
    const std::vector<ID3Frame*> mergedFrames = FramesInOrder(merged);
    if (mergedFrames.size() < ownFrames.size()) return false;
    for (size_t i = 0; i < ownFrames.size(); ++i)
        if (RenderFrame(ownFrames[i]) != RenderFrame(mergedFrames[i])) return false;
    return true;
}

int32_t DeleteOrThrow(const std::string& path, int32_t index) {
    CFileBlock original;
    if (const int32_t refused = LoadForRewrite(path, original)) return refused;

    // The library rewrites a private copy, which replaces the file only once
    // it reads back as the remaining frames over the same audio.
    CWorkFolder folder;
    const std::string work = folder.File("work.mp3");
    WritePlainFile(work, original);

    CTagPtr tag = NewTag();
    const size_t prependedBefore = ID3Tag_LinkWithFlags(tag.get(), work.c_str(), ID3TT_ALL);
    const std::vector<ID3Frame*> frames = FramesInOrder(tag.get());
    if (index < 0 || static_cast<size_t>(index) >= frames.size()) return eParamErr;
    if (!MergeKeepsOwnFrames(work, tag.get())) return eInvalidData;
    std::vector<CTagFrame> expected = DescribeAll(tag.get());
    expected.erase(expected.begin() + index);

    // Removed rather than cleared: a cleared frame stays in the tag, and
    // whether it is still rendered would be up to the library.
    const CFramePtr gone(ID3Tag_RemoveFrame(tag.get(), frames[static_cast<size_t>(index)]));
    if (!gone) return eUnspecified;
    if (ID3Tag_UpdateByTagType(tag.get(), ID3TT_ALL) != ID3E_NoError) return eUnspecified;
    tag.reset();

    const CFileBlock updated = ReadWholeFile(work.c_str());
    CTagPtr check = NewTag();
    const size_t prependedAfter = ID3Tag_LinkWithFlags(check.get(), work.c_str(), ID3TT_ID3V2);
    const CId3v2Layout written =
        ScanId3v2(reinterpret_cast<const uint8_t*>(updated.data.get()), updated.length);
    // The library writes every remaining frame, also those that came from
    // the ID3v1 tag, into the new ID3v2 tag, so that tag alone must hold
    // exactly them (with none left it drops the ID3v2 tag). The merged view
    // is not compared: the new ID3v1 tag, rendered from the frames, may
    // supply a comment frame of its own, which is the library's rendering.
    const bool verified = written.clean && (written.present || expected.empty()) &&
                          DescribeAll(check.get()) == expected &&
                          AudioPreserved(original, prependedBefore, updated, prependedAfter);
    if (!verified) return eUnspecified;

    WriteWholeFile(path.c_str(), updated.data.get(), updated.length, EFileMode::Shared);
    return 0;
}

}  // namespace

int32_t ListTagFrames(const std::string& path, std::vector<CTagFrame>& frames) {
    frames.clear();
    try {
        if (const int32_t refused = CheckParsable(path)) return refused;
        CTagPtr tag = NewTag();
        ID3Tag_LinkWithFlags(tag.get(), path.c_str(), ID3TT_ALL);
        frames = DescribeAll(tag.get());
        return 0;
    } catch (...) {
        frames.clear();
        return CurrentExceptionCode();
    }
}

int32_t DeleteTagFrame(const std::string& path, int32_t index) {
    try {
        return DeleteOrThrow(path, index);
    } catch (...) {
        return CurrentExceptionCode();
    }
}
