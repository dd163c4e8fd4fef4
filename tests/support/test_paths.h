// test_paths.h: where test programs and scratch files live.
#ifndef ZOBREL_TESTS_TEST_PATHS_H
#define ZOBREL_TESTS_TEST_PATHS_H

#include <string>
#include <utility>
#include <vector>

// The directory of the running test executable; helpers are built next to it.
std::wstring test_bin_dir();

// Full path of a program built next to the test executable.
std::wstring test_program(const std::wstring &name);

// A new empty directory under the temporary folder, unique per call.
std::wstring make_scratch_dir(const std::wstring &tag);

// Removes a directory tree (best effort).
void remove_tree(const std::wstring &path);

// Removes the tree at a path when it goes out of scope: on every way out of a
// test, an assertion's early return included, so no case leaves its scratch
// folder behind.
class RemovedAtScopeEnd {
public:
    explicit RemovedAtScopeEnd(std::wstring path) : path_(std::move(path)) {}
    ~RemovedAtScopeEnd() { remove_tree(path_); }
    RemovedAtScopeEnd(const RemovedAtScopeEnd &) = delete;
    RemovedAtScopeEnd &operator=(const RemovedAtScopeEnd &) = delete;

private:
    std::wstring path_;
};

// An entry of a folder as a listing shows it.
struct FolderEntry {
    std::wstring name;
    bool folder;
};

// The entries of `dir` matching `pattern` (FindFirstFileW's wildcards), "."
// and ".." left out, sorted by name; none when `dir` cannot be listed.
std::vector<FolderEntry> folder_entries(const std::wstring &dir, const std::wstring &pattern = L"*");

std::string read_file(const std::wstring &path);
void write_file(const std::wstring &path, const std::string &bytes);
bool file_exists(const std::wstring &path);

std::string narrow(const std::wstring &text);  // UTF-8
std::wstring widen(const std::string &text);   // from UTF-8

#endif
