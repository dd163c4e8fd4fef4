// remove_tree.h: removes a folder and everything in it, within a time limit,
// giving up quietly at the first thing that cannot go. One caller at a time
// (one static path buffer).
//
// Nothing is removed by its name: every entry is opened as itself and
// removed through that handle only when its final path is the tree's (the
// folder resolved once, where it was meant to be) followed by its relative
// name (common/final_path.h). On Windows a link (junction, symbolic link,
// any reparse point) then opens as itself and is removed as a link; what it
// points to is never entered. Under Wine, whose Unix links open as their
// targets whatever is asked, a link resolves elsewhere and is left in place,
// with whatever holds it: the tree is left for good.
#ifndef ZOBREL_TIDY_REMOVE_TREE_H
#define ZOBREL_TIDY_REMOVE_TREE_H

#include <windows.h>

#include "common/final_path.h"

enum TreeRemoval {
    // The folder is gone.
    TREE_REMOVED,
    // Stopped at something that may go later: an entry in use or access
    // denied, the folder not there, the deadline passed.
    TREE_STOPPED,
    // Stopped at something no later removal would get past: an entry that
    // is not where it is meant to be (a link that resolves elsewhere), a
    // path longer than a wide path buffer, a folder that stays non-empty
    // with nothing listed in it (under Wine, a dangling or looping link,
    // which no listing shows).
    TREE_LEFT,
};

// Removes the folder at `path` (a full path of fewer than WIDE_PATH_CAPACITY
// units), named `name` in the folder whose final path is `parent`, and its
// contents, depth first, as above. A read-only file or folder loses that
// attribute and is removed. Whatever it stops at is left with everything
// not yet removed; it also stops once GetTickCount64 has passed the
// deadline.
TreeRemoval remove_tree(const wchar_t *path, const FinalPath &parent, const wchar_t *name,
                        ULONGLONG deadline);

#endif
