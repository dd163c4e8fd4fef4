// build_command.h: the build command: folder in, packed executable out.
#ifndef ZOBREL_PACKER_PACK_BUILD_COMMAND_H
#define ZOBREL_PACKER_PACK_BUILD_COMMAND_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/packed_image.h"

namespace zobrel {

struct BuildOptions {
    std::filesystem::path app_dir;
    std::string main;  // relative to app_dir
    std::filesystem::path output;
    std::optional<std::string> company, product, version, file_version, product_version, target_spec;
    std::filesystem::path icon;
    bool icon_from_main = false;  // --icon-from-main: the main program's own icon
    // --description and --copyright: the version resource's FileDescription
    // and LegalCopyright (UTF-8).
    std::optional<std::string> description, copyright;
    // --exclude, in order (UTF-8).
    std::vector<std::string> exclude;
    int level = 19;
    int threads = 0;  // 0: one per core
    bool checksum = false;
    bool metadata_check = false;  // --check metadata
    // --keep-builds: absent, every folder is kept; 0, each start's own
    // folder goes once its program has ended.
    std::optional<uint32_t> keep_builds;
    bool progress = false;         // --progress
    std::string progress_message;  // --progress-message (UTF-8); needs --progress
    // --arg and --env as given, in order (UTF-8; --env as NAME=VALUE).
    std::vector<std::string> arguments, environment;
    bool quiet = false;
    // --subsystem: the launcher to use; by default the main binary's own.
    std::optional<LauncherSubsystem> subsystem;
    // --launcher-arch: the launcher's processor; by default the main binary's own.
    std::optional<LauncherArch> launcher_arch;
    bool require_administrator = false;  // --uac-admin
};

// Checks everything first: what the command line alone decides (options,
// specification, fixed arguments and environment, exclusions, a
// --launcher-arch whose launchers this packer carries; a refusal there is a
// UsageError), then the icon, the output's folder, the application folder
// and the main binary; then compresses, writes the executable from the
// launcher this packer carries for the subsystem (the console one for a
// console main binary, the windowed one for a windowed main binary, unless
// options.subsystem says which) and the processor (the main binary's, x64 or
// ARM64, unless options.launcher_arch says which; x64, with a warning, for
// another machine type or where no ARM64 launcher is carried), and renames
// it into place, executable where the host has such a permission (as a
// linker makes it: every execute bit the umask allows). A main binary of any
// other subsystem, which Windows does not start as a program, is refused.
// Warnings go to stderr; so does the summary unless quiet. Throws UsageError
// or PackError on any refusal or failure, leaving neither the output nor
// temporary files.
void run_build(const BuildOptions &options);

}  // namespace zobrel

#endif
