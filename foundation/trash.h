#pragma once
// Moving files to the user's Trash after the freedesktop.org Trash
// standard 1.0: the home Trash below the Library folder for files on its
// file system, the volume's own $topdir/.Trash/$uid or $topdir/.Trash-$uid for
// files elsewhere, and a copy into the home Trash when neither can be used.

// Moves path (a file, link or folder) to the Trash and writes its
// info/NAME.trashinfo. A name that is taken gets a numbered variant, so
// nothing in the Trash is replaced. Failures throw CError with the raw errno
// value and leave the file where it was.
void MoveToTrash(const char* path);
