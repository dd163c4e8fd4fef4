// failure_probe.cpp: ends through the launcher's failure report with the
// result chosen by argv[1], so tests can watch its streams and exit code
// from outside.
//
//   header | decode | memory | signal   a failure of that kind
//   open PATH | expand SPEC            a failure that names a path or a specification
//   write CODE | lock CODE | launch CODE   a failure with a system error code
//   abort                              abnormal termination, without a report
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>

#include "common/platform.h"
#include "launcher/failure_report.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) return 100;
    std::wstring op = argv[1];
    const wchar_t *arg = argc > 2 ? argv[2] : L"";
    unsigned long code = wcstoul(arg, NULL, 0);
    // Buffered output before the report shows whether the end flushes it.
    if (_wgetenv(L"PROBE_PRELUDE") != NULL) fputs("prelude\n", stdout);
    struct {
        const wchar_t *op;
        StageResult result;
    } const ops[] = {
        {L"header", stage_failed(FAILURE_HEADER)},       {L"decode", stage_failed(FAILURE_DECODE)},
        {L"memory", stage_failed(FAILURE_MEMORY)},       {L"signal", stage_failed(FAILURE_SIGNAL_HANDLER)},
        {L"open", stage_failed(FAILURE_OPEN, 0, arg)},   {L"expand", stage_failed(FAILURE_EXPAND, 0, arg)},
        {L"write", stage_failed(FAILURE_WRITE, code)},   {L"lock", stage_failed(FAILURE_LOCK, code)},
        {L"launch", stage_failed(FAILURE_LAUNCH, code)},
    };
    for (const auto &o : ops) {
        if (op == o.op) end_with_failure(o.result, report_on_console);
    }
    if (op == L"abort") terminate_abnormally();
    return 101;
}
