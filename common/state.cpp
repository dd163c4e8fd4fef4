// state.cpp: storage of the process-wide state shared by the stages.
#include "common/state.h"

wchar_t g_unpack_directory[WIDE_PATH_CAPACITY];
wchar_t g_main_binary_path[WIDE_PATH_CAPACITY];
