#pragma once
// The user's folders on this platform, following the XDG base-directory and
// user-dirs conventions. Everything comes from the environment (HOME,
// XDG_CONFIG_HOME, XDG_DATA_HOME and the user-dirs.dirs file below the config
// folder), so tests point them at temporary folders.

#include <string>

// $HOME, else the password database's entry for the user.
std::string HomeFolder();
// $XDG_CONFIG_HOME when absolute, else ~/.config.
std::string ConfigHome();
// The Library folder: $XDG_DATA_HOME when absolute, else ~/.local/share.
std::string LibraryFolder();
// ConfigHome()/Melodex, created (mode 0700) when missing; a folder that cannot
// be made throws CError (translated errno).
std::string PreferencesFolder();
// The XDG music folder from user-dirs.dirs, else ~/Music. Not created.
std::string MusicFolder();
// The Trash root of the home Trash: LibraryFolder()/Trash. Not created.
std::string TrashFolder();
