// Names as Windows compares them: every pair of units the system itself
// takes for one is one class of the packer's rule; names every Windows
// keeps apart are packed and unpacked side by side, each with its own
// content; and a launcher whose archive (made by hand) holds two names the
// system takes for one file, a file and a folder of one name, or a name
// that could be another's short (8.3) name, refuses it before it writes
// anything.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "blob_builder.h"
#include "build_constants.h"
#include "name_fold.h"
#include "packed_file.h"
#include "payload_format.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;  // helpers/unpack_app.cpp
const char DECODE_LINE[] = "Error, couldn't decode attached data.\r\n";
// What verify says of each kind of clash.
const char *const CLASH_WORDS[] = {"which some Windows takes for one file", "cannot share a name", "twice",
                                   "short (8.3) name Windows gives"};

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
    const RemovedAtScopeEnd scratch_removed(scratch);
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
}

// A copy of a packed launcher (index_onefile.exe, unpacking under
// {TEMP}\zobrel-index) whose payload is an archive of these records made by
// the shared writer, with a record index of them or none; with
// `by_metadata`, its constants ask for the metadata check, so that its
// starts write the state file in the top folder.
std::wstring launcher_with(const std::wstring &dir, const std::vector<TestRecord> &records, bool with_index,
                           bool by_metadata = false)
{
    std::string image = read_file(test_program(L"index_onefile.exe"));
    if (by_metadata) {
        std::vector<ConstantValue> values = constants_of(image);
        for (ConstantValue &v : values) {
            if (v.key == CONSTANT_WARM_CHECK) v.bytes = std::string("\x01\0\0\0", 4);
        }
        replace_constants(image, values);
    }
    // Zeros after the length record keep the payload section its length,
    // so that the sections still follow one another as the loader needs
    // (verify only warns of a length record the launcher never reads).
    std::string blob = build_blob(records);
    blob.resize(std::max<size_t>(blob.size(), find_section(image, PAYLOAD_SECTION_NAME).virtual_size), '\0');
    replace_payload(image, blob);
    if (with_index) {
        std::vector<IndexEntry> entries;
        for (const TestRecord &r : records) {
            entries.push_back({std::u16string(r.name.begin(), r.name.end()), r.content.size(),
                               stored_checksum(crc32_of(r.content))});
        }
        replace_index(image, entries);
    } else {
        remove_index(image);
    }
    const std::wstring path = dir + L"\\hand-made.exe";
    write_file(path, image);
    return path;
}

RunResult verify(const std::wstring &launcher)
{
    RunOptions options;
    options.command_line =
        quote_argument(windows_path(ZOBREL_WINDOWS_PACK)) + L" verify " + quote_argument(launcher);
    return run_process(options);
}

// True when the folder holds nothing (it is made before its lock is taken,
// before anything is checked) or is not there.
bool holds_nothing(const std::wstring &folder)
{
    return folder_entries(folder).empty();
}

std::vector<TestRecord> with_main_program(std::vector<TestRecord> records)
{
    records.insert(records.begin(), TestRecord{L"app.exe", read_file(test_program(L"unpack_app.exe"))});
    return records;
}

// Whether the stream or the index tells the launcher, the clash is found
// before the first file (the main program, first in the archive) is
// written, and with many files before the clash too (as many as the launcher's
// constants section has room to index); and zobrel-pack.exe verify fails
// the same image.
TEST(NameClash, TheLauncherRefusesNamesTheSystemTakesForOneBeforeWritingAnything)
{
    std::vector<TestRecord> many;
    for (int i = 0; i < 80; i++)
        many.push_back({L"lib\\f" + std::to_wstring(i) + L".dat", std::to_string(i)});
    std::vector<TestRecord> late = many;
    late.push_back({L"lib\\\u0101.dat", "a"});
    late.push_back({L"zz.dat", "z"});
    late.push_back({L"LIB\\\u0100.DAT", "A"});
    struct Case {
        const char *what;
        std::vector<TestRecord> records;
    } cases[] = {
        {"two files", {{L"data\\\u0101.txt", "a"}, {L"DATA\\\u0100.TXT", "A"}}},
        {"the main program twice", {{L"APP.EXE", "not the program"}}},
        {"a file and a folder", {{L"data", "a file"}, {L"Data\\x.txt", "in a folder"}}},
        {"a folder and a file", {{L"data\\sub\\x.txt", "in a folder"}, {L"DATA\\SUB", "a file"}}},
        {"after eighty files", late},
        // Short names: Wine's for ABCDEFGHIJ.TXT, Windows' for a folder.
        {"a short name of a long one", {{L"data\\ABCDEFGHIJ.TXT", "long"}, {L"data\\ABCD~AUF.TXT", "short"}}},
        {"a folder's short name", {{L"LongFolderName\\a.txt", "a"}, {L"longfo~1\\b.txt", "b"}}},
    };
    for (const Case &c : cases) {
        for (bool with_index : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (with_index ? ", with an index" : ", without an index"));
            const std::wstring temp = make_scratch_dir(L"clash");
            const RemovedAtScopeEnd temp_removed(temp);
            const std::wstring launcher = launcher_with(temp, with_main_program(c.records), with_index);
            const RunResult verified = verify(launcher);
            EXPECT_EQ(verified.exit_code, 1u) << "zobrel-pack.exe verify agrees";
            EXPECT_TRUE(std::any_of(std::begin(CLASH_WORDS), std::end(CLASH_WORDS), [&](const char *words) {
                return verified.standard_error.find(words) != std::string::npos;
            })) << verified.standard_error;
            RunResult r = run_with_temp(launcher, temp);
            EXPECT_EQ(r.exit_code, 2u);
            EXPECT_EQ(r.standard_output, DECODE_LINE);
            EXPECT_EQ(r.standard_error, "");
            EXPECT_TRUE(holds_nothing(temp + L"\\zobrel-index")) << "something was written";
        }
    }
}

// The launcher's own files count among the names of the top folder, but
// only those the build writes: _ZOB~TAG is Wine's short name of
// .zobrel-state, which a build that checks by metadata writes beside it.
// zobrel-pack.exe verify says the same of the same image.
TEST(NameClash, AShortNameOfTheLaunchersOwnFileIsRefusedWhereTheBuildWritesIt)
{
    const std::vector<TestRecord> records = with_main_program({{L"_ZOB~TAG", "not the state"}});
    for (bool by_metadata : {true, false}) {
        SCOPED_TRACE(by_metadata ? "checked by metadata" : "checked by content");
        const std::wstring temp = make_scratch_dir(L"own");
        const RemovedAtScopeEnd temp_removed(temp);
        const std::wstring launcher = launcher_with(temp, records, true, by_metadata);
        RunResult verified = verify(launcher);
        RunResult r = run_with_temp(launcher, temp);
        if (by_metadata) {
            EXPECT_EQ(verified.exit_code, 1u) << verified.standard_error;
            EXPECT_NE(
                verified.standard_error.find("the record index lists '_ZOB~TAG': '_ZOB~TAG' could be the "
                                             "short (8.3) name Windows gives the launcher's own file "
                                             "'.zobrel-state' beside it"),
                std::string::npos)
                << verified.standard_error;
            EXPECT_EQ(r.exit_code, 2u);
            EXPECT_EQ(r.standard_output, DECODE_LINE);
            EXPECT_TRUE(holds_nothing(temp + L"\\zobrel-index")) << "something was written";
        } else {
            EXPECT_EQ(verified.exit_code, 0u) << verified.standard_error;
            EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
            EXPECT_EQ(read_file(temp + L"\\zobrel-index\\_ZOB~TAG"), "not the state");
        }
    }
}

// Names the system keeps apart, though some Windows might take them for one
// (which is why the packer refuses them): the launcher goes by the system it
// runs on, and unpacks both.
TEST(NameClash, NamesTheSystemKeepsApartAreUnpackedByTheLauncher)
{
    ASSERT_NE(system_order(L'k', 0x212A), 0) << "this system takes the Kelvin sign for k";
    const std::vector<TestRecord> records =
        with_main_program({{L"\u212A.txt", "Kelvin"}, {L"k.txt", "k"}, {L"stra\u00DFe.txt", "sharp s"}});
    for (bool with_index : {true, false}) {
        SCOPED_TRACE(with_index ? "with an index" : "without an index");
        const std::wstring temp = make_scratch_dir(L"apart");
        const RemovedAtScopeEnd temp_removed(temp);
        RunResult r = run_with_temp(launcher_with(temp, records, with_index), temp);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        for (const TestRecord &record : records) {
            EXPECT_EQ(read_file(temp + L"\\zobrel-index\\" + record.name), record.content)
                << narrow(record.name);
        }
    }
}

}  // namespace
