// failure_report.h: the one place where a stage's failure becomes what the
// user sees and how the launcher ends. One table gives, for each kind of
// failure, its message, the stream it belongs on and the launcher's end; a
// reporter shows the line. Another way of showing it (a message box) is
// another reporter: the lines and the ends stay those of the table.
//
// Exit status 2 goes through the runtime library's normal exit, which flushes
// a buffered standard output. Abnormal termination (terminate_abnormally in
// common/platform.h) runs no exit handler, flushes nothing and ends with
// status 0xC0000409. Both standard streams stay in text mode: each "\n"
// leaves as CR LF.
#ifndef ZOBREL_LAUNCHER_FAILURE_REPORT_H
#define ZOBREL_LAUNCHER_FAILURE_REPORT_H

#include "common/platform.h"
#include "common/stage_result.h"

enum ReportStream { REPORT_STANDARD_OUTPUT, REPORT_STANDARD_ERROR };

// Shows one failure line: text that ends with "\n", meant for the stream.
typedef void (*FailureReporter)(const char *line, ReportStream stream);

// The console's reporter: writes the line on standard output or standard
// error, byte for byte.
void report_on_console(const char *line, ReportStream stream);

// The line a failed result is reported with, "\n" included, and its stream:
//   header            "Error, couldn't find attached data header."               output
//   decode            "Error, couldn't decode attached data."                    output
//   memory            "Error, couldn't allocate memory."                         output
//   signal handler    "Error, failed to register signal handler."                output
//   open              "Error, failed to open '<detail>' for writing."            error
//   write             "Error, couldn't unpack file to target path. (<code>)"     error
//   lock              "Error, couldn't lock the unpack directory (<code>)"       error
//   launch            "Error, couldn't launch child (<code>)"                    error
//   expand            "Error, couldn't runtime expand spec '<detail>'."          error
// where (<code>) is "([Error %ld] %s)": the code as a signed 32-bit decimal
// and the system's English text for it with its trailing CR/LF run removed
// (empty when the system has none). The detail is narrowed in the runtime's
// locale; a character it cannot carry shows as '?'. The line lives in a
// static buffer until the next call. A result that did not fail ends the
// process abnormally: no stage hands one on as a failure.
const char *failure_line(const StageResult &result, ReportStream *stream);

// Shows the failure's line through the reporter, then ends the launcher:
// exit status 2, except for an expand failure, which ends in abnormal
// termination right after its line.
ZOBREL_NORETURN void end_with_failure(const StageResult &result, FailureReporter reporter);

// Cuts the run of CR and LF characters at the end of the text of the given
// length (characters before that run stay, line breaks among them).
void trim_trailing_line_breaks(char *text, unsigned long length);

#endif
