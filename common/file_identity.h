// file_identity.h: which file an open handle is, as cheaply as the system
// tells it.
#ifndef ZOBREL_COMMON_FILE_IDENTITY_H
#define ZOBREL_COMMON_FILE_IDENTITY_H

#include <windows.h>
#include <stdint.h>

// The open file's index on its volume (on NTFS its file reference number,
// under Wine its inode), asked alone (FileInternalInformation): without the
// volume's own query that GetFileInformationByHandle makes for every file,
// which under Wine is a round trip to its mount manager, about a
// millisecond. False when the system gives none.
bool file_index_of(HANDLE file, uint64_t *index);

#endif
