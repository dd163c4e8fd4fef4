// link.h: the launcher runtime recipe and the tools that turn build info into an executable.
#ifndef ZOBREL_PACKER_LINK_H
#define ZOBREL_PACKER_LINK_H

#include <filesystem>
#include <string>
#include <vector>

namespace zobrel {

// What zobrel-runtime.cfg names: the cross tools, the launcher archives and the link flags.
struct Runtime {
    std::filesystem::path dir;
    std::string cxx, cc, windres;
    std::vector<std::string> libs, ldflags;
};

// The runtime folder: the option if given, else $ZOBREL_RUNTIME, else the one
// this packer was built with.
std::filesystem::path choose_runtime_dir(const std::string &option);

// Reads dir/zobrel-runtime.cfg. Throws PackError, naming the path and how to
// build the runtime, if the file or a library it lists is missing or a key is absent.
Runtime load_runtime(const std::filesystem::path &dir);

// Runs argv (argv[0] looked up in PATH, no shell) in cwd with its output sent
// to log. Returns "" on exit status 0, else a message with the command, its
// status and the log's text.
std::string run_tool(const std::vector<std::string> &argv, const std::filesystem::path &cwd,
                     const std::filesystem::path &log);

// In work_dir, which holds build_info.S and resources.rc: assembles, compiles
// the resources and links them with the runtime into output. Throws PackError.
void link_executable(const Runtime &runtime, const std::filesystem::path &work_dir,
                     const std::filesystem::path &output);

}  // namespace zobrel

#endif
