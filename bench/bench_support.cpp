// bench_support.cpp: blob mapping, listings, the plain work starts are measured against, statistics and
// targets.
#include "bench_support.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>

Mapped map_file(const std::wstring &path)
{
    Mapped m;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return m;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
    if (mapping == NULL) return m;
    m.data = static_cast<const unsigned char *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    m.size = static_cast<unsigned long long>(size.QuadPart);
    return m;
}

std::vector<Listed> read_listing(const std::wstring &path)
{
    std::vector<Listed> files;
    FILE *in = _wfopen(path.c_str(), L"r");
    if (in == NULL) return files;
    char line[8192];
    while (fgets(line, sizeof line, in) != NULL) {
        unsigned long long size = 0;
        unsigned long stored = 0;
        int name_at = 0;
        if (sscanf(line, "%llu %lx %n", &size, &stored, &name_at) < 2 || name_at == 0) continue;
        std::string name = line + name_at;
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
        files.push_back({std::wstring(name.begin(), name.end()), size, static_cast<uint32_t>(stored)});
    }
    fclose(in);
    return files;
}

std::map<std::string, std::string> key_values(const std::string &text)
{
    std::map<std::string, std::string> values;
    for (size_t pos = 0; pos < text.size();) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        pos = eol + 1;
    }
    return values;
}

std::wstring own_program_path()
{
    wchar_t path[4096];
    DWORD n = GetModuleFileNameW(NULL, path, 4096);
    return std::wstring(path, n);
}

std::wstring sibling_program(const std::wstring &name)
{
    std::wstring self = own_program_path();
    return self.substr(0, self.rfind(L'\\') + 1) + name;
}

unsigned long long bare_decode(const Mapped &blob, unsigned *sink)
{
    const size_t window_size = 131072;
    ZSTD_DCtx *dctx = ZSTD_createDCtx();
    unsigned char *window = static_cast<unsigned char *>(malloc(window_size));
    ZSTD_inBuffer in = {blob.data + 3, static_cast<size_t>(blob.size - 3), 0};
    unsigned long long decoded = 0;
    for (;;) {
        ZSTD_outBuffer out = {window, window_size, 0};
        size_t r = ZSTD_decompressStream(dctx, &out, &in);
        if (ZSTD_isError(r)) {
            fprintf(stderr, "bare decode failed: %s\n", ZSTD_getErrorName(r));
            decoded = 0;
            break;
        }
        decoded += out.pos;
        if (out.pos > 0) *sink += window[out.pos - 1];
        if (r == 0) break;
    }
    free(window);
    ZSTD_freeDCtx(dctx);
    return decoded;
}

bool crc32_by_mapping(const std::wstring &path, uint32_t *crc)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    uLong c = crc32(0L, Z_NULL, 0);
    HANDLE mapping = CreateFileMappingW(file, NULL, PAGE_READONLY, 0, 0, NULL);
    if (mapping != NULL) {
        const Bytef *view = static_cast<const Bytef *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
        if (view != NULL) {
            c = crc32(c, view, static_cast<uInt>(size.QuadPart));
            UnmapViewOfFile(view);
        }
        CloseHandle(mapping);
    }
    CloseHandle(file);
    *crc = static_cast<uint32_t>(c);
    return true;
}

Spread spread_of(std::vector<double> values)
{
    if (values.empty()) return Spread{0, 0, 0};
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return Spread{values.front(), median, values.back()};
}

std::vector<double> ratios_of(const std::vector<double> &a, const std::vector<double> &b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); i++) ratios.push_back(a[i] / b[i]);
    return ratios;
}

void print_spread(const std::string &label, const Spread &spread, const char *unit)
{
    printf("%s  min %.4f%s  median %.4f%s  max %.4f%s\n", label.c_str(), spread.min, unit, spread.median,
           unit, spread.max, unit);
}

void Targets::report(const std::string &what, const char *figure, double value, double limit,
                     const char *unit)
{
    bool met = value <= limit;
    if (!met) missed_++;
    printf("TARGET %s: %s%.3f%s <= %.3f%s: %s\n", what.c_str(), figure, value, unit, limit, unit,
           met ? "met" : "MISSED");
}

void Targets::ratio_at_most(const std::string &what, const Spread &ratio, double limit)
{
    report(what, "median ", ratio.median, limit, "");
}

void Targets::value_at_most(const std::string &what, double value, double limit, const char *unit)
{
    report(what, "", value, limit, unit);
}
