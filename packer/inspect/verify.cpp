// verify.cpp: decodes a packed executable whole and checks every layout and checksum.
#include "inspect/verify.h"

#include <set>
#include <string>
#include <vector>

#include "archive/names.h"
#include "archive/reader.h"
#include "base/error.h"
#include "base/progress.h"
#include "base/text.h"
#include "image/pe_reader.h"
#include "inspect/packed_payload.h"
#include "payload_format.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

class Verifier : public RecordVisitor {
public:
    Verifier(std::string exe, const std::vector<IndexEntry> *index) : exe_(std::move(exe)), index_(index) {}
    void begin(const RecordHeader &h) override
    {
        ++count;
        bytes += h.size;
        std::string why = name_problem(h.name);
        if (!why.empty()) problem(h, why);
        if (!names.insert(h.name).second) problem(h, "the name occurs twice");
        if (index_ != nullptr) {
            if (count > index_->size()) {
                problem(h, "the record index ends before the payload does");
            } else {
                const IndexEntry &e = (*index_)[count - 1];
                if (e.name != h.name || e.size != h.size || e.stored_checksum != h.stored_checksum) {
                    problem(h, "the record index says '" + shown(e.name) + "', " + std::to_string(e.size) +
                                   " bytes, checksum " + hex(e.stored_checksum) + "; the payload says " +
                                   std::to_string(h.size) + " bytes, checksum " + hex(h.stored_checksum));
                }
            }
        }
    }
    void content(const unsigned char *, size_t) override {}
    void end(const RecordHeader &h, uint32_t crc) override
    {
        if (h.stored_checksum != stored_checksum(crc)) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "stored checksum %08x, content has CRC-32 %08x", h.stored_checksum,
                          crc);
            problem(h, buf);
        }
    }
    void problem(const RecordHeader &h, const std::string &what)
    {
        ++problems;
        std::fprintf(stderr, "zobrel-pack: '%s': record %llu '%s': %s\n", exe_.c_str(),
                     static_cast<unsigned long long>(count), shown(h.name).c_str(), what.c_str());
    }

    uint64_t count = 0, bytes = 0, problems = 0;
    std::set<std::u16string> names;

private:
    static std::string hex(uint32_t value)
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", value);
        return buf;
    }

    std::string exe_;
    const std::vector<IndexEntry> *index_;
};

}  // namespace

bool run_verify(const fs::path &exe, std::FILE *out)
{
    // A file that is no Windows image at all is said once, not once for
    // each section that cannot be found in it.
    PeImage image;
    if (std::string why = read_pe_headers(exe, image); !why.empty()) {
        std::fprintf(stderr, "zobrel-pack: %s is not a packed executable: %s\n", quoted(exe).c_str(),
                     why.c_str());
        return false;
    }
    const Constants constants = read_constants(exe);
    Verifier v(utf8_path(exe), constants.has_index ? &constants.index : nullptr);
    if (!constants.has_index) {
        ++v.problems;
        std::fprintf(stderr, "zobrel-pack: '%s': %s%s\n", utf8_path(exe).c_str(), constants.problem.c_str(),
                     constants.usable ? "" : ", so the launcher would refuse to start");
    }
    try {
        Payload p = open_payload(exe);
        read_payload_archive(exe, p, v);
        if (constants.has_index && v.count != constants.index.size()) {
            ++v.problems;
            std::fprintf(stderr, "zobrel-pack: '%s': the record index lists %s, the payload holds %llu\n",
                         utf8_path(exe).c_str(), count_of(constants.index.size(), "record").c_str(),
                         static_cast<unsigned long long>(v.count));
        }
        if (v.count == 0) {
            ++v.problems;
            std::fprintf(stderr,
                         "zobrel-pack: '%s': the archive holds no records, so there is no main binary\n",
                         utf8_path(exe).c_str());
        }
        if (v.problems == 0 && out) {
            std::fprintf(out, "%s: OK, %s, %llu bytes, payload %llu bytes\n", utf8_path(exe).c_str(),
                         count_of(v.count, "file").c_str(), static_cast<unsigned long long>(v.bytes),
                         static_cast<unsigned long long>(p.layout.length));
        }
    } catch (const PackError &e) {
        std::fprintf(stderr, "zobrel-pack: %s\n", e.what());
        return false;
    }
    return v.problems == 0;
}

}  // namespace zobrel
