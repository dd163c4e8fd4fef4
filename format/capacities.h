// capacities.h: the launcher's fixed buffer sizes that the packer must also
// respect, in UTF-16 units with the terminating NUL included.
#ifndef ZOBREL_FORMAT_CAPACITIES_H
#define ZOBREL_FORMAT_CAPACITIES_H

#include <stddef.h>

// A wide path buffer: the unpack directory, every target path, the main
// binary path. Text that does not fit ends the launcher; it is never cut.
static const size_t WIDE_PATH_CAPACITY = 4096;

// The record name buffer: a name of at most 1023 units and its NUL.
static const size_t RECORD_NAME_CAPACITY = 1024;

#endif
