// packed_image.h: assembles a packed executable from the prebuilt launcher
// image, the payload blob, the product information and the icon.
#ifndef ZOBREL_PACKER_PACKED_IMAGE_H
#define ZOBREL_PACKER_PACKED_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "build_constants_writer.h"
#include "image/constants_block.h"
#include "image/product_info.h"
#include "image/resources.h"

namespace zobrel {

// The prebuilt launchers: for console programs, which shares its console
// with them, and for programs of the Windows (GUI) subsystem, which never has
// a console and shows its errors in a message box.
enum class LauncherSubsystem { console, windows };

// A prebuilt launcher this packer carries (built with it, embedded in it).
struct CarriedLauncher {
    const char *name;  // as info shows it: "console", "windowed"
    LauncherSubsystem subsystem;
    const unsigned char *begin;
    const unsigned char *end;

    std::string image() const;
};

// Every launcher this packer carries, one row each.
const std::vector<CarriedLauncher> &carried_launchers();

// The launcher image of that subsystem that this packer carries.
std::string embedded_launcher_image(LauncherSubsystem subsystem);

// The launcher with three sections appended, in this order: the payload
// blob (".zobrel", VirtualSize = its length), the build constants
// (".zobinfo", with the archive's records as its record index) and the
// resources (".rsrc", named by the resource data directory), as pieces to
// write one after another (so the payload is never copied). The checksum
// and every size in the headers agree. Throws PackError if the launcher
// image cannot take the sections. icon is empty (none) or the icon to
// carry; the manifest asks for the level. warm_check, command and
// keep_builds and progress go to the build constants (constants_block), and
// with them the launcher's own stamp (launcher_stamp).
std::vector<std::string> make_packed_image(const std::string &launcher, std::string blob,
                                           const ProductInfo &info, const std::vector<IndexEntry> &records,
                                           uint32_t warm_check, const IconGroup &icon, ExecutionLevel level,
                                           const ChildCommand &command = {}, uint32_t keep_builds = 0,
                                           const ProgressDisplay &progress = {});

// The pieces joined: the whole image.
std::string joined(const std::vector<std::string> &pieces);

}  // namespace zobrel

#endif
