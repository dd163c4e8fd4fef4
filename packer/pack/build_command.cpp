// build_command.cpp: the build command: options to product information, folder to
// payload blob, launcher and blob to the packed executable.
#include "pack/build_command.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "archive/blob_writer.h"
#include "archive/exclude.h"
#include "archive/names.h"
#include "archive/scan.h"
#include "archive/stream_writer.h"
#include "base/diagnostics.h"
#include "base/error.h"
#include "base/host.h"
#include "base/progress.h"
#include "base/text.h"
#include "build_constants.h"
#include "image/load_check.h"
#include "image/packed_image.h"
#include "image/pe_reader.h"
#include "image/resources.h"
#include "pack/child_command.h"
#include "pack/spec_check.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

void warn(const std::string &text)
{
    print_diagnostic(Diagnostic::warning, text);
}

std::u16string option_text(const std::string &option, const std::string &value)
{
    std::u16string out;
    if (!utf8_to_utf16(value, out)) {
        throw UsageError("option " + option + ": the value is not valid UTF-8 text (or holds a NUL)");
    }
    return out;
}

// The product information with its defaults, and the target specification
// checked. Without --target-spec the default one is used; it gets the
// payload's identifier appended once the payload exists. main is --main
// with slashes.
ProductInfo product_info(const BuildOptions &o, const std::string &main)
{
    ProductInfo info;
    const std::string file_version = o.file_version.value_or("0.0.0.0");
    if (!parse_file_version(file_version, info.file_version_parts)) {
        throw UsageError("option --file-version: '" + file_version +
                         "' is not four numbers A.B.C.D of 0 to 65535");
    }
    info.file_version = option_text("--file-version", file_version);
    info.company = option_text("--company", o.company.value_or(""));
    info.product = option_text("--product", o.product.value_or(path_from_utf8(main).stem().u8string()));
    if (info.product.empty()) throw UsageError("option --product: the product name must not be empty");
    if (o.description) info.description = option_text("--description", *o.description);
    if (o.copyright) info.copyright = option_text("--copyright", *o.copyright);
    try {
        make_version_resource(info);
    } catch (const PackError &e) {
        throw UsageError(e.what());
    }
    info.product_version = option_text("--product-version", o.product_version.value_or(file_version));
    const std::string version =
        o.version.value_or(o.product_version.value_or(file_version) + "-" + file_version);
    info.version = option_text("--version-key", version);

    info.target_spec = o.target_spec ? option_text("--target-spec", *o.target_spec)
                                     : default_target_spec(info.company, info.product, info.version);
    std::vector<std::string> keys;
    std::string why = spec_problem(info.target_spec, &keys);
    if (!why.empty()) {
        std::string shown;
        utf16_to_utf8(info.target_spec, shown);
        throw UsageError((o.target_spec ? "option --target-spec" : "the default target specification") +
                         std::string(" '") + shown + "': " + why);
    }
    struct ProductKey {
        const char *key;
        const char *option;
        const std::u16string *value;
    };
    const ProductKey product_keys[] = {{"COMPANY", "--company", &info.company},
                                       {"PRODUCT", "--product", &info.product},
                                       {"VERSION", "--version-key", &info.version},
                                       {"FILE_VERSION", "--file-version", &info.file_version},
                                       {"PRODUCT_VERSION", "--product-version", &info.product_version}};
    for (const std::string &key : keys) {
        for (const ProductKey &k : product_keys) {
            if (key == k.key && k.value->empty()) {
                throw UsageError(std::string("option ") + k.option + ": the target specification uses {" +
                                 k.key + "}, so it must not be empty");
            }
        }
    }
    return info;
}

// The output's folder must exist and take a new file now, before any work:
// it is never created, and a refusal after a long compression helps no one.
void check_output_folder(const fs::path &output)
{
    if (output.empty()) throw PackError("no output file: give -o OUT.exe");
    std::error_code ec;
    if (fs::is_directory(output, ec))
        throw PackError("output " + quoted(output) + " is a folder; give a file name");
    const fs::path folder = fs::absolute(output, ec).parent_path();
    if (!fs::is_directory(folder, ec)) {
        throw PackError("cannot write " + quoted(output) + ": its folder " + quoted(folder) +
                        " does not exist");
    }
    const fs::path probe = folder / (".zobrel-pack-probe-" + std::to_string(current_process_id()));
    std::ofstream test(probe, std::ios::binary);
    const int error = errno;
    if (!test) {
        throw PackError("cannot write " + quoted(output) + ": cannot create files in its folder " +
                        quoted(folder) + " (" + std::strerror(error) + ")");
    }
    test.close();
    fs::remove(probe, ec);
}

std::string read_icon(const fs::path &icon)
{
    if (icon.empty()) return "";
    std::ifstream in(icon, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) throw PackError("option --icon: cannot read " + quoted(icon));
    std::string bad = in ? icon_problem(bytes) : "cannot read it";
    if (!bad.empty())
        throw PackError("option --icon: " + quoted(icon) + " is not a usable .ico file: " + bad);
    return bytes;
}

struct MainBinary {
    LauncherSubsystem subsystem;
    uint16_t machine;
};

// The main program's own icon (--icon-from-main): its first icon group, as
// Explorer shows it. A program without one gets a warning and no icon.
IconGroup main_program_icon(const SourceFile &main)
{
    std::string why = "has no icon";
    const std::optional<ResourceSection> resources = read_resource_section(main.path);
    std::optional<IconGroup> icon = resources ? first_icon_group(*resources, &why) : std::nullopt;
    if (icon) return *icon;
    warn("option --icon-from-main: the main program " + quoted(main.path) + " " + why +
         "; the executable gets no icon");
    return {};
}

// What the command line alone decides about --main: a path inside the
// application folder.
void check_main_path(const std::string &main)
{
    const fs::path path = path_from_utf8(main).lexically_normal();
    if (main.empty() || path.empty() || path.has_root_name() || path.has_root_directory() ||
        *path.begin() == "..") {
        throw UsageError("option --main '" + main +
                         "': the main program is not inside the application folder; give its path relative "
                         "to that folder");
    }
}

// Warnings about the values the launcher expands: a folder key run into
// the name after it, most likely a backslash the shell took.
void warn_lost_backslashes(const BuildOptions &o, const ChildCommand &command,
                           const ProgressDisplay &progress)
{
    auto check = [](const std::string &option, const std::string &given, const std::u16string &text) {
        const std::string w = lost_backslash_warning(text);
        if (!w.empty()) warn("option " + option + " '" + given + "': " + w);
    };
    if (o.target_spec) {
        std::u16string spec;
        utf8_to_utf16(*o.target_spec, spec);
        check("--target-spec", *o.target_spec, spec);
    }
    for (size_t i = 0; i < command.arguments.size(); ++i)
        check("--arg", o.arguments[i], command.arguments[i]);
    for (size_t i = 0; i < command.environment.size(); ++i) {
        check("--env", o.environment[i], command.environment[i].value);
        const std::string w = percent_variable_warning(command.environment[i].value);
        if (!w.empty()) warn("option --env '" + o.environment[i] + "': " + w);
    }
    check("--progress-message", o.progress_message, progress.message);
}

// An output without .exe is legal, and a mistake every time.
void warn_unless_exe(const fs::path &output)
{
    std::string name = output.filename().u8string();
    for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".exe") == 0) return;
    warn("the output " + quoted(output) +
         " does not end in .exe: Windows runs a program by that extension (Explorer, a command prompt), so "
         "name it NAME.exe");
}

// The launcher can start only an executable image: a DLL, a driver or an
// object file would fail at every start with "Bad EXE format". Returns its
// subsystem and machine type, which choose the launcher.
MainBinary check_main_binary(const SourceFile &main)
{
    const std::string who = "main binary " + quoted(main.path);
    PeImage image;
    std::string why = read_pe_headers(main.path, image);
    if (!why.empty()) {
        throw PackError(who + " is not a Windows executable (" + why +
                        "); give --main the application's .exe");
    }
    const ProgramCheck check = check_program(image);
    switch (check.problem) {
    case ProgramProblem::none:
        break;
    case ProgramProblem::dll:
    case ProgramProblem::not_executable:
        throw PackError(who + " " + check.why + "; give --main the application's .exe");
    case ProgramProblem::subsystem:
        // Drivers, boot and firmware images and the like: CreateProcess refuses them.
        throw PackError(who + " " + check.why + "; give --main a console or windowed program");
    case ProgramProblem::truncated:
        // Windows refuses to map it ("Bad EXE format").
        throw PackError(who + " " + check.why + "; give --main the whole program");
    }
    return {image.subsystem == SUBSYSTEM_WINDOWS ? LauncherSubsystem::windows : LauncherSubsystem::console,
            image.machine};
}

// The launchers' processor: --launcher-arch, or the main binary's own, so
// that an ARM64 application starts without x64 emulation (which Windows 10 on
// ARM lacks). Another machine type (a 32-bit program) gets the x64 launcher,
// as does an ARM64 one when this packer carries no ARM64 launcher; each with
// a warning, as is a launcher chosen for another processor than the main's.
std::string arch_title(LauncherArch arch)
{
    return arch == LauncherArch::arm64 ? "ARM64" : "x64";
}

LauncherArch choose_launcher_arch(const BuildOptions &o, const SourceFile &main, uint16_t machine)
{
    const std::string who = "main binary " + quoted(main.path);
    const std::optional<LauncherArch> own = launcher_arch_of_machine(machine);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04x", machine);
    if (o.launcher_arch) {
        if (own && *own != *o.launcher_arch) {
            warn(who + " is an " + arch_title(*own) + " program, packed behind the " +
                 arch_title(*o.launcher_arch) + " launcher: it starts only where Windows runs both");
        }
        return *o.launcher_arch;
    }
    if (!own) {
        warn(who + " is not a 64-bit x86 or ARM64 program (machine " + hex +
             "); the x64 launcher may not be able to start it");
        return LauncherArch::x64;
    }
    if (!carried_launcher(*own, LauncherSubsystem::console)) {
        warn(who + " is an " + arch_title(*own) + " program, but this zobrel-pack carries no " +
             arch_title(*own) +
             " launcher (it was built without them): it gets the x64 launcher, which Windows on ARM runs "
             "emulated, and Windows 10 on ARM not at all");
        return LauncherArch::x64;
    }
    return *own;
}

// The payload blob: the archive of the scanned files in one zstd frame; its
// records go to *records.
std::string compress(const ScanResult &scan, const BuildOptions &o, std::vector<IndexEntry> *records)
{
    int threads = o.threads > 0 ? o.threads : static_cast<int>(std::thread::hardware_concurrency());
    FrameOptions fo;
    fo.level = o.level;
    fo.threads = threads < 1 ? 1 : threads;
    fo.checksum = o.checksum;
    const uint64_t total = archive_size(scan.files);
    BlobWriter writer(fo, total);
    Progress progress(total, o.quiet);
    writer.on_progress([&](uint64_t done) {
        InterruptGuard::check();
        progress.update(done);
    });
    *records = write_archive(scan.files, [&](const void *p, size_t n) { writer.write(p, n); });
    std::string blob = writer.finish();
    progress.finish();
    return blob;
}

// Eight hex digits that tell this payload from any other: the default unpack
// folder ends in them, so two builds never share a folder.
std::u16string payload_id(const std::string &blob)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < blob.size(); at += size_t{1} << 30) {
        const size_t n = std::min(blob.size() - at, size_t{1} << 30);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(blob.data() + at), static_cast<uInt>(n));
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(crc));
    return std::u16string(hex, hex + 8);
}

// Writes the image under a temporary name beside the output and renames it
// into place, so a failed or interrupted build leaves nothing that looks valid.
void write_output(const fs::path &output, const std::vector<std::string> &image)
{
    const fs::path pending =
        path_from_utf8(utf8_path(output) + ".tmp-" + std::to_string(current_process_id()));
    struct Cleanup {
        const fs::path &path;
        bool keep = false;
        ~Cleanup()
        {
            std::error_code ec;
            if (!keep) fs::remove(path, ec);
        }
    } cleanup{pending};
    {
        create_executable_file(pending);
        std::ofstream out(pending, std::ios::binary | std::ios::trunc);
        for (const std::string &piece : image)
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        out.close();
        if (!out) throw PackError("cannot write " + quoted(pending));
    }
    InterruptGuard::check();
    std::error_code ec;
    fs::rename(pending, output, ec);
    if (ec) throw PackError("cannot replace " + quoted(output) + ": " + ec.message());
    cleanup.keep = true;
}

}  // namespace

void run_build(const BuildOptions &o)
{
    const auto started = std::chrono::steady_clock::now();
    InterruptGuard guard;

    // First what the command line alone decides (a refusal is a UsageError).
    const std::string main = windows_separators_as_slashes(o.main);
    check_main_path(main);
    if (o.launcher_arch && !carried_launcher(*o.launcher_arch, LauncherSubsystem::console)) {
        throw UsageError("option --launcher-arch: this zobrel-pack carries no " +
                         arch_title(*o.launcher_arch) + " launcher (it was built without them)");
    }
    ProductInfo info = product_info(o, main);
    const ChildCommand command = parse_child_command(o.arguments, o.environment);
    // The default specification suits every count but 0: its folder is one
    // per build, not per start.
    if (o.keep_builds && (o.target_spec || *o.keep_builds == 0)) {
        if (std::string w = keep_builds_problem(info.target_spec, info, *o.keep_builds); !w.empty())
            throw UsageError(spec_refusal(o.target_spec.has_value(), info.target_spec, w));
    }
    const ProgressDisplay progress = parse_progress(o.progress, o.progress_message);
    if (o.level < 1 || o.level > 22) throw UsageError("option --level: give a number from 1 to 22");
    if (o.icon_from_main && !o.icon.empty())
        throw UsageError("options --icon and --icon-from-main: give one of them, not both");
    Exclusions exclusions(o.exclude);
    if (const std::string pattern = exclusions.excluding_pattern(main); !pattern.empty()) {
        throw UsageError("option --exclude '" + pattern + "': it leaves out the main program '" + main +
                         "'; the main program is always packed");
    }
    // The folder the launcher will unpack into, as it will be: the default
    // one ends in the payload's 8-hex-digit identifier, known only later.
    const std::u16string final_spec = o.target_spec ? info.target_spec : info.target_spec + u"-00000000";
    if (std::string w = unpack_folder_problem(final_spec, info, {}); !w.empty())
        throw UsageError(spec_refusal(o.target_spec.has_value(), info.target_spec, w));
    check_child_command_fits(command, info, final_spec);
    warn_lost_backslashes(o, command, progress);
    warn_unless_exe(o.output);

    // Then the files.
    const std::string icon_file = read_icon(o.icon);
    check_output_folder(o.output);
    ScanResult scan = scan_app_dir(o.app_dir, main, o.output, &exclusions,
                                   launcher_files(o.metadata_check, o.keep_builds.has_value()));
    for (const std::string &w : scan.warnings) warn(w);
    for (const std::string &pattern : exclusions.unused())
        warn("option --exclude '" + pattern + "': it matches nothing in the application folder");
    const MainBinary main_binary = check_main_binary(scan.files.front());
    const LauncherArch arch = choose_launcher_arch(o, scan.files.front(), main_binary.machine);
    const IconGroup icon =
        o.icon_from_main ? main_program_icon(scan.files.front()) : icon_group_of_file(icon_file);
    if (std::string w = unpack_folder_problem(final_spec, info, scan.files); !w.empty())
        throw PackError(spec_refusal(o.target_spec.has_value(), info.target_spec, w));
    if (std::string w = long_path_warning(final_spec, info, scan.files); !w.empty()) warn(w);
    uint64_t content_bytes = 0;
    for (const SourceFile &f : scan.files) content_bytes += f.size;

    std::vector<IndexEntry> records;
    std::string blob = compress(scan, o, &records);
    if (!o.target_spec) info.target_spec += u"-" + payload_id(blob);
    OwnedBuildConstants constants = product_constants(info);
    constants.records = std::move(records);
    constants.warm_check = o.metadata_check ? WARM_CHECK_METADATA : WARM_CHECK_CONTENT;
    constants.fixed_arguments = command.arguments;
    constants.environment = command.environment;
    constants.keep_builds = o.keep_builds;
    constants.progress = progress.shown;
    constants.progress_message = progress.message;
    const std::vector<std::string> image = make_packed_image(
        embedded_launcher_image(o.subsystem.value_or(main_binary.subsystem), arch), std::move(blob),
        std::move(constants), info, icon,
        o.require_administrator ? ExecutionLevel::require_administrator : ExecutionLevel::as_invoker);
    write_output(o.output, image);
    uint64_t image_size = 0;
    for (const std::string &piece : image) image_size += piece.size();

    if (!o.quiet) {
        const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::fprintf(stderr, "zobrel-pack: %s -> %s\n",
                     summary_line(scan.files.size(), content_bytes, image_size, secs).c_str(),
                     utf8_path(o.output).c_str());
    }
}

}  // namespace zobrel
