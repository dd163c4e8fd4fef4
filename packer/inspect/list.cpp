// list.cpp: lists a packed executable's files from its record index, or from its payload.
#include "inspect/list.h"

#include "archive/reader.h"
#include "base/diagnostics.h"
#include "base/error.h"
#include "base/text.h"
#include "inspect/packed_payload.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

// One line: size, stored CRC-32 in hex, name.
void print_record(std::FILE *out, uint64_t size, uint32_t stored_checksum, const std::u16string &name)
{
    std::fprintf(out, "%12llu  %08x  %s\n", static_cast<unsigned long long>(size), stored_checksum,
                 shown(name).c_str());
}

class Lister : public RecordVisitor {
public:
    explicit Lister(std::FILE *out) : out_(out) {}
    void begin(const RecordHeader &h) override { print_record(out_, h.size, h.stored_checksum, h.name); }
    void content(const unsigned char *, size_t) override {}
    void end(const RecordHeader &, uint32_t) override {}

private:
    std::FILE *out_;
};

}  // namespace

void run_list(const fs::path &exe, std::FILE *out)
{
    // Everything but the frame's content is checked; what verify would
    // refuse is warned about, and listed all the same where it can be.
    PackedFile file = read_packed(exe);
    print_diagnostics(Diagnostic::warning, file.warnings);
    const bool listable = file.constants.has_index || file.frame_found;
    print_diagnostics(listable ? Diagnostic::warning : Diagnostic::finding, file.problems);
    if (!listable) throw PackError(quoted(exe) + ": there is nothing to list");
    if (file.constants.has_index) {
        for (const IndexEntry &e : file.constants.values.records)
            print_record(out, e.size, e.stored_checksum, e.name);
        return;
    }
    print_diagnostic(Diagnostic::finding,
                     quoted(exe) + ": " + file.constants.problem + "; listing what the payload holds");
    Lister lister(out);
    read_payload_archive(file, lister);
}

}  // namespace zobrel
