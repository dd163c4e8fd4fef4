// child_handle.h: what the main thread and the console event handler
// threads share about the child: where its launch stands, its process handle
// and, once read, its exit status.
//
// The launch state is one word, changed only by interlocked operations, so
// that a console event and the main thread agree on one of two outcomes and
// never on neither:
//   idle        no child yet; an event may claim the run's end (-> ended)
//   ended       an event ended the run before any child: none is ever started
//   launching   the main thread is creating the child, suspended
//   interrupted an event came while the child was suspended: it never runs
//   running     the child is started (or was ended before it ran, above)
//
// The handle is closed exactly once, by whichever user lets go of it last,
// and never used after that. A use count guards it: the main thread holds
// one use from the moment it publishes the handle until it has read the exit
// code; a handler takes a use only while the count is above zero (so never
// after the last release) and lets go after its wait and any termination.
// The release that brings the count to zero clears the handle (the
// ChildState's process: null before the child starts and once its handle is
// closed) and closes it.
//
// All of it lives in a ChildState (child/child_state.h), zero at first,
// which only these functions change.
#ifndef ZOBREL_CHILD_CHILD_HANDLE_H
#define ZOBREL_CHILD_CHILD_HANDLE_H

#include "child/child_state.h"

// Main thread, before creating the child: idle -> launching. False when an
// event has already ended the run (ended): no child may be started then.
bool begin_child_launch(ChildState *child);

// Main thread, when the child could not be created: back to idle, so that a
// later event ends the run as before any launch.
void abandon_child_launch(ChildState *child);

// Main thread, with the suspended child's handle published: launching ->
// running, and true: the child may be resumed. False when an event
// interrupted the launch: the caller ends the child, which never ran, and
// then calls mark_child_running.
bool let_child_run(ChildState *child);

// Main thread, after ending an interrupted child: interrupted -> running,
// which releases the handlers waiting for the launch.
void mark_child_running(ChildState *child);

// Handler: where this event leaves the run. True when a child has been
// started (running); an event that comes while the main thread creates the
// child waits here until it is published, and marks the launch interrupted
// first if the child is still suspended. False when no child exists and none
// ever will: the event claimed the run's end (or an earlier one did).
bool child_started_for_event(ChildState *child);

// Main thread: publishes a freshly created child's handle with one use held.
void publish_child_handle(ChildState *child, SystemHandle process);

// Takes one use of the child's handle and returns it, or null when there is
// no child (none started yet, or its handle is already closed).
SystemHandle acquire_child_handle(ChildState *child);

// Lets go of one use; the last one clears the handle and closes it.
void release_child_handle(ChildState *child);

// Main thread, before its release: the exit status it read from the child.
void record_child_exit_status(ChildState *child, unsigned long status);

// The status recorded above; meaningful once the main thread's use is gone.
unsigned long recorded_child_exit_status(ChildState *child);

#endif
