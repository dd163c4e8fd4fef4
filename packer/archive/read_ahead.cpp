// read_ahead.cpp: the thread that reads and checksums the files ahead of the compressor.
#include "archive/read_ahead.h"

#include <algorithm>
#include <fstream>

#include <libdeflate.h>

#include "base/text.h"

namespace zobrel {
namespace {

// Files up to this size are read into memory once; larger ones twice.
const uint64_t WHOLE_FILE = uint64_t{64} << 20;
// How far reading may run ahead of compressing.
const uint64_t READ_AHEAD = uint64_t{8} << 20;

// Reads the file into the buffer, which grows if it must.
LoadedFile load_whole(const SourceFile &f, Buffer buffer)
{
    LoadedFile loaded;
    loaded.whole = true;
    loaded.size = static_cast<size_t>(f.size);
    if (buffer.capacity < loaded.size) {
        buffer.capacity = std::max(loaded.size, size_t{1} << 20);
        buffer.data.reset(new char[buffer.capacity]);
    }
    loaded.buffer = std::move(buffer);
    std::ifstream in(f.path, std::ios::binary);
    if (!in) throw PackError("cannot read " + quoted(f.path));
    in.read(loaded.buffer.data.get(), static_cast<std::streamsize>(loaded.size));
    if (in.bad()) throw PackError("cannot read " + quoted(f.path) + ": read error");
    if (static_cast<uint64_t>(in.gcount()) != f.size || in.peek() != std::char_traits<char>::eof()) {
        throw changed_while_packing(f);
    }
    loaded.crc = libdeflate_crc32(0, loaded.buffer.data.get(), loaded.size);
    return loaded;
}

}  // namespace

PackError changed_while_packing(const SourceFile &f)
{
    return PackError("file " + quoted(f.path) + " changed while it was being packed; pack again");
}

ReadAhead::ReadAhead(const std::vector<SourceFile> &files) : files_(files), thread_([this] { run(); }) {}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::recycle(Buffer buffer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.push_back(std::move(buffer));
}

LoadedFile ReadAhead::next()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !ready_.empty(); });
    LoadedFile loaded = std::move(ready_.front());
    ready_.pop_front();
    held_ -= loaded.size;
    changed_.notify_all();
    if (loaded.error) std::rethrow_exception(loaded.error);
    return loaded;
}

void ReadAhead::run()
{
    for (const SourceFile &f : files_) {
        LoadedFile loaded;
        Buffer buffer;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || held_ == 0 || held_ + f.size <= READ_AHEAD; });
            if (stop_) return;
            // The smallest spare buffer that holds the file, else the largest.
            size_t pick = spare_.size();
            for (size_t i = 0; i < spare_.size(); ++i) {
                const bool fits = spare_[i].capacity >= f.size;
                if (pick == spare_.size() ||
                    (fits &&
                     (spare_[pick].capacity < f.size || spare_[i].capacity < spare_[pick].capacity)) ||
                    (!fits && spare_[pick].capacity < f.size && spare_[i].capacity > spare_[pick].capacity)) {
                    pick = i;
                }
            }
            if (pick < spare_.size()) {
                buffer = std::move(spare_[pick]);
                spare_.erase(spare_.begin() + static_cast<long>(pick));
            }
        }
        try {
            if (f.size <= WHOLE_FILE) loaded = load_whole(f, std::move(buffer));
        } catch (...) {
            loaded.error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        held_ += loaded.size;
        const bool failed = loaded.error != nullptr;
        ready_.push_back(std::move(loaded));
        changed_.notify_all();
        if (failed) return;
    }
}

}  // namespace zobrel
