// pe_writer_test.cpp: the packed executable as the PE writer makes it, read
// back field by field: sections, sizes, checksum, resource tree, version
// resource, constants block. (The image test runs the result under Wine and
// reads its resources through the Windows API.)
#include <zlib.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/error.h"
#include "build_constants.h"
#include "image/packed_image.h"
#include "image/pe_reader.h"
#include "image/pe_writer.h"
#include "image/resources.h"
#include "little_endian.h"
#include "support.h"

namespace {

using zobrel::PeImage;
using zobrel::PeSection;

uint32_t u32(const std::string &s, size_t at)
{
    return read_le32(reinterpret_cast<const unsigned char *>(s.data()) + at);
}

uint16_t u16(const std::string &s, size_t at)
{
    return read_le16(reinterpret_cast<const unsigned char *>(s.data()) + at);
}

PeImage headers(const std::string &image)
{
    PeImage pe;
    EXPECT_EQ(
        zobrel::parse_pe_headers(reinterpret_cast<const unsigned char *>(image.data()), image.size(), pe),
        "");
    return pe;
}

const PeSection *section(const PeImage &pe, const std::string &name)
{
    for (const PeSection &s : pe.sections) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

uint32_t optional_field(const std::string &image, const PeImage &pe, size_t offset)
{
    return u32(image, pe.optional_header_offset + offset);
}

zobrel::ProductInfo sample_info()
{
    zobrel::ProductInfo info;
    info.target_spec = u"{CACHE_DIR}\\Caf\u00E9\\v";
    info.company = u"Caf\u00E9 \U0001F600";
    info.product = u"vexor";
    info.version = u"1.2-1.2.3.4";
    info.file_version = u"1.2.3.4";
    info.product_version = u"1.2";
    const uint16_t parts[4] = {1, 2, 3, 4};
    std::copy(parts, parts + 4, info.file_version_parts);
    return info;
}

// A one-image icon file holding a 16x16 bitmap.
std::string sample_icon()
{
    std::string bmp(40 + 16 * 16 * 4, '\x33');
    bmp.replace(0, 4, std::string("\x28\0\0\0", 4));
    std::string ico = std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0", 14);
    for (uint32_t v : {static_cast<uint32_t>(bmp.size()), 22u}) {
        for (int i = 0; i < 4; ++i) ico.push_back(static_cast<char>(v >> (8 * i)));
    }
    return ico + bmp;
}

const zobrel::LauncherSubsystem CONSOLE = zobrel::LauncherSubsystem::console;
const zobrel::ExecutionLevel AS_INVOKER = zobrel::ExecutionLevel::as_invoker;

TEST(PeChecksum, AgreesWithTheLinkersOwnChecksum)
{
    // Each prebuilt launcher carries the checksum its linker computed.
    for (zobrel::LauncherSubsystem subsystem : {CONSOLE, zobrel::LauncherSubsystem::windows}) {
        const std::string launcher = zobrel::embedded_launcher_image(subsystem);
        const PeImage pe = headers(launcher);
        const uint32_t stored = optional_field(launcher, pe, 64);
        ASSERT_NE(stored, 0u) << "the launcher was linked without a checksum";
        EXPECT_EQ(zobrel::pe_checksum(launcher, pe.optional_header_offset + 64), stored);
    }
    // An odd length counts its last byte as a word of its own.
    EXPECT_EQ(zobrel::pe_checksum(std::string("\x01\x02\x03", 3), 100), 0x0201u + 0x03u + 3u);
    EXPECT_EQ(zobrel::pe_checksum(std::string("\xFF\xFF\x01\x00", 4), 100), 0x0001u + 4u);  // carries fold in
}

TEST(PeWriter, AppendedSectionsAndEveryHeaderFieldAgree)
{
    const std::string launcher = zobrel::embedded_launcher_image(CONSOLE);
    const PeImage before = headers(launcher);
    const std::string blob = "QJY" + std::string(70001, 'b');
    OwnedBuildConstants constants = zobrel::product_constants(sample_info());
    constants.records = {{u"a.exe", 70001, 7}};
    const std::string image = zobrel::joined(zobrel::make_packed_image(
        launcher, blob, constants, sample_info(), zobrel::icon_group_of_file(sample_icon()), AS_INVOKER));
    const PeImage after = headers(image);

    ASSERT_EQ(after.sections.size(), before.sections.size() + 3);
    const uint32_t section_alignment = optional_field(image, after, 32);
    const uint32_t file_alignment = optional_field(image, after, 36);
    // The launcher's own sections are untouched, byte for byte.
    for (size_t i = 0; i < before.sections.size(); ++i) {
        const PeSection &s = before.sections[i];
        EXPECT_EQ(after.sections[i].raw_offset, s.raw_offset);
        EXPECT_EQ(image.substr(s.raw_offset, s.raw_size), launcher.substr(s.raw_offset, s.raw_size))
            << s.name;
    }
    // The new ones follow, aligned, in order, each holding its data exactly.
    uint64_t file_end = launcher.size(), image_end = 0;
    for (const PeSection &s : before.sections) {
        image_end = std::max<uint64_t>(image_end, s.virtual_address + std::max(s.virtual_size, s.raw_size));
    }
    const char *names[] = {".zobrel", ".zobinfo", ".rsrc"};
    for (size_t i = 0; i < 3; ++i) {
        const PeSection &s = after.sections[before.sections.size() + i];
        SCOPED_TRACE(s.name);
        EXPECT_EQ(s.name, names[i]);
        EXPECT_EQ(s.characteristics, zobrel::READ_ONLY_DATA_SECTION);
        EXPECT_GE(s.raw_offset, file_end);
        EXPECT_LT(s.raw_offset, file_end + 4096);
        EXPECT_EQ(s.raw_offset % 4096, 0u) << "page-aligned in the file, so it can be mapped as it is";
        EXPECT_EQ(s.raw_offset % file_alignment, 0u);
        EXPECT_EQ(s.raw_size % file_alignment, 0u);
        EXPECT_GE(s.raw_size, s.virtual_size);
        EXPECT_EQ(s.virtual_address % section_alignment, 0u);
        EXPECT_GE(s.virtual_address, image_end);
        file_end = s.raw_offset + s.raw_size;
        image_end = s.virtual_address + s.virtual_size;
    }
    EXPECT_EQ(image.size(), file_end) << "nothing after the last section";
    const PeSection &payload = *section(after, ".zobrel");
    EXPECT_EQ(payload.virtual_size, blob.size()) << "the payload section's VirtualSize is L";
    EXPECT_EQ(image.substr(payload.raw_offset, blob.size()), blob);

    // Sizes and directories.
    EXPECT_EQ(optional_field(image, after, 56),
              (image_end + section_alignment - 1) / section_alignment * section_alignment)
        << "SizeOfImage";
    uint32_t initialized = optional_field(launcher, before, 8);
    for (size_t i = before.sections.size(); i < after.sections.size(); ++i)
        initialized += after.sections[i].raw_size;
    EXPECT_EQ(optional_field(image, after, 8), initialized) << "SizeOfInitializedData";
    const PeSection &rsrc = *section(after, ".rsrc");
    EXPECT_EQ(optional_field(image, after, 112 + 8 * 2), rsrc.virtual_address);
    EXPECT_EQ(optional_field(image, after, 112 + 8 * 2 + 4), rsrc.virtual_size);
    EXPECT_EQ(u32(image, after.file_header_offset + 4), 0u) << "no timestamp";
    EXPECT_EQ(optional_field(image, after, 64),
              zobrel::pe_checksum(image, after.optional_header_offset + 64));

    // The constants block reads back, CRC and all.
    const PeSection &info = *section(after, ".zobinfo");
    ConstantsView view;
    const unsigned char *block = reinterpret_cast<const unsigned char *>(image.data()) + info.raw_offset;
    ASSERT_EQ(check_constants_block(block, info.virtual_size, &view), CONSTANTS_WHOLE);
    EXPECT_EQ(read_le32(block + 12), crc32(0, block + 16, view.total_size - 16));
    const std::u16string spec = u"{CACHE_DIR}\\Caf\u00E9\\v";
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(view.values[CONSTANT_TARGET_SPEC])),
              spec);  // (little-endian host)
}

TEST(PeWriter, ImagesItCannotExtendAreRefused)
{
    const std::string launcher = zobrel::embedded_launcher_image(CONSOLE);
    const PeImage pe = headers(launcher);
    std::string signed_image = launcher;
    write_le32(reinterpret_cast<unsigned char *>(&signed_image[pe.optional_header_offset + 112 + 8 * 4 + 4]),
               16);
    std::string pe32 = launcher;
    write_le16(reinterpret_cast<unsigned char *>(&pe32[pe.optional_header_offset]), 0x10B);
    struct Case {
        const char *what;
        std::string image;
        const char *message;
    } cases[] = {
        {"not PE", "hello", "not a PE file"},
        {"32-bit", pe32, "64-bit"},
        {"signed", signed_image, "signed"},
        {"trailing data", launcher + "overlay", "after its last section"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        try {
            zobrel::PeWriter writer(c.image);
            ADD_FAILURE() << "accepted";
        } catch (const zobrel::PackError &e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    // The headers have room for a handful of sections, then no more.
    zobrel::PeWriter writer(launcher);
    int appended = 0;
    try {
        for (; appended < 100; ++appended)
            writer.append_section(".x", "data", zobrel::READ_ONLY_DATA_SECTION);
    } catch (const zobrel::PackError &e) {
        EXPECT_NE(std::string(e.what()).find("no room"), std::string::npos) << e.what();
    }
    EXPECT_GE(appended, 3) << "a packed executable needs three";
    EXPECT_LT(appended, 100);
    EXPECT_THROW(zobrel::PeWriter(launcher).append_section(".toolong9", "x", 0), zobrel::PackError);
}

// A resource directory's entries: id -> offset (subdirectory flag kept).
std::map<uint32_t, uint32_t> resource_entries(const std::string &rsrc, uint32_t at)
{
    std::map<uint32_t, uint32_t> out;
    const uint16_t named = u16(rsrc, at + 12), ids = u16(rsrc, at + 14);
    EXPECT_EQ(named, 0);
    for (uint32_t i = 0; i < ids; ++i) out[u32(rsrc, at + 16 + 8 * i)] = u32(rsrc, at + 16 + 8 * i + 4);
    return out;
}

// The data of resource type/id, which the tree holds in language 0 alone,
// as the packer's own reader finds it.
std::string resource(const std::string &rsrc, uint32_t rva, uint32_t type, uint32_t id)
{
    auto types = resource_entries(rsrc, 0);
    if (!types.count(type)) return "(no type)";
    auto names = resource_entries(rsrc, types[type] & 0x7FFFFFFF);
    if (!names.count(id)) return "(no id)";
    auto languages = resource_entries(rsrc, names[id] & 0x7FFFFFFF);
    if (languages.size() != 1 || !languages.count(0)) return "(not language 0 alone)";
    EXPECT_EQ(languages[0] & 0x80000000, 0u) << "a leaf";
    return zobrel::find_resource(rsrc, rva, type, id).value_or("(not found by the reader)");
}

// The strings of a VS_VERSIONINFO's one string table.
std::map<std::u16string, std::u16string> version_strings(const std::string &v)
{
    std::map<std::u16string, std::u16string> out;
    auto key_at = [&](size_t at) {
        std::u16string key;
        for (size_t i = at + 6; u16(v, i) != 0; i += 2) key.push_back(u16(v, i));
        return key;
    };
    auto value_start = [&](size_t at, const std::u16string &key) {
        return (at + 6 + 2 * (key.size() + 1) + 3) / 4 * 4;
    };
    EXPECT_EQ(u16(v, 0), v.size());
    EXPECT_EQ(key_at(0), u"VS_VERSION_INFO");
    size_t at = value_start(0, u"VS_VERSION_INFO") + u16(v, 2);  // past VS_FIXEDFILEINFO
    at = (at + 3) / 4 * 4;
    EXPECT_EQ(key_at(at), u"StringFileInfo");
    size_t table = value_start(at, u"StringFileInfo");
    EXPECT_EQ(key_at(table), u"000004B0");
    const size_t table_end = table + u16(v, table);
    for (size_t s = value_start(table, u"000004B0"); s < table_end; s = (s + u16(v, s) + 3) / 4 * 4) {
        const std::u16string key = key_at(s);
        const size_t value = value_start(s, key);
        std::u16string text;
        for (size_t i = 0; i + 1 < u16(v, s + 2); ++i) text.push_back(u16(v, value + 2 * i));
        EXPECT_EQ(u16(v, value + 2 * text.size()), 0) << "value ends in its NUL";
        out[key] = text;
    }
    return out;
}

TEST(Resources, TreeHoldsManifestVersionAndIconInLanguageZero)
{
    const uint32_t rva = 0x45000;
    const std::string ico = sample_icon();
    const std::string rsrc = zobrel::make_resource_section(rva, sample_info(), ico, AS_INVOKER);
    EXPECT_EQ(resource(rsrc, rva, 24, 1), zobrel::make_manifest(AS_INVOKER));
    EXPECT_EQ(resource(rsrc, rva, 3, 1), ico.substr(22)) << "the icon's image";
    const std::string group = resource(rsrc, rva, 14, 1);
    ASSERT_EQ(group.size(), 6u + 14u);
    EXPECT_EQ(group.substr(0, 6), std::string("\0\0\1\0\1\0", 6));
    EXPECT_EQ(group.substr(6, 12), ico.substr(6, 12)) << "sizes, colours, planes, bits and length";
    EXPECT_EQ(u16(group, 18), 1) << "the image's id";
    EXPECT_EQ(resource_entries(zobrel::make_resource_section(rva, sample_info(), "", AS_INVOKER), 0).size(),
              2u)
        << "no icon, no icon types";

    const std::string version = resource(rsrc, rva, 16, 1);
    const size_t fixed = (6 + 2 * 16 + 3) / 4 * 4;
    EXPECT_EQ(u32(version, fixed), 0xFEEF04BDu);
    EXPECT_EQ(u32(version, fixed + 8), 0x00010002u) << "file version 1.2";
    EXPECT_EQ(u32(version, fixed + 12), 0x00030004u) << "file version .3.4";
    EXPECT_EQ(u32(version, fixed + 16), 0x00010002u) << "product version 1.2";
    EXPECT_EQ(u32(version, fixed + 20), 0x00030004u);
    EXPECT_EQ(u32(version, fixed + 32), 0x00040004u) << "VOS_NT_WINDOWS32";
    EXPECT_EQ(u32(version, fixed + 36), 1u) << "VFT_APP";
    const std::map<std::u16string, std::u16string> expected = {{u"CompanyName", u"Caf\u00E9 \U0001F600"},
                                                               {u"FileDescription", u"vexor.exe"},
                                                               {u"FileVersion", u"1.2.3.4"},
                                                               {u"InternalName", u"vexor"},
                                                               {u"OriginalFilename", u"vexor.exe"},
                                                               {u"ProductName", u"vexor"},
                                                               {u"ProductVersion", u"1.2.3.4"}};
    EXPECT_EQ(version_strings(version), expected);
    const std::string translation = std::string("\0\0\xB0\x04", 4);
    EXPECT_EQ(version.substr(version.size() - 4), translation) << "language 0, code page 1200";
}

TEST(Resources, ManifestAsksForTheExecutionLevelAndReadsBack)
{
    const uint32_t rva = 0x45000;
    const struct {
        zobrel::ExecutionLevel level;
        const char *name;
    } cases[] = {{AS_INVOKER, "asInvoker"},
                 {zobrel::ExecutionLevel::require_administrator, "requireAdministrator"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string manifest = zobrel::make_manifest(c.level);
        EXPECT_EQ(zobrel::manifest_execution_level(manifest), c.name);
        EXPECT_NE(manifest.find(std::string("<requestedExecutionLevel level=\"") + c.name +
                                "\" uiAccess=\"false\"/>"),
                  std::string::npos)
            << manifest;
        const std::string rsrc = zobrel::make_resource_section(rva, sample_info(), sample_icon(), c.level);
        EXPECT_EQ(zobrel::find_resource(rsrc, rva, 24, 1), manifest);
    }
    EXPECT_EQ(zobrel::manifest_execution_level("<assembly/>"), "");
    EXPECT_EQ(zobrel::manifest_execution_level(
                  "<requestedExecutionLevel uiAccess='false' level='highestAvailable'/>"),
              "highestAvailable");
}

TEST(Resources, ReaderOfADamagedTreeFindsNothingOutsideIt)
{
    const uint32_t rva = 0x45000;
    const std::string rsrc = zobrel::make_resource_section(rva, sample_info(), sample_icon(), AS_INVOKER);
    const std::string manifest = zobrel::make_manifest(AS_INVOKER);
    EXPECT_EQ(zobrel::find_resource(rsrc, rva, 24, 2), std::nullopt) << "no such id";
    EXPECT_EQ(zobrel::find_resource(rsrc, rva, 99, 1), std::nullopt) << "no such type";
    // Mapped past every address its entries name: all of its data would lie before it.
    EXPECT_EQ(zobrel::find_resource(rsrc, rva + static_cast<uint32_t>(rsrc.size()), 24, 1), std::nullopt)
        << "data before the section";
    // Cut anywhere before the manifest's last byte: never found, never read past the end.
    const size_t manifest_end = rsrc.find(manifest) + manifest.size();
    for (size_t cut = 0; cut < manifest_end; cut += 7) {
        EXPECT_EQ(zobrel::find_resource(rsrc.substr(0, cut), rva, 24, 1), std::nullopt) << "cut at " << cut;
    }
    // Any one byte before the manifest changed: whatever is found is bytes of
    // the section, never beyond it.
    for (size_t at = 0; at < rsrc.find(manifest); ++at) {
        std::string damaged = rsrc;
        damaged[at] = static_cast<char>(damaged[at] ^ 0xA5);
        const std::optional<std::string> found = zobrel::find_resource(damaged, rva, 24, 1);
        if (found) {
            EXPECT_NE(damaged.find(*found), std::string::npos) << "byte " << at;
        }
    }
}

}  // namespace
