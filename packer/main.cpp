// main.cpp: the zobrel-pack command line: build, list, verify, extract.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "error.h"
#include "inspect.h"
#include "pack.h"

namespace {

const char kUsage[] =
    "usage: zobrel-pack COMMAND ...\n"
    "\n"
    "Packs a Windows console application folder into one self-unpacking .exe.\n"
    "\n"
    "commands:\n"
    "  build APP_DIR --main RELPATH -o OUT.exe [options]   make the executable\n"
    "  list OUT.exe                                         show its files, main binary first\n"
    "  verify OUT.exe                                       decode and check everything\n"
    "  extract OUT.exe DIR                                  write its files into DIR\n"
    "\n"
    "'zobrel-pack COMMAND --help' describes a command.\n";

const char kBuildHelp[] =
    "usage: zobrel-pack build APP_DIR --main RELPATH -o OUT.exe [options]\n"
    "\n"
    "Packs every file under APP_DIR into OUT.exe. At run time the launcher unpacks\n"
    "them into the folder the target specification names (files whose checksum\n"
    "already matches are kept) and runs the main binary with its own arguments.\n"
    "The same folder and options always give a byte-identical OUT.exe.\n"
    "\n"
    "  --main RELPATH          the program to run, relative to APP_DIR (required)\n"
    "  -o, --output OUT.exe    the executable to write (required)\n"
    "  --company TEXT          company name (default: empty)\n"
    "  --product TEXT          product name (default: the main binary's name\n"
    "                          without its extension)\n"
    "  --file-version A.B.C.D  file version, four numbers 0-65535 (default 0.0.0.0)\n"
    "  --product-version TEXT  product version (default: the file version)\n"
    "  --version TEXT          version string (default: PRODUCT_VERSION-FILE_VERSION)\n"
    "  --target-spec SPEC      unpack folder, with {KEY} placeholders (default:\n"
    "                          {CACHE_DIR}\\COMPANY\\PRODUCT\\VERSION, or PRODUCT in\n"
    "                          place of an empty COMPANY, made safe as folder names)\n"
    "                          keys: TEMP PROGRAM PROGRAM_BASE PROGRAM_DIR PID HOME\n"
    "                          CACHE_DIR COMPANY PRODUCT VERSION FILE_VERSION\n"
    "                          PRODUCT_VERSION RANDOM TIME_US TIME (any case)\n"
    "  --icon FILE.ico         icon of the executable\n"
    "  --level N               zstd level 1-22 (default 19)\n"
    "  --threads N             compression threads (default: one per core); does\n"
    "                          not change the output\n"
    "  --checksum              add zstd's content checksum, checked at unpack time\n"
    "  --quiet                 no progress bar and no summary line\n"
    "  --runtime DIR           launcher runtime folder holding zobrel-runtime.cfg\n"
    "                          (default: $ZOBREL_RUNTIME, else " ZOBREL_RUNTIME_DIR ")\n"
    "\n"
    "Refused: names Windows cannot hold, files of 4 GiB or more, links leading out\n"
    "of APP_DIR, unreadable or special files, a main binary that is not a PE file.\n"
    "Empty folders are left out with a warning.\n";

const char kListHelp[] = "usage: zobrel-pack list OUT.exe\n"
                         "\n"
                         "Prints one line per packed file, main binary first: size in bytes, stored\n"
                         "CRC-32 in hex, and the name as the launcher will write it.\n";

const char kVerifyHelp[] = "usage: zobrel-pack verify OUT.exe\n"
                           "\n"
                           "Decodes the whole payload and checks its header, padding, length record,\n"
                           "names and every CRC-32 (and zstd's checksum if present). Exit status 0 only\n"
                           "if all hold, 1 otherwise.\n";

const char kExtractHelp[] = "usage: zobrel-pack extract OUT.exe DIR\n"
                            "\n"
                            "Writes the packed files into DIR (created if missing) without running\n"
                            "anything. Names that could reach outside DIR are refused.\n";

bool wants_help(const std::vector<std::string> &args)
{
    for (const std::string &a : args) {
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

int usage_error(const std::string &message, const char *command)
{
    std::fprintf(stderr, "zobrel-pack: %s\n(see 'zobrel-pack %s--help')\n", message.c_str(), command);
    return 2;
}

int parse_int(const std::string &option, const std::string &text)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < 0 || v > 100000) {
        throw zobrel::PackError("option " + option + ": '" + text + "' is not a number");
    }
    return static_cast<int>(v);
}

int build(const std::vector<std::string> &args)
{
    zobrel::BuildOptions o;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i], value;
        bool has_inline = false;
        if (a.size() > 2 && a.compare(0, 2, "--") == 0 && a.find('=') != std::string::npos) {
            value = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
            has_inline = true;
        }
        auto take = [&]() -> std::string {
            if (has_inline) return value;
            if (i + 1 >= args.size()) throw zobrel::PackError("option " + a + " needs a value");
            return args[++i];
        };
        if (a == "--main")
            o.main = take();
        else if (a == "-o" || a == "--output")
            o.output = take();
        else if (a == "--company")
            o.company = take();
        else if (a == "--product")
            o.product = take();
        else if (a == "--version")
            o.version = take();
        else if (a == "--file-version")
            o.file_version = take();
        else if (a == "--product-version")
            o.product_version = take();
        else if (a == "--target-spec")
            o.target_spec = take();
        else if (a == "--icon")
            o.icon = take();
        else if (a == "--level")
            o.level = parse_int(a, take());
        else if (a == "--threads") {
            o.threads = parse_int(a, take());
            if (o.threads < 1) throw zobrel::PackError("option --threads: give at least 1");
        } else if (a == "--runtime")
            o.runtime = take();
        else if (a == "--checksum" && !has_inline)
            o.checksum = true;
        else if (a == "--quiet" && !has_inline)
            o.quiet = true;
        else if (a.size() > 1 && a[0] == '-')
            return usage_error("build: unknown option '" + args[i] + "'", "build ");
        else
            positional.push_back(a);
    }
    if (positional.size() != 1) return usage_error("build: give exactly one APP_DIR", "build ");
    if (o.main.empty()) return usage_error("build: --main RELPATH is required", "build ");
    if (o.output.empty()) return usage_error("build: -o OUT.exe is required", "build ");
    o.app_dir = positional[0];
    zobrel::run_build(o);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (command == "build") {
            if (wants_help(args)) return std::fputs(kBuildHelp, stdout), 0;
            return build(args);
        }
        if (command == "list") {
            if (wants_help(args)) return std::fputs(kListHelp, stdout), 0;
            if (args.size() != 1) return usage_error("list: give one OUT.exe", "list ");
            zobrel::run_list(args[0], stdout);
            return 0;
        }
        if (command == "verify") {
            if (wants_help(args)) return std::fputs(kVerifyHelp, stdout), 0;
            if (args.size() != 1) return usage_error("verify: give one OUT.exe", "verify ");
            return zobrel::run_verify(args[0], stdout) ? 0 : 1;
        }
        if (command == "extract") {
            if (wants_help(args)) return std::fputs(kExtractHelp, stdout), 0;
            if (args.size() != 2) return usage_error("extract: give OUT.exe and DIR", "extract ");
            zobrel::run_extract(args[0], args[1]);
            return 0;
        }
        return usage_error("unknown command '" + command + "'", "");
    } catch (const zobrel::PackError &e) {
        std::fprintf(stderr, "zobrel-pack: error: %s\n", e.what());
    } catch (const std::filesystem::filesystem_error &e) {
        std::fprintf(stderr, "zobrel-pack: error: %s\n", e.what());
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "zobrel-pack: error: out of memory\n");
    }
    return 1;
}
