// reader.cpp: parses archive records out of the decoded frame.
#include "archive/reader.h"

#include <zlib.h>

#include <vector>

#include "base/error.h"
#include "little_endian.h"
#include "payload_format.h"

namespace zobrel {
namespace {

class Buffered {
public:
    explicit Buffered(FrameReader &r) : reader_(r), buf_(DECODE_WINDOW_SIZE) {}

    // Up to n bytes straight from the buffer; 0 only at the end of the stream.
    size_t peek(const unsigned char **data, size_t n)
    {
        if (pos_ == fill_) {
            fill_ = reader_.read(buf_.data(), buf_.size());
            pos_ = 0;
        }
        size_t k = fill_ - pos_ < n ? fill_ - pos_ : n;
        *data = buf_.data() + pos_;
        pos_ += k;
        return k;
    }

    void exact(unsigned char *dst, size_t n, const char *what)
    {
        while (n > 0) {
            const unsigned char *p;
            size_t k = peek(&p, n);
            if (k == 0)
                throw PackError(std::string("the archive ends inside a record's ") + what +
                                " (payload truncated)");
            for (size_t i = 0; i < k; ++i) dst[i] = p[i];
            dst += k;
            n -= k;
        }
    }

private:
    FrameReader &reader_;
    std::vector<unsigned char> buf_;
    size_t pos_ = 0, fill_ = 0;
};

}  // namespace

uint64_t read_archive(FrameReader &reader, RecordVisitor &visitor)
{
    Buffered in(reader);
    uint64_t count = 0;
    for (;;) {
        RecordHeader h;
        for (;;) {
            unsigned char unit[2];
            in.exact(unit, 2, "name");
            char16_t c = static_cast<char16_t>(read_le16(unit));
            if (c == 0) break;
            if (h.name.size() == RECORD_NAME_CAPACITY - 1) {
                throw PackError("record " + std::to_string(count + 1) + " has a name longer than " +
                                std::to_string(RECORD_NAME_CAPACITY - 1) + " units (payload damaged)");
            }
            h.name.push_back(c);
        }
        if (h.name.empty()) break;  // end marker
        unsigned char fixed[RECORD_FIXED_SIZE];
        in.exact(fixed, sizeof fixed, "size and checksum");
        h.size = read_le64(fixed);
        h.stored_checksum = read_le32(fixed + 8);
        visitor.begin(h);
        uint32_t crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
        for (uint64_t left = h.size; left > 0;) {
            const unsigned char *p;
            size_t want = left < DECODE_WINDOW_SIZE ? static_cast<size_t>(left) : DECODE_WINDOW_SIZE;
            size_t k = in.peek(&p, want);
            if (k == 0) throw PackError("the archive ends inside a record's content (payload truncated)");
            crc = static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(k)));
            visitor.content(p, k);
            left -= k;
        }
        visitor.end(h, crc);
        ++count;
    }
    const unsigned char *p;
    if (in.peek(&p, 1) != 0) throw PackError("data follows the archive's end marker (payload damaged)");
    return count;
}

}  // namespace zobrel
