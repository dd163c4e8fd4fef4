// make_reader_payload.cpp: makes the reader benchmark's payload blob from a
// folder of real binaries, through the shared payload writer.
//
//   make_reader_payload SRC BYTES LEVEL OUT
//
// Files of SRC in name order, those of up to 1 MB only (so there are several
// hundred), as records named lib\EXT\F\NAME (EXT the name's extension, F its
// first character), until their contents reach BYTES; compressed like a
// packed launcher's frame (zstd LEVEL, window 2^27, no checksum, no content
// size, one worker) and wrapped as a payload blob into OUT.
#include <stdio.h>
#include <zstd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload_writer.h"

namespace {

const uint64_t MAX_FILE_SIZE = 1000000;
const int WINDOW_LOG = 27;

std::string read_whole(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::u16string utf16(const std::wstring &text)
{
    return std::u16string(text.begin(), text.end());
}

// The archive of the files chosen, or "" when SRC cannot be read.
std::string make_archive(const std::filesystem::path &src, uint64_t want)
{
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(src, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    if (ec || files.empty()) return "";
    std::sort(files.begin(), files.end(), [](const std::filesystem::path &a, const std::filesystem::path &b) {
        return a.filename().wstring() < b.filename().wstring();
    });
    std::string archive;
    ArchiveWriter writer(
        [&archive](const void *data, size_t size) { archive.append(static_cast<const char *>(data), size); });
    uint64_t total = 0, count = 0;
    for (const std::filesystem::path &path : files) {
        if (total >= want) break;
        const uint64_t size = std::filesystem::file_size(path, ec);
        if (ec || size > MAX_FILE_SIZE) continue;
        const std::wstring name = path.filename().wstring();
        const size_t dot = name.rfind(L'.');
        const std::wstring ext = dot == std::wstring::npos ? name : name.substr(dot + 1);
        const std::string content = read_whole(path);
        writer.begin_record(utf16(L"lib\\" + ext + L"\\" + name.substr(0, 1) + L"\\" + name), content.size(),
                            stored_checksum_of(content));
        writer.content(content.data(), content.size());
        total += size;
        count++;
    }
    writer.finish();
    printf("bench: %llu files, %llu content bytes, %llu archive bytes\n",
           static_cast<unsigned long long>(count), static_cast<unsigned long long>(total),
           static_cast<unsigned long long>(archive.size()));
    return archive;
}

// One frame as the zstd command line makes it with -LEVEL --zstd=wlog=27
// --no-check --no-content-size -T1; "" on failure.
std::string compress(const std::string &archive, int level)
{
    ZSTD_CCtx *cctx = ZSTD_createCCtx();
    bool ok = cctx != NULL && !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, WINDOW_LOG)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 0)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_nbWorkers, 1));
    std::string frame;
    std::string out(ZSTD_CStreamOutSize(), '\0');
    ZSTD_inBuffer in = {archive.data(), archive.size(), 0};
    for (size_t left = 1; ok && left != 0;) {
        ZSTD_outBuffer o = {&out[0], out.size(), 0};
        left = ZSTD_compressStream2(cctx, &o, &in, ZSTD_e_end);
        ok = !ZSTD_isError(left);
        frame.append(out.data(), o.pos);
    }
    ZSTD_freeCCtx(cctx);
    return ok ? frame : "";
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: make_reader_payload SRC BYTES LEVEL OUT\n");
        return 2;
    }
    const std::string archive = make_archive(argv[1], wcstoull(argv[2], NULL, 10));
    if (archive.empty()) {
        fprintf(stderr, "make_reader_payload: cannot read the files of %ls\n", argv[1]);
        return 1;
    }
    const int level = static_cast<int>(wcstol(argv[3], NULL, 10));
    printf("bench: compressing (level %d, window 2^%d)\n", level, WINDOW_LOG);
    fflush(stdout);
    const std::string frame = compress(archive, level);
    // One frame, no content size and no checksum, window 2^27.
    if (frame.size() < 6 || frame[4] != 0x00 || static_cast<unsigned char>(frame[5]) != 0x88) {
        fprintf(stderr, "make_reader_payload: compressing failed or gave an unexpected frame header\n");
        return 1;
    }
    std::ofstream out(std::filesystem::path(argv[4]), std::ios::binary);
    const std::string blob = payload_blob(frame);
    out.write(blob.data(), static_cast<std::streamsize>(blob.size()));
    out.close();
    return out ? 0 : 1;
}
