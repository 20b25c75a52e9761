// Commands over the iTunes library file.
#include "cli/cli_context.h"
#include "cli/command.h"
#include "library/itunes_library.h"

namespace {

const char* KindName(EPlaylistKind kind) {
    switch (kind) {
        case EPlaylistKind::Library: return "library";
        case EPlaylistKind::Smart: return "smart";
        case EPlaylistKind::Ordinary: return "ordinary";
    }
    return "ordinary";
}

void RunPlaylists(CCliContext& context, const SArgs& args) {
    const std::string* option = args.Value("library");
    const std::string path = option != nullptr ? *option : ItunesLibraryPath();
    if (path.empty()) context.Abort("", "the iTunes library path is too long");
    if (!CheckReadableFile(context, path)) return;
    CItunesLibrary library;
    library.LoadPlaylists(path);
    if (library.Playlists().empty()) context.Abort(path, "no playlists found (not an iTunes library file?)");
    CJsonValue result = CJsonValue::Array();
    for (const CPlaylist& playlist : library.Playlists()) {
        CJsonValue& item = result.Push(CJsonValue::Object());
        // Names keep the file's bytes (UTF-8), cut to 63 bytes.
        item.Set("name", CJsonValue::Utf8(playlist.name));
        item.Set("kind", CJsonValue::Utf8(KindName(playlist.kind)));
        item.Set("trackCount", CJsonValue::Int(playlist.trackCount));
    }
    context.Emit(result);
}

}  // namespace

SCommand PlaylistsCommand() {
    return {"playlists", "", "list the playlists of the iTunes library in file order",
            "Indexes for import count from 0 in this order. The default library file is\n"
            "\"iTunes/iTunes Music Library.xml\" in the Music folder.",
            {{"library", "FILE", "read this iTunes library file instead"}}, 0, 0, RunPlaylists};
}
