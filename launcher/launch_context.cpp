// launch_context.cpp: empties a whole launch.
#include "launcher/launch_context.h"

#include <string.h>

void init_launch_context(LaunchContext *context, const wchar_t *argv0)
{
    memset(context, 0, sizeof *context);
    init_launch_shared(&context->shared, argv0);
}
