// build_info_gen.h: generates the build-info assembly and the resource script of a launcher image.
#ifndef ZOBREL_PACKER_BUILD_INFO_GEN_H
#define ZOBREL_PACKER_BUILD_INFO_GEN_H

#include <cstdint>
#include <filesystem>
#include <string>

namespace zobrel {

struct BuildInfo {
    std::u16string target_spec;
    std::u16string company;
    std::u16string product;
    std::u16string version;
    std::u16string file_version;
    std::u16string product_version;
    uint16_t file_version_parts[4] = {0, 0, 0, 0};
};

// Parses "A.B.C.D", each part a decimal 0..65535. False if text is not that.
bool parse_file_version(const std::string &text, uint16_t parts[4]);

// Assembly defining the eight build-info symbols: the strings as UTF-16 units
// in .rdata, the length as a quad, and the blob file (named relative to the
// assembler's working directory) in a section of its own holding nothing else.
std::string make_build_info_asm(const BuildInfo &info, const std::string &blob_file, uint64_t blob_length);

// The application manifest: asInvoker, long-path aware, Vista..10, common controls 6.
std::string make_manifest();

// A resource script with the manifest (file name manifest_file), the version
// resource, and the icon when icon_file is not empty. Every string is written
// as a wide literal with \x escapes, so any text survives whatever windres
// takes the source's code page to be.
std::string make_resource_script(const BuildInfo &info, const std::string &manifest_file,
                                 const std::string &icon_file);

// Why file is not a usable .ico, or "" when it is.
std::string icon_problem(const std::filesystem::path &file);

}  // namespace zobrel

#endif
