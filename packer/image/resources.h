// resources.h: the resource section of a packed executable: the application
// manifest, the version resource and, when given, the icon.
#ifndef ZOBREL_PACKER_IMAGE_RESOURCES_H
#define ZOBREL_PACKER_IMAGE_RESOURCES_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "image/product_info.h"

namespace zobrel {

// The rights the manifest asks for the program when it starts.
enum class ExecutionLevel {
    as_invoker,             // the starting user's own (the default)
    require_administrator,  // an administrator's: the system asks for consent first (--uac-admin)
};

// The manifest's name for the level: "asInvoker", "requireAdministrator".
const char *execution_level_name(ExecutionLevel level);

// The application manifest: the execution level, long-path aware,
// Vista..10, common controls 6.
std::string make_manifest(ExecutionLevel level);

// The requestedExecutionLevel's level in a manifest's text, or "" when it
// names none.
std::string manifest_execution_level(const std::string &manifest);

// The version resource (VS_VERSIONINFO) for the product: fixed file and
// product versions from the file version's four numbers; one string table
// for language 0 and code page 1200 with CompanyName, FileDescription,
// FileVersion, InternalName, OriginalFilename, ProductName, ProductVersion;
// the translation 0/1200.
std::string make_version_resource(const ProductInfo &info);

// Why the bytes of an .ico file are not a usable icon, or "" when they are.
std::string icon_problem(const std::string &ico);

// Why file is not a usable .ico, or "" when it is.
std::string icon_file_problem(const std::filesystem::path &file);

// Resource types this section holds.
const uint32_t RESOURCE_ICON = 3;
const uint32_t RESOURCE_GROUP_ICON = 14;
const uint32_t RESOURCE_VERSION = 16;
const uint32_t RESOURCE_MANIFEST = 24;

// An icon as resources hold it: the group's directory (GRPICONDIR: a
// header, then an entry per image that names the image's resource id) and
// the images by those ids. Empty: no icon.
struct IconGroup {
    std::string directory;
    std::map<uint32_t, std::string> images;
};

// The icon of an .ico file (one that passed icon_problem, or empty: no
// icon): its images with ids 1..n in the file's order.
IconGroup icon_group_of_file(const std::string &ico);

// A whole .rsrc section to be mapped at section_rva: the manifest (type 24,
// id 1) asking for the level, the version resource (type 16, id 1) and, when
// there is an icon, its images (type 3, by their ids) and its directory
// (type 14, id 1), all in language 0. Throws PackError when the version
// resource would exceed its 64 KiB.
std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const IconGroup &icon,
                                  ExecutionLevel level);

// The same with the icon of an .ico file (icon_group_of_file).
std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const std::string &ico,
                                  ExecutionLevel level);

// The data of the resource of this type and numeric id (its first language)
// in a resource section mapped at section_rva, found as the system's loader
// finds it; nullopt when there is none, or when an offset or a size of the
// way to it lies outside the section.
std::optional<std::string> find_resource(const std::string &section, uint32_t section_rva, uint32_t type,
                                         uint32_t id);

// An executable's resource directory: the bytes of its section from where
// the resource data directory points, and that address.
struct ResourceSection {
    std::string bytes;
    uint32_t rva = 0;
};

// The resource directory the resource data directory names; nullopt when it
// has none; throws PackError, naming the file, when it is not a PE image or
// cannot be read.
std::optional<ResourceSection> read_resource_section(const std::filesystem::path &exe);

// The application manifest of an executable: its resource section
// (read_resource_section) searched by find_resource. nullopt when it has no
// resources or no manifest; throws PackError as read_resource_section.
std::optional<std::string> read_manifest(const std::filesystem::path &exe);

// The first icon group of resources, the one Explorer shows for the file
// (the first entry of the group type, named ones before numbered ones, in
// its first language), with the directory's bytes as they are and each
// image it names (in the group's language where there is one). nullopt,
// with *why set to what the file has ("has no icon", ...), when there is
// none or it is damaged: a directory too short for its entries, or an image
// it names that is missing or does not lie inside the section.
std::optional<IconGroup> first_icon_group(const ResourceSection &resources, std::string *why);

// The strings of a version resource's first string table, key to value;
// empty when there is none or the resource does not hold together.
std::map<std::u16string, std::u16string> version_strings(const std::string &resource);

}  // namespace zobrel

#endif
