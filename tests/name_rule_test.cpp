// Names as Windows compares them: every pair of units the system itself
// takes for one is one class of the packer's rule, and names every Windows
// keeps apart are packed and unpacked side by side, each with its own content.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "name_fold.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp

int system_order(wchar_t a, wchar_t b)
{
    return CompareStringOrdinal(&a, 1, &b, 1, TRUE) - CSTR_EQUAL;
}

// All 65,536 units sorted by the system's own ignore-case comparison: units
// it finds equal end up next to each other, so every pair it takes for one
// name is seen. (Under Wine this is Wine's table; on Windows, the version's.)
TEST(NameRule, EveryPairOfUnitsTheSystemTakesForOneIsOneClass)
{
    std::vector<wchar_t> units(65536);
    for (size_t i = 0; i < units.size(); i++) units[i] = static_cast<wchar_t>(i);
    std::sort(units.begin(), units.end(), [](wchar_t a, wchar_t b) { return system_order(a, b) < 0; });
    int equal_pairs = 0, apart = 0;
    for (size_t i = 1; i < units.size(); i++) {
        if (system_order(units[i - 1], units[i]) != 0) continue;
        ++equal_pairs;
        if (name_fold_unit(units[i - 1]) != name_fold_unit(units[i])) {
            ++apart;
            ADD_FAILURE() << std::hex << "U+" << unsigned(units[i - 1]) << " and U+" << unsigned(units[i])
                          << " are one name to the system but two classes of the rule";
        }
    }
    EXPECT_GT(equal_pairs, 1000);  // the system's table is really there
    EXPECT_EQ(apart, 0);
}

std::wstring windows_path(const char *unix_style)
{
    std::wstring path = widen(unix_style);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// Pairs Windows keeps apart (and a folder two names share), packed by
// zobrel-pack.exe and unpacked by the launcher: every file holds its own
// content afterwards.
TEST(NameRule, NamesWindowsKeepsApartAreUnpackedSideBySide)
{
    const std::vector<std::wstring> names = {
        L"stra\u00DFe.txt", L"strasse.txt",     // sharp s and ss
        L"caf\u00E9.txt",   L"cafe\u0301.txt",  // composed and decomposed
        L"\U00010400.txt",  L"\U00010428.txt",  // Deseret, outside the BMP
        L"Dir\\one.txt",    L"dIR\\two.txt",    // one folder
        L"\uFB00.txt",      L"ff.txt",          // a ligature and its letters
    };
    const std::wstring scratch = make_scratch_dir(L"names");
    const std::wstring app = scratch + L"\\app";
    write_file(app + L"\\app.exe", read_file(test_program(L"unpack_app.exe")));
    for (size_t i = 0; i < names.size(); i++) {
        write_file(app + L"\\" + names[i], "content of name " + std::to_string(i) + "\r\n");
    }
    const std::wstring out = scratch + L"\\names.exe";
    RunOptions pack;
    pack.command_line = quote_argument(windows_path(ZOBREL_WINDOWS_PACK)) + L" build " + quote_argument(app) +
                        L" --main app.exe -o " + quote_argument(out) +
                        L" --target-spec {TEMP}\\zobrel-names --level 3 --quiet";
    RunResult packed = run_process(pack);
    ASSERT_EQ(packed.exit_code, 0u) << packed.standard_error;

    RunOptions start;
    start.command_line = quote_argument(out);
    start.set_env = {{L"TMP", scratch}, {L"TEMP", scratch}};
    RunResult ran = run_process(start);
    EXPECT_EQ(ran.exit_code, APP_EXIT_CODE) << ran.standard_output << ran.standard_error;
    for (size_t i = 0; i < names.size(); i++) {
        EXPECT_EQ(read_file(scratch + L"\\zobrel-names\\" + names[i]),
                  "content of name " + std::to_string(i) + "\r\n")
            << narrow(names[i]);
    }
    remove_tree(scratch);
}

}  // namespace
