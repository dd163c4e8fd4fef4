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

const uint32_t SUBDIRECTORY = 0x80000000;

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
    // Every length in the tree is 16 bits: a larger node cannot be written.
    if (out.size() > 0xFFFF) {
        throw PackError("the version resource would be larger than the 64 KiB it can be; shorten the product "
                        "information (--company, --product, --description, --copyright)");
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
        put32(out, SUBDIRECTORY | static_cast<uint32_t>(next_type_dir));
        next_type_dir += directory_size + entry_size * type.second.size();
    }
    size_t next_language_dir = root_size + type_dirs_size;
    for (const auto &type : tree) {
        directory(type.second.size());
        for (const auto &name : type.second) {
            put32(out, name.first);
            put32(out, SUBDIRECTORY | static_cast<uint32_t>(next_language_dir));
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
    table.children = {text_value(u"CompanyName", info.company),
                      text_value(u"FileDescription", info.description.value_or(exe_name)),
                      text_value(u"FileVersion", info.file_version),
                      text_value(u"InternalName", info.product)};
    if (info.copyright) table.children.push_back(text_value(u"LegalCopyright", *info.copyright));
    table.children.push_back(text_value(u"OriginalFilename", exe_name));
    table.children.push_back(text_value(u"ProductName", info.product));
    table.children.push_back(text_value(u"ProductVersion", info.file_version));
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

IconGroup icon_group_of_file(const std::string &ico)
{
    IconGroup icon;
    if (ico.empty()) return icon;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(ico.data());
    const uint32_t count = read_le16(p + 4);
    put16(icon.directory, 0);  // reserved
    put16(icon.directory, 1);  // type: icon
    put16(icon.directory, static_cast<uint16_t>(count));
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char *e = p + 6 + 16 * i;
        const uint32_t size = read_le32(e + 8), offset = read_le32(e + 12);
        // The 12 bytes both directories share (sizes, colours, planes, bits,
        // length), then the image's resource id in place of its offset.
        icon.directory.append(reinterpret_cast<const char *>(e), 12);
        put16(icon.directory, static_cast<uint16_t>(i + 1));
        icon.images[i + 1] = ico.substr(offset, size);
    }
    return icon;
}

std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const IconGroup &icon,
                                  ExecutionLevel level)
{
    ResourceTree tree;
    tree[RESOURCE_MANIFEST][1] = make_manifest(level);
    tree[RESOURCE_VERSION][1] = make_version_resource(info);
    if (!icon.directory.empty()) {
        for (const auto &image : icon.images) tree[RESOURCE_ICON][image.first] = image.second;
        tree[RESOURCE_GROUP_ICON][1] = icon.directory;
    }
    return lay_out(section_rva, tree);
}

std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const std::string &ico,
                                  ExecutionLevel level)
{
    return make_resource_section(section_rva, info, icon_group_of_file(ico), level);
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
        if ((name & SUBDIRECTORY) == 0 && (any || name == id)) return read_le32(entry + 4);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> find_resource(const std::string &section, uint32_t section_rva, uint32_t type,
                                         uint32_t id)
{
    // Root -> type -> id -> language, each a subdirectory, the last a data entry.
    std::optional<uint32_t> next = directory_entry(section, 0, type, false);
    if (!next || !(*next & SUBDIRECTORY)) return std::nullopt;
    next = directory_entry(section, *next & ~SUBDIRECTORY, id, false);
    if (!next || !(*next & SUBDIRECTORY)) return std::nullopt;
    next = directory_entry(section, *next & ~SUBDIRECTORY, 0, true);
    if (!next || (*next & SUBDIRECTORY) || uint64_t{*next} + 16 > section.size()) return std::nullopt;
    const unsigned char *data_entry = reinterpret_cast<const unsigned char *>(section.data()) + *next;
    const uint32_t data_rva = read_le32(data_entry), size = read_le32(data_entry + 4);
    if (data_rva < section_rva || uint64_t{data_rva - section_rva} + size > section.size())
        return std::nullopt;
    return section.substr(data_rva - section_rva, size);
}

std::optional<ResourceSection> read_resource_section(const std::filesystem::path &exe)
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
    return ResourceSection{bytes.substr(start), image.resource_rva};
}

std::optional<std::string> read_manifest(const std::filesystem::path &exe)
{
    const std::optional<ResourceSection> section = read_resource_section(exe);
    if (!section) return std::nullopt;
    return find_resource(section->bytes, section->rva, RESOURCE_MANIFEST, 1);
}

namespace {

struct DirectoryEntry {
    uint32_t name;    // an id, or a name's offset with the high bit set
    uint32_t target;  // a subdirectory's offset with the high bit set, or a data entry's offset
};

// The entries of the resource directory at `at`, in their order in the file
// (named ones first, then ids, as the system enumerates them); none when the
// directory does not lie whole inside the section.
std::vector<DirectoryEntry> directory_entries(const std::string &section, uint64_t at)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(section.data());
    if (at + 16 > section.size()) return {};
    const uint64_t count = uint64_t{read_le16(p + at + 12)} + read_le16(p + at + 14);
    if (at + 16 + 8 * count > section.size()) return {};
    std::vector<DirectoryEntry> entries;
    for (uint64_t i = 0; i < count; ++i) {
        const unsigned char *entry = p + at + 16 + 8 * i;
        entries.push_back({read_le32(entry), read_le32(entry + 4)});
    }
    return entries;
}

// The subdirectory an entry leads to, or none.
std::vector<DirectoryEntry> subdirectory(const std::string &section, const DirectoryEntry &entry)
{
    if (!(entry.target & SUBDIRECTORY)) return {};
    return directory_entries(section, entry.target & ~SUBDIRECTORY);
}

// The data a language entry leads to, when it lies inside the section.
std::optional<std::string> entry_data(const std::string &section, uint32_t section_rva,
                                      const DirectoryEntry &language)
{
    if ((language.target & SUBDIRECTORY) || uint64_t{language.target} + 16 > section.size())
        return std::nullopt;
    const unsigned char *data_entry =
        reinterpret_cast<const unsigned char *>(section.data()) + language.target;
    const uint32_t data_rva = read_le32(data_entry), size = read_le32(data_entry + 4);
    if (data_rva < section_rva || uint64_t{data_rva - section_rva} + size > section.size())
        return std::nullopt;
    return section.substr(data_rva - section_rva, size);
}

// The data of the icon image with this id: in the group's language when
// there is one, else in its first.
std::optional<std::string> icon_image(const std::string &section, uint32_t section_rva,
                                      const std::vector<DirectoryEntry> &icons, uint32_t id,
                                      uint32_t language)
{
    for (const DirectoryEntry &entry : icons) {
        if (entry.name != id) continue;
        const std::vector<DirectoryEntry> languages = subdirectory(section, entry);
        if (languages.empty()) return std::nullopt;
        for (const DirectoryEntry &l : languages) {
            if (l.name == language) return entry_data(section, section_rva, l);
        }
        return entry_data(section, section_rva, languages.front());
    }
    return std::nullopt;
}

}  // namespace

namespace {

// One node of a version resource as read back: where its key's text, its
// value and its children lie, every offset inside the resource.
struct ReadNode {
    std::u16string key;
    size_t value_at = 0, children_at = 0, end = 0;
    uint16_t value_length = 0, type = 0;
};

size_t align4(size_t at)
{
    return (at + 3) / 4 * 4;
}

// The text at `at` up to its NUL or to `end`.
std::u16string text_at(const std::string &bytes, size_t at, size_t end)
{
    std::u16string text;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    for (; at + 2 <= end && read_le16(p + at) != 0; at += 2) text.push_back(read_le16(p + at));
    return text;
}

std::optional<ReadNode> read_node(const std::string &bytes, size_t at, size_t limit)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    if (at + 6 > limit) return std::nullopt;
    ReadNode node;
    const size_t length = read_le16(p + at);
    if (length < 6 || at + length > limit) return std::nullopt;
    node.end = at + length;
    node.value_length = read_le16(p + at + 2);
    node.type = read_le16(p + at + 4);
    node.key = text_at(bytes, at + 6, node.end);
    node.value_at = std::min(align4(at + 6 + 2 * (node.key.size() + 1)), node.end);
    const size_t value_bytes = node.type == 1 ? size_t{2} * node.value_length : node.value_length;
    node.children_at = std::min(align4(node.value_at + value_bytes), node.end);
    return node;
}

std::vector<ReadNode> children_of(const std::string &bytes, const ReadNode &node)
{
    std::vector<ReadNode> children;
    for (size_t at = node.children_at; at < node.end;) {
        std::optional<ReadNode> child = read_node(bytes, at, node.end);
        if (!child) break;
        children.push_back(*child);
        at = align4(child->end);
    }
    return children;
}

}  // namespace

std::map<std::u16string, std::u16string> version_strings(const std::string &resource)
{
    std::map<std::u16string, std::u16string> strings;
    const std::optional<ReadNode> root = read_node(resource, 0, resource.size());
    if (!root || root->key != u"VS_VERSION_INFO") return strings;
    for (const ReadNode &info : children_of(resource, *root)) {
        if (info.key != u"StringFileInfo") continue;
        const std::vector<ReadNode> tables = children_of(resource, info);
        if (tables.empty()) break;
        for (const ReadNode &string : children_of(resource, tables.front())) {
            strings[string.key] = text_at(resource, string.value_at, string.end);
        }
        break;
    }
    return strings;
}

std::optional<IconGroup> first_icon_group(const ResourceSection &resources, std::string *why)
{
    const std::string &section = resources.bytes;
    std::vector<DirectoryEntry> groups, icons;
    for (const DirectoryEntry &type : directory_entries(section, 0)) {
        if (type.name == RESOURCE_GROUP_ICON && groups.empty()) groups = subdirectory(section, type);
        if (type.name == RESOURCE_ICON && icons.empty()) icons = subdirectory(section, type);
    }
    if (groups.empty()) {
        *why = "has no icon";
        return std::nullopt;
    }
    // The first group, in its first language: the icon Explorer shows.
    const std::vector<DirectoryEntry> languages = subdirectory(section, groups.front());
    const std::optional<std::string> directory =
        languages.empty() ? std::nullopt : entry_data(section, resources.rva, languages.front());
    const unsigned char *d = directory ? reinterpret_cast<const unsigned char *>(directory->data()) : nullptr;
    if (!directory || directory->size() < 6 || read_le16(d) != 0 || read_le16(d + 2) != 1 ||
        read_le16(d + 4) == 0 || directory->size() < 6 + size_t{14} * read_le16(d + 4)) {
        *why = "has a damaged first icon group (a directory too short for its images)";
        return std::nullopt;
    }
    IconGroup icon;
    icon.directory = *directory;
    for (uint32_t i = 0; i < read_le16(d + 4); ++i) {
        const uint32_t id = read_le16(d + 6 + 14 * i + 12);
        std::optional<std::string> image =
            icon_image(section, resources.rva, icons, id, languages.front().name);
        if (!image) {
            *why =
                "has a first icon group that names an image (id " + std::to_string(id) + ") it does not hold";
            return std::nullopt;
        }
        icon.images[id] = *image;
    }
    return icon;
}

}  // namespace zobrel
