// zstd_check.h: turns a zstd return code into the packer's refusal.
#ifndef ZOBREL_PACKER_ARCHIVE_ZSTD_CHECK_H
#define ZOBREL_PACKER_ARCHIVE_ZSTD_CHECK_H

#include <zstd.h>

#include <string>

#include "base/error.h"

namespace zobrel {

// Throws PackError "zstd: <what>: <zstd's error name>" when rc is an error.
inline void check_zstd(size_t rc, const char *what)
{
    if (ZSTD_isError(rc)) throw PackError(std::string("zstd: ") + what + ": " + ZSTD_getErrorName(rc));
}

}  // namespace zobrel

#endif
