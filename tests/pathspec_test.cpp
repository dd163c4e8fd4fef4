// The path specification expander, the run-unique values and their pins, and
// the environment, folder and path utilities beneath them. Operations that
// return are called in this process; those that end the process are watched
// from outside through pathspec_probe.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>
#include <stdint.h>
#include <stdlib.h>
#include <wctype.h>

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "example_build_info.h"
#include "child/child_state.h"
#include "common/wide_buffer.h"
#include "pathspec/command_text.h"
#include "pathspec/environment.h"
#include "pathspec/expand.h"
#include "pathspec/paths.h"
#include "pathspec/run_values.h"
#include "pathspec/unpack_directory.h"
#include "process_runner.h"
#include "spec_keys.h"
#include "test_paths.h"

namespace {

const size_t PATH_CAPACITY = 4096;

const wchar_t PARENT_PIN[] = L"ZOBREL_ONEFILE_PARENT";
const wchar_t RANDOM_PIN[] = L"ZOBREL_ONEFILE_RANDOM";
const wchar_t START_PIN[] = L"ZOBREL_ONEFILE_START";
const wchar_t TIME_US_PIN[] = L"ZOBREL_ONEFILE_TIME_US";
const wchar_t *const PINS[] = {PARENT_PIN, RANDOM_PIN, START_PIN, TIME_US_PIN};

const wchar_t TOKEN_ALPHABET[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
// The alphabet characters whose index is a multiple of 4: the only ones the
// 11th token character (4 data bits and 2 zero bits) can be.
const std::wstring LAST_TOKEN_CHARACTERS = L"AEIMQUYcgkosw048";

// ---------------------------------------------------------------------------
// Environment and platform helpers

struct EnvValue {
    bool set;
    std::wstring value;
};

EnvValue read_env(const wchar_t *name)
{
    std::vector<wchar_t> value(32768);  // Wine reads larger buffers wrong
    SetLastError(0);
    DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return {false, L""};
    return {true, std::wstring(value.data(), n)};
}

// Sets (or with null removes) a variable for one scope and puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t *name, const wchar_t *value) : name_(name), saved_(read_env(name))
    {
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_.c_str(), saved_.set ? saved_.value.c_str() : NULL); }

private:
    std::wstring name_;
    EnvValue saved_;
};

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::wstring &dir)
    {
        wchar_t saved[MAX_PATH * 4];
        GetCurrentDirectoryW(MAX_PATH * 4, saved);
        saved_ = saved;
        SetCurrentDirectoryW(dir.c_str());
    }
    ~ScopedCurrentDirectory() { SetCurrentDirectoryW(saved_.c_str()); }

private:
    std::wstring saved_;
};

std::wstring own_program_path()
{
    wchar_t path[PATH_CAPACITY];
    DWORD n = GetModuleFileNameW(NULL, path, PATH_CAPACITY);
    return std::wstring(path, n);
}

std::wstring platform_temp_path()
{
    wchar_t path[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, path);
    return std::wstring(path, n);
}

std::wstring platform_folder(int csidl)
{
    wchar_t path[MAX_PATH];
    if (SHGetFolderPathW(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path) != S_OK) return L"<no folder>";
    return path;
}

std::wstring platform_short_path(const std::wstring &path)
{
    wchar_t out[PATH_CAPACITY];
    DWORD n = GetShortPathNameW(path.c_str(), out, PATH_CAPACITY);
    return n == 0 || n >= PATH_CAPACITY ? L"<no short form>" : std::wstring(out, n);
}

std::wstring without_trailing_backslashes(std::wstring text)
{
    while (!text.empty() && text.back() == L'\\') text.pop_back();
    return text;
}

bool all_digits(const std::wstring &text)
{
    if (text.empty()) return false;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
    }
    return true;
}

uint64_t file_time_now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// ---------------------------------------------------------------------------
// The expander in this process, with a guard region after the buffer

// The example build's launch, as the launcher's is when it expands: its
// constants in place, its own path read.
const LaunchShared *example_launch()
{
    static const LaunchShared *const launch = [] {
        LaunchShared *made = new LaunchShared();
        init_example_launch(made, L"pathspec_test");
        return made;
    }();
    return launch;
}

const wchar_t SENTINEL = 0xA5A5;
const size_t GUARD_UNITS = 64;

struct Expansion {
    bool ok;
    std::wstring text;
};

// Expands into a buffer of `capacity` units followed by a guard region, and
// fails the test if anything was written past the capacity or the text has
// no NUL within it.
Expansion expand(const std::wstring &spec, size_t capacity = PATH_CAPACITY)
{
    std::vector<wchar_t> buffer(capacity + GUARD_UNITS, SENTINEL);
    bool ok = expand_path_spec(example_launch(), buffer.data(), spec.c_str(), capacity);
    for (size_t i = capacity; i < buffer.size(); i++) {
        if (buffer[i] != SENTINEL) {
            ADD_FAILURE() << "unit " << i << " past the capacity " << capacity << " was written";
            break;
        }
    }
    size_t length = 0;
    while (length < capacity && buffer[length] != L'\0') length++;
    if (length == capacity) ADD_FAILURE() << "no NUL within the capacity " << capacity;
    return {ok, std::wstring(buffer.data(), length)};
}

std::string show(const std::wstring &spec)
{
    if (spec.size() <= 80) return narrow(spec);
    return narrow(spec.substr(0, 40)) + "...(" + std::to_string(spec.size()) + " units)";
}

struct ExpansionCase {
    std::wstring spec;
    std::wstring text;  // the whole expansion, or the partial text of a false one
    size_t capacity = PATH_CAPACITY;
};

// Expands each case's specification in its capacity: the result must be
// `ok` and the output the case's text.
void expect_expansions(bool ok, const std::vector<ExpansionCase> &cases)
{
    for (const ExpansionCase &c : cases) {
        SCOPED_TRACE(show(c.spec) + " in " + std::to_string(c.capacity));
        Expansion e = expand(c.spec, c.capacity);
        EXPECT_EQ(e.ok, ok);
        EXPECT_EQ(e.text, c.text);
    }
}

// Each test starts and ends with none of the four pins set.
class PathSpec : public testing::Test {
protected:
    void SetUp() override { clear_pins(); }
    void TearDown() override { clear_pins(); }
    static void clear_pins()
    {
        for (const wchar_t *pin : PINS) SetEnvironmentVariableW(pin, NULL);
    }
};

// ---------------------------------------------------------------------------
// The probe: operations that end the process

RunResult run_probe(const std::vector<std::wstring> &args,
                    const std::vector<std::pair<std::wstring, std::wstring>> &env = {},
                    const std::wstring &program = L"")
{
    RunOptions options;
    std::wstring exe = program.empty() ? test_program(L"pathspec_probe.exe") : program;
    options.application = exe;
    options.command_line = quote_argument(exe);
    for (const std::wstring &arg : args) options.command_line += L" " + quote_argument(arg);
    for (const wchar_t *pin : PINS) options.unset_env.push_back(pin);
    options.set_env = env;
    return run_process(options);
}

std::vector<std::string> output_lines(const RunResult &r)
{
    std::vector<std::string> lines;
    std::string rest = r.standard_output;
    for (size_t end; (end = rest.find("\r\n")) != std::string::npos; rest.erase(0, end + 2)) {
        lines.push_back(rest.substr(0, end));
    }
    if (!rest.empty()) lines.push_back(rest);
    return lines;
}

// The probe's expansion: its result line and its text line.
std::vector<std::string> probe_expansion(const std::wstring &spec, size_t capacity,
                                         const std::vector<std::pair<std::wstring, std::wstring>> &env = {},
                                         const std::wstring &program = L"")
{
    RunResult r = run_probe({L"expand", spec, std::to_wstring(capacity)}, env, program);
    EXPECT_EQ(r.exit_code, 0u) << r.standard_error;
    return output_lines(r);
}

void expect_abnormal_end(const RunResult &r)
{
    EXPECT_EQ(r.exit_code, FAIL_FAST_STATUS);
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.standard_error, "");
}

// ===========================================================================
// Expander: keys, placeholders, literals

TEST_F(PathSpec, KeysExpandToTheirValues)
{
    const std::wstring local = without_trailing_backslashes(platform_folder(CSIDL_LOCAL_APPDATA));
    const std::wstring profile = without_trailing_backslashes(platform_folder(CSIDL_PROFILE));
    const std::wstring program = own_program_path();
    expect_expansions(
        true, {
                  {L"{COMPANY}", L"MOLTARN LLC"},
                  {L"{PRODUCT}", L"vexor"},
                  {L"{VERSION}", L"0.2.0-0.2.0.0"},
                  {L"{FILE_VERSION}", L"0.2.0.0"},
                  {L"{PRODUCT_VERSION}", L"0.2.0"},
                  {L"{COMPANY}{PRODUCT}", L"MOLTARN LLCvexor"},
                  {L"{COMPANY}\\", L"MOLTARN LLC\\"},  // only TEMP, HOME and CACHE_DIR lose backslashes
                  {L"{CACHE_DIR}", local},
                  {L"{HOME}", profile},
                  {L"{PROGRAM}", program},
                  {example_launch()->build.target_spec, local + L"\\MOLTARN\\vexor\\0.2.0"},
                  {L"{HOME}\\x", profile + L"\\x"},
                  {L"", L""},
                  {L"C:\\plain path\\with blanks.txt", L"C:\\plain path\\with blanks.txt"},
                  // A "{" starts the key over: the characters collected before it are dropped.
                  {L"a{b{COMPANY}", L"aMOLTARN LLC"},
                  {L"{NOPE{PRODUCT}", L"vexor"},
                  // A placeholder still open at the end is dropped without error.
                  {L"abc{COMPANY", L"abc"},
                  {L"abc{", L"abc"},
                  {L"{", L""},
              });
}

TEST_F(PathSpec, KeysMatchWithoutRegardToCase)
{
    for (const SpecKey &key : SPEC_KEYS) {
        // A target specification cannot name the folder it names (below).
        if (key.id == SPEC_KEY_UNPACK_DIR) continue;
        std::wstring upper = widen(key.name), lower = upper, mixed = upper;
        for (size_t i = 0; i < upper.size(); i++) {
            lower[i] = static_cast<wchar_t>(towlower(upper[i]));
            if (i % 2 == 1) mixed[i] = lower[i];
        }
        SCOPED_TRACE(narrow(mixed));
        Expansion reference = expand(L"{" + upper + L"}");
        ASSERT_TRUE(reference.ok);
        EXPECT_FALSE(reference.text.empty());
        for (const std::wstring &variant : {lower, mixed}) {
            Expansion e = expand(L"{" + variant + L"}");
            EXPECT_TRUE(e.ok);
            EXPECT_EQ(e.text, reference.text);
        }
    }
    // The two spellings the launcher's users write most.
    EXPECT_EQ(expand(L"{cache_dir}").text, expand(L"{CACHE_DIR}").text);
    EXPECT_EQ(expand(L"{Cache_Dir}").text, expand(L"{CACHE_DIR}").text);
}

TEST_F(PathSpec, UnknownKeysStrayBracesAndOverlongKeysReturnFalseWithThePartialText)
{
    expect_expansions(false, {
                                 {L"{}", L""},
                                 {L"{NOPE}", L""},
                                 {L"a\\{UNPACK_DIR}", L"a\\"},
                                 {L"{unpack_dir}", L""},
                                 {L"ab{NOPE}cd", L"ab"},
                                 {L"{COMPANY}{NOPE}", L"MOLTARN LLC"},
                                 {L"{PROG}", L""},  // no prefixes
                                 {L"{PROGRAMX}", L""},
                                 {L"{ TEMP}", L""},  // blanks are key characters
                                 {L"{TEMP }", L""},
                                 {L"{CACHE_DIR\\x}", L""},
                                 {L"{{}", L""},               // the second "{" leaves an empty key
                                 {L"{ＣＯＭＰＡＮＹ}", L""},  // only ASCII letters fold
                                 {L"}", L""},
                                 {L"a}b", L"a"},
                                 {L"{COMPANY}}", L"MOLTARN LLC"},
                                 // A key of 1023 characters is collected whole and matches nothing; a
                                 // longer one stops the collection, closed or not.
                                 {L"x{" + std::wstring(1023, L'K') + L"}", L"x"},
                                 {L"x{" + std::wstring(1024, L'K') + L"}", L"x"},
                                 {L"x{" + std::wstring(1024, L'K'), L"x"},
                                 {L"x{" + std::wstring(5000, L'K') + L"}{COMPANY}", L"x"},
                             });
    // An unclosed key of 1023 characters is still just dropped.
    expect_expansions(true, {{L"x{" + std::wstring(1023, L'K'), L"x"}});
}

TEST_F(PathSpec, ALiteralFitsUpToCapacityMinusOne)
{
    expect_expansions(true, {
                                {L"", L"", 1},
                                {L"abcdefghijklmno", L"abcdefghijklmno", 16},  // 15 units
                                {std::wstring(4095, L'x'), std::wstring(4095, L'x'), 4096},
                                // After a value, the literals take what is left.
                                {L"{PRODUCT}/abc", L"vexor/abc", 10},
                            });
    expect_expansions(false, {
                                 {L"a", L"", 1},
                                 {L"abcdefghijklmnop", L"abcdefghijklmno", 16},
                                 {std::wstring(4096, L'x'), std::wstring(4095, L'x'), 4096},
                                 {L"{PRODUCT}/abcd", L"vexor/abc", 10},
                             });
}

// ===========================================================================
// Expander: the launcher's own path

TEST_F(PathSpec, ProgramKeysFollowTheModulePath)
{
    const std::wstring program = own_program_path();
    ASSERT_GE(program.size(), 4u);
    ASSERT_EQ(_wcsicmp(program.substr(program.size() - 4).c_str(), L".exe"), 0) << narrow(program);
    const std::wstring base = program.substr(0, program.size() - 4);
    const std::wstring dir = program.substr(0, program.rfind(L'\\'));

    expect_expansions(true, {
                                {L"{PROGRAM}", program},
                                {L"{PROGRAM_BASE}", base},
                                {L"{PROGRAM_DIR}", dir},
                                {L"{PROGRAM_DIR}\\", dir + L"\\"},  // no strip flag: the literal stays
                                {L"<{PROGRAM_BASE}>", L"<" + base + L">"},
                                {L"{PROGRAM_DIR}\\{PRODUCT}", dir + L"\\vexor"},
                            });
}

TEST_F(PathSpec, AProgramPathThatDoesNotFitIsAFailedExpansion)
{
    const std::wstring program = own_program_path();
    const size_t n = program.size();
    const std::wstring dir = program.substr(0, program.rfind(L'\\'));
    // The whole path must fit with its NUL, even when only a part of it stays.
    expect_expansions(true, {
                                {L"{PROGRAM}", program, n + 1},
                                {L"ab{PROGRAM}", L"ab" + program, n + 3},
                                {L"ab{PROGRAM_DIR}", L"ab" + dir, n + 3},
                            });
    expect_expansions(false, {
                                 {L"{PROGRAM}", L"", n},
                                 {L"{PROGRAM}", L"", 2},
                                 {L"ab{PROGRAM}", L"ab", n + 2},
                                 {L"ab{PROGRAM_BASE}", L"ab", n + 2},
                                 {L"ab{PROGRAM_DIR}", L"ab", n + 2},
                             });
}

TEST_F(PathSpec, ProgramBaseRemovesAnyCaseOfExeAndNothingElse)
{
    std::wstring dir = make_scratch_dir(L"program");
    const struct {
        const wchar_t *name;
        const wchar_t *base;
    } cases[] = {
        {L"Tool.EXE", L"Tool"},
        {L"tool.Exe", L"tool"},
        {L"Tool.exe.bin", L"Tool.exe.bin"},
        {L"Tool", L"Tool"},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(narrow(c.name));
        // A folder each: the file system matches names without regard to case.
        std::wstring folder = dir + L"\\" + std::to_wstring(n++);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
        std::wstring path = folder + L"\\" + c.name;
        ASSERT_TRUE(CopyFileW(test_program(L"pathspec_probe.exe").c_str(), path.c_str(), FALSE));
        EXPECT_EQ(probe_expansion(L"{PROGRAM}", PATH_CAPACITY, {}, path),
                  (std::vector<std::string>{"1", narrow(path)}));
        EXPECT_EQ(probe_expansion(L"{PROGRAM_BASE}", PATH_CAPACITY, {}, path),
                  (std::vector<std::string>{"1", narrow(folder + L"\\" + c.base)}));
        EXPECT_EQ(probe_expansion(L"{PROGRAM_DIR}", PATH_CAPACITY, {}, path),
                  (std::vector<std::string>{"1", narrow(folder)}));
    }
    remove_tree(dir);
}

// ===========================================================================
// Expander: folders and the strip flag

TEST_F(PathSpec, TempLosesItsTrailingBackslash)
{
    const std::wstring temp = platform_temp_path();
    ASSERT_FALSE(temp.empty());
    ASSERT_EQ(temp.back(), L'\\') << "the platform reports the temporary folder with a trailing backslash";
    const std::wstring stripped = without_trailing_backslashes(temp);
    const size_t n = temp.size();
    expect_expansions(true, {
                                {L"{TEMP}", stripped},
                                {L"{temp}\\x", stripped + L"\\x"},
                                {L"{TEMP}\\{TEMP}", stripped + L"\\" + stripped},
                                {L"x\\{TEMP}", L"x\\" + stripped, 3 + n},
                            });
    // A temporary path the platform does not write fails the expansion, like
    // a user folder that cannot be had; the literals before it stay, unstripped.
    expect_expansions(false, {
                                 {L"x\\{TEMP}", L"x\\", 8},
                                 {L"x\\\\\\{TEMP}", L"x\\\\\\", 8},
                                 {L"x\\{TEMP}", L"x\\", 2 + n},  // room for all but the NUL
                                 {L"{TEMP}", L"", 1},
                             });
}

// A drive root reported by the platform keeps only its drive: "C:\" becomes
// "C:". The profile folder cannot be steered under Wine (SHGetFolderPathW
// ignores USERPROFILE there), so the strip rule that HOME, CACHE_DIR and TEMP
// share is driven through the temporary folder, which follows TMP.
TEST_F(PathSpec, ADriveRootLosesItsBackslash)
{
    ScopedEnv tmp(L"TMP", L"C:\\");
    ASSERT_EQ(platform_temp_path(), L"C:\\");
    EXPECT_EQ(expand(L"{TEMP}").text, L"C:");
    EXPECT_EQ(expand(L"{TEMP}\\x").text, L"C:\\x");
    EXPECT_EQ(expand(L"{TEMP}{COMPANY}").text, L"C:MOLTARN LLC");
}

// The temporary folder comes from the first of TMP, TEMP and USERPROFILE that
// is set; a setting that is not absolute fails the expansion (the platform
// would resolve it against the current folder, and the unpack would land
// wherever the launcher was started). The literals before it stay. (HOME
// and CACHE_DIR follow the same rule, but cannot be made relative under
// Wine, which ignores USERPROFILE for them.)
TEST_F(PathSpec, ATemporaryFolderSetToARelativePathFailsTheExpansion)
{
    struct Case {
        const wchar_t *tmp, *temp, *profile;  // null: unset
        bool ok;
    } cases[] = {
        {nullptr, L"reltmp", L"C:\\users\\x", false},
        {L"reltmp", L"C:\\", L"C:\\users\\x", false},
        {L"C:reltmp", nullptr, L"C:\\users\\x", false},
        {L"\\reltmp", nullptr, L"C:\\users\\x", false},  // the root of whatever drive is current
        {nullptr, nullptr, L"relprofile", false},
        {L"C:\\tmp", L"reltmp", L"relprofile", true},  // TMP wins
        {nullptr, L"c:\\tmp", L"relprofile", true},
        {L"\\\\server\\share", nullptr, nullptr, true},
        // Forward slashes, which Windows takes for backslashes.
        {L"C:/Windows/Temp", nullptr, nullptr, true},
        {nullptr, L"C:/Windows/Temp/", L"relprofile", true},
        {L"//server/share/x", nullptr, nullptr, true},
        {L"/reltmp", nullptr, L"C:\\users\\x", false},
        {L"C:reltmp/x", nullptr, L"C:\\users\\x", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(show(std::wstring(L"TMP=") + (c.tmp ? c.tmp : L"(unset)") + L" TEMP=" +
                          (c.temp ? c.temp : L"(unset)") + L" USERPROFILE=" +
                          (c.profile ? c.profile : L"(unset)")));
        ScopedEnv tmp(L"TMP", c.tmp), temp(L"TEMP", c.temp), profile(L"USERPROFILE", c.profile);
        Expansion e = expand(L"x\\{TEMP}\\app");
        EXPECT_EQ(e.ok, c.ok);
        if (c.ok) {
            EXPECT_EQ(e.text, L"x\\" + without_trailing_backslashes(platform_temp_path()) + L"\\app");
        } else {
            EXPECT_EQ(e.text, L"x\\");
        }
    }
}

TEST_F(PathSpec, HomeAndCacheDirFollowTheUserFolders)
{
    EXPECT_EQ(expand(L"{HOME}").text, without_trailing_backslashes(platform_folder(CSIDL_PROFILE)));
    EXPECT_EQ(expand(L"{CACHE_DIR}").text,
              without_trailing_backslashes(platform_folder(CSIDL_LOCAL_APPDATA)));
    // A value appended after literal text keeps that text.
    EXPECT_EQ(expand(L"[{HOME}]").text,
              L"[" + without_trailing_backslashes(platform_folder(CSIDL_PROFILE)) + L"]");
}

// ===========================================================================
// Expander: values that do not fit end the process; literals return false

TEST_F(PathSpec, AValueThatWouldOverflowEndsTheProcess)
{
    const std::wstring local = platform_folder(CSIDL_LOCAL_APPDATA);
    const std::wstring profile = platform_folder(CSIDL_PROFILE);
    const std::vector<std::pair<std::wstring, std::wstring>> parent_0042 = {{PARENT_PIN, L"0042"}};
    const struct {
        std::wstring spec;
        size_t capacity;
        std::vector<std::pair<std::wstring, std::wstring>> env;
        std::string fitting_text;  // with one unit more
    } cases[] = {
        {L"{COMPANY}", 11, {}, "MOLTARN LLC"},
        {L"ab{PRODUCT}", 7, {}, "abvexor"},
        {L"{VERSION}", 13, {}, "0.2.0-0.2.0.0"},
        {L"{FILE_VERSION}", 7, {}, "0.2.0.0"},
        {L"{PRODUCT_VERSION}", 5, {}, "0.2.0"},
        {L"{CACHE_DIR}", local.size(), {}, narrow(without_trailing_backslashes(local))},
        {L"{HOME}", profile.size(), {}, narrow(without_trailing_backslashes(profile))},
        {L"{PID}", 4, parent_0042, "0042"},
        {L"{RANDOM}", 11, {{RANDOM_PIN, L"IQHFT9HQGrI"}}, "IQHFT9HQGrI"},
        {L"{TIME}", 5, {{START_PIN, L"12345"}}, "12345"},
        {L"{TIME_US}", 6, {{TIME_US_PIN, L"000042"}}, "000042"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(show(c.spec) + " in " + std::to_string(c.capacity));
        expect_abnormal_end(run_probe({L"expand", c.spec, std::to_wstring(c.capacity)}, c.env));
        EXPECT_EQ(probe_expansion(c.spec, c.capacity + 1, c.env),
                  (std::vector<std::string>{"1", c.fitting_text}));
    }
    // Made values that cannot fit end the process too.
    const wchar_t *const made[] = {L"{RANDOM}", L"{TIME}", L"{TIME_US}", L"{PID}"};
    for (const wchar_t *spec : made) {
        SCOPED_TRACE(narrow(spec));
        expect_abnormal_end(run_probe({L"expand", spec, L"1"}));
    }
}

TEST_F(PathSpec, ALiteralThatWouldOverflowReturnsFalseInTheProbeToo)
{
    EXPECT_EQ(probe_expansion(L"{COMPANY}x", 12), (std::vector<std::string>{"0", "MOLTARN LLC"}));
    EXPECT_EQ(probe_expansion(L"{COMPANY}x", 13), (std::vector<std::string>{"1", "MOLTARN LLCx"}));
}

// ===========================================================================
// Expander: bad input of every length, never written past the buffer

struct Shape {
    const char *name;
    std::wstring value;  // what the placeholder adds
    size_t peak;         // units the value needs while it is made
    std::wstring tail;   // literal after the placeholder
    std::wstring placeholder;
};

// Specifications of every length from 0 to past the capacity: a run of
// literals, then a placeholder, then a short literal. The expansion is true
// exactly when every step fits with its NUL, its text is then the whole
// expansion, and otherwise the text made before the failing step.
void sweep(size_t capacity, size_t max_prefix, const std::vector<Shape> &shapes)
{
    for (const Shape &shape : shapes) {
        for (size_t prefix = 0; prefix <= max_prefix; prefix++) {
            std::wstring spec = std::wstring(prefix, L'a') + shape.placeholder + shape.tail;
            Expansion e = expand(spec, capacity);
            std::wstring whole = std::wstring(prefix, L'a') + shape.value + shape.tail;
            std::wstring expected;
            bool ok;
            if (prefix > capacity - 1) {
                ok = false;
                expected = std::wstring(capacity - 1, L'a');
            } else if (prefix + shape.peak > capacity - 1) {
                ok = false;
                expected = std::wstring(prefix, L'a');
            } else {
                ok = whole.size() <= capacity - 1;
                expected = ok ? whole : whole.substr(0, capacity - 1);
            }
            if (e.ok != ok || e.text != expected) {
                ADD_FAILURE() << shape.name << " with " << prefix << " literal units in " << capacity
                              << ": got " << e.ok << " and " << e.text.size() << " units, expected " << ok
                              << " and " << expected.size() << " units";
                return;
            }
        }
    }
}

TEST_F(PathSpec, SpecificationsOfEveryLengthStayInTheBuffer)
{
    const std::wstring program = own_program_path();
    const std::wstring base = program.substr(0, program.size() - 4);
    const std::wstring dir = program.substr(0, program.rfind(L'\\'));
    const std::vector<Shape> shapes = {
        {"literal", L"", 0, L"", L""},
        {"PROGRAM", program, program.size(), L"\\x", L"{PROGRAM}"},
        {"PROGRAM_BASE", base, program.size(), L"\\x", L"{PROGRAM_BASE}"},
        {"PROGRAM_DIR", dir, program.size(), L"", L"{PROGRAM_DIR}"},
        {"open placeholder", L"", 0, L"", L"{PROGRAM"},
    };
    sweep(PATH_CAPACITY, PATH_CAPACITY + 100, shapes);
    for (size_t capacity = 1; capacity <= 80; capacity++) sweep(capacity, capacity + 8, shapes);
    sweep(4097, 4200, shapes);

    // Literals after a value that fits take what is left of the capacity.
    for (size_t length = 0; length <= PATH_CAPACITY; length++) {
        Expansion e = expand(L"{PRODUCT}" + std::wstring(length, L'a'));
        bool ok = 5 + length <= PATH_CAPACITY - 1;
        ASSERT_EQ(e.ok, ok) << length;
        ASSERT_EQ(e.text, L"vexor" + std::wstring(ok ? length : PATH_CAPACITY - 6, L'a')) << length;
    }
}

TEST_F(PathSpec, FailingAndEmptyValuesOfEveryLengthStayInTheBuffer)
{
    const std::wstring temp = platform_temp_path();
    const std::wstring stripped = without_trailing_backslashes(temp);
    for (size_t capacity : {size_t(1), size_t(2), size_t(30), PATH_CAPACITY}) {
        for (size_t prefix = 0; prefix <= capacity + 100; prefix++) {
            std::wstring literal(prefix, L'a');
            bool literal_fits = prefix <= capacity - 1;
            std::wstring made = literal_fits ? literal : std::wstring(capacity - 1, L'a');

            // TEMP: true when the literals and the path fit with its NUL, and false
            // with the literals that fitted otherwise.
            Expansion e = expand(literal + L"{TEMP}", capacity);
            bool temp_fits = literal_fits && prefix + temp.size() + 1 <= capacity;
            ASSERT_EQ(e.ok, temp_fits) << "TEMP after " << prefix << " in " << capacity;
            ASSERT_EQ(e.text, temp_fits ? literal + stripped : made)
                << "TEMP after " << prefix << " in " << capacity;

            // An unknown key: always false, with the literals that fitted.
            e = expand(literal + L"{NOPE}", capacity);
            ASSERT_FALSE(e.ok) << "NOPE after " << prefix << " in " << capacity;
            ASSERT_EQ(e.text, made) << "NOPE after " << prefix << " in " << capacity;

            // A key as long as the literal run: collected up to 1023 units, never more.
            e = expand(L"{" + literal + L"}", capacity);
            ASSERT_FALSE(e.ok) << "key of " << prefix << " in " << capacity;
            ASSERT_EQ(e.text, L"");
        }
    }
}

// ===========================================================================
// Run-unique values

TEST_F(PathSpec, RandomRepeatsWithinARunAndIsPinned)
{
    Expansion e = expand(L"{RANDOM}-{RANDOM}");
    ASSERT_TRUE(e.ok);
    ASSERT_EQ(e.text.size(), 23u);
    const std::wstring token = e.text.substr(0, 11);
    EXPECT_EQ(e.text, token + L"-" + token);
    EXPECT_EQ(token.find_first_not_of(TOKEN_ALPHABET), std::wstring::npos) << narrow(token);
    EXPECT_NE(LAST_TOKEN_CHARACTERS.find(token[10]), std::wstring::npos) << narrow(token);

    EnvValue pin = read_env(RANDOM_PIN);
    EXPECT_TRUE(pin.set);
    EXPECT_EQ(pin.value, token);
    // A later expansion in the same process reads the pin back.
    EXPECT_EQ(expand(L"{random}").text, token);
}

TEST_F(PathSpec, TimeRepeatsWithinARunAndIsPinned)
{
    uint64_t before = file_time_now();
    Expansion e = expand(L"{TIME}{TIME}");
    uint64_t after = file_time_now();
    ASSERT_TRUE(e.ok);
    ASSERT_EQ(e.text.size() % 2, 0u);
    const std::wstring time = e.text.substr(0, e.text.size() / 2);
    EXPECT_EQ(e.text, time + time);
    ASSERT_TRUE(all_digits(time)) << narrow(time);
    EXPECT_NE(time[0], L'0');  // "%lld": no padding
    uint64_t t = _wcstoui64(time.c_str(), NULL, 10);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);

    EnvValue pin = read_env(START_PIN);
    EXPECT_TRUE(pin.set);
    EXPECT_EQ(pin.value, time);
    EXPECT_EQ(expand(L"{TIME}").text, time);
    // TIME_US reads the clock on its own and is pinned apart.
    EXPECT_FALSE(read_env(TIME_US_PIN).set);
}

TEST_F(PathSpec, TimeUsAlwaysHasSixDigits)
{
    // Made afresh until a value from the first tenth of a second has come,
    // which only the zero padding brings to 6 digits: at most a little over
    // a second of the clock.
    std::set<std::wstring> seen;
    bool padded = false;
    ULONGLONG start = GetTickCount64();
    while ((!padded || seen.size() < 2) && GetTickCount64() - start < 3000) {
        SetEnvironmentVariableW(TIME_US_PIN, NULL);
        Expansion e = expand(L"{TIME_US}");
        ASSERT_TRUE(e.ok);
        ASSERT_EQ(e.text.size(), 6u) << narrow(e.text);
        ASSERT_TRUE(all_digits(e.text)) << narrow(e.text);
        ASSERT_EQ(read_env(TIME_US_PIN).value, e.text);
        ASSERT_EQ(expand(L"{TIME_US}{TIME_US}").text, e.text + e.text);
        padded = padded || e.text[0] == L'0';
        seen.insert(e.text);
    }
    EXPECT_TRUE(padded) << "no microsecond value below 100000 in 3 seconds";
    // The clock moves: the value is the microseconds of the moment, not a constant.
    EXPECT_GT(seen.size(), 1u);
}

TEST_F(PathSpec, PidIsThisProcessAndIsNotPinnedHere)
{
    Expansion e = expand(L"{PID}");
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.text, std::to_wstring(GetCurrentProcessId()));
    EXPECT_FALSE(read_env(PARENT_PIN).set);
}

TEST_F(PathSpec, PinnedValuesAreUsedAsTheyAre)
{
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    const struct {
        const wchar_t *pin;
        std::wstring value;
        const wchar_t *spec;
        std::wstring expected;
    } cases[] = {
        {PARENT_PIN, L"0042", L"{PID}", L"0042"},  // leading zeros kept
        {PARENT_PIN, L"", L"{PID}", pid},          // empty reads as unset
        {RANDOM_PIN, L"not a token, any length at all", L"{RANDOM}", L"not a token, any length at all"},
        {RANDOM_PIN, L"x", L"{RANDOM}", L"x"},
        {START_PIN, L"12", L"{TIME}", L"12"},
        {START_PIN, L"soon", L"{TIME}", L"soon"},
        {TIME_US_PIN, L"7", L"{TIME_US}", L"7"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(narrow(c.pin) + "=" + narrow(c.value));
        SetEnvironmentVariableW(c.pin, c.value.c_str());
        Expansion e = expand(c.spec);
        EXPECT_TRUE(e.ok);
        EXPECT_EQ(e.text, c.expected);
        SetEnvironmentVariableW(c.pin, NULL);
    }
}

TEST_F(PathSpec, AnEmptyRandomPinIsReplacedByAFreshToken)
{
    SetEnvironmentVariableW(RANDOM_PIN, L"");
    Expansion e = expand(L"{RANDOM}");
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.text.size(), 11u);
    EXPECT_EQ(read_env(RANDOM_PIN).value, e.text);
}

TEST_F(PathSpec, AParentPinWithANonDigitEndsTheProcess)
{
    const wchar_t *const values[] = {L"12a", L"-42", L"4 2", L"0x10"};
    for (const wchar_t *value : values) {
        SCOPED_TRACE(narrow(value));
        expect_abnormal_end(run_probe({L"expand", L"{PID}", L"64"}, {{PARENT_PIN, value}}));
    }
    // The same probe with digits only uses them.
    EXPECT_EQ(probe_expansion(L"{PID}", 64, {{PARENT_PIN, L"0042"}}),
              (std::vector<std::string>{"1", "0042"}));
}

TEST_F(PathSpec, PrepareRunEnvironmentDropsThePinsAndPublishesItsOwnPid)
{
    const std::vector<std::pair<std::wstring, std::wstring>> inherited = {
        {PARENT_PIN, L"999999"}, {START_PIN, L"1"}, {TIME_US_PIN, L"000002"}, {RANDOM_PIN, L"inherited"}};
    RunResult r = run_probe({L"prepare"}, inherited);
    ASSERT_EQ(r.exit_code, 0u) << r.standard_error;
    const std::string pid = std::to_string(r.process_id);
    EXPECT_EQ(output_lines(r),
              (std::vector<std::string>{"ZOBREL_ONEFILE_PARENT=" + pid, "ZOBREL_ONEFILE_START unset",
                                        "ZOBREL_ONEFILE_TIME_US unset", "ZOBREL_ONEFILE_RANDOM unset", pid}));

    // A parent pin that is not even a number is replaced, not examined.
    r = run_probe({L"prepare"}, {{PARENT_PIN, L"12a"}});
    ASSERT_EQ(r.exit_code, 0u);
    ASSERT_FALSE(output_lines(r).empty());
    EXPECT_EQ(output_lines(r).back(), std::to_string(r.process_id));
}

// The token by the description: xorshift32 (13, 17, 5) eight times, the low
// byte of each step, the 64 bits read 6 at a time with two zero bits after.
std::wstring reference_token(uint32_t seed, std::vector<unsigned> *bytes = NULL)
{
    uint32_t s = seed == 0 ? 1 : seed;
    unsigned __int128 bits = 0;
    for (int i = 0; i < 8; i++) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        bits = (bits << 8) | (s & 0xFF);
        if (bytes) bytes->push_back(s & 0xFF);
    }
    bits <<= 2;  // 66 bits: 11 characters
    std::wstring token;
    for (int i = 0; i < 11; i++)
        token.push_back(TOKEN_ALPHABET[static_cast<unsigned>(bits >> (60 - 6 * i)) & 63]);
    return token;
}

std::wstring token_from_seed(uint32_t seed)
{
    wchar_t token[RANDOM_TOKEN_CAPACITY];
    random_token_from_seed(seed, token);
    return token;
}

TEST(RandomToken, TheWorkedExample)
{
    std::vector<unsigned> bytes;
    EXPECT_EQ(reference_token(1, &bytes), L"IQHFT9HQGrI");
    EXPECT_EQ(bytes, (std::vector<unsigned>{0x21, 0x01, 0xC5, 0x4F, 0xD1, 0xD0, 0x1A, 0xB2}));
    EXPECT_EQ(token_from_seed(1), L"IQHFT9HQGrI");
    // A seed that comes out as 0 counts as 1.
    EXPECT_EQ(token_from_seed(0), L"IQHFT9HQGrI");
}

TEST(RandomToken, EverySeedGivesTheReferenceTokenAndAnEleventhCharacterOfSixteen)
{
    std::set<wchar_t> last_characters;
    uint32_t seed = 0;
    for (int i = 0; i < 200000; i++) {
        std::wstring token = token_from_seed(seed);
        ASSERT_EQ(token, reference_token(seed)) << "seed " << seed;
        ASSERT_NE(LAST_TOKEN_CHARACTERS.find(token[10]), std::wstring::npos) << "seed " << seed;
        last_characters.insert(token[10]);
        seed = i < 100000 ? seed + 1 : seed * 2654435761u + 12345u;
    }
    EXPECT_EQ(last_characters.size(), 16u);  // all 16 occur
}

TEST(RandomToken, GeneratedTokensAreWellFormed)
{
    for (int i = 0; i < 1000; i++) {
        wchar_t token[RANDOM_TOKEN_CAPACITY];
        generate_random_token(token);
        std::wstring t = token;
        ASSERT_EQ(t.size(), 11u);
        ASSERT_EQ(t.find_first_not_of(TOKEN_ALPHABET), std::wstring::npos) << narrow(t);
        ASSERT_NE(LAST_TOKEN_CHARACTERS.find(t[10]), std::wstring::npos) << narrow(t);
    }
}

// ===========================================================================
// Environment variables

TEST_F(PathSpec, GetEnvVarReadsCopiesAndTreatsEmptyAsUnset)
{
    ScopedEnv value(L"ZOBREL_TEST_VALUE", L"some value \x00e9\x4e2d");
    ScopedEnv empty(L"ZOBREL_TEST_EMPTY", L"");
    ScopedEnv unset(L"ZOBREL_TEST_UNSET", NULL);

    wchar_t *first = get_env_var("ZOBREL_TEST_VALUE");
    wchar_t *second = get_env_var("ZOBREL_TEST_VALUE");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(first, L"some value \x00e9\x4e2d");
    EXPECT_STREQ(second, first);
    EXPECT_NE(first, second);  // two separate copies
    // A copy does not follow later changes.
    SetEnvironmentVariableW(L"ZOBREL_TEST_VALUE", L"changed");
    EXPECT_STREQ(first, L"some value \x00e9\x4e2d");
    free(first);
    free(second);

    EXPECT_EQ(get_env_var("ZOBREL_TEST_EMPTY"), nullptr);
    EXPECT_EQ(get_env_var("ZOBREL_TEST_UNSET"), nullptr);
}

TEST_F(PathSpec, SetAndUnsetEnvVar)
{
    ScopedEnv restore(L"ZOBREL_TEST_SET", NULL);
    EXPECT_TRUE(set_env_var("ZOBREL_TEST_SET", L"v1"));
    EXPECT_EQ(read_env(L"ZOBREL_TEST_SET").value, L"v1");
    EXPECT_TRUE(set_env_var("ZOBREL_TEST_SET", L"v2"));
    EXPECT_EQ(read_env(L"ZOBREL_TEST_SET").value, L"v2");
    // A value holds 32,766 units; a longer one is refused whole, and the
    // variable keeps what it had. (Wine would store its first 32,766 units
    // and report success; Windows refuses it itself.)
    const std::wstring longest(32766, L'v');
    EXPECT_TRUE(set_env_var("ZOBREL_TEST_SET", longest.c_str()));
    EXPECT_EQ(read_env(L"ZOBREL_TEST_SET").value, longest);
    EXPECT_TRUE(set_env_var("ZOBREL_TEST_SET", L"v2"));
    SetLastError(0);
    EXPECT_FALSE(set_env_var("ZOBREL_TEST_SET", (longest + L"w").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(read_env(L"ZOBREL_TEST_SET").value, L"v2");
    unset_env_var("ZOBREL_TEST_SET");
    EXPECT_FALSE(read_env(L"ZOBREL_TEST_SET").set);
    unset_env_var("ZOBREL_TEST_SET");  // removing an unset variable is harmless
    EXPECT_FALSE(read_env(L"ZOBREL_TEST_SET").set);
}

TEST_F(PathSpec, ANameOf39CharactersWorksAndOneOf40EndsTheProcess)
{
    const std::string name39 = "ZOBREL_TEST_" + std::string(27, 'N');
    const std::string name40 = name39 + "N";
    ASSERT_EQ(name39.size(), 39u);
    ScopedEnv restore(widen(name39).c_str(), L"thirty-nine");

    wchar_t *value = get_env_var(name39.c_str());
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, L"thirty-nine");
    free(value);
    set_env_var(name39.c_str(), L"again");
    EXPECT_EQ(read_env(widen(name39).c_str()).value, L"again");

    RunResult r = run_probe({L"getenv", widen(name39)}, {{widen(name39), L"abc"}});
    EXPECT_EQ(r.exit_code, 0u);
    EXPECT_EQ(r.standard_output, "3\r\n");
    expect_abnormal_end(run_probe({L"getenv", widen(name40)}, {{widen(name40), L"abc"}}));
}

// Long values travel in the environment block a process starts with: the
// platform's SetEnvironmentVariableW cannot make a value this long. Values
// longer than 32,768 units are left out: Wine counts their length in 16 bits
// and reports it wrapped around.
TEST_F(PathSpec, AValueOf32767UnitsIsReadWholeAndALongerOneIsNull)
{
    const struct {
        size_t length;
        const char *output;
    } cases[] = {
        {32766, "32766\r\n"},
        {32767, "32767\r\n"},
        {32768, "null\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.length);
        RunResult r = run_probe({L"getenv", L"ZOBREL_TEST_LONG"},
                                {{L"ZOBREL_TEST_LONG", std::wstring(c.length, L'v')}});
        EXPECT_EQ(r.exit_code, 0u) << r.standard_error;
        EXPECT_EQ(r.standard_output, c.output);
    }
}

// ===========================================================================
// Folders, narrow text, absolute and short paths

TEST_F(PathSpec, AppendKnownFolderAppendsThePlatformPath)
{
    wchar_t buffer[PATH_CAPACITY] = L"pre:";
    EXPECT_TRUE(append_known_folder(buffer, CSIDL_LOCAL_APPDATA, PATH_CAPACITY));
    EXPECT_EQ(std::wstring(buffer), L"pre:" + platform_folder(CSIDL_LOCAL_APPDATA));
}

TEST_F(PathSpec, AppendKnownFolderLeavesTheBufferAsItWasWhenTheFolderCannotBeHad)
{
    wchar_t folder[MAX_PATH];
    // The CD burning area is a folder Wine reports as missing.
    ASSERT_NE(SHGetFolderPathW(NULL, CSIDL_CDBURN_AREA, NULL, SHGFP_TYPE_CURRENT, folder), S_OK);
    const int missing[] = {CSIDL_CDBURN_AREA, 0x7FFF /* no such folder */};
    for (int id : missing) {
        SCOPED_TRACE(id);
        wchar_t buffer[16];
        wmemset(buffer, L'#', 16);
        wcscpy(buffer, L"keep");
        EXPECT_FALSE(append_known_folder(buffer, id, 16));
        EXPECT_EQ(std::wstring(buffer, 16), std::wstring(L"keep\0###########", 16));
    }
}

TEST_F(PathSpec, AppendNarrowStringWidensEachCharacter)
{
    wchar_t buffer[5] = L"ab";
    append_narrow_string(buffer, "cd", 5);  // exactly full
    EXPECT_STREQ(buffer, L"abcd");
    append_narrow_string(buffer, "", 5);
    EXPECT_STREQ(buffer, L"abcd");

    RunResult r = run_probe({L"narrow", L"cd", L"5"});
    EXPECT_EQ(r.standard_output, "abcd\r\n");
    expect_abnormal_end(run_probe({L"narrow", L"cde", L"5"}));
}

// The unpack directory stage: the build's specification expanded, then made
// absolute; a failed expansion names the specification as built, and the
// directory then holds the absolute form of what was expanded.
TEST_F(PathSpec, TheUnpackDirectoryIsTheAbsoluteExpansionOfTheTargetSpecification)
{
    std::wstring dir = make_scratch_dir(L"unpack-dir");
    ScopedCurrentDirectory cd(dir);
    const std::wstring local = without_trailing_backslashes(platform_folder(CSIDL_LOCAL_APPDATA));
    struct Case {
        const wchar_t *spec;
        FailureKind kind;
        std::wstring directory;
    } cases[] = {
        {L"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0", FAILURE_NONE, local + L"\\MOLTARN\\vexor\\0.2.0"},
        {L"rel\\{PRODUCT}\\..\\x", FAILURE_NONE, dir + L"\\rel\\x"},
        {L"rel\\{PRODUCT}\\{NOPE}\\x", FAILURE_EXPAND, dir + L"\\rel\\vexor\\"},
        {L"sub}", FAILURE_EXPAND, dir + L"\\sub"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.spec));
        std::unique_ptr<LaunchShared> launch(new LaunchShared());
        init_example_launch(launch.get(), L"pathspec_test");
        launch->build.target_spec = c.spec;
        StageResult result = choose_unpack_directory(launch.get());
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_EQ(result.detail, c.kind == FAILURE_NONE ? nullptr : c.spec);
        EXPECT_EQ(std::wstring(launch->unpack_directory), c.directory);
    }
    remove_tree(dir);
}

// Fixed arguments and environment values: the same keys, and {UNPACK_DIR}
// (the unpack directory as chosen, without its trailing backslashes); text
// of any length, whatever does not fit being "too long", never an abnormal
// end; syntax faults and unknown keys "not expanded".
TEST_F(PathSpec, CommandTextExpandsTheKeysAndTheUnpackDirectoryAndSaysWhenItDoesNotFit)
{
    std::unique_ptr<LaunchShared> launch(new LaunchShared());
    init_example_launch(launch.get(), L"pathspec_test");
    copy_wide(launch->unpack_directory, WIDE_PATH_CAPACITY, L"C:\\u\\unpacked\\");
    const std::wstring local = without_trailing_backslashes(platform_folder(CSIDL_LOCAL_APPDATA));
    struct Case {
        std::wstring text;
        CommandTextResult result;
        std::wstring expanded;  // when expanded
        size_t capacity;
    } cases[] = {
        {L"", COMMAND_TEXT_EXPANDED, L"", 1},
        {L"plain \"text\"", COMMAND_TEXT_EXPANDED, L"plain \"text\"", 64},
        {L"{UNPACK_DIR}\\lib", COMMAND_TEXT_EXPANDED, L"C:\\u\\unpacked\\lib", 64},
        {L"{unpack_dir}", COMMAND_TEXT_EXPANDED, L"C:\\u\\unpacked", 64},
        {L"--config={UNPACK_DIR}\\{product}.toml", COMMAND_TEXT_EXPANDED,
         L"--config=C:\\u\\unpacked\\vexor.toml", 64},
        {L"{CACHE_DIR}\\{COMPANY}", COMMAND_TEXT_EXPANDED, local + L"\\MOLTARN LLC", 4096},
        // Exactly at the capacity, and one unit past it.
        {L"ab{PRODUCT}", COMMAND_TEXT_EXPANDED, L"abvexor", 8},
        {L"ab{PRODUCT}", COMMAND_TEXT_TOO_LONG, L"", 7},
        {L"abcdefgh", COMMAND_TEXT_TOO_LONG, L"", 8},
        // Its trailing backslash goes before it is put in.
        {L"{UNPACK_DIR}", COMMAND_TEXT_TOO_LONG, L"", 13},
        {L"{UNPACK_DIR}", COMMAND_TEXT_EXPANDED, L"C:\\u\\unpacked", 14},
        {L"{NOPE}", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
        {L"a}b", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
        {L"{PRODUCT", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
        {L"{a{PRODUCT}", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
        {L"{" + std::wstring(40, L'K') + L"}", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
        // A variable of the launcher's environment, by any letter case of
        // the key and the name; unset, it gives nothing.
        {L"{UNPACK_DIR}\\bin;{ENV:zt_env_key}", COMMAND_TEXT_EXPANDED, L"C:\\u\\unpacked\\bin;v1;v2", 64},
        {L"<{env:ZT_ENV_UNSET}>", COMMAND_TEXT_EXPANDED, L"<>", 64},
        {L"<{ENV:" + std::wstring(40, L'K') + L"}>", COMMAND_TEXT_EXPANDED, L"<>", 64},
        {L"a{Env:ZT_ENV_KEY}", COMMAND_TEXT_EXPANDED, L"av1;v2", 7},
        {L"a{Env:ZT_ENV_KEY}", COMMAND_TEXT_TOO_LONG, L"", 6},
        {L"{ENV:}", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
        {L"{ENV:" + std::wstring(1024, L'K') + L"}", COMMAND_TEXT_NOT_EXPANDED, L"", 64},
    };
    ASSERT_TRUE(SetEnvironmentVariableW(L"ZT_ENV_KEY", L"v1;v2"));
    SetEnvironmentVariableW(L"ZT_ENV_UNSET", NULL);
    std::vector<wchar_t> key_value(COMMAND_LINE_CAPACITY);
    for (const Case &c : cases) {
        SCOPED_TRACE(narrow(c.text) + " in " + std::to_string(c.capacity));
        std::vector<wchar_t> output(c.capacity + GUARD_UNITS, SENTINEL);
        CommandTextResult result = expand_command_text(launch.get(), output.data(), c.capacity,
                                                       c.text.c_str(), key_value.data(), key_value.size());
        EXPECT_EQ(result, c.result);
        if (result == COMMAND_TEXT_EXPANDED) {
            EXPECT_EQ(std::wstring(output.data()), c.expanded);
        }
        for (size_t i = c.capacity; i < output.size(); i++) {
            ASSERT_EQ(output[i], SENTINEL) << "unit " << i << " past the capacity was written";
        }
    }
    SetEnvironmentVariableW(L"ZT_ENV_KEY", NULL);
    // A run value is the same one the unpack directory used.
    std::vector<wchar_t> first(64), second(64);
    ASSERT_EQ(
        expand_command_text(launch.get(), first.data(), 64, L"{RANDOM}", key_value.data(), key_value.size()),
        COMMAND_TEXT_EXPANDED);
    ASSERT_EQ(
        expand_command_text(launch.get(), second.data(), 64, L"{random}", key_value.data(), key_value.size()),
        COMMAND_TEXT_EXPANDED);
    EXPECT_EQ(std::wstring(first.data()), std::wstring(second.data()));
}

TEST_F(PathSpec, MakeFullPathResolvesAgainstTheCurrentDirectory)
{
    std::wstring dir = make_scratch_dir(L"full");
    ScopedCurrentDirectory cd(dir);
    const struct {
        std::wstring path;
        std::wstring expected;
    } cases[] = {
        {L"rel\\x.txt", dir + L"\\rel\\x.txt"},
        {L".", dir},
        {L"a\\..\\b", dir + L"\\b"},
        {L"C:\\one\\two", L"C:\\one\\two"},
        {L"C:\\one\\..\\two", L"C:\\two"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(narrow(c.path));
        wchar_t buffer[PATH_CAPACITY];
        wcscpy(buffer, c.path.c_str());
        make_full_path(buffer, PATH_CAPACITY);
        EXPECT_EQ(std::wstring(buffer), c.expected);
    }
    // At the limit: the absolute form fills the capacity but for its NUL.
    std::wstring exact = L"C:\\" + std::wstring(10, L'x');
    std::vector<wchar_t> buffer(exact.size() + 1);
    wcscpy(buffer.data(), exact.c_str());
    make_full_path(buffer.data(), exact.size() + 1);
    EXPECT_EQ(std::wstring(buffer.data()), exact);
    remove_tree(dir);
}

TEST_F(PathSpec, MakeFullPathEndsTheProcessOnAnEmptyOrOverlongPath)
{
    expect_abnormal_end(run_probe({L"full_path", L"", L"4096"}));
    const std::wstring exact = L"C:\\" + std::wstring(10, L'x');
    RunResult r = run_probe({L"full_path", exact, std::to_wstring(exact.size() + 1)});
    EXPECT_EQ(r.standard_output, narrow(exact) + "\r\n");
    expect_abnormal_end(run_probe({L"full_path", exact, std::to_wstring(exact.size())}));
    // A relative path whose absolute form is longer than the buffer.
    expect_abnormal_end(run_probe({L"full_path", L"abc", L"5"}));
}

TEST_F(PathSpec, ShortenDirectoryPartShortensAllButTheLastComponent)
{
    std::wstring scratch = make_scratch_dir(L"short");
    const std::wstring long_dir = scratch + L"\\A Long Directory Name";
    ASSERT_TRUE(CreateDirectoryW(long_dir.c_str(), NULL));
    write_file(long_dir + L"\\An Existing Long File.txt", "x");
    const std::wstring short_dir = platform_short_path(long_dir);
    ASSERT_NE(short_dir, long_dir) << "the platform has no short form to test with";
    {
        ScopedCurrentDirectory cd(scratch);

        const struct {
            std::wstring path;
            std::wstring expected;
        } cases[] = {
            {long_dir + L"\\A Missing Long File.txt", short_dir + L"\\A Missing Long File.txt"},
            // The last component stays long even when it exists.
            {long_dir + L"\\An Existing Long File.txt", short_dir + L"\\An Existing Long File.txt"},
            {long_dir + L"\\", short_dir + L"\\"},
            {long_dir + L"\\A Long Directory Name", short_dir + L"\\A Long Directory Name"},
            // A directory that does not exist: unchanged.
            {scratch + L"\\No Such Directory\\file name.txt",
             scratch + L"\\No Such Directory\\file name.txt"},
            // No backslash: the whole path is the directory part.
            {L"A Long Directory Name", platform_short_path(L"A Long Directory Name")},
            {L"No Such Thing At All", L"No Such Thing At All"},
            // The only backslash first: the empty directory part has no short form.
            {L"\\name", L"\\name"},
            {L"", L""},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(narrow(c.path));
            wchar_t buffer[PATH_CAPACITY];
            wcscpy(buffer, c.path.c_str());
            shorten_directory_part(buffer, PATH_CAPACITY);
            EXPECT_EQ(std::wstring(buffer), c.expected);
        }
        EXPECT_NE(platform_short_path(L"A Long Directory Name"), L"A Long Directory Name");
    }
    remove_tree(scratch);
}

}  // namespace
