// The record index through a real packed launcher: a warm start checks the
// files against it and never decodes (a copy whose frame is damaged still
// starts warm, and fails cold); anything out of place takes the stream
// unpack, which repairs it; an index that fails its own CRC-32 is not used;
// one that disagrees with the stream is damage.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>

#include "build_constants.h"
#include "packed_file.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

const DWORD APP_EXIT_CODE = 0x5EEDF00D;
const char DECODE_LINE[] = "Error, couldn't decode attached data.\r\n";
const wchar_t *const APP_FILES[] = {L"app.exe", L"data\\empty.dat", L"data\\text.txt"};

std::wstring app_dir()
{
    return widen(ZOBREL_INDEX_APP_DIR);
}

std::wstring unpacked(const std::wstring &temp, const std::wstring &name)
{
    return temp + L"\\zobrel-index\\" + name;
}

// Every file of the application, byte for byte, in the unpack folder.
void expect_whole_application(const std::wstring &temp)
{
    for (const wchar_t *name : APP_FILES) {
        EXPECT_TRUE(read_file(unpacked(temp, name)) == read_file(app_dir() + L"\\" + name)) << narrow(name);
    }
    const std::vector<FolderEntry> dlls = folder_entries(app_dir() + L"\\lib", L"*.dll");
    ASSERT_FALSE(dlls.empty());
    for (const FolderEntry &dll : dlls) {
        const std::wstring name = L"lib\\" + dll.name;
        EXPECT_TRUE(read_file(unpacked(temp, name)) == read_file(app_dir() + L"\\" + name)) << narrow(name);
    }
}

// The name of the first DLL the application carries.
std::wstring first_dll()
{
    const std::vector<FolderEntry> dlls = folder_entries(app_dir() + L"\\lib", L"*.dll");
    return dlls.empty() ? std::wstring() : L"lib\\" + dlls.front().name;
}

// A copy of the packed launcher, edited, in dir.
std::wstring edited_copy(const std::wstring &dir, const std::function<void(std::string &)> &edit)
{
    std::string image = read_file(test_program(L"index_onefile.exe"));
    edit(image);
    const std::wstring path = dir + L"\\edited.exe";
    write_file(path, image);
    return path;
}

TEST(RecordIndex, AWarmStartNeverDecodesTheFrame)
{
    const std::wstring scratch = make_scratch_dir(L"index-warm");
    const RemovedAtScopeEnd scratch_removed(scratch);
    // The frame's middle zeroed: decoding it cannot succeed.
    const std::wstring damaged = edited_copy(scratch, [](std::string &image) {
        const PackedSection payload = find_section(image, PAYLOAD_SECTION_NAME);
        for (size_t i = 0; i < 256; i++) image[payload.raw_offset + payload.virtual_size / 2 + i] = 0;
    });
    const std::wstring warm = scratch + L"\\warm", cold = scratch + L"\\cold";
    CreateDirectoryW(warm.c_str(), NULL);
    CreateDirectoryW(cold.c_str(), NULL);

    RunResult first = run_with_temp(test_program(L"index_onefile.exe"), warm);
    ASSERT_EQ(first.exit_code, APP_EXIT_CODE) << first.standard_output << first.standard_error;
    expect_whole_application(warm);

    RunResult again = run_with_temp(damaged, warm);
    EXPECT_EQ(again.exit_code, APP_EXIT_CODE) << again.standard_output << again.standard_error;
    EXPECT_EQ(again.standard_output, "");
    expect_whole_application(warm);

    RunResult from_nothing = run_with_temp(damaged, cold);
    EXPECT_EQ(from_nothing.exit_code, 2u);
    EXPECT_EQ(from_nothing.standard_output, DECODE_LINE);
}

TEST(RecordIndex, WhatTheCheckFindsOutOfPlaceTheStreamUnpackRepairs)
{
    struct Case {
        const char *what;
        std::function<void(const std::wstring &temp)> damage;
        std::function<void(std::string &)> edit;  // of the launcher, or none
    } cases[] = {
        {"a file changed, same size",
         [](const std::wstring &temp) {
             write_file(unpacked(temp, L"data\\text.txt"), std::string(32, 'x'));
         },
         nullptr},
        {"a file deleted", [](const std::wstring &temp) { DeleteFileW(unpacked(temp, first_dll()).c_str()); },
         nullptr},
        {"a file emptied", [](const std::wstring &temp) { write_file(unpacked(temp, first_dll()), ""); },
         nullptr},
        {"the main program grown by a byte",
         [](const std::wstring &temp) {
             write_file(unpacked(temp, L"app.exe"), read_file(unpacked(temp, L"app.exe")) + "!");
         },
         nullptr},
        // An index that fails its own CRC-32 is not used: the stream decides.
        {"a damaged index and a changed file",
         [](const std::wstring &temp) {
             write_file(unpacked(temp, L"data\\text.txt"), std::string(32, 'x'));
         },
         [](std::string &image) {
             std::vector<ConstantValue> values = constants_of(image);
             for (ConstantValue &v : values) {
                 if (v.key == CONSTANT_RECORD_INDEX) v.bytes[RECORD_INDEX_HEADER_SIZE + 3] ^= 0x20;
             }
             replace_constants(image, values);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring temp = make_scratch_dir(L"index-repair");
        const RemovedAtScopeEnd temp_removed(temp);
        std::wstring launcher = test_program(L"index_onefile.exe");
        if (c.edit) launcher = edited_copy(temp, c.edit);
        ASSERT_EQ(run_with_temp(test_program(L"index_onefile.exe"), temp).exit_code, APP_EXIT_CODE);
        c.damage(temp);
        RunResult r = run_with_temp(launcher, temp);
        EXPECT_EQ(r.exit_code, APP_EXIT_CODE) << r.standard_output << r.standard_error;
        EXPECT_EQ(r.standard_output, "");
        expect_whole_application(temp);
    }
}

TEST(RecordIndex, AnIndexThatDisagreesWithTheStreamIsDamage)
{
    struct Case {
        const char *what;
        std::function<void(std::vector<IndexEntry> &)> change;
    } cases[] = {
        {"another checksum", [](std::vector<IndexEntry> &e) { e[2].stored_checksum ^= 1; }},
        {"another size", [](std::vector<IndexEntry> &e) { e[1].size += 1; }},
        {"another name", [](std::vector<IndexEntry> &e) { e[1].name[0] ^= 0x20; }},
        {"a record more", [](std::vector<IndexEntry> &e) { e.push_back(e.back()), e.back().name += u"x"; }},
        {"a record less", [](std::vector<IndexEntry> &e) { e.pop_back(); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring temp = make_scratch_dir(L"index-disagree");
        const RemovedAtScopeEnd temp_removed(temp);
        const std::wstring launcher = edited_copy(temp, [&](std::string &image) {
            std::vector<IndexEntry> entries = index_of(image);
            ASSERT_GE(entries.size(), 4u);
            c.change(entries);
            replace_index(image, entries);
        });
        RunResult r = run_with_temp(launcher, temp);
        EXPECT_EQ(r.exit_code, 2u);
        EXPECT_EQ(r.standard_output, DECODE_LINE);
        EXPECT_EQ(r.standard_error, "");
    }
}

}  // namespace
