// test_paths.h: where test programs and scratch files live.
#ifndef ZOBREL_TESTS_TEST_PATHS_H
#define ZOBREL_TESTS_TEST_PATHS_H

#include <string>

// The directory of the running test executable; helpers are built next to it.
std::wstring test_bin_dir();

// Full path of a program built next to the test executable.
std::wstring test_program(const std::wstring &name);

// A new empty directory under the temporary folder, unique per call.
std::wstring make_scratch_dir(const std::wstring &tag);

// Removes a directory tree (best effort).
void remove_tree(const std::wstring &path);

std::string read_file(const std::wstring &path);
void write_file(const std::wstring &path, const std::string &bytes);
bool file_exists(const std::wstring &path);

std::string narrow(const std::wstring &text);  // UTF-8
std::wstring widen(const std::string &text);   // from UTF-8

#endif
