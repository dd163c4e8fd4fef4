// info.cpp: gathers a packed executable's settings and prints them.
#include "inspect/info.h"

#include <algorithm>
#include <map>

#include "argument_quoting.h"
#include "base/error.h"
#include "base/host.h"
#include "base/text.h"
#include "build_constants.h"
#include "build_constants_writer.h"
#include "image/launcher_identity.h"
#include "image/packed_image.h"
#include "image/pe_reader.h"
#include "image/resources.h"
#include "inspect/packed_payload.h"
#include "inspect/unpack_folder.h"

namespace fs = std::filesystem;

namespace zobrel {
namespace {

std::string utf8_of(const std::u16string &units)
{
    std::string text;
    utf16_to_utf8(units, text);
    return text;
}

const char *check_name(uint32_t check)
{
    switch (check) {
    case WARM_CHECK_CONTENT:
        return "content";
    case WARM_CHECK_METADATA:
        return "metadata";
    }
    return "unknown";
}

// The fixed arguments: as a list, and as the text they become on the
// command line (before expansion), each quoted as the launcher quotes it.
InfoField arguments_field(const Constants &c)
{
    std::vector<std::string> items;
    std::u16string line;
    for (const std::u16string &argument : c.values.fixed_arguments) {
        items.push_back(utf8_of(argument));
        std::u16string quoted(quoted_argument_length(argument.data(), argument.size(), QUOTE_WHEN_NEEDED) + 1,
                              u'\0');
        size_t length = 0;
        append_quoted_argument(&quoted[0], quoted.size(), &length, argument.data(), argument.size(),
                               QUOTE_WHEN_NEEDED);
        line += (line.empty() ? u"" : u" ") + quoted.substr(0, length);
    }
    return {"arguments", "arguments", items, items.empty() ? "(none)" : utf8_of(line)};
}

// The environment as NAME=VALUE items (an empty value removes the variable).
InfoField environment_field(const Constants &c)
{
    std::vector<std::string> items;
    for (const EnvironmentEntry &e : c.values.environment) items.push_back(utf8_of(e.name + u"=" + e.value));
    return {"environment", "environment", items};
}

// The launcher's processor, from the image's machine type: "x64", "arm64",
// or the machine type in hex for an image no packer made. The text says
// when this packer could not make it (one built without ARM64).
InfoField launcher_arch_field(uint16_t machine)
{
    const std::optional<LauncherArch> arch = launcher_arch_of_machine(machine);
    if (!arch) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%04x", machine);
        return {"launcher arch", "launcher_arch", std::string(hex)};
    }
    const std::string name = launcher_arch_name(*arch);
    if (carried_launcher(*arch, LauncherSubsystem::console)) return {"launcher arch", "launcher_arch", name};
    return {"launcher arch", "launcher_arch", name,
            name + " (this zobrel-pack was built without the " + name + " launchers)"};
}

}  // namespace

std::vector<InfoField> packed_settings(const fs::path &exe)
{
    PeImage image;
    std::string why = read_pe_headers(exe, image);
    if (!why.empty()) throw PackError(quoted(exe) + " is not a packed executable: " + why);
    const Constants c = read_constants(exe);
    if (!c.usable) throw PackError(quoted(exe) + ": " + c.problem);

    std::vector<InfoField> fields;
    const OwnedBuildConstants &v = c.values;
    fields.push_back({"product", "product", utf8_of(v.product)});
    fields.push_back({"company", "company", utf8_of(v.company)});
    fields.push_back({"version key", "version", utf8_of(v.version)});
    fields.push_back({"file version", "file_version", utf8_of(v.file_version)});
    fields.push_back({"product version", "product_version", utf8_of(v.product_version)});
    fields.push_back({"target spec", "target_spec", utf8_of(v.target_spec)});
    fields.push_back(arguments_field(c));
    fields.push_back(environment_field(c));
    fields.push_back({"check", "check", std::string(check_name(v.warm_check))});
    fields.push_back({"subsystem", "subsystem", std::string(subsystem_name(image.subsystem))});
    const std::optional<std::string> manifest = read_manifest(exe);
    const std::string level = manifest ? manifest_execution_level(*manifest) : "";
    fields.push_back({"execution level", "execution_level", level.empty() ? std::string("(none)") : level});
    // How the launcher starts and tidies up goes here, beside the subsystem
    // and the elevation: build retention, progress.
    // How many builds' unpack folders a start leaves, as the launcher reads
    // it (0: not even its own once the program has ended), or "all" when it
    // removes none.
    if (v.keep_builds) {
        fields.push_back(
            {"keep builds", "keep_builds", uint64_t{*v.keep_builds},
             *v.keep_builds == 0 ? "0 (each start's folder goes once its program has ended)" : ""});
    } else {
        fields.push_back({"keep builds", "keep_builds", std::string("all")});
    }
    // Whether a first start shows its progress, as the launcher reads it, and
    // the message it shows, unexpanded ("" when none).
    fields.push_back({"progress", "progress", v.progress});
    const std::string message = utf8_of(v.progress_message);
    fields.push_back({"progress text", "progress_message", message, message.empty() ? "(none)" : ""});

    const ProductValues values{v.company, v.product, v.version, v.file_version, v.product_version};
    std::u16string program;
    utf8_to_utf16(utf8_path(fs::absolute(exe)), program);
    const UnpackFolder folder =
        unpack_folder(v.target_spec, values, current_user_folders(), windows_full_path(program));
    if (!folder.expands) {
        fields.push_back({"unpack dir", "unpack_dir", std::monostate{},
                          "(none: its launcher cannot expand the target specification)"});
    } else if (folder.path) {
        fields.push_back({"unpack dir", "unpack_dir", utf8_of(*folder.path)});
    } else {
        fields.push_back({"unpack dir", "unpack_dir", std::monostate{},
                          "(for the user who runs it: ask zobrel-pack.exe on Windows)"});
    }
    fields.push_back(
        {"varies per run", "unpack_dir_varies", folder.varies, folder.varies.empty() ? "no" : ""});
    if (c.has_index) {
        uint64_t bytes = 0;
        for (const IndexEntry &e : v.records) bytes += e.size;
        fields.push_back({"main", "main", utf8_of(v.records.front().name)});
        fields.push_back({"files", "files", static_cast<uint64_t>(v.records.size())});
        fields.push_back({"bytes", "bytes", bytes});
    }
    // Which of this zobrel-pack's launchers it was made from (what verify
    // compares its launcher part with), if any.
    const CarriedLauncher *launcher = v.launcher ? carried_launcher_of(*v.launcher) : nullptr;
    if (launcher != nullptr) {
        fields.push_back({"launcher", "launcher", std::string(launcher->name)});
    } else {
        fields.push_back({"launcher", "launcher", std::monostate{}, "(not one this zobrel-pack carries)"});
    }
    // What Explorer shows of the file besides the product (--description,
    // --copyright), from its version resource; "" when it has none.
    const std::optional<ResourceSection> resources = read_resource_section(exe);
    const std::optional<std::string> version =
        resources ? find_resource(resources->bytes, resources->rva, RESOURCE_VERSION, 1) : std::nullopt;
    std::map<std::u16string, std::u16string> strings;
    if (version) strings = version_strings(*version);
    const std::string description = utf8_of(strings[u"FileDescription"]);
    const std::string copyright = utf8_of(strings[u"LegalCopyright"]);
    fields.push_back({"description", "description", description, description.empty() ? "(none)" : ""});
    fields.push_back({"copyright", "copyright", copyright, copyright.empty() ? "(none)" : ""});
    // Added after the others, as JSON members a later version adds come last.
    fields.push_back(launcher_arch_field(image.machine));
    return fields;
}

std::string json_string(const std::string &utf8)
{
    std::string out = "\"";
    for (unsigned char ch : utf8) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20 || ch == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

namespace {

// "label:" padded to `width`, so that the values line up.
struct TextValue {
    std::FILE *out;
    std::string label;
    int width;
    void line(const std::string &value) const
    {
        std::fprintf(out, "%-*s %s\n", width, label.c_str(), value.c_str());
    }
    void operator()(const std::string &text) const { line(text); }
    void operator()(uint64_t count) const { line(std::to_string(count)); }
    void operator()(bool yes) const { line(yes ? "yes" : "no"); }
    void operator()(std::monostate) const { line("(unknown)"); }
    void operator()(const std::vector<std::string> &items) const
    {
        if (items.empty()) line("(none)");
        for (size_t i = 0; i < items.size(); i++) {
            std::fprintf(out, "%-*s %s\n", width, i == 0 ? label.c_str() : "", items[i].c_str());
        }
    }
};

struct JsonValue {
    std::string operator()(const std::string &text) const { return json_string(text); }
    std::string operator()(uint64_t count) const { return std::to_string(count); }
    std::string operator()(bool yes) const { return yes ? "true" : "false"; }
    std::string operator()(std::monostate) const { return "null"; }
    std::string operator()(const std::vector<std::string> &items) const
    {
        std::string list = "[";
        for (size_t i = 0; i < items.size(); i++) list += (i > 0 ? ", " : "") + json_string(items[i]);
        return list + "]";
    }
};

}  // namespace

void print_settings(const std::vector<InfoField> &fields, bool json, std::FILE *out)
{
    if (!json) {
        size_t width = 0;
        for (const InfoField &f : fields) width = std::max(width, f.label.size() + 1);
        for (const InfoField &f : fields) {
            const TextValue shown{out, f.label + ":", static_cast<int>(width)};
            if (f.text.empty()) {
                std::visit(shown, f.value);
            } else {
                shown.line(f.text);
            }
        }
        return;
    }
    std::fputs("{", out);
    for (size_t i = 0; i < fields.size(); i++) {
        std::fprintf(out, "%s\n  %s: %s", i > 0 ? "," : "", json_string(fields[i].key).c_str(),
                     std::visit(JsonValue{}, fields[i].value).c_str());
    }
    std::fputs("\n}\n", out);
}

}  // namespace zobrel
