// older_builds.h: the tidy stage: once a start of a build that keeps N
// builds has its files in place, the unpack folders of the same product's
// other builds beside its own go, all but the N-1 most recently started.
//
// What is removed: a folder in the unpack directory's parent that holds a
// whole build marker of this product naming that folder (tidy/build_marker.h)
// and is not the unpack directory itself; and what earlier removals of this
// product left (".zobrel-trash-<identity>-<token>"). Nothing else in the
// parent is ever touched: a folder without a marker, one of another
// product, one whose marker names another folder (a copy, a backup, a
// folder renamed) or is of the earlier form, a link.
//
// Never a folder in use: one whose unpack lock another launcher holds or
// waits for, or keeps as its claim (its program runs, payload/unpack_lock.h),
// or whose marker a start or its program holds open, is skipped this time.
// A folder to remove is first renamed, with its lock held and its marker
// found free, to a trash name in the same parent that no build uses, and
// only then emptied: a removal cut short (a file in use, access denied, the
// time limit, the launcher killed) leaves trash that no start would take
// for an unpack folder, and that the next tidy removes.
//
// Everything is acted on through handles checked to be where they are meant
// to be (common/final_path.h, tidy/remove_tree.h): a link anywhere is never
// followed. A removal that meets what no later tidy would get past (a link
// that resolves elsewhere, a path too deep) is left for good: renamed to
// ".zobrel-left-<identity>-<token>", which later tidies see in their one
// listing of the parent and never look into again.
//
// Nothing here prints, and nothing fails the start.
#ifndef ZOBREL_TIDY_OLDER_BUILDS_H
#define ZOBREL_TIDY_OLDER_BUILDS_H

#include <windows.h>

#include "common/launch_shared.h"
#include "tidy/tidy_state.h"

// Milliseconds a tidy may take from its start; then it stops where it is.
static const ULONGLONG TIDY_TIME_LIMIT_MS = 2000;

// Folders of the parent a tidy looks at (the first ones its listing gives);
// any others wait for a later tidy.
static const int TIDY_FOLDERS_CAPACITY = 128;

// Tidies the parent of the launch's unpack directory as above, stopping
// once GetTickCount64 passes the deadline; does nothing when the build keeps
// every folder or the parent cannot be resolved. Returns what it did. One
// call at a time per process, with the launch's unpack root resolved.
TidyOutcome tidy_older_builds(const LaunchShared *launch, ULONGLONG deadline);

// Starts tidy_older_builds on a thread of its own, with a deadline
// TIDY_TIME_LIMIT_MS from now, to run beside the child; does nothing when
// the build keeps every folder. Without a thread, it does not run. The
// launch is read by the thread until finish_tidy.
void start_tidy(const LaunchShared *launch, TidyState *tidy);

// Waits for the tidy's thread until its deadline at most, puts its outcome
// in the tidy's part and lets the thread go; nothing happens when
// none runs. A thread still at work then is ended with the process, which
// leaves at most trash for the next tidy.
void finish_tidy(TidyState *tidy);

// For a build that keeps no folder, once its program has ended and the
// launcher has its exit code (after finish_tidy): closes the launcher's
// hold on the unpack directory's marker and its claim, then removes the
// directory as a tidy removes another build's folder (renamed to trash
// whole, then emptied, never through a link, until the deadline) when
// nothing started from it still runs: no process holds an inherited copy
// of the marker or the claim (a program the program started, inheriting
// handles, even one that broke away from the job), and no running process
// has its image in it (tidy/running_programs.h; on Windows a running image
// or any open file in the folder also keeps it from being renamed).
// Otherwise the folder stays whole, and a later start's tidy removes it
// once it is free, as it removes a killed start's; what a removal cut
// short leaves is trash that a later start clears. Does nothing for other
// builds, when the folder is not right in its parent, or while the tidy's
// thread is still at work. Returns what it did; nothing fails the start.
TidyOutcome remove_own_folder(LaunchShared *launch, TidyState *tidy, ULONGLONG deadline);

#endif
