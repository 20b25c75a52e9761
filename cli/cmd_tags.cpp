// Commands over a file's ID3 tags.
#include <cstring>

#include "cli/cli_context.h"
#include "cli/command.h"
#include "cli/result_fields.h"
#include "foundation/errors.h"
#include "library/tag_frames.h"
#include "library/tags.h"

namespace {

CJsonValue TagsObject(const std::string& path, const CFileTags& tags) {
    CJsonValue item = CJsonValue::Object();
    item.Set("path", CJsonValue::Utf8(path));
    AddTagFields(item, tags.values);
    item.Set("marked", CJsonValue::Bool(tags.marked));
    return item;
}

void RunTags(CCliContext& context, const SArgs& args) {
    CJsonValue result = CJsonValue::Array();
    for (const std::string& path : args.operands) {
        if (!CheckReadableFile(context, path)) continue;
        result.Push(TagsObject(path, ReadTags(path)));
    }
    context.Emit(result);
}

// A text option into a tag field: converted to ISO-8859-1; a value longer
// than the field is refused rather than cut behind the user's back.
void SetText(const SArgs& args, const char* option, char* field, size_t size) {
    const std::string* value = args.Value(option);
    if (value == nullptr) return;
    std::string bytes;
    if (!Utf8ToLatin1(*value, bytes))
        throw CUsageError{std::string("--") + option + ": the text has characters outside ISO-8859-1"};
    if (bytes.size() >= size)
        throw CUsageError{std::string("--") + option + " holds at most " + std::to_string(size - 1) +
                          " characters"};
    std::memset(field, 0, size);
    std::memcpy(field, bytes.data(), bytes.size());
}

void RunWriteTags(CCliContext& context, const SArgs& args) {
    if (args.Has("marker") && args.Has("no-marker")) throw CUsageError{"--marker and --no-marker exclude each other"};
    const std::string& path = args.operands[0];
    // Options are checked before the file is touched.
    CTagValues check = EmptyTagValues();
    SetText(args, "title", check.title, sizeof check.title);
    SetText(args, "album", check.album, sizeof check.album);
    SetText(args, "artist", check.artist, sizeof check.artist);
    SetText(args, "genre", check.genre, sizeof check.genre);
    SetText(args, "comment", check.comment, sizeof check.comment);
    SetText(args, "year", check.year, sizeof check.year);
    SetText(args, "copyright", check.copyright, sizeof check.copyright);
    SetText(args, "url", check.url, sizeof check.url);
    if (const std::string* track = args.Value("track"))
        check.track = static_cast<int32_t>(ParseInteger(*track, 0, INT32_MAX, "--track"));
    if (const std::string* disc = args.Value("disc"))
        check.disc = static_cast<int32_t>(ParseInteger(*disc, 0, INT32_MAX, "--disc"));

    if (!CheckMp3File(context, path)) return;
    CFileTags tags = ReadTags(path);
    CTagValues& values = tags.values;
    SetText(args, "title", values.title, sizeof values.title);
    SetText(args, "album", values.album, sizeof values.album);
    SetText(args, "artist", values.artist, sizeof values.artist);
    SetText(args, "genre", values.genre, sizeof values.genre);
    SetText(args, "comment", values.comment, sizeof values.comment);
    SetText(args, "year", values.year, sizeof values.year);
    SetText(args, "copyright", values.copyright, sizeof values.copyright);
    SetText(args, "url", values.url, sizeof values.url);
    if (args.Has("track")) values.track = check.track;
    if (args.Has("disc")) values.disc = check.disc;
    bool marked = tags.marked;
    if (args.Has("marker")) marked = true;
    if (args.Has("no-marker")) marked = false;

    const int32_t code = WriteTags(path, values, marked ? EMarker::Set : EMarker::Remove);
    if (code != 0) context.Abort(path, "the tags could not be written: " + ErrorMessage(code));
    CJsonValue result = CJsonValue::Array();
    result.Push(TagsObject(path, ReadTags(path)));
    context.Emit(result);
}

// The frame list of the tag editor, or the failure reported.
bool ListFrames(CCliContext& context, const std::string& path, std::vector<CTagFrame>& frames) {
    const int32_t code = ListTagFrames(path, frames);
    if (code != 0) context.Fail(path, "the tag could not be read: " + ErrorMessage(code));
    return code == 0;
}

CJsonValue FramesArray(const std::vector<CTagFrame>& frames) {
    CJsonValue result = CJsonValue::Array();
    for (const CTagFrame& frame : frames) {
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("id", CJsonValue::Latin1(frame.id));
        item.Set("description", CJsonValue::Latin1(frame.description));
        item.Set("value", CJsonValue::Latin1(frame.value));
    }
    return result;
}

void RunFrames(CCliContext& context, const SArgs& args) {
    const std::string& path = args.operands[0];
    if (!CheckReadableFile(context, path)) return;
    std::vector<CTagFrame> frames;
    if (!ListFrames(context, path, frames)) return;
    context.Emit(FramesArray(frames));
}

void RunDeleteFrame(CCliContext& context, const SArgs& args) {
    const std::string& path = args.operands[0];
    const auto index = static_cast<int32_t>(ParseInteger(args.operands[1], 0, INT32_MAX, "N"));
    if (!CheckMp3File(context, path)) return;
    std::vector<CTagFrame> frames;
    if (!ListFrames(context, path, frames)) return;
    if (static_cast<size_t>(index) >= frames.size())
        throw CUsageError{"no frame " + std::to_string(index) + ": the tag has " + std::to_string(frames.size()) +
                          " (from 0; see 'frames')"};
    const int32_t code = DeleteTagFrame(path, index);
    if (code != 0) context.Abort(path, "the frame could not be deleted: " + ErrorMessage(code));
    frames.clear();
    if (!ListFrames(context, path, frames)) return;
    context.Emit(FramesArray(frames));
}

}  // namespace

SCommand FramesCommand() {
    return {"frames", "FILE", "every frame of a file's tag, as the tag editor lists them",
            "ID, the tag library's description and the value (empty for Unicode text).", {}, 1, 1, RunFrames};
}

SCommand DeleteFrameCommand() {
    return {"delete-frame", "FILE N", "delete frame N (from 0, see 'frames') and list the frames again",
            "The tag is written back as ID3v2.3 and ID3v1; the file stays as it was on any failure.", {}, 2, 2,
            RunDeleteFrame};
}

SCommand TagsCommand() {
    return {"tags", "FILE...", "the ID3 tag values of each file and the application's marker",
            "Texts are ISO-8859-1 bytes as stored; track and disc are numbers (0: none).", {}, 1, -1, RunTags};
}

SCommand WriteTagsCommand() {
    return {"write-tags", "FILE", "change tag values of a file and write its ID3 tags",
            "Reads the tags, changes the values given, and writes ID3v2.3 and ID3v1. The marker\n"
            "stays as read unless --marker or --no-marker says otherwise. Texts are converted to\n"
            "ISO-8859-1 and must fit their field (title, album, artist 95, genre 47, comment 255,\n"
            "year 4, copyright and url 63 characters). Shows the values the file then holds.",
            {{"title", "T", "title"},
             {"album", "T", "album"},
             {"artist", "T", "artist"},
             {"genre", "T", "genre name"},
             {"comment", "T", "comment"},
             {"year", "T", "year"},
             {"copyright", "T", "copyright"},
             {"url", "T", "URL"},
             {"track", "N", "track number (0: none)"},
             {"disc", "N", "disc number (0: none)"},
             {"marker", nullptr, "mark the file as tagged by Melodex"},
             {"no-marker", nullptr, "remove the Melodex marker"}},
            1, 1, RunWriteTags};
}
