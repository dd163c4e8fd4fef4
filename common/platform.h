// platform.h: the compiler-specific corner of the launcher. Everything that
// an MSVC build would spell differently lives here and nowhere else.
#ifndef ZOBREL_COMMON_PLATFORM_H
#define ZOBREL_COMMON_PLATFORM_H

#if defined(_MSC_VER)
#include <stdlib.h>
#define ZOBREL_NORETURN __declspec(noreturn)
#else
#define ZOBREL_NORETURN __attribute__((noreturn))
#endif

// Abnormal termination: ends the process at once through the platform's
// fail-fast mechanism (code FAST_FAIL_FATAL_APP_EXIT, exit status 0xC0000409).
// Prints nothing, runs no exit handler and flushes no stream buffer. This is
// what the runtime library's abort does with MSVC; mingw's abort instead ends
// with status 3, so the fail-fast is raised directly there.
ZOBREL_NORETURN inline void terminate_abnormally()
{
#if defined(_MSC_VER)
    abort();
#elif defined(__aarch64__)
    // brk #0xf003 is the fail-fast trap on ARM64; x0 carries the code (7).
    __asm__ volatile("mov x0, #7\n\tbrk #0xf003" : : : "x0", "memory");
    __builtin_unreachable();
#else
    // int 0x29 is the fail-fast interrupt; ecx carries the fail-fast code (7).
    __asm__ volatile("int $0x29" : : "c"(7) : "memory");
    __builtin_unreachable();
#endif
}

#endif
