// read_ahead.h: reads the files to carry, in order, on a thread of its own,
// ahead of the compressor, checksumming each as it goes.
#ifndef ZOBREL_PACKER_ARCHIVE_READ_AHEAD_H
#define ZOBREL_PACKER_ARCHIVE_READ_AHEAD_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/scan.h"
#include "base/error.h"

namespace zobrel {

// The refusal for a file whose size or content changed since the scan.
PackError changed_while_packing(const SourceFile &f);

// Memory for one file's content, never zero-filled, reused from file to file
// so that its pages are touched once.
struct Buffer {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
};

// One file's content read whole, with its CRC-32; or, for a file too large
// to hold (over 64 MiB), nothing: its reader streams it then.
struct LoadedFile {
    Buffer buffer;
    size_t size = 0;
    uint32_t crc = 0;
    bool whole = false;
    std::exception_ptr error;
};

// Reads the files in order, up to 8 MiB ahead of the compressor, so that
// reading and checksumming overlap compressing, as a compressor's own input
// reading does. The thread stops at the first file it cannot read.
class ReadAhead {
public:
    explicit ReadAhead(const std::vector<SourceFile> &files);
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    // Gives a buffer back for reuse.
    void recycle(Buffer buffer);

    // The next file's, in the files' order. Rethrows what its reading threw:
    // a PackError when it cannot be read or changed since the scan.
    LoadedFile next();

private:
    void run();

    const std::vector<SourceFile> &files_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<LoadedFile> ready_;
    std::vector<Buffer> spare_;
    uint64_t held_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace zobrel

#endif
