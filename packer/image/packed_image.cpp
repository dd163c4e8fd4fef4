// packed_image.cpp: the packed executable, from the launcher image and what it carries.
#include "image/packed_image.h"

#include "base/error.h"
#include "build_constants.h"
#include "image/launcher_identity.h"
#include "image/pe_reader.h"
#include "image/pe_writer.h"
#include "image/resources.h"

// The launcher images, placed in this program by image/launcher_image.S.in.
extern "C" const unsigned char zobrel_launcher_image[];
extern "C" const unsigned char zobrel_launcher_image_end[];
extern "C" const unsigned char zobrel_windowed_launcher_image[];
extern "C" const unsigned char zobrel_windowed_launcher_image_end[];
#if ZOBREL_ARM64_LAUNCHERS
extern "C" const unsigned char zobrel_arm64_launcher_image[];
extern "C" const unsigned char zobrel_arm64_launcher_image_end[];
extern "C" const unsigned char zobrel_arm64_windowed_launcher_image[];
extern "C" const unsigned char zobrel_arm64_windowed_launcher_image_end[];
#endif

namespace zobrel {

std::string CarriedLauncher::image() const
{
    return std::string(reinterpret_cast<const char *>(begin), static_cast<size_t>(end - begin));
}

const std::vector<CarriedLauncher> &carried_launchers()
{
    static const std::vector<CarriedLauncher> launchers = {
        {LauncherArch::x64, LauncherSubsystem::console, zobrel_launcher_image, zobrel_launcher_image_end,
         "console"},
        {LauncherArch::x64, LauncherSubsystem::windows, zobrel_windowed_launcher_image,
         zobrel_windowed_launcher_image_end, "windowed"},
#if ZOBREL_ARM64_LAUNCHERS
        {LauncherArch::arm64, LauncherSubsystem::console, zobrel_arm64_launcher_image,
         zobrel_arm64_launcher_image_end, "arm64 console"},
        {LauncherArch::arm64, LauncherSubsystem::windows, zobrel_arm64_windowed_launcher_image,
         zobrel_arm64_windowed_launcher_image_end, "arm64 windowed"},
#endif
    };
    return launchers;
}

const CarriedLauncher *carried_launcher(LauncherArch arch, LauncherSubsystem subsystem)
{
    for (const CarriedLauncher &launcher : carried_launchers()) {
        if (launcher.arch == arch && launcher.subsystem == subsystem) return &launcher;
    }
    return nullptr;
}

std::string embedded_launcher_image(LauncherSubsystem subsystem, LauncherArch arch)
{
    const CarriedLauncher *launcher = carried_launcher(arch, subsystem);
    if (!launcher) {
        throw PackError(std::string("this zobrel-pack carries no ") + launcher_arch_name(arch) +
                        " launcher (it was built without them)");
    }
    return launcher->image();
}

const char *launcher_arch_name(LauncherArch arch)
{
    return arch == LauncherArch::arm64 ? "arm64" : "x64";
}

std::optional<LauncherArch> launcher_arch_of_machine(uint16_t machine)
{
    if (machine == MACHINE_AMD64) return LauncherArch::x64;
    if (machine == MACHINE_ARM64) return LauncherArch::arm64;
    return std::nullopt;
}

std::string carried_launchers_text()
{
    // The table holds each processor's launchers side by side.
    std::string text;
    const char *last = nullptr;
    for (const CarriedLauncher &launcher : carried_launchers()) {
        const char *name = launcher_arch_name(launcher.arch);
        if (name != last) text += std::string(last ? ", " : "") + name;
        last = name;
    }
    return text == "x64" ? "x64 only (built without ARM64)" : text;
}

std::vector<std::string> make_packed_image(const std::string &launcher, std::string blob,
                                           OwnedBuildConstants constants, const ProductInfo &info,
                                           const IconGroup &icon, ExecutionLevel level)
{
    PeWriter writer(launcher);
    writer.append_section(PAYLOAD_SECTION_NAME, std::move(blob), READ_ONLY_DATA_SECTION);
    constants.launcher = launcher_stamp(launcher);
    writer.append_section(CONSTANTS_SECTION_NAME, encode_build_constants(constants), READ_ONLY_DATA_SECTION);
    const uint32_t resources_rva = writer.next_section_rva();
    const std::string resources = make_resource_section(resources_rva, info, icon, level);
    writer.append_section(".rsrc", resources, READ_ONLY_DATA_SECTION);
    writer.set_data_directory(RESOURCE_DIRECTORY, resources_rva, static_cast<uint32_t>(resources.size()));
    return writer.finish();
}

std::string joined(const std::vector<std::string> &pieces)
{
    std::string image;
    for (const std::string &piece : pieces) image += piece;
    return image;
}

}  // namespace zobrel
