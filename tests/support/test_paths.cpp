// test_paths.cpp: test program locations, scratch directories, file helpers.
#include "test_paths.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::wstring make_scratch_dir(const std::wstring &tag)
{
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring dir = std::wstring(temp) + L"zobrel-test-" + tag + L"-" +
                       std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    return dir;
}

void remove_tree(const std::wstring &path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
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
