// message_box.h: the windowed launcher's reporter. A program of the Windows
// subsystem has no console to write on: the failure's line is shown in a
// message box titled with the product name, and written on standard error
// too when the launcher was given a standard error handle (a redirection,
// a parent that reads it). Where no one could see a box (the process's
// window station is not the interactive one: a service, a task run without a
// logged-on user), none is shown and standard error alone carries the line:
// the launcher never waits on a box that cannot be answered. The exit status
// is the table's, as for the console's reporter (launcher/failure_report.h).
#ifndef ZOBREL_LAUNCHER_WINDOWED_MESSAGE_BOX_H
#define ZOBREL_LAUNCHER_WINDOWED_MESSAGE_BOX_H

#include "launcher/launch_context.h"
#include "launcher/failure_report.h"

// Chooses the box's title: the product name of the build constants, or,
// when they could not be read, the launcher's file name without ".exe".
void set_report_title(const LaunchContext *context);

// A FailureReporter: the line (without its "\n") in a box with an error
// icon and one OK button, which returns once it is closed; and the line,
// byte for byte as the console's reporter writes it, on standard error
// first, whatever stream the table names.
void report_in_message_box(const char *line, ReportStream stream);

#endif
