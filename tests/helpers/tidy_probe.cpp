// tidy_probe.cpp: one start of a packed build that keeps builds' folders, as
// its launcher makes it, but with the tidy of the older builds' folders run
// on the main thread and no child; for a test that kills a start while it
// removes. (Under Wine a launcher killed while its main thread waits for
// its child can be left hanging, holding its files: Wine's fault, not the
// tidy's; a start busy on its main thread dies cleanly.)
//
//   tidy_probe.exe <packed exe> <unpack directory> [--untied]
//
// Exits 0 after the tidy, 2 when the stages fail, 100 on bad arguments.
// With --untied, after the unpack stages it starts the build's program as
// the launcher does (launch_child), but without the job that ties it to
// the launcher, as where the job cannot be made or joined, and exits with
// the program's exit code; no tidy.
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "build_constants.h"
#include "child/child_environment.h"
#include "child/cmdline.h"
#include "child/launch.h"
#include "launcher/launch_context.h"
#include "common/wide_buffer.h"
#include "launcher/main_sequence.h"
#include "pe_sections.h"
#include "tidy/older_builds.h"

static LaunchContext g_launch;

// Called once the program is made, before it is put in the job: there is
// none then.
static void drop_job(ChildStage *child)
{
    CloseHandle(child->session.job);
    child->session.job = NULL;
}

int wmain(int argc, wchar_t **argv)
{
    const bool untied = argc == 4 && wcscmp(argv[3], L"--untied") == 0;
    if (argc != 3 && !untied) return 100;
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 100;
    HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
    const unsigned char *exe =
        mapping == NULL ? NULL
                        : static_cast<const unsigned char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    LARGE_INTEGER size;
    if (exe == NULL || !GetFileSizeEx(file, &size)) return 100;
    const size_t length = static_cast<size_t>(size.QuadPart);

    LaunchContext *context = &g_launch;
    init_launch_context(context, argv[0]);
    PeFileSection payload, constants;
    if (!find_pe_section(exe, length, PAYLOAD_SECTION_NAME, &payload) ||
        !pe_section_contents_fit(payload, length) ||
        !find_pe_section(exe, length, CONSTANTS_SECTION_NAME, &constants) ||
        !pe_section_contents_fit(constants, length) ||
        !read_build_info(exe + constants.header.raw_offset, constants.header.virtual_size,
                         exe + payload.header.raw_offset, payload.header.virtual_size,
                         &context->shared.build)) {
        return 100;
    }
    copy_wide(context->shared.unpack_directory, WIDE_PATH_CAPACITY, argv[2]);
    if (failed(unpack_stages(context))) return 2;
    if (untied) {
        context->child.launch_window_hook = drop_job;
        unsigned long status = 0;
        if (failed(build_child_command_line(&context->shared, &context->child)) ||
            failed(expand_child_environment(&context->shared, &context->child.expansion)) ||
            failed(launch_child(&context->shared, &context->child, context->tidy.marker, &status))) {
            return 2;
        }
        return static_cast<int>(status);
    }
    tidy_older_builds(&context->shared, GetTickCount64() + 120000);
    return 0;
}
