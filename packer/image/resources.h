// resources.h: the resource section of a packed executable: the application
// manifest, the version resource and, when given, the icon.
#ifndef ZOBREL_PACKER_RESOURCES_H
#define ZOBREL_PACKER_RESOURCES_H

#include <cstdint>
#include <filesystem>
#include <string>

#include "image/product_info.h"

namespace zobrel {

// The application manifest: asInvoker, long-path aware, Vista..10, common controls 6.
std::string make_manifest();

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

// A whole .rsrc section to be mapped at section_rva: the manifest (type 24,
// id 1), the version resource (type 16, id 1) and, when ico is not empty,
// each of its images (type 3, ids 1..n) and their group (type 14, id 1), all
// in language 0. The icon must have passed icon_problem.
std::string make_resource_section(uint32_t section_rva, const ProductInfo &info, const std::string &ico);

}  // namespace zobrel

#endif
