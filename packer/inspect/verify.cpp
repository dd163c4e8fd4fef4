// verify.cpp: a packed executable read into its model, checked whole, and the findings reported.
#include "inspect/verify.h"

#include <string>

#include "base/diagnostics.h"
#include "base/progress.h"
#include "base/text.h"
#include "inspect/packed_payload.h"

namespace fs = std::filesystem;

namespace zobrel {

bool run_verify(const fs::path &exe, std::FILE *out)
{
    PackedFile file = read_packed(exe);
    check_launcher(file);
    uint64_t count = 0, bytes = 0;
    if (file.frame_found) count = check_archive(file, &bytes);
    // A hint at damage the launcher does not look at, where nothing else is wrong.
    if (file.problems.empty()) check_file_checksum(file);
    print_diagnostics(Diagnostic::warning, file.warnings);
    print_diagnostics(Diagnostic::finding, file.problems);
    if (!file.problems.empty()) return false;
    if (out) {
        std::fprintf(out, "%s: OK, %s, %llu bytes, payload %llu bytes\n", utf8_path(exe).c_str(),
                     count_of(count, "file").c_str(), static_cast<unsigned long long>(bytes),
                     static_cast<unsigned long long>(file.layout.length));
    }
    return true;
}

}  // namespace zobrel
