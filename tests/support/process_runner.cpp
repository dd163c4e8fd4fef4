// process_runner.cpp: runs a program with chosen command line, environment
// and directory; captures its output through files and its exit code.
#include "process_runner.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <memory>

#include "clock.h"
#include "memory_sampler.h"
#include "test_paths.h"

namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::wstring &a, const std::wstring &b) const
    {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};

}  // namespace

BOOL create_process(const wchar_t *application, wchar_t *command_line, BOOL inherit_handles, DWORD flags,
                    void *environment, const wchar_t *current_directory, STARTUPINFOW *startup,
                    PROCESS_INFORMATION *process)
{
    for (int attempt = 1;; attempt++) {
        if (CreateProcessW(application, command_line, NULL, NULL, inherit_handles, flags, environment,
                           current_directory, startup, process)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (attempt == 2 || (error != ERROR_INTERNAL_ERROR && error != 0)) {
            SetLastError(error);
            return FALSE;
        }
        std::string note = "process_runner: Wine's own fault (CreateProcessW failed with " +
                           std::to_string(error) + ") starting " + narrow(command_line) +
                           "; starting it once more\n";
        fputs(note.c_str(), stderr);
        char log[1024];
        DWORD length = GetEnvironmentVariableA("ZOBREL_WINE_RETRY_LOG", log, sizeof log);
        if (length > 0 && length < sizeof log) {
            std::string path = std::string("Z:") + log;
            std::replace(path.begin(), path.end(), '/', '\\');
            if (FILE *f = fopen(path.c_str(), "a")) {
                fputs(note.c_str(), f);
                fclose(f);
            }
        }
    }
}

std::vector<wchar_t> environment_block(const RunOptions &options)
{
    std::map<std::wstring, std::wstring, CaseInsensitiveLess> vars;
    wchar_t *block = GetEnvironmentStringsW();
    for (wchar_t *p = block; *p != L'\0'; p += wcslen(p) + 1) {
        std::wstring entry(p);
        size_t eq = entry.find(L'=', 1);  // "=C:=C:\x" entries start with '='
        if (eq == std::wstring::npos) continue;
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    FreeEnvironmentStringsW(block);
    for (const auto &name : options.unset_env) vars.erase(name);
    for (const auto &kv : options.set_env) vars[kv.first] = kv.second;
    std::vector<wchar_t> out;
    for (const auto &kv : vars) {
        std::wstring entry = kv.first + L"=" + kv.second;
        out.insert(out.end(), entry.begin(), entry.end());
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

HANDLE open_inheritable(const std::wstring &path, DWORD access, DWORD disposition)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

std::string system_error_text(DWORD code)
{
    char *text = NULL;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             NULL, code, 1033, reinterpret_cast<char *>(&text), 0, NULL);
    std::string s = n ? std::string(text, n) : std::string();
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    if (text) LocalFree(text);
    return s;
}

std::wstring quote_argument(const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, L'\\');
    out.push_back(L'"');
    return out;
}

StartedProcess start_process(const RunOptions &options, bool suspended)
{
    StartedProcess started;
    started.folder = make_scratch_dir(L"run");
    const std::wstring &dir = started.folder;
    write_file(dir + L"\\stdin", options.standard_input);
    HANDLE in = open_inheritable(dir + L"\\stdin", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = open_inheritable(dir + L"\\stdout", GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = open_inheritable(dir + L"\\stderr", GENERIC_WRITE, CREATE_ALWAYS);

    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    if (!options.no_standard_handles) {
        si.hStdInput = in;
        si.hStdOutput = out;
        si.hStdError = err;
    }
    if (options.show_window >= 0) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = static_cast<WORD>(options.show_window);
    }
    std::wstring desktop = options.desktop;
    if (!desktop.empty()) si.lpDesktop = &desktop[0];
    std::vector<wchar_t> env = environment_block(options);
    std::vector<wchar_t> cmd(options.command_line.begin(), options.command_line.end());
    cmd.push_back(L'\0');
    started.started = now_seconds();
    BOOL ok = create_process(
        options.application.empty() ? NULL : options.application.c_str(), cmd.data(), TRUE,
        CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0) | options.creation_flags, env.data(),
        options.current_directory.empty() ? NULL : options.current_directory.c_str(), &si, &started.info);
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!ok) {
        started.start_error = "run_process: CreateProcessW failed with " + std::to_string(error);
        started.info = PROCESS_INFORMATION{};
    }
    return started;
}

RunResult finish_process(StartedProcess &started, const RunOptions &options)
{
    RunResult result;
    if (started.info.hProcess == NULL) {
        result.exit_code = 0xFFFFFFFF;
        result.standard_error = started.start_error;
        remove_tree(started.folder);
        return result;
    }
    const PROCESS_INFORMATION &pi = started.info;
    result.process_id = pi.dwProcessId;
    std::unique_ptr<MemorySampler> sampler;
    if (options.sample_memory) sampler.reset(new MemorySampler(pi.hProcess));
    if (WaitForSingleObject(pi.hProcess, options.timeout_ms) != WAIT_OBJECT_0) {
        result.timed_out = true;
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    result.seconds = now_seconds() - started.started;
    if (sampler) result.peak_private = sampler->stop();
    GetExitCodeProcess(pi.hProcess, &result.exit_code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    started.info = PROCESS_INFORMATION{};
    result.standard_output = read_file(started.folder + L"\\stdout");
    result.standard_error = read_file(started.folder + L"\\stderr");
    remove_tree(started.folder);
    return result;
}

RunResult run_process(const RunOptions &options)
{
    StartedProcess started = start_process(options);
    return finish_process(started, options);
}

RunResult run_with_temp(const std::wstring &program, const std::wstring &temp, const std::wstring &arguments)
{
    RunOptions options;
    options.command_line = quote_argument(program);
    if (!arguments.empty()) options.command_line += L" " + arguments;
    options.set_env = {{L"TMP", temp}, {L"TEMP", temp}};
    return run_process(options);
}
