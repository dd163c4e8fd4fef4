// remove_tree.h: removes a folder and everything in it, within a time limit,
// giving up quietly at the first thing that cannot go. One caller at a time
// (one static path buffer).
#ifndef ZOBREL_TIDY_REMOVE_TREE_H
#define ZOBREL_TIDY_REMOVE_TREE_H

#include <windows.h>

// Removes the folder (a full path of fewer than WIDE_PATH_CAPACITY units)
// and its contents, depth first. Links inside it (junctions, symbolic
// links, any reparse point) are removed as links; what they point to is
// never entered. A read-only file or folder loses that attribute and is
// removed. True when the folder is gone. False, leaving whatever is left,
// at the first entry that cannot be removed (in use, access denied, a path
// too long), when the folder cannot be listed, or once GetTickCount64 has
// passed the deadline.
bool remove_tree(const wchar_t *folder, ULONGLONG deadline);

#endif
