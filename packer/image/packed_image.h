// packed_image.h: assembles a packed executable from the prebuilt launcher
// image, the payload blob, the product information and the icon.
#ifndef ZOBREL_PACKER_IMAGE_PACKED_IMAGE_H
#define ZOBREL_PACKER_IMAGE_PACKED_IMAGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "build_constants_writer.h"
#include "image/product_info.h"
#include "image/resources.h"

namespace zobrel {

// The prebuilt launchers: for console programs, which shares its console
// with them, and for programs of the Windows (GUI) subsystem, which never has
// a console and shows its errors in a message box.
enum class LauncherSubsystem { console, windows };

// The processors they are built for: 64-bit x86 and ARM64.
enum class LauncherArch { x64, arm64 };

// One launcher image this packer carries (built with it, embedded in it).
struct CarriedLauncher {
    LauncherArch arch;
    LauncherSubsystem subsystem;
    const unsigned char *begin;
    const unsigned char *end;
    const char *name;  // as info shows it: "console", "arm64 windowed"

    std::string image() const;
};

// Every launcher this packer carries, one per processor and subsystem: the
// x64 ones always, the ARM64 ones when it was built with them.
const std::vector<CarriedLauncher> &carried_launchers();

// The one for that processor and subsystem; null when this packer does not
// carry it.
const CarriedLauncher *carried_launcher(LauncherArch arch, LauncherSubsystem subsystem);

// The launcher image of that subsystem and processor. Throws PackError when
// this packer does not carry it.
std::string embedded_launcher_image(LauncherSubsystem subsystem, LauncherArch arch = LauncherArch::x64);

// "x64" or "arm64", as --launcher-arch and info name them.
const char *launcher_arch_name(LauncherArch arch);

// The launchers' processor for an image's machine type: x64 for AMD64 (an
// ARM64EC image declares that too), arm64 for ARM64; none for another.
std::optional<LauncherArch> launcher_arch_of_machine(uint16_t machine);

// The processors whose launchers this packer carries, as --version says it:
// "x64, arm64", or "x64 only (built without ARM64)".
std::string carried_launchers_text();

// The launcher with three sections appended, in this order: the payload
// blob (".zobrel", VirtualSize = its length), the build constants
// (".zobinfo", with the archive's records as its record index) and the
// resources (".rsrc", named by the resource data directory), as pieces to
// write one after another (so the payload is never copied). The checksum
// and every size in the headers agree. Throws PackError if the launcher
// image cannot take the sections. The constants go in as given, with the
// launcher's own stamp (launcher_stamp) in place of theirs; info makes the
// version resource, icon is empty (none) or the icon to carry, and the
// manifest asks for the level.
std::vector<std::string> make_packed_image(const std::string &launcher, std::string blob,
                                           OwnedBuildConstants constants, const ProductInfo &info,
                                           const IconGroup &icon, ExecutionLevel level);

// The pieces joined: the whole image.
std::string joined(const std::vector<std::string> &pieces);

}  // namespace zobrel

#endif
