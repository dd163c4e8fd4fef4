// child_job.h: the job object that ties the child to the launcher, for both
// launchers: the child is ended when the job's last handle closes, which is
// when the launcher ends, however it ends (a launcher killed from Task
// Manager or by TerminateProcess takes its program along, and no tidy of
// another start then finds the folder of a program still running). Only the
// child is in the job: what it starts breaks away silently, so programs it
// starts to outlive it (an updater, a document opened in another program)
// still do.
//
// Best effort: where the job cannot be made or joined (a system that
// refuses a job inside the one the launcher runs in), the child runs
// without that tie, and its folder is still held for as long as it runs by
// the handles it inherits (child/launch.h).
#ifndef ZOBREL_CHILD_CHILD_JOB_H
#define ZOBREL_CHILD_CHILD_JOB_H

#include <windows.h>

#include "child/child_state.h"

// Before the child is created: makes the job (kill on close, silent
// breakaway) into session->job; null there when it cannot be made. Not
// inheritable: the launcher's handle is the job's only one.
void make_child_job(SessionWatch *session);

// With the child created suspended, before it runs (a process it started
// meanwhile would escape the job): puts it into the job, if there is one.
void put_child_in_job(const SessionWatch *session, HANDLE process);

#endif
