// resources.cpp: builds the resource section: manifest, version resource, icon.
#include "image/resources.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "image/pe_reader.h"
#include "little_endian.h"

namespace zobrel {
namespace {

const uint32_t kSubdirectory = 0x80000000;

void put16(std::string &out, uint16_t v)
{
    unsigned char b[2];
    write_le16(b, v);
    out.append(reinterpret_cast<const char *>(b), 2);
}

void put32(std::string &out, uint32_t v)
{
    unsigned char b[4];
    write_le32(b, v);
    out.append(reinterpret_cast<const char *>(b), 4);
}

void pad_to(std::string &out, size_t alignment)
{
    out.resize((out.size() + alignment - 1) / alignment * alignment, '\0');
}

void put_text(std::string &out, const std::u16string &text)
{
    for (char16_t c : text) put16(out, c);
    put16(out, 0);
}

// One node of a version resource: header (length, value length, type), key,
// padding, value, padding, children; every node starts on a 4-byte boundary.
struct VersionNode {
    std::u16string key;
    std::string value;
    uint16_t value_length;  // bytes for binary values, characters for text
    uint16_t type;          // 0 binary, 1 text
    std::vector<VersionNode> children;
};

std::string serialize(const VersionNode &node)
{
    std::string out;
    put16(out, 0);  // length, set below
    put16(out, node.value_length);
    put16(out, node.type);
    put_text(out, node.key);
    pad_to(out, 4);
    out += node.value;
    for (const VersionNode &child : node.children) {
        pad_to(out, 4);
        out += serialize(child);
    }
    write_le16(reinterpret_cast<unsigned char *>(&out[0]), static_cast<uint16_t>(out.size()));
    return out;
}

VersionNode text_value(const std::u16string &key, const std::u16string &text)
{
    std::string value;
    put_text(value, text);
    return VersionNode{key, value, static_cast<uint16_t>(text.size() + 1), 1, {}};
}

struct IconImage {
    std::string entry;  // the 12 bytes every directory entry shares: sizes, colours, planes, bits, length
    std::string data;
};

std::vector<IconImage> icon_images(const std::string &ico)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(ico.data());
    std::vector<IconImage> images;
    const uint32_t count = read_le16(p + 4);
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char *e = p + 6 + 16 * i;
        const uint32_t size = read_le32(e + 8), offset = read_le32(e + 12);
        images.push_back({std::string(reinterpret_cast<const char *>(e), 12), ico.substr(offset, size)});
    }
    return images;
}

// A resource tree: type -> id -> data, all in language 0.
using ResourceTree = std::map<uint32_t, std::map<uint32_t, std::string>>;

std::string lay_out(uint32_t section_rva, const ResourceTree &tree)
{
    // Directories first (root, one per type, one per name, one per language),
    // then the data entries, then the data, each at a multiple of 8.
    size_t names = 0;
    for (const auto &type : tree) names += type.second.size();
    const size_t directory_size = 16;
    const size_t entry_size = 8;
    const size_t root_size = directory_size + entry_size * tree.size();
    size_t type_dirs_size = 0;
    for (const auto &type : tree) type_dirs_size += directory_size + entry_size * type.second.size();
    const size_t language_dirs_size = names * (directory_size + entry_size);
    const size_t data_entries_at = root_size + type_dirs_size + language_dirs_size;
    size_t data_at = data_entries_at + 16 * names;
    data_at = (data_at + 7) / 8 * 8;

    std::string out;
    auto directory = [&](size_t entries) {
        put32(out, 0);  // characteristics
        put32(out, 0);  // time stamp: none, so the output is reproducible
        put16(out, 0);  // major version
        put16(out, 0);  // minor version
        put16(out, 0);  // named entries
        put16(out, static_cast<uint16_t>(entries));
    };
    directory(tree.size());
    size_t next_type_dir = root_size;
    for (const auto &type : tree) {
        put32(out, type.first);
        put32(out, kSubdirectory | static_cast<uint32_t>(next_type_dir));
        next_type_dir += directory_size + entry_size * type.second.size();
    }
    size_t next_language_dir = root_size + type_dirs_size;
    for (const auto &type : tree) {
        directory(type.second.size());
        for (const auto &name : type.second) {
            put32(out, name.first);
            put32(out, kSubdirectory | static_cast<uint32_t>(next_language_dir));
            next_language_dir += directory_size + entry_size;
        }
    }
    size_t next_data_entry = data_entries_at;
    for (const auto &type : tree) {
        for (size_t i = 0; i < type.second.size(); ++i) {
            directory(1);
            put32(out, 0);  // language 0
            put32(out, static_cast<uint32_t>(next_data_entry));
            next_data_entry += 16;
        }
    }
    std::string data;
    for (const auto &type : tree) {
        for (const auto &name : type.second) {
            put32(out, static_cast<uint32_t>(section_rva + data_at + data.size()));
            put32(out, static_cast<uint32_t>(name.second.size()));
            put32(out, 0);  // code page
            put32(out, 0);  // reserved
            data += name.second;
            pad_to(data, 8);
        }
    }
    pad_to(out, 8);
    out += data;
    return out;
}

}  // namespace

const char *execution_level_name(ExecutionLevel level)
{
    return level == ExecutionLevel::require_administrator ? "requireAdministrator" : "asInvoker";
}

std::string make_manifest(ExecutionLevel level)
{
    return R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level=")" +
           std::string(execution_level_name(level)) + R"(" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>
    </windowsSettings>
  </application>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
</assembly>
)";
}

std::string make_version_resource(const ProductInfo &info)
{
    const uint16_t *v = info.file_version_parts;
    const uint32_t version_ms = (uint32_t{v[0]} << 16) | v[1];
    const uint32_t version_ls = (uint32_t{v[2]} << 16) | v[3];
    std::string fixed;
    put32(fixed, 0xFEEF04BD);  // signature
    put32(fixed, 0x00010000);  // structure version 1.0
    put32(fixed, version_ms);  // file version
    put32(fixed, version_ls);
    put32(fixed, version_ms);  // product version: the same four numbers
    put32(fixed, version_ls);
    put32(fixed, 0);           // flags mask
    put32(fixed, 0);           // flags
    put32(fixed, 0x00040004);  // VOS_NT_WINDOWS32
    put32(fixed, 0x00000001);  // VFT_APP
    put32(fixed, 0);           // subtype
    put32(fixed, 0);           // date
    put32(fixed, 0);

    const std::u16string exe_name = info.product + u".exe";
    VersionNode table{u"000004B0", "", 0, 1, {}};
    table.children = {
        text_value(u"CompanyName", info.company),        text_value(u"FileDescription", exe_name),
        text_value(u"FileVersion", info.file_version),   text_value(u"InternalName", info.product),
        text_value(u"OriginalFilename", exe_name),       text_value(u"ProductName", info.product),
        text_value(u"ProductVersion", info.file_version)};
    std::string translation;
    put16(translation, 0x0000);  // language
    put16(translation, 1200);    // code page: UTF-16
    VersionNode root{u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), 0, {}};
    root.children = {
        VersionNode{u"StringFileInfo", "", 0, 1, {table}},
        VersionNode{u"VarFileInfo", "", 0, 1, {VersionNode{u"Translation", translation, 4, 0, {}}}}};
    return serialize(root);
}

std::string icon_problem(const std::string &ico)
{
    const unsigned char *data = reinterpret_cast<const unsigned char *>(ico.data());
    const size_t size = ico.size();
    if (size < 6 || read_le16(data) != 0 || read_le16(data + 2) != 1) {
        return "it does not start with an icon directory";
    }
    const uint32_t count = read_le16(data + 4);
    if (count == 0) return "it holds no images";
    const uint64_t table_end = 6 + uint64_t{16} * count;
    if (table_end > size) return "its directory is truncated";
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = 6 + size_t{16} * i;
        const uint64_t image_size = read_le32(data + e + 8), offset = read_le32(data + e + 12);
        if (image_size < 8 || offset < table_end || offset + image_size > size) {
            return "image " + std::to_string(i + 1) + " lies outside the file";
        }
        static const unsigned char png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
        const bool is_png = std::equal(png, png + 8, data + offset);
        if (!is_png && read_le32(data + offset) != 40) {
            return "image " + std::to_string(i + 1) + " is neither a PNG nor a bitmap";
        }
    }
    return "";
}

std::string icon_file_problem(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return "cannot read it";
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return "cannot read it";
    return icon_problem(bytes);
}

std::string manifest_execution_level(const std::string &manifest)
{
    const std::string element = "<requestedExecutionLevel";
    const size_t at = manifest.find(element);
    if (at == std::string::npos) return "";
    const size_t end = manifest.find('>', at);
    const size_t from = at + element.size();
    const std::string attributes = manifest.substr(from, end == std::string::npos ? end : end - from);
    for (const char quote : {'"', '\''}) {
        const std::string name = std::string(" level=") + quote;
        const size_t value = attributes.find(name);
        if (value == std::string::npos) continue;
        const size_t close = attributes.find(quote, value + name.size());
        if (close != std::string::npos)
            return attributes.substr(value + name.size(), close - value - name.size());
    }
    return "";
}

std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const std::string &ico,
                                  ExecutionLevel level)
{
    ResourceTree tree;
    tree[kResourceManifest][1] = make_manifest(level);
    tree[kResourceVersion][1] = make_version_resource(info);
    if (!ico.empty()) {
        std::vector<IconImage> images = icon_images(ico);
        std::string group;
        put16(group, 0);  // reserved
        put16(group, 1);  // type: icon
        put16(group, static_cast<uint16_t>(images.size()));
        for (size_t i = 0; i < images.size(); ++i) {
            tree[kResourceIcon][static_cast<uint32_t>(i + 1)] = images[i].data;
            group += images[i].entry;
            put16(group, static_cast<uint16_t>(i + 1));
        }
        tree[kResourceGroupIcon][1] = group;
    }
    return lay_out(section_rva, tree);
}

namespace {

// One entry of the resource directory at `at` in the section: the one with
// this id, or with any id when `any`; its offset field, or nullopt.
std::optional<uint32_t> directory_entry(const std::string &section, uint64_t at, uint32_t id, bool any)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(section.data());
    if (at + 16 > section.size()) return std::nullopt;
    const uint64_t entries = uint64_t{read_le16(p + at + 12)} + read_le16(p + at + 14);
    if (at + 16 + 8 * entries > section.size()) return std::nullopt;
    for (uint64_t i = 0; i < entries; ++i) {
        const unsigned char *entry = p + at + 16 + 8 * i;
        const uint32_t name = read_le32(entry);
        // Named entries (high bit set) come first; this looks for ids only.
        if ((name & kSubdirectory) == 0 && (any || name == id)) return read_le32(entry + 4);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> find_resource(const std::string &section, uint32_t section_rva, uint32_t type,
                                         uint32_t id)
{
    // Root -> type -> id -> language, each a subdirectory, the last a data entry.
    std::optional<uint32_t> next = directory_entry(section, 0, type, false);
    if (!next || !(*next & kSubdirectory)) return std::nullopt;
    next = directory_entry(section, *next & ~kSubdirectory, id, false);
    if (!next || !(*next & kSubdirectory)) return std::nullopt;
    next = directory_entry(section, *next & ~kSubdirectory, 0, true);
    if (!next || (*next & kSubdirectory) || uint64_t{*next} + 16 > section.size()) return std::nullopt;
    const unsigned char *data_entry = reinterpret_cast<const unsigned char *>(section.data()) + *next;
    const uint32_t data_rva = read_le32(data_entry), size = read_le32(data_entry + 4);
    if (data_rva < section_rva || uint64_t{data_rva - section_rva} + size > section.size())
        return std::nullopt;
    return section.substr(data_rva - section_rva, size);
}

std::optional<std::string> read_manifest(const std::filesystem::path &exe)
{
    PeImage image;
    const std::string why = read_pe_headers(exe, image);
    if (!why.empty()) throw PackError("'" + utf8_path(exe) + "' is not a Windows executable: " + why);
    const PeSection *section = image.resource_rva != 0 ? section_at(image, image.resource_rva) : nullptr;
    if (section == nullptr) return std::nullopt;
    const std::string bytes = read_mapped_section(exe, *section);
    // The directory starts where the data directory says, maybe not at the section's start.
    const uint32_t start = image.resource_rva - section->virtual_address;
    if (start >= bytes.size()) return std::nullopt;
    return find_resource(bytes.substr(start), image.resource_rva, kResourceManifest, 1);
}

}  // namespace zobrel
