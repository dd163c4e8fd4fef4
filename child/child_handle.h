// child_handle.h: shared use of the child's process handle by the main
// thread and the console event handler threads.
//
// The handle is closed exactly once, by whichever user lets go of it last,
// and never used after that. A use count guards it: the main thread holds
// one use from the moment it publishes the handle until it has read the exit
// code; a handler takes a use only while the count is above zero (so never
// after the last release) and lets go after its wait and any termination.
// The release that brings the count to zero clears g_child_process and closes
// the handle. Interlocked operations make every step atomic, so no thread
// can see a handle that another has already closed.
#ifndef ZOBREL_CHILD_CHILD_HANDLE_H
#define ZOBREL_CHILD_CHILD_HANDLE_H

#include <windows.h>

// The running child's process handle, or null before it starts and once its
// handle is closed.
extern HANDLE volatile g_child_process;

// Main thread: publishes a freshly created child's handle with one use held.
void publish_child_handle(HANDLE process);

// Takes one use of the child's handle and returns it, or null when there is
// no child (none started yet, or its handle is already closed).
HANDLE acquire_child_handle();

// Lets go of one use; the last one clears g_child_process and closes the handle.
void release_child_handle();

#endif
