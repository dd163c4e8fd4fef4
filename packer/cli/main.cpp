// main.cpp: the zobrel-pack command line: build, list, verify, extract.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/error.h"
#include "build_constants.h"
#include "base/host.h"
#include "base/text.h"
#include "inspect/extract.h"
#include "inspect/info.h"
#include "inspect/list.h"
#include "inspect/verify.h"
#include "pack/build_command.h"

namespace {

const char DESCRIPTION[] = "Packs a Windows application folder into one self-unpacking .exe.";

const char BUILD_FOOTER[] =
    "At run time the launcher unpacks the files into the folder the target\n"
    "specification names (files whose checksum already matches are kept) and runs\n"
    "the main binary with its own command line. The same folder and options always\n"
    "give a byte-identical OUT.exe.\n"
    "\n"
    "Target specification keys (any case): TEMP PROGRAM PROGRAM_BASE PROGRAM_DIR PID\n"
    "HOME CACHE_DIR COMPANY PRODUCT VERSION FILE_VERSION PRODUCT_VERSION RANDOM\n"
    "TIME_US TIME. The default, {CACHE_DIR}\\COMPANY\\PRODUCT\\VERSION-ID, ends in ID,\n"
    "8 hex digits that identify the payload, so that two builds never share a folder.\n"
    "\n"
    "--keep-builds needs the default specification, or one whose last folder holds\n"
    "{VERSION}, {FILE_VERSION}, {PRODUCT_VERSION} (a folder per build) or {RANDOM},\n"
    "{PID}, {TIME}, {TIME_US} (a folder per start), and whose folders above it hold\n"
    "none of these: the builds' folders must lie side by side. --keep-builds 0 also\n"
    "removes each start's own folder once the program has ended and nothing started\n"
    "from the folder still runs (else a later start removes it); it needs a folder\n"
    "per start, so the default specification is refused with it.\n"
    "\n"
    "The launcher follows the main binary's subsystem: a console program gets the\n"
    "console launcher, which shares its console; a windowed (GUI) program gets the\n"
    "windowed launcher, which never opens a console and shows its errors in a\n"
    "message box. --subsystem chooses otherwise. It follows the main binary's\n"
    "processor too: an ARM64 program gets an ARM64 launcher, an x64 one (or an\n"
    "ARM64EC one, which declares x64) an x64 launcher; --launcher-arch chooses\n"
    "otherwise. 'zobrel-pack --version' lists the launchers it carries.\n"
    "\n"
    "--arg and --env values are expanded at every start with the same keys and\n"
    "{UNPACK_DIR}, the unpack folder's full path without a trailing backslash\n"
    "(which the target specification itself cannot use). The fixed arguments go\n"
    "between the main binary's name and the user's arguments, each quoted so that\n"
    "the program gets it back exactly; the user's arguments follow as typed.\n"
    "--env NAME=VALUE sets a variable for the program (an empty VALUE removes it);\n"
    "a NAME is 1 to 1023 characters, without '=' or control characters, not\n"
    "beginning with ZOBREL_ (the launcher's own variables), and given once (letter\n"
    "case aside).\n"
    "{ENV:NAME} in --arg, --env and --progress-message values is the variable NAME\n"
    "of the environment the launcher was started with (empty when unset), as in\n"
    "--env 'PATH={UNPACK_DIR}\\bin;{ENV:PATH}'; %NAME% is never expanded.\n"
    "\n"
    "Refused: names Windows cannot hold, files of 4 GiB or more, links leading out\n"
    "of APP_DIR, unreadable or special files, a main binary that is not a console\n"
    "or windowed Windows program (a DLL or a driver included), an output folder\n"
    "that does not exist or cannot be written; every file refused is named. Empty\n"
    "folders are left out with a warning. What --exclude leaves out is neither\n"
    "packed nor checked; excluding the main program is refused.\n"
    "\n"
    "Exit status: 0 packed; 1 the input refused (the folder, the main program, the\n"
    "icon, the output's folder) or a failure; 2 a usage error (an unknown option, a\n"
    "value an option cannot take, options that do not go together).\n";

// Options as text, so that "given" and "given empty" stay apart.
struct BuildArguments {
    std::string app_dir, main, output, icon;
    std::string company, product, version_key, file_version, product_version, target_spec;
    std::string description, copyright;
    bool icon_from_main = false;
    std::vector<std::string> exclude;
    int level = 19;
    int threads = 0;
    int keep_builds = 0;
    bool checksum = false, quiet = false, uac_admin = false, progress = false;
    std::string progress_message;
    std::string check = "content";
    std::string subsystem, launcher_arch;
    std::vector<std::string> arguments, environment;
};

CLI::App *add_build(CLI::App &app, BuildArguments &a)
{
    CLI::App *build = app.add_subcommand("build", "make the executable from an application folder");
    // As with most command-line tools, an option given twice takes its last value.
    build->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    build->add_option("APP_DIR", a.app_dir, "the application folder")->required();
    build
        ->add_option("--main", a.main,
                     "the program to run, relative to APP_DIR ('/' or '\\' between folders)")
        ->required();
    build->add_option("-o,--output", a.output, "the executable to write; its folder must exist")->required();
    build->add_option("--company", a.company, "company name (default: empty)");
    build->add_option("--product", a.product,
                      "product name (default: the main binary's name without extension)");
    build->add_option("--version-key", a.version_key,
                      "the text of the target specification's {VERSION} key\n"
                      "(default: PRODUCT_VERSION-FILE_VERSION)");
    build->add_option("--file-version", a.file_version,
                      "file version A.B.C.D, each 0-65535 (default 0.0.0.0)");
    build->add_option("--product-version", a.product_version, "product version (default: the file version)");
    build->add_option("--target-spec", a.target_spec,
                      "the unpack folder, with {KEY} placeholders; must be absolute once expanded");
    build->add_option("--description", a.description,
                      "FileDescription in the version resource, which Explorer shows\n"
                      "(default: PRODUCT.exe)");
    build->add_option("--copyright", a.copyright, "LegalCopyright in the version resource (default: none)");
    build->add_option("--icon", a.icon, "icon of the executable (.ico)");
    build->add_flag("--icon-from-main", a.icon_from_main,
                    "the main program's own icon (its first icon group, the one Explorer\n"
                    "shows); a main program without one gets a warning and no icon");
    build
        ->add_option("--level", a.level,
                     "zstd level, 1 to 22 (default 19): a higher level makes a smaller\n"
                     "executable and takes longer to pack; unpacking takes about as long at\n"
                     "any level. A 95 MB folder (the README's table): level 3 packs in about\n"
                     "1 s to 29% of its size, 9 in 2.5 s to 27%, 19 in 45 s to 23%")
        ->check(CLI::Range(1, 22));
    build
        ->add_option("--threads", a.threads,
                     "compression threads (default: one per core); does not change the output")
        ->check(CLI::Range(1, 1024));
    build->add_flag("--checksum", a.checksum, "add zstd's content checksum, checked at unpack time");
    build
        ->add_option("--check", a.check,
                     "how a start checks the files already unpacked: content (every file's\n"
                     "CRC-32, every start) or metadata (size, time and identity, recorded after\n"
                     "a content check; for applications of many files) (default content)")
        ->check(CLI::IsMember({"content", "metadata"}));
    build
        ->add_option("--keep-builds", a.keep_builds,
                     "keep the unpack folders of this many builds of the product, this one\n"
                     "included: each start removes the others beside its own folder but the\n"
                     "N-1 most recently started; 0: each start also removes its own folder\n"
                     "once the program has ended (default: keep every folder)")
        ->check(CLI::Range(0, static_cast<int>(KEEP_BUILDS_LIMIT)));
    build
        ->add_option("--subsystem", a.subsystem,
                     "the launcher: console (shares its console with the program) or windows\n"
                     "(never opens a console; errors in a message box) (default: the main\n"
                     "binary's own subsystem)")
        ->check(CLI::IsMember({"console", "windows"}));
    build
        ->add_option("--launcher-arch", a.launcher_arch,
                     "the launcher's processor: x64 or arm64 (default: the main binary's own;\n"
                     "x64 for another)")
        ->check(CLI::IsMember({"x64", "arm64"}));
    build->add_flag("--progress", a.progress,
                    "a first start that unpacks for longer than about half a second shows\n"
                    "its progress: a line on the console (only when standard error is one),\n"
                    "a small window for the windowed launcher (default: silent)");
    build->add_option("--progress-message", a.progress_message,
                      "a text shown with the progress, {KEY} expanded as in --arg; needs --progress");
    build->add_flag("--uac-admin", a.uac_admin,
                    "the manifest asks for administrator rights (requireAdministrator);\n"
                    "Windows asks the user's consent at every start (default: asInvoker)");
    // Repeatable and kept in order; one value per occurrence, so that the
    // next word is never taken as a second value.
    build
        ->add_option("--arg", a.arguments,
                     "a fixed argument for the main binary, before the user's own; repeatable,\n"
                     "kept in order; {KEY}, {UNPACK_DIR} and {ENV:NAME} are expanded at every start")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    build
        ->add_option("--env", a.environment,
                     "NAME=VALUE: a variable set for the main binary, VALUE expanded like --arg;\n"
                     "an empty VALUE removes it; repeatable")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    build
        ->add_option("--exclude", a.exclude,
                     "PATTERN: leave out of APP_DIR what it matches, as in .gitignore ('*',\n"
                     "'?', '**', '/' or '\\' between folders, a name alone at any depth, a\n"
                     "folder with everything in it, '!' to take back); repeatable")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    build->add_flag("--quiet", a.quiet, "no progress bar and no summary line");
    build->footer(BUILD_FOOTER);
    return build;
}

zobrel::BuildOptions build_options(const CLI::App &build, const BuildArguments &a)
{
    zobrel::BuildOptions o;
    o.app_dir = zobrel::path_from_utf8(a.app_dir);
    o.main = a.main;
    o.output = zobrel::path_from_utf8(a.output);
    if (!a.icon.empty()) o.icon = zobrel::path_from_utf8(a.icon);
    o.icon_from_main = a.icon_from_main;
    o.exclude = a.exclude;
    auto given = [&](const char *option, const std::string &value, std::optional<std::string> &into) {
        if (build.count(option) > 0) into = value;
    };
    given("--company", a.company, o.company);
    given("--product", a.product, o.product);
    given("--version-key", a.version_key, o.version);
    given("--file-version", a.file_version, o.file_version);
    given("--product-version", a.product_version, o.product_version);
    given("--target-spec", a.target_spec, o.target_spec);
    given("--description", a.description, o.description);
    given("--copyright", a.copyright, o.copyright);
    o.level = a.level;
    o.threads = a.threads;
    o.checksum = a.checksum;
    o.metadata_check = a.check == "metadata";
    if (build.count("--keep-builds") > 0) o.keep_builds = static_cast<uint32_t>(a.keep_builds);
    o.progress = a.progress;
    o.progress_message = a.progress_message;
    o.arguments = a.arguments;
    o.environment = a.environment;
    o.quiet = a.quiet;
    if (build.count("--subsystem") > 0) {
        o.subsystem = a.subsystem == "windows" ? zobrel::LauncherSubsystem::windows
                                               : zobrel::LauncherSubsystem::console;
    }
    if (build.count("--launcher-arch") > 0) {
        o.launcher_arch =
            a.launcher_arch == "arm64" ? zobrel::LauncherArch::arm64 : zobrel::LauncherArch::x64;
    }
    o.require_administrator = a.uac_admin;
    return o;
}

// CLI11 takes "--opt=" (an empty value) as "--opt" with no value and then
// takes the next word as its value. An empty value given so is meant as
// one: it becomes "--opt" and "". Words that are values themselves (after
// an option that takes one, given without "=") and words after "--" are
// left alone.
std::vector<std::string> empty_values_kept(const CLI::App &command, std::vector<std::string> args)
{
    auto takes_value = [&](const std::string &name) {
        const CLI::Option *option = command.get_option_no_throw(name);
        return option != nullptr && option->get_expected_min() > 0;
    };
    std::vector<std::string> out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (word == "--") {
            out.insert(out.end(), args.begin() + static_cast<long>(i), args.end());
            break;
        }
        out.push_back(word);
        if (word.rfind("--", 0) != 0) continue;
        const size_t equals = word.find('=');
        if (equals == std::string::npos) {
            if (takes_value(word) && i + 1 < args.size()) out.push_back(args[++i]);
        } else if (equals + 1 == word.size() && takes_value(word.substr(0, equals))) {
            out.back().pop_back();
            out.push_back("");
        }
    }
    return out;
}

// The names of a command's options, as typed: "--level", "-o".
std::vector<std::string> option_names(const CLI::App &command)
{
    std::vector<std::string> names;
    for (const CLI::Option *option : command.get_options()) {
        for (const std::string &name : option->get_lnames()) names.push_back("--" + name);
        for (const std::string &name : option->get_snames()) names.push_back("-" + name);
    }
    return names;
}

// The first word that looks like an option but names none of the
// command's, or "" when every one does. Values (the word after an option
// that takes one) and words after "--" are not options.
std::string unknown_option(const CLI::App &command, const std::vector<std::string> &args)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &word = args[i];
        if (word == "--") break;
        if (word.size() < 2 || word[0] != '-') continue;
        const bool long_name = word[1] == '-';
        const size_t equals = word.find('=');
        const std::string name = long_name ? word.substr(0, equals) : word.substr(0, 2);
        const CLI::Option *option = command.get_option_no_throw(name);
        if (option == nullptr) return long_name ? name : word;
        const bool value_attached = long_name ? equals != std::string::npos : word.size() > 2;
        if (option->get_expected_min() > 0 && !value_attached) ++i;
    }
    return "";
}

// The command's one long option that begins with the letter of a short
// one ("-q": "--quiet"), or "" when none or several do: a single letter is
// too short to guess from by its spelling.
std::string long_option_of_letter(const CLI::App &command, const std::string &word)
{
    if (word.size() != 2 || word[0] != '-' || word[1] == '-') return "";
    const std::string begins = "-" + word;
    std::string found;
    for (const std::string &name : option_names(command)) {
        if (name.size() <= begins.size() || name.compare(0, begins.size(), begins) != 0) continue;
        if (!found.empty()) return "";
        found = name;
    }
    return found;
}

// The usage error for an unknown option: its name and the nearest known one.
int unknown_option_error(const CLI::App &command, const std::string &word, const std::string &prefix)
{
    const std::string nearest = word.size() == 2 ? long_option_of_letter(command, word)
                                                 : zobrel::nearest_word(word, option_names(command));
    std::fprintf(stderr, "zobrel-pack: %sunknown option '%s'%s\n(see 'zobrel-pack %s--help')\n",
                 prefix.c_str(), word.c_str(),
                 nearest.empty() ? "" : ("; did you mean '" + nearest + "'?").c_str(), prefix.c_str());
    return 2;
}

// A refusal, a line each ("zobrel-pack: error: ..."), then, for a usage
// error, where the command's help is.
int report(const zobrel::PackError &e, const std::string &command)
{
    zobrel::print_diagnostic(zobrel::Diagnostic::error, e.what());
    if (dynamic_cast<const zobrel::UsageError *>(&e) == nullptr) return 1;
    std::fprintf(stderr, "(see 'zobrel-pack %s --help')\n", command.c_str());
    return 2;
}

int usage_error(const CLI::App &app, const CLI::ParseError &e)
{
    const CLI::App *command = nullptr;
    for (const CLI::App *sub : app.get_subcommands()) command = sub;
    const std::string name = command ? command->get_name() + " " : "";
    std::fprintf(stderr, "zobrel-pack: %s%s\n(see 'zobrel-pack %s--help')\n", name.c_str(), e.what(),
                 name.c_str());
    return 2;
}

}  // namespace

static int run_command_line(int argc, char **argv)
{
    zobrel::use_utf8_console();
    CLI::App app(DESCRIPTION, "zobrel-pack");
    app.set_version_flag("--version", "zobrel-pack " ZOBREL_PACK_VERSION "\nlaunchers: " +
                                          zobrel::carried_launchers_text());
    app.require_subcommand(1);

    BuildArguments build_args;
    CLI::App *build = add_build(app, build_args);
    std::string exe, dir;
    CLI::App *list =
        app.add_subcommand("list", "show the packed files, main binary first: size, CRC-32, name");
    list->add_option("OUT.exe", exe, "a packed executable")->required();
    list->footer("Reads the record index without decoding the payload (the payload itself when\n"
                 "there is none), and warns of whatever verify would find short of decoding.\n");
    CLI::App *verify =
        app.add_subcommand("verify", "check that it starts and unpacks exactly the files packed into it");
    verify->add_option("OUT.exe", exe, "a packed executable")->required();
    verify->footer("Checks what the Windows loader needs (headers, alignments, sizes, every section\n"
                   "inside the file) and what the launcher needs (its build constants, the payload's\n"
                   "header and frame, every name, no two names Windows could take for one file or\n"
                   "a file and a folder of one name, every CRC-32 and zstd's checksum if present,\n"
                   "the record index against the payload). Exit status 0 only if all hold, 1\n"
                   "otherwise. Faults the launcher never reads (the payload's padding and length\n"
                   "record, a signature cut short, a header checksum that does not match, no\n"
                   "usable record index) are warnings.\n");
    bool json = false;
    CLI::App *info = app.add_subcommand("info", "show what a packed executable was built with");
    info->add_option("OUT.exe", exe, "a packed executable")->required();
    info->add_flag("--json", json, "one JSON object, for scripts");
    info->footer("Shows the product information, the target specification, how a start checks\n"
                 "the unpacked files, how many builds' folders it keeps (\"all\" when it removes\n"
                 "none), the launcher's subsystem (console or windows) and processor (x64 or\n"
                 "arm64), the execution level its manifest asks for, the packed files' count\n"
                 "and size, and the description and copyright of its version resource. Reads\n"
                 "only the headers, the resources and the build constants: nothing is decoded.\n");
    CLI::App *extract =
        app.add_subcommand("extract", "write the packed files into a folder, running nothing");
    extract->add_option("OUT.exe", exe, "a packed executable")->required();
    extract->add_option("DIR", dir, "where to write them (created if missing)")->required();
    extract->footer("The executable is checked as verify checks it first; where verify would\n"
                    "fail, nothing is written. Each file is written under a temporary name and\n"
                    "takes its own name only when its content matches its checksum. Names that\n"
                    "could reach outside DIR are refused.\n");

    std::vector<std::string> args = zobrel::utf8_arguments(argc, argv);
    if (args.empty()) {
        std::fputs(app.help().c_str(), stderr);
        return 2;
    }
    // --version stands alone; CLI11 would answer it and ignore the rest.
    if (args[0] == "--version" && args.size() > 1) {
        std::fprintf(
            stderr,
            "zobrel-pack: --version takes no arguments, but '%s' follows it\n(see 'zobrel-pack --help')\n",
            args[1].c_str());
        return 2;
    }
    const CLI::App *const commands[] = {build, list, verify, info, extract};
    bool known = false;
    std::vector<std::string> command_names;
    for (const CLI::App *command : commands) {
        known = known || command->check_name(args[0]);
        command_names.push_back(command->get_name());
    }
    if (args[0].empty() || (args[0][0] != '-' && !known)) {
        const std::string nearest = zobrel::nearest_word(args[0], command_names);
        std::fprintf(stderr, "zobrel-pack: unknown command '%s'%s\n(see 'zobrel-pack --help')\n",
                     args[0].c_str(), nearest.empty() ? "" : ("; did you mean '" + nearest + "'?").c_str());
        return 2;
    }
    if (const std::string word = unknown_option(app, {args[0]}); !word.empty())
        return unknown_option_error(app, word, "");
    for (const CLI::App *command : commands) {
        if (command->check_name(args[0])) {
            std::vector<std::string> rest(args.begin() + 1, args.end());
            if (const std::string word = unknown_option(*command, rest); !word.empty())
                return unknown_option_error(*command, word, command->get_name() + " ");
            rest = empty_values_kept(*command, rest);
            rest.insert(rest.begin(), args[0]);
            args = rest;
        }
    }
    try {
        std::reverse(args.begin(), args.end());  // CLI11 takes them last first
        app.parse(args);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        return usage_error(app, e);
    }

    try {
        if (build->parsed()) {
            zobrel::run_build(build_options(*build, build_args));
            return 0;
        }
        if (list->parsed()) {
            zobrel::run_list(zobrel::path_from_utf8(exe), stdout);
            return 0;
        }
        if (verify->parsed()) return zobrel::run_verify(zobrel::path_from_utf8(exe), stdout) ? 0 : 1;
        if (info->parsed()) {
            zobrel::print_settings(zobrel::packed_settings(zobrel::path_from_utf8(exe)), json, stdout);
            return 0;
        }
        if (extract->parsed()) {
            zobrel::run_extract(zobrel::path_from_utf8(exe), zobrel::path_from_utf8(dir));
            return 0;
        }
    } catch (const zobrel::PackError &e) {
        for (const CLI::App *command : commands) {
            if (command->parsed()) return report(e, command->get_name());
        }
        return report(e, "");
    } catch (const std::filesystem::filesystem_error &e) {
        // The system's words and the file they are about, not the library's
        // own wording of them.
        std::string what = e.code().message();
        if (!e.path1().empty()) what = zobrel::quoted(e.path1()) + ": " + what;
        zobrel::print_diagnostic(zobrel::Diagnostic::error, what);
    } catch (const std::bad_alloc &) {
        zobrel::print_diagnostic(zobrel::Diagnostic::error, "out of memory");
    }
    return 1;
}

int main(int argc, char **argv)
{
    // What escapes the commands' own handling (the setup of the command line,
    // a library's limits) still ends with a message and 1, never an abort.
    try {
        return run_command_line(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zobrel-pack: error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zobrel-pack: error: an unexpected failure\n");
    }
    return 1;
}
