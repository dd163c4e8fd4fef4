// file_identity.cpp: a file's index on its volume.
#include "common/file_identity.h"

#include "common/system_library.h"

// What ntdll's NtQueryInformationFile fills in: a status block, and for
// FileInternalInformation the index alone.
struct IoStatusBlock {
    void *status_or_pointer;
    ULONG_PTR information;
};

typedef LONG(WINAPI *NtQueryInformationFileFunction)(HANDLE, IoStatusBlock *, void *, ULONG, int);

static const int FILE_INTERNAL_INFORMATION_CLASS = 6;

bool file_index_of(HANDLE file, uint64_t *index)
{
    static NtQueryInformationFileFunction query = NULL;
    if (query == NULL) {
        query = reinterpret_cast<NtQueryInformationFileFunction>(
            reinterpret_cast<void *>(system_function(L"ntdll.dll", "NtQueryInformationFile")));
    }
    IoStatusBlock status;
    LARGE_INTEGER found;
    if (query == NULL || query(file, &status, &found, sizeof found, FILE_INTERNAL_INFORMATION_CLASS) != 0) {
        return false;
    }
    *index = static_cast<uint64_t>(found.QuadPart);
    return true;
}
