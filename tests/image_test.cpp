// What a packed launcher image carries besides its code: the manifest, the
// version resource, the PE properties and the payload section.
#include <gtest/gtest.h>

#include <windows.h>
#include <imagehlp.h>

#include <set>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_paths.h"

namespace {

std::wstring image_path()
{
    return test_program(L"image_vexor.exe");
}

std::wstring version_string(const std::vector<char> &info, const wchar_t *name)
{
    std::wstring key = std::wstring(L"\\StringFileInfo\\000004B0\\") + name;
    wchar_t *value = NULL;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void **>(&value), &length)) {
        return L"(missing)";
    }
    return std::wstring(value, length > 0 ? length - 1 : 0);
}

TEST(Image, VersionResourceHoldsTheProductInformation)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(image_path().c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(image_path().c_str(), 0, size, info.data()));

    WORD *translation = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0000);
    EXPECT_EQ(translation[1], 0x04B0);

    const std::pair<const wchar_t *, const wchar_t *> expected[] = {
        {L"CompanyName", L"MOLTARN LLC"},    {L"ProductName", L"vexor"},         {L"InternalName", L"vexor"},
        {L"OriginalFilename", L"vexor.exe"}, {L"FileDescription", L"vexor.exe"}, {L"FileVersion", L"0.2.0.0"},
        {L"ProductVersion", L"0.2.0.0"},
    };
    for (const auto &e : expected) {
        EXPECT_EQ(version_string(info, e.first), e.second) << narrow(e.first);
    }

    VS_FIXEDFILEINFO *fixed = NULL;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00000002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00000002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
}

TEST(Image, ManifestAsksForLongPathsAndNoElevation)
{
    HMODULE module =
        LoadLibraryExW(image_path().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /* RT_MANIFEST */);
    ASSERT_NE(resource, nullptr);
    HGLOBAL loaded = LoadResource(module, resource);
    std::string manifest(static_cast<const char *>(LockResource(loaded)), SizeofResource(module, resource));
    FreeLibrary(module);

    const char *fragments[] = {
        ">true</longPathAware>",
        "level=\"asInvoker\"",
        "uiAccess=\"false\"",
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
        "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"",
    };
    for (const char *f : fragments) {
        EXPECT_NE(manifest.find(f), std::string::npos) << f << "\nin:\n" << manifest;
    }
}

TEST(Image, IconGroupHoldsAnIconTheSystemCanLoad)
{
    HMODULE module =
        LoadLibraryExW(image_path().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    const BYTE *directory = static_cast<const BYTE *>(LockResource(LoadResource(module, group)));
    ASSERT_EQ(SizeofResource(module, group), 6u + 14u);
    EXPECT_EQ(directory[4], 1) << "one image";
    int id = LookupIconIdFromDirectoryEx(const_cast<BYTE *>(directory), TRUE, 16, 16, LR_DEFAULTCOLOR);
    ASSERT_EQ(id, 1);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), RT_ICON);
    ASSERT_NE(image, nullptr);
    HICON icon =
        CreateIconFromResourceEx(static_cast<BYTE *>(LockResource(LoadResource(module, image))),
                                 SizeofResource(module, image), TRUE, 0x00030000, 16, 16, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon != NULL) DestroyIcon(icon);
    FreeLibrary(module);
}

TEST(Image, HeaderChecksumIsTheOneTheSystemComputes)
{
    DWORD stored = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(image_path().c_str(), &stored, &computed), CHECKSUM_SUCCESS);
    EXPECT_NE(stored, 0u);
    EXPECT_EQ(stored, computed);
}

// RVA to file offset through the section table.
size_t file_offset(const std::string &image, const IMAGE_NT_HEADERS64 *nt, DWORD rva)
{
    const IMAGE_SECTION_HEADER *s = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, s++) {
        if (rva >= s->VirtualAddress && rva < s->VirtualAddress + s->SizeOfRawData) {
            return rva - s->VirtualAddress + s->PointerToRawData;
        }
    }
    return image.size();
}

TEST(Image, SixtyFourBitConsoleProgramImportingSystemLibrariesOnly)
{
    std::string image = read_file(image_path());
    ASSERT_GT(image.size(), 4096u);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(image.data());
    ASSERT_EQ(dos->e_magic, IMAGE_DOS_SIGNATURE);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(image.data() + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
    EXPECT_EQ(nt->FileHeader.TimeDateStamp, 0u);
    EXPECT_EQ(nt->OptionalHeader.SizeOfStackReserve, 1048576u);

    const std::set<std::string> system_libraries = {"KERNEL32.dll", "msvcrt.dll", "SHELL32.dll",
                                                    "ADVAPI32.dll", "USER32.dll"};
    DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    size_t offset = file_offset(image, nt, imports);
    ASSERT_LT(offset, image.size());
    int count = 0;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(image.data() + offset); d->Name != 0;
         d++) {
        std::string name = image.c_str() + file_offset(image, nt, d->Name);
        EXPECT_TRUE(system_libraries.count(name)) << "imports " << name;
        count++;
    }
    EXPECT_GT(count, 0);

    // The payload has a section of its own, starting with its header.
    const IMAGE_SECTION_HEADER *s = IMAGE_FIRST_SECTION(nt);
    bool found = false;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, s++) {
        if (std::string(reinterpret_cast<const char *>(s->Name), 7) == ".zobrel") {
            found = true;
            EXPECT_EQ(image.substr(s->PointerToRawData, 3), "QJY");
            EXPECT_EQ(s->Characteristics & IMAGE_SCN_MEM_WRITE, 0u);
        }
    }
    EXPECT_TRUE(found);
}

// A resource of a module loaded as data, as bytes; "" when there is none.
std::string resource_bytes(HMODULE module, LPCWSTR name, LPCWSTR type)
{
    HRSRC found = FindResourceW(module, name, type);
    if (found == NULL) return "";
    return std::string(static_cast<const char *>(LockResource(LoadResource(module, found))),
                       SizeofResource(module, found));
}

BOOL CALLBACK take_first_name(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR into)
{
    auto first = reinterpret_cast<std::wstring *>(into);
    *first = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name;
    return FALSE;  // the first is enough
}

// Wine's notepad.exe packed with ICON_FROM_MAIN, DESCRIPTION and COPYRIGHT:
// the icon group the system enumerates first for notepad.exe (the one
// Explorer shows) is the packed file's icon, its directory and every image
// byte for byte; the texts are what the version resource gives.
TEST(Image, PackedWithTheMainProgramsLooks)
{
    const std::wstring packed = test_program(L"image_icon_from_main.exe");
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(packed.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(packed.c_str(), 0, size, info.data()));
    EXPECT_EQ(version_string(info, L"FileDescription"), L"Notepad, packed \u2603");
    EXPECT_EQ(version_string(info, L"LegalCopyright"), L"\u00a9 2026 MOLTARN LLC");
    EXPECT_EQ(version_string(info, L"OriginalFilename"), L"notepad.exe");

    const std::wstring main_path = widen(ZOBREL_WINE_NOTEPAD);
    const DWORD as_data = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    HMODULE main = LoadLibraryExW(main_path.c_str(), NULL, as_data);
    HMODULE module = LoadLibraryExW(packed.c_str(), NULL, as_data);
    ASSERT_NE(main, nullptr);
    ASSERT_NE(module, nullptr);
    std::wstring first;
    EnumResourceNamesW(main, RT_GROUP_ICON, take_first_name, reinterpret_cast<LONG_PTR>(&first));
    ASSERT_FALSE(first.empty()) << "notepad.exe has no icon group";
    const std::string group = resource_bytes(main, first.c_str(), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u + 14u);
    EXPECT_TRUE(resource_bytes(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON) == group)
        << "the group's directory";
    const BYTE *directory = reinterpret_cast<const BYTE *>(group.data());
    const WORD count = *reinterpret_cast<const WORD *>(directory + 4);
    for (WORD i = 0; i < count; i++) {
        const WORD id = *reinterpret_cast<const WORD *>(directory + 6 + 14 * i + 12);
        const std::string image = resource_bytes(main, MAKEINTRESOURCEW(id), RT_ICON);
        EXPECT_FALSE(image.empty()) << "image " << id;
        EXPECT_TRUE(resource_bytes(module, MAKEINTRESOURCEW(id), RT_ICON) == image) << "image " << id;
    }
    // And the system makes an icon of it.
    std::string packed_group = resource_bytes(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    const int id = LookupIconIdFromDirectoryEx(reinterpret_cast<BYTE *>(&packed_group[0]), TRUE, 32, 32,
                                               LR_DEFAULTCOLOR);
    std::string image = resource_bytes(module, MAKEINTRESOURCEW(id), RT_ICON);
    ASSERT_FALSE(image.empty());
    HICON icon =
        CreateIconFromResourceEx(reinterpret_cast<BYTE *>(&image[0]), static_cast<DWORD>(image.size()), TRUE,
                                 0x00030000, 32, 32, LR_DEFAULTCOLOR);
    EXPECT_NE(icon, nullptr);
    if (icon != NULL) DestroyIcon(icon);
    FreeLibrary(module);
    FreeLibrary(main);
}

}  // namespace
