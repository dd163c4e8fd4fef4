// support.cpp: test fixtures for the packer: files, fake PE images, payloads, process runs.
#include "support.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "archive/blob_reader.h"
#include "archive/blob_writer.h"
#include "archive/reader.h"
#include "image/product_info.h"
#include "payload_writer.h"

namespace zt {

TempDir::TempDir()
{
    std::string templ = (fs::temp_directory_path() / "zobrel-pack-test.XXXXXX").string();
    if (!mkdtemp(templ.data())) std::abort();
    path_ = templ;
    fs::permissions(path_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void write_file(const fs::path &p, const std::string &bytes)
{
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string read_file(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

void put(std::string &s, size_t at, uint64_t v, int bytes)
{
    if (s.size() < at + bytes) s.resize(at + bytes, '\0');
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

std::string make_pe(uint16_t machine, uint16_t subsystem, const std::vector<FakeSection> &sections,
                    uint16_t characteristics)
{
    // Laid out as a linker would: 512-byte file alignment, 4 KiB pages, the
    // sections one after another in memory, the entry point in the first.
    const size_t pe = 0x40, optional = pe + 24, optional_size = 240;
    const size_t table = optional + optional_size;
    const size_t file_alignment = 0x200, section_alignment = 0x1000;
    auto align = [](size_t v, size_t a) { return (v + a - 1) / a * a; };
    const size_t headers = align(table + 40 * sections.size(), file_alignment);
    std::string s(headers, '\0');
    s[0] = 'M';
    s[1] = 'Z';
    put(s, 0x3C, pe, 4);
    s.replace(pe, 4, std::string("PE\0\0", 4));
    put(s, pe + 4, machine, 2);
    put(s, pe + 6, sections.size(), 2);
    put(s, pe + 20, optional_size, 2);
    put(s, pe + 22, characteristics, 2);
    put(s, optional, 0x20B, 2);
    put(s, optional + 24, 0x140000000, 8);  // ImageBase
    put(s, optional + 32, section_alignment, 4);
    put(s, optional + 36, file_alignment, 4);
    put(s, optional + 60, headers, 4);
    put(s, optional + 68, subsystem, 2);
    put(s, optional + 108, 16, 4);  // NumberOfRvaAndSizes
    size_t va = align(headers, section_alignment);
    put(s, optional + 16, va, 4);  // AddressOfEntryPoint
    for (size_t i = 0; i < sections.size(); ++i) {
        const size_t e = table + 40 * i;
        const size_t raw = s.size();
        s.replace(e, sections[i].name.size(), sections[i].name);
        const size_t raw_size = align(sections[i].data.size(), file_alignment);
        put(s, e + 8, sections[i].data.size(), 4);
        put(s, e + 12, va, 4);
        put(s, e + 16, raw_size, 4);
        put(s, e + 20, raw, 4);
        s += sections[i].data;
        s.resize(raw + raw_size, '\0');
        va += align(sections[i].data.size(), section_alignment);
    }
    put(s, optional + 56, va, 4);  // SizeOfImage
    return s;
}

std::string make_archive(const std::vector<std::pair<std::u16string, std::string>> &records,
                         const std::vector<uint32_t> &stored_crcs)
{
    std::vector<ArchiveRecord> written;
    for (size_t r = 0; r < records.size(); ++r) {
        written.push_back({records[r].first, records[r].second, std::nullopt});
        if (r < stored_crcs.size()) written.back().stored_checksum = stored_crcs[r];
    }
    return archive_bytes(written);
}

std::string make_blob(const std::string &archive, int level, bool checksum)
{
    zobrel::FrameOptions o;
    o.level = level;
    o.threads = 1;
    o.checksum = checksum;
    zobrel::BlobWriter w(o, archive.size());
    w.write(archive.data(), archive.size());
    return w.finish();
}

namespace {

// The records an archive holds, read back by the packer's own reader.
struct IndexOf : zobrel::RecordVisitor {
    std::vector<IndexEntry> entries;
    void begin(const zobrel::RecordHeader &h) override
    {
        entries.push_back(IndexEntry{h.name, h.size, h.stored_checksum});
    }
    void content(const unsigned char *, size_t) override {}
    void end(const zobrel::RecordHeader &, uint32_t) override {}
};

}  // namespace

std::string make_constants(const std::string &archive)
{
    const std::string blob = make_blob(archive);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(blob.data());
    zobrel::BlobLayout layout;
    EXPECT_EQ(zobrel::check_blob(bytes, blob.size(), layout), "");
    zobrel::FrameReader reader(bytes + layout.frame_offset, layout.frame_size);
    IndexOf index;
    zobrel::read_archive(reader, index);
    zobrel::ProductInfo info;
    info.target_spec = u"{TEMP}\\x";
    info.product = u"m";
    info.file_version = u"0.0.0.0";
    OwnedBuildConstants constants = zobrel::product_constants(info);
    constants.records = index.entries;
    return encode_build_constants(constants);
}

PackRun run_pack(const std::vector<std::string> &args, const std::vector<std::string> &env,
                 bool obey_permissions)
{
    TempDir io;
    const fs::path out = io / "out", err = io / "err";
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        for (const std::string &e : env) putenv(const_cast<char *>(e.c_str()));
        if (obey_permissions && geteuid() == 0) {
            // Out of the bounding set, so that exec does not hand them back to root.
            const bool dropped = prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
                                 prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
            if (!dropped && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
        }
        std::vector<char *> argv{const_cast<char *>(ZOBREL_PACK_EXE)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    PackRun r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

}  // namespace zt
