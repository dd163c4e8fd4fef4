// link.cpp: loads the runtime recipe and runs assembler, windres and linker without a shell.
#include "link.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "error.h"

extern char **environ;

namespace fs = std::filesystem;

namespace zobrel {
namespace {

const char kHowToBuild[] =
    "build the launcher runtime with 'cmake -S . -B build/win "
    "-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake"
    " && cmake --build build/win --target zobrel_runtime', then pass its runtime folder with --runtime DIR or"
    " ZOBREL_RUNTIME";

std::vector<std::string> split_list(const std::string &s)
{
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(s);
    while (std::getline(in, item, ';')) {
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

}  // namespace

fs::path choose_runtime_dir(const std::string &option)
{
    if (!option.empty()) return option;
    const char *env = std::getenv("ZOBREL_RUNTIME");
    if (env && *env) return env;
    return ZOBREL_RUNTIME_DIR;
}

Runtime load_runtime(const fs::path &dir)
{
    const fs::path cfg = dir / "zobrel-runtime.cfg";
    std::ifstream in(cfg);
    if (!in)
        throw PackError("launcher runtime not found: '" + cfg.string() + "' does not exist; " + kHowToBuild);
    std::map<std::string, std::string> kv;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
        kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    Runtime rt;
    rt.dir = dir;
    for (const char *key : {"cxx", "cc", "windres", "libs", "ldflags"}) {
        if (!kv.count(key) || (kv[key].empty() && std::string(key) != "ldflags")) {
            throw PackError("launcher runtime '" + cfg.string() + "' has no '" + key + "=' line; " +
                            kHowToBuild);
        }
    }
    rt.cxx = kv["cxx"];
    rt.cc = kv["cc"];
    rt.windres = kv["windres"];
    rt.libs = split_list(kv["libs"]);
    rt.ldflags = split_list(kv["ldflags"]);
    for (const std::string &lib : rt.libs) {
        if (!fs::is_regular_file(lib)) {
            throw PackError("launcher runtime library '" + lib + "' (listed in '" + cfg.string() +
                            "') is missing; " + kHowToBuild);
        }
    }
    return rt;
}

std::string run_tool(const std::vector<std::string> &argv, const fs::path &cwd, const fs::path &log)
{
    std::string command;
    for (const std::string &a : argv) command += (command.empty() ? "" : " ") + a;
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid;
    int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return "cannot run '" + argv[0] + "': " + std::strerror(rc);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return "cannot wait for '" + argv[0] + "': " + std::strerror(errno);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    std::ifstream in(log);
    std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                        : "signal " + std::to_string(WTERMSIG(status));
    return "'" + command + "' failed (" + how + ")" + (output.empty() ? "" : ":\n" + output);
}

void link_executable(const Runtime &rt, const fs::path &work_dir, const fs::path &output)
{
    const fs::path log = work_dir / "tool.log";
    std::string err = run_tool({rt.cc, "-c", "build_info.S", "-o", "build_info.o"}, work_dir, log);
    if (err.empty())
        err = run_tool({rt.windres, "-O", "coff", "-i", "resources.rc", "-o", "resources.o"}, work_dir, log);
    if (err.empty()) {
        std::vector<std::string> argv{rt.cxx, "-o", fs::absolute(output).string(), "build_info.o",
                                      "resources.o"};
        argv.insert(argv.end(), rt.libs.begin(), rt.libs.end());
        argv.insert(argv.end(), rt.ldflags.begin(), rt.ldflags.end());
        err = run_tool(argv, work_dir, log);
    }
    if (!err.empty()) throw PackError(err);
}

}  // namespace zobrel
