// child_job.cpp: the job that ends the child with the launcher.
#include "child/child_job.h"

void make_child_job(SessionWatch *session)
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
    session->job = job;
}

void put_child_in_job(const SessionWatch *session, HANDLE process)
{
    if (session->job != NULL) {
        // Refused inside a job that allows no job within it (before Windows 8):
        // the child then runs without one.
        AssignProcessToJobObject(session->job, process);
    }
}
