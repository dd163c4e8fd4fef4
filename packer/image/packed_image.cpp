// packed_image.cpp: the packed executable, from the launcher image and what it carries.
#include "image/packed_image.h"

#include "build_constants.h"
#include "base/error.h"
#include "image/constants_block.h"
#include "image/launcher_identity.h"
#include "image/pe_writer.h"
#include "image/resources.h"

// The launcher images, placed in this program by image/launcher_image.S.in.
extern "C" const unsigned char zobrel_launcher_image[];
extern "C" const unsigned char zobrel_launcher_image_end[];
extern "C" const unsigned char zobrel_windowed_launcher_image[];
extern "C" const unsigned char zobrel_windowed_launcher_image_end[];

namespace zobrel {

std::string CarriedLauncher::image() const
{
    return std::string(reinterpret_cast<const char *>(begin), static_cast<size_t>(end - begin));
}

const std::vector<CarriedLauncher> &carried_launchers()
{
    static const std::vector<CarriedLauncher> launchers = {
        {"console", LauncherSubsystem::console, zobrel_launcher_image, zobrel_launcher_image_end},
        {"windowed", LauncherSubsystem::windows, zobrel_windowed_launcher_image,
         zobrel_windowed_launcher_image_end},
    };
    return launchers;
}

std::string embedded_launcher_image(LauncherSubsystem subsystem)
{
    for (const CarriedLauncher &launcher : carried_launchers()) {
        if (launcher.subsystem == subsystem) return launcher.image();
    }
    throw PackError("this zobrel-pack carries no such launcher");
}

std::vector<std::string> make_packed_image(const std::string &launcher, std::string blob,
                                           const ProductInfo &info, const std::vector<IndexEntry> &records,
                                           uint32_t warm_check, const IconGroup &icon, ExecutionLevel level,
                                           const ChildCommand &command, uint32_t keep_builds,
                                           const ProgressDisplay &progress)
{
    PeWriter writer(launcher);
    writer.append_section(PAYLOAD_SECTION_NAME, std::move(blob), kReadOnlyDataSection);
    writer.append_section(
        CONSTANTS_SECTION_NAME,
        constants_block(info, records, warm_check, command, keep_builds, progress, launcher_stamp(launcher)),
        kReadOnlyDataSection);
    const uint32_t resources_rva = writer.next_section_rva();
    const std::string resources = make_resource_section(resources_rva, info, icon, level);
    writer.append_section(".rsrc", resources, kReadOnlyDataSection);
    writer.set_data_directory(kResourceDirectory, resources_rva, static_cast<uint32_t>(resources.size()));
    return writer.finish();
}

std::string joined(const std::vector<std::string> &pieces)
{
    std::string image;
    for (const std::string &piece : pieces) image += piece;
    return image;
}

}  // namespace zobrel
