// child_job.cpp: the job that ends the child with the launcher.
#include "child/child_job.h"

void make_child_job(LaunchContext *context)
{
    HANDLE job = CreateJobObjectW(/* lpJobAttributes: not inherited */ NULL, /* lpName */ NULL);
    if (job == NULL) {
        return;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        return;
    }
    context->session.job = job;
}

void put_child_in_job(LaunchContext *context, HANDLE process)
{
    if (context->session.job != NULL) {
        // Refused inside a job that allows no job within it (before Windows 8):
        // the child then runs without one.
        AssignProcessToJobObject(context->session.job, process);
    }
}
