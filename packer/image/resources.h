// resources.h: the resource section of a packed executable: the application
// manifest, the version resource and, when given, the icon.
#ifndef ZOBREL_PACKER_RESOURCES_H
#define ZOBREL_PACKER_RESOURCES_H

#include <cstdint>
#include <filesystem>
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
const uint32_t kResourceIcon = 3;
const uint32_t kResourceGroupIcon = 14;
const uint32_t kResourceVersion = 16;
const uint32_t kResourceManifest = 24;

// A whole .rsrc section to be mapped at section_rva: the manifest (type 24,
// id 1) asking for the level, the version resource (type 16, id 1) and, when
// ico is not empty, each of its images (type 3, ids 1..n) and their group
// (type 14, id 1), all in language 0. The icon must have passed icon_problem.
std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const std::string &ico,
                                  ExecutionLevel level);

// The data of the resource of this type and numeric id (its first language)
// in a resource section mapped at section_rva, found as the system's loader
// finds it; nullopt when there is none, or when an offset or a size of the
// way to it lies outside the section.
std::optional<std::string> find_resource(const std::string &section, uint32_t section_rva, uint32_t type,
                                         uint32_t id);

// The application manifest of an executable: its resource section (the one
// the resource data directory names) read and searched by find_resource.
// nullopt when it has no resources or no manifest; throws PackError, naming
// the file, when it is not a PE image or cannot be read.
std::optional<std::string> read_manifest(const std::filesystem::path &exe);

}  // namespace zobrel

#endif
