// pack.cpp: the build command, from checked options to the renamed executable.
#include "pack.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "archive.h"
#include "build_info_gen.h"
#include "error.h"
#include "frame.h"
#include "link.h"
#include "pe_image.h"
#include "progress.h"
#include "spec_check.h"
#include "text.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

volatile sig_atomic_t g_interrupted = 0;

extern "C" void note_interrupt(int)
{
    g_interrupted = 1;
}

// Ctrl+C or a kill while packing must not leave the temporary folder or the
// half-written output behind: the signal is only noted, and the work stops
// at the next check with an exception that unwinds through the cleanups.
class InterruptGuard {
public:
    InterruptGuard()
    {
        struct sigaction sa {};
        sa.sa_handler = note_interrupt;
        sigemptyset(&sa.sa_mask);
        for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &sa, &old_[i]);
    }
    ~InterruptGuard()
    {
        for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &old_[i], nullptr);
    }
    static void check()
    {
        if (g_interrupted) throw PackError("interrupted; nothing was written");
    }

private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction old_[3];
};

void warn(const std::string &text)
{
    std::fprintf(stderr, "zobrel-pack: warning: %s\n", text.c_str());
}

std::u16string option_text(const std::string &option, const std::string &value)
{
    std::u16string out;
    if (!utf8_to_utf16(value, out)) {
        throw PackError("option " + option + ": the value is not valid UTF-8 text (or holds a NUL)");
    }
    return out;
}

// A folder that removes itself and everything in it.
class TempDir {
public:
    TempDir()
    {
        const char *base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/zobrel-pack.XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!mkdtemp(buf.data()))
            throw PackError("cannot create a temporary folder in '" + templ + "': " + std::strerror(errno));
        path_ = buf.data();
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

// The output's temporary name, removed unless released.
class PendingFile {
public:
    explicit PendingFile(fs::path p) : path_(std::move(p)) {}
    ~PendingFile()
    {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove(path_, ec);
        }
    }
    const fs::path &path() const { return path_; }
    void release() { path_.clear(); }

private:
    fs::path path_;
};

void write_text(const fs::path &file, const std::string &text)
{
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out.flush()) throw PackError("cannot write '" + file.string() + "'");
}

void check_main_binary(const SourceFile &main)
{
    PeImage image;
    std::string why = read_pe_headers(main.path, image);
    if (!why.empty()) {
        throw PackError("main binary '" + main.path.string() + "' is not a Windows executable (" + why +
                        "); give --main the application's .exe");
    }
    char buf[64];
    if (image.machine != kMachineAmd64) {
        std::snprintf(buf, sizeof buf, "0x%04x", image.machine);
        warn("main binary '" + main.path.string() + "' is not a 64-bit x86 program (machine " + buf +
             "); the launcher may not be able to start it");
    }
    if (image.subsystem != kSubsystemConsole) {
        warn("main binary '" + main.path.string() + "' is not a console program (subsystem " +
             std::to_string(image.subsystem) + "); the launcher is made for console programs");
    }
}

// The linker must have placed the blob whole and alone in its section.
void check_placed_blob(const fs::path &exe, const fs::path &blob_file, uint64_t length)
{
    std::vector<unsigned char> placed = read_payload_section(exe);
    std::ifstream in(blob_file, std::ios::binary);
    std::vector<unsigned char> blob((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (placed.size() != length || placed != blob) {
        throw PackError("the linked executable's " + std::string(kPayloadSection) +
                        " section does not hold exactly the payload (" + std::to_string(placed.size()) +
                        " bytes, " + "expected " + std::to_string(length) +
                        "); the runtime's linker places it differently");
    }
}

}  // namespace

void run_build(const BuildOptions &o)
{
    const auto started = std::chrono::steady_clock::now();
    g_interrupted = 0;
    InterruptGuard guard;

    // Product information and its defaults.
    BuildInfo info;
    const std::string file_version = o.file_version.value_or("0.0.0.0");
    if (!parse_file_version(file_version, info.file_version_parts)) {
        throw PackError("option --file-version: '" + file_version +
                        "' is not four numbers A.B.C.D of 0 to 65535");
    }
    info.file_version = option_text("--file-version", file_version);
    info.company = option_text("--company", o.company.value_or(""));
    info.product = option_text("--product", o.product.value_or(fs::path(o.main).stem().string()));
    if (info.product.empty()) throw PackError("option --product: the product name must not be empty");
    info.product_version = option_text("--product-version", o.product_version.value_or(file_version));
    const std::string version =
        o.version.value_or(o.product_version.value_or(file_version) + "-" + file_version);
    info.version = option_text("--version", version);

    if (o.target_spec) {
        info.target_spec = option_text("--target-spec", *o.target_spec);
    } else {
        info.target_spec = default_target_spec(info.company, info.product, info.version);
    }
    std::vector<std::string> keys;
    std::string why = spec_problem(info.target_spec, &keys);
    if (!why.empty()) {
        std::string shown;
        utf16_to_utf8(info.target_spec, shown);
        throw PackError((o.target_spec ? "option --target-spec" : "the default target specification") +
                        std::string(" '") + shown + "': " + why);
    }
    const std::pair<const char *, std::pair<const char *, const std::u16string *>> product_keys[] = {
        {"COMPANY", {"--company", &info.company}},
        {"PRODUCT", {"--product", &info.product}},
        {"VERSION", {"--version", &info.version}},
        {"FILE_VERSION", {"--file-version", &info.file_version}},
        {"PRODUCT_VERSION", {"--product-version", &info.product_version}}};
    for (const std::string &key : keys) {
        for (const auto &[name, opt] : product_keys) {
            if (key == name && opt.second->empty()) {
                throw PackError(std::string("option ") + opt.first + ": the target specification uses {" +
                                name + "}, so it must not be empty");
            }
        }
    }

    if (o.level < 1 || o.level > 22) throw PackError("option --level: give a number from 1 to 22");
    int threads = o.threads > 0 ? o.threads : static_cast<int>(std::thread::hardware_concurrency());
    if (threads < 1) threads = 1;

    if (!o.icon.empty()) {
        std::string bad = icon_problem(o.icon);
        if (!bad.empty())
            throw PackError("option --icon: '" + o.icon.string() + "' is not a usable .ico file: " + bad);
    }
    if (o.output.empty()) throw PackError("no output file: give -o OUT.exe");
    if (fs::is_directory(o.output))
        throw PackError("output '" + o.output.string() + "' is a folder; give a file name");

    const Runtime runtime = load_runtime(choose_runtime_dir(o.runtime));

    ScanResult scan = scan_app_dir(o.app_dir, o.main, o.output);
    for (const std::string &w : scan.warnings) warn(w);
    check_main_binary(scan.files.front());
    const ProductValues values{info.company, info.product, info.version, info.file_version,
                               info.product_version};
    if (std::string w = unpack_folder_problem(info.target_spec, values, scan.files); !w.empty())
        throw PackError(spec_refusal(o.target_spec.has_value(), info.target_spec, w));
    if (std::string w = long_path_warning(info.target_spec, values, scan.files); !w.empty()) warn(w);

    // Compress.
    TempDir work;
    const fs::path blob_file = work.path() / "payload.bin";
    const uint64_t total = archive_size(scan.files);
    uint64_t content_bytes = 0;
    for (const SourceFile &f : scan.files) content_bytes += f.size;
    uint64_t length;
    {
        FrameOptions fo;
        fo.level = o.level;
        fo.threads = threads;
        fo.checksum = o.checksum;
        BlobWriter writer(blob_file, fo, total);
        Progress progress(total, o.quiet);
        writer.on_progress([&](uint64_t done) {
            InterruptGuard::check();
            progress.update(done);
        });
        write_archive(scan.files, [&](const void *p, size_t n) { writer.write(p, n); });
        length = writer.finish();
        progress.finish();
    }

    // Generate and link.
    write_text(work.path() / "build_info.S", make_build_info_asm(info, "payload.bin", length));
    write_text(work.path() / "app.manifest", make_manifest());
    std::string icon_name;
    if (!o.icon.empty()) {
        icon_name = "app.ico";
        fs::copy_file(o.icon, work.path() / icon_name);
    }
    write_text(work.path() / "resources.rc", make_resource_script(info, "app.manifest", icon_name));

    const fs::path output = fs::absolute(o.output);
    if (!output.parent_path().empty()) fs::create_directories(output.parent_path());
    PendingFile pending(output.string() + ".tmp-" + std::to_string(getpid()));
    InterruptGuard::check();
    try {
        link_executable(runtime, work.path(), pending.path());
    } catch (const PackError &) {
        InterruptGuard::check();  // the tools died of the same signal: say so instead
        throw;
    }
    InterruptGuard::check();
    check_placed_blob(pending.path(), blob_file, length);
    fs::rename(pending.path(), output);
    pending.release();

    if (!o.quiet) {
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "zobrel-pack: %s -> %s\n",
                     summary_line(scan.files.size(), content_bytes, fs::file_size(output), secs).c_str(),
                     o.output.string().c_str());
    }
}

}  // namespace zobrel
