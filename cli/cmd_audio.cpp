// Commands over a file's audio: stream info and the file digest.
#include "audio/file_digest.h"
#include "audio/mpeg_info.h"
#include "cli/cli_context.h"
#include "cli/command.h"

namespace {

void RunInfo(CCliContext& context, const SArgs& args) {
    CJsonValue result = CJsonValue::Array();
    for (const std::string& path : args.operands) {
        if (!CheckMp3File(context, path)) continue;
        CMpegInfo info;
        info.Analyse(path.c_str());
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("path", CJsonValue::Utf8(path));
        item.Set("audioStart", CJsonValue::Int(info.AudioStart()));
        item.Set("fileLength", CJsonValue::Int(info.FileLength()));
        item.Set("id3v1Size", CJsonValue::Int(info.Id3v1Size()));
        item.Set("headerWord", CJsonValue::Int(info.HeaderWord()));
        item.Set("versionId", CJsonValue::Int(info.VersionId()));
        item.Set("layerBits", CJsonValue::Int(info.LayerBits()));
        item.Set("protection", CJsonValue::Int(info.Protection()));
        item.Set("bitrateIndex", CJsonValue::Int(info.BitrateIndex()));
        item.Set("bitrate", CJsonValue::Int(info.Bitrate()));
        item.Set("sampleRateIndex", CJsonValue::Int(info.SampleRateIndex()));
        item.Set("padding", CJsonValue::Int(info.Padding()));
        item.Set("private", CJsonValue::Int(info.PrivateBit()));
        item.Set("channelMode", CJsonValue::Int(info.ChannelMode()));
        item.Set("modeExtension", CJsonValue::Int(info.ModeExtension()));
        item.Set("copyright", CJsonValue::Int(info.Copyright()));
        item.Set("original", CJsonValue::Int(info.Original()));
        item.Set("emphasis", CJsonValue::Int(info.Emphasis()));
        item.Set("versionNumber", CJsonValue::Int(info.VersionNumber()));
        item.Set("layerNumber", CJsonValue::Int(info.LayerNumber()));
        // Analyse has measured both; the lazy accessors do not scan again
        // once a length was found.
        item.Set("lengthSeconds", CJsonValue::Int(info.LengthSeconds()));
        item.Set("sampleRate", CJsonValue::Int(info.SampleRate()));
    }
    context.Emit(result);
}

void RunDigest(CCliContext& context, const SArgs& args) {
    const std::string& path = args.operands[0];
    if (!CheckMp3File(context, path)) return;
    char digest[kDigestTextSize];
    int32_t fileSize = 0, seconds = 0, bitrate = 0;
    DigestFile(path.c_str(), digest, &fileSize, &seconds, &bitrate);
    if (fileSize == 0) context.Abort(path, "the file could not be read");
    CJsonValue result = CJsonValue::Object();
    result.Set("md5", CJsonValue::Utf8(digest));
    result.Set("fileSize", CJsonValue::Int(fileSize));
    result.Set("lengthSeconds", CJsonValue::Int(seconds));
    result.Set("bitrate", CJsonValue::Int(bitrate));
    context.Emit(result);
}

}  // namespace

SCommand InfoCommand() {
    return {"info", "FILE...", "MPEG stream properties of each file",
            "Analyses each file without decoding it: where the audio starts, the fields of the\n"
            "first frame header, the ID3v1 tag size, the playing time and the sample rate.",
            {}, 1, -1, RunInfo};
}

SCommand DigestCommand() {
    return {"digest", "FILE", "the audio digest of a file, as sent to the identification service",
            "MD5 of the audio bytes between the tags, with the file size, playing time and bitrate.",
            {}, 1, 1, RunDigest};
}
