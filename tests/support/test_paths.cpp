// test_paths.cpp: test program locations, scratch directories, file helpers.
#include "test_paths.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::wstring test_bin_dir()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(NULL, path, 4096);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring test_program(const std::wstring &name)
{
    return test_bin_dir() + L"\\" + name;
}

// Test processes are short-lived and Wine reuses process ids, so a name built
// from the id can already exist from an earlier run that failed before its
// clean-up; only a folder this call creates itself is known to be empty.
std::wstring make_scratch_dir(const std::wstring &tag)
{
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring stem =
        std::wstring(temp) + L"zobrel-test-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (;;) {
        std::wstring dir = stem + std::to_wstring(counter++);
        if (CreateDirectoryW(dir.c_str(), NULL)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            throw std::runtime_error("cannot create scratch folder " + narrow(dir));
        }
    }
}

// Through the \\?\ form, so trees deeper than MAX_PATH go too.
static void remove_long_tree(const std::wstring &long_path)
{
    DWORD attributes = GetFileAttributesW(long_path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(long_path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(long_path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW entry;
        HANDLE find = FindFirstFileW((long_path + L"\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = entry.cFileName;
                if (name != L"." && name != L"..") remove_long_tree(long_path + L"\\" + name);
            } while (FindNextFileW(find, &entry));
            FindClose(find);
        }
    }
    RemoveDirectoryW(long_path.c_str());
}

void remove_tree(const std::wstring &path)
{
    if (path.empty()) return;
    std::wstring absolute(32768, L'\0');
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(absolute.size()), &absolute[0], NULL);
    if (n == 0 || n >= absolute.size()) return;
    absolute.resize(n);
    if (absolute.rfind(L"\\\\?\\", 0) != 0) absolute = L"\\\\?\\" + absolute;
    remove_long_tree(absolute);
}

std::vector<FolderEntry> folder_entries(const std::wstring &dir, const std::wstring &pattern)
{
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry &a, const FolderEntry &b) { return a.name < b.name; });
    return entries;
}

std::string read_file(const std::wstring &path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::wstring &path, const std::string &bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string narrow(const std::wstring &text)
{
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, NULL, NULL);
    return out;
}

std::wstring widen(const std::string &text)
{
    if (text.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}
