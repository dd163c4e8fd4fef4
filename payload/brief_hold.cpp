// brief_hold.cpp: the bounded back-off of opens and renames that another program's brief hold refused.
#include "payload/brief_hold.h"

#include <windows.h>

static const unsigned long FIRST_WAIT_MS = 10;
static const unsigned long LONGEST_WAIT_MS = 250;

bool wait_out_brief_hold(BriefHoldWait *wait)
{
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_ACCESS_DENIED) {
        return false;
    }
    if (wait->waited_ms >= BRIEF_HOLD_BOUND_MS) {
        return false;
    }
    unsigned long next = wait->waited_ms < FIRST_WAIT_MS ? FIRST_WAIT_MS : wait->waited_ms;
    if (next > LONGEST_WAIT_MS) {
        next = LONGEST_WAIT_MS;
    }
    if (next > BRIEF_HOLD_BOUND_MS - wait->waited_ms) {
        next = BRIEF_HOLD_BOUND_MS - wait->waited_ms;
    }
    Sleep(next);
    wait->waited_ms += next;
    return true;
}
