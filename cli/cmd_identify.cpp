// Commands that show what identification sends: the fingerprint token and
// the query URL.
#include <atomic>
#include <memory>
#include <vector>

#include "audio/file_digest.h"
#include "audio/token.h"
#include "cli/cli_context.h"
#include "cli/command.h"
#include "identify/id_query.h"
#include "library/song.h"

namespace {

// The token, or the failure reported and an empty text.
std::string TokenOf(CCliContext& context, const std::string& path) {
    std::vector<char> token(kTokenCapacity);
    BuildToken(path.c_str(), token.data(), token.size());
    if (token[0] == '\0')
        context.Fail(path, "no fingerprint token could be made (the song is shorter than 70 seconds, "
                           "holds no decodable audio or memory ran out)");
    return token.data();
}

void RunToken(CCliContext& context, const SArgs& args) {
    const std::string& path = args.operands[0];
    if (!CheckMp3File(context, path)) return;
    const std::string token = TokenOf(context, path);
    if (token.empty()) return;
    CJsonValue result = CJsonValue::Object();
    result.Set("token", CJsonValue::Utf8(token));
    context.Emit(result);
}

void RunQuery(CCliContext& context, const SArgs& args) {
    const std::string& path = args.operands[0];
    if (!CheckMp3File(context, path)) return;
    context.LoadSettings();
    const CPrefs& prefs = context.App().prefs;

    CSong song;
    SongFromFile(context, path, song);

    char digest[kDigestTextSize];
    int32_t fileSize = 0, seconds = 0, bitrate = 0;
    DigestFile(path.c_str(), digest, &fileSize, &seconds, &bitrate);
    std::string token;
    const bool fingerprint = args.Has("fingerprint");
    if (fingerprint) {
        token = TokenOf(context, path);
        if (token.empty()) return;
    }
    const std::atomic<bool> released{false};
    const std::string url = BuildIdQuery(song, fingerprint ? EIdQuery::Fingerprint : EIdQuery::Digest, digest,
                                         fileSize, seconds, bitrate, token.c_str(), released, prefs);
    CJsonValue result = CJsonValue::Object();
    result.Set("url", CJsonValue::Latin1(url));
    context.Emit(result);
}

}  // namespace

SCommand TokenCommand() {
    return {"token", "FILE", "the acoustic fingerprint token of a song (from 40 s in)",
            "Songs shorter than 70 seconds have no token.", {}, 1, 1, RunToken};
}

SCommand QueryCommand() {
    return {"query", "FILE", "the identification query URL for a song, with the stored account",
            "By default the digest query; with --fingerprint the acoustic query. The URL is shown\n"
            "byte for byte, each byte as the ISO-8859-1 character of its code.",
            {{"fingerprint", nullptr, "build the fingerprint query instead of the digest query"}}, 1, 1, RunQuery};
}
