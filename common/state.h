// state.h: process-wide state shared by the stages of the main sequence.
// Static storage, zero at process start, never freed. Main thread only.
#ifndef ZOBREL_COMMON_STATE_H
#define ZOBREL_COMMON_STATE_H

#include "common/wide_buffer.h"

// The unpack directory: the expanded target specification, then its absolute
// form; the start of every target path.
extern wchar_t g_unpack_directory[WIDE_PATH_CAPACITY];

// The target path of the first archive record: the program the launcher starts.
// Empty until the first record.
extern wchar_t g_main_binary_path[WIDE_PATH_CAPACITY];

#endif
