// regression_driver.cpp: runs a fuzz target's entry point on saved inputs,
// without libFuzzer, so that every finding and the seed corpus are replayed
// by the ordinary build's tests. Arguments: files, or folders whose files
// (not their subfolders) are each one input, in name order; a folder that
// does not exist holds none (a target without saved findings has none).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_target.h"

namespace fs = std::filesystem;

static bool replay(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        fprintf(stderr, "regression_driver: cannot read '%s'\n", file.c_str());
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    // A buffer of the input's own size, as libFuzzer gives, so that a read
    // past its end is one past an allocation.
    unsigned char *input = static_cast<unsigned char *>(malloc(bytes.empty() ? 1 : bytes.size()));
    std::copy(bytes.begin(), bytes.end(), input);
    LLVMFuzzerTestOneInput(input, bytes.size());
    free(input);
    return true;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s INPUT_OR_FOLDER...\n", argv[0]);
        return 2;
    }
    unsigned long count = 0;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        std::vector<fs::path> files;
        if (!fs::exists(argv[i], ec)) {
            continue;
        }
        if (fs::is_directory(argv[i], ec)) {
            for (const fs::directory_entry &entry : fs::directory_iterator(argv[i])) {
                if (entry.is_regular_file()) {
                    files.push_back(entry.path());
                }
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(argv[i]);
        }
        for (const fs::path &file : files) {
            if (!replay(file)) {
                return 1;
            }
            count++;
        }
    }
    // Nothing to replay is a broken setup, not a pass.
    if (count == 0) {
        fprintf(stderr, "regression_driver: no inputs\n");
        return 1;
    }
    printf("regression_driver: %lu inputs replayed\n", count);
    return 0;
}
