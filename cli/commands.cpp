// The command table: every command the front end offers, in help order.
#include "cli/command.h"

SCommand InfoCommand();
SCommand FramesCommand();
SCommand DeleteFrameCommand();
SCommand DigestCommand();
SCommand TokenCommand();
SCommand QueryCommand();
SCommand TagsCommand();
SCommand WriteTagsCommand();
SCommand AddCommand();
SCommand IdentifyCommand();
SCommand RenameCommand();
SCommand DupesCommand();
SCommand TrashCommand();
SCommand PlaylistsCommand();
SCommand ImportCommand();
SCommand PrefsShowCommand();
SCommand PrefsSetCommand();
SCommand CacheShowCommand();
SCommand CacheClearCommand();
SCommand LoginCommand();
SCommand IntroCommand();
SCommand LyricsCommand();
SCommand CheckUpdateCommand();
SCommand DownloadUpdateCommand();

const std::vector<SCommand>& Commands() {
    static const std::vector<SCommand> commands = {
        InfoCommand(),
        TagsCommand(),
        WriteTagsCommand(),
        FramesCommand(),
        DeleteFrameCommand(),
        DigestCommand(),
        TokenCommand(),
        QueryCommand(),
        AddCommand(),
        IdentifyCommand(),
        RenameCommand(),
        DupesCommand(),
        TrashCommand(),
        LyricsCommand(),
        PlaylistsCommand(),
        ImportCommand(),
        PrefsShowCommand(),
        PrefsSetCommand(),
        CacheShowCommand(),
        CacheClearCommand(),
        LoginCommand(),
        IntroCommand(),
        CheckUpdateCommand(),
        DownloadUpdateCommand(),
    };
    return commands;
}
